// DVR type 8 through the exports, against the stand-in NetPlaySDK.dll: the 16-byte system
// header, frames sent with their time stamps and key/video flags, real pictures through the
// decode callback and its user value, sound, snapshots, close, and short input.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "HostPictures.h"
#include "PlayerAdapterTest.h"
#include "SnapTempFiles.h"
#include "U_DecodeTklDvs201.h"
#include "ZrvStream.h"

namespace {

// The file head: the stand-in's 16-byte system header ("T201", width, height, frame rate,
// system format), then zeros up to Size bytes.
std::vector<std::uint8_t> FileHead(const zrv::StreamParams& Params, std::size_t Size = 40) {
  std::vector<std::uint8_t> Head(std::max<std::size_t>(Size, 16), 0);
  std::memcpy(Head.data(), "T201", 4);
  auto Put16 = [&](std::size_t At, int Value) {
    Head[At] = static_cast<std::uint8_t>(Value & 0xFF);
    Head[At + 1] = static_cast<std::uint8_t>(Value >> 8);
  };
  Put16(4, Params.width);
  Put16(6, Params.height);
  Put16(8, Params.fps);
  Head[10] = Params.audio ? zrv::kSystemVideoAudio : zrv::kSystemVideoOnly;
  Head.resize(Size);
  return Head;
}

// A frame as a DVS201 recorder sends it: its 32-bit time stamp, then the payload.
std::vector<std::uint8_t> Stamped(std::uint32_t Stamp, const std::vector<std::uint8_t>& Payload) {
  std::vector<std::uint8_t> Frame(4 + Payload.size());
  std::memcpy(Frame.data(), &Stamp, 4);
  std::copy(Payload.begin(), Payload.end(), Frame.begin() + 4);
  return Frame;
}

class DecodeTVS : public TPlayerAdapterTest {
 protected:
  DecodeTVS() : TPlayerAdapterTest("PlayDll/TKLDVS201/NetPlaySDK.dll", TDecodeTVS::DvrTypeCode, 3, 42) {}
  std::int32_t Open(std::size_t Size = 40) { return Add(ZORV_FRAME_FILEHEAD, FileHead(Params, Size)); }
  StandinClient& Net = Library;
  zrv::StreamParams Params;
};

TEST_F(DecodeTVS, SystemHeaderOpensAStreamPlayingInTheWindow) {
  ASSERT_EQ(Open(), 0);
  const std::string h = H();
  EXPECT_GE(Handle(), 3000) << "the library's handle, not the player number";
  const std::vector<std::string> Calls = Net.Calls("NETPLAY_");
  ASSERT_EQ(Calls.size(), 4u);
  EXPECT_EQ(Calls[0], "NETPLAY_InitPlayer()");
  EXPECT_EQ(Calls[1], "NETPLAY_Open(ptr)");
  EXPECT_EQ(Calls[2], "NETPLAY_FlushAllBuff(" + h + ")");
  // The user value of this first play is the address of a copy of the handle.
  EXPECT_EQ(Calls[3].rfind("NETPLAY_Play(" + h + "," + std::to_string(Wnd) + ",0,", 0), 0u) << Calls[3];
  EXPECT_NE(Calls[3], "NETPLAY_Play(" + h + "," + std::to_string(Wnd) + ",0,0)");
  EXPECT_EQ(Entry().OpenState, 2);
  EXPECT_EQ(Entry().OpenKind, 8);
  EXPECT_EQ(Entry().Wnd, Wnd);
  EXPECT_EQ(Entry().Group, Group);
  EXPECT_EQ(Entry().HasAudio, 0);
  EXPECT_EQ(Net.Query("width", Handle()), 352);
  EXPECT_EQ(Net.Query("playing", Handle()), 1);
  EXPECT_EQ(Win::Test::TakeDebugOutput().find("201 syshead error"), std::string::npos);
}

TEST_F(DecodeTVS, FileHeadLongerThan40BytesIsLoggedAndStillOpens) {
  Win::Test::TakeDebugOutput();
  ASSERT_EQ(Open(56), 0);
  const std::string Log = Win::Test::TakeDebugOutput();
  EXPECT_NE(Log.find("| 201 syshead error"), std::string::npos) << Log;
  EXPECT_EQ(Net.Query("open", Handle()), 1);
}

TEST_F(DecodeTVS, RefusedSystemHeaderOpensNothingSilently) {
  Net.Return("NETPLAY_Open", -1);
  Win::Test::TakeDebugOutput();
  EXPECT_EQ(Open(), -1);
  EXPECT_EQ(Net.Count("NETPLAY_Play("), 0);
  EXPECT_EQ(Net.Count("NETPLAY_FlushAllBuff("), 0) << "nothing is asked of a handle that is not one";
  EXPECT_EQ(PlayerNo(), -1);
  EXPECT_EQ(Win::Test::TakeDebugOutput().find("显示画面序号"), std::string::npos);
}

TEST_F(DecodeTVS, ExceptionDuringTheOpenIsLogged) {
  Net.Throw("NETPLAY_Open", 1);
  Win::Test::TakeDebugOutput();
  EXPECT_EQ(Open(), -1);
  const std::string Log = Win::Test::TakeDebugOutput();
  EXPECT_NE(Log.find("| 文件头，打开流错误;显示画面序号:42播放器序号:0"), std::string::npos) << Log;
  EXPECT_EQ(PlayerNo(), -1);
  ASSERT_EQ(Open(), 0);
}

TEST_F(DecodeTVS, FileHeadShorterThanTheSystemHeaderIsNotRead) {
  std::vector<std::uint8_t> Buffer(64, 0xEE);
  const std::vector<std::uint8_t> Bytes = FileHead(Params, 16);
  std::memcpy(Buffer.data(), Bytes.data(), 10);
  EXPECT_EQ(Tarn_Decode_AddFrame(Head(ZORV_FRAME_FILEHEAD, 10), Buffer.data()), -1);
  EXPECT_EQ(Net.Count("NETPLAY_Open("), 0);
  EXPECT_EQ(PlayerNo(), -1);
  EXPECT_EQ(Net.Query("live"), 0);
}

TEST_F(DecodeTVS, FramesAreSentWithTimeStampKeyAndVideoFlags) {
  ASSERT_EQ(Open(), 0);
  const std::string h = H();
  const std::vector<std::uint8_t> Payload(10, 0x55);
  Net.ClearJournal();
  EXPECT_EQ(Add(ZORV_FRAME_I, Stamped(0x12345678u, Payload)), 0);
  EXPECT_EQ(Add(ZORV_FRAME_P, Stamped(40, Payload)), 0);
  EXPECT_EQ(Add(ZORV_FRAME_BBP, Stamped(80, Payload)), 0);
  EXPECT_EQ(Add(ZORV_FRAME_AUDIO, Stamped(80, Payload)), 0);
  EXPECT_EQ(Add(ZORV_FRAME_P, Stamped(0xFFFFFFFFu, {})), 0);  // a time stamp alone
  EXPECT_EQ(Net.Calls("NETPLAY_"), (std::vector<std::string>{
                                       "NETPLAY_SendData(" + h + ",ptr,10,305419896,1,-1)",
                                       "NETPLAY_SendData(" + h + ",ptr,10,40,0,-1)",
                                       "NETPLAY_SendData(" + h + ",ptr,10,80,0,-1)",
                                       "NETPLAY_SendData(" + h + ",ptr,10,80,0,0)",
                                       "NETPLAY_SendData(" + h + ",ptr,0,4294967295,0,-1)",
                                   }));
  EXPECT_EQ(Net.Query("stamp", Handle()), 4294967295);
  EXPECT_EQ(Entry().SoundState, 0) << "audio frames switch nothing on";

  // Shorter than its time stamp: not sent.
  Net.ClearJournal();
  const std::vector<std::uint8_t> Short = {0x01, 0x02};
  EXPECT_EQ(Add(ZORV_FRAME_P, Short), -1);
  EXPECT_EQ(Net.Count("NETPLAY_SendData("), 0);
}

TEST_F(DecodeTVS, PicturesReachTheHostThroughTheHandleGivenAsUserValue) {
  const zrv::SyntheticStream Stream = zrv::MakeSyntheticStream(Params, 10);
  const auto Expected = PicturesOf(Stream);
  ASSERT_EQ(Open(), 0);
  const std::string h = H();
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  Net.ClearJournal();
  std::uint32_t Stamp = 0;
  for (const zrv::Frame& F : Stream.frames) ASSERT_EQ(Add(F.frameType, Stamped(Stamp += 40, F.bytes)), 0);

  const std::vector<std::string> Calls = Net.Calls("NETPLAY_");
  ASSERT_GE(Calls.size(), 2u);
  EXPECT_EQ(Calls[0], "NETPLAY_FlushAllBuff(" + h + ")");
  EXPECT_EQ(Calls[1], "NETPLAY_Play(" + h + "," + std::to_string(Wnd) + ",ptr," + h + ")");
  EXPECT_EQ(Net.Query("user", Handle()), Handle());
  EXPECT_EQ(Net.Query("keys", Handle()), 1);
  ASSERT_TRUE(WaitUntil([&] { return HostPictures::Count() >= Expected.size(); }));

  const auto Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), Expected.size());
  for (std::size_t i = 0; i < Got.size(); ++i) {
    EXPECT_EQ(Got[i].Channel, Channel);
    EXPECT_EQ(Got[i].Info.Size, 352u * 288 * 3 / 2);
    EXPECT_EQ(Got[i].Info.Width, 352u);
    EXPECT_EQ(Got[i].Info.Height, 288u);
    EXPECT_EQ(Got[i].Info.FrameKind, 1);
    EXPECT_EQ(Got[i].Info.DvrType, 8);
    EXPECT_TRUE(Got[i].Bytes == Expected[i]) << "picture " << i;
  }
  // Every picture was drawn into the channel's window as well.
  const auto Pictures = static_cast<std::int64_t>(Expected.size());
  EXPECT_TRUE(WaitUntil([&] { return Net.Query("drawn", Handle()) >= Pictures; }));

  // A picture without a size calls nothing.
  EXPECT_EQ(Net.Fire("decode", Handle(), 0, 288), 0);
  EXPECT_EQ(Net.Fire("decode", Handle(), 352, 0), 0);
  EXPECT_EQ(Net.Fire("decode", Handle(), -2, 288), 0);
  EXPECT_EQ(HostPictures::Count(), 0u);

  // Stopped: the library keeps its callback, but nothing reaches the host.
  Net.ClearJournal();
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1);
  EXPECT_EQ(Net.Calls("NETPLAY_"), (std::vector<std::string>{"NETPLAY_FlushAllBuff(" + h + ")"}));
  EXPECT_EQ(Net.Query("callback", Handle()), 1);
  EXPECT_EQ(Net.Fire("decode", Handle()), 0);
  EXPECT_EQ(HostPictures::Count(), 0u);
}

TEST_F(DecodeTVS, SoundIsOnlyRemembered) {
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(Tarn_Decode_PlaySound(Head()), 0);
  EXPECT_EQ(Entry().SoundState, 1);
  EXPECT_EQ(Tarn_Decode_StopSound(Head()), 0);
  EXPECT_EQ(Net.Count("NETPLAY_PlaySound("), 0);
  EXPECT_EQ(Net.Count("NETPLAY_StopSound("), 0);
}

TEST_F(DecodeTVS, SnapshotWaitsInVainAndLeavesNoTemporaryFile) {
  ASSERT_EQ(Open(), 0);
  std::int32_t Size[2] = {-1, -1};
  std::vector<std::uint8_t> Memory(1 << 20);
  std::uint8_t* Buffer = Memory.data();
  const auto FilesBefore = SnapTempFiles();
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Buffer), -1);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 600u) << "300 rounds of 2 ms";
  EXPECT_EQ(SnapTempFiles(), FilesBefore);
}

TEST_F(DecodeTVS, CloseStopsTheStreamAndTakesItsTimeInRealTime) {
  Win::Test::SetSleepScale(1.0);
  ASSERT_EQ(Open(), 0);
  const std::string h = H();
  Net.ClearJournal();
  const auto Start = std::chrono::steady_clock::now();
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  const std::uint64_t Nominal = Win::Test::NominalSleepMsOfThisThread() - Before;
  const auto Elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Start).count();
  EXPECT_EQ(Nominal, 200u) << "100 ms after the stop, 100 ms freeing the entry";
  EXPECT_GE(Elapsed, 200);
  EXPECT_EQ(Net.Calls("NETPLAY_"),
            (std::vector<std::string>{"NETPLAY_FlushAllBuff(" + h + ")", "NETPLAY_Stop(" + h + ")"}));
  EXPECT_EQ(Net.Query("live"), 0);
  EXPECT_EQ(PlayerNo(), -1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), -1);
}

}  // namespace
