// DVR type 15 end to end against the stand-in HIE_MP4Play.dll: streams opened from the file head
// frame and played, the pictures the host gets (chroma planes exchanged back to Y, U, V), input
// offered again while the port refuses it, sound, the callback switches, snapshots through the
// display callback, close, libraries or entry points that are missing, and pictures shorter
// than their size says.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "HostPictures.h"
#include "Platform.h"
#include "StandinClient.h"
#include "U_DecodeEngine.h"
#include "ZorvDecoder.h"
#include "ZorvSurface.h"
#include "ZrvStream.h"

namespace {

const std::string kRoot = std::string(ZORV_TESTROOT) + "/";
const std::string kNoResetRoot = std::string(ZORV_TESTROOT) + "-hy-noreset/";
const std::string kNoLibmmdRoot = std::string(ZORV_TESTROOT) + "-hy-nolibmmd/";
std::string HyLibrary(const std::string& Root) { return Root + "PlayDll/HY/HIE_MP4Play.dll"; }

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr std::uint32_t kPictureSize = kWidth * kHeight * 3 / 2;

std::vector<std::string> Repeat(const std::string& Line, int Times) { return std::vector<std::string>(Times, Line); }

std::vector<std::string> Concat(std::vector<std::string> A, const std::vector<std::string>& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

class DecodeHY : public testing::Test {
 protected:
  void SetUp() override {
    HostPictures::Clear();
    Wnd = zorv_surface_create(0, 0, kWidth, kHeight);
    ASSERT_NE(Wnd, 0u);
    zrv::StreamParams Params;
    Params.width = kWidth;
    Params.height = kHeight;
    Params.audio = true;
    Stream = zrv::MakeSyntheticStream(Params, 6);
    Win::Test::CaptureDebugOutput(true);
  }
  void TearDown() override {
    Tarn_Decode_ShutDown();
    for (StandinClient* Client : {&Hy, &HyNoReset})
      if (Client->Loaded()) Client->Reset();
    zorv_surface_destroy(Wnd);
    Win::Test::CaptureDebugOutput(false);
    Win::Test::SetSleepScale(0.01);
  }
  void Init(const std::string& Root = kRoot) {
    ASSERT_EQ(Tarn_Decode_Initialize(0, Root.c_str(), 1), 0);
    ASSERT_TRUE(Hy.Loaded());
    Hy.Reset();
  }
  TFrameHead Head(std::uint8_t FrameType = ZORV_FRAME_P, std::size_t Length = 0, std::uint32_t Window = ~0u) const {
    TFrameHead H{};
    H.Channel = Channel;
    H.Wnd = Window == ~0u ? Wnd : Window;
    H.DataLen = static_cast<std::uint32_t>(Length);
    H.FrameType = FrameType;
    H.DvrType = 15;
    H.Group = Group;
    return H;
  }
  std::int32_t Open(std::uint32_t Window = ~0u) {
    return Tarn_Decode_AddFrame(Head(ZORV_FRAME_FILEHEAD, Stream.head.size(), Window), Stream.head.data());
  }
  std::int32_t Feed(const zrv::Frame& F, std::uint32_t Window = ~0u) {
    return Tarn_Decode_AddFrame(Head(F.frameType, F.bytes.size(), Window), F.bytes.data());
  }
  void FeedAll() {
    for (const zrv::Frame& F : Stream.frames) ASSERT_EQ(Feed(F), 0);
  }
  const zrv::Frame& FirstVideo() const {
    for (const zrv::Frame& F : Stream.frames)
      if (F.frameType != ZORV_FRAME_AUDIO) return F;
    return Stream.frames.front();
  }
  const zrv::Frame& FirstAudio() const {
    for (const zrv::Frame& F : Stream.frames)
      if (F.frameType == ZORV_FRAME_AUDIO) return F;
    return Stream.frames.front();
  }
  TDecodeBase* Adapter() const { return DecodeEngine()->Decoder(15); }
  std::string ChannelText() const { return std::to_string(Channel); }

  std::uint32_t Wnd = 0;
  std::uint8_t Group = 1;
  std::uint32_t Channel = 3;
  zrv::SyntheticStream Stream;
  StandinClient Hy{HyLibrary(kRoot)};
  StandinClient HyNoReset{HyLibrary(kNoResetRoot)};
};

TEST_F(DecodeHY, PlaysTheStreamAndHandsTheHostPicturesInYuvOrder) {
  Init();
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  ASSERT_EQ(Open(), 0);
  const std::string W = std::to_string(Wnd);
  // The whole file head frame opens the port; it plays into the window and speeds up three times.
  EXPECT_EQ(Hy.Calls(), Concat({"MP4Play_OpenStream(0,ptr,40,51200)", "MP4Play_SetDisplayCallBack(0,ptr)",
                                "MP4Play_Play(0," + W + ")"},
                               Repeat("MP4Play_Fast(0)", 3)));
  Hy.ClearJournal();
  FeedAll();
  // The first frame starts the host's callback: the port restarts with its window.
  const std::vector<std::string> Calls = Hy.Calls();
  ASSERT_GE(Calls.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(Calls.begin(), Calls.begin() + 5),
            (std::vector<std::string>{"MP4Play_ResetSourceBuffer(0)", "MP4Play_Stop(0)",
                                      "MP4Play_SetDecCallBack(0,ptr)", "MP4Play_Play(0," + W + ")",
                                      "MP4Play_InputData(0,ptr," + std::to_string(FirstVideo().bytes.size()) + ")"}));
  EXPECT_EQ(Hy.Count("MP4Play_InputData(0,ptr,"), static_cast<int>(Stream.frames.size()));
  EXPECT_EQ(Hy.Count("MP4Play_PlaySound("), 1);

  const auto Expected = PicturesOf(Stream);
  ASSERT_TRUE(HostPictures::WaitForCount(Expected.size()));
  const std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), Expected.size());
  for (std::size_t i = 0; i < Got.size(); ++i) {
    EXPECT_EQ(Got[i].Channel, Channel);
    EXPECT_EQ(Got[i].Info.Size, kPictureSize);
    EXPECT_EQ(Got[i].Info.Width, static_cast<std::uint32_t>(kWidth));
    EXPECT_EQ(Got[i].Info.Height, static_cast<std::uint32_t>(kHeight));
    EXPECT_EQ(Got[i].Info.FrameKind, 1);
    EXPECT_EQ(Got[i].Info.DvrType, 15);
    EXPECT_EQ(Got[i].Bytes, Expected[i]) << "picture " << i;
  }
  EXPECT_TRUE(WaitUntil([&] { return Hy.Query("drawn", 0) > 0; })) << "the port draws into its window";
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHY, WithoutAWindowThePortStillPlaysAndStopCallBackRestartsItWithTheCallersWindow) {
  Init();
  ASSERT_EQ(Open(0), 0);
  EXPECT_EQ(Hy.Calls("MP4Play_Play("), (std::vector<std::string>{"MP4Play_Play(0,0)"}));
  EXPECT_EQ(Hy.Count("MP4Play_Fast(0)"), 3);
  EXPECT_EQ(Hy.Query("playing", 0), 1);

  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  ASSERT_EQ(Feed(FirstVideo(), 0), 0);
  ASSERT_TRUE(HostPictures::WaitForCount(1));
  Hy.ClearJournal();
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head(ZORV_FRAME_P, 0, 0)), -1);
  EXPECT_EQ(Hy.Calls(), Concat({"MP4Play_ResetSourceBuffer(0)", "MP4Play_Stop(0)", "MP4Play_Play(0,0)"},
                               Repeat("MP4Play_Fast(0)", 4)));
  // A second stop finds nothing running.
  Hy.ClearJournal();
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1);
  EXPECT_TRUE(Hy.Calls().empty());
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHY, RefusedInputIsOfferedAgainEvery5MsUpTo100Times) {
  Init();
  ASSERT_EQ(Open(), 0);
  TakeLogMessages();
  Hy.ClearJournal();
  Hy.Return("MP4Play_InputData", 0, 7);
  std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Feed(FirstVideo()), 0);
  EXPECT_EQ(Hy.Count("MP4Play_InputData(0,ptr,"), 8);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 7u * 5);

  Hy.ClearJournal();
  Hy.Return("MP4Play_InputData", 0);
  Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Feed(FirstVideo()), -1);
  EXPECT_EQ(Hy.Count("MP4Play_InputData(0,ptr,"), 100);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 100u * 5);
  EXPECT_TRUE(TakeLogMessages().empty());
  Hy.Unscript("MP4Play_InputData");
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHY, ClosingTheChannelEndsTheOffers) {
  Init();
  ASSERT_EQ(Open(), 0);
  Hy.ClearJournal();
  Hy.SetOption("input.hold", 1);  // the next offer waits for the test, then is refused
  std::int32_t Result = 0;
  std::thread Feeder([&] { Result = Feed(FirstVideo()); });
  ASSERT_TRUE(WaitUntil([&] { return Hy.Query("held") == 1; }));
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  Hy.Fire("release", 0);
  Feeder.join();
  EXPECT_EQ(Result, -1);
  EXPECT_EQ(Hy.Count("MP4Play_InputData("), 1);
}

TEST_F(DecodeHY, AudioFramesStartTheSoundAgainAfterEachStop) {
  Init();
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Feed(FirstAudio()), 0);
  ASSERT_EQ(Feed(FirstAudio()), 0);
  EXPECT_EQ(Hy.Calls("MP4Play_PlaySound("), (std::vector<std::string>{"MP4Play_PlaySound(0)"}));
  EXPECT_EQ(Hy.Query("sound", 0), 1);
  EXPECT_EQ(Tarn_Decode_StopSound(Head()), 0);
  EXPECT_EQ(Hy.Count("MP4Play_StopSound()"), 1);
  EXPECT_EQ(Hy.Query("sound", 0), 0);
  ASSERT_EQ(Feed(FirstAudio()), 0);
  EXPECT_EQ(Hy.Count("MP4Play_PlaySound(0)"), 2);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHY, CloseResetsStopsAndClosesThePortWithItsLogLines) {
  Init();
  ASSERT_EQ(Open(), 0);
  Hy.ClearJournal();
  TakeLogMessages();
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 10u + 100u);
  EXPECT_EQ(Hy.Calls(), (std::vector<std::string>{"MP4Play_ResetSourceBuffer(0)", "MP4Play_StopSound()",
                                                  "MP4Play_SetDisplayCallBack(0,0)", "MP4Play_Stop(0)",
                                                  "MP4Play_CloseStream(0)"}));
  EXPECT_EQ(TakeLogMessages(), (std::vector<std::string>{"Decoderdll 开始关闭流;显示画面序号:3播放器序号:0",
                                                         "Decoderdll 关闭流成功;显示画面序号:3播放器序号:0"}));
  EXPECT_EQ(Hy.Query("open", 0), 0);
  EXPECT_LT(Adapter()->PlayerOf(Head()), 0);
}

TEST_F(DecodeHY, RefusedCloseKeepsTheChannel) {
  Init();
  ASSERT_EQ(Open(), 0);
  Hy.Return("MP4Play_CloseStream", 0, 1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), -1);
  EXPECT_EQ(Adapter()->PlayerOf(Head()), 0);
  EXPECT_EQ(Hy.Query("open", 0), 1);
}

TEST_F(DecodeHY, AnExceptionWhileClosingIsLoggedAndTheCloseCompletes) {
#ifdef _WIN32
  GTEST_SKIP() << "the Win32 stand-in fails with a structured exception, which the vendor call guard does not catch yet";
#endif
  Init();
  Channel = 4;
  ASSERT_EQ(Open(), 0);
  TakeLogMessages();
  Hy.Throw("MP4Play_Stop", 1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_EQ(TakeLogMessages(), (std::vector<std::string>{"Decoderdll 开始关闭流;显示画面序号:4播放器序号:0",
                                                         "Decoderdll 关闭流失败; 显示画面序号:4播放器序号:",
                                                         "Decoderdll 关闭流成功;显示画面序号:4播放器序号:0"}));
  EXPECT_LT(Adapter()->PlayerOf(Head()), 0);
}

TEST_F(DecodeHY, WithoutTheResetEntryPointCloseFailsAndTheChannelStaysOpen) {
  ASSERT_TRUE(HyNoReset.Loaded());
  ASSERT_EQ(Tarn_Decode_Initialize(0, kNoResetRoot.c_str(), 1), 0);
  HyNoReset.Reset();
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head()), -1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), -1);
  EXPECT_EQ(Adapter()->PlayerOf(Head()), 0);
  EXPECT_EQ(HyNoReset.Query("open", 0), 1);
  EXPECT_EQ(HyNoReset.Count("MP4Play_CloseStream("), 0);
}

TEST_F(DecodeHY, AMissingRuntimeLibraryLeavesTheAdapterUnloaded) {
  ASSERT_EQ(Tarn_Decode_Initialize(0, kNoLibmmdRoot.c_str(), 1), 0);
  EXPECT_EQ(Open(), -1);
  EXPECT_EQ(Adapter()->State(), 0);
  EXPECT_LT(Adapter()->PlayerOf(Head()), 0);
}

TEST_F(DecodeHY, ARefusedOpenIsLogged) {
  Init();
  TakeLogMessages();
  Hy.Return("MP4Play_OpenStream", 0, 1);
  EXPECT_EQ(Open(), -1);
  std::vector<std::string> Logs = TakeLogMessages();
  EXPECT_NE(std::find(Logs.begin(), Logs.end(), "文件头，打开流失败;显示画面序号:3播放器序号:0"), Logs.end());
  EXPECT_LT(Adapter()->PlayerOf(Head()), 0);
  EXPECT_EQ(Open(), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHY, AnExceptionWhileOpeningIsLoggedAndLeavesThePortUsable) {
#ifdef _WIN32
  GTEST_SKIP() << "the Win32 stand-in fails with a structured exception, which the vendor call guard does not catch yet";
#endif
  Init();
  TakeLogMessages();
  Hy.Throw("MP4Play_Play", 1);
  EXPECT_EQ(Open(), -1);
  std::vector<std::string> Logs = TakeLogMessages();
  EXPECT_NE(std::find(Logs.begin(), Logs.end(), "文件头，打开流错误;显示画面序号:3播放器序号:0"), Logs.end());
  // The port the library opened before the exception was closed again, so it opens anew.
  EXPECT_EQ(Hy.Query("open", 0), 0);
  EXPECT_EQ(Open(), 0);
  EXPECT_EQ(Adapter()->PlayerOf(Head()), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHY, SnapshotIsTheDisplayedPictureAsBmp) {
  Init();
  Hy.SetOption("display.refreshms", 2);  // an idle port shows its last picture again and again
  ASSERT_EQ(Open(), 0);
  FeedAll();
  const auto Pictures = PicturesOf(Stream);
  ASSERT_TRUE(WaitUntil([&] { return Hy.Query("decoded", 0) == static_cast<std::int64_t>(Pictures.size()); }));
  std::vector<std::uint8_t> Buffer(1 << 20);
  std::uint8_t* Out = Buffer.data();
  std::int32_t Size[2] = {};
  Win::Test::SetSleepScale(1.0);  // the wait gives the port the real 600 ms to show a picture
  const std::int32_t Bytes = Tarn_Decode_SnapPicture(Head(), Size, &Out);
  Win::Test::SetSleepScale(0.01);
  const std::vector<std::uint8_t> Bmp = zrv::MakeBmp(Pictures.back().data(), kWidth, kHeight);
  ASSERT_EQ(Bytes, static_cast<std::int32_t>(Bmp.size()));
  EXPECT_TRUE(std::equal(Bmp.begin(), Bmp.end(), Buffer.begin()));
  EXPECT_EQ(Size[0], kWidth);
  EXPECT_EQ(Size[1], kHeight);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);

  // A port that never showed a picture: -1 after 300 waits of 2 ms.
  ASSERT_EQ(Open(), 0);
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Out), -1);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 600u);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

// A picture shorter than width x height x 3 / 2 is logged and dropped: nothing of it is
// exchanged, nothing past it is touched, and the host does not get it.
TEST_F(DecodeHY, APictureShorterThanItsSizeIsNeverReadOrWrittenPast) {
  Init();
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  ASSERT_EQ(Open(), 0);
  FeedAll();
  const auto Pictures = PicturesOf(Stream);
  ASSERT_TRUE(HostPictures::WaitForCount(Pictures.size()));
  HostPictures::Clear();
  TakeLogMessages();

  for (std::int64_t Short : {std::int64_t{kPictureSize - 1}, std::int64_t{kWidth * kHeight + 10}, std::int64_t{100}}) {
    EXPECT_EQ(FireDecode(Hy, Short), 0) << Short;  // guard and picture untouched
    EXPECT_EQ(TakeLogMessages(), (std::vector<std::string>{std::to_string(kPictureSize), std::to_string(Short)}));
  }
  EXPECT_EQ(HostPictures::Count(), 0u);

  // A whole picture is exchanged in place, within its bytes, and delivered.
  EXPECT_EQ(FireDecode(Hy, 0), 2);
  const std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), 1u);
  EXPECT_NE(std::find(Pictures.begin(), Pictures.end(), Got[0].Bytes), Pictures.end());
  EXPECT_TRUE(TakeLogMessages().empty());
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHY, OperationsWithoutALibraryCallReturnTheirFixedValues) {
  Init();
  ASSERT_EQ(Open(), 0);
  Hy.ClearJournal();
  TFrameHead H = Head();
  TDecodeBase* A = Adapter();
  EXPECT_EQ(A->Play(H), 0);
  EXPECT_EQ(A->Stop(H), 0);
  EXPECT_EQ(A->SetVolume(H, 100), 0);
  EXPECT_EQ(A->OpenFile(H, "x.zrv"), 0);
  EXPECT_EQ(A->Fast(H), 0);
  EXPECT_EQ(A->Pause(H, 1), 0);
  EXPECT_EQ(A->GetPlayPos(H), 0.0);
  EXPECT_EQ(A->GetFileTotalFrames(H), 0);
  EXPECT_EQ(A->SnapPictureToFile(H, "x.bmp"), 0);
  EXPECT_EQ(A->GetColor(H, 0, nullptr, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(A->StartAviRecord(H, 0), -1);
  EXPECT_EQ(Tarn_Decode_RefrushWindow(H), -1);
  EXPECT_EQ(Tarn_Decode_ResetDisplay(H, 0), -1);
  EXPECT_TRUE(Hy.Calls().empty());
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(H), 0);
}

// The pauses of this adapter in real time: offers 5 ms apart and 10 ms before the base close.
TEST_F(DecodeHY, RetryAndClosePausesTakeRealTime) {
  Init();
  ASSERT_EQ(Open(), 0);
  Win::Test::SetSleepScale(1.0);
  Hy.Return("MP4Play_InputData", 0, 4);
  auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(Feed(FirstVideo()), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(4 * 5));
  Start = std::chrono::steady_clock::now();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(10 + 100));
}

}  // namespace
