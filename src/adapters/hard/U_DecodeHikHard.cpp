#include "U_DecodeHikHard.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "U_CardSnapshot.h"
#include "U_DecodeEngine.h"

namespace {
// BOOL values handed to the card library.
constexpr std::int32_t CardTrue = -1;
constexpr std::int32_t CardFalse = 0;
// Byte of the stream's file head that says what the stream carries; 3 = video and audio.
constexpr std::size_t SystemFormatOffset = 16;
constexpr std::uint8_t SystemVideoAudio = 3;

const char* FrameWord(std::uint8_t FrameType) {
  switch (FrameType) {
    case 1: return "文件头";
    case 2: return "I帧";
    default: return "错误的帧";
  }
}

// Runs a card library call; a call that raised counts as Failure.
template <class R, class F>
R CardCall(R Failure, F&& Call) {
  R Result = Failure;
  if (!GuardedCall([&] { Result = Call(); })) return Failure;
  return Result;
}

// The pause after each sound routing call the card refused.
template <class F>
void SoundStep(F&& Call) {
  if (CardCall<std::int32_t>(-1, Call) != 0) Win::Sleep(1);
}
}  // namespace

TDecodeHikHard::TDecodeHikHard() {
  Create();
  for (auto& Flag : FWaitFirstFrame) Flag = 0;
  for (auto& Started : FStreamStarted) Started = false;
}

// The card streams keep running until the process ends: no card call is made here and the
// card library stays loaded (its module is not freed), as unloading it under running card
// streams is not safe.
TDecodeHikHard::~TDecodeHikHard() {
  for (TDllFile& File : FDllFiles) File.Handle = nullptr;
  WriteLog("decoderdll 释放");
}

bool TDecodeHikHard::FramesIgnored() {
  const TDecodeEngine* Engine = DecodeEngine();
  return Engine && Engine->FlagMode() == 1;
}

std::uint32_t TDecodeHikHard::CardSlotOf(const TFrameHead& Head) {
  return Head.HardChannel >= 1 && Head.HardChannel <= static_cast<std::uint32_t>(CardChannelSlots) ? Head.HardChannel
                                                                                                     : 0;
}

// ---- card and overlay ------------------------------------------------------------------------

std::int32_t TDecodeHikHard::InitHardHandle(std::int32_t Handle) {
  WriteLog("Decoderdll Init");
  FHardHandle = static_cast<std::uint32_t>(Handle);
  std::int32_t Result = 0;
  GuardedCall([&] {
    if (FHW_ReleaseDirectDraw) FHW_ReleaseDirectDraw();
    if (FHW_InitDirectDraw && FHW_InitDirectDraw(static_cast<std::uint32_t>(Handle), ColorKey) != 0) Result = -1;
  });
  return Result;
}

std::int32_t TDecodeHikHard::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  FDecodeChannelCount = 0;
  FDisplayChannelCount = 0;
  // A card without its library counts as initialised: it has no channels, so no head is
  // routed to it.
  const std::string Path = Dir + "System\\HIK\\DS40xxSDK.dll";
  FDllExists = Win::FileExists(Path.c_str());
  FState = 2;
  if (!FDllExists) return 0;
  FState = 0;
  FDllFiles.assign(1, TDllFile{Path, Win::LoadLibraryA(Path.c_str())});
  ZORV_BIND_ENTRIES(HIKCARD_ENTRIES, MainModule());

  std::int32_t Opened = 0;
  if (FHW_InitDecDevice) CardCall<std::int32_t>(-1, [&] { return FHW_InitDecDevice(&Opened); });
  // Channels beyond the tables are left closed.
  Opened = CardChannelsInTable(Opened);
  FOpenedChannels = Opened;
  for (std::int32_t i = 0; i < Opened; ++i) {
    THikCardHandle& Handle = FChannelHandles[static_cast<std::size_t>(i)];
    if (FHW_ChannelOpen) CardCall<std::int32_t>(-1, [&] { return FHW_ChannelOpen(i, &Handle); });
    if (FHW_PlaySound) CardCall<std::int32_t>(-1, [&] { return FHW_PlaySound(Handle); });
    FStreamStarted[static_cast<std::size_t>(i + 1)] = false;
  }
  std::int32_t Decode = 0;
  std::int32_t Display = 0;
  if (FGetDecodeChannelCount) Decode = CardCall<std::int32_t>(0, [&] { return FGetDecodeChannelCount(); });
  if (FGetDisplayChannelCount) Display = CardCall<std::int32_t>(0, [&] { return FGetDisplayChannelCount(); });
  FDecodeChannelCount = CardChannelsInTable(Decode);
  FDisplayChannelCount = static_cast<std::uint8_t>(Display);
  FState = 2;

  if (Param != 0 && FHW_InitDirectDraw &&
      CardCall<std::int32_t>(-1, [&] { return FHW_InitDirectDraw(static_cast<std::uint32_t>(Param), ColorKey); }) != 0)
    return -1;
  return 0;
}

std::int32_t TDecodeHikHard::OutParm(std::int32_t* Out1, std::int32_t* Out2) {
  if (Out1) *Out1 = FDecodeChannelCount;
  if (Out2) *Out2 = FDisplayChannelCount;
  return 0;
}

// ---- streams ---------------------------------------------------------------------------------

void TDecodeHikHard::AbandonOpen(const TFrameHead& Head, TPlayerInfo& Info, const char* Text) {
  const THikCardHandle Handle = static_cast<THikCardHandle>(Info.Port.Get());
  if (FHW_CloseStream) CardCall<std::int32_t>(-1, [&] { return FHW_CloseStream(Handle); });
  Info.Clear();
  FChannelPlayer[Head.Group][Head.Channel] = -1;
  WriteLog(std::string("0") + Text + std::to_string(Head.HardChannel) + "--" + std::to_string(Head.Channel) +
           "fPlayerSdkNum:" + std::to_string(Info.Port.Get()));
}

std::int32_t TDecodeHikHard::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  WriteLog("Decoderdll Start Open" + std::to_string(Head.Channel) + FrameWord(Head.FrameType));
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) < 0) return -1;
  // The stream's file head: its first 40 bytes; a shorter frame is read only as far as it goes.
  std::uint8_t FileHead[FileHeadSize] = {};
  if (Data) std::memcpy(FileHead, Data, std::min<std::uint32_t>(Head.DataLen, FileHeadSize));
  const std::uint32_t Slot = CardSlotOf(Head);
  if (Slot == 0 || static_cast<std::int64_t>(Slot) > FDecodeChannelCount.load()) return -1;
  // A card that counts more decode channels than it let open has no handle for the others.
  if (static_cast<std::int32_t>(Slot) > FOpenedChannels) return -1;
  FChannelPlayer[Head.Group][Head.Channel] = Player;
  TPlayerInfo& Info = FPlayers[static_cast<std::size_t>(Player)];
  const THikCardHandle Handle = FChannelHandles[Slot - 1];
  Info.Port = static_cast<std::int64_t>(Handle);

  if (!FStreamStarted[Slot]) {
    if (FHW_SetStreamOpenMode) CardCall<std::int32_t>(-1, [&] { return FHW_SetStreamOpenMode(Handle, 1); });
    const std::int32_t Opened =
        FHW_OpenStream ? CardCall<std::int32_t>(-1, [&] { return FHW_OpenStream(Handle, FileHead, FileHeadSize); }) : -1;
    if (Opened != 0) {
      AbandonOpen(Head, Info, "decoderdll   errorOpenStream-");
      return -1;
    }
    if (FHW_SetDecoderPostProcess) CardCall<std::int32_t>(-1, [&] { return FHW_SetDecoderPostProcess(Handle, 1); });
    if (FHW_SetSpeed) CardCall<std::int32_t>(-1, [&] { return FHW_SetSpeed(Handle, 0); });
    const std::int32_t Played = FHW_Play ? CardCall<std::int32_t>(-1, [&] { return FHW_Play(Handle); }) : -1;
    Win::Sleep(PlaySettleMs);
    if (Played != 0) {
      AbandonOpen(Head, Info, "decoderdll   errorPlay-");
      return -1;
    }
    FStreamStarted[Slot] = true;
    // A frame time on the first day (1.0 up to 2.0) asks for display flags 0.
    TDisplayPara Placed{};
    SetDisplayArea(Head, Head.Wnd, std::trunc(Head.FrameTime) == 1.0 ? 0 : 1, Placed);
  }
  FWaitFirstFrame[Slot] = 1;

  WriteLog(std::to_string(Head.Channel) + "Openstream success");
  Info.OpenState = 1;
  Info.OpenKind = 1;
  Info.Group = Head.Group;
  Info.Wnd = Head.Wnd;
  if (Head.DataLen > FileHeadSize && Data && FHW_InputData)
    CardCall<std::uint32_t>(0, [&] { return FHW_InputData(Handle, Data + FileHeadSize, Head.DataLen - FileHeadSize); });
  Info.HasAudio = FileHead[SystemFormatOffset] == SystemVideoAudio ? 1 : 0;
  WriteLog("Decoderdll Start End" + std::to_string(Head.Channel));
  return 0;
}

std::int32_t TDecodeHikHard::SetDisplayArea(const TFrameHead& Head, std::uint32_t Wnd, std::int32_t Flags,
                                            TDisplayPara& Placed) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const THikCardHandle Handle = static_cast<THikCardHandle>(Info->Port.Get());
  Win::RECT Channel{};
  Win::RECT Host{};
  Win::GetWindowRect(Wnd, &Channel);
  Win::GetWindowRect(FHardHandle, &Host);
  TDisplayPara Para{Flags, Flags, Channel.left - Host.left, Channel.top - Host.top, Channel.right - Channel.left,
                    Channel.bottom - Channel.top, 0};
  // The rectangle shrinks from its left and top edge, one pixel per refusal.
  for (;;) {
    TDisplayPara Offered = Para;
    const std::int32_t Refused =
        FHW_SetDisplayPara ? CardCall<std::int32_t>(-1, [&] { return FHW_SetDisplayPara(Handle, &Offered); }) : -1;
    if (Refused == 0) break;
    ++Para.Left;
    ++Para.Top;
    --Para.Width;
    --Para.Height;
    if (Para.Height <= 0) return -1;
  }
  Placed = Para;
  return 0;
}

std::int32_t TDecodeHikHard::ResetDisplay(TFrameHead& Head, std::int32_t Value) {
  if (FramesIgnored()) return -1;
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const std::uint32_t Wnd = Info->Wnd;
  TDisplayPara Placed{};
  if (SetDisplayArea(Head, Wnd, Value, Placed) != 0) return -1;
  WriteLog("decoderdll::--::" + std::to_string(Head.Channel) + std::to_string(Head.HardChannel) + std::to_string(Wnd) +
           " 区域:left:" + std::to_string(Placed.Left) + "top:" + std::to_string(Placed.Top));
  return 0;
}

std::int32_t TDecodeHikHard::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  if (Head.FrameType == 7 && Info->SoundState == 1) PlaySound(Head);
  // The first frame after an open must be an I frame for the card to show the stream again.
  if (const std::uint32_t Slot = CardSlotOf(Head); Slot != 0 && FWaitFirstFrame[Slot]) {
    if (Head.FrameType != 2) WriteLog("  decoderdll   errorFrame" + std::to_string(Head.HardChannel));
    FWaitFirstFrame[Slot] = 0;
  }
  // Read once: a close on another thread frees the entry while this frame is on its way.
  const std::int64_t Port = Info->Port;
  if (Port < 0) return -1;
  const THikCardHandle Handle = static_cast<THikCardHandle>(Port);
  const std::uint32_t Taken =
      FHW_InputData && (Data || Head.DataLen == 0)
          ? CardCall<std::uint32_t>(0, [&] { return FHW_InputData(Handle, Data, Head.DataLen); })
          : 0;
  if (Taken != Head.DataLen) WriteLog("Decoderdll Inputdata error" + std::to_string(Head.Channel));
  return 0;
}

std::int32_t TDecodeHikHard::ClearBuffer(TFrameHead& Head) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  if (!FHW_ResetStream) return 0;
  const THikCardHandle Handle = static_cast<THikCardHandle>(Info->Port.Get());
  std::int32_t Result = 0;
  if (GuardedCall([&] { Result = FHW_ResetStream(Handle); }) && Result != 0)
    WriteLog("  decoderdll   errorClear" + std::to_string(Head.HardChannel));
  return 0;
}

std::int32_t TDecodeHikHard::CloseStream(TFrameHead& Head) {
  const std::int32_t Player = PlayerOf(Head);
  if (!FindPlayer(Head)) return -1;
  WriteLog("Decoderdll Start Stop" + std::to_string(Head.Channel));
  FPlayers[static_cast<std::size_t>(Player)].Clear();
  FChannelPlayer[Head.Group][Head.Channel] = -1;
  WriteLog("Decoderdll End Stop" + std::to_string(Head.Channel));
  return 0;
}

// ---- sound -----------------------------------------------------------------------------------

std::int32_t TDecodeHikHard::PlaySound(TFrameHead& Head) {
  return DoPlaySound(Head, [&](TPlayerInfo& Info) {
    const THikCardHandle Handle = static_cast<THikCardHandle>(Info.Port.Get());
    const std::uint32_t Channel = Head.HardChannel;
    if (FSetDecoderAudioOutput) SoundStep([&] { return FSetDecoderAudioOutput(Channel - 1, CardTrue, Channel % 2); });
    if (FHW_PlaySound) SoundStep([&] { return FHW_PlaySound(Handle); });
    if (FHW_SetAudioPreview) SoundStep([&] { return FHW_SetAudioPreview(Handle, CardTrue); });
  });
}

std::int32_t TDecodeHikHard::StopSound(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  if (Info->SoundState == 2) {
    const THikCardHandle Handle = static_cast<THikCardHandle>(Info->Port.Get());
    const std::uint32_t Channel = Head.HardChannel;
    if (FSetDecoderAudioOutput) SoundStep([&] { return FSetDecoderAudioOutput(Channel - 1, CardFalse, Channel % 2); });
    if (FHW_StopSound) SoundStep([&] { return FHW_StopSound(Handle); });
    if (FHW_SetAudioPreview) SoundStep([&] { return FHW_SetAudioPreview(Handle, CardFalse); });
  }
  Info->SoundState = 0;
  return 0;
}

// ---- video outputs ---------------------------------------------------------------------------

std::int32_t TDecodeHikHard::SetDecoderVideoExtOutput(TFrameHead&, std::int32_t A, std::int32_t B, std::uint8_t C,
                                                      std::int32_t D, std::int32_t E, std::int32_t F) {
  if (FramesIgnored()) return -1;
  const std::int32_t R =
      FSetDecoderVideoExtOutput
          ? CardCall<std::int32_t>(-1, [&] {
              return FSetDecoderVideoExtOutput(static_cast<std::uint32_t>(A), static_cast<std::uint32_t>(B),
                                               C != 0 ? CardTrue : CardFalse, static_cast<std::uint32_t>(D),
                                               static_cast<std::uint32_t>(E), static_cast<std::uint32_t>(F));
            })
          : -1;
  WriteLog("decoderdll解码通道序号:" + std::to_string(A) + "输出通道序号:" + std::to_string(D) + "显示区域序号:" +
           std::to_string(E) + "--" + std::to_string(R));
  return R == 0 ? 0 : -1;
}

std::int32_t TDecodeHikHard::SetDisplayRegion(TFrameHead&, std::int32_t A, std::int32_t B, void* C, std::int32_t D) {
  if (FramesIgnored()) return -1;
  const std::int32_t R =
      FSetDisplayRegion ? CardCall<std::int32_t>(-1, [&] {
        return FSetDisplayRegion(static_cast<std::uint32_t>(A), static_cast<std::uint32_t>(B), C,
                                 static_cast<std::uint32_t>(D));
      })
                        : -1;
  // The first record of the host's region table, as four values; none without a table.
  std::string Regions;
  if (C) {
    std::int32_t Values[4];
    std::memcpy(Values, C, sizeof Values);
    for (std::int32_t Value : Values) Regions += std::to_string(Value) + "--";
  }
  WriteLog("decoderdll分割数目:" + std::to_string(B) + "输出通道序号:" + std::to_string(A) + "显示区域信息:" + Regions +
           std::to_string(R));
  return R == 0 ? 0 : -1;
}

// ---- snapshots -------------------------------------------------------------------------------

std::int32_t TDecodeHikHard::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const THikCardHandle Handle = static_cast<THikCardHandle>(Info->Port.Get());
  TCardPictureSource Source;
  if (FHW_GetPictureSize)
    Source.GetPictureSize = [&](std::int32_t* Width, std::int32_t* Height) {
      return FHW_GetPictureSize(Handle, Width, Height);
    };
  if (FHW_GetYV12Image)
    Source.GetYV12Image = [&](std::uint8_t* Picture, std::uint32_t Bytes) {
      return FHW_GetYV12Image(Handle, Picture, Bytes);
    };
  return SnapCardPicture("decoderdll 硬件解码抓帧失败", Source, Size, Buffer);
}
