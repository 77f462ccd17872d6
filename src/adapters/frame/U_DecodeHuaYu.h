// TDecodeHuaYu: the adapter for DVR type 20 over the frame decoder "PlayDll\HuaYu\SHXDecoder.dll".
// A stream opens on its file head with one library decoder (codec 12), which takes the file
// head itself and so learns the picture size. Each decoded picture is drawn through the shared
// renderer YUVToScreen and, while the host's decode callback runs, handed to it first; a
// pending snapshot is written from it as a BMP file. Audio frames go to the wave output.
//
// Per-channel state is kept by display channel (group, channel): the picture buffer is made on
// the channel's first picture and kept until the adapter goes. It is sized for the largest
// picture the library writes, and a picture is only read from it when the library reports a
// decoded picture that fits.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "U_SHXDecoder.h"
#include "U_Mutex.h"

class TDecodeHuaYu : public TSHXAdapterBase {
 public:
  static constexpr std::uint8_t DvrTypeCode = 20;
  static constexpr std::int32_t VideoCodec = 12;
  static constexpr std::size_t PictureBufferBytes = SHXMaxPictureBytes;

  TDecodeHuaYu();
  ~TDecodeHuaYu() override;

  std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override;
  // Opens the decoder on the file head, then feeds it the file head. 0, or -1 when no player is
  // free or the library makes no decoder.
  std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) override;
  // The library's result for a video frame or the file head (below 0: nothing decoded, nothing
  // shown); 0 for an audio frame; -1 without an open stream.
  std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) override;
  // SoundState 2 -> 0; the next audio frame switches it on again.
  std::int32_t StopSound(TFrameHead& Head) override;
  std::int32_t SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) override;
  std::int32_t CloseStream(TFrameHead& Head) override;
  void Create() override;

 private:
  // State of one display channel. Lock is held while a frame uses the channel's decoder, buffer
  // and drawing, and while CloseStream lets go of the decoder and the drawing.
  struct TChannelSlot {
    TMutex Lock;
    std::vector<std::uint8_t> PicBuf;  // empty until the channel's first picture
    std::uint32_t Decoder = 0;         // the open stream's decoder; 0 once it is closed
    std::uint32_t DrawHandle = 0;
    TDecFrameInfo Info{};              // the last picture: Size = decode result, picture size
  };

  TChannelSlot& SlotOf(const TFrameHead& Head) { return FSlots[Head.Group][Head.Channel]; }
  TCapBMP& CapOf(const TFrameHead& Head) { return FCapSlots[Head.Group * ChannelsPerGroup + Head.Channel]; }
  void PlayAudio(TFrameHead& Head, const std::uint8_t* Data);
  std::int32_t DecodeVideo(TFrameHead& Head, TChannelSlot& Slot, const std::uint8_t* Data, bool CallBack);

  std::array<std::array<TChannelSlot, ChannelsPerGroup>, GroupCount> FSlots;
  TCapBMPTable FCapSlots;  // one snapshot request per display channel
  std::uint32_t FSpare = 0;
};
