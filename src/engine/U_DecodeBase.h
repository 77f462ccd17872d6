// TDecodeBase: the base class of every vendor adapter (TDecode<Vendor>).
//
// It fixes the 48 virtual operations the engine calls, in their slot order, and owns what all
// adapters share: the load state, the vendor library files, the player-table lock, the map
// from display channel (group 0..4, channel 0..99) to player number and the 500 player
// entries. It also offers the shared adapter conventions as helpers (library loading, binding
// entry points by name, callback reconciliation, sound and callback states, snapshot through a
// temporary file, a guard around risky vendor calls), so each adapter writes only its vendor's
// part.
//
// Writing an adapter, in short:
//   - list the vendor entry points once in an X-macro (see ZORV_DECLARE_ENTRY below), declare
//     them as fields, bind them in InitDecoder with ZORV_BIND_ENTRIES;
//   - InitDecoder: `if (BeginInitDecoder(Param, Dir) == 0) return 0;` then
//     `if (LoadDllFiles(Dir + "PlayDll\\HIK\\", {"HikPlayM4.dll"}) != 0) return -1;`, bind,
//     `FState = 2; return 0;`;
//   - OpenStream: GetFreePlayer, open the vendor player, store Port/OpenState/... in
//     FPlayers[Player], feed the first frame;
//   - InputData: FindPlayer, ReconcileCallBack, hand the bytes to the vendor;
//   - PlaySound/StopSound/StartCallBack/StopCallBack: DoPlaySound, DoStopSound,
//     DoStartCallBack, DoStopCallBack with the vendor calls as lambdas;
//   - CloseStream: the vendor close, then TDecodeBase::CloseStream(Head);
//   - vendor decode callback: DeliverPicture(DvrType, Port, ...).
// Every table access checks group and channel; operations on a channel without a player
// return -1 (or the slot's neutral value) and never touch the tables.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "Platform.h"
#include "U_Lock.h"
#include "U_Log.h"
#include "U_Relaxed.h"
#include "ZorvDecoder.h"
#include "U_Mutex.h"

// Display channels: 5 groups of 100 channels; 500 player entries per adapter.
constexpr int GroupCount = 5;
constexpr int ChannelsPerGroup = 100;
constexpr int PlayerCount = 500;

// Whether a head names a display channel inside the 5 x 100 tables.
inline bool ChannelInRange(std::uint32_t Group, std::uint32_t Channel) {
  return Group < static_cast<std::uint32_t>(GroupCount) &&
         Channel < static_cast<std::uint32_t>(ChannelsPerGroup);
}
inline bool ChannelInRange(const TFrameHead& Head) { return ChannelInRange(Head.Group, Head.Channel); }

// One player entry. The player number is its index. Free when Port is -1 (other fields 0).
// Fields are TRelaxed because vendor callback threads read them without the lock.
struct TPlayerInfo {
  TRelaxed<std::uint32_t> Channel;        // display channel that owns the entry
  TRelaxed<std::uint32_t> Wnd;            // window the player shows in
  TRelaxed<std::int64_t> Port{-1};        // vendor port or handle; -1 = free
  TRelaxed<std::int64_t> AuxHandle;       // adapter-specific second vendor handle
  TRelaxed<std::uint8_t> Group;           // group of the owning channel
  TRelaxed<std::uint8_t> OpenState;       // 2 player adapters, 1 hardware adapters, on open
  TRelaxed<std::uint8_t> OpenKind;        // open-mode byte (each adapter says its value)
  TRelaxed<std::uint8_t> CallBackState;   // 0 none, 1 start requested, 2 vendor callback running
  TRelaxed<std::uint8_t> SoundState;      // 0 off, 1 wanted (no audio yet), 2 vendor sound on
  TRelaxed<std::uintptr_t> CallBackProc;  // host decode callback given to StartCallBack
  TRelaxed<std::uintptr_t> CallBackProcEx;  // callback given to StartCallBackEx
  TRelaxed<std::uint8_t> HasAudio;        // the stream carries audio

  // Back to free: every field 0, Port -1.
  void Clear();
};

// A vendor library file and its module handle (0 while not loaded).
struct TDllFile {
  std::string FileName;  // full path
  Win::HMODULE Handle = nullptr;
};

// One snapshot request entry: the unit's display callback writes the next picture of the
// player to FileName and sets Done. Done = 1 means nothing is pending. The requester stores
// FileName and clears Done under the entry's lock; the callback takes the name the same way.
struct TCapBMP {
  std::string FileName;
  std::atomic<std::uint8_t> Done{1};
  TMutex Lock;  // guards FileName between the requester and the display callback
};
// Display callback side: when a snapshot is pending for the entry, copies its file name and
// returns true; the callback writes the picture there, then calls FinishCapRequest.
bool TakeCapRequest(TCapBMP& Entry, std::string& FileName);
void FinishCapRequest(TCapBMP& Entry);
// Display or snapshot callback side in one: when a snapshot is pending for the entry, Write(name)
// writes the picture there and returns whether it did; a written picture finishes the request,
// a failed one leaves it armed for the next picture. Write runs guarded.
template <class F>
void ServeCapRequest(TCapBMP& Entry, F&& Write);
// The snapshot table of one adapter unit: one entry per player number.
using TCapBMPTable = std::array<TCapBMP, PlayerCount>;
// Empty names, every Done = 1 (adapter constructors call it).
void ResetCapTable(TCapBMPTable& Table);

// ---- Vendor entry points, bound by name ---------------------------------------------------
// An adapter lists its entry points once, one X(Field, "ExportName", Result, (Arguments)) per
// entry point (the macro continues over lines with backslashes):
//   #define HIK_ENTRIES(X)
//     X(FOpenStream, "Hik_PlayM4_OpenStream", Win::BOOL,
//       (std::int32_t, std::uint8_t*, std::uint32_t, std::uint32_t))
//     X(FConvertToBmpFile, "Hik_PLayM4_ConvertToBmpFile", void, (...))
// declares them as fields inside the class:   HIK_ENTRIES(ZORV_DECLARE_ENTRY)
// binds them, in list order, from a module:  ZORV_BIND_ENTRIES(HIK_ENTRIES, Module);
// and clears them on unload:                  HIK_ENTRIES(ZORV_CLEAR_ENTRY)
// A name the library does not export leaves the field null; each operation checks the
// pointer it needs. Entry points are stdcall; declare the rare register-convention one by hand
// (ZORV_REGISTER) and bind it with BindEntryPoint.
template <class Fn>
inline void BindEntryPoint(Win::HMODULE Module, const char* Name, Fn& Field) {
  Field = Module ? reinterpret_cast<Fn>(Win::GetProcAddress(Module, Name)) : nullptr;
}
#define ZORV_DECLARE_ENTRY(Field, Name, Result, Args) Result(ZORV_STDCALL* Field) Args = nullptr;
#define ZORV_BIND_ENTRY(Field, Name, Result, Args) BindEntryPoint(ZorvBindModule, Name, Field);
#define ZORV_CLEAR_ENTRY(Field, Name, Result, Args) Field = nullptr;
#define ZORV_BIND_ENTRIES(List, Module)      \
  do {                                       \
    Win::HMODULE ZorvBindModule = (Module);  \
    List(ZORV_BIND_ENTRY)                    \
  } while (0)

// Runs a risky vendor call; nothing it raises escapes: a C++ exception, and on Win32 also a
// fault or structured exception inside the vendor library (Win::CallCatchingFaults). Returns
// false when one was caught (the caller logs its own text and goes on). A call abandoned by a
// fault does not unwind its own frames: keep the lambda to the vendor call and plain stores.
template <class F>
inline bool GuardedCall(F&& Call) noexcept {
  struct TContext {
    F* Fn;
    bool Threw;
  } Context{&Call, false};
  const bool Completed = Win::CallCatchingFaults(
      [](void* P) {
        auto* C = static_cast<TContext*>(P);
        try {
          (*C->Fn)();
        } catch (...) {
          C->Threw = true;
        }
      },
      &Context);
  return Completed && !Context.Threw;
}

// A vendor BOOL counts as success when its low byte is non-zero.
inline bool VendorOk(std::int64_t Value) { return (Value & 0xFF) != 0; }

template <class F>
void ServeCapRequest(TCapBMP& Entry, F&& Write) {
  if (Entry.Done.load() != 0) return;
  // The picture is written under the entry's lock: a requester that gives up withdraws its
  // request under the same lock, so once it has, no late file appears under its name (it
  // deletes its temporary file right after).
  std::lock_guard<std::mutex> Hold(Entry.Lock);
  if (Entry.Done.load() != 0) return;
  std::string FileName = Entry.FileName;
  bool Written = false;
  GuardedCall([&] { Written = Write(FileName); });
  if (Written) Entry.Done.store(1);
}

// Exchanges the two chroma planes of a planar 4:2:0 picture in place: the Quarter bytes at
// Picture + 4 * Quarter and the Quarter bytes at Picture + 5 * Quarter change places (the luma
// plane of 4 * Quarter bytes stays). The caller makes sure the picture holds 6 * Quarter bytes.
inline void ExchangeChromaPlanes(std::uint8_t* Picture, std::size_t Quarter) {
  std::swap_ranges(Picture + 4 * Quarter, Picture + 5 * Quarter, Picture + 5 * Quarter);
}

class TDecodeBase {
 public:
  TDecodeBase();
  virtual ~TDecodeBase();
  TDecodeBase(const TDecodeBase&) = delete;
  TDecodeBase& operator=(const TDecodeBase&) = delete;

  // ---- the 48 operations, in slot order --------------------------------------------------
  /* 0 */ virtual std::int32_t GetFreePlayer(TFrameHead& Head, std::int32_t& Player);
  /* 1 */ virtual std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) = 0;
  /* 2 */ virtual std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir);
  /* 3 */ virtual std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) = 0;
  /* 4 */ virtual std::int32_t SetStreamOpenMode(TFrameHead& Head, std::int32_t Mode);
  /* 5 */ virtual std::int32_t GetColor(TFrameHead& Head, std::int32_t Region, std::int32_t* Brightness,
                                        std::int32_t* Contrast, std::int32_t* Saturation,
                                        std::int32_t* Hue);
  /* 6 */ virtual std::int32_t SetColor(TFrameHead& Head, std::int32_t Region, std::int32_t Brightness,
                                        std::int32_t Contrast, std::int32_t Saturation,
                                        std::int32_t Hue);
  /* 7 */ virtual std::int32_t PlaySound(TFrameHead& Head) = 0;
  /* 8 */ virtual std::int32_t StopSound(TFrameHead& Head) = 0;
  /* 9 */ virtual std::int32_t SetVolume(TFrameHead& Head, std::uint16_t Volume);
  /* 10 */ virtual std::int32_t StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) = 0;
  /* 11 */ virtual std::int32_t StopCallBack(TFrameHead& Head) = 0;
  /* 12 */ virtual std::int32_t StartCallBackEx(TFrameHead& Head, std::uintptr_t CallBack);
  /* 13 */ virtual std::int32_t StopCallBackEx(TFrameHead& Head);
  /* 14 */ virtual std::int32_t Play(TFrameHead& Head);
  /* 15 */ virtual std::int32_t Stop(TFrameHead& Head);
  /* 16 */ virtual std::int32_t RefrushWindow(TFrameHead& Head) = 0;
  /* 17 */ virtual std::int32_t ResetDisplay(TFrameHead& Head, std::int32_t Value) = 0;
  /* 18 */ virtual std::int32_t ClearBuffer(TFrameHead& Head) = 0;
  /* 19 */ virtual std::int32_t PauseChannel(TFrameHead& Head, std::int32_t Pause) = 0;
  // Writes a BMP image to *Buffer and (width, height) to Size[0], Size[1]; returns the bytes
  // written, -1 when nothing was captured.
  /* 20 */ virtual std::int32_t SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) = 0;
  /* 21 */ virtual std::int32_t SnapPictureToFile(TFrameHead& Head, const char* FileName);
  /* 22 */ virtual std::int32_t StartAviRecord(TFrameHead& Head, std::uintptr_t Value);
  /* 23 */ virtual std::int32_t StopAviRecord(TFrameHead& Head);
  /* 24 */ virtual std::int32_t CloseStream(TFrameHead& Head);
  /* 25 */ virtual std::int32_t SetDecoderVideoExtOutput(TFrameHead& Head, std::int32_t A, std::int32_t B,
                                                        std::uint8_t C, std::int32_t D, std::int32_t E,
                                                        std::int32_t F) = 0;
  /* 26 */ virtual std::int32_t SetDisplayRegion(TFrameHead& Head, std::int32_t A, std::int32_t B, void* C,
                                                std::int32_t D) = 0;
  /* 27 */ virtual std::int32_t InitHardHandle(std::int32_t Handle) = 0;
  /* 28 */ virtual std::int32_t OutParm(std::int32_t* Out1, std::int32_t* Out2) = 0;
  /* 29 */ virtual std::int32_t GetFileHeadLength(TFrameHead& Head);
  /* 30 */ virtual std::int32_t OpenFile(TFrameHead& Head, const char* FileName);
  /* 31 */ virtual std::int32_t CloseFile(TFrameHead& Head);
  /* 32 */ virtual std::int32_t Pause(TFrameHead& Head, std::int32_t Pause);
  /* 33 */ virtual std::int32_t Fast(TFrameHead& Head);
  /* 34 */ virtual std::int32_t Slow(TFrameHead& Head);
  /* 35 */ virtual std::int32_t OneByOne(TFrameHead& Head);
  /* 36 */ virtual std::int32_t SetPlayPos(TFrameHead& Head, double Pos);
  /* 37 */ virtual double GetPlayPos(TFrameHead& Head);
  /* 38 */ virtual std::int32_t GetFileTime(TFrameHead& Head);
  /* 39 */ virtual std::int32_t GetPlayedTime(TFrameHead& Head);
  /* 40 */ virtual std::int32_t SetPlayedTime(TFrameHead& Head, std::int32_t Time);
  /* 41 */ virtual std::int32_t GetPlayedFrames(TFrameHead& Head);
  /* 42 */ virtual std::int32_t GetFileTotalFrames(TFrameHead& Head);
  /* 43 */ virtual std::int32_t GetCurrentFrameRate(TFrameHead& Head);
  /* 44 */ virtual std::int32_t GetPlayedTimeEx(TFrameHead& Head);
  /* 45 */ virtual std::int32_t SetPlayedTimeEx(TFrameHead& Head, std::int32_t Time);
  /* 46 */ virtual std::int32_t GetCurrentFrameNum(TFrameHead& Head);
  // 47: the virtual constructor: FState 0. The constructor runs it; the lock exists already.
  /* 47 */ virtual void Create();

  // ---- helpers the engine and adapters use -----------------------------------------------
  // Player number of the head's channel; -1 = none (also for a channel outside the tables).
  std::int32_t PlayerOf(const TFrameHead& Head) const;
  // Copies the channel's whole entry when it has a player; leaves Info untouched otherwise.
  void GetPlayerInfo(const TFrameHead& Head, TPlayerInfo& Info) const;
  // Under FLock: frees the channel's entry and map cell; nothing when it has no player.
  void ReleasePlayer(const TFrameHead& Head);
  // The channel's entry when it has a player whose Port is not negative; else null.
  TPlayerInfo* FindPlayer(const TFrameHead& Head);
  // The vendor port of the channel (its entry's Port), -1 when it has no player.
  std::int32_t ChannelPort(const TFrameHead& Head);

  // Load state: 0 not loaded, 1 initialisation under way, 2 loaded and bound.
  std::int32_t State() const { return FState.load(); }
  std::int32_t DecodeChannelCount() const { return FDecodeChannelCount.load(); }
  std::uint8_t DisplayChannelCount() const { return FDisplayChannelCount.load(); }
  const TPlayerInfo& PlayerAt(int Player) const { return FPlayers[Player]; }
  // Serialises library loading of this adapter (the engine holds it around InitDecoder while the
  // adapter is not loaded yet, so two threads never load the same vendor libraries at once).
  std::mutex& LoadMutex() { return FLoadMutex; }
  std::int32_t ChannelPlayer(int Group, int Channel) const { return FChannelPlayer[Group][Channel]; }

 protected:
  // InitDecoder convention, first step: runs the base InitDecoder. Returns 0 when the adapter is
  // already loaded (return 0 from InitDecoder), 1 when the adapter must load now (FState has
  // been set to 0 as the convention asks; set it to 2 once loaded and bound).
  std::int32_t BeginInitDecoder(std::int32_t Param, const std::string& Dir);
  // Loads Files (names below VendorDir, which ends in '\') in order into FDllFiles: a missing
  // file ends with -1 (FDllExists false, nothing further loaded); a 0 handle costs a 1 ms pause
  // and loading goes on. AlteredSearchPath loads with LoadLibraryExA(LOAD_WITH_ALTERED_SEARCH_PATH).
  std::int32_t LoadDllFiles(const std::string& VendorDir, const std::vector<std::string>& Files,
                            bool AlteredSearchPath = false);
  // Handle of the last file of FDllFiles (the main vendor library), null when none.
  Win::HMODULE MainModule() const;
  // Frees every FDllFiles handle in order, or last loaded first with LastFirst (destructors
  // call it); the handles are cleared.
  void UnloadDllFiles(bool LastFirst = false);

  // Input convention step 3: starts the callback the engine wants for the channel (engine state
  // 1: entry state 1, StartCallBack with the engine's callback, engine state 2), then stops the
  // vendor callback when the engine no longer wants one.
  void ReconcileCallBack(TFrameHead& Head);
  // Sound convention. VendorOn/VendorOff switch the vendor sound for the entry.
  template <class F> std::int32_t DoPlaySound(TFrameHead& Head, F&& VendorOn);
  template <class F> std::int32_t DoStopSound(TFrameHead& Head, F&& VendorOff);
  // Callback convention. Prepare registers the vendor decode callback (may be empty); Undo
  // takes it back when the callback was running.
  template <class F> std::int32_t DoStartCallBack(TFrameHead& Head, std::uintptr_t CallBack, F&& Prepare);
  template <class F> std::int32_t DoStopCallBack(TFrameHead& Head, F&& Undo);

  // Vendor decode callback, the common part: finds the channel owning Port in this adapter's
  // table and, when the host wants pictures, calls its callback with a TDecFrameInfo (FrameKind
  // 1, DvrType) and the YUV 4:2:0 picture. A picture with Width*Height/4 = 0 is skipped after a
  // 1 ms pause. Returns whether the host callback was called.
  static bool DeliverPicture(std::uint8_t DvrType, std::int64_t Port, const std::uint8_t* Picture,
                             std::uint32_t Size, std::uint32_t Width, std::uint32_t Height);
  // Its second half, for adapters that know the channel of the picture: calls the host
  // callback of (Group, Channel) when there is one; same skip rule.
  static bool DeliverToChannel(std::uint8_t DvrType, std::uint8_t Group, std::uint32_t Channel,
                               const std::uint8_t* Picture, std::uint32_t Size, std::uint32_t Width,
                               std::uint32_t Height);
  // The picture a vendor decode callback reports: width and height from the library's frame
  // information (its first two 32-bit fields) and Quarter = width x height / 4.
  struct TVendorPicture {
    std::int64_t Width = 0;
    std::int64_t Height = 0;
    std::int64_t Quarter = 0;
    bool Short = false;  // fewer than 6 x Quarter bytes: not a whole 4:2:0 picture
  };
  // Vendor decode callback, first steps: no picture (no frame information, a dimension not
  // positive, Quarter 0) costs a 1 ms pause and gives false; a Size below 6 x Quarter writes two
  // log lines, 6 x Quarter and then Size, and sets Short.
  static bool ReadVendorPicture(const std::int32_t* FrameInfo, std::int32_t Size, TVendorPicture& Picture);

  // Snapshot through a temporary file: a "~BMP" name in the temporary directory is stored in
  // Entry (Done cleared), then up to 300 rounds of 2 ms (window messages processed) wait for
  // the display callback to write it; the file is read whole, copied to *Buffer, Size gets
  // (width, height), and the file is deleted. Returns the bytes written, -1 when nothing came.
  // ProcessMessages false: the wait only sleeps (for libraries that call back on their own
  // threads whatever the caller's message loop does).
  static std::int32_t SnapThroughTempFile(TCapBMP& Entry, std::int32_t* Size, std::uint8_t** Buffer,
                                          bool ProcessMessages = true);
  // As above, but the display callback writes straight to FileName, which stays. 1 when Done
  // was set within the 300 rounds, else 0.
  static std::int32_t SnapToFileAndWait(TCapBMP& Entry, const char* FileName);
  // The wait itself: true when Done was set within 300 rounds of 2 ms (window messages
  // processed in each round unless ProcessMessages is false).
  static bool WaitCapDone(const TCapBMP& Entry, bool ProcessMessages = true);
  // A fresh temporary file name with the prefix "~BMP" (the file exists, empty); "" on failure.
  static std::string MakeSnapTempName();
  // Snapshot the vendor library writes itself: Capture(name) asks it to write the current
  // picture as a BMP file to a fresh "~BMP" temporary file; the file is read whole, copied to
  // *Buffer and Size gets (width, height). The temporary file is deleted whatever came of it.
  // Returns the bytes written, -1 when nothing was written.
  template <class F>
  static std::int32_t SnapThroughVendorFile(std::int32_t* Size, std::uint8_t** Buffer, F&& Capture);
  // Its second half: reads and deletes the file Name, copies it out as above.
  static std::int32_t TakeSnapFile(const std::string& Name, std::int32_t* Size, std::uint8_t** Buffer);

  // Fields, in their documented order.
  std::atomic<bool> FDllExists{false};
  std::vector<TDllFile> FDllFiles;
  std::atomic<std::int32_t> FState{0};
  std::atomic<std::int32_t> FDecodeChannelCount{0};
  std::atomic<std::uint8_t> FDisplayChannelCount{0};
  TLock FLock;
  TRelaxed<std::int32_t> FChannelPlayer[GroupCount][ChannelsPerGroup];
  std::array<TPlayerInfo, PlayerCount> FPlayers;
  std::array<TRelaxed<bool>, 101> FStreamStarted;  // card channels 1..100 (hardware adapters)

 private:
  TMutex FLoadMutex;
};

// ---- template helpers ------------------------------------------------------------------------

template <class F>
std::int32_t TDecodeBase::DoPlaySound(TFrameHead& Head, F&& VendorOn) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  if (Info->HasAudio) {
    if (Info->SoundState != 2) {
      VendorOn(*Info);
      Info->SoundState = 2;
    }
  } else {
    Info->SoundState = 1;
  }
  return 0;
}

template <class F>
std::int32_t TDecodeBase::DoStopSound(TFrameHead& Head, F&& VendorOff) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (Info && Info->SoundState != 0) {
    if (Info->SoundState == 2) VendorOff(*Info);
    Info->SoundState = 0;
  }
  return 0;
}

template <class F>
std::int32_t TDecodeBase::DoStartCallBack(TFrameHead& Head, std::uintptr_t CallBack, F&& Prepare) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  if (Info->CallBackState == 0) return -1;
  if (Info->CallBackState == 2) return 0;
  Prepare(*Info);
  Info->CallBackProc = CallBack;
  Info->CallBackState = 2;
  return 0;
}

template <class F>
std::int32_t TDecodeBase::DoStopCallBack(TFrameHead& Head, F&& Undo) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return 0;
  if (Info->CallBackState == 2) Undo(*Info);
  if (Info->CallBackState != 0) {
    Info->CallBackProc = 0;
    Info->CallBackState = 0;
  }
  return 0;
}

template <class F>
std::int32_t TDecodeBase::SnapThroughVendorFile(std::int32_t* Size, std::uint8_t** Buffer, F&& Capture) {
  const std::string Name = MakeSnapTempName();
  if (Name.empty()) return -1;
  Capture(Name.c_str());
  return TakeSnapFile(Name, Size, Buffer);
}
