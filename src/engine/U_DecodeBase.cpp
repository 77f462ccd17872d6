#include "U_DecodeBase.h"

#include <cstring>

#include "U_DecodeEngine.h"
#include "U_FileUtils.h"

void TPlayerInfo::Clear() {
  Channel = 0;
  Wnd = 0;
  AuxHandle = 0;
  Group = 0;
  OpenState = 0;
  OpenKind = 0;
  CallBackState = 0;
  SoundState = 0;
  CallBackProc = 0;
  CallBackProcEx = 0;
  HasAudio = 0;
  Port = -1;  // last: a scan for a free entry sees it free only once it is clean
}

void ResetCapTable(TCapBMPTable& Table) {
  for (TCapBMP& Entry : Table) {
    std::lock_guard<std::mutex> Hold(Entry.Lock);
    Entry.FileName.clear();
    Entry.Done.store(1);
  }
}

bool TakeCapRequest(TCapBMP& Entry, std::string& FileName) {
  if (Entry.Done.load() != 0) return false;
  std::lock_guard<std::mutex> Hold(Entry.Lock);
  if (Entry.Done.load() != 0) return false;
  FileName = Entry.FileName;
  return true;
}

void FinishCapRequest(TCapBMP& Entry) { Entry.Done.store(1); }

TDecodeBase::TDecodeBase() {
  Create();
  // The tables start empty (the load resets them again), so that a call reaching an adapter
  // that never loaded finds no player rather than entry 0.
  for (auto& Row : FChannelPlayer)
    for (auto& Cell : Row) Cell = -1;
}

TDecodeBase::~TDecodeBase() { UnloadDllFiles(); }

void TDecodeBase::Create() { FState = 0; }

// ---- slots with a base behaviour -------------------------------------------------------------

std::int32_t TDecodeBase::GetFreePlayer(TFrameHead& Head, std::int32_t& Player) {
  Player = -1;
  std::int32_t Result = -1;
  TLockGuard Hold(FLock);
  if (ChannelInRange(Head)) {
    for (int i = 0; i < PlayerCount; ++i) {
      if (FPlayers[i].Port == -1) {
        Player = Result = i;
        FChannelPlayer[Head.Group][Head.Channel] = i;
        FPlayers[i].Channel = Head.Channel;
        FPlayers[i].Port = i;
        break;
      }
    }
  }
  Win::Sleep(500);
  return Result;
}

std::int32_t TDecodeBase::InitDecoder(std::int32_t /*Param*/, const std::string& /*Dir*/) {
  while (FState == 1) Win::Sleep(10);
  if (FState == 2) return -1;
  FState = 1;
  for (auto& Row : FChannelPlayer)
    for (auto& Cell : Row) Cell = -1;
  for (TPlayerInfo& Info : FPlayers) Info.Port = -1;
  return 0;
}

std::int32_t TDecodeBase::SetStreamOpenMode(TFrameHead&, std::int32_t) { return 0; }
std::int32_t TDecodeBase::GetColor(TFrameHead&, std::int32_t, std::int32_t*, std::int32_t*, std::int32_t*,
                                   std::int32_t*) {
  return -1;
}
std::int32_t TDecodeBase::SetColor(TFrameHead&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                   std::int32_t) {
  return -1;
}
std::int32_t TDecodeBase::SetVolume(TFrameHead&, std::uint16_t) { return 0; }
std::int32_t TDecodeBase::StartCallBackEx(TFrameHead&, std::uintptr_t) { return -1; }
std::int32_t TDecodeBase::StopCallBackEx(TFrameHead&) { return -1; }
std::int32_t TDecodeBase::Play(TFrameHead&) { return 0; }
std::int32_t TDecodeBase::Stop(TFrameHead&) { return 0; }
std::int32_t TDecodeBase::SnapPictureToFile(TFrameHead&, const char*) { return 0; }
std::int32_t TDecodeBase::StartAviRecord(TFrameHead&, std::uintptr_t) { return -1; }
std::int32_t TDecodeBase::StopAviRecord(TFrameHead&) { return -1; }

std::int32_t TDecodeBase::CloseStream(TFrameHead& Head) {
  const std::int32_t Player = PlayerOf(Head);
  if (Player >= 0) {
    FPlayers[Player].Clear();
    FChannelPlayer[Head.Group][Head.Channel] = -1;
  }
  Win::Sleep(100);
  return 0;
}

std::int32_t TDecodeBase::GetFileHeadLength(TFrameHead&) { return 0; }
std::int32_t TDecodeBase::OpenFile(TFrameHead&, const char*) { return 0; }
std::int32_t TDecodeBase::CloseFile(TFrameHead&) { return 0; }
std::int32_t TDecodeBase::Pause(TFrameHead&, std::int32_t) { return 0; }
std::int32_t TDecodeBase::Fast(TFrameHead&) { return 0; }
std::int32_t TDecodeBase::Slow(TFrameHead&) { return 0; }
std::int32_t TDecodeBase::OneByOne(TFrameHead&) { return 0; }
std::int32_t TDecodeBase::SetPlayPos(TFrameHead&, double) { return 0; }
double TDecodeBase::GetPlayPos(TFrameHead&) { return 0.0; }
std::int32_t TDecodeBase::GetFileTime(TFrameHead&) { return 0; }
std::int32_t TDecodeBase::GetPlayedTime(TFrameHead&) { return 0; }
std::int32_t TDecodeBase::SetPlayedTime(TFrameHead&, std::int32_t) { return 0; }
std::int32_t TDecodeBase::GetPlayedFrames(TFrameHead&) { return 0; }
std::int32_t TDecodeBase::GetFileTotalFrames(TFrameHead&) { return 0; }
std::int32_t TDecodeBase::GetCurrentFrameRate(TFrameHead&) { return 0; }
std::int32_t TDecodeBase::GetPlayedTimeEx(TFrameHead&) { return 0; }
std::int32_t TDecodeBase::SetPlayedTimeEx(TFrameHead&, std::int32_t) { return 0; }
std::int32_t TDecodeBase::GetCurrentFrameNum(TFrameHead&) { return 0; }

// ---- helpers ---------------------------------------------------------------------------------

std::int32_t TDecodeBase::PlayerOf(const TFrameHead& Head) const {
  if (!ChannelInRange(Head)) return -1;
  const std::int32_t Player = FChannelPlayer[Head.Group][Head.Channel];
  return Player >= 0 && Player < PlayerCount ? Player : -1;
}

void TDecodeBase::GetPlayerInfo(const TFrameHead& Head, TPlayerInfo& Info) const {
  const std::int32_t Player = PlayerOf(Head);
  if (Player >= 0) Info = FPlayers[Player];
}

void TDecodeBase::ReleasePlayer(const TFrameHead& Head) {
  TLockGuard Hold(FLock);
  const std::int32_t Player = PlayerOf(Head);
  if (Player < 0) return;
  FPlayers[Player].Clear();
  FChannelPlayer[Head.Group][Head.Channel] = -1;
}

TPlayerInfo* TDecodeBase::FindPlayer(const TFrameHead& Head) {
  const std::int32_t Player = PlayerOf(Head);
  if (Player < 0 || FPlayers[Player].Port < 0) return nullptr;
  return &FPlayers[Player];
}

std::int32_t TDecodeBase::ChannelPort(const TFrameHead& Head) {
  const TPlayerInfo* Info = FindPlayer(Head);
  return Info ? static_cast<std::int32_t>(Info->Port.Get()) : -1;
}

std::int32_t TDecodeBase::BeginInitDecoder(std::int32_t Param, const std::string& Dir) {
  TDecodeBase::InitDecoder(Param, Dir);
  if (FState == 2) return 0;
  FState = 0;
  return 1;
}

std::int32_t TDecodeBase::LoadDllFiles(const std::string& VendorDir, const std::vector<std::string>& Files,
                                       bool AlteredSearchPath) {
  UnloadDllFiles();  // what an earlier, failed attempt loaded
  FDllFiles.clear();
  for (const std::string& File : Files) FDllFiles.push_back({VendorDir + File, nullptr});
  for (TDllFile& File : FDllFiles) {
    FDllExists = Win::FileExists(File.FileName.c_str());
    if (!FDllExists) return -1;
    File.Handle = AlteredSearchPath
                      ? Win::LoadLibraryExA(File.FileName.c_str(), nullptr, Win::LOAD_WITH_ALTERED_SEARCH_PATH)
                      : Win::LoadLibraryA(File.FileName.c_str());
    if (!File.Handle) Win::Sleep(1);
  }
  return 0;
}

Win::HMODULE TDecodeBase::MainModule() const {
  return FDllFiles.empty() ? nullptr : FDllFiles.back().Handle;
}

void TDecodeBase::UnloadDllFiles(bool LastFirst) {
  for (std::size_t i = 0; i < FDllFiles.size(); ++i) {
    TDllFile& File = FDllFiles[LastFirst ? FDllFiles.size() - 1 - i : i];
    if (File.Handle) Win::FreeLibrary(File.Handle);
    File.Handle = nullptr;
  }
}

void TDecodeBase::ReconcileCallBack(TFrameHead& Head) {
  TDecodeEngine* Engine = DecodeEngine();
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Engine || !Info) return;
  TChannelState State;
  Engine->GetChannelState(Head.Group, Head.Channel, State);
  if (State.CallBackState == 1) {
    Info->CallBackState = 1;
    StartCallBack(Head, Engine->GetCallBack(Head.Group, Head.Channel));
    Engine->SetChannelCallBackState(Head.Group, Head.Channel, 2);
  }
  Engine->GetChannelState(Head.Group, Head.Channel, State);
  if (State.CallBackState == 0 && Info->CallBackState != 0) StopCallBack(Head);
}

bool TDecodeBase::DeliverPicture(std::uint8_t DvrType, std::int64_t Port, const std::uint8_t* Picture,
                                 std::uint32_t Size, std::uint32_t Width, std::uint32_t Height) {
  if (static_cast<std::uint64_t>(Width) * Height / 4 == 0) {
    Win::Sleep(1);
    return false;
  }
  TEngineUse Engine;
  if (!Engine || !Picture) return false;
  std::uint32_t Channel = 0;
  std::uint8_t Group = 0;
  if (Engine->FindChannelByPort(DvrType, Port, Channel, Group) != 0) return false;
  return DeliverToChannel(DvrType, Group, Channel, Picture, Size, Width, Height);
}

bool TDecodeBase::DeliverToChannel(std::uint8_t DvrType, std::uint8_t Group, std::uint32_t Channel,
                                   const std::uint8_t* Picture, std::uint32_t Size, std::uint32_t Width,
                                   std::uint32_t Height) {
  if (static_cast<std::uint64_t>(Width) * Height / 4 == 0) {
    Win::Sleep(1);
    return false;
  }
  TEngineUse Engine;
  if (!Engine || !Picture) return false;
  const std::uintptr_t CallBack = Engine->GetCallBack(Group, Channel);
  if (CallBack == 0) return false;
  TDecFrameInfo Info;
  std::memset(&Info, 0, sizeof Info);
  Info.Size = Size;
  Info.Width = Width;
  Info.Height = Height;
  Info.FrameKind = 1;
  Info.DvrType = DvrType;
  return GuardedCall([&] { reinterpret_cast<TDecCallBack>(CallBack)(Channel, Info, Picture); });
}

bool TDecodeBase::ReadVendorPicture(const std::int32_t* FrameInfo, std::int32_t Size, TVendorPicture& Picture) {
  Picture = {};
  if (FrameInfo) {
    Picture.Width = FrameInfo[0];
    Picture.Height = FrameInfo[1];
  }
  if (Picture.Width > 0 && Picture.Height > 0) Picture.Quarter = Picture.Width * Picture.Height / 4;
  if (Picture.Quarter == 0) {
    Win::Sleep(1);
    return false;
  }
  if (Size < 6 * Picture.Quarter) {
    Picture.Short = true;
    WriteLog(std::to_string(6 * Picture.Quarter));
    WriteLog(std::to_string(Size));
  }
  return true;
}

std::string TDecodeBase::MakeSnapTempName() {
  char Dir[Win::MAX_PATH + 1] = {};
  char Name[Win::MAX_PATH + 1] = {};
  const Win::DWORD Length = Win::GetTempPathA(Win::MAX_PATH, Dir);
  if (Length == 0 || Length > Win::MAX_PATH) return {};
  if (Win::GetTempFileNameA(Dir, "~BMP", 0, Name) == 0) return {};
  return Name;
}

bool TDecodeBase::WaitCapDone(const TCapBMP& Entry, bool ProcessMessages) {
  for (int Round = 0; Round < 300; ++Round) {
    if (Entry.Done.load() != 0) return true;
    if (ProcessMessages) Win::ProcessMessages();
    Win::Sleep(2);
  }
  return Entry.Done.load() != 0;
}

namespace {
void PostCapRequest(TCapBMP& Entry, const std::string& FileName) {
  std::lock_guard<std::mutex> Hold(Entry.Lock);
  Entry.FileName = FileName;
  Entry.Done.store(0);
}
// A request nobody served is withdrawn, so that a late display callback does not write a file
// the requester no longer owns.
void CancelCapRequest(TCapBMP& Entry) {
  std::lock_guard<std::mutex> Hold(Entry.Lock);
  Entry.Done.store(1);
}
}  // namespace

std::int32_t TDecodeBase::SnapThroughTempFile(TCapBMP& Entry, std::int32_t* Size, std::uint8_t** Buffer,
                                              bool ProcessMessages) {
  const std::string Name = MakeSnapTempName();
  if (Name.empty()) return -1;
  PostCapRequest(Entry, Name);
  std::int32_t Result = -1;
  if (WaitCapDone(Entry, ProcessMessages)) {
    std::string Data;
    ReadWholeFile(Name, Data);
    if (!Data.empty() && Buffer && *Buffer) {
      if (Size) BmpPictureSize(Data, Size);
      std::memcpy(*Buffer, Data.data(), Data.size());
      Result = static_cast<std::int32_t>(Data.size());
    }
  } else {
    CancelCapRequest(Entry);
  }
  Win::DeleteFileA(Name.c_str());
  return Result;
}

std::int32_t TDecodeBase::SnapToFileAndWait(TCapBMP& Entry, const char* FileName) {
  if (!FileName) return 0;
  PostCapRequest(Entry, FileName);
  if (WaitCapDone(Entry)) return 1;
  CancelCapRequest(Entry);
  return 0;
}

std::int32_t TDecodeBase::TakeSnapFile(const std::string& Name, std::int32_t* Size, std::uint8_t** Buffer) {
  std::string Data;
  ReadWholeFile(Name, Data);
  Win::DeleteFileA(Name.c_str());
  if (Data.empty() || !Buffer || !*Buffer) return -1;
  if (Size) BmpPictureSize(Data, Size);
  std::memcpy(*Buffer, Data.data(), Data.size());
  return static_cast<std::int32_t>(Data.size());
}
