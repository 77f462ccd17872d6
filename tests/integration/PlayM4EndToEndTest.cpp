// The PlayM4_* layer end to end over the Hikvision player adapter and the stand-in
// HikPlayM4.dll: the decode callback wish across PlayM4_Stop and PlayM4_CloseStream with real
// pictures, and file playback with its controls and queries reaching the player library.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "Platform.h"
#include "StandinClient.h"
#include "ZorvDecoder.h"
#include "ZrvStream.h"

namespace {

const std::string kRoot = std::string(ZORV_TESTROOT) + "/";
std::atomic<int> gPictures{0};
std::atomic<int> gLastChannel{-1};

void ZORV_STDCALL OnPicture(std::int32_t Channel, const std::uint8_t*, std::int32_t, const void*, std::int32_t,
                            std::int32_t) {
  gLastChannel = Channel;
  ++gPictures;
}

bool WaitFor(int Want) {
  for (int i = 0; i < 5000 && gPictures < Want; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return gPictures >= Want;
}

class PlayM4EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Hik.Loaded());
    Hik.Reset();
    gPictures = 0;
    gLastChannel = -1;
    ASSERT_EQ(Tarn_Decode_Initialize(0, kRoot.c_str(), 1), 0);
    zrv::StreamParams P;
    P.width = 32;
    P.height = 32;
    Stream = zrv::MakeSyntheticStream(P, 3);
  }
  void TearDown() override {
    Tarn_Decode_ShutDown();
    Hik.Reset();
  }
  void OpenAndFeed(std::int32_t Port) {
    ASSERT_EQ(PlayM4_OpenStream(Port, 2, Stream.head.data(), 40, 0), 1);
    for (const zrv::Frame& F : Stream.frames)
      ASSERT_EQ(PlayM4_InputData(Port, const_cast<std::uint8_t*>(F.bytes.data()),
                                 static_cast<std::uint32_t>(F.bytes.size())),
                1);
  }
  StandinClient Hik{kRoot + "PlayDll\\HIK\\HikPlayM4.dll"};
  zrv::SyntheticStream Stream;
};

TEST_F(PlayM4EndToEnd, DecodeCallBackRestartsAfterStopNotAfterCloseStream) {
  ASSERT_EQ(PlayM4_SetDecCallBack(11, OnPicture), 1);
  OpenAndFeed(11);
  ASSERT_TRUE(WaitFor(3));
  EXPECT_EQ(gLastChannel, 11);

  EXPECT_EQ(PlayM4_Stop(11), 1);
  gPictures = 0;
  OpenAndFeed(11);
  EXPECT_TRUE(WaitFor(3)) << "the wish survives PlayM4_Stop";

  EXPECT_EQ(PlayM4_CloseStream(11), 1);
  const int SetDecBefore = Hik.Count("Hik_PlayM4_SetDecCallBack(");
  gPictures = 0;
  OpenAndFeed(11);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(Hik.Count("Hik_PlayM4_SetDecCallBack("), SetDecBefore) << "no wish after PlayM4_CloseStream";
  EXPECT_EQ(gPictures, 0);
  EXPECT_EQ(PlayM4_SetDecCallBack(11, nullptr), 0);
  EXPECT_EQ(PlayM4_CloseStream(11), 1);
}

TEST_F(PlayM4EndToEnd, FilePlaybackControlsReachThePlayer) {
  char Dir[Win::MAX_PATH + 1] = {};
  Win::GetTempPathA(Win::MAX_PATH, Dir);
  const std::string File = std::string(Dir) + "zorv_playm4_file.zrv";
  ASSERT_TRUE(zrv::WriteFile(File, Stream.FileBytes()));
  Hik.SetOption("player.filepace", 0);
  ASSERT_EQ(PlayM4_OpenFile(12, 3, File.c_str()), 1);  // type 3 is the Hikvision player
  EXPECT_EQ(Hik.Count("Hik_PlayM4_OpenFile(12,"), 0);   // the port is the player number, not 12
  EXPECT_EQ(Hik.Count("Hik_PlayM4_OpenFile("), 1);
  EXPECT_EQ(PlayM4_GetFileTotalFrames(12), 3);
  EXPECT_EQ(PlayM4_Play(12, 0), 1);
  EXPECT_NE(PlayM4_SetPlayPos(12, 0.5), 0);
  EXPECT_EQ(Hik.Calls("Hik_PlayM4_SetPlayPos(").size(), 1u);
  const double Pos = PlayM4_GetPlayPos(12);
  EXPECT_GE(Pos, 0.0);
  EXPECT_LE(Pos, 1.0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_GetPlayPos("), 1);
  PlayM4_Pause(12, 1);
  PlayM4_Fast(12);
  PlayM4_Slow(12);
  PlayM4_OneByOne(12);
  PlayM4_GetPlayedFrames(12);
  PlayM4_GetCurrentFrameNum(12);
  for (const char* Entry : {"Hik_PlayM4_Pause(", "Hik_PlayM4_Fast(", "Hik_PlayM4_Slow(", "Hik_PlayM4_OneByOne(",
                            "Hik_PlayM4_GetPlayedFrames(", "Hik_PlayM4_GetCurrentFrameNum("})
    EXPECT_EQ(Hik.Count(Entry), 1) << Entry;
  EXPECT_NE(PlayM4_CloseFile(12), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_CloseFile("), 1);
  EXPECT_EQ(PlayM4_CloseStream(12), 1);
  Win::DeleteFileA(File.c_str());
}

}  // namespace
