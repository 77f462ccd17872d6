// Run-time loading on POSIX: a vendor library keeps its Windows file name (an ELF object named
// e.g. HikPlayM4.dll) and is opened with dlopen.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "Platform.h"
#include "PlatformInternal.h"

namespace Win {

namespace {

std::string ExeDir() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  std::string path(buf, std::size_t(n));
  return path.substr(0, path.rfind('/') + 1);
}

// A symbol found through a module handle must belong to that module itself, as GetProcAddress
// finds only the module's own exports (dlsym would also search its dependencies).
void* OwnSymbol(HMODULE module, const char* name) {
  void* p = ::dlsym(module, name);
  if (!p) return nullptr;
  link_map* map = nullptr;
  Dl_info info{};
  if (::dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map && ::dladdr(p, &info) && info.dli_fname &&
      map->l_name && map->l_name[0] && std::strcmp(info.dli_fname, map->l_name) != 0)
    return nullptr;
  return p;
}

}  // namespace

HMODULE LoadLibraryA(const char* path) {
  if (!path || !*path) return nullptr;
  std::string native = NativePath(path);
  if (native.find('/') == std::string::npos) {
    // A bare file name: the program's directory, then the current directory, then the
    // system's search, as Windows looks for it.
    std::string inExeDir = ExeDir() + native;
    if (::access(inExeDir.c_str(), F_OK) == 0) {
      native = inExeDir;
    } else if (::access(native.c_str(), F_OK) == 0) {
      native = "./" + native;
    }
  }
  HMODULE module = ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
  Detail::NoteLoad(path, module);
  return module;
}

HMODULE LoadLibraryExA(const char* path, void* /*file*/, DWORD /*flags*/) {
  // LOAD_WITH_ALTERED_SEARCH_PATH makes a library's companions load from its own directory;
  // ELF objects get that from their run path ($ORIGIN), so the flag needs nothing more here.
  return LoadLibraryA(path);
}

void* GetProcAddress(HMODULE module, const char* name) {
  if (!module || !name || reinterpret_cast<std::uintptr_t>(name) < 0x10000) return nullptr;
  if (void* p = OwnSymbol(module, name)) return p;
  // ELF objects cannot export names containing '@': fall back from "_Name@8", "Name@8",
  // "@Name@8" and MSVC's "?Name@@..." to the plain "Name".
  std::string n(name);
  if (n.find('@') == std::string::npos) return nullptr;
  std::string plain;
  if (n[0] == '?') {
    plain = n.substr(1, n.find('@') - 1);
  } else {
    std::size_t from = (n[0] == '_' || n[0] == '@') ? 1 : 0;
    std::size_t at = n.find('@', from);
    plain = n.substr(from, at - from);
    if (from == 1 && n[0] == '_')
      if (void* p = OwnSymbol(module, n.substr(0, at).c_str())) return p;  // "_Name"
  }
  if (plain.empty()) return nullptr;
  return OwnSymbol(module, plain.c_str());
}

BOOL FreeLibrary(HMODULE module) {
  if (!module) return 0;
  Detail::NoteFree(module);
  return ::dlclose(module) == 0 ? 1 : 0;
}

}  // namespace Win
