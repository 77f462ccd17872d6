// The engine through the Tarn_Decode_* exports, against test adapters installed in the registry.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Platform.h"
#include "SpineTestAdapter.h"
#include "ZorvDecoder.h"

namespace {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Rig.UseAll();
    Init();
  }
  void Init() { ASSERT_EQ(Tarn_Decode_Initialize(0, Rig.LibDir().c_str(), 0), 0); }
  void Restart() {
    Tarn_Decode_ShutDown();
    Init();
  }
  static TChannelState State(int Group, int Channel) {
    TChannelState S;
    DecodeEngine()->GetChannelState(Group, Channel, S);
    return S;
  }
  static std::int32_t FileHead(std::uint8_t Group, std::uint32_t Channel, std::uint8_t DvrType) {
    return Tarn_Decode_AddFrame(MakeHead(Group, Channel, 1, DvrType, 4), Data);
  }
  static std::int32_t Frame(std::uint8_t Group, std::uint32_t Channel, std::uint8_t DvrType, std::uint8_t Type = 2) {
    return Tarn_Decode_AddFrame(MakeHead(Group, Channel, Type, DvrType, 4), Data);
  }
  static inline const std::uint8_t Data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  TSpineRig Rig;
};

TEST_F(EngineTest, NormalisedTypesRouteToTheirAdapter) {
  const struct { std::uint8_t In, Served; } Cases[] = {{1, 1}, {2, 1}, {3, 1}, {19, 1}, {14, 15}, {15, 15},
                                                       {16, 15}, {21, 21}, {6, 6}, {13, 13}};
  std::uint32_t Channel = 0;
  for (auto Case : Cases) {
    SCOPED_TRACE(int(Case.In));
    TTestAdapter* Adapter = TSpineRig::Adapter(Case.Served);
    Adapter->ClearCalls();
    EXPECT_EQ(FileHead(0, Channel, Case.In), 0);
    ASSERT_EQ(Adapter->Count("OpenStream"), 1);
    EXPECT_EQ(Adapter->Calls().back().DvrType, Case.Served);
    EXPECT_EQ(State(0, Channel).DvrType, Case.Served);
    ++Channel;
  }
  // 5 and 7 are Dahua (4), which opens on the first data frame.
  for (std::uint8_t In : {5, 7}) {
    EXPECT_EQ(FileHead(1, In, In), 0);
    EXPECT_EQ(State(1, In).DvrType, 4);
    EXPECT_EQ(Frame(1, In, In), 0);
    EXPECT_EQ(TSpineRig::Adapter(4)->PlayerOf(MakeHead(1, In, 2, 4)) >= 0, true);
  }
  // A type without an adapter.
  EXPECT_EQ(FileHead(2, 0, 11), -1);
  EXPECT_EQ(Frame(2, 0, 30), -1);
}

TEST_F(EngineTest, HardwareChannelsRouteByCardSlot) {
  TTestAdapter* Card = TSpineRig::Card(1);
  TTestAdapter* Soft = TSpineRig::Adapter(1);
  TFrameHead Head = MakeHead(0, 5, 1, 1, 4);
  Head.HardIndex = 1;
  Head.DecodeMode = 1;
  Head.HardChannel = 16;
  EXPECT_EQ(Tarn_Decode_AddFrame(Head, Data), 0);
  EXPECT_EQ(Card->Count("OpenStream"), 1);
  EXPECT_EQ(Soft->Count("OpenStream"), 0);

  // Above the card's channel count, or without DecodeMode 1: software.
  Head.Channel = 6;
  Head.HardChannel = 17;
  EXPECT_EQ(Tarn_Decode_AddFrame(Head, Data), 0);
  Head.Channel = 7;
  Head.HardChannel = 2;
  Head.DecodeMode = 2;
  EXPECT_EQ(Tarn_Decode_AddFrame(Head, Data), 0);
  EXPECT_EQ(Card->Count("OpenStream"), 1);
  EXPECT_EQ(Soft->Count("OpenStream"), 2);

  // Card operations go by HardIndex alone.
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(MakeHead(0, 0, 0, 99), 5, 0, 1, 0, 0, 0), -1);
  TFrameHead CardHead = MakeHead(0, 0, 0, 99);
  CardHead.HardIndex = 3;
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(CardHead, 5, 0, 1, 0, 0, 0), 5);
  EXPECT_EQ(Tarn_Decode_SetDisplayRegion(CardHead, 6, 0, nullptr, 0), 6);
  EXPECT_EQ(TSpineRig::Card(3)->Calls().back().DvrType, 99);
  std::int32_t Out1 = 0, Out2 = 0;
  EXPECT_EQ(Tarn_Decode_OutParm(3, &Out1, &Out2), 0);
  EXPECT_EQ(Out1, 16);
  EXPECT_EQ(Out2, 3);
  EXPECT_EQ(Tarn_Decode_OutParm(2, &Out1, &Out2), -1);
  EXPECT_EQ(Tarn_Decode_OutParm(5, &Out1, &Out2), -1);
  EXPECT_EQ(Tarn_Decode_OutParm(3, nullptr, &Out2), -1);
  EXPECT_EQ(Tarn_Decode_InitHardHandle(77), 0);  // whatever the cards answered
  EXPECT_EQ(TSpineRig::Card(1)->Count("InitHardHandle"), 1);
  EXPECT_EQ(TSpineRig::Card(3)->Count("InitHardHandle"), 1);
}

TEST_F(EngineTest, SecondFileHeadClosesWithTheOldTypeFirst) {
  TTestAdapter* Hik = TSpineRig::Adapter(1);
  TTestAdapter* Mp4 = TSpineRig::Adapter(13);
  ASSERT_EQ(FileHead(2, 9, 1), 0);
  Hik->ClearCalls();
  Mp4->ClearCalls();
  ASSERT_EQ(FileHead(2, 9, 13), 0);
  EXPECT_EQ(Hik->Ops(), (std::vector<std::string>{"StopSound", "StopCallBack", "CloseStream"}));
  EXPECT_EQ(Hik->Calls()[2].DvrType, 1);
  EXPECT_EQ(Mp4->Ops(), (std::vector<std::string>{"OpenStream"}));
  EXPECT_EQ(Hik->PlayerOf(MakeHead(2, 9, 0, 1)), -1);
  EXPECT_EQ(Hik->FreeEntries(), 500);
  EXPECT_EQ(State(2, 9).DvrType, 13);

  // A close that throws does not stop the new open.
  Mp4->ThrowOnClose = true;
  EXPECT_EQ(FileHead(2, 9, 1), 0);
  EXPECT_EQ(State(2, 9).DvrType, 1);
}

TEST_F(EngineTest, LazyTypesOpenOnTheFirstDataFrame) {
  for (std::uint8_t Type : {4, 10, 18}) {
    SCOPED_TRACE(int(Type));
    TTestAdapter* Adapter = TSpineRig::Adapter(Type);
    EXPECT_EQ(FileHead(3, Type, Type), 0);
    EXPECT_EQ(Adapter->Count("OpenStream"), 0);
    EXPECT_EQ(State(3, Type).DvrType, Type);
    EXPECT_EQ(Frame(3, Type, Type), 0);
    EXPECT_EQ(Adapter->Count("OpenStream"), 1);
    EXPECT_EQ(Frame(3, Type, Type), 0);
    EXPECT_EQ(Adapter->Ops().back(), "InputData");
    EXPECT_EQ(Adapter->Count("OpenStream"), 1);
  }
  // 22: the file head fails and records nothing; the first data frame opens.
  TTestAdapter* Tmdvs = TSpineRig::Adapter(22);
  EXPECT_EQ(FileHead(3, 22, 22), -1);
  EXPECT_EQ(State(3, 22).DvrType, 0);
  EXPECT_EQ(Tmdvs->Count("OpenStream"), 0);
  EXPECT_EQ(Frame(3, 22, 22), 0);
  EXPECT_EQ(Tmdvs->Count("OpenStream"), 1);
  EXPECT_EQ(State(3, 22).DvrType, 22);
}

TEST_F(EngineTest, DataBeforeFileHeadIsDroppedButRecordsTheType) {
  TTestAdapter* Hik = TSpineRig::Adapter(1);
  EXPECT_EQ(Frame(0, 1, 2), 0);
  EXPECT_EQ(Hik->Count("OpenStream") + Hik->Count("InputData"), 0);
  EXPECT_EQ(State(0, 1).DvrType, 1);
  // On a hardware channel the dropped frame answers -1.
  TFrameHead Head = MakeHead(0, 2, 2, 1, 4);
  Head.HardIndex = 1;
  Head.DecodeMode = 1;
  EXPECT_EQ(Tarn_Decode_AddFrame(Head, Data), -1);
}

TEST_F(EngineTest, FrameTypesOutsideOneToSevenAreRefused) {
  for (std::uint8_t Type : {0, 8, 255}) EXPECT_EQ(Frame(0, 3, 1, Type), -1);
  EXPECT_EQ(State(0, 3).DvrType, 0);
  EXPECT_EQ(TSpineRig::Adapter(1)->Count("OpenStream") + TSpineRig::Adapter(1)->Count("InputData"), 0);
}

TEST_F(EngineTest, ModeFileOneIgnoresEveryFrame) {
  Rig.SetFlagFile("1\r\nignored\r\n");
  Restart();
  EXPECT_EQ(DecodeEngine()->FlagMode(), 1);
  EXPECT_EQ(FileHead(0, 0, 1), 0);
  EXPECT_EQ(Frame(0, 0, 1), 0);
  EXPECT_EQ(Frame(0, 0, 1, 9), 0);
  EXPECT_EQ(TSpineRig::Adapter(1)->Count("OpenStream"), 0);
  EXPECT_EQ(State(0, 0).DvrType, 0);
}

TEST_F(EngineTest, ModeFileTwoOpensButDoesNotFeed) {
  Rig.SetFlagFile(" 2 \n");
  Restart();
  EXPECT_EQ(DecodeEngine()->FlagMode(), 2);
  EXPECT_EQ(FileHead(0, 0, 1), 0);
  EXPECT_EQ(Frame(0, 0, 1), 0);
  EXPECT_EQ(Frame(0, 1, 4), 0);  // lazy open still happens
  EXPECT_EQ(Frame(0, 1, 4), 0);
  EXPECT_EQ(TSpineRig::Adapter(1)->Ops(), (std::vector<std::string>{"InitDecoder", "OpenStream"}));
  EXPECT_EQ(TSpineRig::Adapter(4)->Count("OpenStream"), 1);
  EXPECT_EQ(TSpineRig::Adapter(4)->Count("InputData"), 1);  // the opening frame only

  for (const char* Text : {"x", "", "12abc", "99999999999"}) {
    Rig.SetFlagFile(Text);
    Restart();
    EXPECT_EQ(DecodeEngine()->FlagMode(), 0) << Text;
  }
}

TEST_F(EngineTest, WishesSurviveAnInternalCloseNotTheCloseExport) {
  TTestAdapter* Hik = TSpineRig::Adapter(1);
  Hik->StreamHasAudio = 1;
  auto CallBack = reinterpret_cast<TDecCallBack>(0x1234);
  ASSERT_EQ(FileHead(1, 7, 1), 0);
  EXPECT_EQ(Tarn_Decode_StartCallBack(MakeHead(1, 7, 0, 1), CallBack), 0);
  EXPECT_EQ(Tarn_Decode_PlaySound(MakeHead(1, 7, 0, 1)), 0);
  EXPECT_EQ(State(1, 7).SoundState, 2);
  EXPECT_EQ(Frame(1, 7, 1), 0);  // the adapter starts the wanted callback
  EXPECT_EQ(State(1, 7).CallBackState, 2);
  EXPECT_EQ(Hik->Count("VendorCallBackOn"), 1);

  // A new file head closes internally: both wishes drop back to 1.
  ASSERT_EQ(FileHead(1, 7, 1), 0);
  EXPECT_EQ(State(1, 7).CallBackState, 1);
  EXPECT_EQ(State(1, 7).SoundState, 1);
  EXPECT_EQ(Frame(1, 7, 1), 0);
  EXPECT_EQ(Hik->Count("VendorCallBackOn"), 2);
  EXPECT_EQ(DecodeEngine()->GetCallBack(1, 7), reinterpret_cast<std::uintptr_t>(CallBack));
  EXPECT_EQ(Tarn_Decode_PlaySound(MakeHead(1, 7, 0, 1)), 0);
  EXPECT_EQ(Hik->Count("VendorSoundOn"), 2);

  // The close export stops both first: nothing restarts on the next stream.
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(MakeHead(1, 7, 0, 99)), 0);
  EXPECT_EQ(State(1, 7).CallBackState, 0);
  EXPECT_EQ(State(1, 7).SoundState, 0);
  EXPECT_EQ(State(1, 7).DvrType, 0);
  EXPECT_EQ(DecodeEngine()->GetCallBack(1, 7), 0u);
  ASSERT_EQ(FileHead(1, 7, 1), 0);
  EXPECT_EQ(Frame(1, 7, 1), 0);
  EXPECT_EQ(Hik->Count("VendorCallBackOn"), 2);
}

TEST_F(EngineTest, CallBackStartIsKeptOnceAndStopAlwaysAnswersMinusOne) {
  auto First = reinterpret_cast<TDecCallBack>(0x10);
  auto Second = reinterpret_cast<TDecCallBack>(0x20);
  TFrameHead Head = MakeHead(0, 8, 0, 1);
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head), -1);
  EXPECT_EQ(Tarn_Decode_StartCallBack(Head, First), 0);
  EXPECT_EQ(Tarn_Decode_StartCallBack(Head, Second), 0);
  EXPECT_EQ(DecodeEngine()->GetCallBack(0, 8), 0x10u);
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head), -1);
  EXPECT_EQ(State(0, 8).CallBackState, 0);
  EXPECT_EQ(Tarn_Decode_StartCallBack(Head, Second), 0);
  EXPECT_EQ(DecodeEngine()->GetCallBack(0, 8), 0x20u);
  // Running: the adapter's callback is stopped, the result is still -1.
  ASSERT_EQ(FileHead(0, 8, 1), 0);
  ASSERT_EQ(Frame(0, 8, 1), 0);
  ASSERT_EQ(State(0, 8).CallBackState, 2);
  EXPECT_EQ(Tarn_Decode_StopCallBack(Head), -1);
  EXPECT_EQ(TSpineRig::Adapter(1)->Count("VendorCallBackOff"), 1);
  EXPECT_EQ(State(0, 8).CallBackState, 0);
}

namespace DeliveredPicture {
std::uint32_t Channel = 0;
TDecFrameInfo Info{};
int Calls = 0;
void ZORV_STDCALL HostCallBack(uint32_t C, TDecFrameInfo I, const uint8_t*) {
  Channel = C;
  Info = I;
  ++Calls;
}
}  // namespace DeliveredPicture

TEST_F(EngineTest, VendorPortsLeadBackToTheirChannel) {
  TTestAdapter* Mp4 = TSpineRig::Adapter(13);
  ASSERT_EQ(FileHead(3, 44, 13), 0);
  const std::int32_t Player = Mp4->PlayerOf(MakeHead(3, 44, 0, 13));
  ASSERT_GE(Player, 0);
  std::uint32_t Channel = 0;
  std::uint8_t Group = 0;
  EXPECT_EQ(DecodeEngine()->FindChannelByPort(13, TTestAdapter::PortBase + Player, Channel, Group), 0);
  EXPECT_EQ(Channel, 44u);
  EXPECT_EQ(Group, 3);
  EXPECT_EQ(DecodeEngine()->FindChannelByPort(13, 999999, Channel, Group), -1);
  EXPECT_EQ(DecodeEngine()->FindChannelByPort(13, -1, Channel, Group), -1);  // never a free entry
  EXPECT_EQ(DecodeEngine()->FindChannelByPort(200, 0, Channel, Group), -1);

  // A decoded picture reaches the host callback with the channel and a filled info record.
  DeliveredPicture::Calls = 0;
  EXPECT_FALSE(Mp4->EmitPicture(TTestAdapter::PortBase + Player, 352, 288));  // no callback yet
  Tarn_Decode_StartCallBack(MakeHead(3, 44, 0, 13), DeliveredPicture::HostCallBack);
  EXPECT_TRUE(Mp4->EmitPicture(TTestAdapter::PortBase + Player, 352, 288));
  EXPECT_EQ(DeliveredPicture::Calls, 1);
  EXPECT_EQ(DeliveredPicture::Channel, 44u);
  EXPECT_EQ(DeliveredPicture::Info.Width, 352u);
  EXPECT_EQ(DeliveredPicture::Info.Height, 288u);
  EXPECT_EQ(DeliveredPicture::Info.Size, 352u * 288 * 3 / 2);
  EXPECT_EQ(DeliveredPicture::Info.FrameKind, 1);
  EXPECT_EQ(DeliveredPicture::Info.DvrType, 13);
  // A picture with no area is skipped after a 1 ms pause.
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_FALSE(Mp4->EmitPicture(TTestAdapter::PortBase + Player, 1, 3));
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 1u);
  EXPECT_EQ(DeliveredPicture::Calls, 1);
}

TEST_F(EngineTest, FailedOpensNeverLeakPlayers) {
  const double Scale = Win::Test::SleepScale();
  Win::Test::SetSleepScale(0);
  TTestAdapter* Hik = TSpineRig::Adapter(1);
  TTestAdapter* Dahua = TSpineRig::Adapter(4);
  Hik->FailOpen = true;
  Dahua->FailOpen = true;
  for (int i = 0; i < 600; ++i) {
    EXPECT_EQ(FileHead(i % 5, i % 100, 1), -1);
    EXPECT_EQ(Frame(i % 5, i % 100, 4), -1);
  }
  EXPECT_EQ(Hik->FreeEntries(), 500);
  EXPECT_EQ(Dahua->FreeEntries(), 500);
  // OpenFile likewise.
  const std::string File = Rig.LibDir() + "clip.dat";
  FILE* F = std::fopen(File.c_str(), "wb");
  ASSERT_NE(F, nullptr);
  std::fclose(F);
  EXPECT_EQ(PlayM4_OpenFile(1, 1, File.c_str()), 0);
  EXPECT_EQ(Hik->FreeEntries(), 500);
  Hik->FailOpen = false;
  EXPECT_EQ(PlayM4_OpenFile(1, 2, File.c_str()), 1);
  EXPECT_EQ(State(4, 1).DvrType, 1);
  EXPECT_EQ(PlayM4_OpenFile(2, 1, (File + ".missing").c_str()), 0);
  Win::Test::SetSleepScale(Scale);
}

TEST_F(EngineTest, FailingLoadIsRetriedOnEveryFrame) {
  Tarn_Decode_ShutDown();
  Rig.UseSoftware(9);
  Init();
  TTestAdapter* Tkl = TSpineRig::Adapter(9);
  Tkl->FailInit = true;
  EXPECT_EQ(FileHead(0, 0, 9), -1);
  EXPECT_EQ(Frame(0, 0, 9), -1);
  EXPECT_EQ(Tkl->Count("InitDecoder"), 2);
  EXPECT_EQ(Tkl->State(), 0);
  Tkl->FailInit = false;
  EXPECT_EQ(FileHead(0, 0, 9), 0);
  EXPECT_EQ(Frame(0, 0, 9), 0);
  EXPECT_EQ(Tkl->Count("InitDecoder"), 3);  // loaded once, then never again
  EXPECT_EQ(Tkl->State(), 2);
}

TEST_F(EngineTest, PassThroughsUseTheRecordedTypeAndTheirFailureValues) {
  TFrameHead Head = MakeHead(4, 50, 0, 13);  // the head's own type is ignored
  std::int32_t Size[2] = {};
  std::uint8_t Bmp[256] = {};
  std::uint8_t* Buffer = Bmp;
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head), -1);
  EXPECT_EQ(Tarn_Decode_RefrushWindow(Head), -1);
  EXPECT_EQ(Tarn_Decode_ResetDisplay(Head, 3), -1);
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head, Size, &Buffer), -1);
  EXPECT_EQ(Tarn_Decode_StartAviRecord(Head, 0), -1);
  EXPECT_EQ(Tarn_Decode_Pause(&Head, 1), -1);
  EXPECT_EQ(TSpineRig::Adapter(13)->Count("ClearBuffer"), 0);

  ASSERT_EQ(FileHead(4, 50, 1), 0);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head), 0);
  EXPECT_EQ(Tarn_Decode_RefrushWindow(Head), 0);
  EXPECT_EQ(Tarn_Decode_ResetDisplay(Head, 3), 3);
  EXPECT_EQ(Tarn_Decode_StartAviRecord(Head, 0), -1);  // the base: no recording
  EXPECT_EQ(Tarn_Decode_StopAviRecord(Head), -1);
  EXPECT_EQ(Tarn_Decode_Pause(&Head, 1), 0);
  TSpineRig::Adapter(1)->PauseResult = 0x100;  // low byte 0: a failure
  EXPECT_EQ(Tarn_Decode_Pause(&Head, 1), -1);
  EXPECT_EQ(Tarn_Decode_Pause(nullptr, 1), -1);
  for (const TAdapterCall& Call : TSpineRig::Adapter(1)->Calls()) {
    if (Call.Op != "OpenStream" && Call.Op != "InitDecoder") {
      EXPECT_EQ(Call.DvrType, 1) << Call.Op;
    }
  }

  // Snapshot through the temporary file and the display callback.
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head, Size, &Buffer), 54 + 8 * 3 * 6);
  EXPECT_EQ(Size[0], 8);
  EXPECT_EQ(Size[1], 6);
  EXPECT_EQ(Bmp[0], 'B');
  EXPECT_EQ(Bmp[1], 'M');
  std::uint8_t* NoBuffer = nullptr;
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head, Size, &NoBuffer), -1);
  const std::string Shot = Rig.LibDir() + "shot.bmp";
  EXPECT_EQ(PlayM4_SnapPicture(50, Shot.c_str()), 1);  // port 50 is display channel (4, 50)
  EXPECT_TRUE(Win::FileExists(Shot.c_str()));
  EXPECT_EQ(PlayM4_SnapPicture(51, Shot.c_str()), 0);  // no stream on port 51
}

TEST_F(EngineTest, FileHeadIsLoggedExactly) {
  Win::Test::CaptureDebugOutput(true);
  Win::Test::TakeDebugOutput();
  FileHead(0, 3, 1);
  const std::string Out = Win::Test::TakeDebugOutput();
  Win::Test::CaptureDebugOutput(false);
  // yymmdd-hh:nn:ss:zzz|pid,TID8| Decoderdll ftSysHead3
  char Expected[64];
  std::snprintf(Expected, sizeof Expected, "|%u,%08X| Decoderdll ftSysHead3",
                static_cast<unsigned>(Win::GetCurrentProcessId()), static_cast<unsigned>(Win::GetCurrentThreadId()));
  ASSERT_GE(Out.size(), 19u);
  EXPECT_NE(Out.find(Expected), std::string::npos) << Out;
  EXPECT_EQ(Out.find(Expected), 19u) << Out;
  for (int i : {0, 1, 2, 3, 4, 5, 7, 8, 10, 11, 13, 14, 16, 17, 18}) EXPECT_TRUE(std::isdigit(Out[i])) << Out;
  EXPECT_EQ(Out[6], '-');
  EXPECT_EQ(Out[9], ':');
}

}  // namespace
