// Lock, log line, file helpers, frame head intake and the adapter base's own tables.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Platform.h"
#include "SpineTestAdapter.h"
#include "U_FileUtils.h"
#include "U_FrameHead.h"
#include "U_Lock.h"
#include "U_Log.h"
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>  // last: its macros would rename operations such as PlaySound
#endif

namespace fs = std::filesystem;

namespace {

TEST(SpineLock, ReentrantForItsOwnerAndExclusiveForOthers) {
  TLock Lock;
  EXPECT_EQ(Lock.OwnerThread(), 0u);
  Lock.Enter();
  Lock.Enter();
  EXPECT_EQ(Lock.OwnerThread(), Win::GetCurrentThreadId());
  std::atomic<bool> Entered{false};
  std::thread Other([&] {
    TLockGuard Hold(Lock);
    Entered = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(Entered);
  Lock.Leave();
  EXPECT_EQ(Lock.OwnerThread(), 0u);  // cleared by every Leave
  EXPECT_FALSE(Entered);
  Lock.Leave();
  Other.join();
  EXPECT_TRUE(Entered);
}

TEST(SpineLog, LineFormat) {
  EXPECT_EQ(FormatLogLine({2024, 1, 5, 13, 45, 12, 345}, 1234, 0xABC, "Decoderdll ftSysHead3"),
            "240105-13:45:12:345|1234,00000ABC| Decoderdll ftSysHead3");
  EXPECT_EQ(FormatLogLine({2009, 12, 31, 0, 0, 0, 7}, 8, 0xFFFFFFFF, "关闭流成功"),
            "091231-00:00:00:007|8,FFFFFFFF| 关闭流成功");
}

TEST(SpineLog, WriteLogHandsOneLineToTheDebugOutput) {
  Win::Test::CaptureDebugOutput(true);
  Win::Test::TakeDebugOutput();
  WriteLog("文件头，寻找空闲通道失败;显示画面序号:7", 1);
  const std::string Out = Win::Test::TakeDebugOutput();
  Win::Test::CaptureDebugOutput(false);
  char Ids[32];
  std::snprintf(Ids, sizeof Ids, "|%u,%08X| ", static_cast<unsigned>(Win::GetCurrentProcessId()),
                static_cast<unsigned>(Win::GetCurrentThreadId()));
  EXPECT_EQ(Out.substr(19), std::string(Ids) + "文件头，寻找空闲通道失败;显示画面序号:7\n");
}

class SpineFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("zorv-spine-files-" + std::to_string(Win::GetCurrentProcessId()));
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }
  std::string Write(const std::string& Name, const std::string& Content) {
    const std::string Path = (Dir / Name).string();
    std::ofstream(Path, std::ios::binary) << Content;
    return Path;
  }
  fs::path Dir;
};

TEST_F(SpineFiles, ReadWholeFileInChunks) {
  std::string Data = "stale";
  const std::string Exact = Write("a.bin", std::string(ReadChunkSize, 'a'));
  EXPECT_EQ(FileSizeOf(Exact), 61440);
  EXPECT_EQ(ReadWholeFile(Exact, Data), 1u);
  EXPECT_EQ(Data, std::string(ReadChunkSize, 'a'));
  std::string Big(ReadChunkSize, 'b');
  Big += 'c';
  const std::string OneMore = Write("b.bin", Big);
  EXPECT_EQ(ReadWholeFile(OneMore, Data), 2u);
  EXPECT_EQ(Data, Big);
  EXPECT_EQ(ReadWholeFile(Write("empty.bin", ""), Data), 0u);
  EXPECT_TRUE(Data.empty());
  Data = "stale";
  EXPECT_EQ(ReadWholeFile((Dir / "missing.bin").string(), Data), 0u);
  EXPECT_TRUE(Data.empty());
  EXPECT_EQ(FileSizeOf((Dir / "missing.bin").string()), 0);
  EXPECT_EQ(FileSizeOf(Dir.string()), 0);  // a directory is not a file
}

TEST(SpineBmp, PictureSizeFromTheInformationHeader) {
  std::string Bmp(54, '\0');
  const std::int32_t W = 352, H = -288;
  std::memcpy(&Bmp[18], &W, 4);
  std::memcpy(&Bmp[22], &H, 4);
  std::int32_t Size[2] = {9, 9};
  BmpPictureSize(Bmp, Size);
  EXPECT_EQ(Size[0], 352);
  EXPECT_EQ(Size[1], -288);  // top-down: negative as stored
  BmpPictureSize(Bmp.substr(0, 53), Size);
  EXPECT_EQ(Size[0], 0);
  EXPECT_EQ(Size[1], 0);
}

TEST(SpineFrameHead, DvrTypeNormalisation) {
  const std::uint8_t In[] = {0, 1, 2, 3, 19, 4, 5, 7, 14, 15, 16, 20, 21, 22, 6, 255};
  const std::uint8_t Out[] = {0, 1, 1, 1, 1, 4, 4, 4, 15, 15, 15, 20, 21, 22, 6, 255};
  for (std::size_t i = 0; i < sizeof In; ++i) EXPECT_EQ(NormaliseDvrType(In[i]), Out[i]) << int(In[i]);
}

TEST(SpineFrameHead, H3StampBecomesFrameTime) {
  TFrameHeadH3 H3;
  std::memset(&H3, 0xEE, sizeof H3);
  const std::uint16_t Stamp[8] = {2010, 3, 6, 4, 12, 0, 0, 0};
  std::memcpy(H3.FrameStamp, Stamp, sizeof Stamp);
  H3.Channel = 7;
  H3.DvrType = 19;
  H3.Group = 2;
  H3.HardIndex = 3;
  H3.DecodeMode = 1;
  const TFrameHead Head = FrameHeadFromH3(H3);
  EXPECT_DOUBLE_EQ(Head.FrameTime, 40241.5);
  EXPECT_EQ(Head.Channel, 7u);
  EXPECT_EQ(Head.DvrType, 19);  // normalised later, by the export
  EXPECT_EQ(Head.Group, 2);
  EXPECT_EQ(Head.HardIndex, 3);
  EXPECT_EQ(Head.DecodeMode, 1);
  std::uint16_t OtherWeekday[8] = {2010, 3, 0, 4, 12, 0, 0, 0};
  EXPECT_DOUBLE_EQ(EncodeFrameTime(OtherWeekday), 40241.5);
  const std::uint16_t Epoch[8] = {1899, 12, 0, 30, 6, 0, 0, 0};
  EXPECT_DOUBLE_EQ(EncodeFrameTime(Epoch), 0.25);
  const std::uint16_t Leap[8] = {2000, 2, 0, 29, 0, 0, 0, 500};
  EXPECT_DOUBLE_EQ(EncodeFrameTime(Leap), 36585.0 + 500.0 / 86400000.0);
  const std::uint16_t Bad[8] = {65535, 0, 0, 0, 65535, 65535, 65535, 65535};
  EXPECT_TRUE(std::isfinite(EncodeFrameTime(Bad)));
}

TEST(SpineFrameHead, FrameTypeNames) {
  EXPECT_STREQ(FrameTypeName(1), "文件头");
  EXPECT_STREQ(FrameTypeName(7), "Audio帧");
  EXPECT_STREQ(FrameTypeName(0), "error帧");
}

TEST(SpineBase, TablesAndPauses) {
  TTestAdapter Adapter(1);
  // Fresh: no channel has a player; the load resets the tables.
  EXPECT_EQ(Adapter.PlayerOf(MakeHead(0, 0, 1, 1)), -1);
  EXPECT_EQ(Adapter.InitDecoder(0, ""), 0);
  EXPECT_EQ(Adapter.State(), 2);
  EXPECT_EQ(Adapter.FreeEntries(), 500);
  EXPECT_EQ(Adapter.InitDecoder(0, ""), 0);  // loaded: nothing changes
  EXPECT_EQ(Adapter.Count("InitDecoder"), 1);

  TFrameHead Head = MakeHead(2, 5, 1, 1);
  std::int32_t Player = -1;
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Adapter.GetFreePlayer(Head, Player), 0);
  EXPECT_EQ(Player, 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 500u);
  EXPECT_EQ(Adapter.PlayerOf(Head), 0);
  EXPECT_EQ(Adapter.PlayerAt(0).Port, 0);
  EXPECT_EQ(Adapter.PlayerAt(0).Channel, 5u);
  TPlayerInfo Info;
  Info.Port = -7;
  Adapter.GetPlayerInfo(MakeHead(2, 6, 0, 1), Info);  // no player: untouched
  EXPECT_EQ(Info.Port, -7);
  Adapter.GetPlayerInfo(Head, Info);
  EXPECT_EQ(Info.Port, 0);

  // Closing a channel without a player changes nothing but still pauses 100 ms.
  TFrameHead Other = MakeHead(2, 6, 0, 1);
  const std::uint64_t BeforeClose = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Adapter.TDecodeBase::CloseStream(Other), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - BeforeClose, 100u);
  Adapter.ReleasePlayer(Other);
  EXPECT_EQ(Adapter.PlayerOf(Head), 0);
  EXPECT_EQ(Adapter.FreeEntries(), 499);
  Adapter.ReleasePlayer(Head);
  EXPECT_EQ(Adapter.PlayerOf(Head), -1);
  EXPECT_EQ(Adapter.FreeEntries(), 500);
}

TEST(SpineBase, FullTableFailsAfterThePause) {
  const double Scale = Win::Test::SleepScale();
  Win::Test::SetSleepScale(0);
  TTestAdapter Adapter(1);
  Adapter.InitDecoder(0, "");
  std::int32_t Player = -1;
  for (int i = 0; i < 500; ++i) {
    TFrameHead Head = MakeHead(i / 100, i % 100, 1, 1);
    ASSERT_EQ(Adapter.GetFreePlayer(Head, Player), i);
  }
  Win::Test::CaptureDebugOutput(true);
  Win::Test::TakeDebugOutput();
  TFrameHead Extra = MakeHead(0, 0, 1, 1);
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Adapter.OpenStream(Extra, nullptr), -1);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 500u);
  const std::string Out = Win::Test::TakeDebugOutput();
  Win::Test::CaptureDebugOutput(false);
  EXPECT_NE(Out.find("| 文件头，寻找空闲通道失败;显示画面序号:0"), std::string::npos) << Out;
  Win::Test::SetSleepScale(Scale);
}

// The fixed pauses in real time, once each.
TEST(SpineBase, RealTimePauses) {
  const double Scale = Win::Test::SleepScale();
  Win::Test::SetSleepScale(1.0);
  TTestAdapter Adapter(1);
  Adapter.InitDecoder(0, "");
  TFrameHead Head = MakeHead(0, 0, 1, 1);
  std::int32_t Player = -1;
  auto Start = std::chrono::steady_clock::now();
  Adapter.GetFreePlayer(Head, Player);
  auto Open = std::chrono::steady_clock::now() - Start;
  Start = std::chrono::steady_clock::now();
  Adapter.TDecodeBase::CloseStream(Head);
  auto Close = std::chrono::steady_clock::now() - Start;
  Win::Test::SetSleepScale(Scale);
  EXPECT_GE(Open, std::chrono::milliseconds(495));
  EXPECT_GE(Close, std::chrono::milliseconds(95));
}

TEST(SpineBase, SoundAndCallBackConventions) {
  TTestAdapter Adapter(1);
  Adapter.InitDecoder(0, "");
  TFrameHead Head = MakeHead(0, 1, 1, 1);
  EXPECT_EQ(Adapter.PlaySound(Head), -1);  // no player
  EXPECT_EQ(Adapter.StartCallBack(Head, 5), -1);
  ASSERT_EQ(Adapter.OpenStream(Head, nullptr), 0);
  // No audio: sound is wanted, the vendor is not called.
  EXPECT_EQ(Adapter.PlaySound(Head), 0);
  TPlayerInfo Info;
  Adapter.GetPlayerInfo(Head, Info);
  EXPECT_EQ(Info.SoundState, 1);
  EXPECT_EQ(Adapter.Count("VendorSoundOn"), 0);
  EXPECT_EQ(Adapter.StopSound(Head), 0);
  EXPECT_EQ(Adapter.Count("VendorSoundOff"), 0);
  // With audio: on once, off once.
  Adapter.StreamHasAudio = 1;
  TFrameHead Audio = MakeHead(0, 2, 1, 1);
  ASSERT_EQ(Adapter.OpenStream(Audio, nullptr), 0);
  Adapter.PlaySound(Audio);
  Adapter.PlaySound(Audio);
  EXPECT_EQ(Adapter.Count("VendorSoundOn"), 1);
  Adapter.StopSound(Audio);
  Adapter.StopSound(Audio);
  EXPECT_EQ(Adapter.Count("VendorSoundOff"), 1);
  // A callback starts only when requested (entry state 1).
  EXPECT_EQ(Adapter.StartCallBack(Head, 5), -1);
  EXPECT_EQ(Adapter.StopCallBack(Head), 0);
  EXPECT_EQ(Adapter.Count("VendorCallBackOn"), 0);
}

TEST(SpineGuard, RiskyCallsNeverEscape) {
  int Ran = 0;
  EXPECT_TRUE(GuardedCall([&] { ++Ran; }));
  EXPECT_FALSE(GuardedCall([&] { throw std::runtime_error("vendor"); }));
  EXPECT_FALSE(GuardedCall([&] { EXPECT_TRUE(GuardedCall([&] { ++Ran; })); throw 1; }));
  EXPECT_EQ(Ran, 2);
}

#ifdef _WIN32
// Faults and structured exceptions raised inside a vendor library, on several threads at once;
// informational exceptions (debug output) inside a guarded call pass untouched.
TEST(SpineGuard, FaultsInsideVendorCallsAreSurvived) {
  std::atomic<int> Caught{0}, Completed{0};
  auto Worker = [&] {
    for (int i = 0; i < 200; ++i) {
      int* volatile Null = nullptr;
      Caught += !GuardedCall([&] { *Null = 1; });
      Caught += !GuardedCall([] { RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 0, nullptr); });
      Caught += !GuardedCall([] { RaiseException(0xE05A5254, EXCEPTION_NONCONTINUABLE, 0, nullptr); });
      Completed += GuardedCall([] { OutputDebugStringA("guarded debug line"); });
    }
  };
  std::vector<std::thread> Threads;
  for (int t = 0; t < 4; ++t) Threads.emplace_back(Worker);
  for (std::thread& T : Threads) T.join();
  EXPECT_EQ(Caught, 4 * 200 * 3);
  EXPECT_EQ(Completed, 4 * 200);
}
#endif

}  // namespace
