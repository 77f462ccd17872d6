// The frame decoder "SHXDecoder.dll" as TDecodeSHX and TDecodeHuaYu drive it: its entry
// points, and TSHXAdapterBase, what the two adapters do alike. The library turns one compressed
// frame into one planar YUV 4:2:0 picture (YV12: luma, Cr, Cb) in a buffer the caller owns; it
// decodes pictures up to 720 x 576.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "U_DecodeBase.h"
#include "U_WaveOut.h"
#include "U_WaveOutThread.h"

// Create parameters, passed by value: the picture size the decoder starts with.
struct TSHXCreateParam {
  std::int32_t Width;
  std::int32_t Height;
  std::int32_t Reserved[3];
};
static_assert(sizeof(TSHXCreateParam) == 20);

// Decoder information: width and height of the pictures it decodes, then three more fields.
struct TSHXDecoderInfo {
  std::int32_t Width;
  std::int32_t Height;
  std::int32_t Reserved[3];
};
static_assert(sizeof(TSHXDecoderInfo) == 20);

// Bound in this order.
#define SHX_ENTRIES(X)                                                                          \
  X(FSHXCreate, "SHXDec_Create", std::uint32_t, (std::int32_t, TSHXCreateParam))                \
  X(FSHXDestroy, "SHXDec_Destroy", void, (std::uint32_t))                                       \
  X(FSHXDecode, "SHXDec_Decode", std::int32_t,                                                  \
    (std::uint32_t, const std::uint8_t*, std::int32_t, std::uint8_t*))                          \
  X(FSHXGetDecoderInfo, "SHXDec_GetDecoderInfo", std::int32_t, (std::uint32_t, TSHXDecoderInfo*))

// The size every decoder is created with, and the picture size assumed when the decoder cannot
// tell its own.
constexpr std::int32_t SHXDefaultWidth = 352;
constexpr std::int32_t SHXDefaultHeight = 288;
// Largest picture the library decodes (720 x 576 as 4:2:0).
constexpr std::size_t SHXMaxPictureBytes = 720 * 576 * 3 / 2;

// Whether a picture of Width x Height fits a buffer of Capacity bytes as 4:2:0.
inline bool SHXPictureFits(std::int64_t Width, std::int64_t Height, std::size_t Capacity) {
  return Width > 0 && Height > 0 && Width <= 4096 && Height <= 4096 &&
         static_cast<std::size_t>(Width * Height * 3 / 2) <= Capacity;
}

// The base of the two adapters over the library. Both bind the same four entry points, own a
// wave output with its notification thread, keep sound and callback states the same way and
// answer the display slots the library has nothing for with fixed values. Each adapter keeps its
// own per-stream tables, renderer, open and close.
class TSHXAdapterBase : public TDecodeBase {
 public:
  // SoundState 2 when the stream has audio, 1 otherwise; nothing reaches the library.
  std::int32_t PlaySound(TFrameHead& Head) override;
  // The library decodes into the adapter's buffer, so there is nothing to register: the
  // adapter hands pictures to the host itself while the state is 2.
  std::int32_t StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) override;
  std::int32_t StopCallBack(TFrameHead& Head) override;
  std::int32_t RefrushWindow(TFrameHead&) override { return -1; }
  std::int32_t ResetDisplay(TFrameHead&, std::int32_t) override { return -1; }
  // 0 when the channel has an open stream, else -1; the library keeps no queue to clear.
  std::int32_t ClearBuffer(TFrameHead& Head) override;
  std::int32_t PauseChannel(TFrameHead&, std::int32_t) override { return 0; }
  std::int32_t SetDecoderVideoExtOutput(TFrameHead&, std::int32_t, std::int32_t, std::uint8_t, std::int32_t,
                                        std::int32_t, std::int32_t) override {
    return 0;
  }
  std::int32_t SetDisplayRegion(TFrameHead&, std::int32_t, std::int32_t, void*, std::int32_t) override {
    return 0;
  }
  std::int32_t InitHardHandle(std::int32_t) override { return 0; }
  std::int32_t OutParm(std::int32_t*, std::int32_t*) override { return 0; }

 protected:
  // Loads VendorDir + "SHXDecoder.dll" (VendorDir ends in '\') and binds the entry points;
  // -1 when the file is missing (nothing bound, the next frame tries again).
  std::int32_t LoadDecoderLibrary(const std::string& VendorDir);
  // Creates the wave output and the thread that takes its done notifications.
  void StartWaveOutput();
  // Ends the wave thread (WM_QUIT, then 500 ms for it to finish its queue), closes and frees
  // the wave output. Nothing when the output was never started.
  void StopWaveOutput();

  // A library decoder for Codec, created at 352 x 288; 0 when the library is not bound, fails
  // or raises.
  std::uint32_t CreateDecoder(std::int32_t Codec);
  // Destroys a decoder; 0 is no decoder and is left alone. Whatever the library raises stays here.
  void DestroyDecoder(std::uint32_t Decoder);
  // Decodes one frame into Picture: the library's result, -1 when it is not bound, no data was
  // given, or it raised.
  std::int32_t DecodeFrame(std::uint32_t Decoder, const std::uint8_t* Data, std::uint32_t Length,
                           std::uint8_t* Picture);
  // The size of the decoder's pictures; 352 x 288 when it cannot tell.
  void AskPictureSize(std::uint32_t Decoder, std::int32_t& Width, std::int32_t& Height);
  // Writes the picture for a pending snapshot of Entry; true when one was pending. A picture
  // that could not be written leaves the request pending for the next one.
  static bool ServeSnapshot(TCapBMP& Entry, const std::uint8_t* Picture, std::int32_t Width,
                            std::int32_t Height);

  std::unique_ptr<TWaveOut> FWaveOut;
  std::unique_ptr<TWaveOutThread> FWaveThread;
  SHX_ENTRIES(ZORV_DECLARE_ENTRY)
};
