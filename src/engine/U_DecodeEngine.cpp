#include "U_DecodeEngine.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "U_AdapterRegistry.h"
#include "U_FileUtils.h"
#include "U_Log.h"

namespace {
std::atomic<TDecodeEngine*> GlobalEngine{nullptr};

// File-head DVR types whose stream opens on the file head; the others of the registry open on
// their first data frame.
bool OpensOnFileHead(int DvrType) {
  switch (DvrType) {
    case 1: case 6: case 8: case 9: case 12: case 13: case 15: case 19: case 20: case 21: return true;
    default: return false;
  }
}

// First line of the mode file as an integer; 0 when it is not one.
std::int32_t ReadFlagMode() {
  const char* const FlagFile = "c:\\Flag.Txt";
  if (!Win::FileExists(FlagFile)) return 0;
  std::string Text;
  ReadWholeFile(FlagFile, Text);
  const std::size_t End = Text.find_first_of("\r\n");
  std::string Line = Text.substr(0, End);
  while (!Line.empty() && std::isspace(static_cast<unsigned char>(Line.back()))) Line.pop_back();
  std::size_t Start = 0;
  while (Start < Line.size() && std::isspace(static_cast<unsigned char>(Line[Start]))) ++Start;
  Line.erase(0, Start);
  if (Line.empty()) return 0;
  errno = 0;
  char* Stop = nullptr;
  const long Value = std::strtol(Line.c_str(), &Stop, 10);
  if (errno != 0 || *Stop != '\0' || Value < INT32_MIN || Value > INT32_MAX) return 0;
  return static_cast<std::int32_t>(Value);
}
}  // namespace

TDecodeEngine* DecodeEngine() { return GlobalEngine.load(std::memory_order_acquire); }
void SetDecodeEngine(TDecodeEngine* Engine) { GlobalEngine.store(Engine, std::memory_order_seq_cst); }

namespace {
// Callbacks holding the engine now, all threads; and this thread's own share of them.
std::atomic<int> EngineHolds{0};
thread_local int OwnEngineHolds = 0;
}  // namespace

// The count goes up before the pointer is read, and TakeDecodeEngine empties the pointer before it
// reads the count (both sequentially consistent): a callback that still got the engine is counted.
TEngineUse::TEngineUse() {
  EngineHolds.fetch_add(1, std::memory_order_seq_cst);
  ++OwnEngineHolds;
  FEngine = GlobalEngine.load(std::memory_order_seq_cst);
}

TEngineUse::~TEngineUse() {
  --OwnEngineHolds;
  EngineHolds.fetch_sub(1, std::memory_order_release);
}

TDecodeEngine* TakeDecodeEngine() {
  TDecodeEngine* Engine = GlobalEngine.exchange(nullptr, std::memory_order_seq_cst);
  if (!Engine) return nullptr;
  while (EngineHolds.load(std::memory_order_acquire) > OwnEngineHolds) std::this_thread::yield();
  return Engine;
}

TDecodeEngine::TDecodeEngine() {
  FFlagMode = ReadFlagMode();
  for (int DvrType = 0; DvrType < DvrTypeSlots; ++DvrType) FDecoders[DvrType] = CreateSoftwareAdapter(DvrType);
  for (int Slot = 0; Slot < HardSlots; ++Slot) FHardDecoders[Slot] = CreateHardwareAdapter(Slot);
}

TDecodeEngine::~TDecodeEngine() {
  for (auto& Adapter : FDecoders) Adapter.reset();
  for (auto& Adapter : FHardDecoders) Adapter.reset();
}

// ---- adapter choice --------------------------------------------------------------------------

TDecodeBase* TDecodeEngine::Decoder(int DvrType) const {
  return DvrType >= 0 && DvrType < DvrTypeSlots ? FDecoders[DvrType].get() : nullptr;
}

TDecodeBase* TDecodeEngine::HardDecoder(int Slot) const {
  return Slot >= 0 && Slot < HardSlots ? FHardDecoders[Slot].get() : nullptr;
}

bool TDecodeEngine::IsHardwareChannel(const TFrameHead& Head) const {
  if (Head.HardIndex != 1 && Head.HardIndex != 3) return false;
  const TDecodeBase* Card = HardDecoder(Head.HardIndex);
  if (!Card) return false;
  const std::int32_t Count = Card->DecodeChannelCount();
  return Count != 0 && Head.DecodeMode == 1 && static_cast<std::int32_t>(Head.HardChannel) <= Count;
}

TDecodeBase* TDecodeEngine::GetDecoder(const TFrameHead& Head) const {
  return IsHardwareChannel(Head) ? HardDecoder(Head.HardIndex) : Decoder(Head.DvrType);
}

TDecodeBase* TDecodeEngine::RecordedDecoder(TFrameHead& Head, bool CheckKnown) {
  Head.DvrType = StateOf(Head).DvrType;
  if (CheckKnown && !KnownDvrType(Head.DvrType)) return nullptr;
  return GetDecoder(Head);
}

std::int32_t TDecodeEngine::InitAdapter(TDecodeBase* Adapter) {
  if (!Adapter) return -1;
  if (Adapter->State() == 2) return Adapter->InitDecoder(FInitParam, FLibDir);
  std::lock_guard<std::mutex> Hold(Adapter->LoadMutex());
  return Adapter->InitDecoder(FInitParam, FLibDir);
}

// ---- frames ----------------------------------------------------------------------------------

std::int32_t TDecodeEngine::CreateDecoder(std::uint8_t DvrType, std::uint8_t HardIndex, std::int32_t Mode) {
  std::int32_t Result = -1;
  switch (DvrType) {
    case 1: case 4:
      if (Mode == 2) Result = InitAdapter(Decoder(DvrType));
      break;
    case 6: case 8: case 9: case 10: case 12: case 13: case 15: case 18: case 19: case 20: case 21: case 22:
      Result = InitAdapter(Decoder(DvrType));
      break;
    default:
      return -1;
  }
  if (Mode == 1 && (HardIndex == 1 || HardIndex == 3)) Result = InitAdapter(HardDecoder(HardIndex));
  return Result;
}

std::int32_t TDecodeEngine::AddFrame(TFrameHead Head, const std::uint8_t* Data) {
  if (!ChannelInRange(Head)) return -1;
  if (!Data && Head.DataLen > 0) return -1;
  if (Head.FrameType == 1) WriteLog("Decoderdll ftSysHead" + std::to_string(Head.Channel), 1);
  if (FFlagMode == 1) return 0;
  if (Head.FrameType < 1 || Head.FrameType > 7) return -1;

  std::int32_t Result = -1;
  if (!IsHardwareChannel(Head)) {
    Result = CreateDecoder(Head.DvrType, Head.HardIndex, 2);
    if (Result != 0) return Result;
  }
  TChannelState& State = StateOf(Head);

  if (Head.FrameType == 1) {
    TFrameHead Old = Head;
    Old.DvrType = State.DvrType;
    TLockGuard Hold(FLock);
    bool Kept = false;
    try {
      CloseOneChannel(Old, Kept);
    } catch (...) {
    }
    // A stream whose adapter could not close it is still the channel's (CloseOneChannel keeps it
    // recorded): a second stream is not opened beside it, where the first one's port would stay
    // taken with nothing left to close it. The next file head or close tries again. (What the
    // close did is asked of it, not read back from the channel's state: a data frame on another
    // thread may record the type of a closed channel again in the meantime.)
    if (Kept) return -1;
    TDecodeBase* Adapter = GetDecoder(Head);
    if (OpensOnFileHead(Head.DvrType)) {
      Result = Adapter ? Adapter->OpenStream(Head, Data) : -1;
    } else if (Head.DvrType == 4 || Head.DvrType == 10 || Head.DvrType == 18) {
      Result = 0;
    } else {
      Result = -1;
    }
    if (Result == 0)
      State.DvrType = Head.DvrType;
    else if (Adapter)
      Adapter->ReleasePlayer(Head);
    return Result;
  }

  if (State.DvrType == 0) State.DvrType = Head.DvrType;
  Head.DvrType = State.DvrType;
  TDecodeBase* Adapter = GetDecoder(Head);
  if (!Adapter) return -1;
  if (Adapter->PlayerOf(Head) < 0) {
    if (OpensOnFileHead(Head.DvrType)) return Result;  // dropped until a file head opens it
    TLockGuard Hold(FLock);
    // While this thread waited for the lock, another may have opened the channel, or re-opened
    // it with another type: then this frame is not the first of a stream of this adapter, and
    // opening here would leave the channel with players in two adapters.
    if (State.DvrType != Head.DvrType) return Result;
    if (Adapter->PlayerOf(Head) >= 0) return FFlagMode == 2 ? Result : Adapter->InputData(Head, Data);
    Result = Adapter->OpenStream(Head, Data);
    if (Result != 0) Adapter->ReleasePlayer(Head);
    return Result;
  }
  if (FFlagMode == 2) return Result;
  return Adapter->InputData(Head, Data);
}

std::int32_t TDecodeEngine::CloseOneChannel(TFrameHead Head) {
  bool Kept = false;
  return CloseOneChannel(Head, Kept);
}

std::int32_t TDecodeEngine::CloseOneChannel(TFrameHead Head, bool& Kept) {
  Kept = false;
  if (!ChannelInRange(Head)) return -1;
  TLockGuard Hold(FLock);
  TChannelState& State = StateOf(Head);
  TDecodeBase* Adapter = RecordedDecoder(Head, true);
  if (!Adapter) {
    State.DvrType = 0;
    return -1;
  }
  Adapter->StopSound(Head);
  Adapter->StopCallBack(Head);
  const std::int32_t Result = Adapter->CloseStream(Head);
  if (State.CallBackState == 1 || State.CallBackState == 2) State.CallBackState = 1;
  if (State.SoundState == 1 || State.SoundState == 2) State.SoundState = 1;
  // A close the adapter could not finish leaves its player (and the vendor port) in place: the
  // channel keeps its stream recorded, so control calls still reach it and a later close tries
  // again, instead of the port staying taken until shutdown with no way to close it.
  Kept = Result != 0 && Adapter->PlayerOf(Head) >= 0;
  if (!Kept) State.DvrType = 0;
  return Result;
}

// ---- sound and callbacks ---------------------------------------------------------------------

std::int32_t TDecodeEngine::PlaySound(TFrameHead Head) {
  if (!ChannelInRange(Head)) return -1;
  TChannelState& State = StateOf(Head);
  if (State.SoundState != 2) State.SoundState = 1;
  TDecodeBase* Adapter = RecordedDecoder(Head, false);
  if (!Adapter) return 0;
  if (State.SoundState == 1 && Adapter->PlaySound(Head) == 0) State.SoundState = 2;
  return 0;
}

std::int32_t TDecodeEngine::StopSound(TFrameHead Head) {
  if (!ChannelInRange(Head)) return -1;
  StateOf(Head).SoundState = 0;
  if (TDecodeBase* Adapter = RecordedDecoder(Head, false)) Adapter->StopSound(Head);
  return 0;
}

std::int32_t TDecodeEngine::StartCallBack(TFrameHead Head, std::uintptr_t CallBack) {
  if (!ChannelInRange(Head)) return -1;
  TChannelState& State = StateOf(Head);
  if (State.CallBackState != 0) return 0;
  FCallBack[Head.Group][Head.Channel] = CallBack;
  State.CallBackState = 1;
  return 0;
}

std::int32_t TDecodeEngine::StartDecCallBack(TFrameHead Head, std::uintptr_t CallBack) {
  if (!ChannelInRange(Head)) return -1;
  TChannelState& State = StateOf(Head);
  if (State.CallBackState != 0) return 0;
  FDecCallBack[Head.Group][Head.Channel] = CallBack;
  State.CallBackState = 1;
  return 0;
}

std::int32_t TDecodeEngine::StopCallBack(TFrameHead Head) {
  if (!ChannelInRange(Head)) return -1;
  TChannelState& State = StateOf(Head);
  if (State.CallBackState == 0) return -1;
  if (State.CallBackState == 2) {
    TDecodeBase* Adapter = RecordedDecoder(Head, false);
    if (!Adapter) return -1;
    Adapter->StopCallBack(Head);
  }
  FCallBack[Head.Group][Head.Channel] = 0;
  State.CallBackState = 0;
  return -1;
}

std::int32_t TDecodeEngine::StopDecCallBack(TFrameHead Head) {
  if (!ChannelInRange(Head)) return -1;
  TChannelState& State = StateOf(Head);
  if (State.CallBackState == 0) return -1;
  if (State.CallBackState == 2) {
    TDecodeBase* Adapter = RecordedDecoder(Head, false);
    if (!Adapter) return -1;
    Adapter->StopCallBack(Head);
  }
  FDecCallBack[Head.Group][Head.Channel] = 0;
  State.CallBackState = 0;
  return -1;
}

// ---- file playback and cards ---------------------------------------------------------------

bool TDecodeEngine::Play(TFrameHead Head) {
  if (!ChannelInRange(Head)) return false;
  TChannelState& State = StateOf(Head);
  if (State.Wnd != Head.Wnd) State.Wnd = Head.Wnd;
  TDecodeBase* Adapter = RecordedDecoder(Head, false);
  if (!Adapter) return true;
  if (TPlayerInfo* Info = Adapter->FindPlayer(Head); Info && Info->Wnd != State.Wnd) Info->Wnd = State.Wnd;
  Adapter->Play(Head);
  return true;
}

std::int32_t TDecodeEngine::OpenFile(TFrameHead Head, const char* FileName) {
  if (!ChannelInRange(Head) || !FileName || !Win::FileExists(FileName)) return 0;
  if (IsHardwareChannel(Head)) return 0;
  if (CreateDecoder(Head.DvrType, Head.HardIndex, 2) != 0) return 0;
  TDecodeBase* Adapter = GetDecoder(Head);
  if (!Adapter) return 0;
  const std::int32_t Result = Adapter->OpenFile(Head, FileName);
  if (VendorOk(Result))
    StateOf(Head).DvrType = Head.DvrType;
  else
    Adapter->ReleasePlayer(Head);
  return Result;
}

std::int32_t TDecodeEngine::OutParm(std::uint8_t HardIndex, std::int32_t* Out1, std::int32_t* Out2) {
  TDecodeBase* Card = HardDecoder(HardIndex);
  if (!Card || !Out1 || !Out2) return -1;
  return Card->OutParm(Out1, Out2);
}

std::int32_t TDecodeEngine::InitHardHandle(std::int32_t Handle) {
  for (auto& Card : FHardDecoders)
    if (Card) Card->InitHardHandle(Handle);
  return 0;
}

std::int32_t TDecodeEngine::SetDecoderVideoExtOutput(TFrameHead Head, std::int32_t A, std::int32_t B,
                                                     std::uint8_t C, std::int32_t D, std::int32_t E,
                                                     std::int32_t F) {
  TDecodeBase* Card = HardDecoder(Head.HardIndex);
  if (!ChannelInRange(Head) || !Card) return -1;
  return Card->SetDecoderVideoExtOutput(Head, A, B, C, D, E, F);
}

std::int32_t TDecodeEngine::SetDisplayRegion(TFrameHead Head, std::int32_t A, std::int32_t B, void* C,
                                             std::int32_t D) {
  TDecodeBase* Card = HardDecoder(Head.HardIndex);
  if (!ChannelInRange(Head) || !Card) return -1;
  return Card->SetDisplayRegion(Head, A, B, C, D);
}

// ---- pass-throughs ---------------------------------------------------------------------------

#define ZORV_PASS(Known, Failure, Call)                              \
  if (!ChannelInRange(Head)) return Failure;                         \
  TDecodeBase* Adapter = RecordedDecoder(Head, Known);               \
  if (!Adapter) return Failure;                                      \
  return Adapter->Call

std::int32_t TDecodeEngine::ClearBuffer(TFrameHead Head) { ZORV_PASS(true, -1, ClearBuffer(Head)); }
std::int32_t TDecodeEngine::RefrushWindow(TFrameHead Head) { ZORV_PASS(true, -1, RefrushWindow(Head)); }
std::int32_t TDecodeEngine::ResetDisplay(TFrameHead Head, std::int32_t Value) {
  ZORV_PASS(true, -1, ResetDisplay(Head, Value));
}
std::int32_t TDecodeEngine::SnapPicture(TFrameHead Head, std::int32_t* Size, std::uint8_t** Buffer) {
  ZORV_PASS(true, -1, SnapPicture(Head, Size, Buffer));
}
std::int32_t TDecodeEngine::StartAviRecord(TFrameHead Head, std::uintptr_t Value) {
  ZORV_PASS(true, -1, StartAviRecord(Head, Value));
}
std::int32_t TDecodeEngine::StopAviRecord(TFrameHead Head) { ZORV_PASS(true, -1, StopAviRecord(Head)); }
std::int32_t TDecodeEngine::GetColor(TFrameHead Head, std::int32_t Region, std::int32_t* Brightness,
                                     std::int32_t* Contrast, std::int32_t* Saturation, std::int32_t* Hue) {
  ZORV_PASS(false, -1, GetColor(Head, Region, Brightness, Contrast, Saturation, Hue));
}
std::int32_t TDecodeEngine::SetColor(TFrameHead Head, std::int32_t Region, std::int32_t Brightness,
                                     std::int32_t Contrast, std::int32_t Saturation, std::int32_t Hue) {
  ZORV_PASS(false, -1, SetColor(Head, Region, Brightness, Contrast, Saturation, Hue));
}
std::int32_t TDecodeEngine::Pause(TFrameHead Head, std::int32_t Value) { ZORV_PASS(true, 0, Pause(Head, Value)); }
std::int32_t TDecodeEngine::SetStreamOpenMode(TFrameHead Head, std::int32_t Mode) {
  ZORV_PASS(true, 0, SetStreamOpenMode(Head, Mode));
}
std::int32_t TDecodeEngine::SetVolume(TFrameHead Head, std::uint16_t Volume) {
  ZORV_PASS(true, 0, SetVolume(Head, Volume));
}
std::int32_t TDecodeEngine::SnapPictureToFile(TFrameHead Head, const char* FileName) {
  ZORV_PASS(true, 0, SnapPictureToFile(Head, FileName));
}
std::int32_t TDecodeEngine::CloseFile(TFrameHead Head) { ZORV_PASS(true, 0, CloseFile(Head)); }
std::int32_t TDecodeEngine::Fast(TFrameHead Head) { ZORV_PASS(true, 0, Fast(Head)); }
std::int32_t TDecodeEngine::Slow(TFrameHead Head) { ZORV_PASS(true, 0, Slow(Head)); }
std::int32_t TDecodeEngine::OneByOne(TFrameHead Head) { ZORV_PASS(true, 0, OneByOne(Head)); }
std::int32_t TDecodeEngine::SetPlayPos(TFrameHead Head, double Pos) { ZORV_PASS(true, 0, SetPlayPos(Head, Pos)); }
double TDecodeEngine::GetPlayPos(TFrameHead Head) { ZORV_PASS(true, 0.0, GetPlayPos(Head)); }
std::int32_t TDecodeEngine::GetFileTime(TFrameHead Head) { ZORV_PASS(true, 0, GetFileTime(Head)); }
std::int32_t TDecodeEngine::GetPlayedTime(TFrameHead Head) { ZORV_PASS(true, 0, GetPlayedTime(Head)); }
std::int32_t TDecodeEngine::GetPlayedFrames(TFrameHead Head) { ZORV_PASS(true, 0, GetPlayedFrames(Head)); }
std::int32_t TDecodeEngine::GetFileTotalFrames(TFrameHead Head) { ZORV_PASS(true, 0, GetFileTotalFrames(Head)); }
std::int32_t TDecodeEngine::GetCurrentFrameRate(TFrameHead Head) {
  ZORV_PASS(true, 0, GetCurrentFrameRate(Head));
}
std::int32_t TDecodeEngine::GetPlayedTimeEx(TFrameHead Head) { ZORV_PASS(true, 0, GetPlayedTimeEx(Head)); }
std::int32_t TDecodeEngine::SetPlayedTimeEx(TFrameHead Head, std::int32_t Time) {
  ZORV_PASS(true, 0, SetPlayedTimeEx(Head, Time));
}
std::int32_t TDecodeEngine::GetCurrentFrameNum(TFrameHead Head) { ZORV_PASS(true, 0, GetCurrentFrameNum(Head)); }

#undef ZORV_PASS

// ---- what adapters read ----------------------------------------------------------------------

void TDecodeEngine::GetChannelState(int Group, int Channel, TChannelState& State) const {
  if (!ChannelInRange(Group, Channel)) {
    State = TChannelState{};
    return;
  }
  State = FChannels[Group][Channel];
}

void TDecodeEngine::SetChannelState(int Group, int Channel, const TChannelState& State) {
  if (ChannelInRange(Group, Channel)) FChannels[Group][Channel] = State;
}

void TDecodeEngine::SetChannelCallBackState(int Group, int Channel, std::uint8_t CallBackState) {
  if (ChannelInRange(Group, Channel)) FChannels[Group][Channel].CallBackState = CallBackState;
}

std::uintptr_t TDecodeEngine::GetCallBack(int Group, int Channel) const {
  return ChannelInRange(Group, Channel) ? FCallBack[Group][Channel].Get() : 0;
}

std::uintptr_t TDecodeEngine::GetDecCallBack(int Group, int Channel) const {
  return ChannelInRange(Group, Channel) ? FDecCallBack[Group][Channel].Get() : 0;
}

std::int32_t TDecodeEngine::FindChannelByPort(std::uint8_t DvrType, std::int64_t Port, std::uint32_t& Channel,
                                              std::uint8_t& Group) const {
  const TDecodeBase* Adapter = Decoder(DvrType);
  if (!Adapter || Port < 0) return -1;  // -1 marks a free entry, never a vendor port
  for (int i = 0; i < PlayerCount; ++i) {
    const TPlayerInfo& Info = Adapter->PlayerAt(i);
    if (Info.Port == Port) {
      Channel = Info.Channel;
      Group = Info.Group;
      return 0;
    }
  }
  return -1;
}
