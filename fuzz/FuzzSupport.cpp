#include "FuzzSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "Platform.h"
#include "U_DecodeBase.h"
#include "U_DecodeEngine.h"

#ifndef _WIN32
extern "C" {
#include <libavutil/log.h>
}
#endif

std::uint8_t TFuzzInput::U8() {
  std::uint8_t V = 0;
  Bytes(&V, 1);
  return V;
}

std::uint16_t TFuzzInput::U16() {
  std::uint8_t B[2] = {};
  Bytes(B, 2);
  return static_cast<std::uint16_t>(B[0] | B[1] << 8);
}

std::uint32_t TFuzzInput::U32() {
  std::uint8_t B[4] = {};
  Bytes(B, 4);
  return static_cast<std::uint32_t>(B[0]) | static_cast<std::uint32_t>(B[1]) << 8 |
         static_cast<std::uint32_t>(B[2]) << 16 | static_cast<std::uint32_t>(B[3]) << 24;
}

std::size_t TFuzzInput::Bytes(void* Out, std::size_t Count) {
  const std::size_t N = Count < Remaining() ? Count : Remaining();
  if (N) std::memcpy(Out, FData + FPos, N);
  if (N < Count) std::memset(static_cast<std::uint8_t*>(Out) + N, 0, Count - N);
  FPos += N;
  return N;
}

std::vector<std::uint8_t> TFuzzInput::Take(std::size_t Count) {
  std::vector<std::uint8_t> Out(Count);
  if (Count) Bytes(Out.data(), Count);
  return Out;
}

void FuzzFail(const char* What, long long A, long long B) {
  std::fprintf(stderr, "zorv fuzz: %s (%lld, %lld)\n", What, A, B);
  std::fflush(stderr);
  std::abort();
}

void FuzzProcessSetUp() {
  static std::once_flag Once;
  std::call_once(Once, [] {
    Win::Test::SetSleepScale(0);
    Win::Test::SetDebugOutputSink("");
    Win::Test::CaptureDebugOutput(false);
    // An empty drive root: no "c:\Flag.Txt", so every frame is handled normally.
    Win::Test::SetDriveRoot(FuzzTempPath("drives"));
#ifndef _WIN32
    av_log_set_level(AV_LOG_QUIET);  // damaged frames are the point here: no decoder chatter
#endif
  });
}

std::string FuzzLibDir() { return std::string(ZORV_TESTROOT) + "/"; }

std::string FuzzTempPath(const char* Name) {
  char Dir[Win::MAX_PATH + 1] = {};
  const Win::DWORD Length = Win::GetTempPathA(Win::MAX_PATH, Dir);
  std::string Path = Length > 0 && Length <= Win::MAX_PATH ? std::string(Dir) : std::string();
  if (!Path.empty() && Path.back() != '/' && Path.back() != '\\') Path += '/';
  return Path + "zorvfuzz-" + std::to_string(Win::GetCurrentProcessId()) + "-" + Name;
}

namespace {
std::atomic<std::uint64_t> PicturesSeen{0};
std::atomic<std::uint32_t> PictureSum{0};

void ReadAll(const std::uint8_t* Picture, std::size_t Size) {
  std::uint32_t Sum = 0;
  for (std::size_t i = 0; i < Size; ++i) Sum += Picture[i];
  PictureSum.fetch_add(Sum, std::memory_order_relaxed);
  PicturesSeen.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

void ZORV_STDCALL FuzzHostCallBack(std::uint32_t Channel, TDecFrameInfo Info, const std::uint8_t* Picture) {
  FUZZ_CHECK(Channel < 100, Channel);
  FUZZ_CHECK(Picture != nullptr);
  FUZZ_CHECK(Info.FrameKind == 1, Info.FrameKind);
  FUZZ_CHECK(Info.Width > 0 && Info.Height > 0, Info.Width, Info.Height);
  ReadAll(Picture, Info.Size);
}

void ZORV_STDCALL FuzzPlayM4CallBack(std::int32_t Channel, const std::uint8_t* Buffer, std::int32_t Size,
                                     const void* /*FrameInfo*/, std::int32_t, std::int32_t) {
  FUZZ_CHECK(Channel >= 0 && Channel < 100, Channel);
  if (Size > 0) {
    FUZZ_CHECK(Buffer != nullptr, Size);
    ReadAll(Buffer, static_cast<std::size_t>(Size));
  }
}

std::uint64_t FuzzPicturesSeen() { return PicturesSeen.load(); }

std::uint8_t* FuzzSnapBuffer() {
  static std::uint8_t* Buffer = new std::uint8_t[FuzzSnapBytes];
  return Buffer;
}

std::int32_t FuzzSnapAndCheck(const TFrameHead& Head) {
  std::int32_t Size[2] = {-7, -7};
  std::uint8_t* Buffer = FuzzSnapBuffer();
  std::uint8_t* const Given = Buffer;
  const std::int32_t Bytes = Tarn_Decode_SnapPicture(Head, Size, &Buffer);
  FUZZ_CHECK(Buffer == Given);  // the caller's pointer is the caller's
  if (Bytes == -1) return Bytes;
  FUZZ_CHECK(Bytes >= 54 && static_cast<std::size_t>(Bytes) <= FuzzSnapBytes, Bytes);
  FUZZ_CHECK(Given[0] == 'B' && Given[1] == 'M', Given[0], Given[1]);
  std::uint32_t FileSize = 0;
  std::int32_t Width = 0, Height = 0;
  std::memcpy(&FileSize, Given + 2, 4);
  std::memcpy(&Width, Given + 18, 4);
  std::memcpy(&Height, Given + 22, 4);
  FUZZ_CHECK(FileSize == static_cast<std::uint32_t>(Bytes), FileSize, Bytes);
  FUZZ_CHECK(Size[0] == Width && Size[1] == Height, Size[0], Width);
  const std::int64_t Stride = (static_cast<std::int64_t>(Width) * 3 + 3) & ~std::int64_t{3};
  FUZZ_CHECK(Width > 0 && Height > 0 && 54 + Stride * Height == Bytes, Width, Height);
  return Bytes;
}

std::uint8_t FuzzDvrType(std::uint8_t Selector) {
  // Every code the exports map onto an adapter, some twice (their normalised forms), and codes
  // without an adapter (0, 11, 19 stays 1, 23, 26, 27, 200).
  static const std::uint8_t Types[] = {1, 2, 3, 19, 4, 5, 7, 6, 8, 9, 10, 12, 13, 13, 13, 14,
                                       15, 16, 18, 20, 21, 22, 0, 11, 23, 26, 27, 200};
  return Types[Selector % (sizeof Types)];
}

namespace {
// Every adapter of the engine once (several DVR types may share one), the slot it is in at the
// same index of Slots.
std::vector<const TDecodeBase*> Adapters(const TDecodeEngine& Engine, std::vector<int>& Slots) {
  std::vector<const TDecodeBase*> List;
  for (int Type = 0; Type < DvrTypeSlots; ++Type)
    if (const TDecodeBase* A = Engine.Decoder(Type); A && std::find(List.begin(), List.end(), A) == List.end()) {
      List.push_back(A);
      Slots.push_back(Type);
    }
  return List;
}

bool HasPlayer(const std::vector<const TDecodeBase*>& List, int Group, int Channel) {
  for (const TDecodeBase* A : List)
    if (A->ChannelPlayer(Group, Channel) >= 0) return true;
  return false;
}
}  // namespace

void FuzzCloseEverything() {
  TDecodeEngine* Engine = DecodeEngine();
  if (!Engine) return;
  std::vector<int> Slots;
  const std::vector<const TDecodeBase*> List = Adapters(*Engine, Slots);
  for (int Round = 0; Round < 3; ++Round) {
    bool Open = false;
    for (std::uint8_t Group = 0; Group < GroupCount; ++Group)
      for (std::uint32_t Channel = 0; Channel < ChannelsPerGroup; ++Channel) {
        TChannelState State;
        Engine->GetChannelState(Group, Channel, State);
        if (State.DvrType == 0 && !HasPlayer(List, Group, Channel)) continue;
        Open = true;
        TFrameHead Head;
        std::memset(&Head, 0, sizeof Head);
        Head.Group = Group;
        Head.Channel = Channel;
        Head.DecodeMode = 2;
        Tarn_Decode_CloseOneChannel(Head);
      }
    if (!Open) break;
  }
  // Nothing may stay taken: a player entry or a channel map cell left behind is lost for good.
  for (std::size_t k = 0; k < List.size(); ++k) {
    const TDecodeBase* A = List[k];
    if (A->State() != 2) continue;
    for (int Group = 0; Group < GroupCount; ++Group)
      for (int Channel = 0; Channel < ChannelsPerGroup; ++Channel)
        if (A->ChannelPlayer(Group, Channel) != -1)
          FuzzFail("a channel keeps a player after its close", Slots[k], Group * 100 + Channel);
    for (int i = 0; i < PlayerCount; ++i)
      if (A->PlayerAt(i).Port.Get() != -1) FuzzFail("a player entry stays taken after every close", Slots[k], i);
  }
}
