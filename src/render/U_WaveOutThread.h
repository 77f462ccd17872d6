// TWaveOutThread: the thread that receives a TWaveOut device's done notifications and
// releases the played buffers. Its message loop ends on WM_QUIT (Quit posts it).
#pragma once

#include <atomic>
#include <thread>

#include "Platform.h"
#include "U_WaveOut.h"

class TWaveOutThread {
 public:
  // Starts the thread; it is ready to receive messages when the constructor returns.
  explicit TWaveOutThread(TWaveOut* WaveOut);
  // Posts WM_QUIT when not done yet and waits for the thread to end.
  ~TWaveOutThread();
  TWaveOutThread(const TWaveOutThread&) = delete;
  TWaveOutThread& operator=(const TWaveOutThread&) = delete;

  Win::DWORD ThreadId() const { return FThreadId.load(); }
  // Posts WM_QUIT to the thread's queue; true when it was posted.
  bool Quit();
  // True once the message loop has ended.
  bool Finished() const { return FFinished.load(); }
  // Messages taken from the queue so far (WM_QUIT not counted).
  long Messages() const { return FMessages.load(); }

 private:
  void Execute();

  TWaveOut* FWaveOut;
  std::atomic<Win::DWORD> FThreadId{0};
  std::atomic<bool> FFinished{false};
  std::atomic<long> FMessages{0};
  std::thread FThread;
};
