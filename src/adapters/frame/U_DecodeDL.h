// TDecodeDL: the adapter for DVR type 6, the DL frame decoder "DLLDECODER.dll" (loaded after
// its companion "decoder.dll", both in "PlayDll\DL\"). One library decoder per stream, opened
// with the stream's file head and the channel's window; the library draws every picture into
// that window itself and takes every audio frame. The adapter feeds it frame by frame, retrying
// a refused frame, and hands the decoded picture to the host's decode callback when the host
// asks for pictures. Snapshots come from the library's Capture, which writes a BMP file.
//
// The vendor handle (OpenDecoder's 32-bit result) is the low half of the entry's Port.
//
// Every call that names a decoder handle runs under the player's decoder lock and only while
// that decoder is open, so a frame fed on one thread never reaches a decoder another thread has
// destroyed, and the planes a decoded frame points to are copied before the decoder can go.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "U_DecodeBase.h"
#include "U_Mutex.h"

// What Decode writes for one frame. The library keeps the planes it points to (they belong to
// the decoder) until its next Decode or DestroyDecoder. No picture: Width or Height 0 or a
// plane pointer null.
struct TDLFrameOut {
  std::int32_t Kind;         // 1 = a picture was decoded
  std::int32_t Width;        // byte 4
  std::int32_t Height;       // byte 8
  std::int32_t LumaPitch;    // bytes from one luma row to the next
  std::int32_t ChromaPitch;  // bytes from one chroma row to the next
  std::int32_t Reserved;
  const std::uint8_t* Y;
  const std::uint8_t* U;
  const std::uint8_t* V;
};

// Entry points of DLLDECODER.dll, bound in this order.
#define DL_ENTRIES(X)                                                                         \
  X(FOpenDecoder, "OpenDecoder", std::uint32_t, (std::uint32_t, const std::uint8_t*, std::uint32_t)) \
  X(FDecode, "Decode", std::int32_t, (std::uint32_t, const std::uint8_t*, std::uint32_t, TDLFrameOut*)) \
  X(FDestroyDecoder, "DestroyDecoder", void, (std::uint32_t))                                   \
  X(FDecodeAudioFrame, "DecodeAudioFrame", void, (const std::uint8_t*, std::uint32_t, std::int32_t)) \
  X(FSetDecoderHWnd, "SetDecoderHWnd", void, (std::uint32_t, std::uint32_t))                    \
  X(FCapture, "Capture", void, (std::uint32_t, const char*))

class TDecodeDL : public TDecodeBase {
 public:
  static constexpr std::uint8_t DvrTypeCode = 6;
  // A refused frame (Decode below -1) is offered again after 5 ms, at most 100 times in all.
  static constexpr int RefusalPauseMs = 5;
  static constexpr int MaxAttempts = 100;
  // Largest picture handed to the host callback (larger reported sizes are not believed).
  static constexpr std::int32_t MaxDimension = 4096;

  TDecodeDL();
  ~TDecodeDL() override;

  std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override;
  std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t PlaySound(TFrameHead& Head) override;
  std::int32_t StopSound(TFrameHead& Head) override;
  std::int32_t StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) override;
  std::int32_t StopCallBack(TFrameHead& Head) override;
  std::int32_t RefrushWindow(TFrameHead&) override { return -1; }
  std::int32_t ResetDisplay(TFrameHead&, std::int32_t) override { return -1; }
  std::int32_t ClearBuffer(TFrameHead& Head) override;
  std::int32_t PauseChannel(TFrameHead&, std::int32_t) override { return 0; }
  std::int32_t SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) override;
  std::int32_t CloseStream(TFrameHead& Head) override;
  std::int32_t SetDecoderVideoExtOutput(TFrameHead&, std::int32_t, std::int32_t, std::uint8_t, std::int32_t,
                                        std::int32_t, std::int32_t) override {
    return 0;
  }
  std::int32_t SetDisplayRegion(TFrameHead&, std::int32_t, std::int32_t, void*, std::int32_t) override {
    return 0;
  }
  std::int32_t InitHardHandle(std::int32_t) override { return 0; }
  std::int32_t OutParm(std::int32_t*, std::int32_t*) override { return 0; }
  void Create() override;

 private:
  // The library decoder of one player entry.
  struct TDecoderSlot {
    TMutex Lock;              // held around every call naming the handle
    bool Open = false;        // guarded by Lock
    std::uint32_t Handle = 0;  // guarded by Lock
  };

  // Runs Call(handle) under the player's decoder lock while the decoder the entry was opened
  // with is still open; false when it is not (closed meanwhile) or the call raised.
  template <class F>
  bool WithDecoder(std::int32_t Player, std::uint32_t Handle, F&& Call);
  // Feeds one video frame, retrying refusals; copies the decoded picture into Picture (empty
  // when none). Returns 0, or -1 when the frame was given up.
  std::int32_t FeedVideo(TFrameHead& Head, std::int32_t Player, std::uint32_t Handle, const std::uint8_t* Data,
                         bool WantPicture, std::vector<std::uint8_t>& Picture, std::uint32_t& Width,
                         std::uint32_t& Height);
  // Whether the channel still has the player it had when the frame came in, with its decoder.
  bool StillOpen(const TFrameHead& Head, std::int32_t Player) const;
  static std::uint32_t HandleOf(const TPlayerInfo& Info) { return static_cast<std::uint32_t>(Info.Port.Get()); }

  DL_ENTRIES(ZORV_DECLARE_ENTRY)
  std::uint32_t FSpare = 0;
  std::array<TDecoderSlot, PlayerCount> FDecoders;
};
