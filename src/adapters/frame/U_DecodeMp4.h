// TDecodeMp4: the adapter for DVR type 13, plain MPEG-4 video streams. It decodes them itself
// with libavcodec (one decoder context per open stream), draws every picture into the
// channel's window with a TSimpleDrawYUV per port, hands it to the host's decode callback when
// the host asked for pictures, and keeps it for BMP snapshots. No sound, no hardware.
//
// The port of a stream is its player number (0..499): every per-port table has an entry for
// each player, so all 500 players can carry MPEG-4 streams at once.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "U_AvCodec.h"
#include "U_DecodeBase.h"
#include "U_SimpleDrawYuv.h"
#include "U_Mutex.h"

class TDecodeMp4 : public TDecodeBase {
 public:
  static constexpr std::uint8_t DvrTypeCode = 13;
  // Staging buffer for one compressed frame, allocated at the port's first frame; a larger
  // frame grows it, up to MaxFrameBytes (larger frames are dropped).
  static constexpr std::size_t InputBufferBytes = 1 << 20;
  static constexpr std::size_t MaxFrameBytes = 32u << 20;
  // Largest BMP image a snapshot writes into the caller's memory: a 704 x 576 picture. Hosts
  // size their snapshot buffers by it; a larger picture is not copied out.
  static constexpr std::size_t MaxSnapshotBytes = 54 + 704 * 576 * 3;

  TDecodeMp4();
  ~TDecodeMp4() override;

  std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override;
  std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t CloseStream(TFrameHead& Head) override;
  std::int32_t SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) override;
  std::int32_t StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) override;
  std::int32_t StopCallBack(TFrameHead& Head) override;

  // Nothing to do for this adapter: 0.
  std::int32_t PlaySound(TFrameHead&) override { return 0; }
  std::int32_t StopSound(TFrameHead&) override { return 0; }
  std::int32_t RefrushWindow(TFrameHead&) override { return 0; }
  std::int32_t ResetDisplay(TFrameHead&, std::int32_t) override { return 0; }
  std::int32_t ClearBuffer(TFrameHead&) override { return 0; }
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

  void Create() override;

  // The renderer of a port (null before its first picture); for tests.
  const TSimpleDrawYUV* RendererOf(int Port) const;

 private:
  // One port: its decoder context and what decoding a frame needs, reused frame after frame.
  struct TPort {
    TRecursiveMutex Lock;  // feeding thread against close; re-entrant for host callbacks
    AVCodecContext* Context = nullptr;
    AVPacket* Packet = nullptr;
    AVFrame* Frame = nullptr;
    // Staging buffer for one compressed frame (+ padding); not zero-filled when allocated, so a
    // stream of small frames keeps only the pages its frames reach.
    std::unique_ptr<std::uint8_t[]> Input;
    std::size_t InputSize = 0;
    std::vector<std::uint8_t> Picture;  // Y, Cb, Cr packed: drawn and handed to the host
    std::unique_ptr<TSimpleDrawYUV> Renderer;  // from the first picture to the adapter's end
  };
  // A snapshot request of one port: Cap.Done 0 while a request waits for the next picture.
  struct TSnapshot {
    TCapBMP Cap;
    std::vector<std::uint8_t> BmpImage;  // guarded by Cap.Lock
  };

  void FreeDecoder(TPort& P);
  // Decodes one compressed frame of the port and outputs every picture it completes.
  void Decode(TFrameHead& Head, int Port, const std::uint8_t* Data, std::size_t Length);
  void OutputPicture(TFrameHead& Head, int Port, TPort& P);

  const TAvCodecApi* FAv = nullptr;  // bound libraries; null before InitDecoder succeeds
  const AVCodec* FCodec = nullptr;   // the MPEG-4 decoder; null before
  std::array<TPort, PlayerCount> FPorts;

  // Shared by all objects of the class, one entry per port.
  static std::array<TSnapshot, PlayerCount> Mp4Snapshots;
};
