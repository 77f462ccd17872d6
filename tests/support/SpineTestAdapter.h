// A test adapter that stands in a registry slot (through the internal registry hook) and keeps
// a journal of every operation the engine asks of it. It follows the shared adapter conventions
// with the TDecodeBase helpers, and can be told to fail its load or its opens, or to throw.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "U_AdapterRegistry.h"
#include "U_DecodeBase.h"
#include "U_DecodeEngine.h"

struct TAdapterCall {
  std::string Op;
  std::uint8_t DvrType = 0;  // the head's DvrType as the adapter received it
  std::uint8_t Group = 0;
  std::uint32_t Channel = 0;
  std::uint8_t FrameType = 0;
  std::uint32_t Wnd = 0;
};

class TTestAdapter : public TDecodeBase {
 public:
  // OwnType: the DVR type this adapter serves (its decode callback reports it).
  // DecodeChannels: a card adapter's decode channel count (0 for software adapters).
  explicit TTestAdapter(std::uint8_t OwnType, std::int32_t DecodeChannels = 0);

  // Vendor ports are the player number plus this, so tests can tell ports from numbers.
  static constexpr std::int64_t PortBase = 1000;

  std::atomic<bool> FailInit{false};     // InitDecoder fails as with a missing library
  std::atomic<bool> FailOpen{false};     // OpenStream/OpenFile fail after taking a player
  std::atomic<bool> ThrowOnClose{false};
  std::atomic<bool> ThrowOnInput{false};
  std::atomic<std::uint8_t> StreamHasAudio{0};
  std::atomic<std::int32_t> PauseResult{1};
  std::atomic<bool> Journalling{true};   // off in the stress test

  std::vector<TAdapterCall> Calls() const;
  std::vector<std::string> Ops() const;  // operation names only, in order
  int Count(const std::string& Op) const;
  void ClearCalls();

  // Plays the vendor decode thread: hands one picture of the port to the host callback.
  bool EmitPicture(std::int64_t Port, std::uint32_t Width, std::uint32_t Height);
  std::int32_t FreeEntries() const;  // player entries with Port -1
  TCapBMPTable& CapTable() { return FCap; }

  std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override;
  std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t PlaySound(TFrameHead& Head) override;
  std::int32_t StopSound(TFrameHead& Head) override;
  std::int32_t StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) override;
  std::int32_t StopCallBack(TFrameHead& Head) override;
  std::int32_t Play(TFrameHead& Head) override;
  std::int32_t RefrushWindow(TFrameHead& Head) override;
  std::int32_t ResetDisplay(TFrameHead& Head, std::int32_t Value) override;
  std::int32_t ClearBuffer(TFrameHead& Head) override;
  std::int32_t PauseChannel(TFrameHead& Head, std::int32_t Pause) override;
  std::int32_t SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) override;
  std::int32_t SnapPictureToFile(TFrameHead& Head, const char* FileName) override;
  std::int32_t CloseStream(TFrameHead& Head) override;
  std::int32_t SetDecoderVideoExtOutput(TFrameHead& Head, std::int32_t A, std::int32_t B, std::uint8_t C,
                                        std::int32_t D, std::int32_t E, std::int32_t F) override;
  std::int32_t SetDisplayRegion(TFrameHead& Head, std::int32_t A, std::int32_t B, void* C,
                                std::int32_t D) override;
  std::int32_t InitHardHandle(std::int32_t Handle) override;
  std::int32_t OutParm(std::int32_t* Out1, std::int32_t* Out2) override;
  std::int32_t OpenFile(TFrameHead& Head, const char* FileName) override;
  std::int32_t Pause(TFrameHead& Head, std::int32_t Pause) override;
  std::int32_t SetVolume(TFrameHead& Head, std::uint16_t Volume) override;
  std::int32_t GetColor(TFrameHead& Head, std::int32_t Region, std::int32_t* Brightness, std::int32_t* Contrast,
                        std::int32_t* Saturation, std::int32_t* Hue) override;
  std::int32_t SetColor(TFrameHead& Head, std::int32_t Region, std::int32_t Brightness, std::int32_t Contrast,
                        std::int32_t Saturation, std::int32_t Hue) override;
  double GetPlayPos(TFrameHead& Head) override;
  std::int32_t GetPlayedFrames(TFrameHead& Head) override;

 private:
  void Note(const char* Op, const TFrameHead& Head);
  std::int32_t TakePlayer(TFrameHead& Head, std::uint8_t OpenKind);

  std::uint8_t FOwnType;
  mutable std::mutex FJournalLock;
  std::vector<TAdapterCall> FCalls;
  TCapBMPTable FCap;
};

// Installs test adapters in registry slots, points the mode file at a fresh drive root and
// removes all of it again. Adapter(...) finds the adapter the live engine created for a slot.
class TSpineRig {
 public:
  TSpineRig();
  ~TSpineRig();
  // A test adapter for DVR type slot DvrType / card slot Slot in engines created from now on.
  void UseSoftware(int DvrType);
  void UseHardware(int Slot, std::int32_t DecodeChannels);
  // Every registry slot the engine routes to in the tests (1, 4, 6, 8, 9, 10, 12, 13, 15, 18,
  // 20, 21, 22 and card slots 1 and 3 with 16 decode channels).
  void UseAll();
  // Writes the first line of "c:\Flag.Txt" (empty text: removes the file).
  void SetFlagFile(const std::string& Text);
  std::string LibDir() const { return FDir + "/"; }

  static TTestAdapter* Adapter(int DvrType);
  static TTestAdapter* Card(int Slot);

 private:
  std::string FDir;
};

// A head with the given fields (the rest 0).
TFrameHead MakeHead(std::uint8_t Group, std::uint32_t Channel, std::uint8_t FrameType, std::uint8_t DvrType,
                    std::uint32_t DataLen = 0);
