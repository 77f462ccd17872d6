#include "U_DecodeTMDVS_PB.h"

#include <cstring>
#include <vector>

#include "U_DecodeEngine.h"

TDecodeTMDVS_PB::TDecodeTMDVS_PB() = default;

TDecodeTMDVS_PB::~TDecodeTMDVS_PB() = default;

std::int32_t TDecodeTMDVS_PB::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  if (LoadLibraries(Dir, "TMDVS\\") != 0) return -1;
  BindEntryPoint(MainModule(), "PB_IniPlayer", FIniPlayer);
  BindEntryPoint(MainModule(), "PB_RegisgerCallBack", FRegisgerCallBack);
  FState = 2;
  return 0;
}

std::int32_t TDecodeTMDVS_PB::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) == -1) {
    WriteLog("文件头，寻找空闲通道失败;显示画面序号:" + std::to_string(Head.Channel));
    return -1;
  }
  if (!FIniPlayer) return -1;
  std::int32_t Port = Player;
  std::int32_t Result = -1;
  GuardedCall([&] { Result = FIniPlayer(&Port, Head.Wnd); });
  if (Result != 0) {
    Win::Sleep(1);
    return Result;
  }
  std::int32_t Opened = -1;
  if (FOpenStream) GuardedCall([&] { Opened = FOpenStream(Port); });
  const bool Clean = GuardedCall([&] {
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

std::int32_t TDecodeTMDVS_PB::StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) {
  return DoStartCallBack(Head, CallBack, [&](TPlayerInfo& Info) {
    ClearBuffer(Head);
    if (FRegisgerCallBack) GuardedCall([&] { FRegisgerCallBack(PortOf(Info), &DecodeCallBack); });
  });
}

std::int32_t TDecodeTMDVS_PB::StopCallBack(TFrameHead& Head) {
  return DoStopCallBack(Head, [&](TPlayerInfo& Info) {
    ClearBuffer(Head);
    if (FRegisgerCallBack) GuardedCall([&] { FRegisgerCallBack(PortOf(Info), nullptr); });
  });
}

std::int32_t TDecodeTMDVS_PB::ClearBuffer(TFrameHead& Head) { return FindPlayer(Head) ? 0 : -1; }

std::int32_t TDecodeTMDVS_PB::CloseStream(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const std::int32_t Port = PortOf(*Info);
  const std::string Channel = std::to_string(Head.Channel);
  WriteLog("Decoderdll 开始关闭流;显示画面序号:" + Channel + "播放器序号:" + std::to_string(Port));
  if (FStopStream && !GuardedCall([&] { FStopStream(Port); }))
    WriteLog("Decoderdll 关闭流失败; 显示画面序号:" + Channel + "播放器序号:");
  if (FCloseStream) GuardedCall([&] { FCloseStream(Port); });
  if (FRelease) GuardedCall([&] { FRelease(Port); });
  WriteLog("Decoderdll 关闭流成功;显示画面序号:" + Channel + "播放器序号:" + std::to_string(Port));
  Win::Sleep(10);
  return TDecodeBase::CloseStream(Head);
}

// The host is told of a 352 x 288 picture of 152 064 bytes whatever the stream carries. A
// picture at least that large is handed over as the library gives it; a smaller one is copied
// into a 152 064-byte buffer (the rest black) so the host never reads past the library's
// picture. A picture whose size the library does not give is not handed over.
std::int32_t ZORV_STDCALL TDecodeTMDVS_PB::DecodeCallBack(std::int32_t Port, const std::uint8_t* Picture,
                                                          std::int32_t Width, std::int32_t Height) {
  if (!Picture || Width <= 0 || Height <= 0 || Width > 8192 || Height > 8192) return 0;
  TEngineUse Engine;  // held until the callback returns: the shutdown waits for it
  if (!Engine) return 0;
  std::uint32_t Channel = 0;
  std::uint8_t Group = 0;
  if (Engine->FindChannelByPort(DvrTypeCode, Port, Channel, Group) != 0) return 0;
  const std::size_t Quarter = static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height) / 4;
  const std::size_t Given = 6 * Quarter;
  const std::uint8_t* Delivered = Picture;
  thread_local std::vector<std::uint8_t> Padded;
  if (Given < ReportedSize) {
    Padded.assign(ReportedSize, 0);
    std::memset(Padded.data() + 4 * (ReportedSize / 6), 128, 2 * (ReportedSize / 6));
    std::memcpy(Padded.data(), Picture, Given);
    Delivered = Padded.data();
  }
  DeliverToChannel(DvrTypeCode, Group, Channel, Delivered, ReportedSize, ReportedWidth, ReportedHeight);
  return 0;
}
