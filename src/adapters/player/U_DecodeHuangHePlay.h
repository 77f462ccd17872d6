// TDecodeHuangHePlay: the adapter for DVR type 21, the HuangHe player library "HH5PlayerSDK.dll".
//
// The library lives in PlayDll\HuangHe\ beside the decoder it needs ("hi_h264dec.dll", loaded
// first). Each display channel gets a player port (its player number, passed to the library as
// a 16-bit value) that shows the stream in the channel's window by itself; every frame is pushed
// into it with the stream parameter recorded at open (the file head's length minus 1). Pictures
// reach the host through one YUV callback the library calls for all ports. Snapshots come from
// the library as a BMP in memory; files play through the library with its play controls.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "U_DecodeBase.h"

class TDecodeHuangHePlay : public TDecodeBase {
 public:
  static constexpr std::uint8_t DvrTypeCode = 21;
  // The picture size the library's YUV callback stands for when it does not tell its own.
  static constexpr std::uint32_t PictureWidth = 352;
  static constexpr std::uint32_t PictureHeight = 288;

  // The library's YUV callback (stdcall, on its thread): port, the three planes, and the picture
  // size packed as width | height << 16 (0 = the library's usual 352 x 288).
  using TYUVDataCallBack = void(ZORV_STDCALL*)(std::uint32_t Port, const std::uint8_t* Y, const std::uint8_t* U,
                                               const std::uint8_t* V, std::uint32_t PictureSize);

  TDecodeHuangHePlay();
  ~TDecodeHuangHePlay() override;

  /* 1 */ std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) override;
  /* 2 */ std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override;
  /* 3 */ std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) override;
  /* 5 */ std::int32_t GetColor(TFrameHead&, std::int32_t, std::int32_t*, std::int32_t*, std::int32_t*,
                                std::int32_t*) override {
    return -1;
  }
  /* 6 */ std::int32_t SetColor(TFrameHead&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                std::int32_t) override {
    return -1;
  }
  /* 7 */ std::int32_t PlaySound(TFrameHead& Head) override;
  /* 8 */ std::int32_t StopSound(TFrameHead& Head) override;
  /* 9 */ std::int32_t SetVolume(TFrameHead& Head, std::uint16_t Volume) override;
  /* 10 */ std::int32_t StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) override;
  /* 11 */ std::int32_t StopCallBack(TFrameHead& Head) override;
  /* 12 */ std::int32_t StartCallBackEx(TFrameHead& Head, std::uintptr_t CallBack) override;
  /* 13 */ std::int32_t StopCallBackEx(TFrameHead& Head) override;
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
  /* 30 */ std::int32_t OpenFile(TFrameHead& Head, const char* FileName) override;
  /* 31 */ std::int32_t CloseFile(TFrameHead& Head) override;
  /* 32 */ std::int32_t Pause(TFrameHead& Head, std::int32_t Pause) override;
  /* 33 */ std::int32_t Fast(TFrameHead& Head) override;
  /* 35 */ std::int32_t OneByOne(TFrameHead& Head) override;
  /* 38 */ std::int32_t GetFileTime(TFrameHead& Head) override;
  /* 47 */ void Create() override;

 private:
  using TPort = std::uint16_t;
  using TResult = std::int32_t;
  // The library's entry points in binding order (null when the name is missing). Those the
  // adapter never calls are bound with their port argument only.
#define HUANGHE_ENTRIES(X)                                                                                 \
  X(FInitSDK, "HH5PLAYER_InitSDK", TResult, (std::int32_t))                                                \
  X(FReleaseSDK, "HH5PLAYER_ReleaseSDK", TResult, ())                                                      \
  X(FInitPlayer, "HH5PLAYER_InitPlayer", TResult, (TPort, std::uint32_t))                                  \
  X(FReleasePlayer, "HH5PLAYER_ReleasePlayer", TResult, (TPort))                                           \
  X(FOpenStreamFileM, "HH5PLAYER_OpenStreamFileM", TResult, (TPort, const char*, std::int32_t, std::uint32_t*)) \
  X(FGetStreamFileInfo, "HH5PLAYER_GetStreamFileInfo", TResult,                                            \
    (TPort, std::uint32_t*, std::uint32_t*, std::uint32_t*, std::uint32_t*))                               \
  X(FPlay, "HH5PLAYER_Play", TResult, (TPort))                                                             \
  X(FFastPlay, "HH5PLAYER_FastPlay", TResult, (TPort, std::int32_t))                                       \
  X(FFastPlayBack, "HH5PLAYER_FastPlayBack", TResult, (TPort))                                             \
  X(FFrameGO, "HH5PLAYER_FrameGO", TResult, (TPort))                                                       \
  X(FFrameBack, "HH5PLAYER_FrameBack", TResult, (TPort))                                                   \
  X(FPause, "HH5PLAYER_Pause", TResult, (TPort))                                                           \
  X(FResume, "HH5PLAYER_Resume", TResult, (TPort))                                                         \
  X(FStop, "HH5PLAYER_Stop", TResult, (TPort))                                                             \
  X(FGetPlayPosition, "HH5PLAYER_GetPlayPosition", TResult, (TPort))                                       \
  X(FSetPlayPosition, "HH5PLAYER_SetPlayPosition", TResult, (TPort))                                       \
  X(FSeekToSecond, "HH5PLAYER_SeekToSecond", TResult, (TPort))                                             \
  X(FSetPlayLoop, "HH5PLAYER_SetPlayLoop", TResult, (TPort))                                               \
  X(FRegPlayStatusMsg, "HH5PLAYER_RegPlayStatusMsg", TResult, (TPort))                                     \
  X(FOpenStream, "HH5PLAYER_OpenStream", TResult, (TPort))                                                 \
  X(FPutDecStreamData, "HH5PLAYER_PutDecStreamData", TResult, (TPort, const std::uint8_t*, std::uint32_t, std::int32_t)) \
  X(FPutDecStreamDataEx, "HH5PLAYER_PutDecStreamDataEx", TResult, (TPort))                                 \
  X(FStopStream, "HH5PLAYER_StopStream", TResult, (TPort))                                                 \
  X(FCloseStream, "HH5PLAYER_CloseStream", TResult, (TPort))                                               \
  X(FGetStreamFrameSize, "HH5PLAYER_GetStreamFrameSize", TResult, (TPort))                                 \
  X(FGetAudioFrameSize, "HH5PLAYER_GetAudioFrameSize", TResult, (TPort))                                   \
  X(FSetStreamPlaySpeed, "HH5PLAYER_SetStreamPlaySpeed", TResult, (TPort))                                 \
  X(FGetStreamPlaySpeed, "HH5PLAYER_GetStreamPlaySpeed", TResult, (TPort))                                 \
  X(FSetAudio, "HH5PLAYER_SetAudio", TResult, (TPort, std::int32_t))                                       \
  X(FUpDateImage, "HH5PLAYER_UpDateImage", TResult, (TPort))                                               \
  X(FUpdateBounds, "HH5PLAYER_UpdateBounds", TResult, (TPort))                                             \
  X(FSetDisplayhWnd, "HH5PLAYER_SetDisplayhWnd", TResult, (TPort))                                         \
  X(FCaptureOnePicture, "HH5PLAYER_CaptureOnePicture", TResult, (TPort, std::uint8_t**, std::uint32_t*))   \
  X(FGetVolume, "_HH5PLAYER_GetVolume@8", TResult, (TPort, std::uint16_t*))                                \
  X(FSetVolume, "_HH5PLAYER_SetVolume@8", TResult, (TPort, std::uint16_t))                                 \
  X(FSetDecoderQulity, "HH5PLAYER_SetDecoderQulity", TResult, (TPort))                                     \
  X(FSetDecoderParam, "HH5PLAYER_SetDecoderParam", TResult, (TPort))                                       \
  X(FClearAllBuffer, "HH5PLAYER_ClearAllBuffer", TResult, (TPort))                                         \
  X(FClearVideoBuffer, "HH5PLAYER_ClearVideoBuffer", TResult, (TPort))                                     \
  X(FClearAudioBuffer, "HH5PLAYER_ClearAudioBuffer", TResult, (TPort))                                     \
  X(FRegYUVDataCallBack, "_HH5PLAYER_RegYUVDataCallBack@8", TResult, (TYUVDataCallBack, std::int32_t))     \
  X(FAudioEncodeData, "HH5PLAYER_AudioEncodeData", TResult, (TPort))                                       \
  X(FAudioDecodeData, "HH5PLAYER_AudioDecodeData", TResult, (TPort))                                       \
  X(FG726AEncodeData, "HH5PLAYER_G726AEncodeData", TResult, (TPort))                                       \
  X(FG726ADecodeData, "HH5PLAYER_G726ADecodeData", TResult, (TPort))
  HUANGHE_ENTRIES(ZORV_DECLARE_ENTRY)

  static void ZORV_STDCALL YUVDataCallBack(std::uint32_t Port, const std::uint8_t* Y, const std::uint8_t* U,
                                           const std::uint8_t* V, std::uint32_t PictureSize);
  // The port the library knows the player by: the low 16 bits of its number.
  static TPort VendorPort(const TPlayerInfo& Info) { return static_cast<TPort>(Info.Port.Get() & 0xFFFF); }
  // Whether a player other than Except still has the YUV callback running.
  bool OtherCallBackRunning(const TPlayerInfo* Except) const;

  // The stream parameter of every player, set when its stream opens: the file head's length
  // minus 1. One per player number, so every player the table can hand out has its own.
  std::array<std::int32_t, PlayerCount> FStreamParam{};
  std::uint32_t FSpare = 0;
};
