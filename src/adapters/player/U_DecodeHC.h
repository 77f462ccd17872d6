// TDecodeHC: the adapter for DVR type 1, the Hikvision player library "HikPlayM4.dll".
//
// Each display channel gets a player port (its player number, 0..499), opened from the
// channel's file head frame (a 40-byte stream head, then stream data); every further frame is
// fed to the port, which decodes and draws into the channel's window by itself. The library's
// decode callback becomes the host's decode callbacks (Tarn_Decode_StartCallBack and
// PlayM4_SetDecCallBack); its display callback writes BMP snapshots. The file-playback and
// play-control operations of the PlayM4 layer go to the port as they are.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "U_DecodeBase.h"

class TDecodeHC : public TDecodeBase {
 public:
  static constexpr std::uint8_t DvrTypeCode = 1;
  static constexpr std::uint32_t StreamHeadSize = 40;
  static constexpr std::uint32_t SourceBufferSize = 2097152;  // bytes the port buffers
  static constexpr std::uint32_t DisplayBufferCount = 25;

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

  TDecodeHC();
  ~TDecodeHC() override;

  /* 1 */ std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) override;
  /* 2 */ std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override;
  /* 3 */ std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) override;
  /* 4 */ std::int32_t SetStreamOpenMode(TFrameHead& Head, std::int32_t Mode) override;
  /* 5 */ std::int32_t GetColor(TFrameHead& Head, std::int32_t Region, std::int32_t* Brightness,
                                std::int32_t* Contrast, std::int32_t* Saturation, std::int32_t* Hue) override;
  /* 6 */ std::int32_t SetColor(TFrameHead& Head, std::int32_t Region, std::int32_t Brightness,
                                std::int32_t Contrast, std::int32_t Saturation, std::int32_t Hue) override;
  /* 7 */ std::int32_t PlaySound(TFrameHead& Head) override;
  /* 8 */ std::int32_t StopSound(TFrameHead& Head) override;
  /* 9 */ std::int32_t SetVolume(TFrameHead& Head, std::uint16_t Volume) override;
  /* 10 */ std::int32_t StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) override;
  /* 11 */ std::int32_t StopCallBack(TFrameHead& Head) override;
  /* 12 */ std::int32_t StartCallBackEx(TFrameHead& Head, std::uintptr_t CallBack) override;
  /* 13 */ std::int32_t StopCallBackEx(TFrameHead& Head) override;
  /* 14 */ std::int32_t Play(TFrameHead& Head) override;
  /* 15 */ std::int32_t Stop(TFrameHead& Head) override;
  /* 16 */ std::int32_t RefrushWindow(TFrameHead&) override { return -1; }
  /* 17 */ std::int32_t ResetDisplay(TFrameHead&, std::int32_t) override { return -1; }
  /* 18 */ std::int32_t ClearBuffer(TFrameHead& Head) override;
  /* 19 */ std::int32_t PauseChannel(TFrameHead&, std::int32_t) override { return 0; }
  /* 20 */ std::int32_t SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) override;
  /* 21 */ std::int32_t SnapPictureToFile(TFrameHead& Head, const char* FileName) override;
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
  /* 29 */ std::int32_t GetFileHeadLength(TFrameHead& Head) override;
  /* 30 */ std::int32_t OpenFile(TFrameHead& Head, const char* FileName) override;
  /* 31 */ std::int32_t CloseFile(TFrameHead& Head) override;
  /* 32 */ std::int32_t Pause(TFrameHead& Head, std::int32_t Pause) override;
  /* 33 */ std::int32_t Fast(TFrameHead& Head) override;
  /* 34 */ std::int32_t Slow(TFrameHead& Head) override;
  /* 35 */ std::int32_t OneByOne(TFrameHead& Head) override;
  /* 36 */ std::int32_t SetPlayPos(TFrameHead& Head, double Pos) override;
  /* 37 */ double GetPlayPos(TFrameHead& Head) override;
  /* 38 */ std::int32_t GetFileTime(TFrameHead& Head) override;
  /* 39 */ std::int32_t GetPlayedTime(TFrameHead& Head) override;
  /* 40 */ std::int32_t SetPlayedTime(TFrameHead& Head, std::int32_t Time) override;
  /* 41 */ std::int32_t GetPlayedFrames(TFrameHead& Head) override;
  /* 42 */ std::int32_t GetFileTotalFrames(TFrameHead& Head) override;
  /* 43 */ std::int32_t GetCurrentFrameRate(TFrameHead& Head) override;
  /* 44 */ std::int32_t GetPlayedTimeEx(TFrameHead& Head) override;
  /* 45 */ std::int32_t SetPlayedTimeEx(TFrameHead& Head, std::int32_t Time) override;
  /* 46 */ std::int32_t GetCurrentFrameNum(TFrameHead& Head) override;
  /* 47 */ void Create() override;

 private:
  // The library's entry points, bound by name in this order (null when the name is missing).
#define HIK_ENTRIES(X)                                                                                          \
  X(FSetTimerType, "Hik_PlayM4_SetTimerType", Win::BOOL, (std::int32_t, std::uint32_t, std::uint32_t))          \
  X(FSyncToAudio, "Hik_PlayM4_SyncToAudio", Win::BOOL, (std::int32_t, Win::BOOL))                               \
  X(FOpenStream, "Hik_PlayM4_OpenStream", Win::BOOL, (std::int32_t, std::uint8_t*, std::uint32_t, std::uint32_t)) \
  X(FSetDisplayBuf, "Hik_PlayM4_SetDisplayBuf", Win::BOOL, (std::int32_t, std::uint32_t))                       \
  X(FSetDisplayCallBack, "Hik_PlayM4_SetDisplayCallBack", Win::BOOL, (std::int32_t, TDisplayCallBack))          \
  X(FPlay, "Hik_PlayM4_Play", Win::BOOL, (std::int32_t, std::uint32_t))                                         \
  X(FInputData, "Hik_PlayM4_InputData", Win::BOOL, (std::int32_t, std::uint8_t*, std::uint32_t))                \
  X(FStop, "Hik_PlayM4_Stop", Win::BOOL, (std::int32_t))                                                        \
  X(FCloseStream, "Hik_PlayM4_CloseStream", Win::BOOL, (std::int32_t))                                          \
  X(FResetBuffer, "Hik_PlayM4_ResetBuffer", Win::BOOL, (std::int32_t, std::uint32_t))                           \
  X(FSetDecCallBack, "Hik_PlayM4_SetDecCallBack", Win::BOOL, (std::int32_t, TDecCallBack))                      \
  X(FFast, "Hik_PlayM4_Fast", Win::BOOL, (std::int32_t))                                                        \
  X(FPlaySound, "Hik_PlayM4_PlaySound", Win::BOOL, (std::int32_t))                                              \
  X(FStopSound, "Hik_PlayM4_StopSound", Win::BOOL, ())                                                          \
  X(FSetStreamOpenMode, "Hik_PlayM4_SetStreamOpenMode", Win::BOOL, (std::int32_t, std::uint32_t))               \
  X(FSetVolume, "Hik_PlayM4_SetVolume", Win::BOOL, (std::int32_t, std::uint32_t))                               \
  X(FPause, "Hik_PlayM4_Pause", Win::BOOL, (std::int32_t, std::uint32_t))                                       \
  X(FSetPlayedTimeEx, "Hik_PlayM4_SetPlayedTimeEx", Win::BOOL, (std::int32_t, std::uint32_t))                   \
  X(FSetColor, "Hik_PlayM4_SetColor", Win::BOOL,                                                                \
    (std::int32_t, std::uint32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t))                      \
  X(FGetColor, "Hik_PlayM4_GetColor", Win::BOOL,                                                                \
    (std::int32_t, std::uint32_t, std::int32_t*, std::int32_t*, std::int32_t*, std::int32_t*))                  \
  X(FOpenFile, "Hik_PlayM4_OpenFile", Win::BOOL, (std::int32_t, char*))                                         \
  X(FSetPlayPos, "Hik_PlayM4_SetPlayPos", Win::BOOL, (std::int32_t, double))                                    \
  X(FGetPlayPos, "Hik_PlayM4_GetPlayPos", float, (std::int32_t))                                                \
  X(FCloseFile, "Hik_PlayM4_CloseFile", Win::BOOL, (std::int32_t))                                              \
  X(FSlow, "Hik_PlayM4_Slow", Win::BOOL, (std::int32_t))                                                        \
  X(FOneByOne, "Hik_PlayM4_OneByOne", Win::BOOL, (std::int32_t))                                                \
  X(FGetFileTime, "Hik_PlayM4_GetFileTime", std::uint32_t, (std::int32_t))                                      \
  X(FGetPlayedTime, "Hik_PlayM4_GetPlayedTime", std::uint32_t, (std::int32_t))                                  \
  X(FGetPlayedFrames, "Hik_PlayM4_GetPlayedFrames", std::uint32_t, (std::int32_t))                              \
  X(FGetFileTotalFrames, "Hik_PlayM4_GetFileTotalFrames", std::uint32_t, (std::int32_t))                        \
  X(FGetCurrentFrameRate, "Hik_PlayM4_GetCurrentFrameRate", std::uint32_t, (std::int32_t))                      \
  X(FGetPlayedTimeEx, "Hik_PlayM4_GetPlayedTimeEx", std::uint32_t, (std::int32_t))                              \
  X(FGetCurrentFrameNum, "Hik_PlayM4_GetCurrentFrameNum", std::uint32_t, (std::int32_t))                        \
  X(FGetFileHeadLength, "Hik_PlayM4_GetFileHeadLength", std::uint32_t, ())
  HIK_ENTRIES(ZORV_DECLARE_ENTRY)

  static void ZORV_STDCALL DisplayCallBack(std::int32_t Port, char* Buffer, std::int32_t Size, std::int32_t Width,
                                           std::int32_t Height, std::int32_t Stamp, std::int32_t Type,
                                           std::int32_t Reserved);
  static void ZORV_STDCALL DecodeCallBack(std::int32_t Port, char* Buffer, std::int32_t Size,
                                          const std::int32_t* FrameInfo, std::int32_t Reserved1,
                                          std::int32_t Reserved2);

  // The port of the head's channel, -1 when it has no player.
  std::int32_t PortOf(const TFrameHead& Head);
  // StopCallBack and StopCallBackEx: Ex selects the callback field that is cleared.
  std::int32_t StopVendorCallBack(TFrameHead& Head, bool Ex);
  std::int32_t StartVendorCallBack(TFrameHead& Head, std::uintptr_t CallBack, bool Ex);
};
