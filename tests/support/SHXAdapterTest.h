// Fixture for the two adapters over the frame decoder SHXDecoder.dll (DVR types 10 and 20):
// the player adapter fixture plus the stand-in drawyuv.dll the library draws through and a
// synthetic ZRV stream to feed.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "HostPictures.h"
#include "PlayerAdapterTest.h"
#include "SnapTempFiles.h"
#include "StandinClient.h"
#include "ZrvStream.h"

// I420 (U before V) to YV12 (V before U), the plane order the library writes.
inline std::vector<std::uint8_t> ToYV12(const std::vector<std::uint8_t>& I420, int Width, int Height) {
  const std::size_t Luma = static_cast<std::size_t>(Width) * Height, Chroma = Luma / 4;
  std::vector<std::uint8_t> Out(I420.begin(), I420.begin() + Luma);
  Out.insert(Out.end(), I420.begin() + Luma + Chroma, I420.begin() + Luma + 2 * Chroma);
  Out.insert(Out.end(), I420.begin() + Luma, I420.begin() + Luma + Chroma);
  return Out;
}

class TSHXAdapterTest : public TPlayerAdapterTest {
 protected:
  // LibraryPath: "PlayDll/SHX/SHXDecoder.dll" or "PlayDll/HuaYu/SHXDecoder.dll".
  TSHXAdapterTest(const std::string& LibraryPath, std::uint8_t DvrType, std::uint8_t Group, std::uint32_t Channel)
      : TPlayerAdapterTest(LibraryPath, DvrType, Group, Channel),
        Draw(Root() + "PlayDll/drawyuv.dll"),
        LibraryPath(LibraryPath) {}
  void SetUp() override {
    TPlayerAdapterTest::SetUp();
    ASSERT_TRUE(Draw.Loaded());
    Draw.Reset();
    MakeStream(352, 288);
  }
  void MakeStream(int Width, int Height, int Frames = 5) {
    Params.width = Width;
    Params.height = Height;
    Stream = zrv::MakeSyntheticStream(Params, Frames);
  }
  // Shuts the engine down and starts it again over the test tree without drawyuv.dll; gives the
  // stand-in decoder of that tree, reset.
  std::unique_ptr<StandinClient> RestartWithoutDrawyuv() {
    Tarn_Decode_ShutDown();
    const std::string Bare = std::string(ZORV_TESTROOT) + "-shx-nodraw/";
    auto BareShx = std::make_unique<StandinClient>(Bare + LibraryPath);
    EXPECT_TRUE(BareShx->Loaded());
    BareShx->Reset();
    EXPECT_EQ(Tarn_Decode_Initialize(0, Bare.c_str(), 1), 0);
    return BareShx;
  }
  std::int32_t AddVideo(std::size_t I) { return Add(ZORV_FRAME_P, Stream.frames[I].bytes); }
  // The latest drawing handle made for the test's window (handle numbers run on across tests).
  std::int64_t DrawHandle() const {
    for (std::int64_t H = 4096; H > 0; --H)
      if (Draw.Query("window", H) == Wnd) return H;
    return 0;
  }
  std::int64_t Draws() const { return Draw.Query("draws", DrawHandle()); }

  // Feeds the test's channel on another thread while Reopen, 20 times on this one, closes the
  // stream and opens it again; then closes it. No frame may reach a decoder after the decoder
  // was destroyed, and none may be left alive. Returns the number of decoders destroyed.
  std::size_t FeedWhileReopening(const std::function<void()>& Reopen) {
    std::atomic<bool> Stop{false};
    std::thread Feeder([&] {
      for (std::size_t I = 0; !Stop; ++I) AddVideo(1 + I % 4);
    });
    for (int Round = 0; Round < 20; ++Round) Reopen();
    Stop = true;
    Feeder.join();
    Tarn_Decode_CloseOneChannel(Head());
    EXPECT_EQ(Shx.Query("decoders"), 0);

    std::set<std::string> Destroyed;
    for (const std::string& Call : Shx.Calls("SHXDec_")) {
      if (Call.rfind("SHXDec_Destroy(", 0) == 0) {
        Destroyed.insert(Call.substr(15, Call.size() - 16));
      } else if (Call.rfind("SHXDec_Decode(", 0) == 0) {
        const std::string Decoder = Call.substr(14, Call.find(',') - 14);
        EXPECT_EQ(Destroyed.count(Decoder), 0u) << Call << " after its decoder was destroyed";
      }
    }
    return Destroyed.size();
  }

  // On the open stream of the test's channel: a snapshot taken while Feed gives the channel
  // frames is a 352 x 288 BMP image, and one taken while nobody feeds fails after its 300 rounds
  // of 2 ms; neither leaves a temporary file. Run in real time: the wait is real.
  void ExpectSnapshotOfAFedPicture(const std::function<void()>& Feed) {
    const auto Before = SnapTempFiles();
    std::vector<std::uint8_t> Bmp(2 * 1024 * 1024);
    std::uint8_t* Buffer = Bmp.data();
    std::int32_t Size[2] = {0, 0};
    std::int32_t Bytes = 0;
    std::thread Snapper([&] { Bytes = Tarn_Decode_SnapPicture(Head(), Size, &Buffer); });
    while (!WaitUntil([&] { return Bytes != 0; }, 5)) Feed();
    Snapper.join();
    EXPECT_EQ(Bytes, 54 + 352 * 288 * 3);
    EXPECT_EQ(Size[0], 352);
    EXPECT_EQ(Size[1], 288);
    EXPECT_EQ(Bmp[0], 'B');
    EXPECT_EQ(Bmp[1], 'M');
    EXPECT_EQ(SnapTempFiles(), Before);

    const std::uint64_t Start = Win::Test::NominalSleepMsOfThisThread();
    EXPECT_EQ(Tarn_Decode_SnapPicture(Head(), Size, &Buffer), -1);
    EXPECT_GE(Win::Test::NominalSleepMsOfThisThread() - Start, 600u);
    EXPECT_EQ(SnapTempFiles(), Before);
  }

  StandinClient& Shx = Library;
  StandinClient Draw;
  const std::string LibraryPath;
  zrv::StreamParams Params;
  zrv::SyntheticStream Stream;
};
