// TDecodeHuangHePlay: the HuangHe player adapter (see U_DecodeHuangHePlay.h).
#include "U_DecodeHuangHePlay.h"

#include <cstring>
#include <memory>

#include "U_DecodeEngine.h"
#include "U_FileUtils.h"

namespace {

// Snapshot requests by port, for the whole unit.
TCapBMPTable HuangHeCapTable;

}  // namespace

TDecodeHuangHePlay::TDecodeHuangHePlay() { Create(); }

void TDecodeHuangHePlay::Create() {
  TDecodeBase::Create();
  ResetCapTable(HuangHeCapTable);
  FSpare = 0;
}

TDecodeHuangHePlay::~TDecodeHuangHePlay() {
  if (FReleaseSDK) GuardedCall([&] { FReleaseSDK(); });
  HUANGHE_ENTRIES(ZORV_CLEAR_ENTRY)
  UnloadDllFiles();
  WriteLog("释放");
}

std::int32_t TDecodeHuangHePlay::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  // The decoder first, then the player library, whose entry points are bound.
  if (LoadDllFiles(Dir + "PlayDll\\HuangHe\\", {"hi_h264dec.dll", "HH5PlayerSDK.dll"}) != 0) return -1;
  ZORV_BIND_ENTRIES(HUANGHE_ENTRIES, MainModule());
  if (FInitSDK && FInitSDK(Param) == 0) Win::Sleep(1);
  FState = 2;
  return 0;
}

// ---- stream ------------------------------------------------------------------------------------

std::int32_t TDecodeHuangHePlay::OpenStream(TFrameHead& Head, const std::uint8_t*) {
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) < 0) {
    WriteLog("decoderdll 文件头，寻找空闲通道失败;显示画面序号:" + std::to_string(Head.Channel));
    return -1;
  }
  FStreamParam[Player] = static_cast<std::int32_t>(Head.DataLen) - 1;
  const TPort Port = static_cast<TPort>(Player & 0xFFFF);
  // The library opens the port for the window; the file head's bytes stay with the adapter.
  bool Opened = false;
  const bool Completed = GuardedCall([&] {
    Opened = FInitPlayer && FInitPlayer(Port, Head.Wnd) == 0 && FOpenStream && FOpenStream(Port) == 0;
  });
  const std::string Prefix = Head.FrameType == ZORV_FRAME_FILEHEAD ? "文件头" : "hik不是文件头";
  if (!Completed) {
    WriteLog(Prefix + " decoderdll,打开流错误;显示画面序号:" + ChannelAndPlayer(Head.Channel, Player));
    Win::Sleep(1);
    return -1;
  }
  if (!Opened) {
    WriteLog(Prefix + " decoderdll,打开流失败;显示画面序号:" + ChannelAndPlayer(Head.Channel, Player));
    return -1;
  }
  WriteLog("decoderdll 文件头，打开流成功;显示画面序号:" + ChannelAndPlayer(Head.Channel, Player));
  TPlayerInfo& Info = FPlayers[Player];
  FChannelPlayer[Head.Group][Head.Channel] = Player;
  Info.Port = Player;
  Info.OpenState = 2;
  Info.OpenKind = Head.DvrType;
  Info.Group = Head.Group;
  if (Info.Wnd == 0) Info.Wnd = Head.Wnd;
  Info.HasAudio = 1;
  return 0;
}

std::int32_t TDecodeHuangHePlay::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const std::int32_t Player = static_cast<std::int32_t>(Info->Port.Get());
  if (Head.FrameType == ZORV_FRAME_AUDIO) PlaySound(Head);
  ReconcileCallBack(Head);
  // Every frame, audio included, goes to the port with the stream's parameter.
  if (FPutDecStreamData && Player < PlayerCount) {
    const TPort Port = static_cast<TPort>(Player & 0xFFFF);
    const std::int32_t Param = FStreamParam[Player];
    if (!GuardedCall([&] { FPutDecStreamData(Port, Data, Head.DataLen, Param); })) Win::Sleep(1);
  }
  return 0;
}

std::int32_t TDecodeHuangHePlay::ClearBuffer(TFrameHead& Head) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FClearAllBuffer) return -1;
  FClearAllBuffer(VendorPort(*Info));
  return 0;
}

std::int32_t TDecodeHuangHePlay::CloseStream(TFrameHead& Head) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const TPort Port = VendorPort(*Info);
  WriteLog("decoderdll 开始关闭流;显示画面序号:" + ChannelAndPlayer(Head.Channel, Info->Port.Get()));
  if (ClearBuffer(Head) == -1) return -1;
  // The first refusal ends the close; the player stays allocated.
  for (auto Step : {FStopStream, FCloseStream, FReleasePlayer})
    if (Step && Step(Port) == -1) return -1;
  Win::Sleep(100);
  TDecodeBase::CloseStream(Head);
  return 0;
}

std::int32_t TDecodeHuangHePlay::Stop(TFrameHead& Head) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FStopStream) return 0;
  return FStopStream(VendorPort(*Info)) == 0 ? 1 : 0;
}

// ---- sound -------------------------------------------------------------------------------------

std::int32_t TDecodeHuangHePlay::PlaySound(TFrameHead& Head) {
  if (!FindPlayer(Head)) return -1;
  if (!FSetAudio) return 0;
  return DoPlaySound(Head, [this](TPlayerInfo& Info) { FSetAudio(VendorPort(Info), 1); });
}

std::int32_t TDecodeHuangHePlay::StopSound(TFrameHead& Head) {
  return DoStopSound(Head, [this](TPlayerInfo& Info) {
    if (FSetAudio) FSetAudio(VendorPort(Info), 0);
  });
}

std::int32_t TDecodeHuangHePlay::SetVolume(TFrameHead& Head, std::uint16_t Volume) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FSetVolume) return 0;
  return FSetVolume(VendorPort(*Info), Volume) == 0 ? 1 : 0;
}

// ---- callbacks ---------------------------------------------------------------------------------

bool TDecodeHuangHePlay::OtherCallBackRunning(const TPlayerInfo* Except) const {
  for (const TPlayerInfo& Info : FPlayers)
    if (&Info != Except && Info.Port >= 0 && Info.CallBackState == 2 && Info.CallBackProc != 0) return true;
  return false;
}

std::int32_t TDecodeHuangHePlay::StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) {
  return DoStartCallBack(Head, CallBack, [&](TPlayerInfo&) {
    ClearBuffer(Head);
    if (FRegYUVDataCallBack) FRegYUVDataCallBack(YUVDataCallBack, 1);
  });
}

std::int32_t TDecodeHuangHePlay::StopCallBack(TFrameHead& Head) {
  // The library has one YUV callback for all ports: it is taken back only when no other
  // channel still wants pictures through it.
  return DoStopCallBack(Head, [&](TPlayerInfo& Info) {
    if (FRegYUVDataCallBack && !OtherCallBackRunning(&Info)) FRegYUVDataCallBack(nullptr, 1);
  });
}

std::int32_t TDecodeHuangHePlay::StartCallBackEx(TFrameHead& Head, std::uintptr_t CallBack) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || Info->CallBackState == 0) return -1;
  if (Info->CallBackState == 2) return 0;
  ClearBuffer(Head);
  Info->CallBackProcEx = CallBack;
  Info->CallBackState = 2;
  return 0;
}

std::int32_t TDecodeHuangHePlay::StopCallBackEx(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (Info && Info->CallBackState != 0) {
    Info->CallBackProcEx = 0;
    Info->CallBackState = 0;
  }
  return 0;
}

void ZORV_STDCALL TDecodeHuangHePlay::YUVDataCallBack(std::uint32_t Port, const std::uint8_t* Y, const std::uint8_t* U,
                                                      const std::uint8_t* V, std::uint32_t PictureSize) {
  // A picture smaller than 352 x 288 is read and handed on at its own size, never beyond its
  // planes; any other picture is taken as 352 x 288.
  std::uint32_t Width = PictureWidth;
  std::uint32_t Height = PictureHeight;
  const std::uint32_t OwnWidth = PictureSize & 0xFFFF;
  const std::uint32_t OwnHeight = PictureSize >> 16;
  if (OwnWidth != 0 && OwnHeight != 0 && OwnWidth * OwnHeight < PictureWidth * PictureHeight) {
    Width = OwnWidth;
    Height = OwnHeight;
  }
  TEngineUse Engine;  // held until the callback returns: the shutdown waits for it
  std::uint32_t Channel = 0;
  std::uint8_t Group = 0;
  if (!Engine || !Y || !U || !V) return;
  if (Engine->FindChannelByPort(DvrTypeCode, Port & 0xFFFF, Channel, Group) != 0) return;
  if (Engine->GetCallBack(Group, Channel) == 0) return;
  const std::size_t Luma = static_cast<std::size_t>(Width) * Height;
  const std::size_t Chroma = static_cast<std::size_t>(Width / 2) * (Height / 2);
  const std::size_t Size = Luma + 2 * Chroma;
  std::unique_ptr<std::uint8_t[]> Picture(new std::uint8_t[Size]);
  std::uint8_t* Out = Picture.get();
  if (!GuardedCall([&] {
        std::memcpy(Out, Y, Luma);
        std::memcpy(Out + Luma, U, Chroma);
        std::memcpy(Out + Luma + Chroma, V, Chroma);
      }))
    Win::Sleep(1);
  DeliverToChannel(DvrTypeCode, Group, Channel, Out, static_cast<std::uint32_t>(Size), Width, Height);
}

// ---- snapshots ---------------------------------------------------------------------------------

std::int32_t TDecodeHuangHePlay::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const TPort Port = VendorPort(*Info);
  TCapBMP& Entry = HuangHeCapTable[Port % PlayerCount];
  const std::string TempName = MakeSnapTempName();
  {
    std::lock_guard<std::mutex> Hold(Entry.Lock);
    Entry.FileName = TempName;
    Entry.Done = 0;
  }
  // The library hands its picture over in memory; the temporary file only marks the request
  // and goes whatever came of the capture.
  std::uint8_t* Data = nullptr;
  std::uint32_t Bytes = 0;
  const bool Completed = GuardedCall([&] {
    if (FCaptureOnePicture) FCaptureOnePicture(Port, &Data, &Bytes);
  });
  std::int32_t Result = -1;
  const std::int32_t Length = static_cast<std::int32_t>(Bytes);
  if (Completed && Data && Length > 0 && Buffer && *Buffer) {
    std::uint8_t* Target = *Buffer;
    if (GuardedCall([&] { std::memcpy(Target, Data, static_cast<std::size_t>(Length)); })) {
      if (Size) BmpPictureSize(std::string(reinterpret_cast<const char*>(Target), static_cast<std::size_t>(Length)), Size);
      Result = Length;
    }
  }
  if (!TempName.empty()) Win::DeleteFileA(TempName.c_str());
  return Result;
}

std::int32_t TDecodeHuangHePlay::SnapPictureToFile(TFrameHead& Head, const char* FileName) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return 0;
  return SnapToFileAndWait(HuangHeCapTable[VendorPort(*Info) % PlayerCount], FileName);
}

// ---- file playback -----------------------------------------------------------------------------

std::int32_t TDecodeHuangHePlay::OpenFile(TFrameHead& Head, const char* FileName) {
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) < 0) {
    WriteLog("decoderdll 文件头，寻找空闲通道失败;显示画面序号:" + std::to_string(Head.Channel));
    return 0;
  }
  std::uint32_t Out = 0;
  if (!FOpenStreamFileM || FOpenStreamFileM(static_cast<TPort>(Player & 0xFFFF), FileName, 1, &Out) != 0) return 0;
  TPlayerInfo& Info = FPlayers[Player];
  FChannelPlayer[Head.Group][Head.Channel] = Player;
  Info.Port = Player;
  Info.OpenState = 2;
  Info.Group = Head.Group;  // lets the YUV callback find the file's channel
  return 1;
}

std::int32_t TDecodeHuangHePlay::CloseFile(TFrameHead& Head) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FStop) return 0;
  return FStop(VendorPort(*Info)) == 0 ? 1 : 0;
}

std::int32_t TDecodeHuangHePlay::Pause(TFrameHead& Head, std::int32_t) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FPause) return 0;
  return FPause(VendorPort(*Info)) == 0 ? 1 : 0;
}

std::int32_t TDecodeHuangHePlay::Fast(TFrameHead& Head) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FFastPlay) return 0;
  return FFastPlay(VendorPort(*Info), 2) == 0 ? 1 : 0;
}

std::int32_t TDecodeHuangHePlay::OneByOne(TFrameHead& Head) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FFrameGO) return 0;
  return FFrameGO(VendorPort(*Info)) == 0 ? 1 : 0;
}

std::int32_t TDecodeHuangHePlay::GetFileTime(TFrameHead& Head) {
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FGetStreamFileInfo) return 0;
  std::uint32_t Values[4] = {};
  FGetStreamFileInfo(VendorPort(*Info), &Values[0], &Values[1], &Values[2], &Values[3]);
  return static_cast<std::int32_t>(Values[0]);
}
