// The PlayM4_* layer over test adapters: default heads of group 4, the stream sequence, the
// decode callback wish, file playback controls and the "no engine" values.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "Platform.h"
#include "SpineTestAdapter.h"
#include "ZorvDecoder.h"

namespace {

std::uint8_t Block[40] = {};

void ZORV_STDCALL PlayM4CallBack(int32_t, const uint8_t*, int32_t, const void*, int32_t, int32_t) {}
void ZORV_STDCALL OtherCallBack(int32_t, const uint8_t*, int32_t, const void*, int32_t, int32_t) {}

TEST(PlayM4LayerTest, EngineAbsentValues) {
  TSpineRig Rig;
  std::int32_t A, B, C, D;
  EXPECT_EQ(PlayM4_OpenStream(1, 1, Block, 40, 0), 0);
  EXPECT_EQ(PlayM4_InputData(1, Block, 40), 0);
  EXPECT_EQ(PlayM4_CloseStream(1), 0);
  EXPECT_EQ(PlayM4_Stop(1), 0);
  EXPECT_EQ(PlayM4_Play(1, 5), 0);
  EXPECT_EQ(PlayM4_SetDecCallBack(1, PlayM4CallBack), 0);
  EXPECT_EQ(PlayM4_SetStreamOpenMode(1, 1), 0);
  EXPECT_EQ(PlayM4_SetVolume(1, 100), 1);
  EXPECT_EQ(PlayM4_PlaySound(1), 0);
  EXPECT_EQ(PlayM4_StopSound(1), 0);
  EXPECT_EQ(PlayM4_SnapPicture(1, "x.bmp"), 0);
  EXPECT_EQ(PlayM4_SetColor(1, 0, 1, 2, 3, 4), -1);
  EXPECT_EQ(PlayM4_GetColor(1, 0, &A, &B, &C, &D), -1);
  EXPECT_EQ(PlayM4_OpenFile(1, 1, "x.mp4"), 0);
  EXPECT_EQ(PlayM4_CloseFile(1), 0);
  EXPECT_EQ(PlayM4_Pause(1, 1), 0);
  EXPECT_EQ(PlayM4_Fast(1), 0);
  EXPECT_EQ(PlayM4_Slow(1), 0);
  EXPECT_EQ(PlayM4_OneByOne(1), 0);
  EXPECT_EQ(PlayM4_SetPlayPos(1, 0.5), 0);
  EXPECT_EQ(PlayM4_GetPlayPos(1), 0.0);
  EXPECT_EQ(PlayM4_GetFileTime(1), 0);
  EXPECT_EQ(PlayM4_GetPlayedTime(1), 0);
  EXPECT_EQ(PlayM4_GetPlayedFrames(1), 0);
  EXPECT_EQ(PlayM4_GetFileTotalFrames(1), 0);
  EXPECT_EQ(PlayM4_GetCurrentFrameRate(1), 0);
  EXPECT_EQ(PlayM4_GetPlayedTimeEx(1), 0);
  EXPECT_EQ(PlayM4_SetPlayedTimeEx(1, 5), 0);
  EXPECT_EQ(PlayM4_GetCurrentFrameNum(1), 0);
}

class PlayM4Layer : public ::testing::Test {
 protected:
  void SetUp() override {
    Rig.UseAll();
    ASSERT_EQ(Tarn_Decode_Initialize(0, Rig.LibDir().c_str(), 1), 0);
  }
  static TChannelState State(int Port) {
    TChannelState S;
    DecodeEngine()->GetChannelState(4, Port, S);
    return S;
  }
  TSpineRig Rig;
};

TEST_F(PlayM4Layer, StreamSequence) {
  TTestAdapter* Hik = TSpineRig::Adapter(1);
  Hik->ClearCalls();
  EXPECT_EQ(PlayM4_OpenStream(3, 2, Block, 40, 1 << 20), 1);
  ASSERT_EQ(Hik->Count("OpenStream"), 1);
  TAdapterCall Open = Hik->Calls().back();
  EXPECT_EQ(Open.Group, 4);
  EXPECT_EQ(Open.Channel, 3u);
  EXPECT_EQ(Open.DvrType, 1);
  EXPECT_EQ(Open.FrameType, 1);

  EXPECT_EQ(PlayM4_Play(3, 0x77), 1);
  EXPECT_EQ(State(3).Wnd, 0x77u);
  TPlayerInfo Info;
  Hik->GetPlayerInfo(MakeHead(4, 3, 0, 1), Info);
  EXPECT_EQ(Info.Wnd, 0x77u);
  EXPECT_EQ(Hik->Ops().back(), "Play");

  EXPECT_EQ(PlayM4_InputData(3, Block, 40), 1);
  TAdapterCall Input = Hik->Calls().back();
  EXPECT_EQ(Input.Op, "InputData");
  EXPECT_EQ(Input.FrameType, 2);
  EXPECT_EQ(Input.DvrType, 1);
  EXPECT_EQ(Input.Wnd, 0x77u);

  EXPECT_EQ(PlayM4_Stop(3), 1);
  EXPECT_EQ(State(3).DvrType, 0);
  EXPECT_EQ(Hik->FreeEntries(), 500);
  EXPECT_EQ(PlayM4_Stop(3), 0);         // nothing open any more
  EXPECT_EQ(PlayM4_InputData(3, Block, 40), 0);  // no recorded type: no adapter

  // A type without an adapter.
  EXPECT_EQ(PlayM4_OpenStream(4, 11, Block, 40, 0), 0);
}

TEST_F(PlayM4Layer, LazyTypeOpensWithTheFirstBlock) {
  TTestAdapter* Tm = TSpineRig::Adapter(18);
  EXPECT_EQ(PlayM4_OpenStream(5, 18, Block, 40, 0), 1);
  EXPECT_EQ(Tm->Count("OpenStream"), 0);
  EXPECT_EQ(PlayM4_InputData(5, Block, 40), 1);
  ASSERT_EQ(Tm->Count("OpenStream"), 1);
  EXPECT_EQ(Tm->Calls()[Tm->Calls().size() - 2].FrameType, 2);  // opened by an I-frame block
  EXPECT_EQ(PlayM4_CloseStream(5), 1);
  EXPECT_EQ(Tm->FreeEntries(), 500);
}

TEST_F(PlayM4Layer, StopKeepsTheDecodeCallBackWishCloseStreamDoesNot) {
  TTestAdapter* Hik = TSpineRig::Adapter(1);
  EXPECT_EQ(PlayM4_SetDecCallBack(6, PlayM4CallBack), 1);
  EXPECT_EQ(PlayM4_SetDecCallBack(6, OtherCallBack), 1);  // the first one stays
  EXPECT_EQ(DecodeEngine()->GetDecCallBack(4, 6), reinterpret_cast<std::uintptr_t>(PlayM4CallBack));
  ASSERT_EQ(PlayM4_OpenStream(6, 1, Block, 40, 0), 1);
  ASSERT_EQ(PlayM4_InputData(6, Block, 40), 1);
  EXPECT_EQ(Hik->Count("VendorCallBackOn"), 1);
  EXPECT_EQ(State(6).CallBackState, 2);

  EXPECT_EQ(PlayM4_Stop(6), 1);
  EXPECT_EQ(State(6).CallBackState, 1);
  ASSERT_EQ(PlayM4_OpenStream(6, 1, Block, 40, 0), 1);
  ASSERT_EQ(PlayM4_InputData(6, Block, 40), 1);
  EXPECT_EQ(Hik->Count("VendorCallBackOn"), 2);

  EXPECT_EQ(PlayM4_CloseStream(6), 1);
  EXPECT_EQ(State(6).CallBackState, 0);
  ASSERT_EQ(PlayM4_OpenStream(6, 1, Block, 40, 0), 1);
  ASSERT_EQ(PlayM4_InputData(6, Block, 40), 1);
  EXPECT_EQ(Hik->Count("VendorCallBackOn"), 2);

  // A nil callback stops, and still answers false.
  EXPECT_EQ(PlayM4_SetDecCallBack(6, PlayM4CallBack), 1);
  ASSERT_EQ(PlayM4_InputData(6, Block, 40), 1);
  EXPECT_EQ(State(6).CallBackState, 2);
  EXPECT_EQ(PlayM4_SetDecCallBack(6, nullptr), 0);
  EXPECT_EQ(State(6).CallBackState, 0);
  EXPECT_EQ(DecodeEngine()->GetDecCallBack(4, 6), 0u);
  // Taken back by PlayM4_Stop, PlayM4_CloseStream and the nil callback: once each.
  EXPECT_EQ(Hik->Count("VendorCallBackOff"), 3);
}

TEST_F(PlayM4Layer, FilePlaybackAndControls) {
  const std::string File = Rig.LibDir() + "record.dat";
  FILE* F = std::fopen(File.c_str(), "wb");
  ASSERT_NE(F, nullptr);
  std::fclose(F);
  TTestAdapter* Hik = TSpineRig::Adapter(1);
  EXPECT_EQ(PlayM4_OpenFile(7, 3, File.c_str()), 1);
  EXPECT_EQ(Hik->Calls().back().DvrType, 1);
  EXPECT_EQ(State(7).DvrType, 1);
  EXPECT_EQ(PlayM4_Play(7, 9), 1);
  EXPECT_EQ(PlayM4_Pause(7, 1), 1);
  EXPECT_EQ(PlayM4_Fast(7), 0);
  EXPECT_EQ(PlayM4_GetPlayPos(7), 0.25);
  EXPECT_EQ(PlayM4_GetPlayedFrames(7), 42);
  EXPECT_EQ(PlayM4_SetVolume(7, 9), 9);
  EXPECT_EQ(PlayM4_SetColor(7, 3, 1, 2, 3, 4), 3);
  std::int32_t Brightness = 0, Contrast = 0, Saturation = 0, Hue = 0;
  EXPECT_EQ(PlayM4_GetColor(7, 2, &Brightness, &Contrast, &Saturation, &Hue), 2);
  EXPECT_EQ(Brightness, 64);
  EXPECT_EQ(PlayM4_CloseFile(7), 0);
  EXPECT_EQ(PlayM4_CloseStream(7), 1);
  // No stream: the neutral values.
  EXPECT_EQ(PlayM4_GetPlayPos(7), 0.0);
  EXPECT_EQ(PlayM4_SetColor(7, 3, 1, 2, 3, 4), -1);
  EXPECT_EQ(PlayM4_SetVolume(7, 9), 0);
  // OpenFile refuses a missing file and a type without an adapter.
  EXPECT_EQ(PlayM4_OpenFile(8, 1, (File + ".none").c_str()), 0);
  EXPECT_EQ(PlayM4_OpenFile(8, 11, File.c_str()), 0);
  EXPECT_EQ(PlayM4_OpenFile(8, 1, nullptr), 0);
}

TEST_F(PlayM4Layer, PortIsChannelOfGroupFour) {
  std::uint8_t Data[4] = {};
  TFrameHead Head = MakeHead(4, 9, 1, 13, sizeof Data);
  ASSERT_EQ(Tarn_Decode_AddFrame(Head, Data), 0);
  EXPECT_EQ(PlayM4_GetPlayedFrames(9), 42);
  EXPECT_EQ(TSpineRig::Adapter(13)->Calls().back().Op, "GetPlayedFrames");
  EXPECT_EQ(PlayM4_PlaySound(9), 1);
  EXPECT_EQ(State(9).SoundState, 2);  // the adapter accepted it
  TPlayerInfo Info;
  TSpineRig::Adapter(13)->GetPlayerInfo(Head, Info);
  EXPECT_EQ(Info.SoundState, 1);  // no audio in the stream: wanted, vendor not called
  EXPECT_EQ(PlayM4_StopSound(9), 1);
  EXPECT_EQ(PlayM4_CloseStream(9), 1);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head), -1);
}

}  // namespace
