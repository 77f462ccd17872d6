// TDecodeDaHuaHard: the adapter for Dahua hardware decode cards, card slot 3 (HardIndex 3).
//
// The card decodes and shows the stream itself, on its overlay over the channel's window. It is
// driven through the card library "VDCDecode.dll" in "\SYSTEM\DH\" below the host directory,
// which needs five companion libraries beside it (it is loaded so that it finds them in its own
// folder). What is particular to this card:
//   - the card's device channels are addressed in steps of two: the display channel with
//     HardChannel 1, 2, 3 ... plays on card channel 0, 2, 4 ...; the usable channel count is
//     half the device count (at most the 100 the handle table holds);
//   - every OpenStream opens a card channel handle and a card stream of its own and starts it;
//     CloseStream stops and closes both again;
//   - input the card refuses is offered again, the whole frame each time, up to 5 times 100 ms
//     apart, then dropped;
//   - the adapter never marks a stream as carrying sound, so PlaySound only records the wish;
//   - monitor outputs and display regions are passed to the card as they come (the mode file
//     is not consulted here);
//   - snapshots fetch the card's YV12 picture (shared card snapshot, U_CardSnapshot).
// The library is never unloaded: the card keeps running for the life of the process.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "U_DecodeBase.h"

// One display region as the card library takes it (six 32-bit values).
struct REGION_PARAM {
  std::int32_t Left;
  std::int32_t Top;
  std::int32_t Width;
  std::int32_t Height;
  std::int32_t Color;
  std::int32_t Reserved;
};
static_assert(sizeof(REGION_PARAM) == 24);

// VDCDecode.dll entry points, looked up in this order. The adapter calls only those with an
// argument list; the others are looked up and kept as the library offers them (typed without
// arguments, never called). The last three are C++ functions the library exports under their
// decorated names.
#define DHHARD_ENTRIES(X)                                                                                   \
  X(FInitDecDevice, "DH_InitDecDevice", std::int32_t, (std::int32_t*))                                      \
  X(FReleaseDecDevice, "DH_ReleaseDecDevice", std::int32_t, ())                                             \
  X(FInitDirectDraw, "DH_InitDirectDraw", std::int32_t, (std::uint32_t, std::uint32_t))                     \
  X(FReleaseDirectDraw, "DH_ReleaseDirectDraw", std::int32_t, ())                                           \
  X(FChannelOpen, "DH_ChannelOpen", std::int32_t, (std::uint32_t, std::uint32_t*))                          \
  X(FChannelClose, "DH_ChannelClose", std::int32_t, (std::uint32_t))                                        \
  X(FOpenStream, "DH_OpenStream", std::int32_t, (std::uint32_t, const std::uint8_t*, std::uint32_t))        \
  X(FResetStream, "DH_ResetStream", std::int32_t, (std::uint32_t))                                          \
  X(FCloseStream, "DH_CloseStream", std::int32_t, (std::uint32_t))                                          \
  X(FInputData, "DH_InputData", std::int32_t, (std::uint32_t, const std::uint8_t*, std::uint32_t))          \
  X(FOpenFile, "DH_OpenFile", std::int32_t, ())                                                             \
  X(FCloseFile, "DH_CloseFile", std::int32_t, ())                                                           \
  X(FSetDisplayPara, "DH_SetDisplayPara", std::int32_t, ())                                                 \
  X(FPlay, "DH_Play", std::int32_t, (std::uint32_t, std::uint32_t))                                         \
  X(FStop, "DH_Stop", std::int32_t, (std::uint32_t))                                                        \
  X(FPause, "DH_Pause", std::int32_t, ())                                                                   \
  X(FPlaySound, "DH_PlaySound", std::int32_t, (std::uint32_t))                                              \
  X(FStopSound, "DH_StopSound", std::int32_t, (std::uint32_t))                                              \
  X(FSetVolume, "DH_SetVolume", std::int32_t, ())                                                           \
  X(FRefreshSurface, "DH_RefreshSurface", std::int32_t, ())                                                 \
  X(FReStoreSurface, "DH_ReStoreSurface", std::int32_t, ())                                                 \
  X(FClearSurface, "DH_ClearSurface", std::int32_t, ())                                                     \
  X(FZoomOverlay, "DH_ZoomOverlay", std::int32_t, ())                                                       \
  X(FStartCapFile, "DH_StartCapFile", std::int32_t, ())                                                     \
  X(FStopCapFile, "DH_StopCapFile", std::int32_t, ())                                                       \
  X(FGetYV12Image, "DH_GetYV12Image", std::int32_t, (std::uint32_t, std::uint8_t*, std::uint32_t))          \
  X(FGetPictureSize, "DH_GetPictureSize", std::int32_t, (std::uint32_t, std::int32_t*, std::int32_t*))      \
  X(FConvertToBmpFile, "DH_ConvertToBmpFile", std::int32_t, ())                                             \
  X(FJump, "DH_Jump", std::int32_t, ())                                                                     \
  X(FSetJumpInterval, "DH_SetJumpInterval", std::int32_t, ())                                               \
  X(FGetSpeed, "DH_GetSpeed", std::int32_t, ())                                                             \
  X(FSetSpeed, "DH_SetSpeed", std::int32_t, ())                                                             \
  X(FSetPlayPos, "DH_SetPlayPos", std::int32_t, ())                                                         \
  X(FGetPlayPos, "DH_GetPlayPos", std::int32_t, ())                                                         \
  X(FGetVersion, "DH_GetVersion", std::int32_t, ())                                                         \
  X(FGetCurrentFrameRate, "DH_GetCurrentFrameRate", std::int32_t, ())                                       \
  X(FGetCurrentFrameNum, "DH_GetCurrentFrameNum", std::int32_t, ())                                         \
  X(FGetFileTotalFrames, "DH_GetFileTotalFrames", std::int32_t, ())                                         \
  X(FGetFileTime, "DH_GetFileTime", std::int32_t, ())                                                       \
  X(FGetCurrentFrameTime, "DH_GetCurrentFrameTime", std::int32_t, ())                                       \
  X(FGetPlayedFrames, "DH_GetPlayedFrames", std::int32_t, ())                                               \
  X(FSetFileEndMsg, "DH_SetFileEndMsg", std::int32_t, ())                                                   \
  X(FSetStreamOpenMode, "DH_SetStreamOpenMode", std::int32_t, (std::uint32_t, std::uint32_t))              \
  X(FGetStreamOpenMode, "DH_GetStreamOpenMode", std::int32_t, ())                                           \
  X(FSetAudioPreview, "DH_SetAudioPreview", std::int32_t, (std::uint32_t, std::int32_t))                    \
  X(FGetDspCount, "DH_GetDspCount", std::int32_t, ())                                                       \
  X(FGetDspDetail, "DH_GetDspDetail", std::int32_t, ())                                                     \
  X(FGetDeviceSerialNo, "DH_GetDeviceSerialNo", std::int32_t, ())                                           \
  X(FSetVideoOutStandard, "DH_SetVideoOutStandard", std::int32_t, ())                                       \
  X(FSetDspDeadlockMsg, "DH_SetDspDeadlockMsg", std::int32_t, ())                                           \
  X(FGetChannelNum, "DH_GetChannelNum", std::int32_t, ())                                                   \
  X(FResetDsp, "DH_ResetDsp", std::int32_t, ())                                                             \
  X(FPlaySetRect, "DH_PlaySetRect", std::int32_t, ())                                                       \
  X(FSetTVMargin, "DH_SetTVMargin", std::int32_t, ())                                                       \
  X(FSetDECProgressCB, "DH_SetDECProgressCB", std::int32_t, ())                                             \
  X(FSetDisplayRegion, "?DH_SetDisplayRegion@@YGHIIPAUREGION_PARAM@@I@Z", std::int32_t,                    \
    (std::uint32_t, std::uint32_t, REGION_PARAM*, std::uint32_t))                                           \
  X(FSetDecoderVideoOutput, "?DH_SetDecoderVideoOutput@@YGHIIHII@Z", std::int32_t, ())                      \
  X(FSetDecoderVideoExtOutput, "?DH_SetDecoderVideoExtOutput@@YGHIIHIII@Z", std::int32_t,                  \
    (std::uint32_t, std::uint32_t, std::int32_t, std::uint32_t, std::uint32_t, std::uint32_t))

class TDecodeDaHuaHard : public TDecodeBase {
 public:
  // Slot the engine keeps the adapter in, and the open-mode byte of its player entries.
  static constexpr std::uint8_t HardIndex = 3;
  static constexpr std::uint8_t OpenKindCard = 4;
  // Offers of one refused frame, and the pause after each refusal.
  static constexpr int InputAttempts = 5;
  static constexpr Win::DWORD InputRetryMs = 100;

  TDecodeDaHuaHard();
  // Forgets the library without unloading it and without calling it.
  ~TDecodeDaHuaHard() override;

  std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override;
  std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t PlaySound(TFrameHead& Head) override;
  std::int32_t StopSound(TFrameHead& Head) override;
  std::int32_t StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) override;
  std::int32_t StopCallBack(TFrameHead& Head) override;
  std::int32_t RefrushWindow(TFrameHead& Head) override;
  std::int32_t ResetDisplay(TFrameHead& Head, std::int32_t Value) override;
  std::int32_t ClearBuffer(TFrameHead& Head) override;
  std::int32_t PauseChannel(TFrameHead& Head, std::int32_t Pause) override;
  std::int32_t SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) override;
  std::int32_t CloseStream(TFrameHead& Head) override;
  std::int32_t SetDecoderVideoExtOutput(TFrameHead& Head, std::int32_t A, std::int32_t B, std::uint8_t C,
                                        std::int32_t D, std::int32_t E, std::int32_t F) override;
  std::int32_t SetDisplayRegion(TFrameHead& Head, std::int32_t A, std::int32_t B, void* C,
                                std::int32_t D) override;
  std::int32_t InitHardHandle(std::int32_t Handle) override;
  std::int32_t OutParm(std::int32_t* Out1, std::int32_t* Out2) override;

  // The card channel handle opened at initialisation for usable channel Index (0..99).
  std::uint32_t ChannelHandle(int Index) const { return FChannelHandles[Index]; }

 private:
  // Checks the companions, loads the card library and looks its entry points up; 0 or -1.
  std::int32_t LoadLibraries(const std::string& Dir);

  DHHARD_ENTRIES(ZORV_DECLARE_ENTRY)
  std::array<std::uint32_t, 100> FChannelHandles{};
};
