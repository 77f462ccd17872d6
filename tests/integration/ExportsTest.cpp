// The export shells: fixed results, life cycle, H3 heads and input the tables cannot take.
#include <gtest/gtest.h>

#include <cstring>

#include "Platform.h"
#include "SpineTestAdapter.h"
#include "ZorvDecoder.h"

namespace {

const std::uint8_t Data[16] = {};

TFrameHeadH3 MakeH3(std::uint8_t Group, std::uint32_t Channel, std::uint8_t FrameType, std::uint8_t DvrType) {
  TFrameHeadH3 Head;
  std::memset(&Head, 0, sizeof Head);
  Head.Group = Group;
  Head.Channel = Channel;
  Head.FrameType = FrameType;
  Head.DvrType = DvrType;
  Head.DataLen = 4;
  Head.DecodeMode = 2;
  const std::uint16_t Stamp[8] = {2010, 3, 5, 4, 12, 0, 0, 0};
  std::memcpy(Head.FrameStamp, Stamp, sizeof Stamp);
  return Head;
}

// Every head-taking export with the given head; true when all answered -1 (Pause: -1).
void ExpectAllRefused(const TFrameHead& Head) {
  std::int32_t Size[2];
  std::uint8_t Bmp[64];
  std::uint8_t* Buffer = Bmp;
  EXPECT_EQ(Tarn_Decode_AddFrame(Head, Data), -1);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head), -1);
  EXPECT_EQ(Tarn_Decode_RefrushWindow(Head), -1);
  EXPECT_EQ(Tarn_Decode_ResetDisplay(Head, 1), -1);
  EXPECT_EQ(Tarn_Decode_PlaySound(Head), -1);
  EXPECT_EQ(Tarn_Decode_StopSound(Head), -1);
  EXPECT_EQ(Tarn_Decode_StartCallBack(Head, nullptr), -1);
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head), -1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head), -1);
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head, Size, &Buffer), -1);
  EXPECT_EQ(Tarn_Decode_StartAviRecord(Head, 0), -1);
  EXPECT_EQ(Tarn_Decode_StopAviRecord(Head), -1);
  EXPECT_EQ(Tarn_Decode_Pause(&Head, 1), -1);
  EXPECT_EQ(Tarn_Decode_SetPlayMode(Head, 1), -1);
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(Head, 1, 2, 3, 4, 5, 6), -1);
  EXPECT_EQ(Tarn_Decode_SetDisplayRegion(Head, 1, 2, nullptr, 4), -1);
}

TEST(ExportsTest, NoEngineBeforeInitialiseAndAfterShutDown) {
  TSpineRig Rig;
  Rig.UseAll();
  TFrameHead Head = MakeHead(0, 0, 1, 1, 4);
  Head.HardIndex = 1;
  ExpectAllRefused(Head);
  std::int32_t A = 0, B = 0;
  EXPECT_EQ(Tarn_Decode_OutParm(1, &A, &B), -1);
  EXPECT_EQ(Tarn_Decode_InitHardHandle(1), -1);
  EXPECT_EQ(Tarn_Decode_AddFrameH3(MakeH3(0, 0, 1, 1), Data), -1);

  ASSERT_EQ(Tarn_Decode_Initialize(0, Rig.LibDir().c_str(), 0), 0);
  EXPECT_EQ(Tarn_Decode_AddFrame(Head, Data), 0);
  EXPECT_EQ(Tarn_Decode_ShutDown(), 0);
  EXPECT_EQ(Tarn_Decode_ShutDown(), 0);
  EXPECT_EQ(Tarn_Decode_ShutDownH3(), 0);
  ExpectAllRefused(Head);
  EXPECT_EQ(Tarn_Decode_InitHardHandle(1), -1);
}

TEST(ExportsTest, InitialiseTwiceKeepsTheFirstEngine) {
  TSpineRig Rig;
  Rig.UseAll();
  ASSERT_EQ(Tarn_Decode_Initialize(7, Rig.LibDir().c_str(), 0), 0);
  TDecodeEngine* First = DecodeEngine();
  ASSERT_NE(First, nullptr);
  EXPECT_EQ(First->InitParam(), 7);
  EXPECT_EQ(First->LibDir(), Rig.LibDir());
  // Initialise loaded the MPEG-4 adapter and both cards.
  EXPECT_EQ(TSpineRig::Adapter(13)->State(), 2);
  EXPECT_EQ(TSpineRig::Card(1)->State(), 2);
  EXPECT_EQ(TSpineRig::Card(3)->State(), 2);
  EXPECT_EQ(TSpineRig::Adapter(1)->State(), 0);
  EXPECT_EQ(Tarn_Decode_Initialize(8, "elsewhere\\", 1), 0);
  EXPECT_EQ(DecodeEngine(), First);
  EXPECT_EQ(First->InitParam(), 7);
  EXPECT_EQ(Tarn_Decode_InitializeH3(Rig.LibDir().c_str(), 1), 0);
  EXPECT_EQ(DecodeEngine(), First);
}

TEST(ExportsTest, NoHardwareLeavesTheCardsUnloaded) {
  TSpineRig Rig;
  Rig.UseAll();
  ASSERT_EQ(Tarn_Decode_InitializeH3(Rig.LibDir().c_str(), 1), 0);
  EXPECT_EQ(DecodeEngine()->InitParam(), 0);
  EXPECT_EQ(TSpineRig::Adapter(13)->State(), 2);
  EXPECT_EQ(TSpineRig::Card(1)->State(), 0);
  EXPECT_EQ(TSpineRig::Card(3)->State(), 0);
}

TEST(ExportsTest, FixedResults) {
  TSpineRig Rig;
  Rig.UseAll();
  TFrameHead Head = MakeHead(0, 1, 0, 1);
  EXPECT_EQ(Tarn_Decode_SetPlayMode(Head, 1), -1);
  ASSERT_EQ(Tarn_Decode_Initialize(0, Rig.LibDir().c_str(), 0), 0);
  EXPECT_EQ(Tarn_Decode_SetPlayMode(Head, 1), -1);
  EXPECT_EQ(Tarn_Decode_PlaySound(Head), 0);  // no stream: still 0
  EXPECT_EQ(Tarn_Decode_StopSound(Head), 0);
  EXPECT_EQ(Tarn_Decode_StartCallBack(Head, reinterpret_cast<TDecCallBack>(8)), 0);
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head), -1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head), -1);  // nothing open
  EXPECT_EQ(Tarn_Decode_InitHardHandle(0), 0);
}

TEST(ExportsTest, GroupOrChannelOutsideTheTablesTouchesNothing) {
  TSpineRig Rig;
  Rig.UseAll();
  ASSERT_EQ(Tarn_Decode_Initialize(0, Rig.LibDir().c_str(), 0), 0);
  TTestAdapter* Hik = TSpineRig::Adapter(1);
  Hik->ClearCalls();
  Win::Test::CaptureDebugOutput(true);
  Win::Test::TakeDebugOutput();
  for (auto [Group, Channel] : {std::pair<int, std::uint32_t>{5, 0}, {255, 0}, {0, 100}, {4, 0xFFFFFFFFu}}) {
    TFrameHead Head = MakeHead(static_cast<std::uint8_t>(Group), Channel, 1, 1, 4);
    Head.HardIndex = 1;
    ExpectAllRefused(Head);
    Head.FrameType = 2;
    EXPECT_EQ(Tarn_Decode_AddFrame(Head, Data), -1);
    TFrameHeadH3 H3 = MakeH3(static_cast<std::uint8_t>(Group), Channel, 1, 1);
    EXPECT_EQ(Tarn_Decode_AddFrameH3(H3, Data), -1);
    EXPECT_EQ(Tarn_Decode_CloseOneChannelH3(H3), -1);
  }
  EXPECT_EQ(Win::Test::TakeDebugOutput(), "");
  Win::Test::CaptureDebugOutput(false);
  EXPECT_TRUE(Hik->Calls().empty());
  EXPECT_EQ(Hik->FreeEntries(), 500);
  // PlayM4 ports outside 0..99 answer the "no engine" values.
  EXPECT_EQ(PlayM4_OpenStream(100, 1, const_cast<std::uint8_t*>(Data), 4, 0), 0);
  EXPECT_EQ(PlayM4_OpenStream(-1, 1, const_cast<std::uint8_t*>(Data), 4, 0), 0);
  EXPECT_EQ(PlayM4_SetVolume(100, 5), 1);
  EXPECT_EQ(PlayM4_SetColor(-5, 0, 0, 0, 0, 0), -1);
  EXPECT_EQ(PlayM4_GetPlayPos(1000), 0.0);
  EXPECT_TRUE(Hik->Calls().empty());
}

TEST(ExportsTest, NullDataWithALengthIsRefused) {
  TSpineRig Rig;
  Rig.UseAll();
  ASSERT_EQ(Tarn_Decode_Initialize(0, Rig.LibDir().c_str(), 0), 0);
  TTestAdapter* Hik = TSpineRig::Adapter(1);
  Hik->ClearCalls();
  EXPECT_EQ(Tarn_Decode_AddFrame(MakeHead(0, 0, 1, 1, 40), nullptr), -1);
  EXPECT_TRUE(Hik->Calls().empty());
  EXPECT_EQ(Tarn_Decode_AddFrame(MakeHead(0, 0, 1, 1, 4), Data), 0);
  EXPECT_EQ(Tarn_Decode_AddFrame(MakeHead(0, 0, 2, 1, 40), nullptr), -1);
  EXPECT_EQ(Hik->Count("InputData"), 0);
  EXPECT_EQ(Tarn_Decode_AddFrame(MakeHead(0, 0, 2, 1, 0), nullptr), 0);  // nothing to read
}

TEST(ExportsTest, ExceptionsBecomeMinusOne) {
  TSpineRig Rig;
  Rig.UseAll();
  ASSERT_EQ(Tarn_Decode_Initialize(0, Rig.LibDir().c_str(), 0), 0);
  ASSERT_EQ(Tarn_Decode_AddFrame(MakeHead(0, 0, 1, 1, 4), Data), 0);
  TSpineRig::Adapter(1)->ThrowOnInput = true;
  EXPECT_EQ(Tarn_Decode_AddFrame(MakeHead(0, 0, 2, 1, 4), Data), -1);
  TSpineRig::Adapter(1)->ThrowOnClose = true;
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(MakeHead(0, 0, 0, 1)), -1);
  EXPECT_EQ(PlayM4_CloseStream(0), 0);
}

TEST(ExportsTest, H3HeadsConvertAndNormalise) {
  TSpineRig Rig;
  Rig.UseAll();
  ASSERT_EQ(Tarn_Decode_Initialize(0, Rig.LibDir().c_str(), 0), 0);
  TTestAdapter* Hy = TSpineRig::Adapter(15);
  TFrameHeadH3 Head = MakeH3(2, 33, 1, 16);
  Head.Wnd = 0x55;
  EXPECT_EQ(Tarn_Decode_AddFrameH3(Head, Data), 0);
  ASSERT_EQ(Hy->Count("OpenStream"), 1);
  const TAdapterCall Call = Hy->Calls().back();
  EXPECT_EQ(Call.DvrType, 15);
  EXPECT_EQ(Call.Group, 2);
  EXPECT_EQ(Call.Channel, 33u);
  EXPECT_EQ(Call.Wnd, 0x55u);
  EXPECT_EQ(Tarn_Decode_ClearBufferH3(Head), 0);
  EXPECT_EQ(Tarn_Decode_RefrushWindowH3(Head), 0);
  EXPECT_EQ(Tarn_Decode_PlaySoundH3(Head), 0);
  EXPECT_EQ(Tarn_Decode_StopSoundH3(Head), 0);
  EXPECT_EQ(Tarn_Decode_StartCallBackH3(Head, reinterpret_cast<TDecCallBack>(4)), 0);
  EXPECT_EQ(Tarn_Decode_StopCallBackH3(Head), -1);
  std::int32_t Size[2] = {};
  std::uint8_t Bmp[512];
  std::uint8_t* Buffer = Bmp;
  EXPECT_EQ(Tarn_Decode_SnapPictureH3(Head, Size, &Buffer), 198);
  EXPECT_EQ(Tarn_Decode_CloseOneChannelH3(Head), 0);
  EXPECT_EQ(Hy->FreeEntries(), 500);
  // An impossible date still goes through.
  const std::uint16_t Bad[8] = {0, 0, 9, 0, 99, 99, 99, 9999};
  std::memcpy(Head.FrameStamp, Bad, sizeof Bad);
  EXPECT_EQ(Tarn_Decode_AddFrameH3(Head, Data), 0);
}

}  // namespace
