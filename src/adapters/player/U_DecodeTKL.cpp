#include "U_DecodeTKL.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "U_DecodeEngine.h"

namespace {

// Snapshot requests, one per player number, shared by every TDecodeTKL of the process.
TCapBMPTable TklSnapshots;

// The libraries of "PlayDll\TKL\", dependencies first, the player last.
const std::vector<std::string> TklLibraries = {
    "ave9kdec.dll",   "Decoder6ks.dll",  "Decoder7k2.dll",     "Decoder7k.dll", "DllDeinterlace.dll",
    "h264dec.dll",    "HardDecoder.dll", "hi_h264dec.dll",     "hi_h264dec_w.dll", "libmad21.dll",
    "Mp4Dec.dll",     "TKL_H264Dec.dll", "TKL_Player.dll"};

constexpr float PlaySpeed = 9.0f;
// Byte of the stream head that says whether the stream carries sound (3 = video and audio).
constexpr std::size_t SystemFormatByte = 16;
constexpr std::uint8_t SystemVideoAudio = 3;


}  // namespace

TDecodeTKL::TDecodeTKL() { TDecodeTKL::Create(); }

TDecodeTKL::~TDecodeTKL() {
  // Library players still open are the host's to close; only the modules go.
  UnloadDllFiles();
  WriteLog("释放");
}

void TDecodeTKL::Create() {
  TDecodeBase::Create();
  ResetCapTable(TklSnapshots);
  FSpare = 0;
}

bool TDecodeTKL::StreamKindOf(const std::uint8_t* Data, std::uint32_t Length, std::int32_t& Kind,
                              std::uint32_t& HeaderSize) {
  static const std::uint8_t Mpeg[4] = {0x00, 0x00, 0x01, 0xB2};
  static const std::uint8_t Trks[4] = {'T', 'R', 'K', 'S'};
  Kind = -1;
  HeaderSize = 0;
  if (!Data || Length < 4) return false;
  if (std::memcmp(Data, Mpeg, 4) == 0) {
    Kind = KindMpeg;
    HeaderSize = MpegHeaderSize;
  } else if (std::memcmp(Data, Trks, 4) == 0) {
    Kind = KindTrks;
    HeaderSize = TrksHeaderSize;
  }
  return Kind != -1;
}

std::int32_t TDecodeTKL::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  if (LoadDllFiles(Dir + "PlayDll\\TKL\\", TklLibraries) != 0) return -1;
  ZORV_BIND_ENTRIES(TKL_ENTRIES, MainModule());
  FState = 2;
  return 0;
}

std::int32_t TDecodeTKL::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) == -1) {
    WriteLog("文件头，寻找空闲通道失败;显示画面序号:" + std::to_string(Head.Channel));
    return -1;
  }
  std::int32_t Kind = -1;
  std::uint32_t HeaderSize = 0;
  if (!StreamKindOf(Data, Head.DataLen, Kind, HeaderSize)) return -1;
  if (!FCreatePlayer || !FStreamOpen) return -1;
  // The player reads a whole stream header; a shorter file head is handed over zero-padded
  // rather than letting the player read past the host's bytes.
  std::vector<std::uint8_t> Header(HeaderSize, 0);
  std::memcpy(Header.data(), Data, std::min(Head.DataLen, HeaderSize));
  Win::RECT Rect{};
  Win::GetWindowRect(Head.Wnd, &Rect);

  TPlayerInfo& Info = FPlayers[Player];
  FChannelPlayer[Head.Group][Head.Channel] = Player;
  bool Opened = false;
  bool Created = false;
  std::uint32_t Handle = 0;
  const bool Clean = GuardedCall([&] {
    Handle = FCreatePlayer(Kind, 0);
    Created = true;
    Info.Port = static_cast<std::int64_t>(Handle);
    if (FSetVideoWindow) FSetVideoWindow(Handle, Head.Wnd, &Rect);
    if (FSetDisplayMode) FSetDisplayMode(Handle, 0, 0);
    if (FStreamEmptyBuf) FStreamEmptyBuf(Handle);
    Opened = VendorOk(FStreamOpen(Handle, Header.data(), HeaderSize, 0));
    if (!Opened) {
      // Nothing refers to this library player any more: give it back.
      if (FReleasePlayer) FReleasePlayer(Handle);
      return;
    }
    Info.OpenState = 2;
    Info.OpenKind = DvrTypeCode;
    Info.Group = Head.Group;
    if (FStreamEnableDataDriven) FStreamEnableDataDriven(Handle, 1);
    if (FSetPlaySpeed) FSetPlaySpeed(Handle, PlaySpeed);
    if (FPlay) FPlay(Handle);
    Info.Wnd = Head.Wnd;
    // Bytes after the stream head are the first stream data: offered once.
    if (Head.DataLen > StreamHeadBytes && FStreamWriteToBuf)
      FStreamWriteToBuf(Handle, Data + StreamHeadBytes, Head.DataLen - StreamHeadBytes, 1, 0, 0);
    Info.HasAudio = Header[SystemFormatByte] == SystemVideoAudio ? 1 : 0;
  });
  if (!Clean) {
    WriteLog("文件头，打开流错误;显示画面序号:" + ChannelAndPlayer(Head.Channel, Player));
    Win::Sleep(1);
    if (Created && FReleasePlayer) GuardedCall([&] { FReleasePlayer(Handle); });
    return -1;
  }
  if (!Opened) {
    WriteLog("文件头，打开流失败;显示画面序号:" + ChannelAndPlayer(Head.Channel, Player));
    return -1;
  }
  return 0;
}

std::int32_t TDecodeTKL::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const std::int32_t Player = PlayerOf(Head);
  const std::uint32_t Handle = HandleOf(*Info);
  ReconcileCallBack(Head);
  std::int32_t Result = 0;
  if (!GuardedCall([&] { Result = WriteFrame(Head, Player, Handle, Data, Head.DataLen); })) Win::Sleep(1);
  return Result;
}

std::int32_t TDecodeTKL::WriteFrame(const TFrameHead& Head, std::int32_t Player, std::uint32_t Handle,
                                    const std::uint8_t* Data, std::uint32_t Length) {
  if (!FStreamWriteToBuf) return -1;
  for (int Attempt = 0;;) {
    // The player takes the frame when it answers with the complement of its length.
    const std::int32_t Written = FStreamWriteToBuf(Handle, Data, Length, 1, 0, 0);
    if (static_cast<std::uint32_t>(~Written) == Length) return 0;
    Win::Sleep(WriteRetryMs);
    if (++Attempt >= WriteAttempts) return -1;
    // A close (or a new stream) on the channel meanwhile ends the retries: the handle is gone.
    if (PlayerOf(Head) != Player || FPlayers[Player].Port != static_cast<std::int64_t>(Handle)) return -1;
  }
}

std::int32_t TDecodeTKL::PlaySound(TFrameHead& Head) {
  return DoPlaySound(Head, [&](TPlayerInfo& Info) {
    if (FEnableAudio) FEnableAudio(HandleOf(Info), -1);
  });
}

std::int32_t TDecodeTKL::StopSound(TFrameHead& Head) {
  return DoStopSound(Head, [&](TPlayerInfo& Info) {
    if (FEnableAudio) FEnableAudio(HandleOf(Info), 0);
  });
}

std::int32_t TDecodeTKL::StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) {
  return DoStartCallBack(Head, CallBack, [&](TPlayerInfo& Info) {
    ClearBuffer(Head);
    if (FRegisterDecCallBack && VendorOk(FRegisterDecCallBack(HandleOf(Info), &DecodeCallBack, 0, -1)))
      Win::Sleep(1);
  });
}

std::int32_t TDecodeTKL::StopCallBack(TFrameHead& Head) {
  return DoStopCallBack(Head, [&](TPlayerInfo& Info) {
    ClearBuffer(Head);
    if (FUnRegisterDecCallBack) FUnRegisterDecCallBack(HandleOf(Info));
  });
}

std::int32_t TDecodeTKL::ClearBuffer(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FStreamEmptyBuf) return -1;
  FStreamEmptyBuf(HandleOf(*Info));
  return 0;
}

std::int32_t TDecodeTKL::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  if (!FindPlayer(Head)) return -1;
  // No display callback of this library fills the request: the wait ends empty, and the
  // temporary file goes with it.
  return SnapThroughTempFile(TklSnapshots[PlayerOf(Head)], Size, Buffer);
}

std::int32_t TDecodeTKL::CloseStream(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  if (ClearBuffer(Head) == -1) return -1;
  const std::uint32_t Handle = HandleOf(*Info);
  bool Stopped = false;
  GuardedCall([&] { Stopped = FStop && VendorOk(FStop(Handle)); });
  if (!Stopped) return -1;  // the player stays open
  if (FReleasePlayer) GuardedCall([&] { FReleasePlayer(Handle); });
  Win::Sleep(100);
  return TDecodeBase::CloseStream(Head);
}

void ZORV_STDCALL TDecodeTKL::DecodeCallBack(std::uint32_t Handle, const std::uint8_t* Picture, std::int32_t Size,
                                             const TFrameInfo* Info, std::uint32_t /*User*/) {
  if (!Info || !Picture || Size < 0) return;
  const std::int32_t Width = Info->Width;
  const std::int32_t Height = Info->Height;
  if (Width <= 0 || Height <= 0) return;
  DeliverPicture(DvrTypeCode, static_cast<std::int64_t>(Handle), Picture, static_cast<std::uint32_t>(Size),
                 static_cast<std::uint32_t>(Width), static_cast<std::uint32_t>(Height));
}
