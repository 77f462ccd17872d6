// TDecodeSHX: the adapter for DVR type 10 over the frame decoder "PlayDll\SHX\SHXDecoder.dll".
// Each stream gets two library decoders (video, codec 62; audio, codec 65536), opened on the
// stream's first frame after the file head. The adapter owns the picture buffer the video
// decoder writes into and shows each picture through its own drawyuv binding, hands it to the
// host's decode callback, or writes it as a BMP snapshot. Audio frames are decoded, not played.
//
// Per-stream tables have one slot per player number 0..100: a stream that would get a higher
// player number is refused.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "U_DrawYuv.h"
#include "U_SHXDecoder.h"
#include "U_Mutex.h"

class TDecodeSHX : public TSHXAdapterBase {
 public:
  static constexpr std::uint8_t DvrTypeCode = 10;
  static constexpr std::int32_t VideoCodec = 62;
  static constexpr std::int32_t AudioCodec = 0x10000;
  static constexpr int SlotCount = 101;  // player numbers 0..100
  static constexpr std::size_t PictureBufferBytes = SHXMaxPictureBytes;

  TDecodeSHX();
  ~TDecodeSHX() override;

  std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override;
  std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) override;
  // Closes the wave output, then SoundState 2 -> 0.
  std::int32_t StopSound(TFrameHead& Head) override;
  std::int32_t SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) override;
  std::int32_t CloseStream(TFrameHead& Head) override;
  void Create() override;

 private:
  // Per-stream state of one player number. Lock is held while a frame uses the slot and while
  // CloseStream empties it, so a picture buffer never goes away under a decode.
  struct TStreamSlot {
    TMutex Lock;
    std::vector<std::uint8_t> PicBuf;
    std::uint32_t DrawHandle = 0;
    std::int32_t Width = -1;  // -1, -1 = not known yet
    std::int32_t Height = -1;
    std::uint32_t FrameCount = 0;
  };

  void FreeDraw(std::uint32_t Handle);
  std::uint32_t InitDraw(std::uint32_t Wnd);
  void DecodeVideo(TFrameHead& Head, std::int32_t Player, const TPlayerInfo& Info, const std::uint8_t* Data,
                   std::uint8_t Mode);

  std::unique_ptr<TDecodeToScreen> FScreen;
  std::array<TStreamSlot, SlotCount> FSlots;
  std::uint32_t FSpare = 0;
};
