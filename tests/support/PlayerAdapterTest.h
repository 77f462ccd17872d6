// Fixture for the tests of one player adapter through the exports, against its stand-in
// vendor library: one window for the suite (destroying windows is slow under Wine), a fresh
// engine over the test tree for every test, the stand-in reset and the log captured, and frame
// heads for channels of the adapter's DVR type.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "HostPictures.h"
#include "Platform.h"
#include "StandinClient.h"
#include "U_DecodeEngine.h"
#include "ZorvDecoder.h"
#include "ZorvSurface.h"

class TPlayerAdapterTest : public testing::Test {
 protected:
  // LibraryPath: the stand-in below the test tree, e.g. "PlayDll/TKL/TKL_Player.dll".
  TPlayerAdapterTest(const std::string& LibraryPath, std::uint8_t DvrType, std::uint8_t Group,
                     std::uint32_t Channel)
      : Library(Root() + LibraryPath), DvrType(DvrType), Group(Group), Channel(Channel) {}

  static std::string Root() { return std::string(ZORV_TESTROOT) + "/"; }
  static void SetUpTestSuite() { Wnd = zorv_surface_create(0, 0, 352, 288); }
  static void TearDownTestSuite() {
    zorv_surface_destroy(Wnd);
    Wnd = 0;
  }
  void SetUp() override {
    ASSERT_TRUE(Library.Loaded());
    Library.Reset();
    HostPictures::Clear();
    Win::Test::CaptureDebugOutput(true);
    Win::Test::TakeDebugOutput();
    ASSERT_NE(Wnd, 0u);
    ASSERT_EQ(Tarn_Decode_Initialize(0, Root().c_str(), 1), 0);
  }
  // Channels 0..3 and the test's channel are closed before the engine goes.
  void TearDown() override {
    for (std::uint32_t C = 0; C < 4; ++C) Tarn_Decode_CloseOneChannel(HeadOf(ZORV_FRAME_P, 0, C));
    Tarn_Decode_CloseOneChannel(Head());
    Tarn_Decode_ShutDown();
    Library.Reset();
    Win::Test::CaptureDebugOutput(false);
    Win::Test::SetSleepScale(0.01);
  }

  TFrameHead HeadOf(std::uint8_t FrameType, std::size_t Length, std::uint32_t OnChannel) const {
    TFrameHead H;
    std::memset(&H, 0, sizeof H);
    H.Channel = OnChannel;
    H.Wnd = Wnd;
    H.DataLen = static_cast<std::uint32_t>(Length);
    H.FrameType = FrameType;
    H.DvrType = DvrType;
    H.Group = Group;
    return H;
  }
  TFrameHead Head(std::uint8_t FrameType = ZORV_FRAME_P, std::size_t Length = 0) const {
    return HeadOf(FrameType, Length, Channel);
  }
  std::int32_t Add(std::uint8_t FrameType, const std::vector<std::uint8_t>& Bytes) {
    return Tarn_Decode_AddFrame(Head(FrameType, Bytes.size()), Bytes.data());
  }

  // The adapter and the channel's player entry (PlayerNo -1: none).
  TDecodeBase* Adapter() const { return DecodeEngine()->Decoder(DvrType); }
  std::int32_t PlayerNo() const { return Adapter()->ChannelPlayer(Group, Channel); }
  const TPlayerInfo& Entry() const { return Adapter()->PlayerAt(PlayerNo()); }
  // The vendor handle of the channel's stream, as a number and as the journal writes it.
  std::int64_t Handle() const { return Entry().Port; }
  std::string H() const { return std::to_string(Handle()); }

  StandinClient Library;
  static inline std::uint32_t Wnd = 0;
  const std::uint8_t DvrType;
  std::uint8_t Group;
  std::uint32_t Channel;
};
