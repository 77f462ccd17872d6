// TDecodeHB18: the HB player adapter (see U_DecodeHB18.h).
#include "U_DecodeHB18.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "U_DecodeEngine.h"

namespace {

// Snapshot requests by port, for the whole unit: the snapshot callback has no adapter to ask.
TCapBMPTable HbCapTable;
// HB_PLAY_ConvertToBMPFile, bound by the loaded adapter, for the snapshot callback.
std::atomic<TDecodeHB18::TConvertToBMPFile> HbConvertToBMPFile{nullptr};

}  // namespace

TDecodeHB18::TDecodeHB18() { Create(); }

void TDecodeHB18::Create() {
  TDecodeBase::Create();
  ResetCapTable(HbCapTable);
}

TDecodeHB18::~TDecodeHB18() {
  HbConvertToBMPFile = nullptr;
  HB_ENTRIES(ZORV_CLEAR_ENTRY)
  UnloadDllFiles();
  WriteLog("释放");
}

std::int32_t TDecodeHB18::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  if (LoadDllFiles(Dir + "PlayDll\\HB\\", {"HBPlaySDK.dll"}) != 0) return -1;
  const Win::HMODULE Module = MainModule();
  ZORV_BIND_ENTRIES(HB_ENTRIES, Module);
  TConvertToBMPFile Convert = nullptr;
  BindEntryPoint(Module, "HB_PLAY_ConvertToBMPFile", Convert);
  HbConvertToBMPFile = Convert;
  FState = 2;
  return 0;
}

// ---- stream ------------------------------------------------------------------------------------

std::int32_t TDecodeHB18::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  std::int32_t Port = -1;
  if (GetFreePlayer(Head, Port) < 0) {
    WriteLog("文件头，寻找空闲通道失败;显示画面序号:" + std::to_string(Head.Channel));
    return -1;
  }
  const std::string ChannelAndPort = std::to_string(Head.Channel) + "播放器序号:" + std::to_string(Port);
  std::int32_t Result = -1;
  bool Opened = false;
  const bool Completed = GuardedCall([&] {
    // The library reads 64 head bytes whatever the frame's length: a shorter file head frame
    // is handed over zero-padded, so that nothing beyond the host's bytes is read.
    std::uint8_t StreamHead[StreamHeadSize] = {};
    if (Data) std::memcpy(StreamHead, Data, std::min<std::uint32_t>(Head.DataLen, StreamHeadSize));
    if (FSetPicQuality) FSetPicQuality(Port, PictureQuality);
    if (FSetStreamOpenMode) FSetStreamOpenMode(Port, StreamOpenMode);
    if (!FOpenStream || !VendorOk(FOpenStream(Port, StreamHead, StreamHeadSize, OpenBufferKind))) {
      WriteLog(std::string(Head.FrameType == ZORV_FRAME_FILEHEAD ? "文件头" : "hik不是文件头") +
               "，打开流失败;显示画面序号:" + ChannelAndPort);
      return;
    }
    Opened = true;
    TPlayerInfo& Info = FPlayers[Port];
    FChannelPlayer[Head.Group][Head.Channel] = Port;
    Info.Port = Port;
    Info.OpenState = 2;
    Info.OpenKind = 1;
    Info.Group = Head.Group;
    if (FSetSnapShotCallBack) FSetSnapShotCallBack(Port, SnapShotCallBack);
    if (FPlayEx)
      FPlayEx(Port, Head.Wnd);
    else if (FPlay)
      FPlay(Port, Head.Wnd);
    Info.Wnd = Head.Wnd;
    Info.HasAudio = 1;  // every HB stream counts as having sound
    Result = 0;
  });
  if (Completed) return Result;
  WriteLog("文件头，打开流错误;显示画面序号:" + ChannelAndPort);
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

template <class F>
void TDecodeHB18::DecodeWithTries(std::int32_t Port, const char* Name, F&& Decode) {
  for (int Try = 0; Try < DecodeTries; ++Try) {
    if (Decode() != 0) return;
    Win::Sleep(1);
  }
  WriteLog("Chl " + std::to_string(Port) + " " + Name + " fail");
}

std::int32_t TDecodeHB18::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  const std::int32_t Port = ChannelPort(Head);
  if (Port < 0) return -1;
  const bool Audio = Head.FrameType == ZORV_FRAME_AUDIO;
  if (Audio) PlaySound(Head);
  ReconcileCallBack(Head);
  auto* Bytes = const_cast<std::uint8_t*>(Data);
  const std::uint32_t Length = Head.DataLen;
  // A refused or failing frame is dropped: the result is 0 whatever the library says.
  GuardedCall([&] {
    if (!FDecodeOneFrame) {
      if (FInputData) FInputData(Port, Bytes, Length, 0);
    } else if (Audio) {
      // Without an audio decoder sound frames are dropped.
      if (FDecodeAudioFrame)
        DecodeWithTries(Port, "HB_PLAY_DecodeAudioFrame", [&] { return FDecodeAudioFrame(Port, Bytes, Length); });
    } else {
      DecodeWithTries(Port, "HB_PLAY_DecodeOneFrame", [&] { return FDecodeOneFrame(Port, Bytes, Length, 1); });
    }
  });
  return 0;
}

std::int32_t TDecodeHB18::ClearBuffer(TFrameHead& Head) {
  const std::int32_t Port = ChannelPort(Head);
  if (Port < 0 || !FResetSourceBufFlag) return -1;
  FResetSourceBufFlag(Port);
  return 0;
}

std::int32_t TDecodeHB18::CloseStream(TFrameHead& Head) {
  const std::int32_t Port = ChannelPort(Head);
  if (Port < 0) return -1;
  if (ClearBuffer(Head) == -1) return -1;
  if (!FStop || !VendorOk(FStop(Port))) return -1;
  if (!FCloseStream || !VendorOk(FCloseStream(Port))) return -1;
  Win::Sleep(100);
  TDecodeBase::CloseStream(Head);
  return 0;
}

// ---- sound -------------------------------------------------------------------------------------

std::int32_t TDecodeHB18::PlaySound(TFrameHead& Head) {
  return DoPlaySound(Head, [this](TPlayerInfo& Info) {
    if (FPlaySound) FPlaySound(static_cast<std::int32_t>(Info.Port.Get()));
  });
}

std::int32_t TDecodeHB18::StopSound(TFrameHead& Head) {
  return DoStopSound(Head, [this](TPlayerInfo& Info) {
    if (FCloseSound) FCloseSound(static_cast<std::int32_t>(Info.Port.Get()));
  });
}

// ---- callbacks ---------------------------------------------------------------------------------

// The decode callback is registered and taken back without stopping or restarting the port.
std::int32_t TDecodeHB18::StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) {
  return DoStartCallBack(Head, CallBack, [this](TPlayerInfo& Info) {
    if (FSetDecCallBack) FSetDecCallBack(static_cast<std::int32_t>(Info.Port.Get()), DecodeCallBack, 1);
  });
}

std::int32_t TDecodeHB18::StopCallBack(TFrameHead& Head) {
  return DoStopCallBack(Head, [this](TPlayerInfo& Info) {
    if (FSetDecCallBack) FSetDecCallBack(static_cast<std::int32_t>(Info.Port.Get()), nullptr, 1);
  });
}

void ZORV_STDCALL TDecodeHB18::DecodeCallBack(std::int32_t Port, char* Buffer, std::int32_t Size,
                                              const std::int32_t* FrameInfo, std::int32_t, std::int32_t) {
  TVendorPicture Frame;
  // The library's picture goes to the host as it is, also a short one (after the log lines):
  // TDecFrameInfo.Size tells the host how many bytes it holds.
  if (!ReadVendorPicture(FrameInfo, Size, Frame) || Size <= 0) return;
  DeliverPicture(DvrTypeCode, Port, reinterpret_cast<const std::uint8_t*>(Buffer), static_cast<std::uint32_t>(Size),
                 static_cast<std::uint32_t>(Frame.Width), static_cast<std::uint32_t>(Frame.Height));
}

// ---- snapshots ---------------------------------------------------------------------------------

void ZORV_STDCALL TDecodeHB18::SnapShotCallBack(std::int32_t Port, std::int32_t Size, char* Buffer, std::int32_t Width,
                                                std::int32_t Height, std::int32_t Type) {
  if (Port < 0 || Port >= PlayerCount) return;
  ServeCapRequest(HbCapTable[Port], [&](std::string& FileName) {
    const TConvertToBMPFile Convert = HbConvertToBMPFile.load();
    if (Convert) Convert(Port, Buffer, Size, Width, Height, Type, FileName.data());
    return true;  // the library's result is not relied on: the request is served either way
  });
}

std::int32_t TDecodeHB18::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  const std::int32_t Port = ChannelPort(Head);
  if (Port < 0) return -1;
  // The library calls the snapshot callback on its own thread: the wait only sleeps.
  return SnapThroughTempFile(HbCapTable[Port], Size, Buffer, false);
}
