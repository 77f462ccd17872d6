#include "U_WaveOutThread.h"

#include <condition_variable>
#include <mutex>

#include "U_DecodeBase.h"
#include "U_Mutex.h"

TWaveOutThread::TWaveOutThread(TWaveOut* WaveOut) : FWaveOut(WaveOut) {
  TMutex Lock;
  std::condition_variable Started;
  FThread = std::thread([this, &Lock, &Started] {
    {
      std::lock_guard<std::mutex> Hold(Lock);
      FThreadId = Win::GetCurrentThreadId();
    }
    Started.notify_one();
    Execute();
  });
  std::unique_lock<std::mutex> Wait(Lock);
  Started.wait(Wait, [this] { return FThreadId.load() != 0; });
}

TWaveOutThread::~TWaveOutThread() {
  if (FThread.joinable()) {
    // The thread may not be in its loop yet: posting retries until it is or it has ended.
    while (!FFinished.load() && !Quit()) Win::Sleep(1);
    FThread.join();
  }
}

bool TWaveOutThread::Quit() {
  return Win::PostThreadMessageA(FThreadId.load(), Win::WM_QUIT, 0, 0) != 0;
}

void TWaveOutThread::Execute() {
  Win::MSG Message{};
  while (Win::GetMessageA(&Message, 0, 0, 0) > 0) {
    ++FMessages;
    if (Message.message != MM_WOM_DONE || !FWaveOut) continue;
    auto* Header = reinterpret_cast<Win::WAVEHDR*>(Message.lParam);
    const auto Device = static_cast<Win::HWAVEOUT>(Message.wParam);
    GuardedCall([&] { FWaveOut->ReleaseDone(Device, Header); });
  }
  FFinished = true;
}
