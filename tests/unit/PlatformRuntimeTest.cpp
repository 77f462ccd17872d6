// Sleeping, locks, thread message queues, debug output and the closed wave-out device.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "Platform.h"

namespace {

class SleepScale {
 public:
  explicit SleepScale(double scale) : saved_(Win::Test::SleepScale()) { Win::Test::SetSleepScale(scale); }
  ~SleepScale() { Win::Test::SetSleepScale(saved_); }

 private:
  double saved_;
};

double MillisecondsOf(void (*work)()) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(PlatformSleep, CountsNominalTimeAndSleepsScaled) {
  SleepScale scale(0.01);
  const auto total = Win::Test::NominalSleepMs();
  const auto mine = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_LT(MillisecondsOf([] { Win::Sleep(500); }), 400.0);
  std::thread other([] { Win::Sleep(100); });
  other.join();
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - mine, 500u);
  EXPECT_GE(Win::Test::NominalSleepMs() - total, 600u);
}

TEST(PlatformSleep, SleepsInRealTimeAtScaleOne) {
  SleepScale scale(1.0);
  EXPECT_GE(MillisecondsOf([] { Win::Sleep(100); }), 95.0);
}

TEST(PlatformSleep, ThreadScaleOverridesTheProcessScaleForItsThreadOnly) {
  SleepScale scale(0.0);
  Win::Test::SetSleepScaleOfThisThread(1.0);
  double other = -1;
  std::thread([&] { other = MillisecondsOf([] { Win::Sleep(300); }); }).join();
  EXPECT_GE(MillisecondsOf([] { Win::Sleep(100); }), 95.0);
  Win::Test::SetSleepScaleOfThisThread(-1);
  EXPECT_LT(MillisecondsOf([] { Win::Sleep(300); }), 250.0);
  EXPECT_LT(other, 250.0);
}

TEST(PlatformLock, CriticalSectionIsReentrantForItsOwnerOnly) {
  Win::CriticalSection cs;
  std::atomic<bool> otherIn{false};
  cs.Enter();
  cs.Enter();
  cs.Leave();
  std::thread other([&] {
    cs.Enter();
    otherIn = true;
    cs.Leave();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(otherIn.load());  // still held once by this thread
  cs.Leave();
  other.join();
  EXPECT_TRUE(otherIn.load());
}

TEST(PlatformIds, ThreadIdsDifferPerThread) {
  const Win::DWORD mine = Win::GetCurrentThreadId();
  Win::DWORD theirs = 0;
  std::thread([&] { theirs = Win::GetCurrentThreadId(); }).join();
  EXPECT_NE(mine, 0u);
  EXPECT_NE(theirs, mine);
  EXPECT_EQ(Win::GetCurrentThreadId(), mine);
  EXPECT_NE(Win::GetCurrentProcessId(), 0u);
}

TEST(PlatformMessages, ThreadQueueDeliversInOrderUntilQuit) {
  std::atomic<Win::DWORD> workerId{0};
  std::vector<Win::MSG> received;
  Win::BOOL last = 1;
  std::thread worker([&] {
    workerId = Win::GetCurrentThreadId();
    Win::MSG m;
    while ((last = Win::GetMessageA(&m, 0, 0, 0)) > 0) received.push_back(m);
  });
  while (!workerId) std::this_thread::yield();
  // Posted as soon as the thread runs, maybe before it first asks for a message: nothing may be
  // lost, not even WM_QUIT (a wave-out thread is told to quit this way).
  EXPECT_TRUE(Win::PostThreadMessageA(workerId, Win::MM_WOM_DONE, 11, 22));
  EXPECT_TRUE(Win::PostThreadMessageA(workerId, Win::MM_WOM_DONE, 33, 44));
  EXPECT_TRUE(Win::PostThreadMessageA(workerId, 0x0400, 55, 66));
  EXPECT_TRUE(Win::PostThreadMessageA(workerId, Win::WM_QUIT, 0, 0));
  worker.join();
  EXPECT_EQ(last, 0);
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].message, Win::MM_WOM_DONE);
  EXPECT_EQ(received[0].wParam, 11u);
  EXPECT_EQ(received[0].lParam, 22);
  EXPECT_EQ(received[1].wParam, 33u);
  EXPECT_EQ(received[2].message, 0x0400u);
}

TEST(PlatformMessages, FilterAndBadArguments) {
  Win::ProcessMessages();  // gives this thread its queue on Windows
  const Win::DWORD self = Win::GetCurrentThreadId();
  ASSERT_TRUE(Win::PostThreadMessageA(self, 0x0401, 1, 0));
  ASSERT_TRUE(Win::PostThreadMessageA(self, Win::MM_WOM_DONE, 2, 0));
  Win::MSG m;
  EXPECT_EQ(Win::GetMessageA(&m, 0, Win::MM_WOM_DONE, Win::MM_WOM_DONE), 1);
  EXPECT_EQ(m.wParam, 2u);
  EXPECT_EQ(Win::GetMessageA(&m, 0, 0, 0), 1);
  EXPECT_EQ(m.wParam, 1u);
  EXPECT_EQ(Win::GetMessageA(nullptr, 0, 0, 0), -1);

  Win::DWORD finished = 0;
  std::thread([&] { finished = Win::GetCurrentThreadId(); }).join();
  EXPECT_FALSE(Win::PostThreadMessageA(0, Win::WM_QUIT, 0, 0));
  EXPECT_FALSE(Win::PostThreadMessageA(finished, Win::WM_QUIT, 0, 0));
}

TEST(PlatformDebugOutput, LinesAreCapturedAndSentToTheChosenSink) {
  Win::Test::CaptureDebugOutput(true);
  Win::Test::TakeDebugOutput();
  Win::OutputDebugStringA("Decoderdll ftSysHead3");
  Win::OutputDebugStringA("打开流成功 7播放器序号:2");
  Win::OutputDebugStringA(nullptr);
  EXPECT_EQ(Win::Test::TakeDebugOutput(), "Decoderdll ftSysHead3\n打开流成功 7播放器序号:2\n");
  EXPECT_EQ(Win::Test::TakeDebugOutput(), "");

  const auto file = std::filesystem::temp_directory_path() / "zorv-debug-sink.txt";
  std::filesystem::remove(file);
  Win::Test::SetDebugOutputSink(file.string());
  Win::OutputDebugStringA("one");
  Win::OutputDebugStringA("two 释放");
  Win::Test::SetDebugOutputSink("");
  Win::OutputDebugStringA("not in the file");
  std::stringstream text;
  text << std::ifstream(file, std::ios::binary).rdbuf();
  EXPECT_EQ(text.str(), "one\ntwo 释放\n");
  std::filesystem::remove(file);
  Win::Test::TakeDebugOutput();
}

TEST(PlatformWaveOut, AnUnopenedDeviceRefusesEveryCall) {
  Win::WAVEHDR header{};
  EXPECT_NE(Win::waveOutPrepareHeader(0, &header, sizeof header), Win::MMSYSERR_NOERROR);
  EXPECT_NE(Win::waveOutWrite(0, &header, sizeof header), Win::MMSYSERR_NOERROR);
#if !defined(_WIN32)
  EXPECT_NE(Win::waveOutUnprepareHeader(0, &header, sizeof header), Win::MMSYSERR_NOERROR);
#endif  // Windows accepts an unprepared header here
  EXPECT_NE(Win::waveOutReset(0), Win::MMSYSERR_NOERROR);
  EXPECT_NE(Win::waveOutClose(0), Win::MMSYSERR_NOERROR);
}
