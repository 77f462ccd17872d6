#include "U_DecodeSHX.h"

#include <cstring>

#include "U_DecodeEngine.h"
#include "U_FileUtils.h"

namespace {
// Snapshot requests of the SHX adapter, one per player number.
TCapBMPTable ShxCapTable;

constexpr int OpeningFrameBytes = 40;
constexpr int AudioFlagOffset = 16;
constexpr std::uint8_t AudioFlag = 3;
}  // namespace

TDecodeSHX::TDecodeSHX() { TDecodeSHX::Create(); }

void TDecodeSHX::Create() {
  TDecodeBase::Create();
  ResetCapTable(ShxCapTable);
}

TDecodeSHX::~TDecodeSHX() {
  UnloadDllFiles();
  for (TStreamSlot& Slot : FSlots) {
    std::lock_guard<std::mutex> Hold(Slot.Lock);
    FreeDraw(Slot.DrawHandle);
    Slot.DrawHandle = 0;
    std::vector<std::uint8_t>().swap(Slot.PicBuf);
  }
  FScreen.reset();
  StopWaveOutput();
  WriteLog("释放");
}

void TDecodeSHX::FreeDraw(std::uint32_t Handle) {
  if (Handle == 0 || !FScreen || !FScreen->FFreeDraw) return;
  auto* Fn = FScreen->FFreeDraw;
  GuardedCall([&] { Fn(Handle); });
}

std::uint32_t TDecodeSHX::InitDraw(std::uint32_t Wnd) {
  if (!FScreen || !FScreen->FInitDraw) return 0;
  std::uint32_t Handle = 0;
  auto* Fn = FScreen->FInitDraw;
  GuardedCall([&] { Handle = Fn(Wnd); });
  return Handle;
}

std::int32_t TDecodeSHX::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  for (TStreamSlot& Slot : FSlots) {
    std::lock_guard<std::mutex> Hold(Slot.Lock);
    std::vector<std::uint8_t>().swap(Slot.PicBuf);
    Slot.DrawHandle = 0;
  }
  if (LoadDecoderLibrary(Dir + "PlayDll\\SHX\\") != 0) return -1;
  FState = 2;
  FScreen = std::make_unique<TDecodeToScreen>(Dir);
  FSpare = 0;
  StartWaveOutput();
  return 0;
}

std::int32_t TDecodeSHX::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) == -1 || Player < 0) return -1;
  if (Player >= SlotCount) {
    // The per-stream tables end at player number 100.
    ReleasePlayer(Head);
    return -1;
  }
  // The opening frame is not decoded; only its first 40 bytes are looked at, and no more than
  // the frame has.
  std::uint8_t Opening[OpeningFrameBytes] = {};
  const std::size_t Have = Data ? std::min<std::size_t>(Head.DataLen, OpeningFrameBytes) : 0;
  if (Have) std::memcpy(Opening, Data, Have);
  FChannelPlayer[Head.Group][Head.Channel] = Player;

  const std::uint32_t Video = CreateDecoder(VideoCodec);
  const std::uint32_t Audio = CreateDecoder(AudioCodec);
  if (Video == 0) {
    // Without a video decoder the stream would take frames and never show one: the open fails
    // and the next frame tries again.
    DestroyDecoder(Audio);
    ReleasePlayer(Head);
    return -1;
  }
  TPlayerInfo& Info = FPlayers[Player];
  TStreamSlot& Slot = FSlots[Player];
  {
    std::lock_guard<std::mutex> Hold(Slot.Lock);
    Info.Port = Video;
    Info.AuxHandle = Audio;
    FreeDraw(Slot.DrawHandle);
    Slot.DrawHandle = InitDraw(Head.Wnd);
    Slot.Width = Slot.Height = -1;
    Slot.FrameCount = 0;
    Slot.PicBuf.assign(PictureBufferBytes, 0);
  }
  Info.OpenState = 2;
  Info.OpenKind = DvrTypeCode;
  Info.Group = Head.Group;
  Info.Wnd = Head.Wnd;
  WriteLog("--------------------" + std::to_string(-1));
  Info.HasAudio = (Have > AudioFlagOffset && Opening[AudioFlagOffset] == AudioFlag) ? 1 : 0;
  return 0;
}

std::int32_t TDecodeSHX::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  const std::int32_t Player = PlayerOf(Head);
  if (Player < 0 || Player >= SlotCount || FPlayers[Player].Port < 0) {
    Win::Sleep(2);
    return -1;
  }
  ReconcileCallBack(Head);
  TChannelState Channel;
  if (TDecodeEngine* Engine = DecodeEngine()) Engine->GetChannelState(Head.Group, Head.Channel, Channel);
  const std::uint8_t Mode = Channel.CallBackState;

  TPlayerInfo Info;
  GetPlayerInfo(Head, Info);
  if (Head.FrameType == ZORV_FRAME_AUDIO) {
    TStreamSlot& Slot = FSlots[Player];
    std::lock_guard<std::mutex> Hold(Slot.Lock);
    if (!Slot.PicBuf.empty())
      DecodeFrame(static_cast<std::uint32_t>(Info.AuxHandle.Get()), Data, Head.DataLen, Slot.PicBuf.data());
    Win::Sleep(1);
    return 0;
  }
  DecodeVideo(Head, Player, Info, Data, Mode);
  return 0;
}

void TDecodeSHX::DecodeVideo(TFrameHead& Head, std::int32_t Player, const TPlayerInfo& Info,
                             const std::uint8_t* Data, std::uint8_t Mode) {
  TStreamSlot& Slot = FSlots[Player];
  std::unique_lock<std::mutex> Hold(Slot.Lock);
  const auto Port = static_cast<std::uint32_t>(Info.Port.Get());
  const std::int32_t Result =
      Slot.PicBuf.empty() ? -1 : DecodeFrame(Port, Data, Head.DataLen, Slot.PicBuf.data());
  if (Result < 0) {
    Hold.unlock();
    Win::Sleep(2);
    return;
  }
  ++Slot.FrameCount;
  if (Slot.Width == -1 && Slot.Height == -1) AskPictureSize(Port, Slot.Width, Slot.Height);
  // A picture the buffer cannot hold is not read from it: nothing is saved, called back or drawn.
  if (!SHXPictureFits(Slot.Width, Slot.Height, Slot.PicBuf.size())) return;
  const std::int32_t Width = Slot.Width, Height = Slot.Height;
  const std::uint8_t* Picture = Slot.PicBuf.data();

  if (ServeSnapshot(ShxCapTable[Player], Picture, Width, Height)) Win::Sleep(10);

  if (Mode == 1) {
    Hold.unlock();
    Win::Sleep(1);
    return;
  }
  if (Mode == 2) {
    DeliverToChannel(DvrTypeCode, Head.Group, Head.Channel, Picture,
                     static_cast<std::uint32_t>(Width * Height * 3 / 2), Width, Height);
    return;
  }
  if (FScreen && FScreen->FDrawPic && Slot.DrawHandle != 0) {
    auto* Draw = FScreen->FDrawPic;
    const std::uint32_t Handle = Slot.DrawHandle;
    GuardedCall([&] { Draw(Handle, Picture, Result, Width, Height, 0, 0); });
  }
}

std::int32_t TDecodeSHX::StopSound(TFrameHead& Head) {
  if (FWaveOut) FWaveOut->Close();
  return DoStopSound(Head, [](TPlayerInfo&) {});
}

std::int32_t TDecodeSHX::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  const std::int32_t Player = PlayerOf(Head);
  if (Player < 0 || Player >= SlotCount || FPlayers[Player].Port < 0) return -1;
  return SnapThroughTempFile(ShxCapTable[Player], Size, Buffer);
}

std::int32_t TDecodeSHX::CloseStream(TFrameHead& Head) {
  const std::int32_t Player = PlayerOf(Head);
  if (Player < 0 || Player >= SlotCount || FPlayers[Player].Port < 0) return -1;
  if (ClearBuffer(Head) == -1) return -1;
  TPlayerInfo Info;
  GetPlayerInfo(Head, Info);
  TStreamSlot& Slot = FSlots[Player];
  {
    std::lock_guard<std::mutex> HoldSlot(Slot.Lock);
    DestroyDecoder(static_cast<std::uint32_t>(Info.Port.Get()));
    DestroyDecoder(static_cast<std::uint32_t>(Info.AuxHandle.Get()));
    // Frames decode only into a buffer: without it, a frame that comes in during the pause
    // below does not reach the decoders just destroyed.
    std::vector<std::uint8_t>().swap(Slot.PicBuf);
  }
  Win::Sleep(100);
  {
    TLockGuard Hold(FLock);
    std::lock_guard<std::mutex> HoldSlot(Slot.Lock);
    FPlayers[Player].Clear();
    FChannelPlayer[Head.Group][Head.Channel] = -1;
    FreeDraw(Slot.DrawHandle);
    Slot.DrawHandle = 0;
    std::vector<std::uint8_t>().swap(Slot.PicBuf);
  }
  return TDecodeBase::CloseStream(Head);
}
