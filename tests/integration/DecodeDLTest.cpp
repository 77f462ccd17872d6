// DVR type 6 through the exports, against the stand-in DL decoder (DLLDECODER.dll after
// decoder.dll): one library decoder per stream drawing into the channel's window, refused
// frames retried and given up, the host's pictures copied from the decoded planes, the window
// handed over when pictures are wanted, audio frames always passed on, snapshots through
// Capture, and the decoder destroyed before anyone can feed it again.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "HostPictures.h"
#include "PlayerAdapterTest.h"
#include "SnapTempFiles.h"
#include "U_DecodeDL.h"
#include "ZrvStream.h"

namespace {

class DecodeDL : public TPlayerAdapterTest {
 protected:
  DecodeDL() : TPlayerAdapterTest("PlayDll/DL/DLLDECODER.dll", TDecodeDL::DvrTypeCode, 2, 17) {}
  void SetUp() override {
    TPlayerAdapterTest::SetUp();
    Params.audio = true;
    Stream = zrv::MakeSyntheticStream(Params, 6);
  }
  std::int32_t Open() { return Add(ZORV_FRAME_FILEHEAD, Stream.head); }
  // The I-th video frame of the stream (audio frames skipped).
  const std::vector<std::uint8_t>& Video(std::size_t I) const { return Stream.frames[2 * I].bytes; }
  const std::vector<std::uint8_t>& Audio(std::size_t I) const { return Stream.frames[2 * I + 1].bytes; }
  std::int32_t AddVideo(std::size_t I) { return Add(ZORV_FRAME_P, Video(I)); }

  StandinClient& Dl = Library;
  zrv::StreamParams Params;
  zrv::SyntheticStream Stream;
};

TEST_F(DecodeDL, OpensOneDecoderInTheWindowWhichDrawsEveryFrame) {
  Win::Test::RecordLoaderCalls(true);
  ASSERT_EQ(Open(), 0);
  const std::string Loads = Win::Test::TakeLoaderCalls();
  Win::Test::RecordLoaderCalls(false);
  const auto Companion = Loads.find("decoder.dll");
  const auto Main = Loads.find("DLLDECODER.dll");
  ASSERT_NE(Companion, std::string::npos) << Loads;
  ASSERT_NE(Main, std::string::npos) << Loads;
  EXPECT_LT(Companion, Main) << "the companion is loaded first";

  EXPECT_EQ(Dl.Calls("OpenDecoder("),
            (std::vector<std::string>{"OpenDecoder(" + std::to_string(Wnd) + ",ptr,40)"}));
  EXPECT_EQ(Handle(), 1) << "the library's handle is the entry's port";
  EXPECT_EQ(Entry().OpenState, 2);
  EXPECT_EQ(Entry().OpenKind, 6);
  EXPECT_EQ(Entry().Group, Group);
  EXPECT_EQ(Entry().Wnd, Wnd);
  EXPECT_EQ(Entry().HasAudio, 1);
  const std::vector<std::string> Log = TakeLogMessages();
  EXPECT_NE(std::find(Log.begin(), Log.end(), "---------------------1"), Log.end());

  for (std::size_t I = 0; I < 3; ++I) EXPECT_EQ(AddVideo(I), 0);
  std::vector<std::string> Fed;
  for (std::size_t I = 0; I < 3; ++I) Fed.push_back("Decode(" + H() + ",ptr," + std::to_string(Video(I).size()) + ",ptr)");
  EXPECT_EQ(Dl.Calls("Decode("), Fed);
  EXPECT_EQ(Dl.Query("decoded", Handle()), 3);
  EXPECT_EQ(Dl.Query("drawn", Handle()), 3) << "the library draws into the channel's window";

  // Not a picture (-1): no retry, and the frame counts as handed over.
  Dl.ClearJournal();
  EXPECT_EQ(Add(ZORV_FRAME_P, std::vector<std::uint8_t>(64, 0x11)), 0);
  EXPECT_EQ(Dl.Count("Decode("), 1);

  // Control slots without library calls.
  EXPECT_EQ(Tarn_Decode_RefrushWindow(Head()), -1);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head()), 0);
}

TEST_F(DecodeDL, OpenWithoutADecoderLeavesNoPlayer) {
  // A head the library does not take: handle 0.
  EXPECT_EQ(Add(ZORV_FRAME_FILEHEAD, std::vector<std::uint8_t>(40, 0)), -1);
  EXPECT_EQ(PlayerNo(), -1);
  AddVideo(0);  // dropped until a file head opens the channel
  EXPECT_EQ(Dl.Count("Decode("), 0) << "nothing is fed to a handle the library never made";

  // A fault inside the open.
  Dl.Throw("OpenDecoder", 1);
  EXPECT_EQ(Open(), -1);
  EXPECT_EQ(PlayerNo(), -1);
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(AddVideo(0), 0);
}

TEST_F(DecodeDL, RefusedFrameIsGivenUpOnTheHundredthRefusal) {
  ASSERT_EQ(Open(), 0);
  Dl.ClearJournal();
  Dl.Return("Decode", -2);
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(AddVideo(0), -1);
  EXPECT_EQ(Dl.Count("Decode("), 100);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 100u * 5) << "5 ms after every refusal";

  // Refused a few times, then taken.
  Dl.Unscript("Decode");
  Dl.Return("Decode", -7, 3);
  Dl.ClearJournal();
  EXPECT_EQ(AddVideo(1), 0);
  EXPECT_EQ(Dl.Count("Decode("), 4);
  EXPECT_EQ(Dl.Query("decoded", Handle()), 1);

  // A fault inside Decode costs the frame only.
  Dl.Throw("Decode", 1);
  EXPECT_EQ(AddVideo(2), 0);
  EXPECT_EQ(AddVideo(3), 0);
  EXPECT_EQ(Dl.Query("decoded", Handle()), 2);
}

// Real time: 5 ms per refusal, 100 ms in the close.
TEST_F(DecodeDL, CloseFromAnotherThreadEndsTheRetriesAndNothingReachesTheDestroyedDecoder) {
  Win::Test::SetSleepScale(1.0);
  ASSERT_EQ(Open(), 0);
  const std::string h = H();
  Dl.ClearJournal();
  Dl.Return("Decode", -2);
  std::int32_t Fed = 0;
  std::thread Feeder([&] { Fed = AddVideo(0); });
  ASSERT_TRUE(WaitUntil([&] { return Dl.Count("Decode(") >= 3; }));
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head()), 0);
  EXPECT_GE(Win::Test::NominalSleepMsOfThisThread() - Before, 200u);
  Feeder.join();
  EXPECT_EQ(Fed, -1);
  const std::vector<std::string> Calls = Dl.Calls();
  const auto Destroy = std::find(Calls.begin(), Calls.end(), "DestroyDecoder(" + h + ")");
  ASSERT_NE(Destroy, Calls.end());
  EXPECT_LT(std::count_if(Calls.begin(), Calls.end(), [](const std::string& C) { return C.rfind("Decode(", 0) == 0; }),
            100);
  EXPECT_EQ(std::count_if(Destroy, Calls.end(), [](const std::string& C) { return C.rfind("Decode(", 0) == 0; }), 0)
      << "no frame reaches a destroyed decoder";
  EXPECT_EQ(Dl.Query("stale"), 0);
  EXPECT_EQ(Dl.Query("decoders"), 0);
  EXPECT_EQ(PlayerNo(), -1);
}

TEST_F(DecodeDL, HostGetsTheDecodedPicturesWhileItsCallbackRuns) {
  ASSERT_EQ(Open(), 0);
  const std::string Window = std::to_string(Wnd);
  // Stopping a callback that never started asks nothing of the library.
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1);
  EXPECT_EQ(Dl.Count("SetDecoderHWnd("), 0);

  ASSERT_EQ(Tarn_Decode_StartCallBack(Head(), HostPictures::OnPicture), 0);
  EXPECT_EQ(AddVideo(0), 0);
  EXPECT_EQ(Dl.Calls("SetDecoderHWnd("), (std::vector<std::string>{"SetDecoderHWnd(" + H() + "," + Window + ")"}));
  EXPECT_EQ(Entry().CallBackState, 2);
  EXPECT_EQ(AddVideo(1), 0);
  // Not a picture, and a refused frame: the host gets nothing for them.
  EXPECT_EQ(Add(ZORV_FRAME_P, std::vector<std::uint8_t>(64, 0x11)), 0);
  Dl.Return("Decode", -2);
  EXPECT_EQ(AddVideo(2), -1);
  Dl.Unscript("Decode");
  EXPECT_EQ(AddVideo(3), 0);

  const std::vector<std::vector<std::uint8_t>> Expected = PicturesOf(Stream);
  const std::vector<THostPicture> Got = HostPictures::Take();
  ASSERT_EQ(Got.size(), 3u);
  const std::size_t Shown[] = {0, 1, 3};
  for (std::size_t I = 0; I < Got.size(); ++I) {
    EXPECT_EQ(Got[I].Channel, Channel);
    EXPECT_EQ(Got[I].Info.Size, 152064u);
    EXPECT_EQ(Got[I].Info.Width, 352u);
    EXPECT_EQ(Got[I].Info.Height, 288u);
    EXPECT_EQ(Got[I].Info.FrameKind, 1);
    EXPECT_EQ(Got[I].Info.DvrType, 6);
    EXPECT_TRUE(Got[I].Bytes == Expected[Shown[I]]) << "picture " << I << " is the decoded one";
  }

  EXPECT_EQ(Tarn_Decode_StopCallBack(Head()), -1);
  EXPECT_EQ(Dl.Count("SetDecoderHWnd(" + H() + "," + Window + ")"), 2) << "the window goes back on stop";
  EXPECT_EQ(Entry().CallBackState, 0);
  EXPECT_EQ(AddVideo(4), 0);
  EXPECT_EQ(HostPictures::Count(), 0u);
}

// Real time: 1 ms after every audio frame.
TEST_F(DecodeDL, AudioFramesGoToTheLibraryWhateverTheSoundState) {
  Win::Test::SetSleepScale(1.0);
  ASSERT_EQ(Open(), 0);
  Dl.ClearJournal();
  EXPECT_EQ(Tarn_Decode_PlaySound(Head()), 0);
  EXPECT_EQ(Entry().SoundState, 2);
  const std::string Audio0 = "DecodeAudioFrame(ptr," + std::to_string(Audio(0).size()) + ",0)";
  EXPECT_EQ(Add(ZORV_FRAME_AUDIO, Audio(0)), 0);
  EXPECT_EQ(Tarn_Decode_StopSound(Head()), 0);
  EXPECT_EQ(Entry().SoundState, 0);
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Add(ZORV_FRAME_AUDIO, Audio(1)), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 1u);
  EXPECT_EQ(Dl.Calls(), (std::vector<std::string>{Audio0, Audio0}))
      << "sound switches nothing in the library; audio never goes to Decode";
  EXPECT_EQ(Dl.Query("audio"), 2);

  Dl.Throw("DecodeAudioFrame", 1);
  EXPECT_EQ(Add(ZORV_FRAME_AUDIO, Audio(2)), 0);
  EXPECT_EQ(Add(ZORV_FRAME_AUDIO, Audio(3)), 0);
  EXPECT_EQ(Dl.Query("audio"), 3);
}

TEST_F(DecodeDL, SnapshotsAreTheLibrarysBmpAndLeaveNoTemporaryFile) {
  const std::set<std::string> TempBefore = SnapTempFiles();
  std::vector<std::uint8_t> Memory(54 + 352 * 288 * 3 + 16, 0);
  std::uint8_t* Buffer = Memory.data();
  std::int32_t Size[2] = {-1, -1};
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Buffer), -1) << "no stream";

  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(AddVideo(0), 0);
  ASSERT_EQ(AddVideo(1), 0);
  const std::vector<std::uint8_t> Bmp = zrv::MakeBmp(PicturesOf(Stream)[1].data(), 352, 288);
  ASSERT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Buffer), static_cast<std::int32_t>(Bmp.size()));
  EXPECT_EQ(Size[0], 352);
  EXPECT_EQ(Size[1], 288);
  EXPECT_TRUE(std::equal(Bmp.begin(), Bmp.end(), Memory.begin()));
  EXPECT_EQ(Dl.Count("Capture(" + H() + ","), 1);
  EXPECT_EQ(SnapTempFiles(), TempBefore);

  // Capture writes nothing: -1, and its temporary file goes all the same.
  Dl.Return("Capture", 0);
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Buffer), -1);
  EXPECT_EQ(SnapTempFiles(), TempBefore);
}

TEST_F(DecodeDL, CloseAndShutDownDestroyTheDecoders) {
  ASSERT_EQ(Open(), 0);
  const std::string First = H();
  ASSERT_EQ(AddVideo(0), 0);
  // A new file head closes the stream before opening the next.
  Dl.ClearJournal();
  ASSERT_EQ(Open(), 0);
  const std::vector<std::string> Calls = Dl.Calls();
  ASSERT_GE(Calls.size(), 2u);
  EXPECT_EQ(Calls[0], "DestroyDecoder(" + First + ")");
  EXPECT_EQ(Calls[1].rfind("OpenDecoder(", 0), 0u);
  EXPECT_EQ(Dl.Query("decoders"), 1);

  // Shutting down with the channel open: the decoder is destroyed before its library goes.
  Dl.ClearJournal();
  const std::string Second = H();
  Tarn_Decode_ShutDown();
  EXPECT_EQ(Dl.Calls(), (std::vector<std::string>{"DestroyDecoder(" + Second + ")"}));
  EXPECT_EQ(Dl.Query("decoders"), 0);
  ASSERT_EQ(Tarn_Decode_Initialize(0, Root().c_str(), 1), 0);
}

TEST(DecodeDLLoad, WithoutTheCompanionNothingLoads) {
  const std::string Root = std::string(ZORV_TESTROOT) + "-dl-nodecoder/";
  ASSERT_EQ(Tarn_Decode_Initialize(0, Root.c_str(), 1), 0);
  const zrv::SyntheticStream Stream = zrv::MakeSyntheticStream({}, 1);
  TFrameHead Head{};
  Head.Channel = 3;
  Head.DvrType = TDecodeDL::DvrTypeCode;
  Head.FrameType = ZORV_FRAME_FILEHEAD;
  Head.DataLen = static_cast<std::uint32_t>(Stream.head.size());
  Win::Test::RecordLoaderCalls(true);
  EXPECT_EQ(Tarn_Decode_AddFrame(Head, Stream.head.data()), -1);
  EXPECT_EQ(Tarn_Decode_AddFrame(Head, Stream.head.data()), -1) << "retried, and failing again";
  const std::string Loads = Win::Test::TakeLoaderCalls();
  Win::Test::RecordLoaderCalls(false);
  EXPECT_EQ(Loads.find("DLLDECODER.dll"), std::string::npos) << Loads;
  EXPECT_EQ(DecodeEngine()->Decoder(TDecodeDL::DvrTypeCode)->State(), 0);
  Tarn_Decode_ShutDown();
}

}  // namespace
