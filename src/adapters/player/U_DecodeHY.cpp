// TDecodeHY: the HY player adapter (see U_DecodeHY.h).
#include "U_DecodeHY.h"

#include <atomic>

#include "U_DecodeEngine.h"

namespace {

// Snapshot requests by port, for the whole unit: the display callback has no adapter to ask.
TCapBMPTable HyCapTable;
// MP4Play_ConvertToBmpFile, bound by the loaded adapter, for the display callback.
std::atomic<TDecodeHY::TConvertToBmpFile> HyConvertToBmpFile{nullptr};

}  // namespace

TDecodeHY::TDecodeHY() { Create(); }

void TDecodeHY::Create() {
  TDecodeBase::Create();
  ResetCapTable(HyCapTable);
}

TDecodeHY::~TDecodeHY() {
  HyConvertToBmpFile = nullptr;
  HY_ENTRIES(ZORV_CLEAR_ENTRY)
  UnloadDllFiles();
  WriteLog("释放");
}

std::int32_t TDecodeHY::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  // The runtime libraries first, from the player's own directory; the player library last.
  if (LoadDllFiles(Dir + "PlayDll\\HY\\", {"msvcrt.dll", "libmmd.dll", "libguide40.dll", "HIE_MP4Play.dll"}) != 0)
    return -1;
  const Win::HMODULE Module = MainModule();
  ZORV_BIND_ENTRIES(HY_ENTRIES, Module);
  TConvertToBmpFile Convert = nullptr;
  BindEntryPoint(Module, "MP4Play_ConvertToBmpFile", Convert);
  HyConvertToBmpFile = Convert;
  FState = 2;
  return 0;
}

bool TDecodeHY::StillOpen(const TFrameHead& Head, std::int32_t Player) const {
  return PlayerOf(Head) == Player && FPlayers[Player].Port >= 0;
}

// ---- stream ------------------------------------------------------------------------------------

std::int32_t TDecodeHY::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  std::int32_t Port = -1;
  if (GetFreePlayer(Head, Port) < 0) {
    WriteLog("文件头，寻找空闲通道失败;显示画面序号:" + std::to_string(Head.Channel));
    return -1;
  }
  std::int32_t Result = -1;
  bool Opened = false;
  const bool Completed = GuardedCall([&] {
    // The whole file head frame is the stream head.
    if (!FOpenStream ||
        !VendorOk(FOpenStream(Port, const_cast<std::uint8_t*>(Data), Head.DataLen, SourceBufferSize))) {
      WriteLog(std::string(Head.FrameType == ZORV_FRAME_FILEHEAD ? "文件头" : "hik不是文件头") +
               "，打开流失败;显示画面序号:" + ChannelAndPlayer(Head.Channel, Port));
      return;
    }
    Opened = true;
    TPlayerInfo& Info = FPlayers[Port];
    FChannelPlayer[Head.Group][Head.Channel] = Port;
    Info.Port = Port;
    Info.OpenState = 2;
    Info.OpenKind = 1;
    Info.Group = Head.Group;
    if (FSetDisplayCallBack) FSetDisplayCallBack(Port, DisplayCallBack);
    if (FPlay) FPlay(Port, Head.Wnd);  // also without a window: the port decodes all the same
    for (int i = 0; i < 3; ++i)
      if (FFast) FFast(Port);
    Info.Wnd = Head.Wnd;
    Info.HasAudio = 1;  // every HY stream counts as having sound
    Result = 0;
  });
  if (Completed) return Result;
  WriteLog("文件头，打开流错误;显示画面序号:" + ChannelAndPlayer(Head.Channel, Port));
  // A port the library opened before the exception is closed again: the engine frees the
  // entry, and the next open of this player number must find the port closed.
  if (Opened) {
    GuardedCall([&] {
      if (FStop) FStop(Port);
      if (FCloseStream) FCloseStream(Port);
    });
  }
  Win::Sleep(1);
  return -1;
}

std::int32_t TDecodeHY::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  const std::int32_t Player = PlayerOf(Head);
  const std::int32_t Port = ChannelPort(Head);
  if (Port < 0) return -1;
  if (Head.FrameType == ZORV_FRAME_AUDIO) PlaySound(Head);
  ReconcileCallBack(Head);
  if (!FInputData) return -1;
  // The frame is offered until the port takes it: 100 offers 5 ms apart, fewer when the
  // channel is closed meanwhile.
  bool Taken = false;
  const bool Completed = GuardedCall([&] {
    for (int Refusals = 0;;) {
      if (VendorOk(FInputData(Port, const_cast<std::uint8_t*>(Data), Head.DataLen))) {
        Taken = true;
        return;
      }
      Win::Sleep(InputRetryPauseMs);
      if (++Refusals >= InputTries || !StillOpen(Head, Player)) return;
    }
  });
  if (!Completed) Win::Sleep(1);
  return Taken ? 0 : -1;
}

std::int32_t TDecodeHY::ClearBuffer(TFrameHead& Head) {
  const std::int32_t Port = ChannelPort(Head);
  if (Port < 0 || !FResetSourceBuffer) return -1;
  FResetSourceBuffer(Port);
  return 0;
}

std::int32_t TDecodeHY::CloseStream(TFrameHead& Head) {
  const std::int32_t Port = ChannelPort(Head);
  if (Port < 0) return -1;
  WriteLog("Decoderdll 开始关闭流;显示画面序号:" + ChannelAndPlayer(Head.Channel, Port));
  bool Refused = false;
  const bool Completed = GuardedCall([&] {
    if (ClearBuffer(Head) == -1) {
      Refused = true;
      return;
    }
    if (FStopSound) FStopSound();
    if (FSetDisplayCallBack) FSetDisplayCallBack(Port, nullptr);
    if (FStop) FStop(Port);
    Refused = !FCloseStream || !VendorOk(FCloseStream(Port));
  });
  // A refusal leaves the channel open; an exception is logged and the close goes on.
  if (Completed && Refused) return -1;
  if (!Completed) WriteLog("Decoderdll 关闭流失败; 显示画面序号:" + std::to_string(Head.Channel) + "播放器序号:");
  WriteLog("Decoderdll 关闭流成功;显示画面序号:" + ChannelAndPlayer(Head.Channel, Port));
  Win::Sleep(10);
  TDecodeBase::CloseStream(Head);
  return 0;
}

// ---- sound -------------------------------------------------------------------------------------

std::int32_t TDecodeHY::PlaySound(TFrameHead& Head) {
  return DoPlaySound(Head, [this](TPlayerInfo& Info) {
    if (FPlaySound) FPlaySound(static_cast<std::int32_t>(Info.Port.Get()));
  });
}

std::int32_t TDecodeHY::StopSound(TFrameHead& Head) {
  return DoStopSound(Head, [this](TPlayerInfo&) {
    if (FStopSound) FStopSound();
  });
}

// ---- callbacks ---------------------------------------------------------------------------------

std::int32_t TDecodeHY::StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) {
  return DoStartCallBack(Head, CallBack, [&](TPlayerInfo& Info) {
    const std::int32_t Port = static_cast<std::int32_t>(Info.Port.Get());
    ClearBuffer(Head);
    if (FStop) FStop(Port);
    if (FSetDecCallBack) FSetDecCallBack(Port, DecodeCallBack);
    if (FPlay) FPlay(Port, Info.Wnd);  // the port keeps drawing into its window
  });
}

std::int32_t TDecodeHY::StopCallBack(TFrameHead& Head) {
  return DoStopCallBack(Head, [&](TPlayerInfo& Info) {
    const std::int32_t Port = static_cast<std::int32_t>(Info.Port.Get());
    ClearBuffer(Head);
    if (FStop) FStop(Port);
    if (FPlay) FPlay(Port, Head.Wnd);  // the window given with this call
    for (int i = 0; i < 4; ++i)
      if (FFast) FFast(Port);
  });
}

void ZORV_STDCALL TDecodeHY::DecodeCallBack(std::int32_t Port, char* Buffer, std::int32_t Size,
                                            const std::int32_t* FrameInfo, std::int32_t, std::int32_t) {
  TVendorPicture Frame;
  // The plane exchange and the host both need the whole picture: a shorter buffer is neither
  // touched nor handed on.
  if (!ReadVendorPicture(FrameInfo, Size, Frame) || Frame.Short) return;
  TEngineUse Engine;  // held until the callback returns: the shutdown waits for it
  std::uint32_t Channel = 0;
  std::uint8_t Group = 0;
  if (!Engine || !Buffer || Engine->FindChannelByPort(DvrTypeCode, Port, Channel, Group) != 0) return;
  if (Engine->GetCallBack(Group, Channel) == 0) return;
  auto* Picture = reinterpret_cast<std::uint8_t*>(Buffer);
  if (!GuardedCall([&] { ExchangeChromaPlanes(Picture, static_cast<std::size_t>(Frame.Quarter)); })) Win::Sleep(1);
  DeliverPicture(DvrTypeCode, Port, Picture, static_cast<std::uint32_t>(Size), static_cast<std::uint32_t>(Frame.Width),
                 static_cast<std::uint32_t>(Frame.Height));
}

// ---- snapshots ---------------------------------------------------------------------------------

void ZORV_STDCALL TDecodeHY::DisplayCallBack(std::int32_t Port, char* Buffer, std::int32_t Size, std::int32_t Width,
                                             std::int32_t Height, std::int32_t, std::int32_t Type, std::int32_t) {
  if (Port < 0 || Port >= PlayerCount) return;
  ServeCapRequest(HyCapTable[Port], [&](std::string& FileName) {
    const TConvertToBmpFile Convert = HyConvertToBmpFile.load();
    return Convert && VendorOk(Convert(Buffer, Size, Width, Height, Type, FileName.data()));
  });
}

std::int32_t TDecodeHY::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  const std::int32_t Port = ChannelPort(Head);
  if (Port < 0) return -1;
  return SnapThroughTempFile(HyCapTable[Port], Size, Buffer);
}
