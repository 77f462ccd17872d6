// TDecodeHB18: the adapter for DVR type 12, the HB player library "PlayDll\HB\HBPlaySDK.dll".
//
// Each display channel gets a player port (its player number, 0..499), opened with the first
// 64 bytes of the file head frame (the library's stream head). Every further frame goes to the
// library's one-frame decoders (pictures and sound separately, each tried up to 51 times) or,
// when the library has no one-frame decoder, to its stream input. The port decodes and draws
// into the channel's window by itself; its decode callback hands pictures to the host as they
// are, and its snapshot callback writes BMP snapshots. No file playback, play control, colour
// or volume.
#pragma once

#include <cstdint>
#include <string>

#include "U_DecodeBase.h"

class TDecodeHB18 : public TDecodeBase {
 public:
  static constexpr std::uint8_t DvrTypeCode = 12;
  static constexpr std::uint32_t StreamHeadSize = 64;  // the library always reads 64 head bytes
  static constexpr std::int32_t PictureQuality = -1;
  static constexpr std::int32_t StreamOpenMode = 1;
  static constexpr std::uint32_t OpenBufferKind = 2;
  static constexpr int DecodeTries = 51;  // calls of a one-frame decoder for one frame

  // The library's callbacks (stdcall, on its threads): the snapshot callback (port, picture
  // size, picture, width, height, picture type) and the decode callback, whose frame
  // information starts with the picture's width and height.
  using TSnapShotCallBack = void(ZORV_STDCALL*)(std::int32_t Port, std::int32_t Size, char* Buffer,
                                                std::int32_t Width, std::int32_t Height, std::int32_t Type);
  using TDecCallBack = void(ZORV_STDCALL*)(std::int32_t Port, char* Buffer, std::int32_t Size,
                                           const std::int32_t* FrameInfo, std::int32_t Reserved1,
                                           std::int32_t Reserved2);
  using TConvertToBMPFile = Win::BOOL(ZORV_STDCALL*)(std::int32_t Port, char* Buffer, std::int32_t Size,
                                                     std::int32_t Width, std::int32_t Height, std::int32_t Type,
                                                     char* FileName);

  TDecodeHB18();
  ~TDecodeHB18() override;

  /* 1 */ std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) override;
  /* 2 */ std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override;
  /* 3 */ std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) override;
  /* 7 */ std::int32_t PlaySound(TFrameHead& Head) override;
  /* 8 */ std::int32_t StopSound(TFrameHead& Head) override;
  /* 10 */ std::int32_t StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) override;
  /* 11 */ std::int32_t StopCallBack(TFrameHead& Head) override;
  /* 16 */ std::int32_t RefrushWindow(TFrameHead&) override { return -1; }
  /* 17 */ std::int32_t ResetDisplay(TFrameHead&, std::int32_t) override { return -1; }
  /* 18 */ std::int32_t ClearBuffer(TFrameHead& Head) override;
  /* 19 */ std::int32_t PauseChannel(TFrameHead&, std::int32_t) override { return 0; }
  /* 20 */ std::int32_t SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) override;
  /* 24 */ std::int32_t CloseStream(TFrameHead& Head) override;
  /* 25 */ std::int32_t SetDecoderVideoExtOutput(TFrameHead&, std::int32_t, std::int32_t, std::uint8_t, std::int32_t,
                                                 std::int32_t, std::int32_t) override {
    return 0;
  }
  /* 26 */ std::int32_t SetDisplayRegion(TFrameHead&, std::int32_t, std::int32_t, void*, std::int32_t) override {
    return 0;
  }
  /* 27 */ std::int32_t InitHardHandle(std::int32_t) override { return 0; }
  /* 28 */ std::int32_t OutParm(std::int32_t*, std::int32_t*) override { return 0; }
  /* 47 */ void Create() override;

 private:
  // The library's entry points, bound by name (null when the name is missing).
#define HB_ENTRIES(X)                                                                                            \
  X(FSetPicQuality, "HB_PLAY_SetPicQuality", Win::BOOL, (std::int32_t, std::int32_t))                            \
  X(FSetStreamOpenMode, "HB_PLAY_SetStreamOpenMode", Win::BOOL, (std::int32_t, std::int32_t))                    \
  X(FOpenStream, "HB_PLAY_OpenStream", Win::BOOL, (std::int32_t, std::uint8_t*, std::uint32_t, std::uint32_t))   \
  X(FSetSnapShotCallBack, "HB_PLAY_SetSnapShotCallBack", Win::BOOL, (std::int32_t, TSnapShotCallBack))           \
  X(FPlayEx, "HB_PLAY_PlayEx", Win::BOOL, (std::int32_t, std::uint32_t))                                         \
  X(FPlay, "HB_PLAY_Play", Win::BOOL, (std::int32_t, std::uint32_t))                                             \
  X(FInputData, "HB_PLAY_InputData", Win::BOOL, (std::int32_t, std::uint8_t*, std::uint32_t, std::int32_t))      \
  X(FDecodeOneFrame, "HB_PLAY_DecodeOneFrame", std::int32_t, (std::int32_t, std::uint8_t*, std::uint32_t,        \
                                                              std::int32_t))                                     \
  X(FDecodeAudioFrame, "HB_PLAY_DecodeAudioFrame", std::int32_t, (std::int32_t, std::uint8_t*, std::uint32_t))   \
  X(FSetDecCallBack, "HB_PLAY_SetDecCallBack", Win::BOOL, (std::int32_t, TDecCallBack, std::int32_t))            \
  X(FStop, "HB_PLAY_Stop", Win::BOOL, (std::int32_t))                                                            \
  X(FCloseStream, "HB_PLAY_CloseStream", Win::BOOL, (std::int32_t))                                              \
  X(FResetSourceBufFlag, "HB_PLAY_ResetSourceBufFlag", Win::BOOL, (std::int32_t))                                \
  X(FPlaySound, "HB_PLAY_PlaySound", Win::BOOL, (std::int32_t))                                                  \
  X(FCloseSound, "HB_PLAY_CloseSound", Win::BOOL, (std::int32_t))
  HB_ENTRIES(ZORV_DECLARE_ENTRY)

  static void ZORV_STDCALL SnapShotCallBack(std::int32_t Port, std::int32_t Size, char* Buffer, std::int32_t Width,
                                            std::int32_t Height, std::int32_t Type);
  static void ZORV_STDCALL DecodeCallBack(std::int32_t Port, char* Buffer, std::int32_t Size,
                                          const std::int32_t* FrameInfo, std::int32_t Reserved1,
                                          std::int32_t Reserved2);

  // Calls Decode until it reports the frame done, at most DecodeTries times, 1 ms after each
  // refusal; logs "Chl <port> <Name> fail" when every try was refused.
  template <class F>
  static void DecodeWithTries(std::int32_t Port, const char* Name, F&& Decode);
};
