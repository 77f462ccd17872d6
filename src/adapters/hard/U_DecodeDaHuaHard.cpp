#include "U_DecodeDaHuaHard.h"

#include "U_CardSnapshot.h"
#include "U_Log.h"

namespace {

// The card library's folder below the host directory; the host directory is taken as it
// comes (it ends with a separator, so the path carries a doubled one, which every loader takes).
const char* const CardFolder = "\\SYSTEM\\DH\\";
// Companions first: the card library is loaded only when all of them are there.
const char* const CardFiles[] = {"tmcrt.dll", "tmman32.dll", "pnx.dll", "hostcomm.dll", "DllMonitor.dll",
                                 "VDCDecode.dll"};
const char* const CardLibrary = "VDCDecode.dll";

constexpr std::uint32_t OverlayKeyAtInit = 0x808000;
constexpr std::uint32_t OverlayKeyOnHandle = 0x808080;
constexpr std::uint32_t StreamOpenMode = 1;
constexpr std::uint32_t StreamBufferBytes = 921600;
constexpr std::int32_t SdkTrue = -1;
constexpr std::int32_t SdkFalse = 0;

std::uint32_t CardHandle(const TPlayerInfo& Info) { return static_cast<std::uint32_t>(Info.Port.load()); }

// The card handle of a channel's stream, read once: a close on another thread may free the
// entry meanwhile, and the card must then not be handed the free mark -1. False when none.
bool StreamHandle(const TPlayerInfo* Info, std::uint32_t& Handle) {
  if (!Info) return false;
  const std::int64_t Port = Info->Port.load();
  if (Port < 0) return false;
  Handle = static_cast<std::uint32_t>(Port);
  return true;
}

}  // namespace

TDecodeDaHuaHard::TDecodeDaHuaHard() { FDllExists = false; }

TDecodeDaHuaHard::~TDecodeDaHuaHard() {
  // The card goes on running its channels; unloading its library under it is not safe.
  if (FDllExists) {
    FDllFiles.clear();
    FDllExists = false;
  }
}

std::int32_t TDecodeDaHuaHard::LoadLibraries(const std::string& Dir) {
  if (FDllExists) return 0;
  const std::string Folder = Dir + CardFolder;
  for (const char* File : CardFiles)
    if (!Win::FileExists((Folder + File).c_str())) return -1;
  FDllFiles.assign(1, TDllFile{Folder + CardLibrary, nullptr});
  FDllFiles[0].Handle =
      Win::LoadLibraryExA(FDllFiles[0].FileName.c_str(), nullptr, Win::LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!FDllFiles[0].Handle) {
    FDllFiles.clear();
    return -1;
  }
  ZORV_BIND_ENTRIES(DHHARD_ENTRIES, FDllFiles[0].Handle);
  FDllExists = true;
  return 0;
}

std::int32_t TDecodeDaHuaHard::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (FState == 2) return 0;
  // After a failed attempt the state stays 1 (tables reset already): the base step is skipped.
  if (FState == 0 && TDecodeBase::InitDecoder(Param, Dir) != 0) return -1;
  if (LoadLibraries(Dir) != 0) return -1;
  if (!FInitDecDevice) return -1;

  std::int32_t Devices = 0;
  std::int32_t Result = 0;
  if (!GuardedCall([&] { Result = FInitDecDevice(&Devices); })) {
    Result = 0;
    Devices = 0;
  }
  if (Result != 0) return Result;

  // Usable channels are every second device channel, as many as the handle table holds.
  const std::int32_t Usable = CardChannelsInTable(Devices / 2);
  if (Usable <= 0 || !FChannelOpen) {
    if (FReleaseDecDevice) GuardedCall([&] { FReleaseDecDevice(); });
    return -1;
  }
  for (std::int32_t i = 0; i < Usable; ++i)
    GuardedCall([&] { FChannelOpen(static_cast<std::uint32_t>(2 * i), &FChannelHandles[i]); });
  FDecodeChannelCount = Usable;
  FDisplayChannelCount = 0;

  if (Param != 0 && FInitDirectDraw) {
    std::int32_t Overlay = -1;
    GuardedCall([&] { Overlay = FInitDirectDraw(static_cast<std::uint32_t>(Param), OverlayKeyAtInit); });
    if (Overlay != 0) Result = -1;
  }
  FState = 2;
  return Result;
}

std::int32_t TDecodeDaHuaHard::InitHardHandle(std::int32_t Handle) {
  std::int32_t Result = 0;
  const bool Clean = GuardedCall([&] {
    if (FReleaseDirectDraw) FReleaseDirectDraw();
    if (FInitDirectDraw && FInitDirectDraw(static_cast<std::uint32_t>(Handle), OverlayKeyOnHandle) != 0)
      Result = -1;
  });
  return Clean ? Result : -1;
}

std::int32_t TDecodeDaHuaHard::OutParm(std::int32_t* Out1, std::int32_t* Out2) {
  if (Out1) *Out1 = FDecodeChannelCount;
  if (Out2) *Out2 = FDisplayChannelCount;
  return 0;
}

std::int32_t TDecodeDaHuaHard::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) < 0) return -1;
  const std::int32_t HardChannel = static_cast<std::int32_t>(Head.HardChannel);
  if (HardChannel < 1 || HardChannel > FDecodeChannelCount || !FChannelOpen) return -1;

  // A card channel handle and a card stream of this display channel's own.
  std::uint32_t Handle = 0;
  std::int32_t Opened = -1;
  if (!GuardedCall([&] { Opened = FChannelOpen(static_cast<std::uint32_t>(2 * (HardChannel - 1)), &Handle); }) ||
      Opened != 0)
    return -1;
  TPlayerInfo& Info = FPlayers[Player];
  Info.Port = Handle;
  std::int32_t Streamed = -1;
  GuardedCall([&] {
    if (FSetStreamOpenMode) FSetStreamOpenMode(Handle, StreamOpenMode);
    if (FOpenStream) Streamed = FOpenStream(Handle, nullptr, StreamBufferBytes);
  });
  if (Streamed != 0) {
    // The engine releases the player; the handle goes back to the card here.
    if (FChannelClose) GuardedCall([&] { FChannelClose(Handle); });
    return -1;
  }

  FChannelPlayer[Head.Group][Head.Channel] = Player;
  Info.OpenState = 1;
  Info.OpenKind = OpenKindCard;
  Info.Group = Head.Group;
  Info.Wnd = Head.Wnd;

  std::int32_t Played = -1;
  GuardedCall([&] {
    if (FPlay) Played = FPlay(Handle, Head.Wnd);
  });
  if (Played != 0) Win::Sleep(1);
  REGION_PARAM Region[1] = {{0, 0, 800, 600, 0, 0}};
  if (FSetDisplayRegion) GuardedCall([&] { FSetDisplayRegion(Handle, 1, Region, 0); });
  // The bytes that opened the stream are the card's first data.
  InputData(Head, Data);
  return 0;
}

std::int32_t TDecodeDaHuaHard::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  std::uint32_t Handle = 0;
  if (!StreamHandle(FindPlayer(Head), Handle)) return -1;
  if (Head.FrameType == ZORV_FRAME_AUDIO) PlaySound(Head);
  if (!FInputData) return -1;
  for (int Offer = 0; Offer < InputAttempts; ++Offer) {
    std::int32_t Taken = -1;
    if (!GuardedCall([&] { Taken = FInputData(Handle, Data, Head.DataLen); })) return -1;
    if (static_cast<std::uint32_t>(Taken) == Head.DataLen) break;
    Win::Sleep(InputRetryMs);
  }
  return 0;  // what the card did not take after the last offer is dropped
}

std::int32_t TDecodeDaHuaHard::ClearBuffer(TFrameHead& Head) {
  std::uint32_t Handle = 0;
  if (!StreamHandle(FindPlayer(Head), Handle)) return -1;
  if (FResetStream) GuardedCall([&] { FResetStream(Handle); });
  return 0;
}

std::int32_t TDecodeDaHuaHard::CloseStream(TFrameHead& Head) {
  if (FClearSurface) GuardedCall([&] { FClearSurface(); });
  std::uint32_t Handle = 0;
  if (!StreamHandle(FindPlayer(Head), Handle)) return -1;
  StopSound(Head);
  const bool Stopped = GuardedCall([&] {
    if (FStop) FStop(Handle);
  });
  const bool Closed = GuardedCall([&] {
    if (FCloseStream) FCloseStream(Handle);
  });
  // The card channel handle OpenStream opened goes back too, so that opens and closes do not
  // use the card's handles up.
  const bool Returned = GuardedCall([&] {
    if (FChannelClose) FChannelClose(Handle);
  });
  ReleasePlayer(Head);
  return Stopped && Closed && Returned ? 0 : -1;
}

std::int32_t TDecodeDaHuaHard::PlaySound(TFrameHead& Head) {
  return DoPlaySound(Head, [&](TPlayerInfo& Info) {
    const std::uint32_t Handle = CardHandle(Info);
    GuardedCall([&] {
      if (FPlaySound) FPlaySound(Handle);
      if (FSetAudioPreview) FSetAudioPreview(Handle, SdkTrue);
    });
  });
}

std::int32_t TDecodeDaHuaHard::StopSound(TFrameHead& Head) {
  if (!FindPlayer(Head)) return -1;
  return DoStopSound(Head, [&](TPlayerInfo& Info) {
    const std::uint32_t Handle = CardHandle(Info);
    GuardedCall([&] {
      if (FStopSound) FStopSound(Handle);
      if (FSetAudioPreview) FSetAudioPreview(Handle, SdkFalse);
    });
  });
}

std::int32_t TDecodeDaHuaHard::SetDecoderVideoExtOutput(TFrameHead&, std::int32_t A, std::int32_t B,
                                                        std::uint8_t C, std::int32_t D, std::int32_t E,
                                                        std::int32_t F) {
  const std::uint32_t CardChannel = 2u * static_cast<std::uint32_t>(A);
  std::int32_t Routed = -1;
  if (FSetDecoderVideoExtOutput &&
      !GuardedCall([&] {
        Routed = FSetDecoderVideoExtOutput(CardChannel, static_cast<std::uint32_t>(B), C != 0 ? SdkTrue : SdkFalse,
                                           static_cast<std::uint32_t>(D), static_cast<std::uint32_t>(E),
                                           static_cast<std::uint32_t>(F));
      }))
    Routed = -1;
  WriteLog("解码通道序号:" + std::to_string(static_cast<std::int32_t>(CardChannel)) + "输出通道序号:" +
           std::to_string(D) + "显示区域序号:" + std::to_string(E));
  return Routed == 0 ? 0 : -1;
}

std::int32_t TDecodeDaHuaHard::SetDisplayRegion(TFrameHead&, std::int32_t A, std::int32_t B, void* C,
                                                std::int32_t D) {
  std::int32_t Split = -1;
  if (FSetDisplayRegion &&
      !GuardedCall([&] {
        Split = FSetDisplayRegion(static_cast<std::uint32_t>(A), static_cast<std::uint32_t>(B),
                                  static_cast<REGION_PARAM*>(C), static_cast<std::uint32_t>(D));
      }))
    Split = -1;
  return Split == 0 ? 0 : -1;
}

std::int32_t TDecodeDaHuaHard::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  std::uint32_t Handle = 0;
  if (!StreamHandle(FindPlayer(Head), Handle)) return -1;
  TCardPictureSource Source;
  if (FGetPictureSize)
    Source.GetPictureSize = [this, Handle](std::int32_t* Width, std::int32_t* Height) {
      return FGetPictureSize(Handle, Width, Height);
    };
  if (FGetYV12Image)
    Source.GetYV12Image = [this, Handle](std::uint8_t* Picture, std::uint32_t Bytes) {
      return FGetYV12Image(Handle, Picture, Bytes);
    };
  return SnapCardPicture("zorvdecoder硬件解码抓帧失败", Source, Size, Buffer);
}

std::int32_t TDecodeDaHuaHard::StartCallBack(TFrameHead&, std::uintptr_t) { return -1; }
std::int32_t TDecodeDaHuaHard::StopCallBack(TFrameHead&) { return -1; }
std::int32_t TDecodeDaHuaHard::RefrushWindow(TFrameHead&) { return -1; }
std::int32_t TDecodeDaHuaHard::ResetDisplay(TFrameHead&, std::int32_t) { return -1; }
std::int32_t TDecodeDaHuaHard::PauseChannel(TFrameHead&, std::int32_t) { return 0; }
