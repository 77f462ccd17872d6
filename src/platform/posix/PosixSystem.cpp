// Kernel services on POSIX: sleeping, ids, critical sections, debug output, and a wave-out
// device that never opens.
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "Platform.h"
#include "PlatformInternal.h"

namespace Win {

void Detail::SleepReal(double ms) {
  if (ms <= 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}

DWORD GetCurrentProcessId() { return DWORD(::getpid()); }

DWORD GetCurrentThreadId() {
  thread_local const DWORD id = DWORD(::syscall(SYS_gettid));
  return id;
}

static_assert(sizeof(std::recursive_mutex) <= 64 && alignof(std::recursive_mutex) <= 16);

CriticalSection::CriticalSection() { new (storage_) std::recursive_mutex; }
CriticalSection::~CriticalSection() { std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->~recursive_mutex(); }
void CriticalSection::Enter() { std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->lock(); }
void CriticalSection::Leave() { std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->unlock(); }

void OutputDebugStringA(const char* text) { Detail::DebugOutputToSinks(text); }

// No operation of the system opens a wave-out device, so every handle is invalid.
MMRESULT waveOutPrepareHeader(HWAVEOUT, WAVEHDR*, UINT) { return MMSYSERR_INVALHANDLE; }
MMRESULT waveOutWrite(HWAVEOUT, WAVEHDR*, UINT) { return MMSYSERR_INVALHANDLE; }
MMRESULT waveOutUnprepareHeader(HWAVEOUT, WAVEHDR*, UINT) { return MMSYSERR_INVALHANDLE; }
MMRESULT waveOutReset(HWAVEOUT) { return MMSYSERR_INVALHANDLE; }
MMRESULT waveOutClose(HWAVEOUT) { return MMSYSERR_INVALHANDLE; }

}  // namespace Win
