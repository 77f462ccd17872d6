#include "U_DecodeDH.h"

#include "U_DecodeEngine.h"

namespace {

constexpr std::uint32_t SourceBufferBytes = 2097152;
constexpr std::uint32_t DisplayBuffers = 25;
constexpr std::int32_t RecordFileType = 1;

// Codec libraries first, the player library last.
const std::vector<std::string> DhLibraries = {"AmrDll.dll",     "dllh264.dll",      "dllmpeg4.dll",
                                              "dlldeinterlace.dll", "hi_h264dec_w.dll", "dhplay.dll"};

std::int32_t VendorPort(const TPlayerInfo& Info) { return static_cast<std::int32_t>(Info.Port.load()); }

}  // namespace

TDecodeDaHua::TDecodeDaHua() = default;

TDecodeDaHua::~TDecodeDaHua() {
  if (FDllExists) CloseOpenPorts();
  UnloadDllFiles(true);
}

void TDecodeDaHua::CloseOpenPorts() {
  // Streams of every group, group 0 included: a port left open would keep the library's
  // threads running into a library that is about to be unloaded.
  for (TPlayerInfo& Info : FPlayers) {
    if (Info.Port < 0 || Info.OpenState < 2) continue;
    const std::int32_t Port = VendorPort(Info);
    if (Info.OpenKind == DvrType) {
      GuardedCall([&] {
        if (FStop) FStop(Port);
        if (FCloseStream) FCloseStream(Port);
      });
    } else if (Info.OpenKind == 1) {  // a file opened by OpenFile
      GuardedCall([&] {
        if (FStop) FStop(Port);
        if (FCloseFile) FCloseFile(Port);
      });
    } else {
      continue;
    }
    Info.Port = -1;
  }
}

template <class Fn, class... Args>
std::int32_t TDecodeDaHua::CallPort(TFrameHead& Head, Fn Entry, std::int32_t Missing, Args... A) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !Entry) return Missing;
  return Entry(VendorPort(*Info), A...);
}

std::int32_t TDecodeDaHua::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  if (LoadDllFiles(Dir + "PlayDll\\DH\\", DhLibraries) != 0) return -1;
  ZORV_BIND_ENTRIES(DH_ENTRIES, MainModule());
  FState = 2;
  return 0;
}

std::int32_t TDecodeDaHua::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) < 0) return -1;
  if (!FOpenStream) return -1;
  bool Opened = false;
  std::int32_t Result = -1;
  const bool Clean = GuardedCall([&] {
    // The whole frame is the stream head; it is not fed again as data.
    if (!VendorOk(FOpenStream(Player, Data, Head.DataLen, SourceBufferBytes))) return;
    Opened = true;
    TPlayerInfo& Info = FPlayers[Player];
    FChannelPlayer[Head.Group][Head.Channel] = Player;
    Info.HasAudio = 1;
    Info.Port = Player;
    Info.OpenState = 2;
    Info.OpenKind = DvrType;
    if (FSetDisplayBuf) FSetDisplayBuf(Player, DisplayBuffers);
    Info.Group = Head.Group;
    const bool Playing = FPlay && VendorOk(FPlay(Player, Head.Wnd));
    Info.Wnd = Head.Wnd;
    if (!Playing) Win::Sleep(1);
    WriteLog(std::to_string(Player) + "xq打开流成功 --显示画面序号：" + std::to_string(Head.Channel));
    Result = 0;
  });
  // A failure after the library opened the port must not leave it open: the engine frees the
  // entry, and the next open of this port would be refused.
  if (!Clean && Opened) GuardedCall([&] {
      if (FCloseStream) FCloseStream(Player);
    });
  return Clean ? Result : -1;
}

std::int32_t TDecodeDaHua::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const std::int32_t Player = PlayerOf(Head);
  const std::int32_t Port = VendorPort(*Info);
  ReconcileCallBack(Head);
  if (!FInputData) return -1;
  for (int Refused = 0;;) {
    bool Accepted = false;
    GuardedCall([&] { Accepted = VendorOk(FInputData(Port, Data, Head.DataLen)); });
    if (Accepted) return 0;
    Win::Sleep(5);
    WriteLog(std::to_string(Head.Channel) + "xq送入数据失败 --显示画面序号：" + std::to_string(Head.Channel));
    if (++Refused >= InputAttempts) return -1;
    // Closed (or closed and given to another stream) by another thread meanwhile.
    if (FChannelPlayer[Head.Group][Head.Channel] != Player || FPlayers[Player].Port != Port) return -1;
  }
}

std::int32_t TDecodeDaHua::SetStreamOpenMode(TFrameHead& Head, std::int32_t Mode) {
  return CallPort(Head, FSetStreamOpenMode, 0, static_cast<std::uint32_t>(Mode));
}

std::int32_t TDecodeDaHua::GetColor(TFrameHead& Head, std::int32_t Region, std::int32_t* Brightness,
                                    std::int32_t* Contrast, std::int32_t* Saturation, std::int32_t* Hue) {
  return CallPort(Head, FGetColor, -1, static_cast<std::uint32_t>(Region), Brightness, Contrast, Saturation, Hue);
}

std::int32_t TDecodeDaHua::SetColor(TFrameHead& Head, std::int32_t Region, std::int32_t Brightness,
                                    std::int32_t Contrast, std::int32_t Saturation, std::int32_t Hue) {
  return CallPort(Head, FSetColor, -1, static_cast<std::uint32_t>(Region), Brightness, Contrast, Saturation, Hue);
}

std::int32_t TDecodeDaHua::PlaySound(TFrameHead& Head) {
  return DoPlaySound(Head, [&](TPlayerInfo& Info) {
    if (FPlaySound) FPlaySound(VendorPort(Info));
  });
}

std::int32_t TDecodeDaHua::StopSound(TFrameHead& Head) {
  return DoStopSound(Head, [&](TPlayerInfo&) {
    if (FStopSound) FStopSound();
  });
}

std::int32_t TDecodeDaHua::SetVolume(TFrameHead& Head, std::uint16_t Volume) {
  return CallPort(Head, FSetVolume, 0, static_cast<std::uint32_t>(Volume));
}

void TDecodeDaHua::DecodeWithoutDrawing(TFrameHead& Head, std::int32_t Port) {
  ClearBuffer(Head);
  if (FStop) FStop(Port);
  if (FSetDecCallBack) FSetDecCallBack(Port, &DecodeCallBack);
  if (FPlay) FPlay(Port, 0);
}

// The decode callback stays registered; with no host callback it delivers nothing.
void TDecodeDaHua::DrawAgain(TFrameHead& Head, const TPlayerInfo& Info) {
  const std::int32_t Port = VendorPort(Info);
  ClearBuffer(Head);
  if (FStop) FStop(Port);
  if (FPlay) FPlay(Port, Info.Wnd);
  if (FFast)
    for (int i = 0; i < 4; ++i) FFast(Port);
}

std::int32_t TDecodeDaHua::StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  DecodeWithoutDrawing(Head, VendorPort(*Info));
  Info->CallBackProc = CallBack;
  Info->CallBackState = 2;
  return 0;
}

std::int32_t TDecodeDaHua::StartCallBackEx(TFrameHead& Head, std::uintptr_t CallBack) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || Info->CallBackState == 0) return -1;
  if (Info->CallBackState == 2) return 0;
  DecodeWithoutDrawing(Head, VendorPort(*Info));
  Info->CallBackProcEx = CallBack;
  Info->CallBackState = 2;
  return 0;
}

std::int32_t TDecodeDaHua::StopCallBack(TFrameHead& Head) {
  return DoStopCallBack(Head, [&](TPlayerInfo& Info) { DrawAgain(Head, Info); });
}

std::int32_t TDecodeDaHua::StopCallBackEx(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || Info->CallBackState == 0) return 0;
  if (Info->CallBackState == 2) DrawAgain(Head, *Info);
  Info->CallBackProcEx = 0;
  Info->CallBackState = 0;
  return 0;
}

std::int32_t TDecodeDaHua::Play(TFrameHead& Head) {
  CallPort(Head, FPlay, 0, Head.Wnd);
  return 0;
}

std::int32_t TDecodeDaHua::Stop(TFrameHead& Head) { return CallPort(Head, FStop, 0); }

std::int32_t TDecodeDaHua::RefrushWindow(TFrameHead&) { return 0; }
std::int32_t TDecodeDaHua::ResetDisplay(TFrameHead&, std::int32_t) { return 0; }

std::int32_t TDecodeDaHua::ClearBuffer(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FResetBuffer) return -1;
  const std::int32_t Port = VendorPort(*Info);
  for (std::uint32_t Kind = 1; Kind <= 4; ++Kind) FResetBuffer(Port, Kind);
  if (!FResetSourceBuffer) return -1;
  FResetSourceBuffer(Port);
  return 0;
}

std::int32_t TDecodeDaHua::PauseChannel(TFrameHead& Head, std::int32_t Pause) {
  CallPort(Head, FPause, 0, static_cast<std::uint32_t>(Pause));
  return 0;
}

std::int32_t TDecodeDaHua::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const std::int32_t Port = VendorPort(*Info);
  return SnapThroughVendorFile(Size, Buffer, [&](const char* Name) {
    if (FCatchPic) GuardedCall([&] { FCatchPic(Port, Name); });
  });
}

std::int32_t TDecodeDaHua::SnapPictureToFile(TFrameHead& Head, const char* FileName) {
  if (!FileName) return 0;
  return CallPort(Head, FCatchPic, 0, FileName);
}

std::int32_t TDecodeDaHua::StartAviRecord(TFrameHead& Head, std::uintptr_t Value) {
  const char* FileName = reinterpret_cast<const char*>(Value);
  if (!FileName || !FStartDataRecord) return -1;
  return VendorOk(CallPort(Head, FStartDataRecord, 0, FileName, RecordFileType)) ? 0 : -1;
}

std::int32_t TDecodeDaHua::StopAviRecord(TFrameHead& Head) {
  if (!FStartDataRecord || !FStopDataRecord) return -1;
  return VendorOk(CallPort(Head, FStopDataRecord, 0)) ? 0 : -1;
}

std::int32_t TDecodeDaHua::CloseStream(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FStop || !FCloseStream) return -1;
  const std::int32_t Port = VendorPort(*Info);
  bool Closed = false;
  GuardedCall([&] { Closed = VendorOk(FStop(Port)) && VendorOk(FCloseStream(Port)); });
  if (!Closed) return -1;
  Win::Sleep(100);
  TDecodeBase::CloseStream(Head);
  return 0;
}

std::int32_t TDecodeDaHua::SetDecoderVideoExtOutput(TFrameHead&, std::int32_t, std::int32_t, std::uint8_t,
                                                    std::int32_t, std::int32_t, std::int32_t) {
  return 0;
}
std::int32_t TDecodeDaHua::SetDisplayRegion(TFrameHead&, std::int32_t, std::int32_t, void*, std::int32_t) {
  return 0;
}
std::int32_t TDecodeDaHua::InitHardHandle(std::int32_t) { return 0; }
std::int32_t TDecodeDaHua::OutParm(std::int32_t*, std::int32_t*) { return 0; }

std::int32_t TDecodeDaHua::GetFileHeadLength(TFrameHead&) {
  return FGetFileHeadLength ? FGetFileHeadLength() : 0;
}

std::int32_t TDecodeDaHua::OpenFile(TFrameHead& Head, const char* FileName) {
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) < 0) {
    WriteLog("文件头，寻找空闲通道失败;显示画面序号:" + std::to_string(Head.Channel));
    return 0;
  }
  std::int32_t Result = 0;
  if (FOpenFile && FileName) GuardedCall([&] { Result = FOpenFile(Player, FileName); });
  if (!VendorOk(Result)) return Result;
  TPlayerInfo& Info = FPlayers[Player];
  FChannelPlayer[Head.Group][Head.Channel] = Player;
  Info.Port = Player;
  // The decode callback finds the owning channel by port and group.
  Info.Group = Head.Group;
  Info.OpenState = 2;
  Info.OpenKind = 1;
  return Result;
}

std::int32_t TDecodeDaHua::CloseFile(TFrameHead& Head) { return CallPort(Head, FCloseFile, 0); }
std::int32_t TDecodeDaHua::Pause(TFrameHead& Head, std::int32_t Pause) {
  return CallPort(Head, FPause, 0, static_cast<std::uint32_t>(Pause));
}
std::int32_t TDecodeDaHua::Fast(TFrameHead& Head) { return CallPort(Head, FFast, 0); }
std::int32_t TDecodeDaHua::Slow(TFrameHead& Head) { return CallPort(Head, FSlow, 0); }
std::int32_t TDecodeDaHua::OneByOne(TFrameHead& Head) { return CallPort(Head, FOneByOne, 0); }
std::int32_t TDecodeDaHua::SetPlayPos(TFrameHead& Head, double Pos) { return CallPort(Head, FSetPlayPos, 0, Pos); }

double TDecodeDaHua::GetPlayPos(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FGetPlayPos) return 0.0;
  return FGetPlayPos(VendorPort(*Info));
}

std::int32_t TDecodeDaHua::GetFileTime(TFrameHead& Head) { return CallPort(Head, FGetFileTime, 0); }
std::int32_t TDecodeDaHua::GetPlayedTime(TFrameHead& Head) { return CallPort(Head, FGetPlayedTime, 0); }
std::int32_t TDecodeDaHua::SetPlayedTime(TFrameHead& Head, std::int32_t Time) {
  return CallPort(Head, FSetPlayedTimeEx, 0, static_cast<std::uint32_t>(Time));
}
std::int32_t TDecodeDaHua::GetPlayedFrames(TFrameHead& Head) { return CallPort(Head, FGetPlayedFrames, 0); }
std::int32_t TDecodeDaHua::GetFileTotalFrames(TFrameHead& Head) { return CallPort(Head, FGetFileTotalFrames, 0); }
std::int32_t TDecodeDaHua::GetCurrentFrameRate(TFrameHead& Head) { return CallPort(Head, FGetCurrentFrameRate, 0); }
std::int32_t TDecodeDaHua::GetPlayedTimeEx(TFrameHead& Head) { return CallPort(Head, FGetPlayedTimeEx, 0); }
std::int32_t TDecodeDaHua::SetPlayedTimeEx(TFrameHead& Head, std::int32_t Time) {
  return CallPort(Head, FSetPlayedTimeEx, 0, static_cast<std::uint32_t>(Time));
}
std::int32_t TDecodeDaHua::GetCurrentFrameNum(TFrameHead& Head) { return CallPort(Head, FGetCurrentFrameNum, 0); }

void ZORV_STDCALL TDecodeDaHua::DecodeCallBack(std::int32_t Port, std::uint8_t* Buffer, std::int32_t Size,
                                               TDhFrameInfo* Info, std::int32_t, std::int32_t) {
  TEngineUse Engine;  // held until the callback returns: the shutdown waits for it
  if (!Engine) return;
  std::uint32_t Channel = 0;
  std::uint8_t Group = 0;
  if (Engine->FindChannelByPort(DvrType, Port, Channel, Group) != 0 || Engine->GetCallBack(Group, Channel) == 0)
    return;
  if (!Info || !Buffer || Info->Width <= 0 || Info->Height <= 0) return;
  const std::uint64_t Q = static_cast<std::uint64_t>(Info->Width) * static_cast<std::uint64_t>(Info->Height) / 4;
  if (Q == 0 || Size < 0 || 6 * Q > static_cast<std::uint64_t>(Size)) {
    Win::Sleep(1);
    return;
  }
  // In place, without scratch space: no picture size can overrun one.
  ExchangeChromaPlanes(Buffer, static_cast<std::size_t>(Q));
  DeliverPicture(DvrType, Port, Buffer, static_cast<std::uint32_t>(Size), static_cast<std::uint32_t>(Info->Width),
                 static_cast<std::uint32_t>(Info->Height));
}
