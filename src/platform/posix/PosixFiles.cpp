// Files on POSIX with Windows paths: '\' separators, drive letters below a root directory,
// names matched without regard to case when they do not exist as written, and Windows-style
// temporary file names.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "Platform.h"

namespace Win {

namespace {

std::mutex driveRootLock;
std::string driveRoot;  // empty until first asked for

std::string DefaultDriveRoot() {
  if (const char* env = std::getenv("ZORV_DRIVE_ROOT"); env && *env) return env;
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.zorv/drives";
  return "/tmp/zorv-drives";
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool StatPath(const char* path, struct stat& st) {
  if (!path || !*path) return false;
  return ::stat(NativePath(path).c_str(), &st) == 0;
}

// Finds each missing component of `path` in its directory without regard to case, as Windows
// would; components that match nothing are kept as written (a file about to be created).
std::string ResolveCase(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = path[0] == '/' ? 1 : 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  std::string cur = path[0] == '/' ? "/" : "";
  bool matching = true;
  for (const std::string& part : parts) {
    std::string next = cur + part;
    if (matching && !Exists(next)) {
      matching = false;
      if (DIR* d = ::opendir(cur.empty() ? "." : cur.c_str())) {
        while (dirent* e = ::readdir(d)) {
          if (::strcasecmp(e->d_name, part.c_str()) == 0) {
            next = cur + e->d_name;
            matching = true;
            break;
          }
        }
        ::closedir(d);
      }
    }
    cur = next + "/";
  }
  if (!parts.empty()) cur.pop_back();
  return cur;
}

std::atomic<std::uint32_t> tempCounter{0};

}  // namespace

namespace Test {

void SetDriveRoot(const std::string& dir) {
  std::lock_guard<std::mutex> g(driveRootLock);
  driveRoot = dir;
}

std::string DriveRoot() {
  std::lock_guard<std::mutex> g(driveRootLock);
  if (driveRoot.empty()) driveRoot = DefaultDriveRoot();
  return driveRoot;
}

}  // namespace Test

std::string NativePath(const char* path) {
  if (!path || !*path) return std::string();
  std::string in(path);
  std::string out;
  std::size_t i = 0;
  if (in.size() >= 2 && std::isalpha(static_cast<unsigned char>(in[0])) && in[1] == ':') {
    out = Test::DriveRoot();
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    out += '/';
    out += char(std::tolower(static_cast<unsigned char>(in[0])));
    out += '/';
    i = 2;
    while (i < in.size() && (in[i] == '\\' || in[i] == '/')) ++i;
  }
  for (; i < in.size(); ++i) {
    char c = in[i] == '\\' ? '/' : in[i];
    if (c == '/' && !out.empty() && out.back() == '/') continue;  // "dir\\" + "\SYSTEM"
    out += c;
  }
  if (out.empty() || Exists(out)) return out;
  return ResolveCase(out);
}

std::FILE* FileOpen(const char* path, const char* mode) {
  if (!path || !*path || !mode) return nullptr;
  return std::fopen(NativePath(path).c_str(), mode);
}

bool FileExists(const char* path) {
  struct stat st;
  return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

bool FileSize(const char* path, std::uint64_t& size) {
  struct stat st;
  if (!StatPath(path, st) || S_ISDIR(st.st_mode)) return false;
  size = std::uint64_t(st.st_size);
  return true;
}

DWORD GetTempPathA(DWORD bufferLength, char* buffer) {
  std::string dir = "/tmp";
  if (const char* env = std::getenv("TMPDIR"); env && *env) dir = env;
  if (dir.back() != '/') dir += '/';
  if (!buffer || bufferLength < dir.size() + 1) return DWORD(dir.size() + 1);
  std::memcpy(buffer, dir.c_str(), dir.size() + 1);
  return DWORD(dir.size());
}

UINT GetTempFileNameA(const char* dir, const char* prefix, UINT unique, char* tempFileName) {
  if (!dir || !tempFileName) return 0;
  std::string base(dir);
  if (!base.empty() && base.back() != '\\' && base.back() != '/')
    base += (base.find('\\') != std::string::npos && base.find('/') == std::string::npos) ? '\\' : '/';
  std::string pre = prefix ? std::string(prefix).substr(0, 3) : std::string();
  auto nameFor = [&](UINT n) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", n & 0xFFFFu);
    return base + pre + hex + ".tmp";
  };
  auto give = [&](const std::string& name) {
    if (name.size() >= MAX_PATH) return false;
    std::memcpy(tempFileName, name.c_str(), name.size() + 1);
    return true;
  };
  if (unique != 0) return give(nameFor(unique)) ? unique : 0;

  // As Windows: a number from the clock, then the next one while the name is taken; the file
  // is created empty so that the name stays ours.
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  UINT n = UINT((std::chrono::duration_cast<std::chrono::microseconds>(now).count() ^ ::getpid()) +
                tempCounter.fetch_add(7919)) & 0xFFFFu;
  for (int tries = 0; tries < 0xFFFF; ++tries, n = (n + 1) & 0xFFFFu) {
    if (n == 0) continue;
    std::string name = nameFor(n);
    if (name.size() >= MAX_PATH) return 0;
    int fd = ::open(NativePath(name.c_str()).c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      give(name);
      return n;
    }
    if (errno != EEXIST) return 0;
  }
  return 0;
}

BOOL DeleteFileA(const char* path) {
  struct stat st;
  if (!StatPath(path, st) || S_ISDIR(st.st_mode)) return 0;
  return ::unlink(NativePath(path).c_str()) == 0 ? 1 : 0;
}

}  // namespace Win
