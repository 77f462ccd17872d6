// DVR type 4 through the exports, against the stand-in dhplay.dll and its codec libraries:
// the stream opens on the first data frame, refused input is offered again, pictures reach the
// host with their chroma planes exchanged, snapshots, recording, closing, and what the
// destructor closes and unloads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "HostPictures.h"
#include "Platform.h"
#include "PlayerAdapterTest.h"
#include "StandinClient.h"
#include "U_DecodeEngine.h"
#include "ZorvDecoder.h"
#include "ZrvStream.h"

namespace {

const std::string kBareRoot = std::string(ZORV_TESTROOT) + "-dh-bare/";
const std::string kPartialRoot = std::string(ZORV_TESTROOT) + "-dh-partial/";
const char* const kLibraries[] = {"AmrDll.dll",         "dllh264.dll",      "dllmpeg4.dll",
                                  "dlldeinterlace.dll", "hi_h264dec_w.dll", "dhplay.dll"};

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> Result;
  std::istringstream In(Text);
  for (std::string Line; std::getline(In, Line);) Result.push_back(Line);
  return Result;
}

int CountLogLines(const std::string& Message) {
  const std::vector<std::string> Messages = TakeLogMessages();
  return static_cast<int>(std::count(Messages.begin(), Messages.end(), Message));
}

// The pictures of a stream's frames with their two chroma planes exchanged.
std::vector<std::vector<std::uint8_t>> ExchangedPictures(const zrv::SyntheticStream& S) {
  std::vector<std::vector<std::uint8_t>> Pictures = PicturesOf(S);
  const std::size_t Q = std::size_t(S.params.width) * S.params.height / 4;
  for (auto& Yuv : Pictures) std::swap_ranges(Yuv.begin() + 4 * Q, Yuv.begin() + 5 * Q, Yuv.begin() + 5 * Q);
  return Pictures;
}

std::string TempPath(const std::string& Name) {
  char Dir[Win::MAX_PATH + 1] = {};
  Win::GetTempPathA(Win::MAX_PATH, Dir);
  return std::string(Dir) + Name;
}

int CountSnapTempFiles() {
  int Count = 0;
  std::error_code Error;
  for (const auto& Entry : std::filesystem::directory_iterator(zrv::NativePath(TempPath("")), Error))
    if (Entry.path().filename().string().rfind("~BM", 0) == 0) ++Count;
  return Count;
}

class DecodeDH : public TPlayerAdapterTest {
 protected:
  DecodeDH() : TPlayerAdapterTest("PlayDll/DH/dhplay.dll", 4, 1, 12) {}
  void TearDown() override {
    TPlayerAdapterTest::TearDown();
    Win::Test::RecordLoaderCalls(false);
  }
  // The engine again, over another test tree.
  void Reinit(const std::string& Dir) {
    Tarn_Decode_ShutDown();
    ASSERT_EQ(Tarn_Decode_Initialize(0, Dir.c_str(), 1), 0);
  }
  // Offers the stream head as the channel's first data frame, which opens the stream.
  std::int32_t Open(const zrv::SyntheticStream& S) { return Add(ZORV_FRAME_I, S.head); }
  void FeedFrames(const zrv::SyntheticStream& S) {
    for (const zrv::Frame& F : S.frames) ASSERT_EQ(Add(F.frameType, F.bytes), 0);
  }

  StandinClient& Dh = Library;
};

zrv::SyntheticStream Stream(int Width = 64, int Height = 48, int Frames = 6, bool Audio = false) {
  zrv::StreamParams P;
  P.width = Width;
  P.height = Height;
  P.audio = Audio;
  return zrv::MakeSyntheticStream(P, Frames);
}

TEST_F(DecodeDH, StreamOpensOnTheFirstDataFrameWhichIsNotFedAgain) {
  const zrv::SyntheticStream S = Stream();
  // The file head records the type and opens nothing.
  EXPECT_EQ(Add(ZORV_FRAME_FILEHEAD, S.head), 0);
  EXPECT_EQ(Dh.Count("PLAY_OpenStream("), 0);

  // No window: the port plays all the same, decoding without drawing.
  TFrameHead NoWindow = Head(ZORV_FRAME_I, S.head.size());
  NoWindow.Wnd = 0;
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  ASSERT_EQ(Tarn_Decode_AddFrame(NoWindow, S.head.data()), 0);
  // Only the player allocation pauses: no pause of the open itself.
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 500u);
  EXPECT_EQ(Dh.Calls(), (std::vector<std::string>{"PLAY_OpenStream(0,ptr,40,2097152)", "PLAY_SetDisplayBuf(0,25)",
                                                  "PLAY_Play(0,0)"}));
  EXPECT_EQ(CountLogLines("0xq打开流成功 --显示画面序号：12"), 1);

  FeedFrames(S);
  const std::vector<std::string> Inputs = Dh.Calls("PLAY_InputData(");
  ASSERT_EQ(Inputs.size(), S.frames.size());
  for (std::size_t i = 0; i < Inputs.size(); ++i)
    EXPECT_EQ(Inputs[i], "PLAY_InputData(0,ptr," + std::to_string(S.frames[i].bytes.size()) + ")");
  EXPECT_TRUE(WaitUntil([&] { return Dh.Query("decoded", 0) == 6; }));
  EXPECT_EQ(Dh.Query("bad", 0), 0);

  // A second channel with a window plays into it; audio frames start no sound.
  Channel = 13;
  const zrv::SyntheticStream A = Stream(32, 32, 2, true);
  ASSERT_EQ(Open(A), 0);
  FeedFrames(A);
  EXPECT_EQ(Dh.Calls("PLAY_Play("),
            (std::vector<std::string>{"PLAY_Play(0,0)", "PLAY_Play(1," + std::to_string(Wnd) + ")"}));
  EXPECT_EQ(Dh.Count("PLAY_PlaySound("), 0);
}

TEST_F(DecodeDH, AFailedOpenLeavesNoPortOpen) {
  const zrv::SyntheticStream S = Stream();
  Dh.Return("PLAY_OpenStream", 0, 1);
  EXPECT_EQ(Open(S), -1);
  // A throw after the library opened the port: the port is closed again.
  Dh.Throw("PLAY_SetDisplayBuf", 1);
  EXPECT_EQ(Open(S), -1);
  EXPECT_EQ(Dh.Calls("PLAY_CloseStream("), std::vector<std::string>{"PLAY_CloseStream(0)"});
  EXPECT_EQ(Dh.Query("open", 0), 0);
  // The entry was freed too: the next frame opens the stream on the same port.
  EXPECT_EQ(Open(S), 0);
  EXPECT_EQ(Dh.Calls("PLAY_OpenStream("), std::vector<std::string>(3, "PLAY_OpenStream(0,ptr,40,2097152)"));
  EXPECT_EQ(Dh.Query("open", 0), 1);
}

TEST_F(DecodeDH, RefusedInputIsOfferedAgainUpToAHundredTimes) {
  const zrv::SyntheticStream S = Stream();
  ASSERT_EQ(Open(S), 0);
  Win::Test::TakeDebugOutput();
  const std::string Refusal = "12xq送入数据失败 --显示画面序号：12";

  // Refused twice, then taken.
  Dh.Return("PLAY_InputData", 0, 2);
  std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Add(ZORV_FRAME_I, S.frames[0].bytes), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 10u);
  EXPECT_EQ(Dh.Count("PLAY_InputData("), 3);
  EXPECT_EQ(CountLogLines(Refusal), 2);

  // Refused for good: 100 offers, 100 lines, then -1.
  Dh.ClearJournal();
  Dh.Return("PLAY_InputData", 0);
  Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Add(ZORV_FRAME_P, S.frames[1].bytes), -1);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 500u);
  EXPECT_EQ(Dh.Count("PLAY_InputData("), 100);
  EXPECT_EQ(CountLogLines(Refusal), 100);

  // An input that throws counts as refused.
  Dh.ClearJournal();
  Dh.Unscript("PLAY_InputData");
  Dh.Throw("PLAY_InputData", 1);
  EXPECT_EQ(Add(ZORV_FRAME_P, S.frames[1].bytes), 0);
  EXPECT_EQ(Dh.Count("PLAY_InputData("), 2);
}

// Real time: the 5 ms pause between offers and the 100 ms of the close.
TEST_F(DecodeDH, ClosingTheChannelFromAnotherThreadEndsTheOffers) {
  const zrv::SyntheticStream S = Stream();
  ASSERT_EQ(Open(S), 0);
  Win::Test::SetSleepScale(1.0);
  Dh.Return("PLAY_InputData", 0);
  std::atomic<std::int32_t> Result{1};
  std::atomic<std::int64_t> FeedMs{0};
  std::thread Feeder([&] {
    const auto Start = std::chrono::steady_clock::now();
    Result = Add(ZORV_FRAME_P, S.frames[0].bytes);
    FeedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Start).count();
  });
  ASSERT_TRUE(WaitUntil([&] { return Dh.Count("PLAY_InputData(") >= 3; }));
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  const auto CloseMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Start).count();
  Feeder.join();
  EXPECT_EQ(Result, -1);
  const int Offers = Dh.Count("PLAY_InputData(");
  EXPECT_LT(Offers, 100);
  EXPECT_GE(FeedMs, 5 * (Offers - 1));
  EXPECT_GE(CloseMs, 200);  // 100 ms of the adapter, 100 ms of the player release
  EXPECT_EQ(Dh.Calls("PLAY_CloseStream("), std::vector<std::string>{"PLAY_CloseStream(0)"});
}

TEST_F(DecodeDH, CloseStopsAndClosesThePortWithoutClearingItsBuffers) {
  ASSERT_EQ(Open(Stream()), 0);
  Dh.ClearJournal();
  Win::Test::TakeDebugOutput();
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 200u);
  EXPECT_EQ(Dh.Calls(), (std::vector<std::string>{"PLAY_Stop(0)", "PLAY_CloseStream(0)"}));
  EXPECT_EQ(Dh.Query("open", 0), 0);
  EXPECT_EQ(DecodeEngine()->Decoder(4)->PlayerOf(Head()), -1);
  EXPECT_EQ(Win::Test::TakeDebugOutput(), "");

  // A refused close leaves the channel open.
  ASSERT_EQ(Open(Stream()), 0);
  Dh.Return("PLAY_CloseStream", 0, 1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), -1);
  EXPECT_EQ(DecodeEngine()->Decoder(4)->PlayerOf(Head()), 0);
}

class DecodeDHPictures : public DecodeDH, public testing::WithParamInterface<std::pair<int, int>> {};

// 352 x 288 and pictures larger than 704 x 576.
TEST_P(DecodeDHPictures, HostGetsEveryPictureWithItsChromaPlanesExchanged) {
  const auto [Width, Height] = GetParam();
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  const zrv::SyntheticStream S = Stream(Width, Height, 5);
  ASSERT_EQ(Open(S), 0);
  Dh.ClearJournal();
  FeedFrames(S);
  // The callback starts on the first frame after the open: the port decodes without drawing.
  const std::vector<std::string> Calls = Dh.Calls();
  const std::vector<std::string> Start(Calls.begin(), Calls.begin() + 9);
  EXPECT_EQ(Start, (std::vector<std::string>{"PLAY_ResetBuffer(0,1)", "PLAY_ResetBuffer(0,2)", "PLAY_ResetBuffer(0,3)",
                                             "PLAY_ResetBuffer(0,4)", "PLAY_ResetSourceBuffer(0)", "PLAY_Stop(0)",
                                             "PLAY_SetDecCallBack(0,ptr)", "PLAY_Play(0,0)",
                                             "PLAY_InputData(0,ptr," + std::to_string(S.frames[0].bytes.size()) + ")"}));
  ASSERT_TRUE(WaitUntil([&] { return HostPictures::Count() == 5; }));
  const std::vector<THostPicture> Got = HostPictures::Take();
  const std::vector<std::vector<std::uint8_t>> Expected = ExchangedPictures(S);
  for (int i = 0; i < 5; ++i) {
    const THostPicture& D = Got[i];
    EXPECT_EQ(D.Channel, Channel);
    EXPECT_EQ(D.Info.Size, zrv::PictureBytes(Width, Height));
    EXPECT_EQ(D.Info.Width, std::uint32_t(Width));
    EXPECT_EQ(D.Info.Height, std::uint32_t(Height));
    EXPECT_EQ(D.Info.FrameKind, 1);
    EXPECT_EQ(D.Info.DvrType, 4);
    EXPECT_TRUE(D.Bytes == Expected[i]) << "picture " << i;
  }
  // Nothing was written past a picture, and a picture shorter than its size says is dropped.
  EXPECT_EQ(Dh.Fire("decode", 0, Width, Height + 2), 0);
  EXPECT_EQ(Dh.Fire("decode", 0), 0);
  ASSERT_TRUE(WaitUntil([&] { return HostPictures::Count() == 1; }));
  EXPECT_EQ(Dh.Query("guardbroken", 0), 0);

  // Stopped: drawing again into the window, no more pictures for the host.
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1);
  EXPECT_EQ(Dh.Calls("PLAY_Fast("), std::vector<std::string>(4, "PLAY_Fast(0)"));
  HostPictures::Clear();
  EXPECT_EQ(Dh.Fire("decode", 0), 0);
  EXPECT_EQ(HostPictures::Count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DecodeDHPictures,
                         testing::Values(std::make_pair(352, 288), std::make_pair(1280, 720)));

TEST_F(DecodeDH, SnapshotsAreBmpImagesOfTheLastPicture) {
  std::vector<std::uint8_t> Buffer(1 << 20);
  std::uint8_t* Address = Buffer.data();
  std::int32_t Size[2] = {0, 0};
  const zrv::SyntheticStream S = Stream(64, 48, 4);
  ASSERT_EQ(Open(S), 0);
  const int TempFiles = CountSnapTempFiles();
  // No picture decoded yet: nothing captured, and the temporary file is gone.
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Address), -1);
  EXPECT_EQ(CountSnapTempFiles(), TempFiles);

  FeedFrames(S);
  ASSERT_TRUE(WaitUntil([&] { return Dh.Query("decoded", 0) == 4; }));
  std::vector<std::uint8_t> Last(zrv::PictureBytes(64, 48));
  zrv::DrawPattern(Last.data(), 64, 48, 3);
  const std::vector<std::uint8_t> Bmp = zrv::MakeBmp(Last.data(), 64, 48);
  const std::int32_t Bytes = Tarn_Decode_SnapPicture(Head(), Size, &Address);
  ASSERT_EQ(Bytes, static_cast<std::int32_t>(Bmp.size()));
  EXPECT_TRUE(std::equal(Bmp.begin(), Bmp.end(), Buffer.begin()));
  EXPECT_EQ(Size[0], 64);
  EXPECT_EQ(Size[1], 48);
  EXPECT_EQ(CountSnapTempFiles(), TempFiles);
  EXPECT_EQ(Dh.Count("PLAY_CatchPic("), 2);

  // To a file, through the PlayM4 layer (group 4, channel = port): the library's result at once.
  Group = 4;
  Channel = 5;
  ASSERT_EQ(Open(S), 0);
  const std::string Path = TempPath("zorv_dh_snapshot.bmp");
  EXPECT_EQ(PlayM4_SnapPicture(5, Path.c_str()), 0);  // nothing decoded on this port yet
  FeedFrames(S);
  ASSERT_TRUE(WaitUntil([&] { return Dh.Query("decoded", 1) == 4; }));
  EXPECT_EQ(PlayM4_SnapPicture(5, Path.c_str()), 1);
  std::vector<std::uint8_t> File;
  ASSERT_TRUE(zrv::ReadFile(Path, File));
  EXPECT_EQ(File, Bmp);
  EXPECT_EQ(Dh.Calls("PLAY_CatchPic(1,").back(), "PLAY_CatchPic(1,\"" + Path + "\")");
  std::filesystem::remove(zrv::NativePath(Path));
  EXPECT_EQ(PlayM4_SnapPicture(6, Path.c_str()), 0);  // no stream on that port
}

TEST_F(DecodeDH, RecordingWritesTheStreamToTheNamedFile) {
  const zrv::SyntheticStream S = Stream(32, 32, 6);
  const std::string Path = TempPath("zorv_dh_record.zrv");
  const std::uintptr_t Name = reinterpret_cast<std::uintptr_t>(Path.c_str());
  EXPECT_EQ(Tarn_Decode_StartAviRecord(Head(), Name), -1);  // no stream yet
  ASSERT_EQ(Open(S), 0);
  ASSERT_EQ(Tarn_Decode_StartAviRecord(Head(), Name), 0);
  EXPECT_EQ(Dh.Calls("PLAY_StartDataRecord("),
            std::vector<std::string>{"PLAY_StartDataRecord(0,\"" + Path + "\",1)"});
  EXPECT_EQ(Tarn_Decode_StartAviRecord(Head(), 0), -1);  // no file name
  FeedFrames(S);
  EXPECT_EQ(Tarn_Decode_StopAviRecord(Head()), 0);
  EXPECT_EQ(Tarn_Decode_StopAviRecord(Head()), -1);  // the library is not recording any more

  std::vector<std::uint8_t> File;
  ASSERT_TRUE(zrv::ReadFile(Path, File));
  EXPECT_EQ(File, S.FileBytes());
  std::filesystem::remove(zrv::NativePath(Path));
}

TEST_F(DecodeDH, SoundStartsOnlyWhenTheHostAsksForIt) {
  const zrv::SyntheticStream S = Stream(32, 32, 3, true);
  ASSERT_EQ(Open(S), 0);
  FeedFrames(S);
  EXPECT_EQ(Dh.Count("PLAY_PlaySound("), 0);
  EXPECT_EQ(Tarn_Decode_PlaySound(Head()), 0);
  EXPECT_EQ(Tarn_Decode_PlaySound(Head()), 0);
  EXPECT_EQ(Dh.Calls("PLAY_PlaySound("), std::vector<std::string>{"PLAY_PlaySound(0)"});
  EXPECT_EQ(Dh.Query("sound", 0), 1);
  EXPECT_EQ(Tarn_Decode_StopSound(Head()), 0);
  EXPECT_EQ(Dh.Calls("PLAY_StopSound("), std::vector<std::string>{"PLAY_StopSound()"});
  EXPECT_EQ(Dh.Query("sound", 0), 0);
}

TEST_F(DecodeDH, LibraryWithoutSourceBufferResetOrRecording) {
  StandinClient Bare(kBareRoot + "PlayDll/DH/dhplay.dll");
  ASSERT_TRUE(Bare.Loaded());
  Bare.Reset();
  Reinit(kBareRoot);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  const zrv::SyntheticStream S = Stream(32, 32, 3);
  ASSERT_EQ(Open(S), 0);
  FeedFrames(S);
  // The buffer reset reports failure, yet the callback starts and pictures arrive.
  EXPECT_TRUE(WaitUntil([&] { return HostPictures::Count() == 3; }));
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head()), -1);
  EXPECT_EQ(Bare.Count("PLAY_ResetBuffer("), 8);
  const std::string Path = TempPath("zorv_dh_bare.zrv");
  EXPECT_EQ(Tarn_Decode_StartAviRecord(Head(), reinterpret_cast<std::uintptr_t>(Path.c_str())), -1);
  EXPECT_EQ(Tarn_Decode_StopAviRecord(Head()), -1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  Tarn_Decode_ShutDown();
  Bare.Reset();
}

// The library keeps a port's decode callback across streams: a file later played on the port
// must not reach the host callback of the channel that had the port before, in another group.
TEST_F(DecodeDH, FilePicturesReachNoCallbackOfAnotherGroupAndShutDownClosesTheFile) {
  Group = 0;
  Channel = 7;
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  const zrv::SyntheticStream S = Stream(32, 32, 3);
  ASSERT_EQ(Open(S), 0);
  FeedFrames(S);
  ASSERT_TRUE(WaitUntil([&] { return HostPictures::Count() == 3; }));
  ASSERT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  // The host wants the pictures of channel 7 of group 0 again, before its next stream.
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  HostPictures::Clear();

  const std::string Path = TempPath("zorv_dh_file.zrv");
  ASSERT_TRUE(zrv::WriteFile(Path, S.FileBytes()));
  Dh.SetOption("player.filepace", 0);
  ASSERT_EQ(PlayM4_OpenFile(7, 4, Path.c_str()), 1);  // group 4, channel 7, again on port 0
  EXPECT_EQ(Dh.Calls("PLAY_OpenFile("), std::vector<std::string>{"PLAY_OpenFile(0,\"" + Path + "\")"});
  EXPECT_EQ(PlayM4_GetFileTotalFrames(7), 3);
  ASSERT_TRUE(PlayM4_Play(7, 0));
  ASSERT_TRUE(WaitUntil([&] { return Dh.Query("decoded", 0) == 3; }));
  EXPECT_EQ(HostPictures::Count(), 0u);

  Dh.ClearJournal();
  Tarn_Decode_ShutDown();
  EXPECT_EQ(Dh.Calls(), (std::vector<std::string>{"PLAY_Stop(0)", "PLAY_CloseFile(0)"}));
  EXPECT_EQ(Dh.Query("open", 0), 0);
  std::filesystem::remove(zrv::NativePath(Path));
}

// Loader journal lines of the Dahua folder, with the folder cut off: "load dhplay.dll".
std::vector<std::string> DhLoaderCalls() {
  std::vector<std::string> Result;
  for (std::string Line : Lines(Win::Test::TakeLoaderCalls())) {
    const std::size_t At = Line.find("PlayDll\\DH\\");
    if (At != std::string::npos) Result.push_back(Line.substr(0, Line.find(' ') + 1) + Line.substr(At + 11));
  }
  return Result;
}

TEST_F(DecodeDH, ShutDownClosesOpenStreamsOfEveryGroupThenUnloadsInReverseOrder) {
  Win::Test::RecordLoaderCalls(true);
  const zrv::SyntheticStream S = Stream();
  Group = 0;
  Channel = 3;
  ASSERT_EQ(Open(S), 0);
  Group = 2;
  Channel = 4;
  ASSERT_EQ(Open(S), 0);
  std::vector<std::string> Expected;
  for (const char* Name : kLibraries) Expected.push_back(std::string("load ") + Name);
  EXPECT_EQ(DhLoaderCalls(), Expected);
  EXPECT_EQ(Dh.Count("PLAY_OpenStream("), 2);

  Dh.ClearJournal();
  Tarn_Decode_ShutDown();
  EXPECT_EQ(Dh.Calls(),
            (std::vector<std::string>{"PLAY_Stop(0)", "PLAY_CloseStream(0)", "PLAY_Stop(1)", "PLAY_CloseStream(1)"}));
  EXPECT_EQ(Dh.Query("open", 0), 0);
  EXPECT_EQ(Dh.Query("open", 1), 0);
  Expected.clear();
  for (int i = 5; i >= 0; --i) Expected.push_back(std::string("free ") + kLibraries[i]);
  EXPECT_EQ(DhLoaderCalls(), Expected);
}

TEST_F(DecodeDH, MissingCodecLibraryLeavesTheAdapterUnloaded) {
  Win::Test::RecordLoaderCalls(true);
  Reinit(kPartialRoot);
  const zrv::SyntheticStream S = Stream();
  EXPECT_EQ(Add(ZORV_FRAME_I, S.head), -1);
  EXPECT_EQ(DhLoaderCalls(), (std::vector<std::string>{"load AmrDll.dll", "load dllh264.dll"}));
  EXPECT_EQ(DecodeEngine()->Decoder(4)->State(), 0);
  Tarn_Decode_ShutDown();
  EXPECT_EQ(DhLoaderCalls(), (std::vector<std::string>{"free dllh264.dll", "free AmrDll.dll"}));
}

}  // namespace
