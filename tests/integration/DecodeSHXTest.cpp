// DVR type 10 through the exports, against the stand-in SHXDecoder.dll and drawyuv.dll: two
// decoders opened on the first frame after the file head, pictures drawn, called back in the
// decoder's plane order or saved as snapshots, and the sound faults of the path mended
// (oversized pictures, short opening frames, failed snapshots).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "HostPictures.h"
#include "SHXAdapterTest.h"
#include "SnapTempFiles.h"
#include "U_DecodeSHX.h"
#include "ZrvStream.h"

namespace {

class DecodeSHX : public TSHXAdapterTest {
 protected:
  DecodeSHX() : TSHXAdapterTest("PlayDll/SHX/SHXDecoder.dll", TDecodeSHX::DvrTypeCode, 1, 7) {}
  // File head, then the first video frame, which opens the stream without being decoded.
  std::int32_t Open() {
    EXPECT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), 0);
    return Add(ZORV_FRAME_I, Stream.frames[0].bytes);
  }
};

TEST_F(DecodeSHX, OpensTwoDecodersOnTheFirstFrameAfterTheFileHeadAndDrawsEachPicture) {
  EXPECT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), 0);
  EXPECT_EQ(Shx.Count("SHXDec_Create("), 0) << "the file head opens nothing";
  ASSERT_EQ(Add(ZORV_FRAME_I, Stream.frames[0].bytes), 0);
  EXPECT_EQ(Shx.Calls("SHXDec_Create("),
            (std::vector<std::string>{"SHXDec_Create(62,352,288)", "SHXDec_Create(65536,352,288)"}));
  EXPECT_EQ(Shx.Count("SHXDec_Decode("), 0) << "the opening frame is not decoded";
  ASSERT_GE(PlayerNo(), 0);
  EXPECT_EQ(Entry().Port, 1);
  EXPECT_EQ(Entry().AuxHandle, 2);
  EXPECT_EQ(Entry().OpenState, 2);
  EXPECT_EQ(Entry().OpenKind, 10);
  EXPECT_EQ(Entry().Wnd, Wnd);
  const std::vector<std::string> Log = TakeLogMessages();
  EXPECT_NE(std::find(Log.begin(), Log.end(), "---------------------1"), Log.end());
  EXPECT_NE(DrawHandle(), 0) << "a drawing handle for the channel's window";

  for (std::size_t I = 1; I < 4; ++I) EXPECT_EQ(AddVideo(I), 0);
  EXPECT_EQ(Shx.Query("decoded", 1), 3);
  EXPECT_EQ(Draws(), 3);
  EXPECT_EQ(Shx.Count("SHXDec_GetDecoderInfo("), 1) << "the picture size is asked once";

  // Audio frames go to the audio decoder and are not drawn.
  Shx.ClearJournal();
  const std::vector<std::int16_t> Pcm(160, 0);
  EXPECT_EQ(Add(ZORV_FRAME_AUDIO, zrv::MakeAudioPacket(Pcm.data(), Pcm.size(), 0, 99)), 0);
  EXPECT_EQ(Shx.Query("audio", 2), 1);
  EXPECT_EQ(Draws(), 3);

  // A refused frame is dropped: nothing drawn, the frame still taken.
  Shx.Return("SHXDec_Decode", -1, 1);
  EXPECT_EQ(AddVideo(4), 0);
  EXPECT_EQ(Draws(), 3);

  EXPECT_EQ(Tarn_Decode_RefrushWindow(Head()), -1);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head()), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_EQ(Shx.Calls("SHXDec_Destroy("), (std::vector<std::string>{"SHXDec_Destroy(1)", "SHXDec_Destroy(2)"}));
  EXPECT_EQ(Draw.Query("handles"), 0) << "the drawing handle is freed on close";
}

TEST_F(DecodeSHX, PlaySoundFollowsTheOpeningFramesAudioFlag) {
  std::vector<std::uint8_t> Opening = Stream.frames[0].bytes;
  ASSERT_GT(Opening.size(), 16u);
  Opening[16] = 3;
  EXPECT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), 0);
  ASSERT_EQ(Add(ZORV_FRAME_I, Opening), 0);
  EXPECT_EQ(Tarn_Decode_PlaySound(Head()), 0);
  EXPECT_EQ(Entry().SoundState, 2);
  EXPECT_EQ(Tarn_Decode_StopSound(Head()), 0);
  EXPECT_EQ(Entry().SoundState, 0);
}

TEST_F(DecodeSHX, ShortOpeningFrameIsReadOnlyAsFarAsItGoes) {
  EXPECT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), 0);
  // 17 bytes: byte 16 is 3, but a 10-byte frame ends before it.
  std::vector<std::uint8_t> Short(17, 3);
  TFrameHead H = Head(ZORV_FRAME_I, 10);
  ASSERT_EQ(Tarn_Decode_AddFrame(H, Short.data()), 0);
  EXPECT_EQ(Entry().HasAudio, 0);
  EXPECT_EQ(Tarn_Decode_PlaySound(Head()), 0);
  EXPECT_EQ(Entry().SoundState, 1);
}

TEST_F(DecodeSHX, CallBackModeDecidesPerFrameBetweenHostAndWindow) {
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1) << "fixed result of the export";
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(1), 0);
  EXPECT_EQ(AddVideo(2), 0);
  const std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), 2u);
  const auto Expected = PicturesOf(Stream);
  for (std::size_t I = 0; I < 2; ++I) {
    EXPECT_EQ(Got[I].Channel, Channel);
    EXPECT_EQ(Got[I].Info.Size, 152064u);
    EXPECT_EQ(Got[I].Info.Width, 352u);
    EXPECT_EQ(Got[I].Info.Height, 288u);
    EXPECT_EQ(Got[I].Info.FrameKind, 1);
    EXPECT_EQ(Got[I].Info.DvrType, 10);
    EXPECT_TRUE(Got[I].Bytes == ToYV12(Expected[I + 1], 352, 288)) << "YV12, as the decoder wrote it";
  }
  EXPECT_EQ(Draws(), 0) << "pictures called back are not drawn";
  EXPECT_EQ(Entry().CallBackState, 2);

  Tarn_Decode_StopCallBack(Head());
  EXPECT_EQ(AddVideo(3), 0);
  EXPECT_EQ(HostPictures::Count(), 0u);
  EXPECT_EQ(Draws(), 1);
  EXPECT_EQ(Entry().CallBackState, 0);
}

TEST_F(DecodeSHX, DecoderInfoFailureFallsBackTo352x288) {
  MakeStream(176, 144);
  ASSERT_EQ(Open(), 0);
  Shx.Return("SHXDec_GetDecoderInfo", -1);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(1), 0);
  const std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), 1u);
  EXPECT_EQ(Got[0].Info.Width, 352u);
  EXPECT_EQ(Got[0].Info.Height, 288u);
  EXPECT_EQ(Got[0].Info.Size, 152064u);
}

TEST_F(DecodeSHX, PicturesLargerThanTheBufferAreNeverReadFromIt) {
  // The library refuses pictures above 720 x 576.
  MakeStream(800, 600, 3);
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(1), 0);
  EXPECT_EQ(HostPictures::Count(), 0u);
  Tarn_Decode_CloseOneChannel(Head());
  // The channel opens again with pictures that fit.
  MakeStream(352, 288, 3);
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(1), 0);
  EXPECT_EQ(HostPictures::Count(), 1u);
  Tarn_Decode_CloseOneChannel(Head());
}

// Real time: the snapshot waits up to 300 rounds of 2 ms for a fed picture.
TEST_F(DecodeSHX, SnapshotWritesTheNextPictureAndLeavesNoTemporaryFile) {
  Win::Test::SetSleepScale(1.0);
  ASSERT_EQ(Open(), 0);
  std::size_t I = 1;
  ExpectSnapshotOfAFedPicture([&] { AddVideo(1 + (I++ % 4)); });
}

TEST_F(DecodeSHX, WithoutDrawyuvPicturesAreStillDecodedAndCalledBack) {
  const std::unique_ptr<StandinClient> BareShx = RestartWithoutDrawyuv();
  EXPECT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), 0);
  ASSERT_EQ(Add(ZORV_FRAME_I, Stream.frames[0].bytes), 0);
  EXPECT_EQ(AddVideo(1), 0);
  EXPECT_EQ(BareShx->Query("decoded", 1), 1);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(2), 0);
  EXPECT_EQ(HostPictures::Count(), 1u);
  EXPECT_EQ(Draw.Query("handles"), 0);
  Tarn_Decode_CloseOneChannel(Head());
  BareShx->Reset();
}

// Real time: the 500 ms wave-thread pause on shutdown and 100 ms in the close.
TEST_F(DecodeSHX, ShutDownStopsTheWaveThreadWithItsPause) {
  Win::Test::SetSleepScale(1.0);
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  const std::uint64_t Start = Win::Test::NominalSleepMsOfThisThread();
  Tarn_Decode_ShutDown();
  EXPECT_GE(Win::Test::NominalSleepMsOfThisThread() - Start, 500u);
}

// Per-stream tables hold player numbers 0..100: the stream that would get player 101 is refused
// before it touches them, while the 101 open streams keep playing.
TEST_F(DecodeSHX, PlayerNumbersAbove100AreRefused) {
  std::vector<TFrameHead> Opened;
  auto OpenOn = [&](std::uint8_t OnGroup, std::uint32_t OnChannel) {
    TFrameHead H = HeadOf(ZORV_FRAME_FILEHEAD, Stream.head.size(), OnChannel);
    H.Group = OnGroup;
    EXPECT_EQ(Tarn_Decode_AddFrame(H, Stream.head.data()), 0);
    H.FrameType = ZORV_FRAME_I;
    H.DataLen = static_cast<std::uint32_t>(Stream.frames[0].bytes.size());
    const std::int32_t Result = Tarn_Decode_AddFrame(H, Stream.frames[0].bytes.data());
    Opened.push_back(H);
    return Result;
  };
  for (std::uint32_t C = 0; C < 100; ++C) ASSERT_EQ(OpenOn(0, C), 0);
  ASSERT_EQ(OpenOn(3, 0), 0);
  EXPECT_EQ(Adapter()->ChannelPlayer(3, 0), 100);
  const int Creates = Shx.Count("SHXDec_Create(");
  EXPECT_EQ(OpenOn(3, 1), -1);
  EXPECT_EQ(Adapter()->ChannelPlayer(3, 1), -1);
  EXPECT_EQ(Shx.Count("SHXDec_Create("), Creates) << "no decoder for a refused stream";
  EXPECT_EQ(Adapter()->PlayerAt(101).Port, -1) << "its player entry is free again";

  // Player 100 still decodes.
  TFrameHead Last = Opened[100];
  Last.FrameType = ZORV_FRAME_P;
  Last.DataLen = static_cast<std::uint32_t>(Stream.frames[1].bytes.size());
  EXPECT_EQ(Tarn_Decode_AddFrame(Last, Stream.frames[1].bytes.data()), 0);
  EXPECT_EQ(Shx.Query("decoded", Adapter()->PlayerAt(100).Port), 1);
  for (TFrameHead& H : Opened) Tarn_Decode_CloseOneChannel(H);
  EXPECT_EQ(Shx.Query("decoders"), 0);
}

TEST_F(DecodeSHX, PictureSizeBeyondTheBufferIsNeverReadFromIt) {
  ASSERT_EQ(Open(), 0);
  Shx.SetOption("info.width", 1920);
  Shx.SetOption("info.height", 1080);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(1), 0);
  EXPECT_EQ(AddVideo(2), 0);
  EXPECT_EQ(Shx.Query("decoded", 1), 2);
  EXPECT_EQ(HostPictures::Count(), 0u);
  Tarn_Decode_StopCallBack(Head());
  EXPECT_EQ(AddVideo(3), 0);
  EXPECT_EQ(Draws(), 0);
}

// A stream the library makes no video decoder for is not taken: the open fails and the next
// frame tries again.
TEST_F(DecodeSHX, OpenFailsWithoutAVideoDecoder) {
  EXPECT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), 0);
  Shx.Throw("SHXDec_Create", 1);
  EXPECT_EQ(Add(ZORV_FRAME_I, Stream.frames[0].bytes), -1);
  EXPECT_EQ(PlayerNo(), -1);
  EXPECT_EQ(Shx.Query("decoders"), 0) << "the audio decoder made meanwhile is destroyed";
  EXPECT_EQ(Add(ZORV_FRAME_I, Stream.frames[0].bytes), 0);
  ASSERT_GE(PlayerNo(), 0);
  EXPECT_EQ(AddVideo(1), 0);
  EXPECT_EQ(Shx.Query("decoded", Handle()), 1);
}

TEST_F(DecodeSHX, FeedingWhileTheStreamClosesNeverUsesADestroyedDecoder) {
  ASSERT_EQ(Open(), 0);
  FeedWhileReopening([&] {
    Tarn_Decode_CloseOneChannel(Head());
    Open();
  });
}

}  // namespace
