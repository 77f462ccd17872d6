// DVR type 13 end to end: sample MPEG-4 streams fed frame by frame through the exports, the
// pictures the host callback receives, the window, snapshots, close and reopen, bad input.
// On Linux every picture is compared with what plain libavcodec makes of the same bytes; the
// Win32 build (decoder DLLs bound from PlayDll\Mp4\) compares with the committed checksums.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "Mp4Samples.h"
#include "Platform.h"
#include "U_AvCodec.h"
#include "U_DecodeEngine.h"
#include "U_DecodeMp4.h"
#include "U_YuvConvert.h"
#include "ZorvDecoder.h"
#include "ZorvSurface.h"

#ifndef _WIN32
extern "C" {
#include <libavcodec/avcodec.h>
}
#endif

namespace {

const std::string kRoot = std::string(ZORV_TESTROOT) + "/";

struct TFeedUnit {
  std::uint8_t FrameType;
  std::vector<std::uint8_t> Bytes;
};

std::vector<TFeedUnit> UnitsOf(const TMp4Sample& Sample) {
  std::vector<TFeedUnit> Units;
  for (const TMp4Unit& U : Sample.Units)
    Units.push_back({TMp4Sample::FrameTypeOf(U.Kind), {Sample.Data(U), Sample.Data(U) + U.Length}});
  return Units;
}

// What the host callback received.
struct TDelivery {
  std::uint32_t Channel;
  TDecFrameInfo Info;
  TMp4PictureSum Sum;
  std::vector<std::uint8_t> Picture;  // kept only while KeepPictures is set
};

std::mutex gLock;
std::vector<TDelivery> gDeliveries;
std::atomic<bool> gKeepPictures{false};

void ZORV_STDCALL OnPicture(std::uint32_t Channel, TDecFrameInfo Info, const std::uint8_t* Picture) {
  TDelivery D{Channel, Info, {Info.Width, Info.Height, Mp4PictureChecksum(Picture, Info.Size)}, {}};
  if (gKeepPictures) D.Picture.assign(Picture, Picture + Info.Size);
  std::lock_guard<std::mutex> Hold(gLock);
  gDeliveries.push_back(std::move(D));
}

std::vector<TDelivery> TakeDeliveries() {
  std::lock_guard<std::mutex> Hold(gLock);
  return std::exchange(gDeliveries, {});
}

std::vector<TMp4PictureSum> SumsOf(const std::vector<TDelivery>& Deliveries) {
  std::vector<TMp4PictureSum> Sums;
  for (const TDelivery& D : Deliveries) Sums.push_back(D.Sum);
  return Sums;
}

#ifndef _WIN32
// The reference: plain libavcodec opened with the header and fed the same units one by one.
std::vector<TMp4PictureSum> DecodeWithLibavcodec(const std::vector<TFeedUnit>& Units) {
  std::vector<TMp4PictureSum> Sums;
  const AVCodec* Codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  AVCodecContext* C = avcodec_alloc_context3(Codec);
  C->thread_count = 1;
  const auto& Header = Units.front().Bytes;
  C->extradata = static_cast<std::uint8_t*>(av_mallocz(Header.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  std::memcpy(C->extradata, Header.data(), Header.size());
  C->extradata_size = static_cast<int>(Header.size());
  EXPECT_EQ(avcodec_open2(C, Codec, nullptr), 0);
  AVPacket* Pkt = av_packet_alloc();
  AVFrame* F = av_frame_alloc();
  std::vector<std::uint8_t> Buf, Picture;
  for (std::size_t i = 1; i < Units.size(); ++i) {
    Buf = Units[i].Bytes;
    Buf.resize(Buf.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    Pkt->data = Buf.data();
    Pkt->size = static_cast<int>(Units[i].Bytes.size());
    if (avcodec_send_packet(C, Pkt) < 0) continue;
    while (avcodec_receive_frame(C, F) == 0) {
      const int W = F->width / 2 * 2, H = F->height / 2 * 2;
      Picture.clear();
      for (int y = 0; y < H; ++y) Picture.insert(Picture.end(), F->data[0] + y * F->linesize[0], F->data[0] + y * F->linesize[0] + W);
      for (int p = 1; p <= 2; ++p)
        for (int y = 0; y < H / 2; ++y)
          Picture.insert(Picture.end(), F->data[p] + y * F->linesize[p], F->data[p] + y * F->linesize[p] + W / 2);
      Sums.push_back({std::uint32_t(W), std::uint32_t(H), Mp4PictureChecksum(Picture.data(), Picture.size())});
      av_frame_unref(F);
    }
  }
  av_frame_free(&F);
  av_packet_free(&Pkt);
  avcodec_free_context(&C);
  return Sums;
}
#endif

class DecodeMp4 : public testing::Test {
 protected:
  // One window for the whole suite: under Wine destroying a window costs seconds.
  static void SetUpTestSuite() { Wnd = zorv_surface_create(0, 0, 352, 288); }
  static void TearDownTestSuite() { zorv_surface_destroy(Wnd); }
  void SetUp() override {
    ASSERT_NE(Wnd, 0u);
    TakeDeliveries();
    gKeepPictures = false;
    DrawsBefore = zorv_surface_draw_count(Wnd);
  }
  void TearDown() override {
    Tarn_Decode_ShutDown();
    ZorvTest::SetAvCodecMissing(false);
    ZorvTest::SetMpeg4DecoderMissing(false);
    Win::Test::SetSleepScale(0.01);
  }
  void Init(const std::string& Dir = kRoot) { ASSERT_EQ(Tarn_Decode_Initialize(0, Dir.c_str(), 1), 0); }
  TFrameHead Head(std::uint8_t FrameType = ZORV_FRAME_P, std::size_t Length = 0) const {
    return Mp4Head(Group, Channel, Wnd, FrameType, Length);
  }
  std::int32_t Feed(const TFeedUnit& U) { return Tarn_Decode_AddFrame(Head(U.FrameType, U.Bytes.size()), U.Bytes.data()); }
  // Feeds units [First, Last) and expects every frame accepted.
  void FeedAll(const std::vector<TFeedUnit>& Units, std::size_t First = 0, std::size_t Last = SIZE_MAX) {
    for (std::size_t i = First; i < std::min(Last, Units.size()); ++i) ASSERT_EQ(Feed(Units[i]), 0) << "unit " << i;
  }
  void StartCallBack() { ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &OnPicture), 0); }

  std::int64_t Draws() const { return zorv_surface_draw_count(Wnd) - DrawsBefore; }

  static inline std::uint32_t Wnd = 0;
  std::int64_t DrawsBefore = 0;
  std::uint8_t Group = 2;
  std::uint32_t Channel = 7;
};

class DecodeMp4Sample : public DecodeMp4, public testing::WithParamInterface<const char*> {};

TEST_P(DecodeMp4Sample, HostGetsExactlyThePicturesOfLibavcodec) {
  TMp4Sample Sample;
  ASSERT_TRUE(LoadMp4Sample(GetParam(), Sample));
  const std::vector<TFeedUnit> Units = UnitsOf(Sample);
  Init();
  ASSERT_EQ(DecodeEngine()->Decoder(13)->State(), 2) << "Tarn_Decode_Initialize loads the MPEG-4 decoder";
  StartCallBack();
  FeedAll(Units);

  const std::vector<TDelivery> Got = TakeDeliveries();
  EXPECT_EQ(SumsOf(Got), Sample.Sums);
#ifndef _WIN32
  EXPECT_EQ(SumsOf(Got), DecodeWithLibavcodec(Units));
#endif
  const std::uint32_t W = Sample.Width / 2 * 2, H = Sample.Height / 2 * 2;
  for (const TDelivery& D : Got) {
    EXPECT_EQ(D.Channel, Channel);
    EXPECT_EQ(D.Info.Size, W * H * 3 / 2);
    EXPECT_EQ(D.Info.Width, W);
    EXPECT_EQ(D.Info.Height, H);
    EXPECT_EQ(D.Info.FrameKind, 1);
    EXPECT_EQ(D.Info.DvrType, 13);
  }
  // Every picture was drawn into the channel's window, delivered or not.
  EXPECT_EQ(Draws(), static_cast<std::int64_t>(Got.size()));
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
}

INSTANTIATE_TEST_SUITE_P(Samples, DecodeMp4Sample, testing::Values("cif", "cif_bframes", "d1", "odd353"));

TEST_F(DecodeMp4, PicturesReachTheHostOnlyWhileTheCallBackRuns) {
  TMp4Sample Sample;
  ASSERT_TRUE(LoadMp4Sample("cif", Sample));
  const auto Units = UnitsOf(Sample);
  Init();
  FeedAll(Units, 0, 11);  // 10 pictures, no callback yet
  StartCallBack();
  FeedAll(Units, 11, 21);
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1);
  FeedAll(Units, 21, 31);
  const auto Got = SumsOf(TakeDeliveries());
  EXPECT_EQ(Got, std::vector<TMp4PictureSum>(Sample.Sums.begin() + 10, Sample.Sums.begin() + 20));
  EXPECT_EQ(Draws(), 30);
}

// The window shows the decoded picture, drawn from the decoder's own planes, whether the host
// takes pictures or not, and it is the picture the host is given.
TEST_F(DecodeMp4, WindowShowsTheSamePictureWithOrWithoutTheHost) {
  for (const char* Name : {"cif", "odd353"}) {
    SCOPED_TRACE(Name);
    TMp4Sample Sample;
    ASSERT_TRUE(LoadMp4Sample(Name, Sample));
    const auto Units = UnitsOf(Sample);
    const std::size_t Bytes = 352 * 288 * 3;
    Init();
    zorv_surface_fill(Wnd, 1, 2, 3);
    FeedAll(Units, 0, 9);  // 8 pictures, nobody asks for them
    std::vector<std::uint8_t> Alone(Bytes), Shared(Bytes);
    ASSERT_EQ(zorv_surface_read_pixels(Wnd, Alone.data(), Bytes), std::int64_t(Bytes));

    zorv_surface_fill(Wnd, 1, 2, 3);
    StartCallBack();
    gKeepPictures = true;
    FeedAll(Units, 0, 9);  // the file head opens the stream afresh
    gKeepPictures = false;
    ASSERT_EQ(zorv_surface_read_pixels(Wnd, Shared.data(), Bytes), std::int64_t(Bytes));
    const auto Got = TakeDeliveries();
    ASSERT_EQ(Got.size(), 8u);
    EXPECT_TRUE(Alone == Shared);

    // Both are the last picture the host got, converted: BMP rows bottom-up BGR, window RGB.
    std::vector<std::uint8_t> Yv12 = Got.back().Picture;  // Y, Cb, Cr -> Y, Cr, Cb
    const std::size_t Luma = 352 * 288, Chroma = Luma / 4;
    std::swap_ranges(Yv12.begin() + Luma, Yv12.begin() + Luma + Chroma, Yv12.begin() + Luma + Chroma);
    const std::vector<std::uint8_t> Bmp = YV12ToBmpImage(Yv12.data(), 352, 288);
    ASSERT_EQ(Bmp.size(), 54 + Bytes);
    std::size_t Differ = 0;
    for (int Row = 0; Row < 288; ++Row)
      for (int X = 0; X < 352; ++X) {
        const std::uint8_t* B = &Bmp[54 + (std::size_t(287 - Row) * 352 + X) * 3];
        const std::uint8_t* W = &Alone[(std::size_t(Row) * 352 + X) * 3];
        Differ += W[0] != B[2] || W[1] != B[1] || W[2] != B[0];
      }
    EXPECT_EQ(Differ, 0u);
    EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
    Tarn_Decode_ShutDown();
  }
}

TEST_F(DecodeMp4, SnapshotIsABmpOfTheNextPicture) {
  TMp4Sample Sample;
  ASSERT_TRUE(LoadMp4Sample("cif", Sample));
  const auto Units = UnitsOf(Sample);
  Init();
  StartCallBack();
  gKeepPictures = true;
  FeedAll(Units, 0, 5);

  // The snapshot waits for the next picture, which another thread feeds.
  std::atomic<bool> Stop{false};
  std::thread Feeder([&] {
    for (std::size_t i = 5; i < Units.size() && !Stop; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      Feed(Units[i]);
    }
  });
  Win::Test::SetSleepScale(1.0);
  std::vector<std::uint8_t> Memory(TDecodeMp4::MaxSnapshotBytes, 0xEE);
  std::uint8_t* Buffer = Memory.data();
  std::int32_t Size[2] = {-1, -1};
  const std::int32_t Bytes = Tarn_Decode_SnapPicture(Head(), Size, &Buffer);
  Win::Test::SetSleepScale(0.01);
  Stop = true;
  Feeder.join();

  ASSERT_EQ(Bytes, 54 + 352 * 288 * 3);
  EXPECT_EQ(Size[0], 352);
  EXPECT_EQ(Size[1], 288);
  EXPECT_EQ(Memory[Bytes], 0xEE) << "nothing written past the image";
  const std::vector<std::uint8_t> Snapshot(Memory.begin(), Memory.begin() + Bytes);
  // It is the BMP of a picture the host was given after the request (the first four came before).
  bool Found = false;
  const auto Got = TakeDeliveries();
  for (std::size_t i = 4; i < Got.size() && !Found; ++i) {
    std::vector<std::uint8_t> Yv12 = Got[i].Picture;  // Y, Cb, Cr -> Y, Cr, Cb
    const std::size_t Luma = 352 * 288, Chroma = Luma / 4;
    std::swap_ranges(Yv12.begin() + Luma, Yv12.begin() + Luma + Chroma, Yv12.begin() + Luma + Chroma);
    Found = YV12ToBmpImage(Yv12.data(), 352, 288) == Snapshot;
  }
  EXPECT_TRUE(Found);
}

TEST_F(DecodeMp4, SnapshotWithoutANewPictureFailsAfterItsWait) {
  TMp4Sample Sample;
  ASSERT_TRUE(LoadMp4Sample("cif", Sample));
  const auto Units = UnitsOf(Sample);
  Init();
  std::vector<std::uint8_t> Memory(TDecodeMp4::MaxSnapshotBytes);
  std::uint8_t* Buffer = Memory.data();
  std::int32_t Size[2] = {0, 0};
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Buffer), -1) << "no stream";
  FeedAll(Units, 0, 1);  // header only: no picture ever
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Buffer), -1);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 600u) << "300 polls of 2 ms";
}

TEST_F(DecodeMp4, CloseAndReopenStartsTheStreamAfresh) {
  TMp4Sample Sample;
  ASSERT_TRUE(LoadMp4Sample("cif_bframes", Sample));
  const auto Units = UnitsOf(Sample);
  Init();
  StartCallBack();
  FeedAll(Units, 0, 20);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  TDecodeBase* Adapter = DecodeEngine()->Decoder(13);
  TFrameHead Closed = Head(Units[20].FrameType, Units[20].Bytes.size());
  EXPECT_EQ(Adapter->InputData(Closed, Units[20].Bytes.data()), -1) << "closed channel";
  EXPECT_EQ(Feed(Units[20]), 0) << "a frame for a closed channel is dropped";
  TakeDeliveries();

  StartCallBack();
  FeedAll(Units);
  EXPECT_EQ(SumsOf(TakeDeliveries()), Sample.Sums);
  // A second file head on an open channel closes and reopens it in one go.
  FeedAll(Units, 0, 12);
  const auto Again = SumsOf(TakeDeliveries());
  ASSERT_GE(Again.size(), 10u);
  EXPECT_EQ(Again, std::vector<TMp4PictureSum>(Sample.Sums.begin(), Sample.Sums.begin() + Again.size()));
}

TEST_F(DecodeMp4, ChannelWithoutStreamIsRefused) {
  Init();
  TDecodeBase* Adapter = DecodeEngine()->Decoder(13);
  const std::uint8_t Frame[16] = {0, 0, 1, 0xB6};
  TFrameHead H = Head(ZORV_FRAME_P, sizeof Frame);
  EXPECT_EQ(Adapter->InputData(H, Frame), -1);
  EXPECT_EQ(Adapter->CloseStream(H), -1);
  std::int32_t Size[2];
  std::uint8_t Memory[64];
  std::uint8_t* Buffer = Memory;
  EXPECT_EQ(Adapter->SnapPicture(H, Size, &Buffer), -1);
  EXPECT_EQ(Tarn_Decode_AddFrame(H, Frame), 0) << "dropped: type 13 opens only on a file head";
  EXPECT_EQ(Adapter->PlaySound(H), 0);
  EXPECT_EQ(Adapter->SetDisplayRegion(H, 0, 0, nullptr, 0), 0);
}

TEST_F(DecodeMp4, DamagedFramesAreDroppedAndDecodingGoesOn) {
  TMp4Sample Sample;
  ASSERT_TRUE(LoadMp4Sample("cif", Sample));
  auto Units = UnitsOf(Sample);
  ASSERT_EQ(Units[12].FrameType, ZORV_FRAME_P);
  ASSERT_EQ(Units[26].FrameType, ZORV_FRAME_I);
  // A P frame with its middle overwritten, a cut one, and a frame of noise in between.
  std::fill(Units[12].Bytes.begin() + 40, Units[12].Bytes.begin() + 400, 0xFF);
  Units[15].Bytes.resize(Units[15].Bytes.size() / 3);
  std::vector<std::uint8_t> Noise(3000);
  std::uint32_t Seed = 7;
  for (auto& B : Noise) B = static_cast<std::uint8_t>((Seed = Seed * 1103515245u + 12345u) >> 24);
  Units.insert(Units.begin() + 18, TFeedUnit{ZORV_FRAME_P, Noise});
  Units.insert(Units.begin() + 19, TFeedUnit{ZORV_FRAME_P, {}});  // and an empty one

  Init();
  StartCallBack();
  FeedAll(Units);
  const auto Got = SumsOf(TakeDeliveries());
#ifndef _WIN32
  EXPECT_EQ(Got, DecodeWithLibavcodec(Units));
#endif
  ASSERT_GE(Got.size(), 11u + 74u);
  // Untouched before the damage, and exact again from the next I frame (picture 25) on.
  EXPECT_EQ(std::vector<TMp4PictureSum>(Got.begin(), Got.begin() + 11),
            std::vector<TMp4PictureSum>(Sample.Sums.begin(), Sample.Sums.begin() + 11));
  EXPECT_EQ(std::vector<TMp4PictureSum>(Got.end() - 75, Got.end()),
            std::vector<TMp4PictureSum>(Sample.Sums.begin() + 25, Sample.Sums.end()));
}

TEST_F(DecodeMp4, FrameLargerThanTheStagingBufferIsDecoded) {
  TMp4Sample Sample;
  ASSERT_TRUE(LoadMp4Sample("cif", Sample));
  auto Units = UnitsOf(Sample);
  Units[1].Bytes.resize(TDecodeMp4::InputBufferBytes + 300000, 0);  // the I frame, zero-stuffed
  Init();
  StartCallBack();
  FeedAll(Units, 0, 6);
  EXPECT_EQ(SumsOf(TakeDeliveries()), std::vector<TMp4PictureSum>(Sample.Sums.begin(), Sample.Sums.begin() + 5));
}

TEST_F(DecodeMp4, StreamsOnPortsAbove100Decode) {
  TMp4Sample Sample;
  ASSERT_TRUE(LoadMp4Sample("cif", Sample));
  const auto Units = UnitsOf(Sample);
  Init();
  // 105 streams at once: group 0 channels 0..99, then group 1 channels 0..4 (ports 100..104).
  for (std::uint8_t G = 0; G <= 1; ++G)
    for (std::uint32_t C = 0; C < (G == 0 ? 100u : 5u); ++C)
      ASSERT_EQ(Tarn_Decode_AddFrame(Mp4Head(G, C, Wnd, ZORV_FRAME_FILEHEAD, Units[0].Bytes.size()), Units[0].Bytes.data()), 0);
  Group = 1;
  Channel = 4;
  EXPECT_EQ(DecodeEngine()->Decoder(13)->ChannelPlayer(1, 4), 104);
  StartCallBack();
  FeedAll(Units, 1, 4);
  const auto Got = TakeDeliveries();
  ASSERT_EQ(Got.size(), 3u);
  EXPECT_EQ(Got[2].Channel, 4u);
  EXPECT_EQ(SumsOf(Got), std::vector<TMp4PictureSum>(Sample.Sums.begin(), Sample.Sums.begin() + 3));
  for (std::uint8_t G = 0; G <= 1; ++G)
    for (std::uint32_t C = 0; C < (G == 0 ? 100u : 5u); ++C)
      EXPECT_EQ(Tarn_Decode_CloseOneChannel(Mp4Head(G, C, Wnd, ZORV_FRAME_P, 0)), 0);
}

TEST_F(DecodeMp4, ChannelsFedFromTheirOwnThreadsKeepTheirOwnPictures) {
  TMp4Sample Cif, Odd;
  ASSERT_TRUE(LoadMp4Sample("cif", Cif));
  ASSERT_TRUE(LoadMp4Sample("odd353", Odd));
  const auto CifUnits = UnitsOf(Cif), OddUnits = UnitsOf(Odd);
  Init();
  constexpr std::uint32_t Channels = 4;
  for (std::uint32_t C = 0; C < Channels; ++C)
    ASSERT_EQ(Tarn_Decode_StartCallBack(Mp4Head(0, C, Wnd, ZORV_FRAME_P, 0), &OnPicture), 0);
  std::vector<std::thread> Feeders;
  std::atomic<int> Refused{0};
  for (std::uint32_t C = 0; C < Channels; ++C)
    Feeders.emplace_back([&, C] {
      const auto& Units = C % 2 ? OddUnits : CifUnits;
      for (const TFeedUnit& U : Units)
        if (Tarn_Decode_AddFrame(Mp4Head(0, C, Wnd, U.FrameType, U.Bytes.size()), U.Bytes.data()) != 0) ++Refused;
    });
  for (auto& T : Feeders) T.join();
  EXPECT_EQ(Refused, 0);
  std::vector<TMp4PictureSum> PerChannel[Channels];
  for (const TDelivery& D : TakeDeliveries()) {
    ASSERT_LT(D.Channel, Channels);
    PerChannel[D.Channel].push_back(D.Sum);
  }
  for (std::uint32_t C = 0; C < Channels; ++C) EXPECT_EQ(PerChannel[C], C % 2 ? Odd.Sums : Cif.Sums) << "channel " << C;
}

TEST_F(DecodeMp4, MissingLibraryOrDecoderFailsAndIsRetried) {
  TMp4Sample Sample;
  ASSERT_TRUE(LoadMp4Sample("cif", Sample));
  const auto Units = UnitsOf(Sample);

  ZorvTest::SetAvCodecMissing(true);
  Init();
  EXPECT_NE(DecodeEngine()->Decoder(13)->State(), 2);
  EXPECT_EQ(Feed(Units[0]), -1);
  ZorvTest::SetAvCodecMissing(false);
  EXPECT_EQ(Feed(Units[0]), 0) << "the next frame loads it";
  Tarn_Decode_ShutDown();

  ZorvTest::SetMpeg4DecoderMissing(true);
  testing::internal::CaptureStdout();
  Init();
  EXPECT_EQ(Feed(Units[0]), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Codec not found\nCodec not found\n");
  ZorvTest::SetMpeg4DecoderMissing(false);
  EXPECT_EQ(Feed(Units[0]), 0);
  Tarn_Decode_ShutDown();

  // A host folder without PlayDll\Mp4\ (the Linux build links the decoder instead).
  Init(kRoot + "NoSuchFolder/");
#ifdef _WIN32
  EXPECT_EQ(Feed(Units[0]), -1);
#else
  EXPECT_EQ(Feed(Units[0]), 0);
#endif
}

}  // namespace
