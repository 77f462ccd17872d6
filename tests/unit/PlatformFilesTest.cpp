// Paths, files, temporary names and run-time loading through the platform layer.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "Platform.h"

namespace fs = std::filesystem;

namespace {

class ScratchDir {
 public:
  ScratchDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("zorv-platform-" + std::to_string(rd()));
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string str() const { return path_.string(); }
  std::string File(const std::string& name, std::size_t bytes) const {
    fs::path p = path_ / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << std::string(bytes, 'x');
    return p.string();
  }

 private:
  fs::path path_;
};

// Windows writes the number in upper-case hex (Wine in lower case); the emulation as Windows.
#if defined(_WIN32)
const char kHexDigits[] = "0123456789ABCDEFabcdef";
#else
const char kHexDigits[] = "0123456789ABCDEF";
#endif
const char kHexFormat[] = "%X";

// Compares file names as the file system does: without regard to case on Windows.
std::string NameKey(std::string name) {
#if defined(_WIN32)
  for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
#endif
  return name;
}

// The test tree's library, named with mixed separators as a host directory plus a Windows tail.
std::string TestLibPath() { return std::string(ZORV_TESTROOT) + "/PlatformTest\\PlatformTest.dll"; }

}  // namespace

TEST(PlatformFiles, ExistenceAndSizeGiveWindowsStyleFailures) {
  ScratchDir dir;
  const std::string empty = dir.File("sub/empty.bin", 0);
  const std::string full = dir.File("sub/full.bin", 61441);
  std::uint64_t size = 99;

  EXPECT_TRUE(Win::FileExists(empty.c_str()));
  ASSERT_TRUE(Win::FileSize(empty.c_str(), size));
  EXPECT_EQ(size, 0u);
  const std::string mixed = dir.str() + "\\sub/full.bin";
  EXPECT_TRUE(Win::FileExists(mixed.c_str()));
  ASSERT_TRUE(Win::FileSize(mixed.c_str(), size));
  EXPECT_EQ(size, 61441u);

  size = 7;
  const std::string missing = dir.str() + "/sub/missing.bin";
  EXPECT_FALSE(Win::FileExists(missing.c_str()));
  EXPECT_FALSE(Win::FileSize(missing.c_str(), size));
  EXPECT_EQ(size, 7u);
  EXPECT_FALSE(Win::FileExists((dir.str() + "/sub").c_str()));  // a directory is not a file
  EXPECT_FALSE(Win::FileExists(nullptr));
  EXPECT_FALSE(Win::FileExists(""));
  EXPECT_EQ(Win::FileOpen(missing.c_str(), "rb"), nullptr);
  EXPECT_EQ(Win::FileOpen(nullptr, "rb"), nullptr);

  std::FILE* f = Win::FileOpen(mixed.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(Win::DeleteFileA(mixed.c_str()));
  EXPECT_FALSE(Win::FileExists(full.c_str()));
  EXPECT_FALSE(Win::DeleteFileA(mixed.c_str()));
  EXPECT_FALSE(Win::DeleteFileA(nullptr));
}

TEST(PlatformFiles, TempFileNamesAreWindowsNames) {
  char tempDir[Win::MAX_PATH] = {};
  const Win::DWORD n = Win::GetTempPathA(sizeof tempDir, tempDir);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, sizeof tempDir);
  const char last = tempDir[n - 1];
  EXPECT_TRUE(last == '\\' || last == '/') << tempDir;
  char tiny[2] = {};
  EXPECT_EQ(Win::GetTempPathA(sizeof tiny, tiny), n + 1);  // too small: the size it needs

  ScratchDir dir;
  char first[Win::MAX_PATH] = {}, second[Win::MAX_PATH] = {};
  const Win::UINT a = Win::GetTempFileNameA(dir.str().c_str(), "~BMP", 0, first);
  const Win::UINT b = Win::GetTempFileNameA(dir.str().c_str(), "~BMP", 0, second);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_STRNE(first, second);
  for (const char* name : {first, second}) {
    const std::string leaf = fs::path(name).filename().string();
    EXPECT_EQ(leaf.substr(0, 3), "~BM") << leaf;       // only three characters of the prefix
    EXPECT_EQ(leaf.substr(leaf.size() - 4), ".tmp") << leaf;
    const std::string number = leaf.substr(3, leaf.size() - 7);  // hex, 16 bits
    EXPECT_TRUE(!number.empty() && number.size() <= 4 &&
                number.find_first_not_of(kHexDigits) == std::string::npos) << leaf;
    std::uint64_t size = 1;
    ASSERT_TRUE(Win::FileSize(name, size)) << name;  // created, empty
    EXPECT_EQ(size, 0u);
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, kHexFormat, a);
  EXPECT_NE(NameKey(first).find(NameKey(std::string("~BM") + hex + ".tmp")), std::string::npos) << first;

  // A given number only forms the name.
  char given[Win::MAX_PATH] = {};
  EXPECT_EQ(Win::GetTempFileNameA(dir.str().c_str(), "ab", 0x1A2F, given), 0x1A2Fu);
  std::snprintf(hex, sizeof hex, kHexFormat, 0x1A2Fu);
  EXPECT_EQ(NameKey(fs::path(given).filename().string()), NameKey(std::string("ab") + hex + ".tmp"));
  EXPECT_FALSE(Win::FileExists(given));

  char none[Win::MAX_PATH] = {};
  EXPECT_EQ(Win::GetTempFileNameA((dir.str() + "/no/such/dir").c_str(), "~BMP", 0, none), 0u);
  EXPECT_EQ(Win::GetTempFileNameA(nullptr, "~BMP", 0, none), 0u);
}

TEST(PlatformLoader, BadLibrariesGiveNil) {
  ScratchDir dir;
  const std::string empty = dir.File("Empty.dll", 0);
  const std::string junk = dir.File("Junk.dll", 300);
  EXPECT_EQ(Win::LoadLibraryA(empty.c_str()), nullptr);
  EXPECT_EQ(Win::LoadLibraryA(junk.c_str()), nullptr);
  EXPECT_EQ(Win::LoadLibraryA((dir.str() + "\\PlayDll\\HIK\\HikPlayM4.dll").c_str()), nullptr);
  EXPECT_EQ(Win::LoadLibraryExA(dir.str().c_str(), nullptr, Win::LOAD_WITH_ALTERED_SEARCH_PATH), nullptr);
  EXPECT_EQ(Win::LoadLibraryA(nullptr), nullptr);
  EXPECT_EQ(Win::LoadLibraryA(""), nullptr);
  EXPECT_EQ(Win::GetProcAddress(nullptr, "Plain"), nullptr);
  EXPECT_FALSE(Win::FreeLibrary(nullptr));
}

TEST(PlatformLoader, LoadsByMixedSeparatorPathAndBindsByName) {
  Win::HMODULE lib = Win::LoadLibraryExA(TestLibPath().c_str(), nullptr, Win::LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(lib, nullptr) << TestLibPath();
  using PlainFn = int32_t (*)(int32_t);
  auto plain = reinterpret_cast<PlainFn>(Win::GetProcAddress(lib, "Plain"));
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain(20), 41);
  EXPECT_EQ(Win::GetProcAddress(lib, "NotThere"), nullptr);
  EXPECT_EQ(Win::GetProcAddress(lib, nullptr), nullptr);
#if !defined(_WIN32)
  // ELF objects cannot carry '@' names: decorated names fall back to the plain export.
  for (const char* decorated : {"_Plain@4", "Plain@4", "@Plain@4", "?Plain@@YGHH@Z"})
    EXPECT_EQ(reinterpret_cast<PlainFn>(Win::GetProcAddress(lib, decorated)), plain) << decorated;
  EXPECT_EQ(Win::GetProcAddress(lib, "_NotThere@8"), nullptr);
  EXPECT_EQ(Win::GetProcAddress(lib, "?NotThere@@YGXXZ"), nullptr);
  // Only the module's own exports, not those of the libraries it depends on.
  EXPECT_EQ(Win::GetProcAddress(lib, "malloc"), nullptr);
  EXPECT_EQ(Win::GetProcAddress(lib, "zorv_surface_fill"), nullptr);
#endif
  EXPECT_TRUE(Win::FreeLibrary(lib));
}

#if !defined(_WIN32)
TEST(PlatformPaths, WindowsPathsMapToTheHostFileSystem) {
  ScratchDir dir;
  const std::string saved = Win::Test::DriveRoot();
  Win::Test::SetDriveRoot(dir.str());
  EXPECT_EQ(Win::NativePath("c:\\Flag.Txt"), dir.str() + "/c/Flag.Txt");
  EXPECT_EQ(Win::NativePath("C:/Flag.Txt"), dir.str() + "/c/Flag.Txt");
  dir.File("c/Flag.Txt", 2);
  EXPECT_TRUE(Win::FileExists("c:\\Flag.Txt"));
  Win::Test::SetDriveRoot(saved);

  EXPECT_EQ(Win::NativePath("rel\\dir/file.dll"), "rel/dir/file.dll");
  EXPECT_EQ(Win::NativePath("/opt/app/\\SYSTEM\\DH\\VDCDecode.dll"), "/opt/app/SYSTEM/DH/VDCDecode.dll");
  EXPECT_EQ(Win::NativePath(""), "");
  EXPECT_EQ(Win::NativePath(nullptr), "");

  // Names are found without regard to case, as on Windows; a new name keeps its spelling.
  const std::string real = dir.File("PlayDll/HIK/HikPlayM4.dll", 1);
  EXPECT_EQ(Win::NativePath((dir.str() + "\\playdll\\hik\\HIKPLAYM4.DLL").c_str()), real);
  EXPECT_EQ(Win::NativePath((dir.str() + "\\PLAYDLL\\New.bmp").c_str()), dir.str() + "/PlayDll/New.bmp");
}

TEST(PlatformPaths, TempPathFollowsTmpdir) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", "/var/tmp", 1);
  char buf[Win::MAX_PATH];
  EXPECT_EQ(Win::GetTempPathA(sizeof buf, buf), 9u);
  EXPECT_STREQ(buf, "/var/tmp/");
  unsetenv("TMPDIR");
  EXPECT_EQ(Win::GetTempPathA(sizeof buf, buf), 5u);
  EXPECT_STREQ(buf, "/tmp/");
  if (old) setenv("TMPDIR", saved.c_str(), 1);
}
#endif
