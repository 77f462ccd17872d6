// TDecodeHikHard: the adapter for Hikvision DS-40xx decode cards, hardware card slot 1.
//
// The card decodes and shows the streams itself, over the card library "System\HIK\DS40xxSDK.dll"
// below the host's directory. Every card decode channel is opened once when the adapter
// initialises; a display channel is tied to card channel HardChannel (numbered from 1) and its
// picture is shown by the card's overlay over the host window given by InitHardHandle, placed
// over the channel's own window, and, on request, on the card's video outputs. A card stream,
// once opened and started on a card channel, keeps running for the life of the adapter:
// CloseStream only releases the display channel's player, and the next OpenStream on that card
// channel reuses the running stream (its first frame must then be an I frame). Snapshots are the
// card's current YV12 picture written as a BMP image.
//
// The card's channel tables hold 100 card channels: a card reporting more is used for its first
// 100 (the decode channel count the engine routes by never exceeds 100).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "U_DecodeBase.h"

// The display record of HW_SetDisplayPara: two display flags (always equal), the picture's
// rectangle relative to the overlay's host window, one reserved value.
struct TDisplayPara {
  std::int32_t FlagA;
  std::int32_t FlagB;
  std::int32_t Left;
  std::int32_t Top;
  std::int32_t Width;
  std::int32_t Height;
  std::int32_t Reserved;
};

// A card channel handle (from HW_ChannelOpen).
using THikCardHandle = std::uintptr_t;

// The entry points of DS40xxSDK.dll, looked up in this order. Those the adapter never calls
// are kept without arguments.
#define HIKCARD_ENTRIES(X) \
  X(FInitDSPs, "InitDSPs", std::int32_t, ()) \
  X(FDeInitDSPs, "DeInitDSPs", std::int32_t, ()) \
  X(FGetDecodeChannelCount, "GetDecodeChannelCount", std::int32_t, ()) \
  X(FGetBoardCount, "GetBoardCount", std::int32_t, ()) \
  X(FGetBoardDetail, "GetBoardDetail", std::int32_t, ()) \
  X(FHW_InitDirectDraw, "HW_InitDirectDraw", std::int32_t, (std::uint32_t, std::uint32_t)) \
  X(FHW_ReleaseDirectDraw, "HW_ReleaseDirectDraw", std::int32_t, ()) \
  X(FHW_InitDecDevice, "HW_InitDecDevice", std::int32_t, (std::int32_t*)) \
  X(FHW_ReleaseDecDevice, "HW_ReleaseDecDevice", std::int32_t, ()) \
  X(FHW_ChannelOpen, "HW_ChannelOpen", std::int32_t, (std::int32_t, THikCardHandle*)) \
  X(FHW_ChannelClose, "HW_ChannelClose", std::int32_t, ()) \
  X(FHW_OpenStream, "HW_OpenStream", std::int32_t, (THikCardHandle, const std::uint8_t*, std::uint32_t)) \
  X(FHW_CloseStream, "HW_CloseStream", std::int32_t, (THikCardHandle)) \
  X(FHW_InputData, "HW_InputData", std::uint32_t, (THikCardHandle, const std::uint8_t*, std::uint32_t)) \
  X(FHW_OpenFile, "HW_OpenFile", std::int32_t, ()) \
  X(FHW_CloseFile, "HW_CloseFile", std::int32_t, ()) \
  X(FHW_SetDisplayPara, "HW_SetDisplayPara", std::int32_t, (THikCardHandle, TDisplayPara*)) \
  X(FHW_Play, "HW_Play", std::int32_t, (THikCardHandle)) \
  X(FHW_Stop, "HW_Stop", std::int32_t, (THikCardHandle)) \
  X(FHW_Pause, "HW_Pause", std::int32_t, ()) \
  X(FHW_PlaySound, "HW_PlaySound", std::int32_t, (THikCardHandle)) \
  X(FHW_StopSound, "HW_StopSound", std::int32_t, (THikCardHandle)) \
  X(FHW_SetVolume, "HW_SetVolume", std::int32_t, ()) \
  X(FHW_RefreshSurface, "HW_RefreshSurface", std::int32_t, ()) \
  X(FHW_RestoreSurface, "HW_RestoreSurface", std::int32_t, ()) \
  X(FHW_ClearSurface, "HW_ClearSurface", std::int32_t, ()) \
  X(FHW_ZoomOverlay, "HW_ZoomOverlay", std::int32_t, ()) \
  X(FHW_StartCapFile, "HW_StartCapFile", std::int32_t, ()) \
  X(FHW_StopCapFile, "HW_StopCapFile", std::int32_t, ()) \
  X(FHW_GetYV12Image, "HW_GetYV12Image", std::int32_t, (THikCardHandle, std::uint8_t*, std::uint32_t)) \
  X(FHW_GetPictureSize, "HW_GetPictureSize", std::int32_t, (THikCardHandle, std::int32_t*, std::int32_t*)) \
  X(FHW_ConvertToBmpFile, "HW_ConvertToBmpFile", std::int32_t, ()) \
  X(FHW_Jump, "HW_Jump", std::int32_t, ()) \
  X(FHW_SetJumpInterval, "HW_SetJumpInterval", std::int32_t, ()) \
  X(FHW_GetSpeed, "HW_GetSpeed", std::int32_t, ()) \
  X(FHW_SetSpeed, "HW_SetSpeed", std::int32_t, (THikCardHandle, std::int32_t)) \
  X(FHW_SetPlayPos, "HW_SetPlayPos", std::int32_t, ()) \
  X(FHW_GetPlayPos, "HW_GetPlayPos", std::int32_t, ()) \
  X(FHW_GetVersion, "HW_GetVersion", std::int32_t, ()) \
  X(FHW_GetCurrentFrameRate, "HW_GetCurrentFrameRate", std::int32_t, ()) \
  X(FHW_GetCurrentFrameNum, "HW_GetCurrentFrameNum", std::int32_t, ()) \
  X(FHW_GetFileTotalFrames, "HW_GetFileTotalFrames", std::int32_t, ()) \
  X(FHW_GetFileTime, "HW_GetFileTime", std::int32_t, ()) \
  X(FHW_GetCurrentFrameTime, "HW_GetCurrentFrameTime", std::int32_t, ()) \
  X(FHW_GetPlayedFrames, "HW_GetPlayedFrames", std::int32_t, ()) \
  X(FHW_GetDeviceSerialNo, "HW_GetDeviceSerialNo", std::int32_t, ()) \
  X(FHW_SetFileEndMsg, "HW_SetFileEndMsg", std::int32_t, ()) \
  X(FHW_SetStreamOpenMode, "HW_SetStreamOpenMode", std::int32_t, (THikCardHandle, std::uint32_t)) \
  X(FHW_GetStreamOpenMode, "HW_GetStreamOpenMode", std::int32_t, ()) \
  X(FHW_SetVideoOutStandard, "HW_SetVideoOutStandard", std::int32_t, ()) \
  X(FHW_SetDspDeadlockMsg, "HW_SetDspDeadlockMsg", std::int32_t, ()) \
  X(FHW_GetChannelNum, "HW_GetChannelNum", std::int32_t, ()) \
  X(FHW_ResetDsp, "HW_ResetDsp", std::int32_t, ()) \
  X(FHW_SetAudioPreview, "HW_SetAudioPreview", std::int32_t, (THikCardHandle, std::int32_t)) \
  X(FHW_ResetStream, "HW_ResetStream", std::int32_t, (THikCardHandle)) \
  X(FHW_OpenStreamEx, "HW_OpenStreamEx", std::int32_t, ()) \
  X(FHW_CloseStreamEx, "HW_CloseStreamEx", std::int32_t, ()) \
  X(FHW_InputVideoData, "HW_InputVideoData", std::int32_t, ()) \
  X(FHW_InputAudioData, "HW_InputAudioData", std::int32_t, ()) \
  X(FGetVideoPara, "GetVideoPara", std::int32_t, ()) \
  X(FSetDisplayVideoBrightness, "SetDisplayVideoBrightness", std::int32_t, ()) \
  X(FGetDspCount, "GetDspCount", std::int32_t, ()) \
  X(FGetDspDetail, "GetDspDetail", std::int32_t, ()) \
  X(FGetEncodeChannelCount, "GetEncodeChannelCount", std::int32_t, ()) \
  X(FGetDisplayChannelCount, "GetDisplayChannelCount", std::int32_t, ()) \
  X(FSetDefaultVideoStandard, "SetDefaultVideoStandard", std::int32_t, ()) \
  X(FSetVideoDetectPrecision, "SetVideoDetectPrecision", std::int32_t, ()) \
  X(FSetOverlayColorKey, "SetOverlayColorKey", std::int32_t, ()) \
  X(FSetSubStreamType, "SetSubStreamType", std::int32_t, ()) \
  X(FGetSubStreamType, "GetSubStreamType", std::int32_t, ()) \
  X(FSetDisplayStandard, "SetDisplayStandard", std::int32_t, ()) \
  X(FSetDisplayRegion, "SetDisplayRegion", std::int32_t, (std::uint32_t, std::uint32_t, void*, std::uint32_t)) \
  X(FClearDisplayRegion, "ClearDisplayRegion", std::int32_t, ()) \
  X(FSetDisplayRegionPosition, "SetDisplayRegionPosition", std::int32_t, ()) \
  X(FFillDisplayRegion, "FillDisplayRegion", std::int32_t, ()) \
  X(FSetEncoderVideoExtOutput, "SetEncoderVideoExtOutput", std::int32_t, ()) \
  X(FSetDecoderVideoExtOutput, "SetDecoderVideoExtOutput", std::int32_t, \
    (std::uint32_t, std::uint32_t, std::int32_t, std::uint32_t, std::uint32_t, std::uint32_t)) \
  X(FSetDecoderVideoOutput, "SetDecoderVideoOutput", std::int32_t, ()) \
  X(FSetDecoderAudioOutput, "SetDecoderAudioOutput", std::int32_t, (std::uint32_t, std::int32_t, std::uint32_t)) \
  X(FSetDeInterlace, "SetDeInterlace", std::int32_t, ()) \
  X(FSetPreviewOverlayMode, "SetPreviewOverlayMode", std::int32_t, ()) \
  X(FHW_SetDecoderPostProcess, "HW_SetDecoderPostProcess", std::int32_t, (THikCardHandle, std::uint32_t))

class TDecodeHikHard : public TDecodeBase {
 public:
  static constexpr int CardChannelSlots = 100;     // card channels the tables hold
  static constexpr std::uint32_t ColorKey = 0x808080;  // grey: the overlay's colour key
  static constexpr std::uint32_t FileHeadSize = 40;
  static constexpr int PlaySettleMs = 200;         // pause after starting a card stream

  TDecodeHikHard();
  ~TDecodeHikHard() override;

  std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override;
  std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t PlaySound(TFrameHead& Head) override;
  std::int32_t StopSound(TFrameHead& Head) override;
  std::int32_t StartCallBack(TFrameHead&, std::uintptr_t) override { return -1; }
  std::int32_t StopCallBack(TFrameHead&) override { return -1; }
  std::int32_t RefrushWindow(TFrameHead&) override { return -1; }
  std::int32_t ResetDisplay(TFrameHead& Head, std::int32_t Value) override;
  std::int32_t ClearBuffer(TFrameHead& Head) override;
  std::int32_t PauseChannel(TFrameHead&, std::int32_t) override { return 0; }
  std::int32_t SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) override;
  std::int32_t CloseStream(TFrameHead& Head) override;
  std::int32_t SetDecoderVideoExtOutput(TFrameHead& Head, std::int32_t A, std::int32_t B, std::uint8_t C,
                                        std::int32_t D, std::int32_t E, std::int32_t F) override;
  std::int32_t SetDisplayRegion(TFrameHead& Head, std::int32_t A, std::int32_t B, void* C,
                                std::int32_t D) override;
  std::int32_t InitHardHandle(std::int32_t Handle) override;
  std::int32_t OutParm(std::int32_t* Out1, std::int32_t* Out2) override;

 private:
  // Places the card's picture over the channel's window (Wnd), relative to the overlay's host
  // window, with both display flags Flags; a refused rectangle is offered again one pixel
  // smaller at the left and top until the card takes it or no height is left. 0 when the card
  // took one (Placed holds it), -1 otherwise.
  std::int32_t SetDisplayArea(const TFrameHead& Head, std::uint32_t Wnd, std::int32_t Flags, TDisplayPara& Placed);
  // Closes a card stream whose start failed and frees the display channel's player; logs Text.
  void AbandonOpen(const TFrameHead& Head, TPlayerInfo& Info, const char* Text);
  // Whether the engine's mode file says every frame is ignored (1).
  static bool FramesIgnored();
  // The head's card channel (1..CardChannelSlots) when it lies in the tables, else 0.
  static std::uint32_t CardSlotOf(const TFrameHead& Head);

  std::uint32_t FHardHandle = 0;
  HIKCARD_ENTRIES(ZORV_DECLARE_ENTRY)
  std::array<THikCardHandle, CardChannelSlots> FChannelHandles{};
  std::int32_t FOpenedChannels = 0;  // card channels 1..FOpenedChannels have a handle
  std::array<TRelaxed<std::uint8_t>, CardChannelSlots + 1> FWaitFirstFrame;  // card channels 1..100
};
