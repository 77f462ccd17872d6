// TDecodeEngine: the single object behind the exports.
//
// It owns the state of the 500 display channels (group 0..4, channel 0..99), the host callback
// tables, one adapter per supported DVR type and one per hardware card slot, the library
// directory, the initialisation value handed to adapters and the mode read from "c:\Flag.Txt".
// It routes each frame and control call to the adapter of the channel's DVR type, opens and
// re-opens streams on file heads, and keeps a channel's sound and callback wishes across
// re-opens. Adapters reach it through DecodeEngine().
//
// Every operation checks the head's group and channel first: outside the tables it returns the
// operation's failure value and touches nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "U_DecodeBase.h"
#include "U_Lock.h"
#include "U_Relaxed.h"
#include "ZorvDecoder.h"

// DVR types the engine knows (1..26); software adapters sit at 0..26, card slots at 0..4.
constexpr int DvrTypeSlots = 27;
constexpr int HardSlots = 5;
inline bool KnownDvrType(int DvrType) { return DvrType >= 1 && DvrType <= 26; }

// Per display channel. Host threads change single fields without the engine lock.
struct TChannelState {
  TRelaxed<std::uint8_t> DvrType;        // DVR type of the open stream; 0 = none recorded
  TRelaxed<std::uint8_t> SoundState;     // 0 off, 1 wanted, 2 playing
  TRelaxed<std::uint8_t> CallBackState;  // 0 none, 1 start wanted, 2 running
  TRelaxed<std::uint32_t> Wnd;           // window last given by PlayM4_Play
};

class TDecodeEngine {
 public:
  // Reads the mode file and creates the adapters (which load nothing yet).
  TDecodeEngine();
  // Frees the software adapters in index order, then the card adapters.
  ~TDecodeEngine();
  TDecodeEngine(const TDecodeEngine&) = delete;
  TDecodeEngine& operator=(const TDecodeEngine&) = delete;

  // ---- operations used by the exports (each takes its own copy of the head) --------------
  std::int32_t AddFrame(TFrameHead Head, const std::uint8_t* Data);
  // Initialises adapters; Mode 2 = software, 1 = hardware.
  std::int32_t CreateDecoder(std::uint8_t DvrType, std::uint8_t HardIndex, std::int32_t Mode);
  std::int32_t CloseOneChannel(TFrameHead Head);
  // The same; Kept tells whether the adapter could not close the stream and still holds its
  // player (the channel then keeps its stream recorded).
  std::int32_t CloseOneChannel(TFrameHead Head, bool& Kept);
  std::int32_t PlaySound(TFrameHead Head);   // always 0
  std::int32_t StopSound(TFrameHead Head);   // always 0
  std::int32_t StartCallBack(TFrameHead Head, std::uintptr_t CallBack);     // always 0
  std::int32_t StartDecCallBack(TFrameHead Head, std::uintptr_t CallBack);  // always 0
  std::int32_t StopCallBack(TFrameHead Head);     // always -1
  std::int32_t StopDecCallBack(TFrameHead Head);  // always -1
  bool Play(TFrameHead Head);                     // true (false only outside the tables)
  // The adapter's OpenFile result (its low byte is the success flag); 0 on every refusal.
  std::int32_t OpenFile(TFrameHead Head, const char* FileName);
  std::int32_t OutParm(std::uint8_t HardIndex, std::int32_t* Out1, std::int32_t* Out2);
  std::int32_t InitHardHandle(std::int32_t Handle);  // 0

  // Pass-throughs: the channel's recorded type replaces the head's; failure value when the
  // type is unknown (where checked) or has no adapter.
  std::int32_t ClearBuffer(TFrameHead Head);                                    // -1
  std::int32_t RefrushWindow(TFrameHead Head);                                  // -1
  std::int32_t ResetDisplay(TFrameHead Head, std::int32_t Value);               // -1
  std::int32_t SnapPicture(TFrameHead Head, std::int32_t* Size, std::uint8_t** Buffer);  // -1
  std::int32_t StartAviRecord(TFrameHead Head, std::uintptr_t Value);           // -1
  std::int32_t StopAviRecord(TFrameHead Head);                                  // -1
  std::int32_t GetColor(TFrameHead Head, std::int32_t Region, std::int32_t* Brightness,
                        std::int32_t* Contrast, std::int32_t* Saturation, std::int32_t* Hue);  // -1
  std::int32_t SetColor(TFrameHead Head, std::int32_t Region, std::int32_t Brightness,
                        std::int32_t Contrast, std::int32_t Saturation, std::int32_t Hue);     // -1
  std::int32_t Pause(TFrameHead Head, std::int32_t Value);                      // 0
  std::int32_t SetStreamOpenMode(TFrameHead Head, std::int32_t Mode);           // 0
  std::int32_t SetVolume(TFrameHead Head, std::uint16_t Volume);                // 0
  std::int32_t SnapPictureToFile(TFrameHead Head, const char* FileName);        // 0
  std::int32_t CloseFile(TFrameHead Head);                                      // 0
  std::int32_t Fast(TFrameHead Head);                                           // 0
  std::int32_t Slow(TFrameHead Head);                                           // 0
  std::int32_t OneByOne(TFrameHead Head);                                       // 0
  std::int32_t SetPlayPos(TFrameHead Head, double Pos);                         // 0
  double GetPlayPos(TFrameHead Head);                                           // 0.0
  std::int32_t GetFileTime(TFrameHead Head);                                    // 0
  std::int32_t GetPlayedTime(TFrameHead Head);                                  // 0
  std::int32_t GetPlayedFrames(TFrameHead Head);                                // 0
  std::int32_t GetFileTotalFrames(TFrameHead Head);                             // 0
  std::int32_t GetCurrentFrameRate(TFrameHead Head);                            // 0
  std::int32_t GetPlayedTimeEx(TFrameHead Head);                                // 0
  std::int32_t SetPlayedTimeEx(TFrameHead Head, std::int32_t Time);             // 0
  std::int32_t GetCurrentFrameNum(TFrameHead Head);                             // 0
  // By the head's HardIndex alone.
  std::int32_t SetDecoderVideoExtOutput(TFrameHead Head, std::int32_t A, std::int32_t B, std::uint8_t C,
                                        std::int32_t D, std::int32_t E, std::int32_t F);  // -1
  std::int32_t SetDisplayRegion(TFrameHead Head, std::int32_t A, std::int32_t B, void* C,
                                std::int32_t D);  // -1

  // ---- operations used by adapters ------------------------------------------------------
  // Copies the whole channel state (all zero for a channel outside the tables).
  void GetChannelState(int Group, int Channel, TChannelState& State) const;
  // Stores it back whole (ignored outside the tables).
  void SetChannelState(int Group, int Channel, const TChannelState& State);
  // Stores only the callback state (a whole-state store could undo a concurrent sound change).
  void SetChannelCallBackState(int Group, int Channel, std::uint8_t CallBackState);
  // Host decode callback of Tarn_Decode_StartCallBack; 0 when none.
  std::uintptr_t GetCallBack(int Group, int Channel) const;
  // Decode callback of PlayM4_SetDecCallBack; 0 when none.
  std::uintptr_t GetDecCallBack(int Group, int Channel) const;
  // First player entry of the DvrType adapter whose Port equals Port: 0 with its channel and
  // group, else -1.
  std::int32_t FindChannelByPort(std::uint8_t DvrType, std::int64_t Port, std::uint32_t& Channel,
                                 std::uint8_t& Group) const;
  // Hardware decoding for this head: HardIndex 1 or 3, that card has decode channels,
  // DecodeMode 1 and HardChannel not above the card's channel count.
  bool IsHardwareChannel(const TFrameHead& Head) const;
  // The adapter for a head: the card adapter on a hardware channel, else the DvrType adapter.
  TDecodeBase* GetDecoder(const TFrameHead& Head) const;
  TDecodeBase* Decoder(int DvrType) const;   // null outside 0..26 or for an empty slot
  TDecodeBase* HardDecoder(int Slot) const;  // null outside 0..4 or for an empty slot

  const std::string& LibDir() const { return FLibDir; }
  void SetLibDir(const std::string& Dir) { FLibDir = Dir; }
  std::int32_t InitParam() const { return FInitParam.load(); }
  void SetInitParam(std::int32_t Param) { FInitParam.store(Param); }
  std::int32_t FlagMode() const { return FFlagMode.load(); }

 private:
  TChannelState& StateOf(const TFrameHead& Head) { return FChannels[Head.Group][Head.Channel]; }
  // InitDecoder of one adapter, loading serialised per adapter.
  std::int32_t InitAdapter(TDecodeBase* Adapter);
  // Head copy with the channel's recorded type and its adapter; null when none (or, with
  // CheckKnown, when the recorded type is not 1..26).
  TDecodeBase* RecordedDecoder(TFrameHead& Head, bool CheckKnown);

  TLock FLock;
  TChannelState FChannels[GroupCount][ChannelsPerGroup];
  TRelaxed<std::uintptr_t> FCallBack[GroupCount][ChannelsPerGroup];
  TRelaxed<std::uintptr_t> FDecCallBack[GroupCount][ChannelsPerGroup];
  std::unique_ptr<TDecodeBase> FDecoders[DvrTypeSlots];
  std::unique_ptr<TDecodeBase> FHardDecoders[HardSlots];
  std::string FLibDir;
  std::atomic<std::int32_t> FInitParam{0};
  std::atomic<std::int32_t> FFlagMode{0};
};

// The global engine pointer: null before Tarn_Decode_Initialize and after Tarn_Decode_ShutDown.
TDecodeEngine* DecodeEngine();
void SetDecodeEngine(TDecodeEngine* Engine);

// The engine as a vendor callback holds it. Vendor threads call back whenever their library
// decodes, also while the host shuts the library down: Tarn_Decode_ShutDown takes the engine out
// of the global pointer and then waits until no callback holds it before destroying it, so a
// callback either sees the whole engine for as long as it holds it, or none at all.
class TEngineUse {
 public:
  TEngineUse();
  ~TEngineUse();
  TEngineUse(const TEngineUse&) = delete;
  TEngineUse& operator=(const TEngineUse&) = delete;
  explicit operator bool() const { return FEngine != nullptr; }
  TDecodeEngine* operator->() const { return FEngine; }
  TDecodeEngine* Get() const { return FEngine; }

 private:
  TDecodeEngine* FEngine;
};
// Empties the global pointer and returns the engine once no callback of another thread holds it
// any more (the calling thread's own holds, e.g. a host callback shutting down, are not waited for).
TDecodeEngine* TakeDecodeEngine();
