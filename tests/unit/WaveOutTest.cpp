// TWaveOut and TWaveOutThread: a closed device releases every buffer; the notification thread
// releases played buffers and ends on WM_QUIT.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "U_WaveOut.h"
#include "U_WaveOutThread.h"

namespace {

// A device handle no wave-out device has: every wave-out call on it fails.
class TAttachedWaveOut : public TWaveOut {
 public:
  explicit TAttachedWaveOut(Win::HWAVEOUT Handle) { Attach(Handle); }
};

template <class F>
bool WaitFor(F&& Condition) {
  for (int i = 0; i < 2000; ++i) {
    if (Condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return Condition();
}

TEST(WaveOut, ClosedDeviceReleasesEveryBufferAndCloseIsAtOnceTrue) {
  TWaveOut Out;
  EXPECT_FALSE(Out.Opened());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Out.Write(new std::uint8_t[640](), 640), 0);
  EXPECT_EQ(Out.Write(nullptr, 0), 0);
  EXPECT_EQ(Out.Pending(), 0);
  EXPECT_TRUE(Out.Close());
  EXPECT_TRUE(Out.Close());
}

TEST(WaveOut, BufferTheDeviceRefusesIsReleasedAndNotCounted) {
  TAttachedWaveOut Out(0x7A5E);
  ASSERT_TRUE(Out.Opened());
  EXPECT_EQ(Out.Write(new std::uint8_t[320](), 320), 0);
  EXPECT_EQ(Out.Write(new std::uint8_t[320](), 320), 0);
  EXPECT_EQ(Out.Pending(), 0);
  // Closing a device that cannot close leaves it open.
  EXPECT_FALSE(Out.Close());
  EXPECT_TRUE(Out.Opened());
}

TEST(WaveOut, NewHeaderDescribesTheBufferOnly) {
  auto* Data = new std::uint8_t[100]();
  Win::WAVEHDR* Header = TWaveOut::NewHeader(Data, 100);
  ASSERT_NE(Header, nullptr);
  EXPECT_EQ(Header->lpData, reinterpret_cast<char*>(Data));
  EXPECT_EQ(Header->dwBufferLength, 100u);
  EXPECT_EQ(Header->dwBytesRecorded, 100u);
  EXPECT_EQ(Header->dwFlags, 0u);
  EXPECT_EQ(Header->dwUser, 0u);
  EXPECT_EQ(Header->lpNext, nullptr);
  TWaveOut::ReleaseHeader(Header);
}

TEST(WaveOutThread, ReleasesDoneBuffersIgnoresOtherMessagesAndEndsOnQuit) {
  TWaveOut Out;
  TWaveOutThread Thread(&Out);
  ASSERT_NE(Thread.ThreadId(), 0u);
  EXPECT_TRUE(Win::PostThreadMessageA(Thread.ThreadId(), 0x0400, 1, 2));
  Win::WAVEHDR* Header = TWaveOut::NewHeader(new std::uint8_t[64](), 64);
  EXPECT_TRUE(Win::PostThreadMessageA(Thread.ThreadId(), MM_WOM_DONE, 0x7A5E,
                                      reinterpret_cast<Win::LPARAM>(Header)));
  // A done notification without a header changes nothing.
  EXPECT_TRUE(Win::PostThreadMessageA(Thread.ThreadId(), MM_WOM_DONE, 0x7A5E, 0));
  ASSERT_TRUE(WaitFor([&] { return Thread.Messages() == 3; }));
  EXPECT_EQ(Out.Pending(), -1);  // one buffer counted off that this object never counted in
  EXPECT_FALSE(Thread.Finished());
  EXPECT_TRUE(Thread.Quit());
  EXPECT_TRUE(WaitFor([&] { return Thread.Finished(); }));
}

TEST(WaveOutThread, DestroyedWithoutQuitEndsItsLoop) {
  TWaveOut Out;
  auto Thread = std::make_unique<TWaveOutThread>(&Out);
  Thread.reset();
  SUCCEED();
}

}  // namespace
