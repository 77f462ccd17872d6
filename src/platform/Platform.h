// The Windows services the system calls, one declaration each, under their Windows names.
// win32/ forwards them to the real API; posix/ emulates them (dlopen, nanosleep, in-memory
// window surfaces, thread message queues, a wave-out device that never opens).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace Win {

using BOOL = int;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using MMRESULT = UINT;
using HMODULE = void*;
using HWND = std::uint32_t;     // window handles are 32-bit values in frame heads
using HDC = std::uintptr_t;
using HWAVEOUT = std::uintptr_t;

constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x00000008;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT MM_WOM_DONE = 0x03BD;
constexpr int COLORONCOLOR = 3;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr UINT MAX_PATH = 260;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;

struct RECT {
  LONG left, top, right, bottom;
};

#pragma pack(push, 1)
struct BITMAPFILEHEADER {
  std::uint16_t bfType;
  std::uint32_t bfSize;
  std::uint16_t bfReserved1;
  std::uint16_t bfReserved2;
  std::uint32_t bfOffBits;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);

struct BITMAPINFOHEADER {
  std::uint32_t biSize;
  std::int32_t biWidth;
  std::int32_t biHeight;
  std::uint16_t biPlanes;
  std::uint16_t biBitCount;
  std::uint32_t biCompression;
  std::uint32_t biSizeImage;
  std::int32_t biXPelsPerMeter;
  std::int32_t biYPelsPerMeter;
  std::uint32_t biClrUsed;
  std::uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  std::uint32_t bmiColors[1];
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
};

struct WAVEHDR {
  char* lpData;
  DWORD dwBufferLength;
  DWORD dwBytesRecorded;
  std::uintptr_t dwUser;
  DWORD dwFlags;
  DWORD dwLoops;
  WAVEHDR* lpNext;
  std::uintptr_t reserved;
};

// Run-time loading. Paths use '\' (or '/') separators; on POSIX a drive-letter path maps below
// the drive root (see DriveRoot). GetProcAddress on POSIX falls back from a decorated name
// ("_Name@8", "?Name@@...") to the plain "Name", since ELF objects cannot export '@' names.
HMODULE LoadLibraryA(const char* path);
HMODULE LoadLibraryExA(const char* path, void* file, DWORD flags);
void* GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);

// Sleep asks for `ms` nominal milliseconds: they are added to the nominal counter and then
// slept, scaled by the test-only factor (1.0 outside tests).
void Sleep(DWORD ms);

DWORD GetCurrentProcessId();
DWORD GetCurrentThreadId();

// Critical section: re-entrant for its owner thread.
class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter();
  void Leave();

 private:
  alignas(16) unsigned char storage_[64];
};

// Files. Every path is a Windows-style path; NativePath gives the host file system's form
// (POSIX: '\' and '/' both separate, a drive-letter path lies below DriveRoot()/<letter>/, and a
// name that does not exist as written is matched without regard to case, as on Windows).
std::string NativePath(const char* path);
std::FILE* FileOpen(const char* path, const char* mode);  // fopen of NativePath(path)
bool FileExists(const char* path);            // an existing file, not a directory
bool FileSize(const char* path, std::uint64_t& size);
DWORD GetTempPathA(DWORD bufferLength, char* buffer);
UINT GetTempFileNameA(const char* dir, const char* prefix, UINT unique, char* tempFileName);
BOOL DeleteFileA(const char* path);

void OutputDebugStringA(const char* text);

// Runs Call(Context) and returns true. On Win32 a structured exception of error severity raised
// inside it (access violation, division by zero, a foreign C++ exception, a library's own error
// code) abandons the call instead of ending the process: false is returned and the frames of the
// abandoned call are not unwound. Elsewhere the call simply runs. Guards risky vendor calls.
bool CallCatchingFaults(void (*call)(void*), void* context);

// Windows and GDI.
BOOL GetWindowRect(HWND wnd, RECT* rect);
HDC GetDC(HWND wnd);
int ReleaseDC(HWND wnd, HDC dc);
int SetStretchBltMode(HDC dc, int mode);
int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info,
                  UINT usage, DWORD rop);
// Processes the calling thread's pending window messages (Application.ProcessMessages).
void ProcessMessages();

// Thread message queues.
BOOL PostThreadMessageA(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL GetMessageA(MSG* msg, HWND wnd, UINT filterMin, UINT filterMax);

// Wave-out.
MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size);
MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, UINT size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size);
MMRESULT waveOutReset(HWAVEOUT device);
MMRESULT waveOutClose(HWAVEOUT device);

// Test and host hooks (not exported from the DLL).
namespace Test {
void SetSleepScale(double scale);         // 0 = do not sleep at all
double SleepScale();
void SetSleepScaleOfThisThread(double scale);  // below 0: back to the process-wide scale
std::uint64_t NominalSleepMs();           // total of all Sleep arguments since start
std::uint64_t NominalSleepMsOfThisThread();
// Debug output capture: while enabled, OutputDebugStringA lines are kept in memory.
void CaptureDebugOutput(bool enable);
std::string TakeDebugOutput();            // captured text, then cleared
// Where debug output lines go besides the capture: "" (nowhere, the default), "stderr",
// "stdout" or a file path (lines appended). Initially taken from ZORV_DEBUG_OUTPUT.
void SetDebugOutputSink(const std::string& sink);
// POSIX: the directory a drive-letter path is mapped below: "c:\Flag.Txt" is
// DriveRoot() + "/c/Flag.Txt". Initially ZORV_DRIVE_ROOT, else $HOME/.zorv/drives, else
// /tmp/zorv-drives. On Win32 drive paths are real and these do nothing.
void SetDriveRoot(const std::string& dir);
std::string DriveRoot();
// Loader journal: while enabled, every LoadLibraryA/LoadLibraryExA that returns a module adds
// "load <path>\n" and every FreeLibrary of such a module "free <path>\n" (path as given).
void RecordLoaderCalls(bool enable);
std::string TakeLoaderCalls();            // recorded lines, then cleared
}  // namespace Test

}  // namespace Win
