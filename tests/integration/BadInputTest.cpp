// Bad input through every export, one table per export (or family of exports): impossible
// lengths, null pointers, channels outside the tables, channels never opened or already closed,
// pictures of impossible sizes from a vendor library, snapshot paths that cannot be written,
// calls out of order and twice. Every row states its result, and that nothing changes in the
// engine's channel states and the adapters' player tables unless the row allows it.
//
// The library runs over the test tree: the stand-in Hikvision player (type 1) with a stream
// open on (1, 7) and on PlayM4 port 5, and the MPEG-4 decoder (type 13) with a stream on (2, 3).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Mp4Samples.h"
#include "Platform.h"
#include "PrivateTempDir.h"
#include "SnapTempFiles.h"
#include "SpineTestAdapter.h"
#include "StandinClient.h"
#include "U_DecodeEngine.h"
#include "ZorvDecoder.h"
#include "ZorvSurface.h"
#include "ZrvStream.h"

namespace {

const std::string kRoot = std::string(ZORV_TESTROOT) + "/";
const std::string kHikFile = kRoot + "PlayDll\\HIK\\HikPlayM4.dll";
constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr std::uint32_t kHuge[] = {1, 0x7FFFFFFFu, 0xFFFFFFFFu};

std::mutex gLock;
std::vector<TDecFrameInfo> gPictures;

void ZORV_STDCALL OnPicture(std::uint32_t, TDecFrameInfo Info, const std::uint8_t* Picture) {
  // Every byte the record announces is read, as a host does.
  std::uint32_t Sum = 0;
  for (std::uint32_t i = 0; i < Info.Size; ++i) Sum += Picture[i];
  std::lock_guard<std::mutex> Hold(gLock);
  gPictures.push_back(Info);
  (void)Sum;
}

void ZORV_STDCALL OnPlayM4Picture(std::int32_t, const std::uint8_t*, std::int32_t, const void*, std::int32_t,
                                  std::int32_t) {}

std::size_t PictureCount() {
  std::lock_guard<std::mutex> Hold(gLock);
  return gPictures.size();
}

bool WaitFor(const std::function<bool()>& Done, int Ms = 5000) {
  for (int i = 0; i < Ms; ++i) {
    if (Done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return Done();
}

TFrameHead At(std::uint8_t Group, std::uint32_t Channel, std::uint8_t FrameType, std::uint8_t DvrType,
              std::uint32_t DataLen = 0) {
  TFrameHead Head;
  std::memset(&Head, 0, sizeof Head);
  Head.Group = Group;
  Head.Channel = Channel;
  Head.FrameType = FrameType;
  Head.DvrType = DvrType;
  Head.DataLen = DataLen;
  Head.DecodeMode = 2;
  return Head;
}

TFrameHeadH3 H3Of(const TFrameHead& Head) {
  TFrameHeadH3 H3;
  std::memset(&H3, 0, sizeof H3);
  H3.Channel = Head.Channel;
  H3.DataLen = Head.DataLen;
  H3.FrameType = Head.FrameType;
  H3.DvrType = Head.DvrType;
  H3.Group = Head.Group;
  H3.DecodeMode = Head.DecodeMode;
  const std::uint16_t Stamp[8] = {2010, 3, 5, 4, 12, 0, 0, 0};
  std::memcpy(H3.FrameStamp, Stamp, sizeof Stamp);
  return H3;
}

std::string TempPath(const std::string& Name) {
  char Dir[Win::MAX_PATH + 1] = {};
  Win::GetTempPathA(Win::MAX_PATH, Dir);
  return std::string(Dir) + Name;
}

// Everything a bad call could disturb: each channel's state and callbacks, and each adapter's
// load state, channel map and player entries.
std::vector<std::int64_t> Fingerprint() {
  std::vector<std::int64_t> F;
  TDecodeEngine* Engine = DecodeEngine();
  F.push_back(Engine != nullptr);
  if (!Engine) return F;
  for (int Group = 0; Group < GroupCount; ++Group)
    for (int Channel = 0; Channel < ChannelsPerGroup; ++Channel) {
      TChannelState S;
      Engine->GetChannelState(Group, Channel, S);
      F.insert(F.end(), {S.DvrType, S.SoundState, S.CallBackState, static_cast<std::int64_t>(S.Wnd),
                         static_cast<std::int64_t>(Engine->GetCallBack(Group, Channel)),
                         static_cast<std::int64_t>(Engine->GetDecCallBack(Group, Channel))});
    }
  for (int Type = 0; Type < DvrTypeSlots; ++Type) {
    const TDecodeBase* A = Engine->Decoder(Type);
    if (!A) continue;
    F.push_back(A->State());
    for (int Group = 0; Group < GroupCount; ++Group)
      for (int Channel = 0; Channel < ChannelsPerGroup; ++Channel) F.push_back(A->ChannelPlayer(Group, Channel));
    for (int i = 0; i < PlayerCount; ++i) {
      const TPlayerInfo& P = A->PlayerAt(i);
      F.insert(F.end(), {P.Port.Get(), P.Channel.Get(), P.Group.Get(), P.CallBackState.Get(), P.SoundState.Get()});
    }
  }
  return F;
}

// One row: the call, the result it must give, and whether it may change state or reach the
// player library.
struct TRow {
  std::string Name;
  std::function<std::int64_t()> Call;
  std::int64_t Expected;
  bool MayChangeState = false;
  bool MayReachVendor = false;
};

class BadInput : public testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> Hold(gLock);
      gPictures.clear();
    }
    ASSERT_TRUE(Hik.Loaded());
    Hik.Reset();
    Hik.SetOption("display.refreshms", 1);
    Wnd = zorv_surface_create(0, 0, kWidth, kHeight);
    ASSERT_TRUE(LoadMp4Sample("cif", Mp4));
    ASSERT_EQ(Tarn_Decode_Initialize(0, kRoot.c_str(), 1), 0);

    zrv::StreamParams P;
    P.width = kWidth;
    P.height = kHeight;
    Stream = zrv::MakeSyntheticStream(P, 4);
    TFrameHead Head = HikHead(ZORV_FRAME_FILEHEAD, Stream.head.size());
    ASSERT_EQ(Tarn_Decode_AddFrame(Head, Stream.head.data()), 0);
    ASSERT_EQ(Tarn_Decode_StartCallBack(Head, OnPicture), 0);
    for (const zrv::Frame& F : Stream.frames)
      ASSERT_EQ(Tarn_Decode_AddFrame(HikHead(F.frameType, F.bytes.size()), F.bytes.data()), 0);
    ASSERT_TRUE(WaitFor([] { return PictureCount() >= 4; }));

    const TMp4Unit& Config = Mp4.Units[0];
    ASSERT_EQ(Tarn_Decode_AddFrame(Mp4Head(2, 3, Wnd, ZORV_FRAME_FILEHEAD, Config.Length), Mp4.Data(Config)), 0);
    for (int i = 1; i <= 3; ++i) {
      const TMp4Unit& U = Mp4.Units[i];
      ASSERT_EQ(Tarn_Decode_AddFrame(Mp4Head(2, 3, Wnd, TMp4Sample::FrameTypeOf(U.Kind), U.Length), Mp4.Data(U)), 0);
    }

    ASSERT_EQ(PlayM4_OpenStream(5, 1, Stream.head.data(), static_cast<std::uint32_t>(Stream.head.size()), 0), 1);
    ASSERT_EQ(PlayM4_Play(5, Wnd), 1);
    for (zrv::Frame& F : Stream.frames)
      ASSERT_EQ(PlayM4_InputData(5, F.bytes.data(), static_cast<std::uint32_t>(F.bytes.size())), 1);
    ASSERT_TRUE(WaitFor([&] { return Hik.Query("displayed", 1) >= 1; }));
    TempFilesBefore = SnapTempFiles();
  }

  void TearDown() override {
    Tarn_Decode_ShutDown();
    EXPECT_EQ(SnapTempFiles(), TempFilesBefore) << "a snapshot left a temporary file behind";
    Hik.Reset();
    zorv_surface_destroy(Wnd);
    Win::Test::SetSleepScale(0.01);
  }

  TFrameHead HikHead(std::uint8_t FrameType, std::size_t Length) const {
    TFrameHead H = At(1, 7, FrameType, 1, static_cast<std::uint32_t>(Length));
    H.Wnd = Wnd;
    return H;
  }

  void Run(const std::vector<TRow>& Rows) {
    for (const TRow& Row : Rows) {
      SCOPED_TRACE(Row.Name);
      const std::vector<std::int64_t> Before = Fingerprint();
      const int VendorBefore = Hik.Count("Hik_PlayM4_");
      EXPECT_EQ(Row.Call(), Row.Expected);
      if (!Row.MayChangeState) {
        EXPECT_TRUE(Fingerprint() == Before) << "the row changed the tables";
      }
      if (!Row.MayReachVendor) {
        EXPECT_EQ(Hik.Count("Hik_PlayM4_"), VendorBefore) << "the row reached the player library";
      }
    }
  }

  TPrivateTempDir Temp;  // snapshot files of this test only, apart from other programs'
  StandinClient Hik{kHikFile};
  std::uint32_t Wnd = 0;
  TMp4Sample Mp4;
  zrv::SyntheticStream Stream;
  std::set<std::string> TempFilesBefore;
  std::uint8_t Data[64] = {};
};

// Heads that name no display channel of the tables.
std::vector<std::pair<std::string, TFrameHead>> OutsideHeads(std::uint8_t FrameType) {
  return {{"group 255", At(255, 7, FrameType, 1, 4)},
          {"channel 65535", At(1, 65535, FrameType, 1, 4)},
          {"group 5", At(5, 0, FrameType, 13, 4)},
          {"channel 100", At(0, 100, FrameType, 13, 4)}};
}

TEST_F(BadInput, AddFrame) {
  std::vector<TRow> Rows;
  for (std::uint8_t Type : {std::uint8_t{ZORV_FRAME_FILEHEAD}, std::uint8_t{ZORV_FRAME_P}}) {
    const std::string T = Type == 1 ? "file head" : "P frame";
    for (std::uint32_t Length : kHuge) {
      Rows.push_back({T + ": null data, DataLen " + std::to_string(Length),
                      [=, this] { return Tarn_Decode_AddFrame(HikHead(Type, Length), nullptr); }, -1});
      Rows.push_back({T + ": null data, DataLen " + std::to_string(Length) + ", MPEG-4",
                      [=] { return Tarn_Decode_AddFrame(Mp4Head(2, 3, 0, Type, Length), nullptr); }, -1});
    }
    for (auto& [Name, Head] : OutsideHeads(Type)) {
      TFrameHead H = Head;
      Rows.push_back({T + ": " + Name, [=, this] { return Tarn_Decode_AddFrame(H, Data); }, -1});
    }
  }
  for (std::uint8_t FrameType : {0, 8, 255}) {
    Rows.push_back({"frame type " + std::to_string(FrameType),
                    [=, this] { return Tarn_Decode_AddFrame(HikHead(FrameType, 4), Data); }, -1});
  }
  for (std::uint8_t DvrType : {0, 11, 23, 26, 27, 200}) {
    Rows.push_back({"DVR type " + std::to_string(DvrType) + " (no adapter), file head on a free channel",
                    [=, this] { return Tarn_Decode_AddFrame(At(0, 50, 1, DvrType, 4), Data); }, -1});
  }
  // Data for channels without a stream of the types that open only on a file head: dropped
  // with 0; the channel's type is recorded (the row may change that).
  Rows.push_back({"P frame, Hikvision, channel never opened",
                  [this] { return Tarn_Decode_AddFrame(At(0, 42, ZORV_FRAME_P, 1, 4), Data); }, 0, true});
  Rows.push_back({"P frame, MPEG-4, channel never opened",
                  [this] { return Tarn_Decode_AddFrame(At(0, 43, ZORV_FRAME_P, 13, 4), Data); }, 0, true});
  // Empty frames for the open streams: taken, nothing to decode.
  Rows.push_back({"DataLen 0, null data, open Hikvision stream",
                  [this] { return Tarn_Decode_AddFrame(HikHead(ZORV_FRAME_P, 0), nullptr); }, 0, false, true});
  Rows.push_back({"DataLen 0, null data, open MPEG-4 stream",
                  [this] { return Tarn_Decode_AddFrame(Mp4Head(2, 3, Wnd, ZORV_FRAME_P, 0), nullptr); }, 0});
  Rows.push_back({"DataLen 1, open MPEG-4 stream",
                  [this] { return Tarn_Decode_AddFrame(Mp4Head(2, 3, Wnd, ZORV_FRAME_P, 1), Data); }, 0});
  Run(Rows);

  // Streams on a closed channel: the frames are dropped, the close does not come back.
  ASSERT_EQ(Tarn_Decode_CloseOneChannel(Mp4Head(2, 3, 0, 0, 0)), 0);
  const TMp4Unit& I = Mp4.Units[1];
  Run({{"I frame, MPEG-4, closed channel",
        [&] { return Tarn_Decode_AddFrame(Mp4Head(2, 3, Wnd, ZORV_FRAME_I, I.Length), Mp4.Data(I)); }, 0, true}});
  EXPECT_EQ(DecodeEngine()->Decoder(13)->ChannelPlayer(2, 3), -1) << "a data frame never opens an MPEG-4 stream";
}

TEST_F(BadInput, AddFrameH3) {
  std::vector<TRow> Rows;
  for (std::uint32_t Length : kHuge) {
    TFrameHeadH3 H3 = H3Of(HikHead(ZORV_FRAME_P, Length));
    Rows.push_back({"null data, DataLen " + std::to_string(Length), [=] { return Tarn_Decode_AddFrameH3(H3, nullptr); }, -1});
  }
  for (auto& [Name, Head] : OutsideHeads(ZORV_FRAME_FILEHEAD)) {
    TFrameHeadH3 H3 = H3Of(Head);
    Rows.push_back({Name, [=, this] { return Tarn_Decode_AddFrameH3(H3, Data); }, -1});
  }
  TFrameHeadH3 BadDate = H3Of(Mp4Head(2, 3, Wnd, ZORV_FRAME_P, 1));
  for (std::uint16_t& Word : BadDate.FrameStamp) Word = 0xFFFF;
  Rows.push_back({"impossible date on an open stream", [=, this] { return Tarn_Decode_AddFrameH3(BadDate, Data); }, 0});
  Run(Rows);
}

TEST_F(BadInput, ChannelControls) {
  // Each control export against heads naming no channel, a channel never opened and, below, a
  // channel already closed.
  struct TExport {
    std::string Name;
    std::function<std::int32_t(const TFrameHead&)> Call;
    std::int32_t Outside;   // outside the tables
    std::int32_t NoStream;  // channel without a stream
    bool MayChange;         // sound and callback wishes are kept for a channel without a stream
  };
  const std::vector<TExport> Exports = {
      {"ClearBuffer", [](const TFrameHead& H) { return Tarn_Decode_ClearBuffer(H); }, -1, -1, false},
      {"ClearBufferH3", [](const TFrameHead& H) { return Tarn_Decode_ClearBufferH3(H3Of(H)); }, -1, -1, false},
      {"RefrushWindow", [](const TFrameHead& H) { return Tarn_Decode_RefrushWindow(H); }, -1, -1, false},
      {"RefrushWindowH3", [](const TFrameHead& H) { return Tarn_Decode_RefrushWindowH3(H3Of(H)); }, -1, -1, false},
      {"ResetDisplay", [](const TFrameHead& H) { return Tarn_Decode_ResetDisplay(H, 3); }, -1, -1, false},
      {"PlaySound", [](const TFrameHead& H) { return Tarn_Decode_PlaySound(H); }, -1, 0, true},
      {"PlaySoundH3", [](const TFrameHead& H) { return Tarn_Decode_PlaySoundH3(H3Of(H)); }, -1, 0, true},
      {"StopSound", [](const TFrameHead& H) { return Tarn_Decode_StopSound(H); }, -1, 0, true},
      {"StopSoundH3", [](const TFrameHead& H) { return Tarn_Decode_StopSoundH3(H3Of(H)); }, -1, 0, true},
      {"StartCallBack", [](const TFrameHead& H) { return Tarn_Decode_StartCallBack(H, OnPicture); }, -1, 0, true},
      {"StartCallBack nil", [](const TFrameHead& H) { return Tarn_Decode_StartCallBack(H, nullptr); }, -1, 0, true},
      {"StartCallBackH3", [](const TFrameHead& H) { return Tarn_Decode_StartCallBackH3(H3Of(H), OnPicture); }, -1, 0, true},
      {"StopCallBack", [](const TFrameHead& H) { return Tarn_Decode_StopCallBack(H); }, -1, -1, true},
      {"StopCallBackH3", [](const TFrameHead& H) { return Tarn_Decode_StopCallBackH3(H3Of(H)); }, -1, -1, true},
      {"CloseOneChannel", [](const TFrameHead& H) { return Tarn_Decode_CloseOneChannel(H); }, -1, -1, true},
      {"CloseOneChannelH3", [](const TFrameHead& H) { return Tarn_Decode_CloseOneChannelH3(H3Of(H)); }, -1, -1, true},
      {"StartAviRecord", [](const TFrameHead& H) { return Tarn_Decode_StartAviRecord(H, 0); }, -1, -1, false},
      {"StopAviRecord", [](const TFrameHead& H) { return Tarn_Decode_StopAviRecord(H); }, -1, -1, false},
      {"Pause", [](const TFrameHead& H) { return Tarn_Decode_Pause(&H, 1); }, -1, -1, false},
      {"SetPlayMode", [](const TFrameHead& H) { return Tarn_Decode_SetPlayMode(H, 1); }, -1, -1, false},
  };
  std::vector<TRow> Rows;
  for (const TExport& E : Exports) {
    for (auto& [Name, Head] : OutsideHeads(0)) {
      TFrameHead H = Head;
      Rows.push_back({E.Name + ", " + Name, [=] { return E.Call(H); }, E.Outside});
    }
    const TFrameHead Free = At(3, 60, 0, 1);
    Rows.push_back({E.Name + ", channel never opened", [=] { return E.Call(Free); }, E.NoStream, E.MayChange});
  }
  Rows.push_back({"Pause, null head", [] { return Tarn_Decode_Pause(nullptr, 1); }, -1});
  Run(Rows);

  // The same calls on a channel closed a moment ago, twice each.
  ASSERT_EQ(Tarn_Decode_CloseOneChannel(HikHead(0, 0)), 0);
  Rows.clear();
  for (const TExport& E : Exports)
    for (int Round = 1; Round <= 2; ++Round)
      Rows.push_back({E.Name + ", closed channel, call " + std::to_string(Round), [=, this] { return E.Call(HikHead(0, 0)); },
                      E.NoStream, E.MayChange});
  Run(Rows);
}

TEST_F(BadInput, SnapPicture) {
  static std::uint8_t Bmp[54 + kWidth * kHeight * 3];
  std::uint8_t* Memory = Bmp;
  std::uint8_t* NoMemory = nullptr;
  std::int32_t Size[2] = {};
  const TFrameHead Hik = HikHead(0, 0);
  const TFrameHead Mp4Channel = Mp4Head(2, 3, 0, 0, 0);
  std::vector<TRow> Rows;
  for (auto [Name, Head] : std::vector<std::pair<std::string, TFrameHead>>{{"Hikvision", Hik}, {"MPEG-4", Mp4Channel}}) {
    Rows.push_back({Name + ": null buffer pointer", [Head, &Size] { return Tarn_Decode_SnapPicture(Head, Size, nullptr); }, -1, false, true});
    Rows.push_back({Name + ": null buffer", [Head, &Size, &NoMemory] { return Tarn_Decode_SnapPicture(Head, Size, &NoMemory); }, -1, false, true});
  }
  for (auto& [Name, Head] : OutsideHeads(0)) {
    TFrameHead H = Head;
    Rows.push_back({Name, [H, &Memory, &Size] { return Tarn_Decode_SnapPicture(H, Size, &Memory); }, -1});
    Rows.push_back({Name + ", H3", [H, &Memory, &Size] { return Tarn_Decode_SnapPictureH3(H3Of(H), Size, &Memory); }, -1});
  }
  Rows.push_back({"channel never opened", [&] { return Tarn_Decode_SnapPicture(At(0, 61, 0, 1), Size, &Memory); }, -1});
  Run(Rows);
  // A null size pointer still gets the image; the image fits the caller's memory.
  EXPECT_EQ(Tarn_Decode_SnapPicture(Hik, nullptr, &Memory), static_cast<std::int32_t>(sizeof Bmp));
  EXPECT_EQ(Memory, Bmp);
  EXPECT_EQ(Bmp[0], 'B');
}

TEST_F(BadInput, CardExports) {
  // No card answers (NoHardware): every slot, in range or not, refuses without touching anything.
  std::int32_t A = 0, B = 0;
  std::vector<TRow> Rows;
  for (std::uint8_t Slot : {0, 1, 3, 5, 255}) {
    TFrameHead Head = HikHead(0, 0);
    Head.HardIndex = Slot;
    Head.DecodeMode = 1;
    Head.HardChannel = 0xFFFFFFFFu;
    const std::string S = "slot " + std::to_string(Slot);
    if (Slot != 1 && Slot != 3) {
      Rows.push_back({"SetDecoderVideoExtOutput, " + S,
                      [=] { return Tarn_Decode_SetDecoderVideoExtOutput(Head, -1, -1, 255, -1, -1, -1); }, -1});
      Rows.push_back({"SetDisplayRegion, " + S, [=] { return Tarn_Decode_SetDisplayRegion(Head, -1, -1, nullptr, -1); }, -1});
    }
    Rows.push_back({"OutParm, null pointers, " + S, [=] { return Tarn_Decode_OutParm(Slot, nullptr, nullptr); }, -1});
    if (Slot >= 5)
      Rows.push_back({"OutParm, " + S, [=, &A, &B] { return Tarn_Decode_OutParm(Slot, &A, &B); }, -1});
    // A hardware head for a card that has no channels goes the software way.
    Rows.push_back({"hardware P frame, " + S, [=, this] {
                      TFrameHead H = Head;
                      H.FrameType = ZORV_FRAME_P;
                      H.DataLen = 4;
                      return Tarn_Decode_AddFrame(H, Data);
                    },
                    0, false, true});
  }
  Rows.push_back({"InitHardHandle", [] { return Tarn_Decode_InitHardHandle(-1); }, 0});
  Run(Rows);
}

TEST_F(BadInput, LifeCycleOutOfOrderAndTwice) {
  const TFrameHead Hik = HikHead(0, 0);
  Run({
      {"Initialize again, other directory", [] { return Tarn_Decode_Initialize(9, "nowhere\\", 0); }, 0},
      {"Initialize again, null directory", [] { return Tarn_Decode_InitializeH3(nullptr, 1); }, 0},
      {"StartCallBack twice keeps the first", [=] { return Tarn_Decode_StartCallBack(Hik, OnPicture); }, 0},
      {"CloseOneChannel", [=] { return Tarn_Decode_CloseOneChannel(Hik); }, 0, true, true},
      {"CloseOneChannel twice", [=] { return Tarn_Decode_CloseOneChannel(Hik); }, -1},
      {"StopCallBack after close", [=] { return Tarn_Decode_StopCallBack(Hik); }, -1},
      {"P frame after close", [=, this] { return Tarn_Decode_AddFrame(HikHead(ZORV_FRAME_P, 4), Data); }, 0, true},
      {"ShutDown", [] { return Tarn_Decode_ShutDown(); }, 0, true, true},
      {"ShutDown twice", [] { return Tarn_Decode_ShutDownH3(); }, 0},
      {"AddFrame after ShutDown", [=, this] { return Tarn_Decode_AddFrame(HikHead(ZORV_FRAME_FILEHEAD, 40), Stream.head.data()); }, -1},
      {"CloseOneChannel after ShutDown", [=] { return Tarn_Decode_CloseOneChannel(Hik); }, -1},
      {"InitHardHandle after ShutDown", [] { return Tarn_Decode_InitHardHandle(0); }, -1},
      {"PlayM4_InputData after ShutDown", [this] { return PlayM4_InputData(5, Data, 4); }, 0},
  });

  // A directory with no vendor library at all, and one longer than any path: the engine comes
  // up, and every frame of a type whose library is missing is refused.
  const std::string Long = std::string(400, 'x') + "\\";
  for (const char* Dir : {static_cast<const char*>(nullptr), "", Long.c_str()}) {
    SCOPED_TRACE("directory " + std::string(Dir ? Dir : "(null)"));
    ASSERT_EQ(Tarn_Decode_Initialize(0, Dir, 1), 0);
    EXPECT_EQ(Tarn_Decode_AddFrame(HikHead(ZORV_FRAME_FILEHEAD, Stream.head.size()), Stream.head.data()), -1);
    EXPECT_EQ(DecodeEngine()->Decoder(1)->State(), 0);
    EXPECT_EQ(Tarn_Decode_ShutDown(), 0);
  }
}

TEST_F(BadInput, PlayM4) {
  std::int32_t B = 0, C = 0, S = 0, H = 0;
  std::vector<TRow> Rows;
  // Ports that name no channel of group 4: the values a missing engine gives.
  for (std::int32_t Port : {-1, 100, 255, 65535, INT32_MIN}) {
    const std::string P = "port " + std::to_string(Port);
    Rows.push_back({"OpenStream, " + P, [=, this] { return PlayM4_OpenStream(Port, 1, Stream.head.data(), 40, 0); }, 0});
    Rows.push_back({"InputData, " + P, [=, this] { return PlayM4_InputData(Port, Data, 4); }, 0});
    Rows.push_back({"Play, " + P, [=, this] { return PlayM4_Play(Port, Wnd); }, 0});
    Rows.push_back({"Stop, " + P, [=] { return PlayM4_Stop(Port); }, 0});
    Rows.push_back({"CloseStream, " + P, [=] { return PlayM4_CloseStream(Port); }, 0});
    Rows.push_back({"SetDecCallBack, " + P, [=] { return PlayM4_SetDecCallBack(Port, OnPlayM4Picture); }, 0});
    Rows.push_back({"SetVolume, " + P, [=] { return PlayM4_SetVolume(Port, 9); }, 1});
    Rows.push_back({"SetColor, " + P, [=] { return PlayM4_SetColor(Port, 0, 1, 2, 3, 4); }, -1});
    Rows.push_back({"GetColor, " + P, [=, &B, &C, &S, &H] { return PlayM4_GetColor(Port, 0, &B, &C, &S, &H); }, -1});
    Rows.push_back({"SnapPicture, " + P, [=] { return PlayM4_SnapPicture(Port, "x.bmp"); }, 0});
    Rows.push_back({"GetPlayPos, " + P, [=] { return static_cast<std::int64_t>(PlayM4_GetPlayPos(Port) * 1000); }, 0});
    Rows.push_back({"GetPlayedFrames, " + P, [=] { return PlayM4_GetPlayedFrames(Port); }, 0});
  }
  // Null and impossible arguments on the open port 5 and on a port without a stream.
  const std::string Missing = TempPath("zorv-no-such-stream.zrv");
  Rows.push_back({"OpenStream, null header with a length", [] { return PlayM4_OpenStream(6, 1, nullptr, 40, 0); }, 0});
  for (std::uint32_t Length : kHuge)
    Rows.push_back({"InputData, null buffer, length " + std::to_string(Length), [=] { return PlayM4_InputData(5, nullptr, Length); }, 0});
  Rows.push_back({"OpenStream, DVR type without adapter", [this] { return PlayM4_OpenStream(6, 11, Stream.head.data(), 40, 0); }, 0});
  Rows.push_back({"SetDecCallBack nil, no callback running", [] { return PlayM4_SetDecCallBack(5, nullptr); }, 0});
  Rows.push_back({"GetColor, null pointers", [] { return PlayM4_GetColor(5, 0, nullptr, nullptr, nullptr, nullptr); }, 0, false, true});
  Rows.push_back({"GetColor, region 255", [&] { return PlayM4_GetColor(5, 255, &B, &C, &S, &H); }, 0, false, true});
  Rows.push_back({"OpenFile, null name", [] { return PlayM4_OpenFile(6, 1, nullptr); }, 0});
  Rows.push_back({"OpenFile, missing file", [=] { return PlayM4_OpenFile(6, 1, Missing.c_str()); }, 0});
  const std::string TooLong = TempPath(std::string(300, 'n') + ".zrv");
  Rows.push_back({"OpenFile, name longer than any path", [=] { return PlayM4_OpenFile(6, 1, TooLong.c_str()); }, 0});
  Rows.push_back({"CloseFile, no file", [] { return PlayM4_CloseFile(6); }, 0});
  Rows.push_back({"Pause, no stream", [] { return PlayM4_Pause(6, 1); }, 0});
  Rows.push_back({"SetPlayedTimeEx, no stream", [] { return PlayM4_SetPlayedTimeEx(6, -1); }, 0});
  Run(Rows);

  // Out of order and twice: stop, then close, then close again; input after the close.
  Run({{"Stop", [] { return PlayM4_Stop(5); }, 1, true, true},
       {"Stop twice", [] { return PlayM4_Stop(5); }, 0},
       {"CloseStream after Stop", [] { return PlayM4_CloseStream(5); }, 0},
       // The closed port has no recorded type left to send the block to: refused, nothing opens.
       {"InputData after close", [this] { return PlayM4_InputData(5, Data, 4); }, 0},
       {"SetDecCallBack nil after close", [] { return PlayM4_SetDecCallBack(5, nullptr); }, 0}});
}

TEST_F(BadInput, PlayM4SnapshotPaths) {
  // Snapshots wait for the player's next picture: this test runs in real time.
  Win::Test::SetSleepScale(1.0);
  const std::string Good = TempPath("zorv-badinput-port5.bmp");
  const std::string NoDir = TempPath("zorv-no-such-dir/sub/shot.bmp");
  const std::string TooLong = TempPath(std::string(300, 's') + ".bmp");
  Win::DeleteFileA(Good.c_str());
  Run({{"missing name", [] { return PlayM4_SnapPicture(5, nullptr); }, 0},
       {"empty name", [] { return PlayM4_SnapPicture(5, ""); }, 0, false, true},
       {"directory that does not exist", [&] { return PlayM4_SnapPicture(5, NoDir.c_str()); }, 0, false, true},
       {"name longer than any path", [&] { return PlayM4_SnapPicture(5, TooLong.c_str()); }, 0, false, true},
       {"port without a stream", [&] { return PlayM4_SnapPicture(6, Good.c_str()); }, 0},
       {"a good name still works", [&] { return PlayM4_SnapPicture(5, Good.c_str()); }, 1, false, true}});
  EXPECT_TRUE(Win::FileExists(Good.c_str()));
  Win::DeleteFileA(Good.c_str());
}

TEST_F(BadInput, PicturesOfImpossibleSizesFromThePlayer) {
  // The stand-in reports the given size for the picture it holds (176 x 144, 38,016 bytes).
  struct TSize {
    std::int64_t Width, Height;
    bool Delivered;
  };
  const TSize Sizes[] = {
      {1, 1, false},           // width x height / 4 = 0
      {3, 1, false},
      {kWidth - 1, kHeight - 1, true},  // odd: fits the buffer
      {kWidth, kHeight + 2, false},     // one picture row more than the buffer holds
      {4096, 4096, false},
      {65536, 65536, false},             // w x h x 3/2 overflows 32 bits
      {0x7FFFFFFF, 2, false},
      {-2, 4, false},
      {-176, -144, false},               // negative twice: the product looks like a picture
      {-1, -1, false},
  };
  for (const TSize& Z : Sizes) {
    SCOPED_TRACE(std::to_string(Z.Width) + " x " + std::to_string(Z.Height));
    const std::size_t Before = PictureCount();
    const std::vector<std::int64_t> Tables = Fingerprint();
    EXPECT_EQ(Hik.Fire("decode", 0, Z.Width, Z.Height), 0);
    EXPECT_EQ(PictureCount(), Before + (Z.Delivered ? 1 : 0));
    EXPECT_TRUE(Fingerprint() == Tables);
  }
  std::lock_guard<std::mutex> Hold(gLock);
  for (const TDecFrameInfo& Info : gPictures) {
    EXPECT_GT(Info.Width, 0u);
    EXPECT_GT(Info.Height, 0u);
    EXPECT_LE(static_cast<std::uint64_t>(Info.Width) * Info.Height * 3 / 2, Info.Size);
  }
}

TEST(BadInputAdapters, EmptyPicturesNeverReachTheHost) {
  // 0 x 0 and 1 x 1 pictures through the shared delivery of a registered adapter.
  TSpineRig Rig;
  Rig.UseSoftware(20);
  ASSERT_EQ(Tarn_Decode_Initialize(0, Rig.LibDir().c_str(), 1), 0);
  const std::uint8_t Head[4] = {};
  TFrameHead H = At(0, 9, ZORV_FRAME_FILEHEAD, 20, 4);
  ASSERT_EQ(Tarn_Decode_AddFrame(H, Head), 0);
  ASSERT_EQ(Tarn_Decode_StartCallBack(H, OnPicture), 0);
  H.FrameType = ZORV_FRAME_P;
  ASSERT_EQ(Tarn_Decode_AddFrame(H, Head), 0);
  {
    std::lock_guard<std::mutex> Hold(gLock);
    gPictures.clear();
  }
  TTestAdapter* A = TSpineRig::Adapter(20);
  const std::int64_t Port = TTestAdapter::PortBase + A->ChannelPlayer(0, 9);
  const std::uint64_t Slept = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_FALSE(A->EmitPicture(Port, 0, 0));
  EXPECT_FALSE(A->EmitPicture(Port, 1, 1));
  EXPECT_FALSE(A->EmitPicture(Port, 1, 3));
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Slept, 3u) << "1 ms for each skipped picture";
  EXPECT_TRUE(A->EmitPicture(Port, 3, 3));  // odd, but a picture
  EXPECT_EQ(PictureCount(), 1u);
}

}  // namespace
