#include "U_DecodeTM.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "U_DecodeEngine.h"
#include "U_FileUtils.h"

namespace {

// Snapshot requests, one per player number (snapshots come from memory; the table is kept
// for the adapter's shape and reset with it).
TCapBMPTable TmSnapshots;

// Largest picture the decode callback copies out (8192 x 8192).
constexpr std::int64_t MaxPicturePixels = 8192ll * 8192ll;

}  // namespace

TDecodeTM::TDecodeTM() { TDecodeTM::Create(); }

TDecodeTM::~TDecodeTM() {
  // Players still open are the host's to close; only the modules go.
  UnloadDllFiles();
  WriteLog("释放");
}

void TDecodeTM::Create() {
  TDecodeBase::Create();
  ResetCapTable(TmSnapshots);
}

std::int32_t TDecodeTM::VendorFrameType(std::uint8_t FrameType) {
  switch (FrameType) {
    case ZORV_FRAME_I: return 14;
    case 3: case 4: case 5: case 6: return 11;
    case ZORV_FRAME_AUDIO: return 13;
    default: return -1;
  }
}

std::uint32_t TDecodeTM::VendorTimeStamp(double FrameTime) {
  if (!std::isfinite(FrameTime)) return 0;
  const double Fraction = FrameTime - std::floor(FrameTime);
  return static_cast<std::uint32_t>(Fraction * 3600.0 * 1000.0);
}

std::int32_t TDecodeTM::LoadLibraries(const std::string& Dir, const char* SubDir) {
  if (LoadDllFiles(Dir + "PlayDll\\" + SubDir, {"mp3decore.dll", "Decoder.dll", "AVPlayer.dll"}) != 0) return -1;
  ZORV_BIND_ENTRIES(TM_COMMON_ENTRIES, MainModule());
  BindEntryPoint(MainModule(), "PB_CapturePictureEx", FCapturePictureEx);
  return 0;
}

std::int32_t TDecodeTM::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  if (LoadLibraries(Dir, "TM\\") != 0) return -1;
  ZORV_BIND_ENTRIES(TM_PLAYER_ENTRIES, MainModule());
  FState = 2;
  return 0;
}

void TDecodeTM::FinishOpen(TFrameHead& Head, const std::uint8_t* Data, std::int32_t Player, std::int32_t Port) {
  TPlayerInfo& Info = FPlayers[Player];
  FChannelPlayer[Head.Group][Head.Channel] = Player;
  Info.Port = Port;
  Info.OpenState = 2;
  Info.OpenKind = DvrTypeCode;
  Info.Group = Head.Group;
  Info.Wnd = Head.Wnd;
  Info.HasAudio = 1;
  InputData(Head, Data);
}

std::int32_t TDecodeTM::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) == -1) {
    WriteLog("文件头，寻找空闲通道失败;显示画面序号:" + std::to_string(Head.Channel));
    return -1;
  }
  std::int32_t Port = Player;
  std::int32_t Result = -1;
  if (FIniPlayer) GuardedCall([&] { Result = FIniPlayer(&Port, Head.Wnd, 0); });
  if (Result != 0) {
    Win::Sleep(1);
    return Result;
  }
  std::int32_t Opened = -1;
  const bool Clean = GuardedCall([&] {
    if (FOpenStream) Opened = FOpenStream(Port);
    if (FStartJitterFilter) FStartJitterFilter(Port, 0);
    if (FSetupJitterFilterFrameCount) FSetupJitterFilterFrameCount(Port, 0, 100);
  });
  if (!Clean) {
    WriteLog("文件头，打开流错误;显示画面序号:" + std::to_string(Head.Channel) + "播放器序号:" +
             std::to_string(Player));
    Win::Sleep(1);
    return -1;
  }
  if (Opened != 0) return -1;
  FinishOpen(Head, Data, Player, Port);
  return 0;
}

std::int32_t TDecodeTM::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  if (Head.FrameType == ZORV_FRAME_AUDIO) PlaySound(Head);
  ReconcileCallBack(Head);
  const std::int32_t Type = VendorFrameType(Head.FrameType);
  if (Type < 0 || !FInputOneFrameData) return -1;
  const std::int32_t Port = PortOf(*Info);
  const std::uint32_t Stamp = VendorTimeStamp(Head.FrameTime);
  std::int32_t Result = -1;
  GuardedCall([&] { Result = FInputOneFrameData(Port, Data, Head.DataLen, static_cast<std::uint8_t>(Type), Stamp); });
  if (Result != 0) Win::Sleep(1);
  return Result;
}

std::int32_t TDecodeTM::PlaySound(TFrameHead& Head) {
  return DoPlaySound(Head, [&](TPlayerInfo& Info) {
    if (FSetAudio) GuardedCall([&] { FSetAudio(PortOf(Info), 1); });
  });
}

std::int32_t TDecodeTM::StopSound(TFrameHead& Head) {
  return DoStopSound(Head, [&](TPlayerInfo& Info) {
    if (FSetAudio) GuardedCall([&] { FSetAudio(PortOf(Info), 0); });
  });
}

std::int32_t TDecodeTM::StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) {
  return DoStartCallBack(Head, CallBack, [&](TPlayerInfo& Info) {
    ClearBuffer(Head);
    if (FRegDecodeDataCallBackEx) GuardedCall([&] { FRegDecodeDataCallBackEx(PortOf(Info), &DecodeCallBack, 0); });
  });
}

std::int32_t TDecodeTM::StopCallBack(TFrameHead& Head) {
  return DoStopCallBack(Head, [&](TPlayerInfo& Info) {
    ClearBuffer(Head);
    if (FRegDecodeDataCallBackEx) GuardedCall([&] { FRegDecodeDataCallBackEx(PortOf(Info), nullptr, 0); });
  });
}

std::int32_t TDecodeTM::ClearBuffer(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FReleaseDecoder) return -1;
  const std::int32_t Port = PortOf(*Info);
  GuardedCall([&] { FReleaseDecoder(Port); });
  return 0;
}

std::int32_t TDecodeTM::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || !FCapturePictureEx) return -1;
  const std::int32_t Port = PortOf(*Info);
  std::uint8_t* Data = nullptr;
  std::int32_t Length = 0;
  if (!GuardedCall([&] { FCapturePictureEx(Port, &Data, &Length); })) return -1;
  if (Length > MaxSnapBytes) {
    Win::Sleep(1);
    return -1;
  }
  // Nothing captured, or a length the library cannot mean.
  if (Length <= 0 || !Data || !Buffer || !*Buffer) return -1;
  std::memcpy(*Buffer, Data, static_cast<std::size_t>(Length));
  if (Size) BmpPictureSize(std::string(reinterpret_cast<const char*>(*Buffer), static_cast<std::size_t>(Length)), Size);
  return Length;
}

std::int32_t TDecodeTM::CloseStream(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const std::int32_t Port = PortOf(*Info);
  const std::string Channel = std::to_string(Head.Channel);
  WriteLog("Decoderdll 开始关闭流;显示画面序号:" + Channel + "播放器序号:" + std::to_string(Port));
  if (ClearBuffer(Head) == -1) return -1;
  const bool Clean = GuardedCall([&] {
    if (FSetAudio) FSetAudio(Port, 0);
    if (FRegDecodeDataCallBackEx) FRegDecodeDataCallBackEx(Port, nullptr, 0);
    if (FStopStream) FStopStream(Port);
  });
  if (!Clean) WriteLog("Decoderdll 关闭流失败; 显示画面序号:" + Channel + "播放器序号:");
  if (FCloseStream) GuardedCall([&] { FCloseStream(Port); });
  if (FRelease) GuardedCall([&] { FRelease(Port); });
  WriteLog("Decoderdll 关闭流成功;显示画面序号:" + Channel + "播放器序号:" + std::to_string(Port));
  Win::Sleep(10);
  return TDecodeBase::CloseStream(Head);
}

void ZORV_STDCALL TDecodeTM::DecodeCallBack(std::int32_t Port, const std::uint8_t* Y, const std::uint8_t* U,
                                            const std::uint8_t* V, std::int32_t Width, std::int32_t Height,
                                            std::int32_t, std::int32_t) {
  const std::int64_t Pixels = static_cast<std::int64_t>(Width) * Height;
  const std::int64_t Quarter = Pixels / 4;
  if (Quarter == 0) {
    Win::Sleep(1);
    return;
  }
  // Negative or absurd sizes, or missing planes, carry no picture to copy.
  if (Quarter < 0 || Pixels > MaxPicturePixels || !Y || !U || !V) return;
  TEngineUse Engine;  // held until the callback returns: the shutdown waits for it
  if (!Engine) return;
  std::uint32_t Channel = 0;
  std::uint8_t Group = 0;
  if (Engine->FindChannelByPort(DvrTypeCode, Port, Channel, Group) != 0) return;
  if (Engine->GetCallBack(Group, Channel) == 0) return;
  const std::size_t Q = static_cast<std::size_t>(Quarter);
  // One buffer per library thread, reused picture after picture: Y, then U, then V.
  thread_local std::vector<std::uint8_t> Picture;
  Picture.resize(6 * Q);
  std::memcpy(Picture.data(), Y, 4 * Q);
  std::memcpy(Picture.data() + 4 * Q, U, Q);
  std::memcpy(Picture.data() + 5 * Q, V, Q);
  DeliverToChannel(DvrTypeCode, Group, Channel, Picture.data(), static_cast<std::uint32_t>(6 * Q),
                   static_cast<std::uint32_t>(Width), static_cast<std::uint32_t>(Height));
}
