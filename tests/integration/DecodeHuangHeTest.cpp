// DVR type 21 through the exports, against the stand-in HH5PlayerSDK.dll: 16-bit ports, the stream
// parameter on every frame (also for player numbers above 99), pictures through the one YUV
// callback (small pictures at their own size), snapshots from memory without temporary files left
// behind, play controls and file playback through the PlayM4 layer, and closes that stop at the
// first refusal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "HostPictures.h"
#include "PlayerAdapterTest.h"
#include "SnapTempFiles.h"
#include "U_DecodeHuangHePlay.h"
#include "ZrvStream.h"

namespace {

constexpr std::size_t kFileHeadLength = 64;

class DecodeHuangHe : public TPlayerAdapterTest {
 protected:
  DecodeHuangHe() : TPlayerAdapterTest("PlayDll/HuangHe/HH5PlayerSDK.dll", TDecodeHuangHePlay::DvrTypeCode, 1, 7) {}

  // A stream of the given picture size whose file head frame is padded to HeadLength bytes.
  static zrv::SyntheticStream MakeStream(int Width, int Height, int Frames, std::size_t HeadLength = kFileHeadLength) {
    zrv::StreamParams Params;
    Params.width = Width;
    Params.height = Height;
    Params.audio = true;
    zrv::SyntheticStream Stream = zrv::MakeSyntheticStream(Params, Frames);
    Stream.head.resize(HeadLength, 0);
    return Stream;
  }
  TFrameHead HeadOn(std::uint8_t OnGroup, std::uint32_t OnChannel) const {
    TFrameHead H = HeadOf(ZORV_FRAME_P, 0, OnChannel);
    H.Group = OnGroup;
    return H;
  }
  std::int32_t OpenOn(std::uint8_t OnGroup, std::uint32_t OnChannel, const std::vector<std::uint8_t>& FileHead) {
    TFrameHead H = HeadOf(ZORV_FRAME_FILEHEAD, FileHead.size(), OnChannel);
    H.Group = OnGroup;
    return Tarn_Decode_AddFrame(H, FileHead.data());
  }
  std::int32_t FeedOn(std::uint8_t OnGroup, std::uint32_t OnChannel, const zrv::Frame& F) {
    TFrameHead H = HeadOf(F.frameType, F.bytes.size(), OnChannel);
    H.Group = OnGroup;
    return Tarn_Decode_AddFrame(H, F.bytes.data());
  }
  void FeedAll(const zrv::SyntheticStream& Stream) {
    for (const zrv::Frame& F : Stream.frames) ASSERT_EQ(Add(F.frameType, F.bytes), 0);
  }
  // Channels 0..6 of the group take players 0..6, so the test's channel 7 gets player 7.
  void OpenSevenBefore(const zrv::SyntheticStream& Stream) {
    for (std::uint32_t C = 0; C < 7; ++C) ASSERT_EQ(OpenOn(Group, C, Stream.head), 0);
  }
  // Writes the stream as a file in the temporary directory; its path.
  static std::string StreamFile(const zrv::SyntheticStream& Stream, const char* Name) {
    char Dir[Win::MAX_PATH + 1] = {};
    Win::GetTempPathA(Win::MAX_PATH, Dir);
    std::vector<std::uint8_t> Bytes = Stream.FileBytes();
    // A stream file starts with the bare stream head, not the padded file head frame.
    Bytes.erase(Bytes.begin() + zrv::kStreamHeadSize, Bytes.begin() + static_cast<std::ptrdiff_t>(Stream.head.size()));
    const std::string Path = std::string(Dir) + Name;
    EXPECT_TRUE(zrv::WriteFile(Path, Bytes));
    return Path;
  }
};

TEST_F(DecodeHuangHe, PlaysOnItsPortWithTheStreamParameterAndHandsThePicturesToTheHost) {
  const zrv::SyntheticStream Stream = MakeStream(352, 288, 5);
  OpenSevenBefore(Stream);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  Library.ClearJournal();
  ASSERT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), 0);
  EXPECT_EQ(Library.Calls(), (std::vector<std::string>{"HH5PLAYER_InitPlayer(7," + std::to_string(Wnd) + ")",
                                                       "HH5PLAYER_OpenStream(7)"}));
  EXPECT_EQ(PlayerNo(), 7);
  EXPECT_EQ(Handle(), 7);
  EXPECT_EQ(Entry().OpenKind, 21);
  EXPECT_EQ(Entry().HasAudio, 1);

  Library.ClearJournal();
  FeedAll(Stream);
  // The first frame starts the YUV callback; every frame, audio included, carries head length - 1.
  const std::vector<std::string> Calls = Library.Calls();
  ASSERT_GE(Calls.size(), 3u);
  EXPECT_EQ(Calls[0], "HH5PLAYER_ClearAllBuffer(7)");
  EXPECT_EQ(Calls[1], "HH5PLAYER_RegYUVDataCallBack(ptr,1)");
  std::vector<std::string> Pushes;
  for (const zrv::Frame& F : Stream.frames)
    Pushes.push_back("HH5PLAYER_PutDecStreamData(7,ptr," + std::to_string(F.bytes.size()) + ",63)");
  EXPECT_EQ(Library.Calls("HH5PLAYER_PutDecStreamData("), Pushes);
  EXPECT_EQ(Library.Calls("HH5PLAYER_SetAudio("), (std::vector<std::string>{"HH5PLAYER_SetAudio(7,1)"}));

  const auto Expected = PicturesOf(Stream);
  ASSERT_TRUE(HostPictures::WaitForCount(Expected.size()));
  const std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), Expected.size());
  for (std::size_t i = 0; i < Got.size(); ++i) {
    EXPECT_EQ(Got[i].Channel, Channel);
    EXPECT_EQ(Got[i].Info.Size, 152064u);
    EXPECT_EQ(Got[i].Info.Width, 352u);
    EXPECT_EQ(Got[i].Info.Height, 288u);
    EXPECT_EQ(Got[i].Info.FrameKind, 1);
    EXPECT_EQ(Got[i].Info.DvrType, 21);
    EXPECT_EQ(Got[i].Bytes, Expected[i]) << "picture " << i;
  }
  EXPECT_TRUE(WaitUntil([&] { return Library.Query("drawn", 7) > 0; })) << "the port draws into its window";
}

TEST_F(DecodeHuangHe, PicturesSmallerThanCifAreReadAndDeliveredAtTheirOwnSize) {
  const zrv::SyntheticStream Stream = MakeStream(176, 144, 3);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  ASSERT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), 0);
  FeedAll(Stream);
  const auto Expected = PicturesOf(Stream);
  ASSERT_TRUE(HostPictures::WaitForCount(Expected.size()));
  const std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), Expected.size());
  for (std::size_t i = 0; i < Got.size(); ++i) {
    EXPECT_EQ(Got[i].Info.Size, 176u * 144 * 3 / 2);
    EXPECT_EQ(Got[i].Info.Width, 176u);
    EXPECT_EQ(Got[i].Info.Height, 144u);
    EXPECT_EQ(Got[i].Bytes, Expected[i]) << "picture " << i;
  }
}

TEST_F(DecodeHuangHe, PlayersAboveNinetyNineKeepTheirOwnStreamParameter) {
  const zrv::SyntheticStream Stream = MakeStream(64, 48, 1);
  // Group 0 takes players 0..99; the test's channel gets player 100 with a longer file head.
  for (std::uint32_t C = 0; C < 100; ++C) ASSERT_EQ(OpenOn(0, C, Stream.head), 0);
  std::vector<std::uint8_t> LongHead = Stream.head;
  LongHead.resize(80, 0);
  ASSERT_EQ(Add(ZORV_FRAME_FILEHEAD, LongHead), 0);
  ASSERT_EQ(PlayerNo(), 100);
  Library.ClearJournal();
  const zrv::Frame& Frame = Stream.frames.front();
  ASSERT_EQ(Add(Frame.frameType, Frame.bytes), 0);
  ASSERT_EQ(FeedOn(0, 0, Frame), 0);
  const std::string Length = std::to_string(Frame.bytes.size());
  EXPECT_EQ(Library.Calls("HH5PLAYER_PutDecStreamData("),
            (std::vector<std::string>{"HH5PLAYER_PutDecStreamData(100,ptr," + Length + ",79)",
                                      "HH5PLAYER_PutDecStreamData(0,ptr," + Length + ",63)"}));
  for (std::uint32_t C = 0; C < 100; ++C) Tarn_Decode_CloseOneChannel(HeadOn(0, C));
}

TEST_F(DecodeHuangHe, PlayControlsGiveOneForSuccessAndZeroOtherwise) {
  const zrv::SyntheticStream Stream = MakeStream(176, 144, 8);
  const std::string File = StreamFile(Stream, "zorv_huanghe_file.zrv");
  EXPECT_EQ(PlayM4_Pause(12, 1), 0) << "no player";
  EXPECT_EQ(PlayM4_OpenFile(12, 21, File.c_str()), 1);
  const std::vector<std::string> Opens = Library.Calls("HH5PLAYER_OpenStreamFileM(");
  ASSERT_EQ(Opens.size(), 1u);
  EXPECT_EQ(Opens[0], "HH5PLAYER_OpenStreamFileM(0,\"" + File + "\",1,ptr)") << "the port is the player number";
  EXPECT_EQ(PlayM4_Pause(12, 1), 1);
  EXPECT_EQ(PlayM4_Pause(12, 0), 1);
  EXPECT_EQ(Library.Calls("HH5PLAYER_Pause("), (std::vector<std::string>{"HH5PLAYER_Pause(0)", "HH5PLAYER_Pause(0)"}));
  EXPECT_EQ(PlayM4_Fast(12), 1);
  EXPECT_EQ(Library.Calls("HH5PLAYER_FastPlay("), (std::vector<std::string>{"HH5PLAYER_FastPlay(0,2)"}));
  EXPECT_EQ(PlayM4_OneByOne(12), 1);
  EXPECT_EQ(PlayM4_GetFileTime(12), static_cast<std::int32_t>(8 / Stream.params.fps));
  EXPECT_EQ(Library.Count("HH5PLAYER_GetStreamFileInfo(0,ptr,ptr,ptr,ptr)"), 1);
  EXPECT_EQ(PlayM4_Slow(12), 0);
  EXPECT_EQ(PlayM4_GetPlayPos(12), 0.0);

  Library.Return("HH5PLAYER_Pause", -1);
  Library.Return("HH5PLAYER_FastPlay", 5);
  Library.Return("HH5PLAYER_FrameGO", 1);
  EXPECT_EQ(PlayM4_Pause(12, 1), 0);
  EXPECT_EQ(PlayM4_Fast(12), 0);
  EXPECT_EQ(PlayM4_OneByOne(12), 0);
  EXPECT_EQ(PlayM4_CloseFile(12), 1);
  EXPECT_EQ(Library.Calls("HH5PLAYER_Stop("), (std::vector<std::string>{"HH5PLAYER_Stop(0)"}));
  EXPECT_EQ(Library.Query("open", 0), 0);
}

TEST_F(DecodeHuangHe, StreamControlsThroughThePlayM4Layer) {
  const zrv::SyntheticStream Stream = MakeStream(176, 144, 2);
  EXPECT_EQ(PlayM4_SetVolume(5, 300), 0) << "no player";
  std::vector<std::uint8_t> FileHead = Stream.head;
  ASSERT_EQ(PlayM4_OpenStream(5, 21, FileHead.data(), static_cast<std::uint32_t>(FileHead.size()), 0), 1);
  EXPECT_EQ(PlayM4_SetVolume(5, 300), 1);
  EXPECT_EQ(Library.Calls("HH5PLAYER_SetVolume("), (std::vector<std::string>{"HH5PLAYER_SetVolume(0,300)"}));
  EXPECT_EQ(Library.Query("volume", 0), 300);
  Library.Return("HH5PLAYER_SetVolume", -1);
  EXPECT_EQ(PlayM4_SetVolume(5, 20), 0);

  TFrameHead H = HeadOn(4, 5);  // PlayM4 port 5
  TDecodeBase* HuangHe = Adapter();
  EXPECT_EQ(HuangHe->Stop(H), 1);
  Library.Return("HH5PLAYER_StopStream", -1);
  EXPECT_EQ(HuangHe->Stop(H), 0);
  Library.Unscript("HH5PLAYER_StopStream");
  TFrameHead Unopened = Head();
  EXPECT_EQ(HuangHe->Stop(Unopened), 0) << "no player";
  EXPECT_EQ(HuangHe->ClearBuffer(Unopened), -1) << "no player";
  EXPECT_EQ(PlayM4_CloseStream(5), 1);
}

TEST_F(DecodeHuangHe, SnapshotComesFromMemoryAndLeavesNoTemporaryFile) {
  const zrv::SyntheticStream Stream = MakeStream(176, 144, 2);
  std::int32_t Size[2] = {-1, -1};
  std::vector<std::uint8_t> Memory(1 << 20);
  std::uint8_t* Buffer = Memory.data();
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Buffer), -1) << "no stream";
  ASSERT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), 0);
  FeedAll(Stream);
  ASSERT_TRUE(WaitUntil([&] { return Library.Query("decoded", 0) >= 2; }));

  const auto FilesBefore = SnapTempFiles();
  const std::int32_t Bytes = Tarn_Decode_SnapPicture(Head(), Size, &Buffer);
  const std::size_t BmpBytes = 54 + 176 * 144 * 3;
  ASSERT_EQ(Bytes, static_cast<std::int32_t>(BmpBytes));
  EXPECT_EQ(Size[0], 176);
  EXPECT_EQ(Size[1], 144);
  EXPECT_EQ(Memory[0], 'B');
  EXPECT_EQ(Memory[1], 'M');
  const auto Pictures = PicturesOf(Stream);
  const std::vector<std::uint8_t> Bmp = zrv::MakeBmp(Pictures.back().data(), 176, 144);
  EXPECT_TRUE(std::equal(Bmp.begin(), Bmp.end(), Memory.begin())) << "the library's picture, byte for byte";
  EXPECT_EQ(SnapTempFiles(), FilesBefore);

  // A failed capture, refused or with nothing to hand out, leaves no temporary file either.
  Library.Return("HH5PLAYER_CaptureOnePicture", -1);
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Buffer), -1);
  EXPECT_EQ(SnapTempFiles(), FilesBefore);
  EXPECT_EQ(Library.Count("HH5PLAYER_CaptureOnePicture(0,ptr,ptr)"), 2);
}

TEST_F(DecodeHuangHe, SnapshotToFileWaitsItsWholeTimeAndReportsFailure) {
  const zrv::SyntheticStream Stream = MakeStream(176, 144, 1);
  EXPECT_EQ(PlayM4_SnapPicture(6, "x.bmp"), 0) << "no player";
  std::vector<std::uint8_t> FileHead = Stream.head;
  ASSERT_EQ(PlayM4_OpenStream(6, 21, FileHead.data(), static_cast<std::uint32_t>(FileHead.size()), 0), 1);
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(PlayM4_SnapPicture(6, "x.bmp"), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 600u) << "300 rounds of 2 ms";
  EXPECT_EQ(PlayM4_CloseStream(6), 1);
}

TEST_F(DecodeHuangHe, CloseStopsAtTheFirstRefusalAndOtherwiseClosesInOrder) {
  const zrv::SyntheticStream Stream = MakeStream(176, 144, 1);
  ASSERT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), 0);
  Library.ClearJournal();
  Library.Return("HH5PLAYER_StopStream", -1, 1);
  Tarn_Decode_CloseOneChannel(Head());
  EXPECT_EQ(Library.Calls(), (std::vector<std::string>{"HH5PLAYER_ClearAllBuffer(0)", "HH5PLAYER_StopStream(0)"}));
  ASSERT_EQ(PlayerNo(), 0) << "the player stays allocated";

  // The engine has let the channel go; the adapter still holds the player and closes it.
  TFrameHead H = Head();
  Library.ClearJournal();
  Library.Return("HH5PLAYER_CloseStream", -1, 1);
  EXPECT_EQ(Adapter()->CloseStream(H), -1);
  EXPECT_EQ(Library.Calls(), (std::vector<std::string>{"HH5PLAYER_ClearAllBuffer(0)", "HH5PLAYER_StopStream(0)",
                                                       "HH5PLAYER_CloseStream(0)"}));
  ASSERT_EQ(PlayerNo(), 0);

  // Results other than -1 go on.
  Library.ClearJournal();
  Library.Return("HH5PLAYER_ReleasePlayer", 3, 1);
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Adapter()->CloseStream(H), 0);
  EXPECT_GE(Win::Test::NominalSleepMsOfThisThread() - Before, 200u) << "100 ms, then the common close's 100 ms";
  EXPECT_EQ(Library.Calls(), (std::vector<std::string>{"HH5PLAYER_ClearAllBuffer(0)", "HH5PLAYER_StopStream(0)",
                                                       "HH5PLAYER_CloseStream(0)", "HH5PLAYER_ReleasePlayer(0)"}));
  EXPECT_EQ(PlayerNo(), -1);
  const std::vector<std::string> Log = TakeLogMessages();
  EXPECT_NE(std::find(Log.begin(), Log.end(), "decoderdll 开始关闭流;显示画面序号:7播放器序号:0"), Log.end());
}

TEST_F(DecodeHuangHe, ClosePausesInRealTime) {
  const zrv::SyntheticStream Stream = MakeStream(64, 48, 1);
  ASSERT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), 0);
  Win::Test::SetSleepScale(1.0);
  const auto Start = std::chrono::steady_clock::now();
  Tarn_Decode_CloseOneChannel(Head());
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(200));
  EXPECT_EQ(PlayerNo(), -1);
}

TEST_F(DecodeHuangHe, TheSharedYuvCallbackStaysWhileAnotherChannelWantsPictures) {
  const zrv::SyntheticStream Stream = MakeStream(64, 48, 1);
  const TFrameHead Other = HeadOf(ZORV_FRAME_P, 0, 2);
  ASSERT_EQ(OpenOn(Group, 2, Stream.head), 0);
  ASSERT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Other, &HostPictures::OnPicture), 0);
  const zrv::Frame& Frame = Stream.frames.front();
  ASSERT_EQ(Add(Frame.frameType, Frame.bytes), 0);
  ASSERT_EQ(FeedOn(Group, 2, Frame), 0);
  EXPECT_EQ(Library.Count("HH5PLAYER_RegYUVDataCallBack(ptr,1)"), 2);
  Library.ClearJournal();

  Tarn_Decode_StopCallBack(Other);
  ASSERT_EQ(FeedOn(Group, 2, Frame), 0);  // the engine's wish reaches the adapter with a frame
  EXPECT_EQ(Library.Count("HH5PLAYER_RegYUVDataCallBack(0,1)"), 0) << "channel 7 still wants pictures";
  EXPECT_EQ(Library.Query("yuvcallback"), 1);
  Tarn_Decode_StopCallBack(Head());
  ASSERT_EQ(Add(Frame.frameType, Frame.bytes), 0);
  EXPECT_EQ(Library.Count("HH5PLAYER_RegYUVDataCallBack(0,1)"), 1);
  EXPECT_EQ(Library.Query("yuvcallback"), 0);
}

}  // namespace
