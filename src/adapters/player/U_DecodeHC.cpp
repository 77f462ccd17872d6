// TDecodeHC: the Hikvision player adapter (see U_DecodeHC.h).
#include "U_DecodeHC.h"

#include <cstring>

#include "U_DecodeEngine.h"

namespace {

// Snapshot requests by port, for the whole unit: the display callback has no adapter to ask.
TCapBMPTable HikCapTable;
// Hik_PLayM4_ConvertToBmpFile, bound by the loaded adapter, for the display callback.
std::atomic<TDecodeHC::TConvertToBmpFile> HikConvertToBmpFile{nullptr};

}  // namespace

TDecodeHC::TDecodeHC() { Create(); }

void TDecodeHC::Create() {
  TDecodeBase::Create();
  ResetCapTable(HikCapTable);
}

TDecodeHC::~TDecodeHC() {
  HikConvertToBmpFile = nullptr;
  HIK_ENTRIES(ZORV_CLEAR_ENTRY)
  UnloadDllFiles();
  WriteLog("释放");
}

std::int32_t TDecodeHC::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  if (LoadDllFiles(Dir + "PlayDll\\HIK\\", {"HikPlayM4.dll"}) != 0) return -1;
  const Win::HMODULE Module = FDllFiles[0].Handle;
  ZORV_BIND_ENTRIES(HIK_ENTRIES, Module);
  TConvertToBmpFile Convert = nullptr;
  BindEntryPoint(Module, "Hik_PLayM4_ConvertToBmpFile", Convert);
  HikConvertToBmpFile = Convert;
  FState = 2;
  return 0;
}

std::int32_t TDecodeHC::PortOf(const TFrameHead& Head) {
  const TPlayerInfo* Info = FindPlayer(Head);
  return Info ? static_cast<std::int32_t>(Info->Port.Get()) : -1;
}

// ---- stream ------------------------------------------------------------------------------------

std::int32_t TDecodeHC::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  std::int32_t Port = -1;
  if (GetFreePlayer(Head, Port) < 0) {
    WriteLog("decoderdll 文件头，寻找空闲通道失败;显示画面序号:" + std::to_string(Head.Channel));
    return -1;
  }
  std::int32_t Result = -1;
  bool Opened = false;
  const bool Completed = GuardedCall([&] {
    // A file head shorter than the stream head is copied as far as it goes; the rest stays 0.
    std::uint8_t StreamHead[StreamHeadSize] = {};
    if (Data) std::memcpy(StreamHead, Data, std::min<std::uint32_t>(Head.DataLen, StreamHeadSize));
    if (FSetTimerType) FSetTimerType(Port, 2, 0);
    if (FSyncToAudio) FSyncToAudio(Port, 0);
    if (!FOpenStream || !VendorOk(FOpenStream(Port, StreamHead, StreamHeadSize, SourceBufferSize))) return;
    Opened = true;
    TPlayerInfo& Info = FPlayers[Port];
    FChannelPlayer[Head.Group][Head.Channel] = Port;
    Info.Port = Port;
    Info.OpenState = 2;
    Info.OpenKind = 1;
    if (FSetDisplayBuf) FSetDisplayBuf(Port, DisplayBufferCount);
    Info.Group = Head.Group;
    if (FSetDisplayCallBack) FSetDisplayCallBack(Port, DisplayCallBack);
    if (FSyncToAudio) FSyncToAudio(Port, 0);
    const std::uint32_t Wnd = Info.Wnd != 0 ? Info.Wnd.Get() : Head.Wnd;
    bool PlayFailed = false;
    if (Wnd != 0) PlayFailed = !(FPlay && VendorOk(FPlay(Port, Wnd)));
    Win::Sleep(200);
    Info.Wnd = Wnd;
    if (PlayFailed) Win::Sleep(1);
    if (Head.DataLen > StreamHeadSize && FInputData)
      FInputData(Port, const_cast<std::uint8_t*>(Data) + StreamHeadSize, Head.DataLen - StreamHeadSize);
    Info.HasAudio = StreamHead[16] == 3 ? 1 : 0;
    Result = 0;
  });
  // A port the library opened before an exception is closed again: the engine frees the
  // entry, and the next open of this player number must find the port closed.
  if (!Completed && Opened) {
    GuardedCall([&] {
      if (FStop) FStop(Port);
      if (FCloseStream) FCloseStream(Port);
    });
  }
  return Completed ? Result : -1;
}

std::int32_t TDecodeHC::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  const std::int32_t Port = PortOf(Head);
  if (Port < 0) return -1;
  if (Head.FrameType == ZORV_FRAME_AUDIO) PlaySound(Head);
  ReconcileCallBack(Head);
  if (FInputData && !VendorOk(FInputData(Port, const_cast<std::uint8_t*>(Data), Head.DataLen))) Win::Sleep(1);
  return 0;
}

std::int32_t TDecodeHC::ClearBuffer(TFrameHead& Head) {
  const std::int32_t Port = PortOf(Head);
  if (Port < 0 || !FResetBuffer) return -1;
  for (std::uint32_t Kind = 1; Kind <= 4; ++Kind) FResetBuffer(Port, Kind);
  return 0;
}

std::int32_t TDecodeHC::CloseStream(TFrameHead& Head) {
  const std::int32_t Port = PortOf(Head);
  if (Port < 0) return -1;
  WriteLog("decoderdll 开始关闭流;显示画面序号:" + ChannelAndPlayer(Head.Channel, Port));
  if (ClearBuffer(Head) == -1) return -1;
  if (!FStop || !VendorOk(FStop(Port))) return -1;
  if (!FCloseStream || !VendorOk(FCloseStream(Port))) return -1;
  Win::Sleep(100);
  TDecodeBase::CloseStream(Head);
  WriteLog("关闭流成功;显示画面序号:" + ChannelAndPlayer(Head.Channel, Port));
  return 0;
}

// ---- sound -------------------------------------------------------------------------------------

std::int32_t TDecodeHC::PlaySound(TFrameHead& Head) {
  return DoPlaySound(Head, [this](TPlayerInfo& Info) {
    if (FPlaySound) FPlaySound(static_cast<std::int32_t>(Info.Port.Get()));
  });
}

std::int32_t TDecodeHC::StopSound(TFrameHead& Head) {
  return DoStopSound(Head, [this](TPlayerInfo&) {
    if (FStopSound) FStopSound();
  });
}

// ---- callbacks ---------------------------------------------------------------------------------

std::int32_t TDecodeHC::StartVendorCallBack(TFrameHead& Head, std::uintptr_t CallBack, bool Ex) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || Info->CallBackState == 0) return -1;
  if (Info->CallBackState == 2) return 0;
  const std::int32_t Port = static_cast<std::int32_t>(Info->Port.Get());
  ClearBuffer(Head);
  if (FStop) FStop(Port);
  if (FSetDecCallBack) FSetDecCallBack(Port, DecodeCallBack);
  if (FPlay) FPlay(Port, 0);  // decode to the callback without drawing
  Win::Sleep(200);
  if (Ex)
    Info->CallBackProcEx = CallBack;
  else
    Info->CallBackProc = CallBack;
  Info->CallBackState = 2;
  return 0;
}

std::int32_t TDecodeHC::StopVendorCallBack(TFrameHead& Head, bool Ex) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || Info->CallBackState == 0) return 0;
  if (Info->CallBackState == 2) {
    const std::int32_t Port = static_cast<std::int32_t>(Info->Port.Get());
    ClearBuffer(Head);
    if (FStop) FStop(Port);
    if (FPlay) FPlay(Port, Info->Wnd);
    Win::Sleep(200);
    // The decode callback stays registered with the library.
    for (int i = 0; i < 4; ++i)
      if (FFast) FFast(Port);
  }
  if (Ex)
    Info->CallBackProcEx = 0;
  else
    Info->CallBackProc = 0;
  Info->CallBackState = 0;
  return 0;
}

std::int32_t TDecodeHC::StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) {
  return StartVendorCallBack(Head, CallBack, false);
}
std::int32_t TDecodeHC::StartCallBackEx(TFrameHead& Head, std::uintptr_t CallBack) {
  return StartVendorCallBack(Head, CallBack, true);
}
std::int32_t TDecodeHC::StopCallBack(TFrameHead& Head) { return StopVendorCallBack(Head, false); }
std::int32_t TDecodeHC::StopCallBackEx(TFrameHead& Head) { return StopVendorCallBack(Head, true); }

void ZORV_STDCALL TDecodeHC::DecodeCallBack(std::int32_t Port, char* Buffer, std::int32_t Size,
                                            const std::int32_t* FrameInfo, std::int32_t, std::int32_t) {
  if (!FrameInfo) return;
  const std::int64_t Width = FrameInfo[0];
  const std::int64_t Height = FrameInfo[1];
  const std::int64_t Quarter = Width * Height / 4;
  // A negative width and height multiply to a positive size: no picture either.
  if (Width <= 0 || Height <= 0 || Quarter <= 0) {
    Win::Sleep(1);
    return;
  }
  if (Size < 6 * Quarter) {
    WriteLog(std::to_string(6 * Quarter));
    WriteLog(std::to_string(Size));
    // The host reads a whole width x height picture: a shorter buffer is not handed on.
    return;
  }
  const auto* Picture = reinterpret_cast<const std::uint8_t*>(Buffer);
  DeliverPicture(DvrTypeCode, Port, Picture, static_cast<std::uint32_t>(Size), static_cast<std::uint32_t>(Width),
                 static_cast<std::uint32_t>(Height));
  TEngineUse Engine;
  std::uint32_t Channel = 0;
  std::uint8_t Group = 0;
  if (!Engine || Engine->FindChannelByPort(DvrTypeCode, Port, Channel, Group) != 0) return;
  if (const std::uintptr_t DecCallBack = Engine->GetDecCallBack(Group, Channel)) {
    GuardedCall([&] {
      reinterpret_cast<TPlayM4DecCallBack>(DecCallBack)(static_cast<std::int32_t>(Channel), Picture, Size, FrameInfo,
                                                         0, 0);
    });
  }
}

// ---- snapshots ---------------------------------------------------------------------------------

void ZORV_STDCALL TDecodeHC::DisplayCallBack(std::int32_t Port, char* Buffer, std::int32_t Size, std::int32_t Width,
                                             std::int32_t Height, std::int32_t, std::int32_t Type, std::int32_t) {
  if (Port < 0 || Port >= PlayerCount) return;
  // A picture the library could not convert leaves the request armed for the next one.
  ServeCapRequest(HikCapTable[Port], [&](std::string& FileName) {
    const TConvertToBmpFile Convert = HikConvertToBmpFile.load();
    return Convert && VendorOk(Convert(Buffer, Size, Width, Height, Type, FileName.data()));
  });
}

std::int32_t TDecodeHC::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  const std::int32_t Port = PortOf(Head);
  if (Port < 0) return -1;
  return SnapThroughTempFile(HikCapTable[Port], Size, Buffer);
}

std::int32_t TDecodeHC::SnapPictureToFile(TFrameHead& Head, const char* FileName) {
  const std::int32_t Port = PortOf(Head);
  if (Port < 0) return 0;
  return SnapToFileAndWait(HikCapTable[Port], FileName);
}

// ---- play control and file playback -----------------------------------------------------------

std::int32_t TDecodeHC::Play(TFrameHead& Head) {
  const std::int32_t Port = PortOf(Head);
  if (Port >= 0 && FPlay) {
    FPlay(Port, Head.Wnd);
    Win::Sleep(200);
  }
  return 0;
}

std::int32_t TDecodeHC::Stop(TFrameHead& Head) {
  const std::int32_t Port = PortOf(Head);
  return Port >= 0 && FStop ? FStop(Port) : 0;
}

std::int32_t TDecodeHC::OpenFile(TFrameHead& Head, const char* FileName) {
  std::int32_t Port = -1;
  if (GetFreePlayer(Head, Port) < 0) {
    WriteLog("decoderdll 文件头，寻找空闲通道失败;显示画面序号:" + std::to_string(Head.Channel));
    return 0;
  }
  TPlayerInfo& Info = FPlayers[Port];
  const std::int32_t Result =
      FOpenFile && FileName ? FOpenFile(static_cast<std::int32_t>(Info.Port.Get()), const_cast<char*>(FileName)) : 0;
  if (VendorOk(Result)) {
    FChannelPlayer[Head.Group][Head.Channel] = Port;
    Info.Port = Port;
    Info.OpenState = 2;
    Info.OpenKind = 1;
    // The decode callback finds the channel of a port by the entry's group.
    Info.Group = Head.Group;
    if (FSetDisplayCallBack) FSetDisplayCallBack(Port, DisplayCallBack);
  }
  return Result;
}

std::int32_t TDecodeHC::GetFileHeadLength(TFrameHead&) {
  return FGetFileHeadLength ? static_cast<std::int32_t>(FGetFileHeadLength()) : 0;
}

std::int32_t TDecodeHC::SetStreamOpenMode(TFrameHead& Head, std::int32_t Mode) {
  const std::int32_t Port = PortOf(Head);
  return Port >= 0 && FSetStreamOpenMode ? FSetStreamOpenMode(Port, static_cast<std::uint32_t>(Mode)) : 0;
}

std::int32_t TDecodeHC::GetColor(TFrameHead& Head, std::int32_t Region, std::int32_t* Brightness,
                                 std::int32_t* Contrast, std::int32_t* Saturation, std::int32_t* Hue) {
  const std::int32_t Port = PortOf(Head);
  if (Port < 0 || !FGetColor) return -1;
  return FGetColor(Port, static_cast<std::uint32_t>(Region), Brightness, Contrast, Saturation, Hue);
}

std::int32_t TDecodeHC::SetColor(TFrameHead& Head, std::int32_t Region, std::int32_t Brightness,
                                 std::int32_t Contrast, std::int32_t Saturation, std::int32_t Hue) {
  const std::int32_t Port = PortOf(Head);
  if (Port < 0 || !FSetColor) return -1;
  return FSetColor(Port, static_cast<std::uint32_t>(Region), Brightness, Contrast, Saturation, Hue);
}

std::int32_t TDecodeHC::SetVolume(TFrameHead& Head, std::uint16_t Volume) {
  const std::int32_t Port = PortOf(Head);
  return Port >= 0 && FSetVolume ? FSetVolume(Port, Volume) : 0;
}

std::int32_t TDecodeHC::Pause(TFrameHead& Head, std::int32_t Pause) {
  const std::int32_t Port = PortOf(Head);
  return Port >= 0 && FPause ? FPause(Port, static_cast<std::uint32_t>(Pause)) : 0;
}

std::int32_t TDecodeHC::SetPlayPos(TFrameHead& Head, double Pos) {
  const std::int32_t Port = PortOf(Head);
  return Port >= 0 && FSetPlayPos ? FSetPlayPos(Port, Pos) : 0;
}

double TDecodeHC::GetPlayPos(TFrameHead& Head) {
  const std::int32_t Port = PortOf(Head);
  return Port >= 0 && FGetPlayPos ? static_cast<double>(FGetPlayPos(Port)) : 0.0;
}

std::int32_t TDecodeHC::SetPlayedTime(TFrameHead& Head, std::int32_t Time) { return SetPlayedTimeEx(Head, Time); }

std::int32_t TDecodeHC::SetPlayedTimeEx(TFrameHead& Head, std::int32_t Time) {
  const std::int32_t Port = PortOf(Head);
  return Port >= 0 && FSetPlayedTimeEx ? FSetPlayedTimeEx(Port, static_cast<std::uint32_t>(Time)) : 0;
}

// Operations that hand the port to the entry point of the same name and return its result.
#define HIK_PORT_OPERATION(Operation, Field)                                    \
  std::int32_t TDecodeHC::Operation(TFrameHead& Head) {                         \
    const std::int32_t Port = PortOf(Head);                                     \
    return Port >= 0 && Field ? static_cast<std::int32_t>(Field(Port)) : 0;     \
  }
HIK_PORT_OPERATION(CloseFile, FCloseFile)
HIK_PORT_OPERATION(Fast, FFast)
HIK_PORT_OPERATION(Slow, FSlow)
HIK_PORT_OPERATION(OneByOne, FOneByOne)
HIK_PORT_OPERATION(GetFileTime, FGetFileTime)
HIK_PORT_OPERATION(GetPlayedTime, FGetPlayedTime)
HIK_PORT_OPERATION(GetPlayedFrames, FGetPlayedFrames)
HIK_PORT_OPERATION(GetFileTotalFrames, FGetFileTotalFrames)
HIK_PORT_OPERATION(GetCurrentFrameRate, FGetCurrentFrameRate)
HIK_PORT_OPERATION(GetPlayedTimeEx, FGetPlayedTimeEx)
HIK_PORT_OPERATION(GetCurrentFrameNum, FGetCurrentFrameNum)
#undef HIK_PORT_OPERATION
