// DVR type 12 end to end against the stand-in HBPlaySDK.dll: the 64-byte stream head, frames
// through the one-frame decoders with their tries, the fall-back to stream input, sound frames
// without an audio decoder, the callback switches, pictures delivered as the library made them
// and only to the channel owning the port, snapshots through the snapshot callback, and close.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
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
const std::string kNoOneFrameRoot = std::string(ZORV_TESTROOT) + "-hb-noonefr/";
const std::string kNoAudioRoot = std::string(ZORV_TESTROOT) + "-hb-noaudio/";
const std::string kNoResetRoot = std::string(ZORV_TESTROOT) + "-hb-noreset/";  // also without HB_PLAY_PlayEx
std::string HbLibrary(const std::string& Root) { return Root + "PlayDll/HB/HBPlaySDK.dll"; }

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr std::uint32_t kPictureSize = kWidth * kHeight * 3 / 2;
constexpr std::int64_t kHeadTailSum = 'H' + 'B' + 'S' + 'H';  // bytes 40..63 of the library's stream head

class DecodeHB : public testing::Test {
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
    FileHead = Stream.head;
    for (char C : {'H', 'B', 'S', 'H'}) FileHead.push_back(static_cast<std::uint8_t>(C));
    FileHead.resize(64, 0);
    Win::Test::CaptureDebugOutput(true);
  }
  void TearDown() override {
    Tarn_Decode_ShutDown();
    if (Lib && Lib->Loaded()) Lib->Reset();
    zorv_surface_destroy(Wnd);
    Win::Test::CaptureDebugOutput(false);
    Win::Test::SetSleepScale(0.01);
  }
  void Init(const std::string& Root = kRoot) {
    Lib = std::make_unique<StandinClient>(HbLibrary(Root));
    ASSERT_TRUE(Lib->Loaded());
    Lib->Reset();
    ASSERT_EQ(Tarn_Decode_Initialize(0, Root.c_str(), 1), 0);
  }
  TFrameHead Head(std::uint8_t FrameType = ZORV_FRAME_P, std::size_t Length = 0) const {
    TFrameHead H{};
    H.Channel = Channel;
    H.Wnd = Wnd;
    H.DataLen = static_cast<std::uint32_t>(Length);
    H.FrameType = FrameType;
    H.DvrType = 12;
    H.Group = Group;
    return H;
  }
  std::int32_t Open() { return OpenWith(FileHead); }
  std::int32_t OpenWith(const std::vector<std::uint8_t>& Frame, std::size_t Length = SIZE_MAX) {
    return Tarn_Decode_AddFrame(Head(ZORV_FRAME_FILEHEAD, std::min(Length, Frame.size())), Frame.data());
  }
  std::int32_t Feed(const zrv::Frame& F) { return Tarn_Decode_AddFrame(Head(F.frameType, F.bytes.size()), F.bytes.data()); }
  void FeedAll() {
    for (const zrv::Frame& F : Stream.frames) ASSERT_EQ(Feed(F), 0);
  }
  const zrv::Frame& First(bool Audio) const {
    for (const zrv::Frame& F : Stream.frames)
      if ((F.frameType == ZORV_FRAME_AUDIO) == Audio) return F;
    return Stream.frames.front();
  }
  int VideoFrames() const { return static_cast<int>(PicturesOf(Stream).size()); }
  TDecodeBase* Adapter() const { return DecodeEngine()->Decoder(12); }
  std::uint64_t Nominal() const { return Win::Test::NominalSleepMsOfThisThread(); }

  std::uint32_t Wnd = 0;
  std::uint8_t Group = 2;
  std::uint32_t Channel = 5;
  zrv::SyntheticStream Stream;
  std::vector<std::uint8_t> FileHead;
  std::unique_ptr<StandinClient> Lib;
};

TEST_F(DecodeHB, PlaysThroughTheOneFrameDecodersAndHandsTheHostThePictures) {
  Init();
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  ASSERT_EQ(Open(), 0);
  const std::string W = std::to_string(Wnd);
  EXPECT_EQ(Lib->Calls(), (std::vector<std::string>{"HB_PLAY_SetPicQuality(0,-1)", "HB_PLAY_SetStreamOpenMode(0,1)",
                                                    "HB_PLAY_OpenStream(0,ptr,64,2)", "HB_PLAY_SetSnapShotCallBack(0,ptr)",
                                                    "HB_PLAY_PlayEx(0," + W + ")"}));
  EXPECT_EQ(Lib->Query("headtail", 0), kHeadTailSum);
  Lib->ClearJournal();
  FeedAll();
  // The callback is registered without stopping or restarting the port.
  const std::string Video = std::to_string(First(false).bytes.size());
  const std::string Audio = std::to_string(First(true).bytes.size());
  const std::vector<std::string> Calls = Lib->Calls();
  ASSERT_GE(Calls.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(Calls.begin(), Calls.begin() + 4),
            (std::vector<std::string>{"HB_PLAY_SetDecCallBack(0,ptr,1)", "HB_PLAY_DecodeOneFrame(0,ptr," + Video + ",1)",
                                      "HB_PLAY_PlaySound(0)", "HB_PLAY_DecodeAudioFrame(0,ptr," + Audio + ")"}));
  EXPECT_EQ(Lib->Count("HB_PLAY_DecodeOneFrame("), VideoFrames());
  EXPECT_EQ(Lib->Count("HB_PLAY_DecodeAudioFrame("), static_cast<int>(Stream.frames.size()) - VideoFrames());
  EXPECT_EQ(Lib->Count("HB_PLAY_PlaySound("), 1);
  EXPECT_EQ(Lib->Count("HB_PLAY_InputData("), 0);
  EXPECT_EQ(Lib->Count("HB_PLAY_Stop("), 0);

  const auto Expected = PicturesOf(Stream);
  ASSERT_TRUE(HostPictures::WaitForCount(Expected.size()));
  const std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), Expected.size());
  for (std::size_t i = 0; i < Got.size(); ++i) {
    EXPECT_EQ(Got[i].Channel, Channel);
    EXPECT_EQ(Got[i].Info.Size, kPictureSize);
    EXPECT_EQ(Got[i].Info.Width, static_cast<std::uint32_t>(kWidth));
    EXPECT_EQ(Got[i].Info.FrameKind, 1);
    EXPECT_EQ(Got[i].Info.DvrType, 12);
    EXPECT_EQ(Got[i].Bytes, Expected[i]) << "picture " << i;
  }
  EXPECT_TRUE(WaitUntil([&] { return Lib->Query("drawn", 0) > 0; })) << "the port draws into its window";
  EXPECT_TRUE(WaitUntil([&] { return Lib->Query("audioplayed", 0) > 0; }));

  Lib->ClearJournal();
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1);
  EXPECT_EQ(Lib->Calls(), (std::vector<std::string>{"HB_PLAY_SetDecCallBack(0,0,1)"}));
  EXPECT_EQ(Tarn_Decode_StopSound(Head()), 0);
  EXPECT_EQ(Lib->Count("HB_PLAY_CloseSound(0)"), 1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHB, TheStreamHeadIsAlways64BytesAndNeverReadPastTheHostsBytes) {
  Init();
  // A longer file head frame: only its first 64 bytes open the stream, nothing is fed.
  std::vector<std::uint8_t> Long = FileHead;
  Long.resize(100, 0x11);
  ASSERT_EQ(OpenWith(Long), 0);
  EXPECT_EQ(Lib->Calls("HB_PLAY_OpenStream("), (std::vector<std::string>{"HB_PLAY_OpenStream(0,ptr,64,2)"}));
  EXPECT_EQ(Lib->Query("headtail", 0), kHeadTailSum);
  EXPECT_EQ(Lib->Count("HB_PLAY_InputData("), 0);
  EXPECT_EQ(Lib->Count("HB_PLAY_DecodeOneFrame("), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);

  // A 40-byte file head frame followed in memory by other bytes: the library gets 64 bytes, the
  // 24 after the frame are zero.
  Lib->ClearJournal();
  std::vector<std::uint8_t> Short = Stream.head;
  Short.resize(128, 0xEE);
  ASSERT_EQ(OpenWith(Short, Stream.head.size()), 0);
  EXPECT_EQ(Lib->Calls("HB_PLAY_OpenStream("), (std::vector<std::string>{"HB_PLAY_OpenStream(0,ptr,64,2)"}));
  EXPECT_EQ(Lib->Query("headtail", 0), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHB, RefusedFramesAreTried51TimesThenDroppedWithALogLine) {
  Init();
  ASSERT_EQ(Open(), 0);
  TakeLogMessages();
  Lib->ClearJournal();
  Lib->Return("HB_PLAY_DecodeOneFrame", 0, 5);
  std::uint64_t Before = Nominal();
  EXPECT_EQ(Feed(First(false)), 0);
  EXPECT_EQ(Lib->Count("HB_PLAY_DecodeOneFrame("), 6);
  EXPECT_EQ(Nominal() - Before, 5u);
  EXPECT_TRUE(TakeLogMessages().empty());

  Lib->ClearJournal();
  Lib->Return("HB_PLAY_DecodeOneFrame", 0);
  Before = Nominal();
  EXPECT_EQ(Feed(First(false)), 0);
  EXPECT_EQ(Lib->Count("HB_PLAY_DecodeOneFrame("), 51);
  EXPECT_EQ(Nominal() - Before, 51u);
  EXPECT_EQ(TakeLogMessages(), (std::vector<std::string>{"Chl 0 HB_PLAY_DecodeOneFrame fail"}));

  Lib->Return("HB_PLAY_DecodeAudioFrame", 0);
  Before = Nominal();
  EXPECT_EQ(Feed(First(true)), 0);
  EXPECT_EQ(Lib->Count("HB_PLAY_DecodeAudioFrame("), 51);
  EXPECT_EQ(Nominal() - Before, 51u);
  EXPECT_EQ(TakeLogMessages(), (std::vector<std::string>{"Chl 0 HB_PLAY_DecodeAudioFrame fail"}));
  Lib->Unscript("HB_PLAY_DecodeOneFrame");
  Lib->Unscript("HB_PLAY_DecodeAudioFrame");
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHB, AnExceptionInADecoderDropsTheFrame) {
#ifdef _WIN32
  GTEST_SKIP() << "the Win32 stand-in fails with a structured exception, which the vendor call guard does not catch yet";
#endif
  Init();
  ASSERT_EQ(Open(), 0);
  Lib->ClearJournal();
  Lib->Throw("HB_PLAY_DecodeOneFrame", 1);
  EXPECT_EQ(Feed(First(false)), 0);
  EXPECT_EQ(Lib->Count("HB_PLAY_DecodeOneFrame("), 1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHB, WithoutTheOneFrameDecoderEveryFrameGoesToTheStreamInputOnce) {
  Init(kNoOneFrameRoot);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  ASSERT_EQ(Open(), 0);
  Lib->ClearJournal();
  Lib->Return("HB_PLAY_InputData", 0, 1);  // a refusal is not offered again
  FeedAll();
  std::vector<std::string> Expected;
  for (const zrv::Frame& F : Stream.frames)
    Expected.push_back("HB_PLAY_InputData(0,ptr," + std::to_string(F.bytes.size()) + ",0)");
  EXPECT_EQ(Lib->Calls("HB_PLAY_InputData("), Expected);
  EXPECT_EQ(Lib->Count("HB_PLAY_DecodeAudioFrame("), 0);
  // The first picture was refused; the others reach the host.
  ASSERT_TRUE(HostPictures::WaitForCount(VideoFrames() - 1));
  EXPECT_EQ(HostPictures::Take().front().Bytes, PicturesOf(Stream)[1]);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHB, WithoutTheAudioDecoderSoundFramesAreDropped) {
  Init(kNoAudioRoot);
  ASSERT_EQ(Open(), 0);
  Lib->ClearJournal();
  FeedAll();
  EXPECT_EQ(Lib->Count("HB_PLAY_DecodeOneFrame("), VideoFrames());
  EXPECT_EQ(Lib->Count("HB_PLAY_InputData("), 0);
  EXPECT_EQ(Lib->Count("HB_PLAY_PlaySound(0)"), 1);  // the sound is still switched on
  ASSERT_TRUE(WaitUntil([&] { return Lib->Query("decoded", 0) == VideoFrames(); }));
  EXPECT_EQ(Lib->Query("audio", 0), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHB, SnapshotIsWrittenByTheSnapshotCallBack) {
  Init();
  Lib->SetOption("display.refreshms", 2);  // an idle port shows its last picture again and again
  ASSERT_EQ(Open(), 0);
  FeedAll();
  const auto Pictures = PicturesOf(Stream);
  ASSERT_TRUE(WaitUntil([&] { return Lib->Query("decoded", 0) == static_cast<std::int64_t>(Pictures.size()); }));
  Lib->ClearJournal();
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
  const std::vector<std::string> Converted = Lib->Calls("HB_PLAY_ConvertToBMPFile(");
  ASSERT_EQ(Converted.size(), 1u);
  EXPECT_EQ(Converted[0].rfind("HB_PLAY_ConvertToBMPFile(0,ptr," + std::to_string(kPictureSize) + ",176,144,3,\"", 0),
            0u);
  EXPECT_NE(Converted[0].find("~BM"), std::string::npos);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);

  // A port that never showed a picture: -1 after 300 waits of 2 ms.
  ASSERT_EQ(Open(), 0);
  const std::uint64_t Before = Nominal();
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Out), -1);
  EXPECT_EQ(Nominal() - Before, 600u);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

TEST_F(DecodeHB, CloseClearsStopsAndClosesWithoutLogLines) {
  Init();
  ASSERT_EQ(Open(), 0);
  Lib->ClearJournal();
  TakeLogMessages();
  const std::uint64_t Before = Nominal();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_EQ(Nominal() - Before, 100u + 100u);
  EXPECT_EQ(Lib->Calls(), (std::vector<std::string>{"HB_PLAY_ResetSourceBufFlag(0)", "HB_PLAY_Stop(0)",
                                                    "HB_PLAY_CloseStream(0)"}));
  EXPECT_TRUE(TakeLogMessages().empty());
  EXPECT_LT(Adapter()->PlayerOf(Head()), 0);

  ASSERT_EQ(Open(), 0);
  Lib->Return("HB_PLAY_Stop", 0, 1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), -1);
  EXPECT_EQ(Adapter()->PlayerOf(Head()), 0);
  EXPECT_EQ(Lib->Count("HB_PLAY_CloseStream("), 1);
}

TEST_F(DecodeHB, WithoutTheResetEntryPointCloseFailsAndTheChannelStaysOpen) {
  Init(kNoResetRoot);
  ASSERT_EQ(Open(), 0);
  // This library has no HB_PLAY_PlayEx either: the port plays through HB_PLAY_Play.
  EXPECT_EQ(Lib->Calls("HB_PLAY_Play"), (std::vector<std::string>{"HB_PLAY_Play(0," + std::to_string(Wnd) + ")"}));
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head()), -1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), -1);
  EXPECT_EQ(Adapter()->PlayerOf(Head()), 0);
  EXPECT_EQ(Lib->Query("open", 0), 1);
  EXPECT_EQ(Lib->Count("HB_PLAY_Stop("), 0);
}

// Port 0 of the HB library and port 0 of the HY library belong to different channels.
TEST_F(DecodeHB, PicturesOfAPortGoOnlyToTheChannelOwningItInThisAdapter) {
  StandinClient Hy(kRoot + "PlayDll/HY/HIE_MP4Play.dll");
  ASSERT_TRUE(Hy.Loaded());
  Hy.Reset();
  Init();
  TFrameHead HyHead = Head(ZORV_FRAME_FILEHEAD, Stream.head.size());
  HyHead.DvrType = 15;
  HyHead.Channel = 9;
  ASSERT_EQ(Tarn_Decode_StartCallBack(HyHead, &HostPictures::OnPicture), 0);
  ASSERT_EQ(Tarn_Decode_AddFrame(HyHead, Stream.head.data()), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Feed(First(false)), 0);  // starts the HB callback, one picture
  ASSERT_TRUE(HostPictures::WaitForCount(1));
  ASSERT_TRUE(WaitUntil([&] { return Lib->Query("decoded", 0) == 1; }));
  HostPictures::Clear();
  EXPECT_EQ(FireDecode(*Lib, 0), 0);
  const std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), 1u);
  EXPECT_EQ(Got[0].Channel, Channel);
  EXPECT_EQ(Got[0].Info.DvrType, 12);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  HyHead.FrameType = ZORV_FRAME_P;
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(HyHead), 0);
  Hy.Reset();
}

// The library's picture goes to the host as it is, also when it is shorter than its size says
// (after two log lines); the host's TDecFrameInfo.Size tells how many bytes it holds.
TEST_F(DecodeHB, AShortPictureIsLoggedAndDeliveredUntouched) {
  Init();
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Feed(First(false)), 0);
  ASSERT_TRUE(HostPictures::WaitForCount(1));
  HostPictures::Clear();
  TakeLogMessages();
  const std::int64_t Short = kPictureSize - 100;
  EXPECT_EQ(FireDecode(*Lib, Short), 0);
  EXPECT_EQ(TakeLogMessages(), (std::vector<std::string>{std::to_string(kPictureSize), std::to_string(Short)}));
  const std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), 1u);
  EXPECT_EQ(Got[0].Info.Size, static_cast<std::uint32_t>(Short));
  EXPECT_EQ(Got[0].Info.Width, static_cast<std::uint32_t>(kWidth));
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

// The pauses of this adapter in real time: 1 ms after each refused try, 100 ms before the base
// close.
TEST_F(DecodeHB, TryAndClosePausesTakeRealTime) {
  Init();
  ASSERT_EQ(Open(), 0);
  Win::Test::SetSleepScale(1.0);
  Lib->Return("HB_PLAY_DecodeOneFrame", 0);
  auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(Feed(First(false)), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(51));
  Lib->Unscript("HB_PLAY_DecodeOneFrame");
  Start = std::chrono::steady_clock::now();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(100 + 100));
}

}  // namespace
