// DVR type 9 through the exports, against the stand-in TKL_Player.dll and its twelve codec
// libraries: stream kinds from the file head, the open sequence, real pictures in the window
// and the host callback, the write-retry loop and its end on a close, sound, snapshots, and
// file heads shorter than the stream header.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "HostPictures.h"
#include "PlayerAdapterTest.h"
#include "SnapTempFiles.h"
#include "U_DecodeTKL.h"
#include "ZrvStream.h"

namespace {

const std::string kRoot = std::string(ZORV_TESTROOT) + "/";
const std::uint8_t kMpegSignature[4] = {0x00, 0x00, 0x01, 0xB2};
const std::uint8_t kTrksSignature[4] = {'T', 'R', 'K', 'S'};

// A TKL file head: the stream's ZRV head with the kind's signature for its magic, then zeros up
// to Size bytes.
std::vector<std::uint8_t> FileHead(const std::uint8_t* Signature, const zrv::StreamParams& Params, std::size_t Size) {
  std::vector<std::uint8_t> Head = zrv::MakeStreamHead(Params);
  std::memcpy(Head.data(), Signature, 4);
  Head.resize(Size, 0);
  return Head;
}

class DecodeTKL : public TPlayerAdapterTest {
 protected:
  DecodeTKL() : TPlayerAdapterTest("PlayDll/TKL/TKL_Player.dll", TDecodeTKL::DvrTypeCode, 1, 3) {}
  std::int32_t Open(const std::vector<std::uint8_t>& FileHeadBytes) { return Add(ZORV_FRAME_FILEHEAD, FileHeadBytes); }
  StandinClient& Tkl = Library;
  zrv::StreamParams Params;
};

TEST(DecodeTKLStreamKind, FromTheFirstFourBytesOfTheFileHead) {
  const std::uint8_t Mpeg[] = {0x00, 0x00, 0x01, 0xB2, 0x77};
  const std::uint8_t Trks[] = {'T', 'R', 'K', 'S'};
  const std::uint8_t Other[] = {'T', 'R', 'K', 'X', 0};
  std::int32_t Kind = 0;
  std::uint32_t Size = 0;
  EXPECT_TRUE(TDecodeTKL::StreamKindOf(Mpeg, sizeof Mpeg, Kind, Size));
  EXPECT_EQ(Kind, 5);
  EXPECT_EQ(Size, 1024u);
  EXPECT_TRUE(TDecodeTKL::StreamKindOf(Trks, sizeof Trks, Kind, Size));
  EXPECT_EQ(Kind, 6);
  EXPECT_EQ(Size, 44u);
  EXPECT_FALSE(TDecodeTKL::StreamKindOf(Other, sizeof Other, Kind, Size));
  EXPECT_EQ(Kind, -1);
  // Fewer than four bytes carry no signature, whatever they start with.
  EXPECT_FALSE(TDecodeTKL::StreamKindOf(Mpeg, 3, Kind, Size));
  EXPECT_FALSE(TDecodeTKL::StreamKindOf(nullptr, 4, Kind, Size));
}

TEST_F(DecodeTKL, TrksFileHeadOpensAKindSixPlayerWithA44ByteHeader) {
  ASSERT_EQ(Open(FileHead(kTrksSignature, Params, 44)), 0);
  const std::string h = H();
  EXPECT_GE(Handle(), 7000) << "the library's handle, not the player number";
  EXPECT_EQ(Tkl.Calls("TKLPLAYER_"),
            (std::vector<std::string>{"TKLPLAYER_CreatePlayer(6,0)",
                                      "TKLPLAYER_SetVideoWindow(" + h + "," + std::to_string(Wnd) + ",ptr)",
                                      "TKLPLAYER_SetDisplayMode(" + h + ",0,0)", "TKLPLAYER_StreamEmptyBuf(" + h + ")",
                                      "TKLPLAYER_StreamOpen(" + h + ",ptr,44,0)",
                                      "TKLPLAYER_StreamEnableDataDriven(" + h + ",1)",
                                      "TKLPLAYER_SetPlaySpeed(" + h + ",9)", "TKLPLAYER_Play(" + h + ")",
                                      // the 4 bytes after the first 40, offered once
                                      "TKLPLAYER_StreamWriteToBuf(" + h + ",ptr,4,1,0,0)"}));
  EXPECT_EQ(Entry().OpenState, 2);
  EXPECT_EQ(Entry().OpenKind, 9);
  EXPECT_EQ(Entry().Wnd, Wnd);
  EXPECT_EQ(Entry().Group, Group);
  EXPECT_EQ(Tkl.Query("kind", Handle()), 6);
  EXPECT_EQ(Tkl.Query("playing", Handle()), 1);
  EXPECT_EQ(Tkl.Query("window", Handle()), Wnd);
}

TEST_F(DecodeTKL, MpegFileHeadOpensAKindFivePlayerWithA1024ByteHeader) {
  ASSERT_EQ(Open(FileHead(kMpegSignature, Params, 1024)), 0);
  const std::string h = H();
  EXPECT_EQ(Tkl.Calls("TKLPLAYER_CreatePlayer("), (std::vector<std::string>{"TKLPLAYER_CreatePlayer(5,0)"}));
  EXPECT_EQ(Tkl.Calls("TKLPLAYER_StreamOpen("),
            (std::vector<std::string>{"TKLPLAYER_StreamOpen(" + h + ",ptr,1024,0)"}));
  EXPECT_EQ(Tkl.Calls("TKLPLAYER_StreamWriteToBuf("),
            (std::vector<std::string>{"TKLPLAYER_StreamWriteToBuf(" + h + ",ptr,984,1,0,0)"}));
  EXPECT_EQ(Tkl.Query("headersize", Handle()), 1024);
}

TEST_F(DecodeTKL, AnyOtherFileHeadOpensNothing) {
  std::vector<std::uint8_t> Bad = FileHead(kTrksSignature, Params, 44);
  Bad[3] = 'X';
  Win::Test::TakeDebugOutput();
  EXPECT_EQ(Open(Bad), -1);
  EXPECT_EQ(Tkl.Count("TKLPLAYER_CreatePlayer("), 0);
  EXPECT_EQ(PlayerNo(), -1) << "the entry is free again";
  EXPECT_EQ(Win::Test::TakeDebugOutput().find("打开流失败"), std::string::npos);
  // A 3-byte head cannot hold a signature: nothing is read past it.
  const std::vector<std::uint8_t> Three(kMpegSignature, kMpegSignature + 3);
  EXPECT_EQ(Open(Three), -1);
  EXPECT_EQ(Tkl.Count("TKLPLAYER_CreatePlayer("), 0);
}

TEST_F(DecodeTKL, FileHeadShorterThanTheStreamHeaderIsNotReadPastItsEnd) {
  // The host's bytes sit in a larger buffer whose tail would show up in the header handed to
  // the library if it were read past the file head's length.
  for (const auto& [Signature, Length, Written] :
       {std::tuple{kTrksSignature, std::size_t{40}, -1}, std::tuple{kMpegSignature, std::size_t{100}, 60}}) {
    std::vector<std::uint8_t> Buffer(2048, 0xEE);
    const std::vector<std::uint8_t> Bytes = FileHead(Signature, Params, Length);
    std::memcpy(Buffer.data(), Bytes.data(), Bytes.size());
    Tkl.ClearJournal();
    ASSERT_EQ(Tarn_Decode_AddFrame(Head(ZORV_FRAME_FILEHEAD, Length), Buffer.data()), 0);
    EXPECT_EQ(Tkl.Query("headtail", Handle()), 0) << "header bytes past the file head are zero";
    EXPECT_EQ(Tkl.Query("open", Handle()), 1);
    const std::vector<std::string> Writes = Tkl.Calls("TKLPLAYER_StreamWriteToBuf(");
    if (Written < 0) {
      EXPECT_TRUE(Writes.empty()) << "a 40-byte file head has nothing after its stream head";
    } else {
      EXPECT_EQ(Writes, (std::vector<std::string>{"TKLPLAYER_StreamWriteToBuf(" + H() + ",ptr," +
                                                  std::to_string(Written) + ",1,0,0)"}));
    }
  }
}

TEST_F(DecodeTKL, PlaysTheStreamIntoTheWindowAndHandsRealPicturesToTheHost) {
  const zrv::SyntheticStream Stream = zrv::MakeSyntheticStream(Params, 12);
  const auto Expected = PicturesOf(Stream);
  ASSERT_EQ(Open(FileHead(kTrksSignature, Params, 44)), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  Tkl.ClearJournal();
  for (const zrv::Frame& F : Stream.frames) ASSERT_EQ(Add(F.frameType, F.bytes), 0);

  // The first frame started the library's decode callback.
  const std::string h = H();
  EXPECT_EQ(Tkl.Calls("TKLPLAYER_RegisterDecCallBack("),
            (std::vector<std::string>{"TKLPLAYER_RegisterDecCallBack(" + h + ",ptr,0,-1)"}));
  EXPECT_EQ(Tkl.Calls("TKLPLAYER_").front(), "TKLPLAYER_StreamEmptyBuf(" + h + ")");
  EXPECT_EQ(Entry().CallBackState, 2);
  EXPECT_EQ(Entry().CallBackProc, reinterpret_cast<std::uintptr_t>(&HostPictures::OnPicture));
  ASSERT_TRUE(WaitUntil([&] { return HostPictures::Count() >= Expected.size(); }));

  const auto Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), Expected.size());
  for (std::size_t i = 0; i < Got.size(); ++i) {
    EXPECT_EQ(Got[i].Channel, Channel);
    EXPECT_EQ(Got[i].Info.Size, 352u * 288 * 3 / 2);
    EXPECT_EQ(Got[i].Info.Width, 352u);
    EXPECT_EQ(Got[i].Info.Height, 288u);
    EXPECT_EQ(Got[i].Info.FrameKind, 1);
    EXPECT_EQ(Got[i].Info.DvrType, 9);
    EXPECT_TRUE(Got[i].Bytes == Expected[i]) << "picture " << i;
  }
  // Every picture was drawn into the channel's window as well.
  const auto Pictures = static_cast<std::int64_t>(Expected.size());
  EXPECT_TRUE(WaitUntil([&] { return Tkl.Query("drawn", Handle()) >= Pictures; }));

  // Stopped: the next frame takes the library's callback back; no picture reaches the host.
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1);
  EXPECT_EQ(Tkl.Calls("TKLPLAYER_UnRegisterDecCallBack("),
            (std::vector<std::string>{"TKLPLAYER_UnRegisterDecCallBack(" + h + ")"}));
  EXPECT_EQ(Tkl.Query("callback", Handle()), 0);
  ASSERT_EQ(Add(Stream.frames[0].frameType, Stream.frames[0].bytes), 0);
  EXPECT_TRUE(WaitUntil([&] { return Tkl.Query("decoded", Handle()) > static_cast<std::int64_t>(Expected.size()); }));
  EXPECT_EQ(HostPictures::Count(), 0u);

  Tkl.ClearJournal();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_EQ(Tkl.Calls("TKLPLAYER_"),
            (std::vector<std::string>{"TKLPLAYER_StreamEmptyBuf(" + h + ")", "TKLPLAYER_Stop(" + h + ")",
                                      "TKLPLAYER_ReleasePlayer(" + h + ")"}));
  EXPECT_EQ(Tkl.Query("live"), 0);
  EXPECT_EQ(PlayerNo(), -1);
}

TEST_F(DecodeTKL, ChannelsFedAtOnceEachGetTheirOwnPictures) {
  // Four channels, each fed its own picture size from its own thread.
  constexpr std::uint32_t Channels = 4;
  std::vector<std::thread> Feeders;
  std::vector<std::int32_t> Failures(Channels, 0);
  for (std::uint32_t C = 0; C < Channels; ++C) {
    Feeders.emplace_back([&, C] {
      zrv::StreamParams P;
      P.width = 64 + 16 * static_cast<int>(C);
      P.height = 48;
      const zrv::SyntheticStream Stream = zrv::MakeSyntheticStream(P, 15);
      const std::vector<std::uint8_t> FileHeadBytes = FileHead(kTrksSignature, P, 44);
      Failures[C] += Tarn_Decode_AddFrame(HeadOf(ZORV_FRAME_FILEHEAD, 44, C), FileHeadBytes.data()) != 0;
      Failures[C] += Tarn_Decode_StartCallBack(HeadOf(ZORV_FRAME_P, 0, C), &HostPictures::OnPicture) != 0;
      for (const zrv::Frame& F : Stream.frames)
        Failures[C] += Tarn_Decode_AddFrame(HeadOf(F.frameType, F.bytes.size(), C), F.bytes.data()) != 0;
    });
  }
  for (std::thread& T : Feeders) T.join();
  EXPECT_EQ(Failures, std::vector<std::int32_t>(Channels, 0));
  ASSERT_TRUE(WaitUntil([&] { return HostPictures::Count() >= 15 * Channels; }));
  std::vector<int> PerChannel(Channels, 0);
  for (const THostPicture& P : HostPictures::Take()) {
    ASSERT_LT(P.Channel, Channels);
    EXPECT_EQ(P.Info.Width, 64u + 16 * P.Channel) << "a picture of another channel's stream";
    ++PerChannel[P.Channel];
  }
  EXPECT_EQ(PerChannel, std::vector<int>(Channels, 15));
}

TEST_F(DecodeTKL, DecodeCallBackWithoutAPictureSizeCallsNothing) {
  const zrv::SyntheticStream Stream = zrv::MakeSyntheticStream(Params, 1);
  ASSERT_EQ(Open(FileHead(kTrksSignature, Params, 44)), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  ASSERT_EQ(Add(Stream.frames[0].frameType, Stream.frames[0].bytes), 0);
  // The library has finished with the frame once it can call back with its picture.
  ASSERT_TRUE(WaitUntil([&] { return Tkl.Fire("decode", Handle()) == 0; }));
  HostPictures::Clear();
  EXPECT_EQ(Tkl.Fire("decode", Handle(), 0, 288), 0);
  EXPECT_EQ(Tkl.Fire("decode", Handle(), 352, 0), 0);
  EXPECT_EQ(Tkl.Fire("decode", Handle(), -352, 288), 0);
  EXPECT_EQ(HostPictures::Count(), 0u);
  EXPECT_EQ(Tkl.Fire("decode", Handle()), 0);
  EXPECT_EQ(HostPictures::Count(), 1u);
}

TEST_F(DecodeTKL, RefusedFrameIsOfferedAHundredTimesThenDropped) {
  ASSERT_EQ(Open(FileHead(kTrksSignature, Params, 44)), 0);
  const zrv::SyntheticStream Stream = zrv::MakeSyntheticStream(Params, 2);
  Tkl.Return("TKLPLAYER_StreamWriteToBuf", 0);
  Tkl.ClearJournal();
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Add(Stream.frames[0].frameType, Stream.frames[0].bytes), -1);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 500u) << "100 pauses of 5 ms";
  EXPECT_EQ(Tkl.Count("TKLPLAYER_StreamWriteToBuf(" + H() + ",ptr," + std::to_string(Stream.frames[0].bytes.size()) +
                      ",1,0,0)"),
            100);
  // Taken at once: one write, no pause.
  Tkl.Unscript("TKLPLAYER_StreamWriteToBuf");
  Tkl.ClearJournal();
  const std::uint64_t Again = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Add(Stream.frames[1].frameType, Stream.frames[1].bytes), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread(), Again);
  EXPECT_EQ(Tkl.Count("TKLPLAYER_StreamWriteToBuf("), 1);
}

TEST_F(DecodeTKL, CloseDuringTheRetriesEndsThemAtOnce) {
  ASSERT_EQ(Open(FileHead(kTrksSignature, Params, 44)), 0);
  const zrv::SyntheticStream Stream = zrv::MakeSyntheticStream(Params, 1);
  Tkl.ClearJournal();
  Tkl.SetOption("write.hold", 1);  // the first write waits, then is refused
  std::int32_t Result = 0;
  std::thread Feeder([&] { Result = Add(Stream.frames[0].frameType, Stream.frames[0].bytes); });
  ASSERT_TRUE(WaitUntil([&] { return Tkl.Query("held") == 1; }));
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  Tkl.Fire("release", 0);
  Feeder.join();
  EXPECT_EQ(Result, -1);
  EXPECT_EQ(Tkl.Count("TKLPLAYER_StreamWriteToBuf("), 1) << "no write after the stream was closed";
}

TEST_F(DecodeTKL, FailedStreamOpenLogsAndGivesTheLibraryPlayerBack) {
  Tkl.Return("TKLPLAYER_StreamOpen", 0);
  Win::Test::TakeDebugOutput();
  EXPECT_EQ(Open(FileHead(kTrksSignature, Params, 44)), -1);
  const std::string Log = Win::Test::TakeDebugOutput();
  EXPECT_NE(Log.find("| 文件头，打开流失败;显示画面序号:3播放器序号:0"), std::string::npos) << Log;
  EXPECT_EQ(Tkl.Count("TKLPLAYER_ReleasePlayer("), 1);
  EXPECT_EQ(Tkl.Query("live"), 0);
  EXPECT_EQ(PlayerNo(), -1);
  EXPECT_EQ(Tkl.Count("TKLPLAYER_Play("), 0);
}

TEST_F(DecodeTKL, ExceptionDuringTheOpenIsLoggedAndGivesTheLibraryPlayerBack) {
  Tkl.Throw("TKLPLAYER_StreamOpen", 1);
  Win::Test::TakeDebugOutput();
  EXPECT_EQ(Open(FileHead(kTrksSignature, Params, 44)), -1);
  const std::string Log = Win::Test::TakeDebugOutput();
  EXPECT_NE(Log.find("| 文件头，打开流错误;显示画面序号:3播放器序号:0"), std::string::npos) << Log;
  EXPECT_EQ(Tkl.Query("live"), 0);
  EXPECT_EQ(PlayerNo(), -1);
  ASSERT_EQ(Open(FileHead(kTrksSignature, Params, 44)), 0);
}

TEST_F(DecodeTKL, CloseWhoseStopFailsLeavesTheChannelOpen) {
  ASSERT_EQ(Open(FileHead(kTrksSignature, Params, 44)), 0);
  Tkl.Return("TKLPLAYER_Stop", 0, 1);
  Tkl.ClearJournal();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), -1);
  EXPECT_EQ(Tkl.Count("TKLPLAYER_ReleasePlayer("), 0);
  EXPECT_EQ(Tkl.Query("live"), 1);
  // The adapter keeps the player; a new file head opens another one.
  EXPECT_GE(PlayerNo(), 0);
  ASSERT_EQ(Open(FileHead(kTrksSignature, Params, 44)), 0);
}

TEST_F(DecodeTKL, SoundFollowsTheStreamHead) {
  zrv::StreamParams WithSound = Params;
  WithSound.audio = true;
  ASSERT_EQ(Open(FileHead(kMpegSignature, WithSound, 1024)), 0);
  EXPECT_EQ(Entry().HasAudio, 1);
  EXPECT_EQ(Tarn_Decode_PlaySound(Head()), 0);
  EXPECT_EQ(Tarn_Decode_PlaySound(Head()), 0);
  EXPECT_EQ(Tkl.Calls("TKLPLAYER_EnableAudio("), (std::vector<std::string>{"TKLPLAYER_EnableAudio(" + H() + ",-1)"}));
  EXPECT_EQ(Tkl.Query("sound", Handle()), 1);
  EXPECT_EQ(Tarn_Decode_StopSound(Head()), 0);
  EXPECT_EQ(Tkl.Calls("TKLPLAYER_EnableAudio(").back(), "TKLPLAYER_EnableAudio(" + H() + ",0)");
  EXPECT_EQ(Entry().SoundState, 0);

  // Audio frames go to the buffer like any other and switch nothing on.
  const zrv::SyntheticStream Stream = zrv::MakeSyntheticStream(WithSound, 1);
  Tkl.ClearJournal();
  ASSERT_EQ(Add(Stream.frames[1].frameType, Stream.frames[1].bytes), 0);
  EXPECT_EQ(Tkl.Count("TKLPLAYER_EnableAudio("), 0);
  EXPECT_EQ(Tkl.Count("TKLPLAYER_StreamWriteToBuf("), 1);

  // Without sound in the stream head the library is never asked.
  Channel = 2;
  ASSERT_EQ(Open(FileHead(kMpegSignature, Params, 1024)), 0);
  Tkl.ClearJournal();
  EXPECT_EQ(Tarn_Decode_PlaySound(Head()), 0);
  EXPECT_EQ(Entry().SoundState, 1);
  EXPECT_EQ(Tkl.Count("TKLPLAYER_EnableAudio("), 0);
}

TEST_F(DecodeTKL, SnapshotWaitsInVainAndLeavesNoTemporaryFile) {
  std::int32_t Size[2] = {-1, -1};
  std::vector<std::uint8_t> Memory(1 << 20);
  std::uint8_t* Buffer = Memory.data();
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Buffer), -1) << "no stream";

  ASSERT_EQ(Open(FileHead(kTrksSignature, Params, 44)), 0);
  const auto FilesBefore = SnapTempFiles();
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Buffer), -1);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 600u) << "300 rounds of 2 ms";
  EXPECT_EQ(SnapTempFiles(), FilesBefore);
}

TEST_F(DecodeTKL, PausesTakeTheirTimeInRealTime) {
  Win::Test::SetSleepScale(1.0);
  const auto Start = std::chrono::steady_clock::now();
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  ASSERT_EQ(Open(FileHead(kTrksSignature, Params, 44)), 0);  // 500 ms for the player entry
  Tkl.Return("TKLPLAYER_StreamWriteToBuf", 0);
  const zrv::SyntheticStream Stream = zrv::MakeSyntheticStream(Params, 1);
  EXPECT_EQ(Add(Stream.frames[0].frameType, Stream.frames[0].bytes), -1);  // 100 x 5 ms
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);                        // 100 + 100 ms
  const std::uint64_t Nominal = Win::Test::NominalSleepMsOfThisThread() - Before;
  const auto Elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Start).count();
  EXPECT_EQ(Nominal, 1200u);
  EXPECT_GE(Elapsed, 1200);
}

TEST(DecodeTKLLibraries, AMissingCodecLibraryKeepsTheAdapterUnloadedUntilItAppears) {
  namespace fs = std::filesystem;
  const fs::path Root = fs::temp_directory_path() / ("zorv-tkl-" + std::to_string(Win::GetCurrentProcessId()));
  const fs::path Tkl = Root / "PlayDll" / "TKL";
  fs::remove_all(Root);
  fs::create_directories(Tkl);
  const fs::path Source = fs::path(Win::NativePath((kRoot + "PlayDll/TKL").c_str()));
  for (const auto& File : fs::directory_iterator(Source))
    if (File.path().filename() != "Mp4Dec.dll") fs::copy_file(File.path(), Tkl / File.path().filename());

  const std::string Dir = Root.string() + "/";
  ASSERT_EQ(Tarn_Decode_Initialize(0, Dir.c_str(), 1), 0);
  const std::vector<std::uint8_t> Bytes = FileHead(kTrksSignature, zrv::StreamParams{}, 44);
  TFrameHead H;
  std::memset(&H, 0, sizeof H);
  H.DataLen = static_cast<std::uint32_t>(Bytes.size());
  H.FrameType = ZORV_FRAME_FILEHEAD;
  H.DvrType = TDecodeTKL::DvrTypeCode;
  EXPECT_EQ(Tarn_Decode_AddFrame(H, Bytes.data()), -1);
  EXPECT_EQ(DecodeEngine()->Decoder(9)->State(), 0);

  fs::copy_file(Source / "Mp4Dec.dll", Tkl / "Mp4Dec.dll");
  EXPECT_EQ(Tarn_Decode_AddFrame(H, Bytes.data()), 0) << "loading is tried again on the next frame";
  EXPECT_EQ(DecodeEngine()->Decoder(9)->State(), 2);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(H), 0);
  Tarn_Decode_ShutDown();
  std::error_code Ignored;
  fs::remove_all(Root, Ignored);
}

}  // namespace
