// Fixture for the two adapters over the frame decoder SHXDecoder.dll (DVR types 10 and 20):
// the player adapter fixture plus the stand-in drawyuv.dll the library draws through and a
// synthetic ZRV stream to feed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PlayerAdapterTest.h"
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
      : TPlayerAdapterTest(LibraryPath, DvrType, Group, Channel), Draw(Root() + "PlayDll/drawyuv.dll") {}
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
  std::int32_t AddVideo(std::size_t I) { return Add(ZORV_FRAME_P, Stream.frames[I].bytes); }
  // The latest drawing handle made for the test's window (handle numbers run on across tests).
  std::int64_t DrawHandle() const {
    for (std::int64_t H = 4096; H > 0; --H)
      if (Draw.Query("window", H) == Wnd) return H;
    return 0;
  }
  std::int64_t Draws() const { return Draw.Query("draws", DrawHandle()); }

  StandinClient& Shx = Library;
  StandinClient Draw;
  zrv::StreamParams Params;
  zrv::SyntheticStream Stream;
};
