// TDecodeHY: the adapter for DVR type 15, the HY player library "HIE_MP4Play.dll".
//
// The library lives in PlayDll\HY\ beside the three runtime libraries it needs ("msvcrt.dll",
// "libmmd.dll", "libguide40.dll"), which are loaded from there first. Each display channel
// gets a player port (its player number, 0..499), opened with the whole file head frame; every
// further frame is offered to the port until it takes it. The port decodes and draws into the
// channel's window by itself. Its decode callback hands pictures to the host with the two
// chroma planes exchanged (the library's picture has them in the other order); its display
// callback writes BMP snapshots. No file playback, play control, colour or volume.
#pragma once

#include <cstdint>
#include <string>

#include "U_DecodeBase.h"

class TDecodeHY : public TDecodeBase {
 public:
  static constexpr std::uint8_t DvrTypeCode = 15;
  static constexpr std::uint32_t SourceBufferSize = 51200;  // bytes the port buffers
  static constexpr int InputTries = 100;                    // offers of one frame
  static constexpr std::uint32_t InputRetryPauseMs = 5;

  // The library's callbacks (stdcall, on its threads). The frame information starts with the
  // picture's width and height.
  using TDisplayCallBack = void(ZORV_STDCALL*)(std::int32_t Port, char* Buffer, std::int32_t Size,
                                               std::int32_t Width, std::int32_t Height, std::int32_t Stamp,
                                               std::int32_t Type, std::int32_t Reserved);
  using TDecCallBack = void(ZORV_STDCALL*)(std::int32_t Port, char* Buffer, std::int32_t Size,
                                           const std::int32_t* FrameInfo, std::int32_t Reserved1,
                                           std::int32_t Reserved2);
  using TConvertToBmpFile = Win::BOOL(ZORV_STDCALL*)(char* Buffer, std::int32_t Size, std::int32_t Width,
                                                     std::int32_t Height, std::int32_t Type, char* FileName);

  TDecodeHY();
  ~TDecodeHY() override;

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
#define HY_ENTRIES(X)                                                                                          \
  X(FOpenStream, "MP4Play_OpenStream", Win::BOOL, (std::int32_t, std::uint8_t*, std::uint32_t, std::uint32_t)) \
  X(FSetDisplayCallBack, "MP4Play_SetDisplayCallBack", Win::BOOL, (std::int32_t, TDisplayCallBack))            \
  X(FPlay, "MP4Play_Play", Win::BOOL, (std::int32_t, std::uint32_t))                                           \
  X(FFast, "MP4Play_Fast", Win::BOOL, (std::int32_t))                                                          \
  X(FInputData, "MP4Play_InputData", Win::BOOL, (std::int32_t, std::uint8_t*, std::uint32_t))                  \
  X(FStop, "MP4Play_Stop", Win::BOOL, (std::int32_t))                                                          \
  X(FCloseStream, "MP4Play_CloseStream", Win::BOOL, (std::int32_t))                                            \
  X(FResetSourceBuffer, "MP4Play_ResetSourceBuffer", Win::BOOL, (std::int32_t))                                \
  X(FSetDecCallBack, "MP4Play_SetDecCallBack", Win::BOOL, (std::int32_t, TDecCallBack))                        \
  X(FPlaySound, "MP4Play_PlaySound", Win::BOOL, (std::int32_t))                                                \
  X(FStopSound, "MP4Play_StopSound", Win::BOOL, ())
  HY_ENTRIES(ZORV_DECLARE_ENTRY)

  static void ZORV_STDCALL DisplayCallBack(std::int32_t Port, char* Buffer, std::int32_t Size, std::int32_t Width,
                                           std::int32_t Height, std::int32_t Stamp, std::int32_t Type,
                                           std::int32_t Reserved);
  static void ZORV_STDCALL DecodeCallBack(std::int32_t Port, char* Buffer, std::int32_t Size,
                                          const std::int32_t* FrameInfo, std::int32_t Reserved1,
                                          std::int32_t Reserved2);

  // Whether the channel still holds Player with an open port (InputData's retries end when not).
  bool StillOpen(const TFrameHead& Head, std::int32_t Player) const;
};
