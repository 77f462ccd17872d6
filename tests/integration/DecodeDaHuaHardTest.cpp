// The Dahua decode card (card slot 3) through the exports, against the stand-in VDCDecode.dll
// and its companions: initialisation and channel counts, routing to the card and back to
// software, card channels in steps of two, streams opened and closed per display channel,
// refused input offered again, sound wishes, monitor outputs, display regions, the overlay,
// snapshots, faults inside the card library, and trees where the card library cannot load.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "HostPictures.h"
#include "Platform.h"
#include "PrivateTempDir.h"
#include "SnapTempFiles.h"
#include "SpineTestAdapter.h"
#include "StandinClient.h"
#include "U_DecodeDaHuaHard.h"
#include "U_DecodeEngine.h"
#include "U_YuvConvert.h"
#include "ZorvDecoder.h"
#include "ZorvSurface.h"
#include "ZrvStream.h"

namespace {

const std::string kRoot = std::string(ZORV_TESTROOT) + "/";
const std::string kCardPath = "SYSTEM/DH/VDCDecode.dll";
constexpr std::uint8_t kCardSlot = 3;
constexpr const char* kSnapFail = "zorvdecoder硬件解码抓帧失败";

std::string TreeRoot(const char* Variant) { return std::string(ZORV_TESTROOT) + "-dhcard-" + Variant + "/"; }

int Count(const std::vector<std::string>& Messages, const std::string& Message) {
  return static_cast<int>(std::count(Messages.begin(), Messages.end(), Message));
}

// A head for the card: HardIndex 3, DecodeMode 1.
TFrameHead CardHead(std::uint8_t FrameType, std::size_t Length, std::uint32_t HardChannel, std::uint32_t Channel,
                    std::uint32_t Wnd, std::uint8_t DvrType = 1) {
  TFrameHead H;
  std::memset(&H, 0, sizeof H);
  H.Channel = Channel;
  H.Wnd = Wnd;
  H.HardChannel = HardChannel;
  H.DataLen = static_cast<std::uint32_t>(Length);
  H.FrameType = FrameType;
  H.DvrType = DvrType;
  H.Group = 1;
  H.HardIndex = kCardSlot;
  H.DecodeMode = 1;
  return H;
}

TDecodeDaHuaHard* Card() { return dynamic_cast<TDecodeDaHuaHard*>(DecodeEngine()->HardDecoder(kCardSlot)); }

class DaHuaCardTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    Wnd = zorv_surface_create(0, 0, 352, 288);
    // The adapter loads the card library first (from its own folder, beside its companions);
    // the test's client then shares that instance.
    Tarn_Decode_Initialize(0, kRoot.c_str(), 0);
    Tarn_Decode_ShutDown();
    Library = new StandinClient(kRoot + kCardPath);
    Stream = new zrv::SyntheticStream(zrv::MakeSyntheticStream({}, 8));
  }
  static void TearDownTestSuite() {
    delete Stream;
    delete Library;
    zorv_surface_destroy(Wnd);
  }
  void SetUp() override {
    ASSERT_TRUE(Library->Loaded());
    ASSERT_NE(Wnd, 0u);
    Library->Reset();
    Win::Test::CaptureDebugOutput(true);
    TakeLogMessages();
  }
  void TearDown() override {
    for (std::uint32_t C = 0; C < 4; ++C) Tarn_Decode_CloseOneChannel(Head(ZORV_FRAME_P, 0, 1, C));
    Tarn_Decode_ShutDown();
    Library->Reset();
    Win::Test::CaptureDebugOutput(false);
    Win::Test::SetSleepScale(0.01);
  }

  // A fresh engine over the test tree with the card initialised (Devices device channels).
  void Start(std::int64_t Devices = 8, std::int32_t Param = 0) {
    Library->SetOption("card.devices", Devices);
    ASSERT_EQ(Tarn_Decode_Initialize(Param, kRoot.c_str(), 0), 0);
    Library->ClearJournal();
  }
  static TFrameHead Head(std::uint8_t FrameType, std::size_t Length, std::uint32_t HardChannel,
                         std::uint32_t Channel = 0, std::uint8_t DvrType = 1) {
    return CardHead(FrameType, Length, HardChannel, Channel, Wnd, DvrType);
  }
  // Opens the stream of display channel Channel on HardChannel with the stream head.
  std::int32_t Open(std::uint32_t HardChannel, std::uint32_t Channel = 0) {
    return Tarn_Decode_AddFrame(Head(ZORV_FRAME_FILEHEAD, Stream->head.size(), HardChannel, Channel),
                                Stream->head.data());
  }
  std::int32_t Feed(std::uint32_t HardChannel, const zrv::Frame& Frame, std::uint32_t Channel = 0) {
    return Tarn_Decode_AddFrame(Head(Frame.frameType, Frame.bytes.size(), HardChannel, Channel), Frame.bytes.data());
  }
  static std::int32_t PlayerNo(std::uint32_t Channel = 0) { return Card()->ChannelPlayer(1, Channel); }
  static const TPlayerInfo& Entry(std::uint32_t Channel = 0) { return Card()->PlayerAt(PlayerNo(Channel)); }
  static std::string H(std::uint32_t Channel = 0) { return std::to_string(Entry(Channel).Port.load()); }

  static inline std::uint32_t Wnd = 0;
  static inline StandinClient* Library = nullptr;
  static inline zrv::SyntheticStream* Stream = nullptr;
};

// ---- initialisation and routing ----------------------------------------------------------------

TEST_F(DaHuaCardTest, InitialisationOpensEverySecondDeviceChannelAndHalfTheCountIsUsable) {
  Library->SetOption("card.devices", 8);
  ASSERT_EQ(Tarn_Decode_Initialize(0x4711, kRoot.c_str(), 0), 0);
  EXPECT_EQ(Library->Calls("DH_"),
            (std::vector<std::string>{"DH_InitDecDevice(ptr)", "DH_ChannelOpen(0,ptr)", "DH_ChannelOpen(2,ptr)",
                                      "DH_ChannelOpen(4,ptr)", "DH_ChannelOpen(6,ptr)",
                                      "DH_InitDirectDraw(18193,8421376)"}));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Library->Query("channel", Card()->ChannelHandle(i)), 2 * i);
  EXPECT_EQ(Library->Query("companions"), 5);  // found beside the card library, in its folder
  std::int32_t Decode = -1, Display = -1;
  EXPECT_EQ(Tarn_Decode_OutParm(kCardSlot, &Decode, &Display), 0);
  EXPECT_EQ(Decode, 4);
  EXPECT_EQ(Display, 0);

  // Shutting down calls nothing on the card.
  Library->ClearJournal();
  Tarn_Decode_ShutDown();
  EXPECT_EQ(Library->Count("DH_"), 0);

  // Without hardware the card is left alone and reports no channels.
  ASSERT_EQ(Tarn_Decode_Initialize(0, kRoot.c_str(), 1), 0);
  EXPECT_EQ(Library->Count("DH_"), 0);
  EXPECT_EQ(Tarn_Decode_OutParm(kCardSlot, &Decode, &Display), 0);
  EXPECT_EQ(Decode, 0);
}

TEST_F(DaHuaCardTest, CardChannelCountsAreBoundedByTheTables) {
  // 300 device channels would be 150 usable ones: the handle table holds 100.
  Library->SetOption("card.devices", 300);
  ASSERT_EQ(Tarn_Decode_Initialize(0, kRoot.c_str(), 0), 0);
  const std::vector<std::string> Opens = Library->Calls("DH_ChannelOpen(");
  ASSERT_EQ(Opens.size(), 100u);
  EXPECT_EQ(Opens.back(), "DH_ChannelOpen(198,ptr)");
  std::int32_t Decode = -1, Display = -1;
  EXPECT_EQ(Tarn_Decode_OutParm(kCardSlot, &Decode, &Display), 0);
  EXPECT_EQ(Decode, 100);
  EXPECT_EQ(Library->Query("channel", Card()->ChannelHandle(99)), 198);

  EXPECT_EQ(Open(100), 0);
  EXPECT_EQ(Library->Query("channel", Entry().Port), 198);
  Tarn_Decode_CloseOneChannel(Head(ZORV_FRAME_P, 0, 100));
  Tarn_Decode_ShutDown();

  // A card with fewer than two device channels (or a nonsense count) is released again.
  for (std::int64_t Devices : {1, -6}) {
    Library->Reset();
    Library->SetOption("card.devices", Devices);
    ASSERT_EQ(Tarn_Decode_Initialize(0, kRoot.c_str(), 0), 0);
    EXPECT_EQ(Library->Calls("DH_"),
              (std::vector<std::string>{"DH_InitDecDevice(ptr)", "DH_ReleaseDecDevice()"}));
    EXPECT_EQ(Tarn_Decode_OutParm(kCardSlot, &Decode, &Display), 0);
    EXPECT_EQ(Decode, 0);
    Tarn_Decode_ShutDown();
  }
}

TEST_F(DaHuaCardTest, ChannelsTheCardLacksFallBackToSoftware) {
  Start(8);  // 4 usable channels
  TDecodeBase* Player = DecodeEngine()->Decoder(1);

  // HardChannel 5: not on the card, the Hikvision player takes the stream.
  TFrameHead Beyond = Head(ZORV_FRAME_FILEHEAD, Stream->head.size(), 5, 1);
  EXPECT_EQ(Tarn_Decode_AddFrame(Beyond, Stream->head.data()), 0);
  EXPECT_GE(Player->ChannelPlayer(1, 1), 0);
  // DecodeMode other than 1: software too.
  TFrameHead Soft = Head(ZORV_FRAME_FILEHEAD, Stream->head.size(), 1, 2);
  Soft.DecodeMode = 2;
  EXPECT_EQ(Tarn_Decode_AddFrame(Soft, Stream->head.data()), 0);
  EXPECT_GE(Player->ChannelPlayer(1, 2), 0);
  EXPECT_EQ(Library->Count("DH_"), 0);
  Tarn_Decode_CloseOneChannel(Beyond);
  Tarn_Decode_CloseOneChannel(Soft);

  // HardChannel 0 is the card's, but names no card channel: the open fails and leaves nothing.
  EXPECT_EQ(Open(0, 3), -1);
  EXPECT_EQ(PlayerNo(3), -1);
  EXPECT_EQ(Library->Count("DH_ChannelOpen("), 0);
}

// ---- streams ---------------------------------------------------------------------------------

TEST_F(DaHuaCardTest, HardChannelThreeOpensItsOwnStreamOnCardChannelFourAndPlaysIt) {
  Start(8);
  ASSERT_EQ(Open(3), 0);
  const std::string Handle = H();
  const std::string Len = std::to_string(Stream->head.size());
  EXPECT_EQ(Library->Calls("DH_"),
            (std::vector<std::string>{"DH_ChannelOpen(4,ptr)", "DH_SetStreamOpenMode(" + Handle + ",1)",
                                      "DH_OpenStream(" + Handle + ",0,921600)",
                                      "DH_Play(" + Handle + "," + std::to_string(Wnd) + ")",
                                      "DH_SetDisplayRegion(" + Handle + ",1,ptr,0)",
                                      "DH_InputData(" + Handle + ",ptr," + Len + ")"}));
  EXPECT_EQ(Library->Calls("region("), (std::vector<std::string>{"region(0,0,800,600,0,0)"}));
  EXPECT_EQ(Library->Query("channel", Entry().Port), 4);
  EXPECT_NE(Entry().Port.load(), static_cast<std::int64_t>(Card()->ChannelHandle(2)));  // a handle of its own
  EXPECT_EQ(Entry().OpenState.load(), 1);
  EXPECT_EQ(Entry().OpenKind.load(), 4);
  EXPECT_EQ(Entry().Group.load(), 1);
  EXPECT_EQ(Entry().Wnd.load(), Wnd);
  EXPECT_EQ(Entry().HasAudio.load(), 0);

  for (const zrv::Frame& Frame : Stream->frames) EXPECT_EQ(Feed(3, Frame), 0);
  const std::int64_t Port = Entry().Port;
  EXPECT_TRUE(WaitUntil([&] { return Library->Query("drawn", Port) >= 8; }));
  EXPECT_EQ(Library->Query("window", Port), Wnd);

  // A second display channel on the same card channel gets a stream of its own.
  ASSERT_EQ(Open(3, 1), 0);
  EXPECT_NE(Entry(1).Port.load(), Port);
  EXPECT_EQ(Library->Query("channel", Entry(1).Port), 4);
}

TEST_F(DaHuaCardTest, DahuaStreamsOpenOnTheirFirstDataFrame) {
  Start(8);
  const std::vector<std::uint8_t>& Head0 = Stream->head;
  EXPECT_EQ(Tarn_Decode_AddFrame(Head(ZORV_FRAME_FILEHEAD, Head0.size(), 2, 0, 4), Head0.data()), 0);
  EXPECT_EQ(Library->Count("DH_ChannelOpen("), 0);
  const zrv::Frame& First = Stream->frames[0];
  EXPECT_EQ(Tarn_Decode_AddFrame(Head(First.frameType, First.bytes.size(), 2, 0, 4), First.bytes.data()), 0);
  EXPECT_EQ(Library->Calls("DH_ChannelOpen("), (std::vector<std::string>{"DH_ChannelOpen(2,ptr)"}));
  EXPECT_EQ(Library->Calls("DH_InputData("),
            (std::vector<std::string>{"DH_InputData(" + H() + ",ptr," + std::to_string(First.bytes.size()) + ")"}));
  Tarn_Decode_CloseOneChannel(Head(ZORV_FRAME_P, 0, 2, 0, 4));
}

TEST_F(DaHuaCardTest, RefusedInputIsOfferedWholeUpToFiveTimes100MsApart) {
  Start(8);
  ASSERT_EQ(Open(1), 0);
  const zrv::Frame& Frame = Stream->frames[0];
  const std::string Offer = "DH_InputData(" + H() + ",ptr," + std::to_string(Frame.bytes.size()) + ")";

  Library->ClearJournal();
  Library->Return("DH_InputData", 0, 3);
  std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Feed(1, Frame), 0);
  EXPECT_EQ(Library->Calls("DH_InputData("), std::vector<std::string>(4, Offer));
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 300u);

  // Part of a frame taken counts as refused: the whole frame is offered again.
  Library->ClearJournal();
  Library->Return("DH_InputData", 10, 1);
  EXPECT_EQ(Feed(1, Frame), 0);
  EXPECT_EQ(Library->Calls("DH_InputData("), std::vector<std::string>(2, Offer));

  // Never taken: five offers, five pauses, the frame is dropped and the call still succeeds.
  Library->ClearJournal();
  Library->Return("DH_InputData", 0);
  Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Feed(1, Frame), 0);
  EXPECT_EQ(Library->Calls("DH_InputData("), std::vector<std::string>(5, Offer));
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 500u);

  // A fault inside the card library fails the frame; the next one goes through.
  Library->Unscript("DH_InputData");
  Library->Throw("DH_InputData", 1);
  EXPECT_EQ(Feed(1, Frame), -1);
  EXPECT_EQ(Feed(1, Stream->frames[1]), 0);
}

TEST_F(DaHuaCardTest, RefusalPausesRunInRealTime) {
  Start(8);
  ASSERT_EQ(Open(1), 0);
  Win::Test::SetSleepScale(1.0);
  Library->Return("DH_InputData", 0, 2);
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(Feed(1, Stream->frames[0]), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(195));
}

TEST_F(DaHuaCardTest, SoundIsOnlyEverWantedTheCardStreamCarriesNone) {
  Start(8);
  ASSERT_EQ(Open(1), 0);
  Library->ClearJournal();
  const std::vector<std::uint8_t> Audio(320, 7);
  EXPECT_EQ(Tarn_Decode_AddFrame(Head(ZORV_FRAME_AUDIO, Audio.size(), 1), Audio.data()), 0);
  EXPECT_EQ(Entry().SoundState.load(), 1);
  EXPECT_EQ(Library->Calls("DH_"),
            (std::vector<std::string>{"DH_InputData(" + H() + ",ptr,320)"}));  // the frame still goes in

  EXPECT_EQ(Tarn_Decode_PlaySound(Head(ZORV_FRAME_P, 0, 1)), 0);
  EXPECT_EQ(Entry().SoundState.load(), 1);
  EXPECT_EQ(Tarn_Decode_StopSound(Head(ZORV_FRAME_P, 0, 1)), 0);
  EXPECT_EQ(Entry().SoundState.load(), 0);
  EXPECT_EQ(Library->Count("DH_PlaySound"), 0);
  EXPECT_EQ(Library->Count("DH_StopSound"), 0);
  EXPECT_EQ(Library->Count("DH_SetAudioPreview"), 0);
}

TEST_F(DaHuaCardTest, ClosingStopsTheStreamAndGivesItsHandleBack) {
  Start(8);
  const std::int64_t AtRest = Library->Query("handles");
  EXPECT_EQ(AtRest, 4);
  ASSERT_EQ(Open(2), 0);
  EXPECT_EQ(Library->Query("handles"), AtRest + 1);
  const std::string Handle = H();
  Library->ClearJournal();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(ZORV_FRAME_P, 0, 2)), 0);
  EXPECT_EQ(Library->Calls("DH_"),
            (std::vector<std::string>{"DH_ClearSurface()", "DH_Stop(" + Handle + ")", "DH_CloseStream(" + Handle + ")",
                                      "DH_ChannelClose(" + Handle + ")"}));
  EXPECT_EQ(PlayerNo(), -1);
  EXPECT_EQ(Library->Query("handles"), AtRest);

  // Opens and closes do not use the card's handles up.
  for (int Cycle = 0; Cycle < 20; ++Cycle) {
    ASSERT_EQ(Open(1 + Cycle % 4), 0);
    ASSERT_EQ(Tarn_Decode_CloseOneChannel(Head(ZORV_FRAME_P, 0, 1 + Cycle % 4)), 0);
  }
  EXPECT_EQ(Library->Query("handles"), AtRest);

  // A channel whose type is recorded but that has no stream: the overlay is cleared, -1.
  ASSERT_EQ(Tarn_Decode_AddFrame(Head(ZORV_FRAME_FILEHEAD, Stream->head.size(), 2, 0, 4), Stream->head.data()), 0);
  Library->ClearJournal();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(ZORV_FRAME_P, 0, 2, 0, 4)), -1);
  EXPECT_EQ(Library->Calls("DH_"), (std::vector<std::string>{"DH_ClearSurface()"}));
}

TEST_F(DaHuaCardTest, CardFaultsNeverLeaveAPlayerOrAHandleBehind) {
  Start(8);
  const std::int64_t AtRest = Library->Query("handles");

  // A fault while stopping: the stream is still closed, its handle given back, the player freed.
  ASSERT_EQ(Open(1), 0);
  const std::string Handle = H();
  Library->Throw("DH_Stop", 1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(ZORV_FRAME_P, 0, 1)), -1);
  EXPECT_EQ(Library->Count("DH_CloseStream(" + Handle + ")"), 1);
  EXPECT_EQ(Library->Count("DH_ChannelClose(" + Handle + ")"), 1);
  EXPECT_EQ(PlayerNo(), -1);
  EXPECT_EQ(Library->Query("handles"), AtRest);

  // Failed opens: no player stays, a handle opened for the stream goes back.
  Library->Return("DH_ChannelOpen", -1, 1);
  EXPECT_EQ(Open(1), -1);
  EXPECT_EQ(PlayerNo(), -1);
  Library->Return("DH_OpenStream", -1, 1);
  EXPECT_EQ(Open(1), -1);
  EXPECT_EQ(PlayerNo(), -1);
  Library->Throw("DH_OpenStream", 1);
  EXPECT_EQ(Open(1), -1);
  EXPECT_EQ(PlayerNo(), -1);
  Library->Throw("DH_ChannelOpen", 1);
  EXPECT_EQ(Open(1), -1);
  EXPECT_EQ(PlayerNo(), -1);
  EXPECT_EQ(Library->Query("handles"), AtRest);

  // A card that does not start playing still gets the stream (after a 1 ms pause).
  Library->Return("DH_Play", -1, 1);
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Open(1), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 501u);  // the player allocation, then 1 ms
  EXPECT_GE(PlayerNo(), 0);
}

TEST_F(DaHuaCardTest, ChannelControls) {
  Start(8);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head(ZORV_FRAME_P, 0, 1)), -1);  // no stream
  ASSERT_EQ(Open(1), 0);
  Library->ClearJournal();
  const TFrameHead Ch = Head(ZORV_FRAME_P, 0, 1);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Ch), 0);
  EXPECT_EQ(Library->Calls("DH_"), (std::vector<std::string>{"DH_ResetStream(" + H() + ")"}));
  Library->Throw("DH_ResetStream", 1);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Ch), 0);
  EXPECT_EQ(Tarn_Decode_RefrushWindow(Ch), -1);
  EXPECT_EQ(Tarn_Decode_ResetDisplay(Ch, 1), -1);
  EXPECT_EQ(Tarn_Decode_StartAviRecord(Ch, 0), -1);
}

// ---- card-wide exports ---------------------------------------------------------------------------

TEST_F(DaHuaCardTest, MonitorOutputsTakeEverySecondDeviceChannel) {
  Start(8);
  const TFrameHead Any = Head(ZORV_FRAME_P, 0, 1);
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(Any, 3, 1, 1, 2, 5, 9), 0);
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(Any, 1, 0, 0, 1, 0, 0), 0);
  EXPECT_EQ(Library->Calls("DH_"), (std::vector<std::string>{"DH_SetDecoderVideoExtOutput(6,1,-1,2,5,9)",
                                                             "DH_SetDecoderVideoExtOutput(2,0,0,1,0,0)"}));
  // Refused by the card: -1, logged all the same.
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(Any, 4, 1, 1, 3, 1, 0), -1);
  const std::vector<std::string> Log = TakeLogMessages();
  EXPECT_EQ(Count(Log, "解码通道序号:6输出通道序号:2显示区域序号:5"), 1);
  EXPECT_EQ(Count(Log, "解码通道序号:2输出通道序号:1显示区域序号:0"), 1);
  EXPECT_EQ(Count(Log, "解码通道序号:8输出通道序号:3显示区域序号:1"), 1);

  // Other card slots: nothing to route to.
  TFrameHead Other = Any;
  for (std::uint8_t Slot : {0, 2, 4, 5, 200}) {
    Other.HardIndex = Slot;
    EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(Other, 3, 1, 1, 2, 5, 9), -1) << int(Slot);
    EXPECT_EQ(Tarn_Decode_SetDisplayRegion(Other, 1, 1, nullptr, 0), -1) << int(Slot);
  }
  std::int32_t A = 0, B = 0;
  EXPECT_EQ(Tarn_Decode_OutParm(5, &A, &B), -1);
  EXPECT_EQ(Tarn_Decode_OutParm(2, &A, &B), -1);
}

TEST_F(DaHuaCardTest, DisplayRegionsGoToTheCardAsGiven) {
  Start(8);
  REGION_PARAM Regions[2] = {{0, 0, 352, 288, 0, 0}, {352, 0, 352, 288, 7, 0}};
  const TFrameHead Any = Head(ZORV_FRAME_P, 0, 1);
  EXPECT_EQ(Tarn_Decode_SetDisplayRegion(Any, 1, 2, Regions, 9), 0);
  EXPECT_EQ(Library->Calls("DH_"), (std::vector<std::string>{"DH_SetDisplayRegion(1,2,ptr,9)"}));
  EXPECT_EQ(Library->Calls("region("),
            (std::vector<std::string>{"region(0,0,352,288,0,0)", "region(352,0,352,288,7,0)"}));
  Library->Return("DH_SetDisplayRegion", 1, 1);
  EXPECT_EQ(Tarn_Decode_SetDisplayRegion(Any, 1, 2, Regions, 9), -1);
  Library->Throw("DH_SetDisplayRegion", 1);
  EXPECT_EQ(Tarn_Decode_SetDisplayRegion(Any, 1, 2, Regions, 9), -1);
  EXPECT_TRUE(TakeLogMessages().empty());
}

TEST_F(DaHuaCardTest, ModeFileOneStopsFramesButNotTheCardExports) {
  TSpineRig Rig;  // the mode file below a drive root of its own
  Rig.SetFlagFile("1");
  Start(8);
  EXPECT_EQ(Open(1), 0);
  EXPECT_EQ(Feed(1, Stream->frames[0]), 0);
  EXPECT_EQ(Library->Count("DH_ChannelOpen("), 0);
  EXPECT_EQ(Library->Count("DH_InputData("), 0);
  REGION_PARAM Region[1] = {{0, 0, 704, 576, 0, 0}};
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(Head(ZORV_FRAME_P, 0, 1), 1, 1, 1, 1, 1, 0), 0);
  EXPECT_EQ(Tarn_Decode_SetDisplayRegion(Head(ZORV_FRAME_P, 0, 1), 1, 1, Region, 0), 0);
  EXPECT_EQ(Library->Count("DH_SetDecoderVideoExtOutput("), 1);
  EXPECT_EQ(Library->Count("DH_SetDisplayRegion("), 1);
}

TEST_F(DaHuaCardTest, OverlayIsRecreatedOnTheHostWindow) {
  Start(8);
  EXPECT_EQ(Tarn_Decode_InitHardHandle(0x1234), 0);
  EXPECT_EQ(Library->Calls("DH_"),
            (std::vector<std::string>{"DH_ReleaseDirectDraw()", "DH_InitDirectDraw(4660,8421504)"}));
  EXPECT_EQ(Library->Query("overlay.wnd"), 0x1234);
  Library->Return("DH_InitDirectDraw", -1, 1);
  EXPECT_EQ(Tarn_Decode_InitHardHandle(0x1235), 0);  // whatever the card answered
  Library->Throw("DH_ReleaseDirectDraw", 1);
  EXPECT_EQ(Tarn_Decode_InitHardHandle(0x1236), 0);
  Tarn_Decode_ShutDown();

  // A card never initialised is not called.
  ASSERT_EQ(Tarn_Decode_Initialize(0, kRoot.c_str(), 1), 0);
  Library->ClearJournal();
  EXPECT_EQ(Tarn_Decode_InitHardHandle(0x1234), 0);
  EXPECT_EQ(Library->Count("DH_"), 0);
}

// ---- snapshots -------------------------------------------------------------------------------

class DaHuaCardSnapTest : public DaHuaCardTest {
 protected:
  std::int32_t Snap() {
    Image.assign(1024 * 1024, 0);
    Size[0] = Size[1] = 0;
    std::uint8_t* Ptr = Image.data();
    return Tarn_Decode_SnapPicture(Head(ZORV_FRAME_P, 0, 1), Size, &Ptr);
  }
  std::vector<std::uint8_t> Image;
  std::int32_t Size[2] = {0, 0};
};

TEST_F(DaHuaCardSnapTest, TheCardsPictureBecomesABmpImage) {
  Start(8);
  EXPECT_EQ(Snap(), -1);  // no stream: nothing asked of the card
  EXPECT_EQ(Library->Count("DH_"), 0);
  ASSERT_EQ(Open(1), 0);
  const TPrivateTempDir Temp;  // what the snapshots leave, apart from other programs' files
  Library->SetOption("picture.width", 352);
  Library->SetOption("picture.height", 288);
  Library->ClearJournal();

  const std::int32_t Bytes = Snap();
  EXPECT_EQ(Bytes, 54 + 352 * 3 * 288);
  EXPECT_EQ(Size[0], 352);
  EXPECT_EQ(Size[1], 288);
  EXPECT_EQ(Library->Calls("DH_"), (std::vector<std::string>{"DH_GetPictureSize(" + H() + ",ptr,ptr)",
                                                             "DH_GetYV12Image(" + H() + ",ptr,202752)"}));
  // The card hands out YV12 (Y, V, U); the image is that picture converted.
  std::vector<std::uint8_t> I420(zrv::PictureBytes(352, 288));
  zrv::DrawPattern(I420.data(), 352, 288, 1);
  const std::size_t Luma = 352 * 288, Chroma = Luma / 4;
  std::vector<std::uint8_t> Yv12(I420.begin(), I420.begin() + Luma);
  Yv12.insert(Yv12.end(), I420.begin() + Luma + Chroma, I420.end());
  Yv12.insert(Yv12.end(), I420.begin() + Luma, I420.begin() + Luma + Chroma);
  const std::vector<std::uint8_t> Expected = YV12ToBmpImage(Yv12.data(), 352, 288);
  ASSERT_GE(Bytes, 0);
  EXPECT_TRUE(std::equal(Expected.begin(), Expected.end(), Image.begin()));
  EXPECT_TRUE(SnapTempFiles().empty());

  // A null buffer pointer is refused, nothing is written anywhere.
  std::int32_t S[2] = {0, 0};
  EXPECT_EQ(Tarn_Decode_SnapPicture(Head(ZORV_FRAME_P, 0, 1), S, nullptr), -1);
  EXPECT_TRUE(SnapTempFiles().empty());
}

TEST_F(DaHuaCardSnapTest, TheStreamsOwnPictureIsSnapped) {
  Start(8);
  ASSERT_EQ(Open(1), 0);
  for (const zrv::Frame& Frame : Stream->frames) ASSERT_EQ(Feed(1, Frame), 0);
  const std::int64_t Port = Entry().Port;
  ASSERT_TRUE(WaitUntil([&] { return Library->Query("decoded", Port) >= 8; }));
  EXPECT_EQ(Snap(), 54 + 352 * 3 * 288);
  EXPECT_EQ(Size[0], 352);
  EXPECT_EQ(Size[1], 288);
}

TEST_F(DaHuaCardSnapTest, BlankOrMissingPicturesAreTriedTenTimesAt10MsThenGivenUp) {
  Start(8);
  ASSERT_EQ(Open(1), 0);
  Library->SetOption("picture.width", 352);
  Library->SetOption("picture.height", 288);

  // Three blank pictures, then a real one.
  Library->SetOption("picture.blank", 3);
  Library->ClearJournal();
  std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_GT(Snap(), 0);
  EXPECT_EQ(Library->Count("DH_GetYV12Image("), 4);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 30u);

  // Never anything but blank.
  Library->SetOption("picture.blank", -1);
  Library->ClearJournal();
  TakeLogMessages();
  Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Snap(), -1);
  EXPECT_EQ(Library->Count("DH_GetYV12Image("), 10);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 100u);
  EXPECT_EQ(TakeLogMessages(), (std::vector<std::string>{std::string(kSnapFail) + "2"}));

  // No picture at all, and pictures too small to tell from blank: ten tries, not endless.
  Library->SetOption("picture.blank", 0);
  for (std::int64_t Side : {0, 32}) {
    Library->SetOption("picture.width", Side);
    Library->SetOption("picture.height", Side);
    Library->ClearJournal();
    EXPECT_EQ(Snap(), -1);
    EXPECT_EQ(Library->Count("DH_GetPictureSize("), 10);
    EXPECT_EQ(Library->Count("DH_GetYV12Image("), 0);
    EXPECT_EQ(Count(TakeLogMessages(), std::string(kSnapFail) + "2"), 1);
  }

  // A fault inside the card ends the tries.
  Library->SetOption("picture.width", 352);
  Library->SetOption("picture.height", 288);
  Library->Throw("DH_GetYV12Image", 1);
  Library->ClearJournal();
  EXPECT_EQ(Snap(), -1);
  EXPECT_EQ(Library->Count("DH_GetYV12Image("), 1);
  EXPECT_EQ(TakeLogMessages(),
            (std::vector<std::string>{std::string(kSnapFail) + "1", std::string(kSnapFail) + "2"}));
}

// ---- trees where the card cannot work ---------------------------------------------------------

TEST_F(DaHuaCardTest, AMissingCompanionOrCardLibraryLeavesTheCardUnloaded) {
  for (const char* Variant : {"nocompanion", "nolib"}) {
    const std::string Root = TreeRoot(Variant);
    Win::Test::RecordLoaderCalls(true);
    Win::Test::TakeLoaderCalls();
    ASSERT_EQ(Tarn_Decode_Initialize(0, Root.c_str(), 0), 0);
    const std::string Loads = Win::Test::TakeLoaderCalls();
    Win::Test::RecordLoaderCalls(false);
    EXPECT_EQ(Loads.find("VDCDecode"), std::string::npos) << Variant;
    std::int32_t Decode = -1, Display = -1;
    EXPECT_EQ(Tarn_Decode_OutParm(kCardSlot, &Decode, &Display), 0);
    EXPECT_EQ(Decode, 0) << Variant;
    EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(Head(ZORV_FRAME_P, 0, 1), 1, 1, 1, 1, 1, 0), -1);
    std::int32_t S[2];
    std::uint8_t Buffer[64];
    std::uint8_t* Ptr = Buffer;
    EXPECT_EQ(Tarn_Decode_SnapPicture(Head(ZORV_FRAME_P, 0, 1), S, &Ptr), -1);
    Tarn_Decode_ShutDown();
  }
}

TEST_F(DaHuaCardTest, ACardLibraryThatCannotOpenChannelsReleasesTheDevice) {
  const std::string Root = TreeRoot("noopen");
  ASSERT_EQ(Tarn_Decode_Initialize(0, Root.c_str(), 0), 0);
  StandinClient NoOpen(Root + kCardPath);
  ASSERT_TRUE(NoOpen.Loaded());
  EXPECT_EQ(NoOpen.Calls("DH_"), (std::vector<std::string>{"DH_InitDecDevice(ptr)", "DH_ReleaseDecDevice()"}));
  std::int32_t Decode = -1, Display = -1;
  EXPECT_EQ(Tarn_Decode_OutParm(kCardSlot, &Decode, &Display), 0);
  EXPECT_EQ(Decode, 0);
  Tarn_Decode_ShutDown();
  NoOpen.Reset();
}

TEST_F(DaHuaCardTest, ACardLibraryWithoutStreamFunctionsFailsCallsCleanly) {
  const std::string Root = TreeRoot("noio");
  ASSERT_EQ(Tarn_Decode_Initialize(0, Root.c_str(), 0), 0);
  StandinClient NoIo(Root + kCardPath);
  ASSERT_TRUE(NoIo.Loaded());
  std::int32_t Decode = -1, Display = -1;
  EXPECT_EQ(Tarn_Decode_OutParm(kCardSlot, &Decode, &Display), 0);
  EXPECT_EQ(Decode, 4);

  EXPECT_EQ(Open(1), 0);  // opened and started as far as the library goes
  EXPECT_EQ(Feed(1, Stream->frames[0]), -1);
  const TFrameHead Ch = Head(ZORV_FRAME_P, 0, 1);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Ch), 0);
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(Ch, 1, 1, 1, 1, 1, 0), -1);
  REGION_PARAM Region[1] = {{0, 0, 704, 576, 0, 0}};
  EXPECT_EQ(Tarn_Decode_SetDisplayRegion(Ch, 1, 1, Region, 0), -1);
  std::int32_t S[2];
  std::uint8_t Buffer[64];
  std::uint8_t* Ptr = Buffer;
  EXPECT_EQ(Tarn_Decode_SnapPicture(Ch, S, &Ptr), -1);
  const std::int64_t Handles = NoIo.Query("handles");
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Ch), 0);
  EXPECT_EQ(NoIo.Query("handles"), Handles - 1);
  Tarn_Decode_ShutDown();
  NoIo.Reset();
}

}  // namespace
