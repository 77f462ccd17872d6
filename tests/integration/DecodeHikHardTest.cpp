// The Hikvision decode card adapter (hardware card slot 1) through the exports, against the
// stand-in card library System\HIK\DS40xxSDK.dll: routing of hardware heads, card streams
// started once per card channel, picture placement over the channel's window, sound routing,
// video outputs and regions, and snapshots of the card's YV12 pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "HostPictures.h"
#include "Platform.h"
#include "SnapTempFiles.h"
#include "SpineTestAdapter.h"
#include "StandinClient.h"
#include "U_DecodeEngine.h"
#include "U_YuvConvert.h"
#include "ZorvDecoder.h"
#include "ZorvSurface.h"
#include "ZrvStream.h"

namespace {

constexpr std::uintptr_t kHandleBase = 0x5000;  // the stand-in's handle of card channel 0
constexpr std::uint8_t kHikType = 1;

std::string Root() { return std::string(ZORV_TESTROOT) + "/"; }
std::string CardPath(const std::string& Tree) { return Tree + "System/HIK/DS40xxSDK.dll"; }
// Journal form of the handle of card channel HardChannel (numbered from 1).
std::string H(std::uint32_t HardChannel) { return std::to_string(kHandleBase + HardChannel - 1); }

// Sets (Value null: removes) an environment variable of the process.
void SetEnv(const char* Name, const char* Value) {
#ifdef _WIN32
  _putenv_s(Name, Value ? Value : "");
#else
  if (Value)
    setenv(Name, Value, 1);
  else
    unsetenv(Name);
#endif
}

bool Logged(const std::vector<std::string>& Log, const std::string& Message) {
  for (const std::string& Line : Log)
    if (Line == Message) return true;
  return false;
}

// A rectangle relative to the overlay's host window.
struct TDisplayRect {
  std::int32_t Left, Top, Width, Height;
};

class DecodeHikHardTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    Host = zorv_surface_create(0, 0, 800, 600);
    Wnd = zorv_surface_create(120, 80, 352, 288);
  }
  static void TearDownTestSuite() {
    zorv_surface_destroy(Wnd);
    zorv_surface_destroy(Host);
  }
  void SetUp() override {
    ASSERT_TRUE(Card.Loaded());
    ASSERT_NE(Wnd, 0u);
    Card.Reset();
    Win::Test::CaptureDebugOutput(true);
    Win::Test::TakeDebugOutput();
  }
  void TearDown() override {
    for (const TFrameHead& Head : Used) Tarn_Decode_CloseOneChannel(Head);
    Tarn_Decode_ShutDown();
    Card.Reset();
    Win::Test::CaptureDebugOutput(false);
    Win::Test::SetSleepScale(0.01);
  }

  // A fresh engine over Tree with the card (options set before), the overlay on Host.
  void Start(const std::string& Tree = Root(), std::int32_t Param = 0) {
    ASSERT_EQ(Tarn_Decode_Initialize(Param, Tree.c_str(), 0), 0);
    Tarn_Decode_InitHardHandle(static_cast<std::int32_t>(Host));
    Card.ClearJournal();
    TakeLogMessages();
  }

  // A head of display channel (0, Channel) asking for card channel HardChannel.
  TFrameHead HeadOf(std::uint32_t Channel, std::uint32_t HardChannel, std::uint8_t FrameType = ZORV_FRAME_P,
                    std::size_t Length = 0) {
    TFrameHead Head;
    std::memset(&Head, 0, sizeof Head);
    Head.Channel = Channel;
    Head.Wnd = Wnd;
    Head.HardChannel = HardChannel;
    Head.DataLen = static_cast<std::uint32_t>(Length);
    Head.FrameType = FrameType;
    Head.DvrType = kHikType;
    Head.FrameTime = 40241.5;
    Head.HardIndex = 1;
    Head.DecodeMode = 1;
    bool Known = false;
    for (const TFrameHead& Seen : Used) Known |= Seen.Channel == Channel && Seen.HardChannel == HardChannel;
    if (!Known) Used.push_back(Head);
    return Head;
  }
  std::int32_t Add(TFrameHead Head, const std::vector<std::uint8_t>& Bytes) {
    Head.DataLen = static_cast<std::uint32_t>(Bytes.size());
    return Tarn_Decode_AddFrame(Head, Bytes.data());
  }
  // Opens display channel Channel on card channel HardChannel with the stream's head.
  std::int32_t Open(std::uint32_t Channel, std::uint32_t HardChannel, double FrameTime = 40241.5) {
    TFrameHead Head = HeadOf(Channel, HardChannel, ZORV_FRAME_FILEHEAD);
    Head.FrameTime = FrameTime;
    return Add(Head, Stream.head);
  }
  // Feeds the stream's frames First.. (count Count) to the channel.
  void Feed(std::uint32_t Channel, std::uint32_t HardChannel, std::size_t First, std::size_t Count) {
    for (std::size_t i = First; i < First + Count; ++i)
      ASSERT_EQ(Add(HeadOf(Channel, HardChannel, Stream.frames[i].frameType), Stream.frames[i].bytes), 0);
  }

  TDecodeBase* CardAdapter() const { return DecodeEngine()->HardDecoder(1); }
  const TPlayerInfo* EntryOf(std::uint32_t Channel) const {
    const std::int32_t Player = CardAdapter()->ChannelPlayer(0, static_cast<int>(Channel));
    return Player < 0 ? nullptr : &CardAdapter()->PlayerAt(Player);
  }
  // The rectangle of the channel's window relative to the host window (as the card places it).
  static TDisplayRect Expected() {
    Win::RECT Channel{}, Outer{};
    Win::GetWindowRect(Wnd, &Channel);
    Win::GetWindowRect(Host, &Outer);
    return {Channel.left - Outer.left, Channel.top - Outer.top, Channel.right - Channel.left,
            Channel.bottom - Channel.top};
  }
  std::string Placed(std::uint32_t HardChannel, std::int32_t Flags, std::int32_t Shrink = 0) const {
    const TDisplayRect R = Expected();
    return "HW_SetDisplayPara(" + H(HardChannel) + ",{" + std::to_string(Flags) + "," + std::to_string(Flags) + "," +
           std::to_string(R.Left + Shrink) + "," + std::to_string(R.Top + Shrink) + "," +
           std::to_string(R.Width - Shrink) + "," + std::to_string(R.Height - Shrink) + ",0})";
  }

  StandinClient Card{CardPath(Root())};
  std::vector<TFrameHead> Used;
  zrv::SyntheticStream Stream = zrv::MakeSyntheticStream({352, 288, 25, true, 0}, 8);
  static inline std::uint32_t Host = 0;
  static inline std::uint32_t Wnd = 0;
};

// ---- initialisation and routing -----------------------------------------------------------

TEST_F(DecodeHikHardTest, InitialisationOpensEveryCardChannelAndReportsTheCounts) {
  Card.SetOption("card.displays", 2);
  ASSERT_EQ(Tarn_Decode_Initialize(77, Root().c_str(), 0), 0);
  EXPECT_EQ(Card.Calls("HW_InitDecDevice(").size(), 1u);
  EXPECT_EQ(Card.Calls("HW_ChannelOpen("),
            (std::vector<std::string>{"HW_ChannelOpen(0,ptr)", "HW_ChannelOpen(1,ptr)", "HW_ChannelOpen(2,ptr)",
                                      "HW_ChannelOpen(3,ptr)"}));
  EXPECT_EQ(Card.Calls("HW_PlaySound("), (std::vector<std::string>{"HW_PlaySound(" + H(1) + ")", "HW_PlaySound(" + H(2) + ")",
                                                                   "HW_PlaySound(" + H(3) + ")", "HW_PlaySound(" + H(4) + ")"}));
  // The initialisation value is the overlay's window.
  EXPECT_EQ(Card.Calls("HW_InitDirectDraw("), (std::vector<std::string>{"HW_InitDirectDraw(77,8421504)"}));
  std::int32_t Decode = -1, Display = -1;
  EXPECT_EQ(Tarn_Decode_OutParm(1, &Decode, &Display), 0);
  EXPECT_EQ(Decode, 4);
  EXPECT_EQ(Display, 2);
  EXPECT_EQ(Tarn_Decode_OutParm(5, &Decode, &Display), -1);

  // InitHardHandle recreates the overlay on the host window.
  Card.ClearJournal();
  EXPECT_EQ(Tarn_Decode_InitHardHandle(static_cast<std::int32_t>(Host)), 0);
  EXPECT_EQ(Card.Calls(), (std::vector<std::string>{"HW_ReleaseDirectDraw()",
                                                    "HW_InitDirectDraw(" + std::to_string(Host) + ",8421504)"}));
  EXPECT_EQ(Card.Query("overlay"), Host);
  EXPECT_TRUE(Logged(TakeLogMessages(), "Decoderdll Init"));
  Card.Return("HW_InitDirectDraw", 1);
  EXPECT_EQ(CardAdapter()->InitHardHandle(static_cast<std::int32_t>(Host)), -1);
  EXPECT_EQ(Tarn_Decode_InitHardHandle(static_cast<std::int32_t>(Host)), 0);  // whatever the card said
}

TEST_F(DecodeHikHardTest, NoCardWithoutItsLibraryOrWhenHardwareIsOff) {
  // No card library in the tree: the card counts as initialised with no channels.
  const std::string Empty = Root() + "no-such-tree/";
  ASSERT_EQ(Tarn_Decode_Initialize(0, Empty.c_str(), 0), 0);
  std::int32_t Decode = -1, Display = -1;
  EXPECT_EQ(Tarn_Decode_OutParm(1, &Decode, &Display), 0);
  EXPECT_EQ(Decode, 0);
  EXPECT_EQ(Display, 0);
  EXPECT_EQ(Tarn_Decode_InitHardHandle(5), 0);
  Tarn_Decode_ShutDown();

  ASSERT_EQ(Tarn_Decode_Initialize(0, Root().c_str(), 1), 0);
  EXPECT_EQ(Tarn_Decode_OutParm(1, &Decode, &Display), 0);
  EXPECT_EQ(Decode, 0);
  EXPECT_EQ(Card.Count("HW_"), 0);
  EXPECT_EQ(Open(3, 1), 0);
  EXPECT_GE(DecodeEngine()->Decoder(kHikType)->ChannelPlayer(0, 3), 0);
  EXPECT_EQ(EntryOf(3), nullptr);
}

TEST_F(DecodeHikHardTest, HardwareHeadsWithinTheCardPlayOnItOthersFallBackToSoftware) {
  Start();
  ASSERT_EQ(Open(3, 2), 0);
  const TPlayerInfo* Entry = EntryOf(3);
  ASSERT_NE(Entry, nullptr);
  EXPECT_EQ(Entry->Port.Get(), static_cast<std::int64_t>(kHandleBase + 1));
  EXPECT_EQ(Entry->OpenState, 1);
  EXPECT_EQ(Entry->OpenKind, 1);
  EXPECT_EQ(Entry->Wnd, Wnd);
  EXPECT_EQ(Entry->HasAudio, 1);  // byte 16 of the stream head is 3
  EXPECT_EQ(Card.Calls(), (std::vector<std::string>{
                              "HW_SetStreamOpenMode(" + H(2) + ",1)", "HW_OpenStream(" + H(2) + ",ptr,40)",
                              "HW_SetDecoderPostProcess(" + H(2) + ",1)", "HW_SetSpeed(" + H(2) + ",0)",
                              "HW_Play(" + H(2) + ")", Placed(2, 1)}));
  const auto Log = TakeLogMessages();
  EXPECT_TRUE(Logged(Log, "Decoderdll Start Open3文件头"));
  EXPECT_TRUE(Logged(Log, "3Openstream success"));
  EXPECT_TRUE(Logged(Log, "Decoderdll Start End3"));

  // Frames reach the card, which decodes them.
  Card.ClearJournal();
  Feed(3, 2, 0, 4);
  EXPECT_EQ(Card.Count("HW_InputData(" + H(2) + ",ptr,"), 4);
  // A head naming no card channel of the tables still feeds the channel's stream.
  EXPECT_EQ(Add(HeadOf(3, 0, ZORV_FRAME_P), Stream.frames[4].bytes), 0);
  EXPECT_EQ(Add(HeadOf(3, 0xFFFFFFFFu, ZORV_FRAME_P), Stream.frames[5].bytes), 0);
  EXPECT_EQ(Card.Count("HW_InputData(" + H(2) + ",ptr,"), 6);
  EXPECT_TRUE(WaitUntil([&] { return Card.Query("decoded", 1) >= 2; }));
  EXPECT_EQ(Card.Query("playing", 1), 1);
  Card.ClearJournal();

  // Beyond the card's channels, another card slot or software decoding asked for: software.
  TFrameHead Beyond = HeadOf(4, 5, ZORV_FRAME_FILEHEAD);
  TFrameHead Software = HeadOf(5, 1, ZORV_FRAME_FILEHEAD);
  Software.DecodeMode = 2;
  Used.back().DecodeMode = 2;
  EXPECT_EQ(Add(Beyond, Stream.head), 0);
  EXPECT_EQ(Add(Software, Stream.head), 0);
  EXPECT_EQ(EntryOf(4), nullptr);
  EXPECT_EQ(EntryOf(5), nullptr);
  EXPECT_GE(DecodeEngine()->Decoder(kHikType)->ChannelPlayer(0, 4), 0);
  EXPECT_GE(DecodeEngine()->Decoder(kHikType)->ChannelPlayer(0, 5), 0);
  EXPECT_EQ(Card.Count("HW_OpenStream("), 0);

  // A data frame of a hardware channel that never got a file head is dropped with -1.
  EXPECT_EQ(Add(HeadOf(6, 3, ZORV_FRAME_I), Stream.frames[0].bytes), -1);
  EXPECT_EQ(Card.Count("HW_InputData("), 0);
}

TEST_F(DecodeHikHardTest, TheFileHeadFrameFeedsTheCardWhatFollowsItsFortyBytes) {
  Start();
  std::vector<std::uint8_t> Long = Stream.head;
  Long.insert(Long.end(), 60, 0x11);
  ASSERT_EQ(Add(HeadOf(1, 1, ZORV_FRAME_FILEHEAD), Long), 0);
  EXPECT_EQ(Card.Calls("HW_InputData("), (std::vector<std::string>{"HW_InputData(" + H(1) + ",ptr,60)"}));

  Card.ClearJournal();
  ASSERT_EQ(Open(2, 2), 0);
  EXPECT_EQ(Card.Count("HW_InputData("), 0);

  // A file head shorter than 40 bytes is read only as far as it goes.
  std::vector<std::uint8_t> Short(Stream.head.begin(), Stream.head.begin() + 12);
  ASSERT_EQ(Add(HeadOf(3, 3, ZORV_FRAME_FILEHEAD), Short), 0);
  EXPECT_EQ(EntryOf(3)->HasAudio, 0);
}

// ---- card streams --------------------------------------------------------------------------

TEST_F(DecodeHikHardTest, ACardStreamStartsOnceAndIsReusedAcrossCloseAndReopen) {
  Start();
  ASSERT_EQ(Open(1, 1), 0);
  ASSERT_EQ(Open(2, 1), 0);  // a second display channel on the same card channel
  EXPECT_EQ(Card.Count("HW_OpenStream("), 1);
  EXPECT_EQ(Card.Count("HW_Play("), 1);
  EXPECT_EQ(Card.Count("HW_SetDisplayPara("), 1);
  EXPECT_EQ(EntryOf(1)->Port.Get(), EntryOf(2)->Port.Get());

  // Closing releases only the display channel's player; the card stream runs on.
  Card.ClearJournal();
  TakeLogMessages();
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(HeadOf(1, 1)), 0);
  EXPECT_EQ(EntryOf(1), nullptr);
  EXPECT_EQ(Card.Count("HW_"), 0);
  EXPECT_EQ(Card.Query("open", 0), 1);
  auto Log = TakeLogMessages();
  EXPECT_TRUE(Logged(Log, "Decoderdll Start Stop1"));
  EXPECT_TRUE(Logged(Log, "Decoderdll End Stop1"));
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(HeadOf(1, 1)), -1);

  // Reopened: the running stream is used again, and its first frame must be an I frame.
  ASSERT_EQ(Open(1, 1), 0);
  EXPECT_EQ(Card.Count("HW_OpenStream("), 0);
  EXPECT_EQ(Card.Count("HW_Play("), 0);
  TakeLogMessages();
  ASSERT_EQ(Add(HeadOf(1, 1, ZORV_FRAME_P), Stream.frames[1].bytes), 0);
  ASSERT_EQ(Add(HeadOf(1, 1, ZORV_FRAME_P), Stream.frames[2].bytes), 0);
  Log = TakeLogMessages();
  EXPECT_EQ(std::count(Log.begin(), Log.end(), "  decoderdll   errorFrame1"), 1);
  ASSERT_EQ(Open(1, 1), 0);
  TakeLogMessages();
  ASSERT_EQ(Add(HeadOf(1, 1, ZORV_FRAME_I), Stream.frames[0].bytes), 0);
  EXPECT_FALSE(Logged(TakeLogMessages(), "  decoderdll   errorFrame1"));
  EXPECT_EQ(Card.Count("HW_InputData(" + H(1) + ",ptr,"), 3);

  // The card stream outlives the session: no card call, the card library stays loaded.
  Win::Test::RecordLoaderCalls(true);
  Tarn_Decode_CloseOneChannel(HeadOf(1, 1));
  Tarn_Decode_CloseOneChannel(HeadOf(2, 1));
  Card.ClearJournal();
  TakeLogMessages();
  Tarn_Decode_ShutDown();
  const std::string Loader = Win::Test::TakeLoaderCalls();
  Win::Test::RecordLoaderCalls(false);
  EXPECT_EQ(Loader.find("DS40xxSDK.dll"), std::string::npos) << Loader;
  EXPECT_EQ(Card.Count("HW_"), 0);
  EXPECT_EQ(Card.Query("playing", 0), 1);
  EXPECT_TRUE(Logged(TakeLogMessages(), "decoderdll 释放"));

  // A new session over the same card opens and starts its streams again.
  Start();
  ASSERT_EQ(Open(1, 1), 0);
  EXPECT_EQ(Card.Count("HW_OpenStream(" + H(1)), 1);
}

TEST_F(DecodeHikHardTest, AStreamTheCardCannotOpenOrPlayIsClosedAndItsPlayerFreed) {
  Start();
  Card.Return("HW_OpenStream", 1, 1);
  EXPECT_EQ(Open(3, 2), -1);
  EXPECT_EQ(EntryOf(3), nullptr);
  EXPECT_EQ(Card.Calls("HW_CloseStream("), (std::vector<std::string>{"HW_CloseStream(" + H(2) + ")"}));
  EXPECT_EQ(Card.Count("HW_Play("), 0);
  EXPECT_TRUE(Logged(TakeLogMessages(), "0decoderdll   errorOpenStream-2--3fPlayerSdkNum:-1"));

  Card.ClearJournal();
  Card.Return("HW_Play", 1, 1);
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Open(3, 2), -1);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 500u + 200u);
  EXPECT_EQ(EntryOf(3), nullptr);
  EXPECT_EQ(Card.Count("HW_CloseStream(" + H(2) + ")"), 1);
  EXPECT_TRUE(Logged(TakeLogMessages(), "0decoderdll   errorPlay-2--3fPlayerSdkNum:-1"));

  // A card library that raises counts as a refusal; the next file head starts the stream.
  Card.Throw("HW_OpenStream", 1);
  EXPECT_EQ(Open(3, 2), -1);
  EXPECT_EQ(EntryOf(3), nullptr);
  Card.ClearJournal();
  EXPECT_EQ(Open(3, 2), 0);
  EXPECT_EQ(Card.Count("HW_OpenStream("), 1);
  for (int Player = 0; Player < PlayerCount; ++Player)
    if (Player != CardAdapter()->ChannelPlayer(0, 3)) {
      ASSERT_EQ(CardAdapter()->PlayerAt(Player).Port.Get(), -1) << Player;
    }
}

TEST_F(DecodeHikHardTest, FramesTheCardDoesNotTakeAreLoggedAndDropped) {
  Start();
  ASSERT_EQ(Open(3, 2), 0);
  Card.Return("HW_InputData", 0, 1);
  TakeLogMessages();
  EXPECT_EQ(Add(HeadOf(3, 2, ZORV_FRAME_I), Stream.frames[0].bytes), 0);
  EXPECT_TRUE(Logged(TakeLogMessages(), "Decoderdll Inputdata error3"));
  EXPECT_EQ(Add(HeadOf(3, 2, ZORV_FRAME_P), Stream.frames[1].bytes), 0);
  EXPECT_FALSE(Logged(TakeLogMessages(), "Decoderdll Inputdata error3"));

  // ClearBuffer resets the card stream; a refusal is logged, the result stays 0.
  Card.ClearJournal();
  EXPECT_EQ(Tarn_Decode_ClearBuffer(HeadOf(3, 2)), 0);
  EXPECT_EQ(Card.Calls("HW_ResetStream("), (std::vector<std::string>{"HW_ResetStream(" + H(2) + ")"}));
  Card.Return("HW_ResetStream", 5, 1);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(HeadOf(3, 2)), 0);
  EXPECT_TRUE(Logged(TakeLogMessages(), "  decoderdll   errorClear2"));
  Card.Throw("HW_ResetStream", 1);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(HeadOf(3, 2)), 0);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(HeadOf(9, 2)), -1);  // no stream
  EXPECT_EQ(Tarn_Decode_RefrushWindow(HeadOf(3, 2)), -1);
}

// ---- placement -----------------------------------------------------------------------------

TEST_F(DecodeHikHardTest, DisplayFlagsFollowTheFileHeadsFrameTime) {
  Start();
  const double Times[] = {1.0, 1.75, 2.0, 0.5};
  const std::int32_t Flags[] = {0, 0, 1, 1};
  for (std::uint32_t i = 0; i < 4; ++i) {
    Card.ClearJournal();
    ASSERT_EQ(Open(i, i + 1, Times[i]), 0);
    EXPECT_EQ(Card.Calls("HW_SetDisplayPara("), (std::vector<std::string>{Placed(i + 1, Flags[i])})) << Times[i];
    EXPECT_EQ(Card.Query("display.flags", i), Flags[i]);
  }
}

TEST_F(DecodeHikHardTest, ARefusedRectangleShrinksFromItsTopLeftUntilTheCardTakesIt) {
  Start();
  const TDisplayRect R = Expected();
  Card.SetOption("display.maxheight", R.Height - 3);
  ASSERT_EQ(Open(3, 2), 0);
  EXPECT_EQ(Card.Calls("HW_SetDisplayPara("),
            (std::vector<std::string>{Placed(2, 1), Placed(2, 1, 1), Placed(2, 1, 2), Placed(2, 1, 3)}));
  EXPECT_EQ(Card.Query("display.left", 1), R.Left + 3);
  EXPECT_EQ(Card.Query("display.height", 1), R.Height - 3);

  // ResetDisplay places the picture again over the player's window, with the given flags.
  Card.ClearJournal();
  TakeLogMessages();
  EXPECT_EQ(Tarn_Decode_ResetDisplay(HeadOf(3, 2), 6), 0);
  EXPECT_EQ(Card.Count("HW_SetDisplayPara("), 4);
  EXPECT_EQ(Card.Query("display.flags", 1), 6);
  EXPECT_TRUE(Logged(TakeLogMessages(), "decoderdll::--::32" + std::to_string(Wnd) + " 区域:left:" +
                                            std::to_string(R.Left + 3) + "top:" + std::to_string(R.Top + 3)));

  // A card that refuses every rectangle: given up once no height is left.
  Card.ClearJournal();
  Card.Return("HW_SetDisplayPara", 1);
  EXPECT_EQ(Tarn_Decode_ResetDisplay(HeadOf(3, 2), 1), -1);
  EXPECT_EQ(Card.Count("HW_SetDisplayPara("), R.Height);
  Card.Throw("HW_SetDisplayPara");
  EXPECT_EQ(Tarn_Decode_ResetDisplay(HeadOf(3, 2), 1), -1);
  EXPECT_EQ(Tarn_Decode_ResetDisplay(HeadOf(9, 2), 1), -1);  // no stream
}

// ---- sound ---------------------------------------------------------------------------------

TEST_F(DecodeHikHardTest, SoundIsRoutedToTheCardChannelsAudioOutput) {
  Start();
  ASSERT_EQ(Open(3, 2), 0);
  Card.ClearJournal();
  EXPECT_EQ(Tarn_Decode_PlaySound(HeadOf(3, 2)), 0);
  EXPECT_EQ(Card.Calls(), (std::vector<std::string>{"SetDecoderAudioOutput(1,-1,0)", "HW_PlaySound(" + H(2) + ")",
                                                    "HW_SetAudioPreview(" + H(2) + ",-1)"}));
  EXPECT_EQ(EntryOf(3)->SoundState, 2);
  EXPECT_EQ(Card.Query("audioout", 0), 1);
  EXPECT_EQ(Tarn_Decode_PlaySound(HeadOf(3, 2)), 0);
  EXPECT_EQ(Card.Count("HW_PlaySound("), 1);

  Card.ClearJournal();
  Card.Return("HW_StopSound", 1, 1);
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Tarn_Decode_StopSound(HeadOf(3, 2)), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 1u);  // after the refused call
  EXPECT_EQ(Card.Calls(), (std::vector<std::string>{"SetDecoderAudioOutput(1,0,0)", "HW_StopSound(" + H(2) + ")",
                                                    "HW_SetAudioPreview(" + H(2) + ",0)"}));
  EXPECT_EQ(EntryOf(3)->SoundState, 0);
  EXPECT_EQ(Card.Query("audioout", 0), -1);

  // A stream without sound: the wish is kept, the card is not asked.
  zrv::SyntheticStream Silent = zrv::MakeSyntheticStream({352, 288, 25, false, 0}, 2);
  ASSERT_EQ(Add(HeadOf(4, 3, ZORV_FRAME_FILEHEAD), Silent.head), 0);
  Card.ClearJournal();
  EXPECT_EQ(Tarn_Decode_PlaySound(HeadOf(4, 3)), 0);
  EXPECT_EQ(EntryOf(4)->SoundState, 1);
  EXPECT_EQ(Card.Count("HW_PlaySound("), 0);
}

// ---- video outputs and the mode file -------------------------------------------------------

TEST_F(DecodeHikHardTest, CardChannelsAreRoutedToVideoOutputsAndOutputsSplitIntoRegions) {
  Start();
  TFrameHead Any = HeadOf(0, 0);
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(Any, 2, 7, 1, 1, 3, 0), 0);
  EXPECT_EQ(Card.Calls(), (std::vector<std::string>{"SetDecoderVideoExtOutput(2,7,-1,1,3,0)"}));
  EXPECT_EQ(Card.Query("route", 1 * 16 + 3), 2);
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(Any, 2, 7, 0, 1, 3, 0), 0);
  EXPECT_EQ(Card.Query("route", 1 * 16 + 3), -1);
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(Any, 2, 7, 1, 9, 3, 0), -1);  // no output 9
  auto Log = TakeLogMessages();
  EXPECT_TRUE(Logged(Log, "decoderdll解码通道序号:2输出通道序号:1显示区域序号:3--0"));
  EXPECT_TRUE(Logged(Log, "decoderdll解码通道序号:2输出通道序号:9显示区域序号:3---1"));

  std::int32_t Regions[16] = {0, 0, 352, 288, 352, 0, 352, 288};
  EXPECT_EQ(Tarn_Decode_SetDisplayRegion(Any, 1, 4, Regions, 0), 0);
  EXPECT_EQ(Card.Query("regions", 1), 4);
  EXPECT_EQ(Card.Query("region.width", 1), 352);
  EXPECT_EQ(Tarn_Decode_SetDisplayRegion(Any, 1, 0, Regions, 0), -1);
  EXPECT_EQ(Tarn_Decode_SetDisplayRegion(Any, 1, 4, nullptr, 0), -1);  // no table: none is read
  Log = TakeLogMessages();
  EXPECT_TRUE(Logged(Log, "decoderdll分割数目:4输出通道序号:1显示区域信息:-1"));
  EXPECT_TRUE(Logged(Log, "decoderdll分割数目:4输出通道序号:1显示区域信息:0--0--352--288--0"));
  EXPECT_TRUE(Logged(Log, "decoderdll分割数目:0输出通道序号:1显示区域信息:0--0--352--288---1"));

  // Only the card slot matters; an empty slot refuses.
  Any.HardIndex = 2;
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(Any, 2, 7, 1, 1, 3, 0), -1);
  EXPECT_EQ(Tarn_Decode_SetDisplayRegion(Any, 1, 4, Regions, 0), -1);
}

TEST_F(DecodeHikHardTest, ACardLibraryWithoutOverlayResetOrOutputsRefusesOnlyWhatNeedsThem) {
  StandinClient Bare(CardPath(std::string(ZORV_TESTROOT) + "-hikcard-bare/"));
  ASSERT_TRUE(Bare.Loaded());
  Bare.Reset();
  ASSERT_EQ(Tarn_Decode_Initialize(5, (std::string(ZORV_TESTROOT) + "-hikcard-bare/").c_str(), 0), 0);
  EXPECT_EQ(Tarn_Decode_InitHardHandle(static_cast<std::int32_t>(Host)), 0);
  EXPECT_EQ(CardAdapter()->InitHardHandle(static_cast<std::int32_t>(Host)), 0);
  ASSERT_EQ(Open(3, 2), 0);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(HeadOf(3, 2)), 0);
  std::int32_t Regions[4] = {0, 0, 352, 288};
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(HeadOf(0, 0), 2, 7, 1, 1, 3, 0), -1);
  EXPECT_EQ(Tarn_Decode_SetDisplayRegion(HeadOf(0, 0), 1, 4, Regions, 0), -1);
  EXPECT_TRUE(Logged(TakeLogMessages(), "decoderdll解码通道序号:2输出通道序号:1显示区域序号:3---1"));
  EXPECT_EQ(Bare.Count("HW_OpenStream("), 1);
  Tarn_Decode_CloseOneChannel(HeadOf(3, 2));
  Tarn_Decode_ShutDown();
  Bare.Reset();
}

TEST_F(DecodeHikHardTest, ModeFileValueOneRefusesPlacementAndOutputs) {
  TSpineRig Rig;  // points the mode file at a fresh place
  Rig.SetFlagFile("1");
  Start();
  std::int32_t Regions[4] = {0, 0, 352, 288};
  EXPECT_EQ(Open(3, 2), 0);  // ignored
  EXPECT_EQ(EntryOf(3), nullptr);
  EXPECT_EQ(Tarn_Decode_ResetDisplay(HeadOf(3, 2), 1), -1);
  EXPECT_EQ(Tarn_Decode_SetDecoderVideoExtOutput(HeadOf(0, 0), 2, 7, 1, 1, 3, 0), -1);
  EXPECT_EQ(Tarn_Decode_SetDisplayRegion(HeadOf(0, 0), 1, 4, Regions, 0), -1);
  EXPECT_EQ(Card.Count("SetDecoderVideoExtOutput("), 0);
  EXPECT_EQ(Card.Count("SetDisplayRegion("), 0);
  EXPECT_EQ(Card.Count("HW_"), 0);
  Rig.SetFlagFile("");
}

// ---- channel counts beyond the tables ------------------------------------------------------

TEST_F(DecodeHikHardTest, CardChannelsTheCardDidNotOpenAreNeverUsed) {
  Card.SetOption("card.channels", 4);
  Card.SetOption("card.decodecount", 8);
  Start();
  EXPECT_EQ(Open(1, 6), -1);
  EXPECT_EQ(EntryOf(1), nullptr);
  EXPECT_EQ(Card.Count("HW_"), 0);
  EXPECT_EQ(Open(2, 4), 0);
}

TEST_F(DecodeHikHardTest, ACardWithMoreThanAHundredChannelsIsUsedForItsFirstHundred) {
  Card.SetOption("card.channels", 150);
  ASSERT_EQ(Tarn_Decode_Initialize(0, Root().c_str(), 0), 0);
  std::int32_t Decode = -1, Display = -1;
  EXPECT_EQ(Tarn_Decode_OutParm(1, &Decode, &Display), 0);
  EXPECT_EQ(Decode, 100);
  EXPECT_EQ(Card.Count("HW_ChannelOpen("), 100);
  EXPECT_EQ(Card.Query("channelopen", 99), 1);
  EXPECT_EQ(Card.Query("channelopen", 100), 0);

  ASSERT_EQ(Open(1, 100), 0);
  EXPECT_EQ(EntryOf(1)->Port.Get(), static_cast<std::int64_t>(kHandleBase + 99));
  EXPECT_EQ(Open(2, 101), 0);  // beyond the tables: software
  EXPECT_EQ(EntryOf(2), nullptr);
  EXPECT_GE(DecodeEngine()->Decoder(kHikType)->ChannelPlayer(0, 2), 0);
  // A card channel number that reads as negative is not a card channel either.
  TFrameHead Negative = HeadOf(3, 0xFFFFFFFFu, ZORV_FRAME_FILEHEAD);
  EXPECT_EQ(Add(Negative, Stream.head), -1);
  EXPECT_EQ(EntryOf(3), nullptr);
}

// ---- snapshots -----------------------------------------------------------------------------

class DecodeHikHardSnapTest : public DecodeHikHardTest {
 protected:
  // Opens display channel 3 on card channel 2 and lets the card decode the first picture.
  void OpenWithPicture() {
    Start();
    ASSERT_EQ(Open(3, 2), 0);
    Feed(3, 2, 0, 1);
    ASSERT_TRUE(WaitUntil([&] { return Card.Query("decoded", 1) >= 1; }));
    Card.ClearJournal();
    TakeLogMessages();
  }
  std::int32_t Snap() {
    Out.assign(1 << 20, 0);
    std::uint8_t* At = Out.data();
    Size[0] = Size[1] = 0;
    return Tarn_Decode_SnapPicture(HeadOf(3, 2), Size, &At);
  }
  std::vector<std::uint8_t> Out;
  std::int32_t Size[2] = {};
};

TEST_F(DecodeHikHardSnapTest, TheCardsPictureComesBackAsABmpImage) {
  OpenWithPicture();
  const auto Before = SnapTempFiles();
  const std::int32_t Bytes = Snap();
  const std::vector<std::uint8_t> I420 = PicturesOf(Stream).at(0);
  std::vector<std::uint8_t> Yv12(I420);
  const std::size_t Luma = 352 * 288, Quarter = Luma / 4;
  std::memcpy(Yv12.data() + Luma, I420.data() + Luma + Quarter, Quarter);
  std::memcpy(Yv12.data() + Luma + Quarter, I420.data() + Luma, Quarter);
  const std::vector<std::uint8_t> Expected = YV12ToBmpImage(Yv12.data(), 352, 288);
  ASSERT_EQ(Bytes, static_cast<std::int32_t>(Expected.size()));
  EXPECT_TRUE(std::equal(Expected.begin(), Expected.end(), Out.begin()));
  EXPECT_EQ(Size[0], 352);
  EXPECT_EQ(Size[1], 288);
  EXPECT_EQ(Card.Calls(), (std::vector<std::string>{"HW_GetPictureSize(" + H(2) + ",ptr,ptr)",
                                                    "HW_GetYV12Image(" + H(2) + ",ptr," + std::to_string(Luma * 2) + ")"}));
  EXPECT_EQ(SnapTempFiles(), Before);
  EXPECT_EQ(Tarn_Decode_SnapPicture(HeadOf(9, 2), Size, nullptr), -1);  // no stream
}

TEST_F(DecodeHikHardSnapTest, BlankPicturesAreTriedTenTimesWithAPauseEach) {
  OpenWithPicture();
  Card.SetOption("picture.blank", 3);
  std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_GT(Snap(), 0);
  EXPECT_EQ(Card.Count("HW_GetYV12Image("), 4);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 30u);

  Card.ClearJournal();
  Card.SetOption("picture.blank", -1);
  Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Snap(), -1);
  EXPECT_EQ(Card.Count("HW_GetYV12Image("), 10);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 100u);
  EXPECT_TRUE(Logged(TakeLogMessages(), "decoderdll 硬件解码抓帧失败2"));
}

TEST_F(DecodeHikHardSnapTest, ACardWithNoPictureIsAskedTenTimesOnly) {
  Start();
  ASSERT_EQ(Open(3, 2), 0);  // nothing decoded yet: the card reports no picture
  Card.ClearJournal();
  TakeLogMessages();
  EXPECT_EQ(Snap(), -1);
  EXPECT_EQ(Card.Count("HW_GetPictureSize("), 10);
  EXPECT_EQ(Card.Count("HW_GetYV12Image("), 0);
  EXPECT_TRUE(Logged(TakeLogMessages(), "decoderdll 硬件解码抓帧失败2"));

  // So is one reporting a picture of 8,192 bytes or less.
  Feed(3, 2, 0, 1);
  ASSERT_TRUE(WaitUntil([&] { return Card.Query("decoded", 1) >= 1; }));
  Card.SetOption("picture.width", 64);
  Card.SetOption("picture.height", 64);
  Card.ClearJournal();
  EXPECT_EQ(Snap(), -1);
  EXPECT_EQ(Card.Count("HW_GetPictureSize("), 10);
  EXPECT_EQ(Card.Count("HW_GetYV12Image("), 0);
}

TEST_F(DecodeHikHardSnapTest, ACardLibraryThatRaisesEndsTheTries) {
  OpenWithPicture();
  Card.Throw("HW_GetYV12Image", 1);
  EXPECT_EQ(Snap(), -1);
  EXPECT_EQ(Card.Count("HW_GetYV12Image("), 1);
  const auto Log = TakeLogMessages();
  EXPECT_TRUE(Logged(Log, "decoderdll 硬件解码抓帧失败1"));
  EXPECT_TRUE(Logged(Log, "decoderdll 硬件解码抓帧失败2"));
  EXPECT_GT(Snap(), 0);
}

TEST_F(DecodeHikHardSnapTest, APictureWithNowhereToWriteItFailsWithTheThirdLine) {
  OpenWithPicture();
  // The temporary directory moves to a place that does not exist, for this snapshot only.
#ifdef _WIN32
  const char* Names[] = {"TMP", "TEMP"};
#else
  const char* Names[] = {"TMPDIR"};
#endif
  std::vector<std::pair<std::string, bool>> Saved;
  for (const char* Name : Names) {
    const char* Value = std::getenv(Name);
    Saved.emplace_back(Value ? Value : "", Value != nullptr);
    SetEnv(Name, (Root() + "no-such-temp-dir").c_str());
  }
  const std::int32_t Bytes = Snap();
  for (std::size_t i = 0; i < Saved.size(); ++i) SetEnv(Names[i], Saved[i].second ? Saved[i].first.c_str() : nullptr);
  EXPECT_EQ(Bytes, -1);
  EXPECT_EQ(Card.Count("HW_GetYV12Image("), 1);
  EXPECT_TRUE(Logged(TakeLogMessages(), "decoderdll 硬件解码抓帧失败3"));
}

// ---- pauses in real time -------------------------------------------------------------------

TEST_F(DecodeHikHardSnapTest, PausesRunInRealTime) {
  OpenWithPicture();
  Win::Test::SetSleepScale(1.0);
  Card.SetOption("picture.blank", 5);
  auto Begin = std::chrono::steady_clock::now();
  EXPECT_GT(Snap(), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - Begin, std::chrono::milliseconds(50));

  // Starting a card stream: 500 ms for the player, 200 ms for the card to start.
  Begin = std::chrono::steady_clock::now();
  ASSERT_EQ(Open(4, 3), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - Begin, std::chrono::milliseconds(700));
}

}  // namespace
