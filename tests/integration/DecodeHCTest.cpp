// DVR type 1 (the Hikvision player) end to end through the exports, against the stand-in
// HikPlayM4.dll: what the library asks of the player library (from its call journal), the
// pictures and snapshots the host gets, sound and callback rules, missing entry points and
// libraries, and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "Platform.h"
#include "StandinClient.h"
#include "ZorvDecoder.h"
#include "ZorvSurface.h"
#include "ZrvStream.h"

namespace {

const std::string kRoot = std::string(ZORV_TESTROOT) + "/";
const std::string kNoResetRoot = std::string(ZORV_TESTROOT) + "-hik-noreset/";
const std::string kNoSyncRoot = std::string(ZORV_TESTROOT) + "-hik-nosync/";
const char* const kHikFile = "PlayDll\\HIK\\HikPlayM4.dll";

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr std::size_t kPictureBytes = kWidth * kHeight * 3 / 2;

struct TDelivery {
  std::uint32_t Channel;
  TDecFrameInfo Info;
  std::vector<std::uint8_t> Picture;
};
std::mutex gLock;
std::vector<TDelivery> gHost;
std::vector<TDelivery> gPlayM4;  // Info.Width/Height from the frame information, Size from the call

void ZORV_STDCALL OnHostPicture(std::uint32_t Channel, TDecFrameInfo Info, const std::uint8_t* Picture) {
  std::lock_guard<std::mutex> Hold(gLock);
  gHost.push_back({Channel, Info, {Picture, Picture + Info.Size}});
}

void ZORV_STDCALL OnPlayM4Picture(std::int32_t Channel, const std::uint8_t* Buffer, std::int32_t Size,
                                  const void* FrameInfo, std::int32_t, std::int32_t) {
  TDecFrameInfo Info{};
  Info.Size = static_cast<std::uint32_t>(Size);
  std::memcpy(&Info.Width, FrameInfo, 8);  // width, height
  std::lock_guard<std::mutex> Hold(gLock);
  gPlayM4.push_back({static_cast<std::uint32_t>(Channel), Info, {Buffer, Buffer + Size}});
}

std::size_t HostCount() {
  std::lock_guard<std::mutex> Hold(gLock);
  return gHost.size();
}

bool WaitFor(const std::function<bool()>& Done, int Ms = 5000) {
  for (int i = 0; i < Ms; ++i) {
    if (Done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return Done();
}

std::vector<std::uint8_t> PatternPicture(int FrameNo) {
  std::vector<std::uint8_t> Yuv(kPictureBytes);
  zrv::DrawPattern(Yuv.data(), kWidth, kHeight, FrameNo);
  return Yuv;
}

std::string TempPath(const std::string& Name) {
  char Dir[Win::MAX_PATH + 1] = {};
  Win::GetTempPathA(Win::MAX_PATH, Dir);
  return std::string(Dir) + Name;
}

class DecodeHC : public testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> Hold(gLock);
      gHost.clear();
      gPlayM4.clear();
    }
    ASSERT_TRUE(Hik.Loaded());
    Hik.Reset();
    Wnd = zorv_surface_create(0, 0, 352, 288);
    ASSERT_NE(Wnd, 0u);
    Win::Test::CaptureDebugOutput(true);
    Win::Test::TakeDebugOutput();
  }
  void TearDown() override {
    Tarn_Decode_ShutDown();
    Hik.Reset();
    zorv_surface_destroy(Wnd);
    Win::Test::CaptureDebugOutput(false);
    Win::Test::SetSleepScale(0.01);
  }
  void Init(const std::string& Dir = kRoot) { ASSERT_EQ(Tarn_Decode_Initialize(0, Dir.c_str(), 1), 0); }

  TFrameHead Head(std::uint8_t FrameType, std::size_t Length, std::uint32_t HeadWnd) const {
    TFrameHead H{};
    H.Channel = Channel;
    H.Wnd = HeadWnd;
    H.DataLen = static_cast<std::uint32_t>(Length);
    H.FrameType = FrameType;
    H.DvrType = 1;
    H.Group = Group;
    return H;
  }
  TFrameHead Head(std::uint8_t FrameType = ZORV_FRAME_P, std::size_t Length = 0) const {
    return Head(FrameType, Length, Wnd);
  }
  zrv::SyntheticStream Stream(int Frames, bool Audio = false) const {
    zrv::StreamParams P;
    P.width = kWidth;
    P.height = kHeight;
    P.audio = Audio;
    return zrv::MakeSyntheticStream(P, Frames);
  }
  std::int32_t OpenWith(const std::vector<std::uint8_t>& FileHead) {
    return Tarn_Decode_AddFrame(Head(ZORV_FRAME_FILEHEAD, FileHead.size()), FileHead.data());
  }
  std::int32_t Feed(const zrv::Frame& F) { return Tarn_Decode_AddFrame(Head(F.frameType, F.bytes.size()), F.bytes.data()); }
  void FeedAll(const zrv::SyntheticStream& S) {
    for (const zrv::Frame& F : S.frames) ASSERT_EQ(Feed(F), 0);
  }
  // Journal lines of the player library from the first line starting with `From` on.
  std::vector<std::string> CallsFrom(const std::string& From) const {
    std::vector<std::string> All = Hik.Calls(), Out;
    bool On = false;
    for (const std::string& L : All) {
      if (!On && L.compare(0, From.size(), From) == 0) On = true;
      if (On) Out.push_back(L);
    }
    return Out;
  }
  std::string W(std::uint32_t Value) const { return std::to_string(Value); }

  StandinClient Hik{kRoot + kHikFile};
  std::uint32_t Wnd = 0;
  std::uint8_t Group = 1;
  std::uint32_t Channel = 7;
};

TEST_F(DecodeHC, FileHeadOpensThePortAndTheStreamPlaysIntoTheWindow) {
  Init();
  zrv::SyntheticStream S = Stream(8);
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  ASSERT_EQ(OpenWith(S.head), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 700u) << "500 ms player allocation + 200 ms after Play";
  EXPECT_EQ(Hik.Calls(), (std::vector<std::string>{
                             "Hik_PlayM4_SetTimerType(0,2,0)", "Hik_PlayM4_SyncToAudio(0,0)",
                             "Hik_PlayM4_OpenStream(0,ptr,40,2097152)", "Hik_PlayM4_SetDisplayBuf(0,25)",
                             "Hik_PlayM4_SetDisplayCallBack(0,ptr)", "Hik_PlayM4_SyncToAudio(0,0)",
                             "Hik_PlayM4_Play(0," + W(Wnd) + ")"}));
  FeedAll(S);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_InputData(0,ptr,"), 8);
  ASSERT_TRUE(WaitFor([&] { return Hik.Query("displayed", 0) == 8; }));
  EXPECT_EQ(Hik.Query("drawn", 0), 8);
  std::vector<std::uint8_t> Pixels(352 * 288 * 3);
  ASSERT_EQ(zorv_surface_read_pixels(Wnd, Pixels.data(), Pixels.size()), static_cast<std::int64_t>(Pixels.size()));
  EXPECT_GT(std::count_if(Pixels.begin(), Pixels.end(), [](std::uint8_t V) { return V > 100; }), 10000)
      << "the window shows the picture";
  EXPECT_EQ(Hik.Query("window", 0), Wnd);

  // A second channel gets the next port.
  Channel = 8;
  ASSERT_EQ(OpenWith(S.head), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_OpenStream(1,ptr,40,2097152)"), 1);

  Channel = 7;
  Hik.ClearJournal();
  Win::Test::TakeDebugOutput();
  const std::uint64_t BeforeClose = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - BeforeClose, 200u);
  EXPECT_EQ(Hik.Calls(), (std::vector<std::string>{"Hik_PlayM4_ResetBuffer(0,1)", "Hik_PlayM4_ResetBuffer(0,2)",
                                                   "Hik_PlayM4_ResetBuffer(0,3)", "Hik_PlayM4_ResetBuffer(0,4)",
                                                   "Hik_PlayM4_Stop(0)", "Hik_PlayM4_CloseStream(0)"}));
  const std::string Log = Win::Test::TakeDebugOutput();
  EXPECT_NE(Log.find("decoderdll 开始关闭流;显示画面序号:7播放器序号:0"), std::string::npos) << Log;
  EXPECT_NE(Log.find("关闭流成功;显示画面序号:7播放器序号:0"), std::string::npos) << Log;
  EXPECT_EQ(Hik.Query("open", 0), 0);
  // The channel is closed: nothing more reaches the library, and a second close fails quietly.
  Hik.ClearJournal();
  EXPECT_EQ(Feed(S.frames[0]), 0);  // dropped: type 1 opens only on a file head
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), -1);
  EXPECT_TRUE(Hik.Calls().empty());
  EXPECT_EQ(Win::Test::TakeDebugOutput().find("开始关闭流"), std::string::npos);
  Channel = 8;
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHC, FileHeadCarryingDataFeedsTheRestAndAWindowlessHeadWaitsForPlay) {
  Init();
  zrv::SyntheticStream S = Stream(3);
  std::vector<std::uint8_t> HeadAndFirst = S.head;
  HeadAndFirst.insert(HeadAndFirst.end(), S.frames[0].bytes.begin(), S.frames[0].bytes.end());
  // Through the PlayM4 layer: port 5 is display channel (group 4, channel 5); no window yet.
  ASSERT_TRUE(PlayM4_OpenStream(5, 1, HeadAndFirst.data(), static_cast<std::uint32_t>(HeadAndFirst.size()), 0));
  EXPECT_EQ(Hik.Count("Hik_PlayM4_Play("), 0);
  EXPECT_EQ(Hik.Calls().back(), "Hik_PlayM4_InputData(0,ptr," + std::to_string(S.frames[0].bytes.size()) + ")");
  EXPECT_EQ(Hik.Query("decoded", 0), 0);  // not playing yet
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  ASSERT_TRUE(PlayM4_Play(5, Wnd));
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 200u);
  EXPECT_EQ(Hik.Calls().back(), "Hik_PlayM4_Play(0," + W(Wnd) + ")");
  ASSERT_TRUE(WaitFor([&] { return Hik.Query("decoded", 0) == 1; }));
  EXPECT_TRUE(PlayM4_CloseStream(5));
}

TEST_F(DecodeHC, HostCallbackGetsRealPicturesAndStartStopDriveThePort) {
  Init();
  zrv::SyntheticStream S = Stream(6);
  ASSERT_EQ(OpenWith(S.head), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &OnHostPicture), 0);
  Hik.ClearJournal();
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  ASSERT_EQ(Feed(S.frames[0]), 0);  // the first data frame starts the callback
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 200u);
  EXPECT_EQ(Hik.Calls(), (std::vector<std::string>{
                             "Hik_PlayM4_ResetBuffer(0,1)", "Hik_PlayM4_ResetBuffer(0,2)",
                             "Hik_PlayM4_ResetBuffer(0,3)", "Hik_PlayM4_ResetBuffer(0,4)", "Hik_PlayM4_Stop(0)",
                             "Hik_PlayM4_SetDecCallBack(0,ptr)", "Hik_PlayM4_Play(0,0)",
                             "Hik_PlayM4_InputData(0,ptr," + std::to_string(S.frames[0].bytes.size()) + ")"}));
  for (std::size_t i = 1; i < S.frames.size(); ++i) ASSERT_EQ(Feed(S.frames[i]), 0);
  ASSERT_TRUE(WaitFor([&] { return HostCount() == 6; }));
  {
    std::lock_guard<std::mutex> Hold(gLock);
    for (std::size_t i = 0; i < gHost.size(); ++i) {
      const TDelivery& D = gHost[i];
      EXPECT_EQ(D.Channel, Channel);
      EXPECT_EQ(D.Info.Size, kPictureBytes);
      EXPECT_EQ(D.Info.Width, static_cast<std::uint32_t>(kWidth));
      EXPECT_EQ(D.Info.Height, static_cast<std::uint32_t>(kHeight));
      EXPECT_EQ(D.Info.FrameKind, 1);
      EXPECT_EQ(D.Info.DvrType, 1);
      EXPECT_TRUE(D.Picture == PatternPicture(static_cast<int>(i))) << "picture " << i;
    }
  }
  EXPECT_EQ(Hik.Query("drawn", 0), 0) << "a port decoding to the callback does not draw";

  Hik.ClearJournal();
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1);  // fixed result
  EXPECT_EQ(Hik.Calls(), (std::vector<std::string>{
                             "Hik_PlayM4_ResetBuffer(0,1)", "Hik_PlayM4_ResetBuffer(0,2)",
                             "Hik_PlayM4_ResetBuffer(0,3)", "Hik_PlayM4_ResetBuffer(0,4)", "Hik_PlayM4_Stop(0)",
                             "Hik_PlayM4_Play(0," + W(Wnd) + ")", "Hik_PlayM4_Fast(0)", "Hik_PlayM4_Fast(0)",
                             "Hik_PlayM4_Fast(0)", "Hik_PlayM4_Fast(0)"}));
  // Stopped: a second stop and the close touch no callback entry point.
  Hik.ClearJournal();
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_Play("), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_Fast("), 0);
}

TEST_F(DecodeHC, PlayM4DecodeCallbackGetsTheLibrarysFrameInformation) {
  Init();
  zrv::SyntheticStream S = Stream(3);
  ASSERT_TRUE(PlayM4_OpenStream(9, 1, S.head.data(), 40, 0));
  ASSERT_TRUE(PlayM4_SetDecCallBack(9, &OnPlayM4Picture));
  for (const zrv::Frame& F : S.frames)
    ASSERT_TRUE(PlayM4_InputData(9, const_cast<std::uint8_t*>(F.bytes.data()), static_cast<std::uint32_t>(F.bytes.size())));
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> Hold(gLock);
    return gPlayM4.size() == 3;
  }));
  std::lock_guard<std::mutex> Hold(gLock);
  EXPECT_EQ(gPlayM4[2].Channel, 9u);
  EXPECT_EQ(gPlayM4[2].Info.Width, static_cast<std::uint32_t>(kWidth));
  EXPECT_EQ(gPlayM4[2].Info.Height, static_cast<std::uint32_t>(kHeight));
  EXPECT_TRUE(gPlayM4[2].Picture == PatternPicture(2));
  EXPECT_TRUE(gHost.empty()) << "no Tarn_Decode_StartCallBack was given";
}

TEST_F(DecodeHC, SnapPictureReturnsABmpOfTheCurrentPicture) {
  Init();
  zrv::SyntheticStream S = Stream(4);
  ASSERT_EQ(OpenWith(S.head), 0);
  FeedAll(S);
  ASSERT_TRUE(WaitFor([&] { return Hik.Query("displayed", 0) == 4; }));
  Hik.SetOption("display.refreshms", 1);  // the player keeps presenting its last picture
  std::vector<std::uint8_t> Memory(200000, 0xEE);
  std::uint8_t* Buffer = Memory.data();
  std::int32_t Size[2] = {0, 0};
  Win::Test::SetSleepScale(1.0);  // the wait runs in real time; it ends with the first picture
  const std::int32_t Bytes = Tarn_Decode_SnapPicture(Head(), Size, &Buffer);
  Win::Test::SetSleepScale(0.01);
  const std::vector<std::uint8_t> Expected = zrv::MakeBmp(PatternPicture(3).data(), kWidth, kHeight);
  ASSERT_EQ(Bytes, static_cast<std::int32_t>(Expected.size()));
  EXPECT_EQ(Size[0], kWidth);
  EXPECT_EQ(Size[1], kHeight);
  EXPECT_TRUE(std::equal(Expected.begin(), Expected.end(), Memory.begin()));
  EXPECT_EQ(Memory[Expected.size()], 0xEE);
  EXPECT_EQ(Hik.Count("Hik_PLayM4_ConvertToBmpFile(ptr," + std::to_string(kPictureBytes) + ",176,144,3,"), 1);

  // To a host file, through the PlayM4 layer's snapshot.
  ASSERT_TRUE(PlayM4_OpenStream(3, 1, S.head.data(), 40, 0));
  ASSERT_TRUE(PlayM4_Play(3, Wnd));
  for (const zrv::Frame& F : S.frames)
    ASSERT_TRUE(PlayM4_InputData(3, const_cast<std::uint8_t*>(F.bytes.data()), static_cast<std::uint32_t>(F.bytes.size())));
  ASSERT_TRUE(WaitFor([&] { return Hik.Query("decoded", 1) == 4; }));
  const std::string File = TempPath("zorv_hc_snap.bmp");
  Win::Test::SetSleepScale(1.0);
  EXPECT_EQ(PlayM4_SnapPicture(3, File.c_str()), 1);
  Win::Test::SetSleepScale(0.01);
  std::vector<std::uint8_t> Written;
  ASSERT_TRUE(zrv::ReadFile(File, Written));
  EXPECT_EQ(Written, Expected);
  Win::DeleteFileA(File.c_str());
  EXPECT_TRUE(PlayM4_CloseStream(3));
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHC, SnapshotsTimeOutWhenNoPictureIsShown) {
  Init();
  zrv::SyntheticStream S = Stream(1);
  ASSERT_EQ(OpenWith(S.head), 0);  // open, but nothing fed: nothing is displayed
  std::vector<std::uint8_t> Memory(1000, 0xEE);
  std::uint8_t* Buffer = Memory.data();
  std::int32_t Size[2] = {5, 5};
  std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Buffer), -1);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 600u) << "300 waits of 2 ms";
  EXPECT_EQ(Memory[0], 0xEE);

  const std::string File = TempPath("zorv_hc_never.bmp");
  Win::DeleteFileA(File.c_str());
  EXPECT_EQ(PlayM4_SnapPicture(4, File.c_str()), 0) << "no stream on that port";
  ASSERT_TRUE(PlayM4_OpenStream(4, 1, S.head.data(), 40, 0));  // open, never played
  Win::Test::SetSleepScale(1.0);
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(PlayM4_SnapPicture(4, File.c_str()), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(600));
  Win::Test::SetSleepScale(0.01);
  EXPECT_FALSE(Win::FileExists(File.c_str()));
  // A late picture does not write the withdrawn request's file.
  ASSERT_TRUE(PlayM4_Play(4, Wnd));
  ASSERT_TRUE(PlayM4_InputData(4, const_cast<std::uint8_t*>(S.frames[0].bytes.data()),
                               static_cast<std::uint32_t>(S.frames[0].bytes.size())));
  ASSERT_TRUE(WaitFor([&] { return Hik.Query("displayed", 1) == 1; }));
  EXPECT_EQ(Hik.Count("Hik_PLayM4_ConvertToBmpFile("), 0);
  EXPECT_FALSE(Win::FileExists(File.c_str()));
  EXPECT_TRUE(PlayM4_CloseStream(4));
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHC, SoundFollowsAudioFramesOnlyOnStreamsWithSound) {
  Init();
  zrv::SyntheticStream WithSound = Stream(3, true);
  ASSERT_EQ(WithSound.head[16], 3);
  ASSERT_EQ(OpenWith(WithSound.head), 0);
  FeedAll(WithSound);  // three audio frames: sound starts at the first, once
  EXPECT_EQ(Hik.Calls("Hik_PlayM4_PlaySound("), std::vector<std::string>{"Hik_PlayM4_PlaySound(0)"});
  EXPECT_EQ(Hik.Query("sound", 0), 1);
  EXPECT_EQ(Tarn_Decode_PlaySound(Head()), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_PlaySound("), 1);
  EXPECT_EQ(Tarn_Decode_StopSound(Head()), 0);
  EXPECT_EQ(Hik.Calls("Hik_PlayM4_StopSound("), std::vector<std::string>{"Hik_PlayM4_StopSound()"});
  EXPECT_EQ(Hik.Query("sound", 0), 0);
  ASSERT_EQ(Feed(WithSound.frames[1]), 0);  // the next audio frame starts it again
  EXPECT_EQ(Hik.Count("Hik_PlayM4_PlaySound("), 2);
  ASSERT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_StopSound("), 2) << "closing stops the sound first";

  Hik.ClearJournal();
  zrv::SyntheticStream Silent = Stream(3, false);
  std::vector<std::uint8_t> SilentHead = Silent.head;
  ASSERT_NE(SilentHead[16], 3);
  ASSERT_EQ(OpenWith(SilentHead), 0);
  FeedAll(WithSound);  // audio frames on a stream whose head says it has no sound
  EXPECT_EQ(Tarn_Decode_PlaySound(Head()), 0);
  EXPECT_EQ(Tarn_Decode_StopSound(Head()), 0);
  EXPECT_EQ(Tarn_Decode_PlaySound(Head()), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_PlaySound("), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_StopSound("), 0);
}

TEST_F(DecodeHC, VendorRefusalsAndFailures) {
  Init();
  zrv::SyntheticStream S = Stream(2);
  // Open refused: the reserved player is freed, so the next open takes player 0 again.
  Hik.Return("Hik_PlayM4_OpenStream", 0, 1);
  EXPECT_EQ(OpenWith(S.head), -1);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_SetDisplayBuf("), 0);
  ASSERT_EQ(OpenWith(S.head), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_OpenStream(0,"), 2);

  // Refused input: dropped after a 1 ms pause, the frame still counts as accepted.
  Hik.Return("Hik_PlayM4_InputData", 0, 1);
  std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Feed(S.frames[0]), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 1u);
  EXPECT_EQ(Hik.Query("pending", 0), 0);

  // A failing stop ends the close early: no success line, the channel stays open.
  Hik.Return("Hik_PlayM4_Stop", 0, 1);
  Hik.ClearJournal();
  Win::Test::TakeDebugOutput();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), -1);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_CloseStream("), 0);
  const std::string Log = Win::Test::TakeDebugOutput();
  EXPECT_NE(Log.find("开始关闭流"), std::string::npos);
  EXPECT_EQ(Log.find("关闭流成功"), std::string::npos);
  EXPECT_EQ(Hik.Query("open", 0), 1);
  ASSERT_EQ(Feed(S.frames[1]), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_InputData(0,"), 1) << "the channel still feeds its port";
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHC, ExceptionAfterTheOpenClosesThePortAgain) {
  Init();
  zrv::SyntheticStream S = Stream(1);
  Hik.Throw("Hik_PlayM4_SetDisplayBuf", 1);
  EXPECT_EQ(OpenWith(S.head), -1);
  EXPECT_EQ(CallsFrom("Hik_PlayM4_SetDisplayBuf("),
            (std::vector<std::string>{"Hik_PlayM4_SetDisplayBuf(0,25)", "Hik_PlayM4_Stop(0)",
                                      "Hik_PlayM4_CloseStream(0)"}));
  EXPECT_EQ(Hik.Query("open", 0), 0);
  // The player number is free again and its port opens.
  ASSERT_EQ(OpenWith(S.head), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_OpenStream(0,"), 2);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHC, MissingResetBufferKeepsTheChannelOpenOnClose) {
  StandinClient NoReset(kNoResetRoot + kHikFile);
  ASSERT_TRUE(NoReset.Loaded());
  NoReset.Reset();
  Init(kNoResetRoot);
  zrv::SyntheticStream S = Stream(2);
  ASSERT_EQ(OpenWith(S.head), 0);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head()), -1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), -1);
  EXPECT_EQ(NoReset.Count("Hik_PlayM4_Stop("), 0);
  EXPECT_EQ(NoReset.Count("Hik_PlayM4_CloseStream("), 0);
  EXPECT_EQ(NoReset.Query("open", 0), 1);
  ASSERT_EQ(Feed(S.frames[0]), 0);
  EXPECT_EQ(NoReset.Count("Hik_PlayM4_InputData(0,"), 1) << "the channel keeps its port";
  // The callback still starts and stops without the buffer reset.
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &OnHostPicture), 0);
  ASSERT_EQ(Feed(S.frames[1]), 0);
  EXPECT_EQ(NoReset.Count("Hik_PlayM4_SetDecCallBack(0,ptr)"), 1);
  Tarn_Decode_ShutDown();
  NoReset.Reset();
}

TEST_F(DecodeHC, OpenWithoutSyncToAudioAndWithoutOpenFile) {
  StandinClient NoSync(kNoSyncRoot + kHikFile);
  ASSERT_TRUE(NoSync.Loaded());
  NoSync.Reset();
  Init(kNoSyncRoot);
  zrv::SyntheticStream S = Stream(1);
  ASSERT_EQ(OpenWith(S.head), 0);
  EXPECT_EQ(NoSync.Calls(), (std::vector<std::string>{
                                "Hik_PlayM4_SetTimerType(0,2,0)", "Hik_PlayM4_OpenStream(0,ptr,40,2097152)",
                                "Hik_PlayM4_SetDisplayBuf(0,25)", "Hik_PlayM4_SetDisplayCallBack(0,ptr)",
                                "Hik_PlayM4_Play(0," + W(Wnd) + ")"}));
  const std::string File = TempPath("zorv_hc_nosync.zrv");
  ASSERT_TRUE(zrv::WriteFile(File, S.FileBytes()));
  EXPECT_EQ(PlayM4_OpenFile(2, 1, File.c_str()), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  Win::DeleteFileA(File.c_str());
  Tarn_Decode_ShutDown();
  NoSync.Reset();
}

TEST_F(DecodeHC, MissingLibraryFailsEveryFrameAndIsRetried) {
  namespace fs = std::filesystem;
  const std::string Dir = TempPath("zorv_hc_root_" + std::to_string(Win::GetCurrentProcessId()) + "/");
  const fs::path NativeDir = fs::path(zrv::NativePath(Dir));
  fs::remove_all(NativeDir);
  fs::create_directories(NativeDir / "PlayDll" / "HIK");
  Init(Dir);
  zrv::SyntheticStream S = Stream(2);
  EXPECT_EQ(OpenWith(S.head), -1);
  EXPECT_EQ(Feed(S.frames[0]), -1);
  EXPECT_EQ(OpenWith(S.head), -1);
  // The library arrives: the next frame loads it.
  fs::copy_file(fs::path(zrv::NativePath(kRoot + kHikFile)), NativeDir / "PlayDll" / "HIK" / "HikPlayM4.dll");
  ASSERT_EQ(OpenWith(S.head), 0);
  {
    StandinClient Copy(Dir + kHikFile);
    ASSERT_TRUE(Copy.Loaded());
    EXPECT_EQ(Copy.Count("Hik_PlayM4_OpenStream(0,ptr,40,2097152)"), 1);
    EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
    Tarn_Decode_ShutDown();
    Copy.Reset();
  }
  std::error_code Ignored;
  fs::remove_all(NativeDir, Ignored);
}

TEST_F(DecodeHC, BadInputFromHostAndLibrary) {
  Init();
  // A file head shorter than the 40-byte stream head: only its own bytes are read, the
  // stream opens and nothing is fed. The bytes after the frame hold a whole stream head whose
  // byte 16 says "sound": an adapter reading past the frame would switch sound on below.
  zrv::SyntheticStream S = Stream(2, true);
  ASSERT_EQ(S.head[16], 3);
  ASSERT_EQ(Tarn_Decode_AddFrame(Head(ZORV_FRAME_FILEHEAD, 16), S.head.data()), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_OpenStream(0,ptr,40,2097152)"), 1);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_InputData("), 0);
  FeedAll(S);  // byte 16 lay beyond the head: the stream counts as silent
  EXPECT_EQ(Hik.Count("Hik_PlayM4_PlaySound("), 0);
  ASSERT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);

  // A head of exactly 40 bytes feeds nothing either.
  Hik.ClearJournal();
  ASSERT_EQ(OpenWith(S.head), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_InputData("), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &OnHostPicture), 0);
  FeedAll(S);
  ASSERT_TRUE(WaitFor([&] { return HostCount() == 2; }));

  // The library reports a picture larger than the buffer it hands over: logged, not delivered.
  Win::Test::TakeDebugOutput();
  EXPECT_EQ(Hik.Fire("decode", 0, 352, 288), 0);
  EXPECT_EQ(HostCount(), 2u);
  const std::string Log = Win::Test::TakeDebugOutput();
  EXPECT_NE(Log.find("| 152064"), std::string::npos) << Log;
  EXPECT_NE(Log.find("| " + std::to_string(kPictureBytes)), std::string::npos) << Log;
  // An empty picture is skipped.
  EXPECT_EQ(Hik.Fire("decode", 0, 1, 1), 0);
  EXPECT_EQ(HostCount(), 2u);
  // Ports the library should not name: nobody owns them, nothing is delivered or written.
  for (std::int64_t Port : {3, 499, 500, -1, 100000}) {
    EXPECT_EQ(Hik.Fire("decode-port", 0, Port), 0);
    EXPECT_EQ(Hik.Fire("display", 0, Port, 1), 0);
  }
  EXPECT_EQ(HostCount(), 2u);
  EXPECT_EQ(Hik.Fire("decode", 0), 0);  // the right port still works
  EXPECT_EQ(HostCount(), 3u);

  // Channels outside the 5 x 100 tables, or without a stream.
  TFrameHead Outside = Head();
  Outside.Channel = 100;
  std::int32_t Size[2] = {};
  std::uint8_t* Buffer = nullptr;
  EXPECT_EQ(Tarn_Decode_SnapPicture(Outside, Size, &Buffer), -1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Outside), -1);
  Outside = Head();
  Outside.Group = 5;
  EXPECT_EQ(Tarn_Decode_AddFrame(Outside, S.head.data()), -1);
  Outside = Head();
  Outside.Channel = 9;
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Outside), -1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHC, FilePlaybackAndPlayControls) {
  Init();
  zrv::SyntheticStream S = Stream(10);
  const std::string File = TempPath("zorv_hc_file.zrv");
  ASSERT_TRUE(zrv::WriteFile(File, S.FileBytes()));
  Hik.SetOption("player.filepace", 0);
  ASSERT_EQ(PlayM4_OpenFile(6, 1, File.c_str()), 1);
  EXPECT_EQ(Hik.Calls(), (std::vector<std::string>{"Hik_PlayM4_OpenFile(0,\"" + File + "\")",
                                                   "Hik_PlayM4_SetDisplayCallBack(0,ptr)"}));
  EXPECT_EQ(PlayM4_GetFileTotalFrames(6), 10);
  ASSERT_TRUE(PlayM4_Play(6, Wnd));
  ASSERT_TRUE(WaitFor([&] { return Hik.Query("decoded", 0) == 10; }));
  EXPECT_EQ(PlayM4_GetCurrentFrameNum(6), 10);
  EXPECT_EQ(PlayM4_GetPlayedFrames(6), 10);
  EXPECT_DOUBLE_EQ(PlayM4_GetPlayPos(6), 1.0);
  EXPECT_EQ(PlayM4_GetPlayedTimeEx(6), 400);  // 10 frames at 25 per second
  EXPECT_EQ(PlayM4_GetFileTime(6), 0);        // whole seconds
  EXPECT_EQ(PlayM4_Pause(6, 1), 1);
  EXPECT_EQ(PlayM4_SetPlayPos(6, 0.5), 1);
  EXPECT_EQ(Hik.Calls("Hik_PlayM4_SetPlayPos("), std::vector<std::string>{"Hik_PlayM4_SetPlayPos(0,0.5)"});
  EXPECT_EQ(PlayM4_GetCurrentFrameNum(6), 5);
  EXPECT_EQ(PlayM4_OneByOne(6), 1);
  ASSERT_TRUE(WaitFor([&] { return Hik.Query("decoded", 0) == 11; }));
  EXPECT_EQ(PlayM4_SetPlayedTimeEx(6, 120), 1);
  EXPECT_EQ(Hik.Calls("Hik_PlayM4_SetPlayedTimeEx("), std::vector<std::string>{"Hik_PlayM4_SetPlayedTimeEx(0,120)"});
  EXPECT_EQ(PlayM4_GetCurrentFrameNum(6), 3);
  EXPECT_EQ(PlayM4_Fast(6), 1);
  EXPECT_EQ(PlayM4_GetCurrentFrameRate(6), 50);
  EXPECT_EQ(PlayM4_Slow(6), 1);
  EXPECT_EQ(PlayM4_Slow(6), 1);
  EXPECT_EQ(PlayM4_GetCurrentFrameRate(6), 12);
  std::int32_t Values[4] = {};
  EXPECT_EQ(PlayM4_SetColor(6, 0, 10, 20, 30, 40), 1);
  EXPECT_EQ(PlayM4_GetColor(6, 0, &Values[0], &Values[1], &Values[2], &Values[3]), 1);
  EXPECT_EQ(Values[3], 40);
  EXPECT_EQ(PlayM4_SetVolume(6, 300), 1);
  EXPECT_EQ(Hik.Query("volume", 0), 300);
  EXPECT_EQ(PlayM4_SetStreamOpenMode(6, 1), 1);
  EXPECT_EQ(PlayM4_CloseFile(6), 1);
  EXPECT_EQ(Hik.Query("file", 0), 0);
  EXPECT_TRUE(PlayM4_CloseStream(6));
  // The player is free again: a missing file opens nothing.
  EXPECT_EQ(PlayM4_OpenFile(6, 1, (File + ".missing").c_str()), 0);
  EXPECT_EQ(PlayM4_GetFileTotalFrames(6), 0);
  Win::DeleteFileA(File.c_str());
}

TEST_F(DecodeHC, FixedPausesInRealTime) {
  Win::Test::SetSleepScale(1.0);
  Init();
  zrv::SyntheticStream S = Stream(1);
  auto Start = std::chrono::steady_clock::now();
  ASSERT_EQ(OpenWith(S.head), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(700));
  Start = std::chrono::steady_clock::now();
  ASSERT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(200));
}

}  // namespace
