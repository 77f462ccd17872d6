#include "U_DecodeTklDvs201.h"

#include <cstring>
#include <vector>

#include "U_DecodeEngine.h"

namespace {

// Snapshot requests, one per player number, shared by every TDecodeTVS of the process.
TCapBMPTable TvsSnapshots;

// Frame types of the frame head that the library is told about.
constexpr std::uint8_t FrameTypeI = 2;
constexpr std::uint8_t FrameTypeAudio = 7;

// Largest picture the decode callback copies out (8192 x 8192).
constexpr std::uint64_t MaxPicturePixels = 8192ull * 8192ull;

}  // namespace

TDecodeTVS::TDecodeTVS() { TDecodeTVS::Create(); }

TDecodeTVS::~TDecodeTVS() {
  // Library streams still open are the host's to close; only the module goes.
  UnloadDllFiles();
  WriteLog("释放");
}

void TDecodeTVS::Create() {
  TDecodeBase::Create();
  ResetCapTable(TvsSnapshots);
  FSpare = 0;
}

std::int32_t TDecodeTVS::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  if (LoadDllFiles(Dir + "PlayDll\\TKLDVS201\\", {"NetPlaySDK.dll"}) != 0) return -1;
  ZORV_BIND_ENTRIES(TVS_ENTRIES, MainModule());
  if (FInitPlayer && FInitPlayer() != 0) Win::Sleep(1);
  FState = 2;
  return 0;
}

std::int32_t TDecodeTVS::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) == -1) {
    WriteLog("文件头，寻找空闲通道失败;显示画面序号:" + std::to_string(Head.Channel));
    return -1;
  }
  // A file head too short to hold a whole system header opens nothing.
  if (!Data || Head.DataLen < SysHeadBytes || !FOpen) return -1;
  std::uint8_t SysHead[SysHeadBytes];
  std::memcpy(SysHead, Data, SysHeadBytes);

  TPlayerInfo& Info = FPlayers[Player];
  FChannelPlayer[Head.Group][Head.Channel] = Player;
  bool Opened = false;
  const bool Clean = GuardedCall([&] {
    const std::int32_t Handle = FOpen(SysHead);
    Info.Port = static_cast<std::int64_t>(Handle);
    if (Handle < 0) return;  // the engine frees the entry
    if (FFlushAllBuff) FFlushAllBuff(Handle);
    Info.OpenState = 2;
    Info.OpenKind = DvrTypeCode;
    Info.Group = Head.Group;
    Info.Wnd = Head.Wnd;
    FHandleCopies[Player] = Handle;
    if (FPlay && FPlay(Handle, Head.Wnd, nullptr, reinterpret_cast<std::uintptr_t>(&FHandleCopies[Player])) != 0)
      Win::Sleep(1);
    Opened = true;
  });
  if (!Clean) {
    WriteLog("文件头，打开流错误;显示画面序号:" + std::to_string(Head.Channel) + "播放器序号:" +
             std::to_string(Player));
    return -1;
  }
  if (!Opened) return -1;
  if (Head.DataLen > MaxFileHeadBytes) WriteLog("201 syshead error");
  return 0;
}

std::int32_t TDecodeTVS::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const std::int32_t Handle = HandleOf(*Info);
  ReconcileCallBack(Head);
  // A frame without a whole time stamp carries nothing to send.
  if (!Data || Head.DataLen < StampBytes) return -1;
  if (!GuardedCall([&] {
        std::uint32_t Stamp = 0;
        std::memcpy(&Stamp, Data, StampBytes);
        const std::int32_t Key = Head.FrameType == FrameTypeI ? 1 : 0;
        const std::int32_t Video = Head.FrameType == FrameTypeAudio ? 0 : -1;
        if (FSendData)
          FSendData(Handle, Data + StampBytes, static_cast<std::int32_t>(Head.DataLen - StampBytes), Stamp, Key,
                    Video);
      }))
    Win::Sleep(1);
  return 0;
}

std::int32_t TDecodeTVS::PlaySound(TFrameHead& Head) {
  return DoPlaySound(Head, [](TPlayerInfo&) {});
}

std::int32_t TDecodeTVS::StopSound(TFrameHead& Head) {
  return DoStopSound(Head, [](TPlayerInfo&) {});
}

std::int32_t TDecodeTVS::StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) {
  return DoStartCallBack(Head, CallBack, [&](TPlayerInfo& Info) {
    ClearBuffer(Head);
    // Played again, now with pictures for the adapter; the handle itself is the user value.
    const std::int32_t Handle = HandleOf(Info);
    const std::uintptr_t User = static_cast<std::uint32_t>(Handle);
    if (FPlay && FPlay(Handle, Head.Wnd, &DecodeCallBack, User) != 0) Win::Sleep(1);
  });
}

std::int32_t TDecodeTVS::StopCallBack(TFrameHead& Head) {
  // The library keeps the decode callback; pictures stop at the host callback table.
  return DoStopCallBack(Head, [&](TPlayerInfo&) { ClearBuffer(Head); });
}

std::int32_t TDecodeTVS::ClearBuffer(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FFlushAllBuff) return -1;
  FFlushAllBuff(HandleOf(*Info));
  return 0;
}

std::int32_t TDecodeTVS::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  if (!FindPlayer(Head)) return -1;
  // Nothing in this library fills the request: the wait ends empty, and the temporary file
  // goes with it.
  return SnapThroughTempFile(TvsSnapshots[PlayerOf(Head)], Size, Buffer);
}

std::int32_t TDecodeTVS::CloseStream(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  if (ClearBuffer(Head) == -1) return -1;
  const std::int32_t Handle = HandleOf(*Info);
  if (FStop) GuardedCall([&] { FStop(Handle); });
  Win::Sleep(100);
  return TDecodeBase::CloseStream(Head);
}

void ZORV_STDCALL TDecodeTVS::DecodeCallBack(const std::uint8_t* Picture, std::uintptr_t, std::uintptr_t,
                                             std::uintptr_t, std::uintptr_t, std::int32_t Width, std::int32_t Height,
                                             std::uintptr_t, const std::int32_t* User) {
  if (Width <= 0 || Height <= 0 || !Picture || !User) return;
  const std::uint64_t Luma = static_cast<std::uint64_t>(Width) * static_cast<std::uint64_t>(Height);
  if (Luma > MaxPicturePixels) return;
  const std::uint32_t Size = static_cast<std::uint32_t>(Luma * 3 / 2);
  const std::size_t Chroma = static_cast<std::size_t>(Luma / 4);
  // One buffer per library thread, reused picture after picture: luma, then both chroma planes.
  thread_local std::vector<std::uint8_t> Buffer;
  Buffer.assign(Size, 0);
  std::memcpy(Buffer.data(), Picture, static_cast<std::size_t>(Luma) + 2 * Chroma);
  DeliverPicture(DvrTypeCode, static_cast<std::int64_t>(*User), Buffer.data(), Size, static_cast<std::uint32_t>(Width),
                 static_cast<std::uint32_t>(Height));
}
