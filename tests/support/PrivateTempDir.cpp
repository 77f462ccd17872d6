#include "PrivateTempDir.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "Platform.h"

namespace fs = std::filesystem;

namespace {
void SetVariable(const std::string& Name, const std::string* Value) {
#if defined(_WIN32)
  // The C runtime passes the change on to the process environment GetTempPathA reads.
  _putenv_s(Name.c_str(), Value ? Value->c_str() : "");
#else
  if (Value)
    setenv(Name.c_str(), Value->c_str(), 1);
  else
    unsetenv(Name.c_str());
#endif
}
}  // namespace

TPrivateTempDir::TPrivateTempDir() {
  static std::atomic<int> Serial{0};
  FPath = (fs::temp_directory_path() /
           ("zorv-tmp-" + std::to_string(Win::GetCurrentProcessId()) + "-" + std::to_string(Serial++)))
              .string();
  fs::create_directories(FPath);
#if defined(_WIN32)
  const char* const Names[] = {"TMP", "TEMP"};
#else
  const char* const Names[] = {"TMPDIR"};
#endif
  for (const char* Name : Names) {
    TSaved Saved{Name, false, {}};
    if (const char* Old = std::getenv(Name)) {
      Saved.Had = true;
      Saved.Value = Old;
    }
    FSaved.push_back(Saved);
    SetVariable(Name, &FPath);
  }
}

TPrivateTempDir::~TPrivateTempDir() {
  for (const TSaved& Saved : FSaved) SetVariable(Saved.Name, Saved.Had ? &Saved.Value : nullptr);
  std::error_code Ignored;
  fs::remove_all(FPath, Ignored);
}
