// Test side of a stand-in vendor library (see StandinClient.h).
#include "StandinClient.h"

#include <sstream>

#include "Platform.h"

namespace {
template <typename F>
F Bind(void* module, const char* name) {
  return module ? reinterpret_cast<F>(Win::GetProcAddress(module, name)) : nullptr;
}
}  // namespace

StandinClient::StandinClient(const std::string& path) : module_(Win::LoadLibraryA(path.c_str())) {
  read_ = Bind<Standin_ReadJournal_t>(module_, "Standin_ReadJournal");
  clear_ = Bind<Standin_ClearJournal_t>(module_, "Standin_ClearJournal");
  script_ = Bind<Standin_Script_t>(module_, "Standin_Script");
  option_ = Bind<Standin_SetOption_t>(module_, "Standin_SetOption");
  fire_ = Bind<Standin_Fire_t>(module_, "Standin_Fire");
  query_ = Bind<Standin_Query_t>(module_, "Standin_Query");
  reset_ = Bind<Standin_Reset_t>(module_, "Standin_Reset");
  if (!read_ || !clear_ || !script_ || !option_ || !fire_ || !query_ || !reset_) {
    if (module_) Win::FreeLibrary(module_);
    module_ = nullptr;
  }
}

StandinClient::~StandinClient() {
  if (module_) Win::FreeLibrary(module_);
}

std::string StandinClient::Journal() const {
  if (!read_) return {};
  for (;;) {
    std::int32_t size = read_(nullptr, 0);
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::int32_t again = read_(text.data(), size + 1);
    if (again <= size) {
      text.resize(static_cast<std::size_t>(again));
      return text;
    }
  }
}

std::vector<std::string> StandinClient::Calls(const std::string& prefix) const {
  std::vector<std::string> lines;
  std::istringstream in(Journal());
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  return lines;
}

int StandinClient::Count(const std::string& prefix) const { return static_cast<int>(Calls(prefix).size()); }

void StandinClient::ClearJournal() const {
  if (clear_) clear_();
}
void StandinClient::Return(const char* entry, double value, int count) const {
  if (script_) script_(entry, STANDIN_RETURN, value, count);
}
void StandinClient::Throw(const char* entry, int count) const {
  if (script_) script_(entry, STANDIN_THROW, 0, count);
}
void StandinClient::Fault(const char* entry, int count) const {
  if (script_) script_(entry, STANDIN_FAULT, 0, count);
}
void StandinClient::Hang(const char* entry, int ms, int count) const {
  if (script_) script_(entry, STANDIN_HANG, ms, count);
}
void StandinClient::Unscript(const char* entry) const {
  if (script_) script_(entry, 0, 0, 0);
}
void StandinClient::SetOption(const char* name, std::int64_t value) const {
  if (option_) option_(name, value);
}
std::int64_t StandinClient::Fire(const char* name, std::int64_t port, std::int64_t a, std::int64_t b) const {
  return fire_ ? fire_(name, port, a, b) : -1;
}
std::int64_t StandinClient::Query(const char* name, std::int64_t port) const {
  return query_ ? query_(name, port) : -1;
}
void StandinClient::Reset() const {
  if (reset_) reset_();
}
