// The platform layer on Windows: each service forwards to the real API. Platform.h comes before
// <windows.h> because the Windows headers define several of its constant names as macros.
#include "Platform.h"
#include "PlatformInternal.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "ZorvSurface.h"

namespace Win {

namespace {

::HWND Hwnd(HWND wnd) { return reinterpret_cast<::HWND>(static_cast<std::uintptr_t>(wnd)); }
::HDC Hdc(HDC dc) { return reinterpret_cast<::HDC>(dc); }

static_assert(sizeof(WAVEHDR) == sizeof(::WAVEHDR), "wave header layouts agree");
::LPWAVEHDR Wavehdr(WAVEHDR* h) { return reinterpret_cast<::LPWAVEHDR>(h); }
::HWAVEOUT WaveOut(HWAVEOUT h) { return reinterpret_cast<::HWAVEOUT>(h); }

// Log texts are UTF-8; a debugger on a Chinese-locale system shows code page 936 text.
std::string ToDebuggerCodePage(const char* text) {
  int wide = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (wide <= 0) return text;
  std::wstring w(std::size_t(wide), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text, -1, w.data(), wide);
  int narrow = ::WideCharToMultiByte(936, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (narrow <= 0) return text;
  std::string out(std::size_t(narrow), '\0');
  ::WideCharToMultiByte(936, 0, w.c_str(), -1, out.data(), narrow, nullptr, nullptr);
  out.resize(std::size_t(narrow - 1));
  return out;
}

}  // namespace

HMODULE LoadLibraryA(const char* path) { return LoadLibraryExA(path, nullptr, 0); }

HMODULE LoadLibraryExA(const char* path, void* file, DWORD flags) {
  if (!path || !*path) return nullptr;
  // No message box for a damaged or missing library: the caller gets nil and carries on.
  ::DWORD oldMode = 0;
  ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  HMODULE module = ::LoadLibraryExA(path, static_cast<::HANDLE>(file), flags);
  ::SetThreadErrorMode(oldMode, nullptr);
  Detail::NoteLoad(path, module);
  return module;
}

void* GetProcAddress(HMODULE module, const char* name) {
  if (!module || !name) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<::HMODULE>(module), name));
}

BOOL FreeLibrary(HMODULE module) {
  if (!module) return 0;
  Detail::NoteFree(module);
  return ::FreeLibrary(static_cast<::HMODULE>(module)) ? 1 : 0;
}

void Detail::SleepReal(double ms) { ::Sleep(ms <= 0 ? 0 : DWORD(ms + 0.5)); }

DWORD GetCurrentProcessId() { return ::GetCurrentProcessId(); }
DWORD GetCurrentThreadId() { return ::GetCurrentThreadId(); }

static_assert(sizeof(CRITICAL_SECTION) <= 64);

CriticalSection::CriticalSection() { ::InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
CriticalSection::~CriticalSection() { ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void CriticalSection::Enter() { ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void CriticalSection::Leave() { ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

std::string NativePath(const char* path) { return path ? std::string(path) : std::string(); }

std::FILE* FileOpen(const char* path, const char* mode) {
  if (!path || !*path || !mode) return nullptr;
  return std::fopen(path, mode);
}

bool FileExists(const char* path) {
  if (!path || !*path) return false;
  DWORD a = ::GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileSize(const char* path, std::uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!path || !*path || !::GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  size = (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

DWORD GetTempPathA(DWORD bufferLength, char* buffer) { return ::GetTempPathA(bufferLength, buffer); }

UINT GetTempFileNameA(const char* dir, const char* prefix, UINT unique, char* tempFileName) {
  if (!dir || !tempFileName) return 0;
  return ::GetTempFileNameA(dir, prefix ? prefix : "", unique, tempFileName);
}

BOOL DeleteFileA(const char* path) { return path && ::DeleteFileA(path) ? 1 : 0; }

void OutputDebugStringA(const char* text) {
  if (!text) return;
  ::OutputDebugStringA(ToDebuggerCodePage(text).c_str());
  Detail::DebugOutputToSinks(text);
}

BOOL GetWindowRect(HWND wnd, RECT* rect) {
  if (!rect) return 0;
  ::RECT r;
  if (!::GetWindowRect(Hwnd(wnd), &r)) {
    *rect = RECT{0, 0, 0, 0};
    return 0;
  }
  *rect = RECT{r.left, r.top, r.right, r.bottom};
  return 1;
}

HDC GetDC(HWND wnd) { return reinterpret_cast<HDC>(::GetDC(Hwnd(wnd))); }
int ReleaseDC(HWND wnd, HDC dc) { return ::ReleaseDC(Hwnd(wnd), Hdc(dc)); }
int SetStretchBltMode(HDC dc, int mode) { return ::SetStretchBltMode(Hdc(dc), mode); }

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage,
                  DWORD rop) {
  if (!dc || !info || !bits) return 0;
  int lines = ::StretchDIBits(Hdc(dc), xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth,
                              srcHeight, bits, reinterpret_cast<const ::BITMAPINFO*>(info), usage, rop);
  if (lines == int(GDI_ERROR)) return 0;
  // Count the drawing on the window, as the surface functions do (zorv_surface_draw_count).
  if (lines > 0)
    if (::HWND wnd = ::WindowFromDC(Hdc(dc))) {
      auto n = reinterpret_cast<std::uintptr_t>(::GetPropA(wnd, "ZorvDrawCount"));
      ::SetPropA(wnd, "ZorvDrawCount", reinterpret_cast<::HANDLE>(n + 1));
    }
  return lines;
}

void ProcessMessages() {
  ::MSG m;
  while (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {  // leave it for the thread's own message loop
      ::PostQuitMessage(int(m.wParam));
      break;
    }
    ::TranslateMessage(&m);
    ::DispatchMessageA(&m);
  }
}

// A thread has a message queue only once it has asked for a message; a message posted before
// then is refused by Windows. Retry for a short while when the thread exists, so that a
// WM_QUIT sent right after the thread's start is not lost.
BOOL PostThreadMessageA(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (threadId == 0) return 0;
  for (int tries = 0; tries < 500; ++tries) {
    if (::PostThreadMessageA(threadId, msg, wParam, lParam)) return 1;
    if (::GetLastError() != ERROR_INVALID_THREAD_ID) return 0;
    ::HANDLE thread = ::OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId);
    if (!thread) return 0;
    ::DWORD code = 0;
    bool running = ::GetExitCodeThread(thread, &code) && code == STILL_ACTIVE;
    ::CloseHandle(thread);
    if (!running) return 0;
    ::Sleep(1);
  }
  return 0;
}

BOOL GetMessageA(MSG* msg, HWND wnd, UINT filterMin, UINT filterMax) {
  if (!msg) return -1;
  ::MSG m;
  BOOL r = ::GetMessageA(&m, Hwnd(wnd), filterMin, filterMax);
  if (r == -1) return -1;
  *msg = MSG{HWND(reinterpret_cast<std::uintptr_t>(m.hwnd)), m.message, m.wParam, m.lParam, m.time};
  return r;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size) {
  return ::waveOutPrepareHeader(WaveOut(device), Wavehdr(header), size);
}
MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, UINT size) {
  return ::waveOutWrite(WaveOut(device), Wavehdr(header), size);
}
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size) {
  return ::waveOutUnprepareHeader(WaveOut(device), Wavehdr(header), size);
}
MMRESULT waveOutReset(HWAVEOUT device) { return ::waveOutReset(WaveOut(device)); }
MMRESULT waveOutClose(HWAVEOUT device) { return ::waveOutClose(WaveOut(device)); }

namespace Test {
// Drive-letter paths are real on Windows.
void SetDriveRoot(const std::string&) {}
std::string DriveRoot() { return std::string(); }
}  // namespace Test

}  // namespace Win
