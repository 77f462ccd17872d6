// DVR type 20 through the exports, against the stand-in SHXDecoder.dll in PlayDll/HuaYu and the
// stand-in drawyuv.dll: one decoder opened on the file head, which it decodes; pictures drawn
// through the shared renderer and, while the host's callback runs, handed to it in the
// decoder's plane order; snapshots; audio to the wave output; and what the adapter refuses to
// read (pictures beyond its buffer, results that are no picture).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "HostPictures.h"
#include "SHXAdapterTest.h"
#include "SnapTempFiles.h"
#include "U_DecodeHuaYu.h"
#include "ZrvStream.h"

namespace {

class DecodeHuaYu : public TSHXAdapterTest {
 protected:
  DecodeHuaYu() : TSHXAdapterTest("PlayDll/HuaYu/SHXDecoder.dll", TDecodeHuaYu::DvrTypeCode, 2, 5) {}
  std::int32_t Open() { return Add(ZORV_FRAME_FILEHEAD, Stream.head); }
  std::int32_t AddAudio() {
    const std::vector<std::int16_t> Pcm(160, 7);
    return Add(ZORV_FRAME_AUDIO, zrv::MakeAudioPacket(Pcm.data(), Pcm.size(), 0, 99));
  }
};

TEST_F(DecodeHuaYu, OpensOnTheFileHeadAndDecodesIt) {
  const std::uint64_t Start = Win::Test::NominalSleepMsOfThisThread();
  ASSERT_EQ(Open(), 0);
  EXPECT_GE(Win::Test::NominalSleepMsOfThisThread() - Start, 500u) << "the player allocation pause";
  EXPECT_EQ(Shx.Calls("SHXDec_Create("), (std::vector<std::string>{"SHXDec_Create(12,352,288)"}));
  EXPECT_EQ(Shx.Calls("SHXDec_Decode("),
            (std::vector<std::string>{"SHXDec_Decode(1,ptr," + std::to_string(Stream.head.size()) + ",ptr)"}));
  EXPECT_EQ(Shx.Query("heads", 1), 1) << "the decoder took the stream's header";
  EXPECT_EQ(Shx.Count("SHXDec_GetDecoderInfo(1,"), 1);
  ASSERT_GE(PlayerNo(), 0);
  EXPECT_EQ(Entry().Port, 1);
  EXPECT_EQ(Entry().OpenState, 2);
  EXPECT_EQ(Entry().OpenKind, 20);
  EXPECT_EQ(Entry().Group, Group);
  EXPECT_EQ(Entry().Wnd, Wnd);
  EXPECT_EQ(Entry().HasAudio, 1);
  const std::vector<std::string> Log = TakeLogMessages();
  EXPECT_NE(std::find(Log.begin(), Log.end(), "---------------------1"), Log.end());
  ASSERT_NE(DrawHandle(), 0) << "a drawing handle for the channel's window";
  EXPECT_EQ(Draws(), 0) << "the file head is no picture";

  // Every frame is a picture of the stream, the frame that followed the file head included;
  // the result is the picture's byte count, and the size was learnt from the file head.
  for (std::size_t I = 0; I < 4; ++I) EXPECT_EQ(AddVideo(I), 152064);
  EXPECT_EQ(Shx.Query("decoded", 1), 4);
  EXPECT_EQ(Draws(), 4);
  EXPECT_EQ(Draw.Calls("DrawPic(").back(), "DrawPic(" + std::to_string(DrawHandle()) + ",ptr,152064,352,288,0,0)");
  EXPECT_EQ(Shx.Count("SHXDec_GetDecoderInfo("), 1) << "asked on the file head only";

  // The fixed answers.
  EXPECT_EQ(Tarn_Decode_RefrushWindow(Head()), -1);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head()), 0);

  // A new file head closes the stream and opens another decoder.
  Shx.ClearJournal();
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(Shx.Calls("SHXDec_Destroy("), (std::vector<std::string>{"SHXDec_Destroy(1)"}));
  EXPECT_EQ(Entry().Port, 2);
  EXPECT_EQ(AddVideo(1), 152064);
  EXPECT_EQ(Draws(), 1);

  const std::uint64_t BeforeClose = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_GE(Win::Test::NominalSleepMsOfThisThread() - BeforeClose, 100u);
  EXPECT_EQ(Shx.Query("decoders"), 0);
  EXPECT_EQ(Draw.Query("handles"), 0) << "the drawing handle is freed on close";
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head()), -1);
  Shx.ClearJournal();
  AddVideo(2);
  EXPECT_EQ(Shx.Count("SHXDec_"), 0) << "no stream until the next file head";
}

TEST_F(DecodeHuaYu, AudioFramesSwitchTheSoundOnAndGoToTheWaveOutput) {
  ASSERT_EQ(Open(), 0);
  Shx.ClearJournal();
  EXPECT_EQ(Entry().SoundState, 0);
  const std::uint64_t Start = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(AddAudio(), 0);
  EXPECT_GE(Win::Test::NominalSleepMsOfThisThread() - Start, 1u);
  EXPECT_EQ(Entry().SoundState, 2);
  EXPECT_EQ(Shx.Count("SHXDec_Decode("), 0) << "audio never reaches the picture decoder";
  EXPECT_EQ(Draws(), 0);

  EXPECT_EQ(Tarn_Decode_StopSound(Head()), 0);
  EXPECT_EQ(Entry().SoundState, 0);
  EXPECT_EQ(AddAudio(), 0);
  EXPECT_EQ(Entry().SoundState, 2) << "each audio frame switches the sound on again";
  EXPECT_EQ(Tarn_Decode_PlaySound(Head()), 0);
  EXPECT_EQ(Entry().SoundState, 2);
}

// While the host's callback runs, every picture reaches it (YV12, as the decoder wrote it) and
// is drawn as well; once it stops, pictures are only drawn.
TEST_F(DecodeHuaYu, CallBackGetsEveryPictureWhileItRuns) {
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0) << "asked before the stream opens";
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(Entry().CallBackState, 2) << "taken up on the file head";
  EXPECT_EQ(HostPictures::Count(), 0u) << "the file head is no picture";
  for (std::size_t I = 0; I < 4; ++I) EXPECT_EQ(AddVideo(I), 152064);
  const std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), 4u);
  const auto Expected = PicturesOf(Stream);
  for (std::size_t I = 0; I < Got.size(); ++I) {
    EXPECT_EQ(Got[I].Channel, Channel);
    EXPECT_EQ(Got[I].Info.Size, 152064u);
    EXPECT_EQ(Got[I].Info.Width, 352u);
    EXPECT_EQ(Got[I].Info.Height, 288u);
    EXPECT_EQ(Got[I].Info.FrameKind, 1);
    EXPECT_EQ(Got[I].Info.DvrType, 20);
    EXPECT_TRUE(Got[I].Bytes == ToYV12(Expected[I], 352, 288)) << "picture " << I;
  }
  EXPECT_EQ(Draws(), 4) << "called-back pictures are drawn too";

  EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1) << "fixed result of the export";
  EXPECT_EQ(AddVideo(4), 152064);
  EXPECT_EQ(HostPictures::Count(), 0u);
  EXPECT_EQ(Draws(), 5);
  EXPECT_EQ(Entry().CallBackState, 0);

  // Started on a running stream: taken up on the next frame.
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(1), 152064);
  EXPECT_EQ(AddVideo(2), 152064);
  EXPECT_EQ(HostPictures::Count(), 2u);
}

TEST_F(DecodeHuaYu, PictureSizeComesFromTheFileHeadOr352x288WhenTheDecoderCannotTell) {
  MakeStream(176, 144);
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(0), 38016);
  std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), 1u);
  EXPECT_EQ(Got[0].Info.Width, 176u);
  EXPECT_EQ(Got[0].Info.Height, 144u);
  EXPECT_EQ(Got[0].Info.Size, 38016u);

  // The next stream's decoder fails to tell: its pictures go out as 352 x 288, with the size
  // the decoder gave for each.
  Shx.Return("SHXDec_GetDecoderInfo", -1);
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(1), 38016);
  Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), 1u);
  EXPECT_EQ(Got[0].Info.Width, 352u);
  EXPECT_EQ(Got[0].Info.Height, 288u);
  EXPECT_EQ(Got[0].Info.Size, 38016u);
  EXPECT_EQ(Draw.Calls("DrawPic(").back(), "DrawPic(" + std::to_string(DrawHandle()) + ",ptr,38016,352,288,0,0)");
}

// The buffer holds the largest picture the library writes (720 x 576); nothing is read from it
// beyond what it holds, and results that are no picture are not shown.
TEST_F(DecodeHuaYu, OnlyPicturesThatFitTheBufferAreShown) {
  MakeStream(720, 576, 3);
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(0), 622080);
  std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), 1u);
  EXPECT_EQ(Got[0].Info.Width, 720u);
  EXPECT_EQ(Got[0].Info.Height, 576u);
  EXPECT_TRUE(Got[0].Bytes == ToYV12(PicturesOf(Stream)[0], 720, 576));
  const std::int64_t Drawn = Draws();
  EXPECT_EQ(Drawn, 1);

  // Refused by the library (too large): its result goes back, nothing is shown.
  MakeStream(800, 600, 3);
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(0), -2);

  // A decode failure: not a 4 GiB picture.
  MakeStream(352, 288, 3);
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  Shx.Return("SHXDec_Decode", -1, 1);
  EXPECT_EQ(AddVideo(0), -1);
  // More bytes than the buffer holds.
  Shx.Return("SHXDec_Decode", 700000, 1);
  EXPECT_EQ(AddVideo(0), 700000);
  // Raised inside the library: swallowed, nothing shown.
  Shx.Throw("SHXDec_Decode", 1);
  EXPECT_EQ(AddVideo(0), -1);
  EXPECT_EQ(HostPictures::Count(), 0u);
  EXPECT_EQ(Draws(), 0);
  EXPECT_EQ(AddVideo(1), 152064) << "the stream goes on";
  EXPECT_EQ(HostPictures::Count(), 1u);

  // A picture size beyond the buffer, as the decoder reports it on the file head.
  Shx.SetOption("info.width", 1920);
  Shx.SetOption("info.height", 1080);
  ASSERT_EQ(Open(), 0);
  HostPictures::Clear();
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(0), 152064);
  EXPECT_EQ(HostPictures::Count(), 0u);
  EXPECT_EQ(Draws(), 0);
}

// The file head goes to the decoder with its own length, however short; the adapter reads none
// of it.
TEST_F(DecodeHuaYu, ShortFileHeadIsPassedOnWithItsOwnLength) {
  const std::vector<std::uint8_t> Short(10, 0x5A);
  ASSERT_EQ(Add(ZORV_FRAME_FILEHEAD, Short), 0);
  EXPECT_EQ(Shx.Calls("SHXDec_Decode("), (std::vector<std::string>{"SHXDec_Decode(1,ptr,10,ptr)"}));
  EXPECT_EQ(Shx.Query("heads", 1), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(0), 152064);
  const std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), 1u);
  EXPECT_EQ(Got[0].Info.Width, 352u) << "a header the decoder could not read: 352 x 288";
}

// Tables are kept per display channel, so player numbers above 100 serve like any other.
TEST_F(DecodeHuaYu, StreamsBeyondPlayer100AreServed) {
  std::vector<TFrameHead> Opened;
  for (std::uint8_t G = 0; G < 2; ++G)
    for (std::uint32_t C = 0; C < 51; ++C) {
      TFrameHead H = HeadOf(ZORV_FRAME_FILEHEAD, Stream.head.size(), C);
      H.Group = G;
      ASSERT_EQ(Tarn_Decode_AddFrame(H, Stream.head.data()), 0);
      Opened.push_back(H);
    }
  EXPECT_EQ(Adapter()->ChannelPlayer(1, 50), 101);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Opened.back(), HostPictures::OnPicture), 0);
  TFrameHead Last = Opened.back();
  Last.FrameType = ZORV_FRAME_P;
  Last.DataLen = static_cast<std::uint32_t>(Stream.frames[0].bytes.size());
  EXPECT_EQ(Tarn_Decode_AddFrame(Last, Stream.frames[0].bytes.data()), 152064);
  const std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), 1u);
  EXPECT_EQ(Got[0].Channel, 50u);
  for (TFrameHead& H : Opened) EXPECT_EQ(Tarn_Decode_CloseOneChannel(H), 0);
  EXPECT_EQ(Shx.Query("decoders"), 0);
}

TEST_F(DecodeHuaYu, OpenFailsWithoutADecoderAndSurvivesWhatTheLibraryRaises) {
  Shx.Return("SHXDec_Create", 0, 1);
  EXPECT_EQ(Open(), -1);
  EXPECT_EQ(PlayerNo(), -1);
  AddVideo(0);
  EXPECT_EQ(Shx.Count("SHXDec_Decode("), 0) << "frames wait for the next file head";

  Shx.Throw("SHXDec_Create", 1);
  EXPECT_EQ(Open(), -1);
  EXPECT_EQ(PlayerNo(), -1);

  Shx.Throw("SHXDec_GetDecoderInfo", 1);
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(AddVideo(0), 152064);
  Shx.Throw("SHXDec_Destroy", 1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_EQ(PlayerNo(), -1);
}

TEST_F(DecodeHuaYu, FeedingWhileTheStreamClosesNeverUsesADestroyedDecoder) {
  ASSERT_EQ(Open(), 0);
  const std::size_t Destroyed = FeedWhileReopening([&] {
    Tarn_Decode_CloseOneChannel(Head());
    EXPECT_EQ(Open(), 0);
  });
  EXPECT_EQ(Destroyed, 21u);
}

// Real time: the snapshot waits up to 300 rounds of 2 ms for a fed picture.
TEST_F(DecodeHuaYu, SnapshotWritesTheNextPictureAndLeavesNoTemporaryFile) {
  Win::Test::SetSleepScale(1.0);
  ASSERT_EQ(Open(), 0);
  std::size_t I = 0;
  ExpectSnapshotOfAFedPicture([&] { AddVideo(I++ % 4); });

  // No stream: -1 at once.
  ASSERT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  std::vector<std::uint8_t> Bmp(1024);
  std::uint8_t* Buffer = Bmp.data();
  std::int32_t Size[2] = {0, 0};
  const std::uint64_t Start = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Buffer), -1);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread(), Start);
}

TEST_F(DecodeHuaYu, WithoutDrawyuvPicturesAreStillDecodedAndCalledBack) {
  const std::unique_ptr<StandinClient> BareShx = RestartWithoutDrawyuv();
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(AddVideo(0), 152064);
  EXPECT_EQ(BareShx->Query("decoded", 1), 1);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(1), 152064);
  EXPECT_EQ(HostPictures::Count(), 1u);
  EXPECT_EQ(Draw.Count("InitDraw("), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  BareShx->Reset();
}

// Real time: the 500 ms the wave thread gets to finish on shutdown.
TEST_F(DecodeHuaYu, ShutDownStopsTheWaveThreadWithItsPause) {
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(AddAudio(), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  Win::Test::SetSleepScale(1.0);
  const std::uint64_t Start = Win::Test::NominalSleepMsOfThisThread();
  const auto Wall = std::chrono::steady_clock::now();
  Tarn_Decode_ShutDown();
  EXPECT_GE(Win::Test::NominalSleepMsOfThisThread() - Start, 500u);
  EXPECT_GE(std::chrono::steady_clock::now() - Wall, std::chrono::milliseconds(490));
}

}  // namespace
