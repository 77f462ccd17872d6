// DVR types 18 (TM player) and 22 (TM DVS) through the exports, against the stand-in TM
// library sets in PlayDll\TM\ and PlayDll\TMDVS\: opening on the first data frame, vendor frame
// types and time stamps, real pictures through the decode callbacks, snapshots from memory
// (register convention), and how each adapter closes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "HostPictures.h"
#include "PlayerAdapterTest.h"
#include "U_DecodeTM.h"
#include "U_DecodeTMDVS_PB.h"
#include "ZrvStream.h"

namespace {

using Calls = std::vector<std::string>;

class TTMTest : public TPlayerAdapterTest {
 protected:
  TTMTest(const char* Path, std::uint8_t Type) : TPlayerAdapterTest(Path, Type, 2, 17) {}

  // A frame with its frame time (days; the fraction is the time of day).
  std::int32_t AddAt(std::uint8_t FrameType, const std::vector<std::uint8_t>& Bytes, double FrameTime) {
    TFrameHead H = Head(FrameType, Bytes.size());
    H.FrameTime = FrameTime;
    return Tarn_Decode_AddFrame(H, Bytes.data());
  }
  // Opens the channel with the stream's first (key) picture.
  std::int32_t Open() { return Add(ZORV_FRAME_I, Stream.frames[0].bytes); }
  // Opens and waits until the library has decoded the opening picture.
  void OpenAndDecodeFirst() {
    ASSERT_EQ(Open(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Tm.Query("decoded", Handle()) >= 1; }));
  }
  void FeedRest() {
    for (std::size_t i = 1; i < Stream.frames.size(); ++i)
      ASSERT_EQ(Add(Stream.frames[i].frameType, Stream.frames[i].bytes), 0) << "frame " << i;
  }
  std::string W() const { return std::to_string(Wnd); }
  std::int32_t Snap(std::int32_t* Size, std::vector<std::uint8_t>& Memory) {
    std::uint8_t* Buffer = Memory.data();
    return Tarn_Decode_SnapPicture(Head(), Size, &Buffer);
  }

  StandinClient& Tm = Library;
  zrv::SyntheticStream Stream = zrv::MakeSyntheticStream(zrv::StreamParams{}, 6);
};

class DecodeTM : public TTMTest {
 protected:
  DecodeTM() : TTMTest("PlayDll/TM/AVPlayer.dll", TDecodeTM::DvrTypeCode) {}
};

class DecodeTMDVS : public TTMTest {
 protected:
  DecodeTMDVS() : TTMTest("PlayDll/TMDVS/AVPlayer.dll", TDecodeTMDVS_PB::DvrTypeCode) {}
};

TEST_F(DecodeTM, FileHeadOpensNothingAndTheFirstIFrameOpensAndIsFed) {
  EXPECT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), 0);
  EXPECT_EQ(PlayerNo(), -1);
  EXPECT_EQ(Tm.Count("PB_"), 0);

  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  ASSERT_EQ(AddAt(ZORV_FRAME_I, Stream.frames[0].bytes, 45000.25), 0);  // 06:00:00
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 500u) << "the player allocation";
  const std::string Len = std::to_string(Stream.frames[0].bytes.size());
  EXPECT_EQ(Tm.Calls("PB_"), (Calls{"PB_IniPlayer(0," + W() + ",0)", "PB_OpenStream(0)", "PB_StartJitterFilter(0,0)",
                                    "PB_SetupJitterFilterFrameCount(0,0,100)",
                                    "PB_InputOneFrameData(0,ptr," + Len + ",14,900000)"}));
  EXPECT_EQ(Entry().Port, 0);
  EXPECT_EQ(Entry().OpenState, 2);
  EXPECT_EQ(Entry().OpenKind, 18);
  EXPECT_EQ(Entry().HasAudio, 1);
  EXPECT_EQ(Entry().Wnd, Wnd);
  EXPECT_EQ(Entry().Group, Group);
  FeedRest();
  EXPECT_TRUE(WaitUntil([&] { return Tm.Query("drawn", 0) >= 6; })) << "played into the channel's window";
}

TEST_F(DecodeTM, FrameTypesTimeStampsAndRefusedInput) {
  ASSERT_EQ(Open(), 0);
  const std::vector<std::uint8_t> Bytes(12, 0x33);
  struct {
    std::uint8_t FrameType;
    double Time;
    const char* Sent;
  } const Cases[] = {
      {ZORV_FRAME_I, 45000.25, "14,900000"},      {ZORV_FRAME_B, 45000.5, "11,1800000"},
      {ZORV_FRAME_P, 1.0, "11,0"},                {ZORV_FRAME_BP, 45000.875, "11,3150000"},
      {ZORV_FRAME_BBP, 0.125, "11,450000"},         {ZORV_FRAME_AUDIO, 45000.75, "13,2700000"},
  };
  for (const auto& C : Cases) {
    Tm.ClearJournal();
    EXPECT_EQ(AddAt(C.FrameType, Bytes, C.Time), 0);
    EXPECT_EQ(Tm.Calls("PB_InputOneFrameData("), (Calls{"PB_InputOneFrameData(0,ptr,12," + std::string(C.Sent) + ")"}))
        << int(C.FrameType);
  }
  // The audio frame switched the sound on, once.
  EXPECT_EQ(Tm.Count("PB_SetAudio(0,1)"), 1);
  EXPECT_EQ(Entry().SoundState, 2);

  // Frame types without a vendor type are not sent.
  Tm.ClearJournal();
  for (std::uint8_t Type : {std::uint8_t{1}, std::uint8_t{0}, std::uint8_t{9}}) {
    TFrameHead H = Head(Type, Bytes.size());
    EXPECT_EQ(Adapter()->InputData(H, Bytes.data()), -1) << int(Type);
  }
  EXPECT_EQ(Tm.Count("PB_InputOneFrameData("), 0);

  // A refused frame: the library's result after 1 ms.
  Tm.Return("PB_InputOneFrameData", 3, 1);
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Add(ZORV_FRAME_P, Bytes), 3);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 1u);
}

TEST_F(DecodeTM, RefusedOpenLeavesNoPlayer) {
  Tm.Return("PB_IniPlayer", 5, 1);
  EXPECT_EQ(Open(), 5) << "the library's own result";
  EXPECT_EQ(Tm.Count("PB_OpenStream("), 0);
  EXPECT_EQ(PlayerNo(), -1);

  Tm.ClearJournal();
  Tm.Return("PB_OpenStream", -7, 1);
  EXPECT_EQ(Open(), -1);
  EXPECT_EQ(Tm.Count("PB_StartJitterFilter(0,0)"), 1) << "the jitter filter is set up whatever the open gave";
  EXPECT_EQ(Tm.Count("PB_InputOneFrameData("), 0);
  EXPECT_EQ(PlayerNo(), -1);

  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(PlayerNo(), 0);
}

TEST_F(DecodeTM, PicturesReachTheHostWithTheirRealPlanesAlsoOnAPortTheLibraryChose) {
  Tm.SetOption("iniplayer.portshift", 7);
  OpenAndDecodeFirst();
  EXPECT_EQ(PlayerNo(), 0);
  ASSERT_EQ(Handle(), 7) << "the port the library made of the player number";
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  Tm.ClearJournal();
  HostPictures::Clear();
  FeedRest();
  EXPECT_EQ(Tm.Count("PB_ReleaseDecoder(7)"), 1);
  EXPECT_EQ(Tm.Calls("PB_RegDecodeDataCallBackEx("), (Calls{"PB_RegDecodeDataCallBackEx(7,ptr,0)"}));
  const auto Expected = PicturesOf(Stream);
  ASSERT_TRUE(HostPictures::WaitForCount(Expected.size() - 1));
  const auto Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), Expected.size() - 1);
  for (std::size_t i = 0; i < Got.size(); ++i) {
    EXPECT_EQ(Got[i].Channel, Channel);
    EXPECT_EQ(Got[i].Info.Size, 152064u);
    EXPECT_EQ(Got[i].Info.Width, 352u);
    EXPECT_EQ(Got[i].Info.Height, 288u);
    EXPECT_EQ(Got[i].Info.FrameKind, 1);
    EXPECT_EQ(Got[i].Info.DvrType, 18);
    EXPECT_TRUE(Got[i].Bytes == Expected[i + 1]) << "picture " << i + 1;
  }

  Tm.ClearJournal();
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1);
  EXPECT_EQ(Tm.Calls("PB_"), (Calls{"PB_ReleaseDecoder(7)", "PB_RegDecodeDataCallBackEx(7,0,0)"}));
  EXPECT_EQ(Tm.Query("callback", 7), 0);
}

TEST_F(DecodeTM, SnapshotsFromMemoryUpToTwoMebibytes) {
  std::int32_t Size[2] = {-1, -1};
  std::vector<std::uint8_t> Memory(2 * 1024 * 1024 + 16, 0xEE);
  EXPECT_EQ(Snap(Size, Memory), -1) << "no player";
  OpenAndDecodeFirst();

  // The library keeps a picture just after it reports it decoded.
  std::int32_t Bytes = -1;
  EXPECT_TRUE(WaitUntil([&] { return (Bytes = Snap(Size, Memory)) > 0; }));
  const auto Expected = zrv::MakeBmp(PicturesOf(Stream)[0].data(), 352, 288);
  ASSERT_EQ(Bytes, static_cast<std::int32_t>(Expected.size()));
  EXPECT_TRUE(std::equal(Expected.begin(), Expected.end(), Memory.begin()));
  EXPECT_EQ(Size[0], 352);
  EXPECT_EQ(Size[1], 288);
  EXPECT_EQ(Tm.Calls("PB_CapturePictureEx(").back(), "PB_CapturePictureEx(0,ptr,ptr)");

  Tm.SetOption("capture.bytes", 2097152);
  std::fill(Memory.begin(), Memory.end(), 0xEE);
  EXPECT_EQ(Snap(Size, Memory), 2097152);
  EXPECT_EQ(Memory[2097152], 0xEE) << "nothing past the image";

  Tm.SetOption("capture.bytes", 2097153);
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Snap(Size, Memory), -1);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 1u);
}

TEST_F(DecodeTM, CloseReleasesTheDecoderSilencesUnregistersAndTakesItsTimeInRealTime) {
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  ASSERT_EQ(Add(ZORV_FRAME_P, Stream.frames[1].bytes), 0);
  Tm.ClearJournal();
  TakeLogMessages();
  Win::Test::SetSleepScale(1.0);
  const auto Start = std::chrono::steady_clock::now();
  TFrameHead H = Head();
  EXPECT_EQ(Adapter()->CloseStream(H), 0);
  const auto Elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Start).count();
  EXPECT_GE(Elapsed, 110) << "10 ms after the close, 100 ms freeing the entry";
  EXPECT_EQ(Tm.Calls("PB_"), (Calls{"PB_ReleaseDecoder(0)", "PB_SetAudio(0,0)", "PB_RegDecodeDataCallBackEx(0,0,0)",
                                    "PB_StopStream(0)", "PB_CloseStream(0)", "PB_Release(0)"}));
  EXPECT_EQ(TakeLogMessages(), (Calls{"Decoderdll 开始关闭流;显示画面序号:17播放器序号:0",
                                      "Decoderdll 关闭流成功;显示画面序号:17播放器序号:0"}));
  EXPECT_EQ(PlayerNo(), -1);
  EXPECT_EQ(Tm.Query("inited", 0), 0);
  EXPECT_EQ(Adapter()->CloseStream(H), -1);
}

TEST_F(DecodeTMDVS, FileHeadIsRefusedAndTheFirstIFrameOpens) {
  EXPECT_EQ(Add(ZORV_FRAME_FILEHEAD, Stream.head), -1);
  EXPECT_EQ(PlayerNo(), -1);
  ASSERT_EQ(AddAt(ZORV_FRAME_I, Stream.frames[0].bytes, 2.25), 0);
  const std::string Len = std::to_string(Stream.frames[0].bytes.size());
  EXPECT_EQ(Tm.Calls("PB_"), (Calls{"PB_IniPlayer(0," + W() + ")", "PB_OpenStream(0)", "PB_StartJitterFilter(0,0)",
                                    "PB_SetupJitterFilterFrameCount(0,0,100)",
                                    "PB_InputOneFrameData(0,ptr," + Len + ",14,900000)"}));
  EXPECT_EQ(Entry().OpenKind, 18);
  EXPECT_EQ(Entry().HasAudio, 1);
  // An open that throws inside the library opens nothing.
  Tarn_Decode_CloseOneChannel(Head());
  Tm.Throw("PB_OpenStream", 1);
  EXPECT_EQ(Open(), -1);
  EXPECT_EQ(PlayerNo(), -1);
}

// Whatever the stream's picture size, the host is told of 352 x 288 and 152 064 bytes; a
// smaller picture reaches it copied into a buffer of that size, never read past its end.
TEST_F(DecodeTMDVS, PicturesAreReportedAs352x288WithoutReadingPastTheLibrarysPicture) {
  for (const auto& [W, H] : {std::pair{704, 576}, std::pair{176, 144}}) {
    SCOPED_TRACE(std::to_string(W) + "x" + std::to_string(H));
    zrv::StreamParams Params;
    Params.width = W;
    Params.height = H;
    Stream = zrv::MakeSyntheticStream(Params, 4);
    Tm.ClearJournal();
    OpenAndDecodeFirst();
    ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
    HostPictures::Clear();
    FeedRest();
    EXPECT_EQ(Tm.Calls("PB_RegisgerCallBack("), (Calls{"PB_RegisgerCallBack(0,ptr)"}));
    const auto Expected = PicturesOf(Stream);
    ASSERT_TRUE(HostPictures::WaitForCount(Expected.size() - 1));
    const auto Got = HostPictures::Take();
    ASSERT_EQ(Got.size(), Expected.size() - 1);
    for (std::size_t i = 0; i < Got.size(); ++i) {
      EXPECT_EQ(Got[i].Info.Size, 152064u);
      EXPECT_EQ(Got[i].Info.Width, 352u);
      EXPECT_EQ(Got[i].Info.Height, 288u);
      EXPECT_EQ(Got[i].Info.DvrType, 22);
      const std::vector<std::uint8_t>& Picture = Expected[i + 1];
      const std::size_t Same = std::min<std::size_t>(Picture.size(), 152064);
      EXPECT_TRUE(std::equal(Picture.begin(), Picture.begin() + static_cast<std::ptrdiff_t>(Same), Got[i].Bytes.begin()))
          << "picture " << i + 1;
      if (Picture.size() < 152064) {
        EXPECT_EQ(std::count(Got[i].Bytes.begin() + static_cast<std::ptrdiff_t>(Same), Got[i].Bytes.end(), 0xA5), 0)
            << "nothing of what lies past the library's picture";
      }
    }
    EXPECT_EQ(Tm.Query("guard", 0), 0);
    Tm.ClearJournal();
    EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1);
    EXPECT_EQ(Tm.Calls("PB_"), (Calls{"PB_RegisgerCallBack(0,0)"}));
    EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  }
}

TEST_F(DecodeTMDVS, CloseGoesStraightToTheLibrary) {
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), &HostPictures::OnPicture), 0);
  ASSERT_EQ(Add(ZORV_FRAME_AUDIO, Stream.frames[1].bytes), 0);
  EXPECT_EQ(Tm.Count("PB_SetAudio(0,1)"), 1);
  Tm.ClearJournal();
  TFrameHead H = Head();
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Adapter()->CloseStream(H), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 110u);
  EXPECT_EQ(Tm.Calls("PB_"), (Calls{"PB_StopStream(0)", "PB_CloseStream(0)", "PB_Release(0)"}))
      << "no sound switch, no unregistering, no decoder release";
  EXPECT_EQ(PlayerNo(), -1);
  EXPECT_EQ(Adapter()->ClearBuffer(H), -1);
}

TEST_F(DecodeTMDVS, SnapshotAsTheTmPlayer) {
  OpenAndDecodeFirst();
  std::int32_t Size[2] = {-1, -1};
  std::vector<std::uint8_t> Memory(1 << 20);
  std::int32_t Bytes = -1;
  EXPECT_TRUE(WaitUntil([&] { return (Bytes = Snap(Size, Memory)) > 0; }));
  EXPECT_EQ(Bytes, 54 + 352 * 3 * 288);
  EXPECT_EQ(Size[0], 352);
  EXPECT_EQ(Size[1], 288);
}

}  // namespace
