// TDecodeTKL: the adapter for DVR type 9, the TKL player library "TKL_Player.dll" (loaded from
// "PlayDll\TKL\" after its twelve codec libraries). The library decodes a stream and shows it
// in a window: the adapter creates one library player per stream, opens it with the stream
// header of the file head, pushes every frame into the player's buffer (retrying while the
// buffer is full) and maps sound, callback and snapshot requests onto it. Decoded pictures
// come back through a decode callback registered per player.
//
// The vendor handle of a stream (TKLPLAYER_CreatePlayer's result) is the entry's Port, as an
// unsigned 32-bit value.
#pragma once

#include <cstdint>
#include <string>

#include "U_DecodeBase.h"

// Entry points of TKL_Player.dll, bound in this order. Those this adapter calls carry their
// real arguments; the others are bound for completeness and never called (declared as taking
// the handle only).
#define TKL_ENTRIES(X)                                                                                    \
  X(FCreatePlayer, "TKLPLAYER_CreatePlayer", std::uint32_t, (std::int32_t, std::int32_t))                 \
  X(FReleasePlayer, "TKLPLAYER_ReleasePlayer", Win::BOOL, (std::uint32_t))                               \
  X(FSetDisplayMode, "TKLPLAYER_SetDisplayMode", Win::BOOL, (std::uint32_t, std::int32_t, std::int32_t)) \
  X(FStop, "TKLPLAYER_Stop", Win::BOOL, (std::uint32_t))                                                 \
  X(FSetVideoWindow, "TKLPLAYER_SetVideoWindow", Win::BOOL, (std::uint32_t, std::uint32_t, Win::RECT*))  \
  X(FSetPostFilter, "TKLPLAYER_SetPostFilter", Win::BOOL, (std::uint32_t))                               \
  X(FStreamSetDelayFrames, "TKLPLAYER_StreamSetDelayFrames", Win::BOOL, (std::uint32_t))                 \
  X(FStreamOpen, "TKLPLAYER_StreamOpen", Win::BOOL,                                                      \
    (std::uint32_t, std::uint8_t*, std::uint32_t, std::int32_t))                                         \
  X(FStreamEmptyBuf, "TKLPLAYER_StreamEmptyBuf", Win::BOOL, (std::uint32_t))                             \
  X(FStreamWriteToBuf, "TKLPLAYER_StreamWriteToBuf", std::int32_t,                                       \
    (std::uint32_t, const std::uint8_t*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t))       \
  X(FEnableDataDriven, "TKLPLAYER_EnableDataDriven", Win::BOOL, (std::uint32_t))                         \
  X(FThrownFrames, "TKLPLAYER_ThrownFrames", Win::BOOL, (std::uint32_t))                                 \
  X(FEnableAudio, "TKLPLAYER_EnableAudio", Win::BOOL, (std::uint32_t, std::int32_t))                     \
  X(FResetPlayer, "TKLPLAYER_ResetPlayer", Win::BOOL, (std::uint32_t))                                   \
  X(FSetVolume, "TKLPLAYER_SetVolume", Win::BOOL, (std::uint32_t))                                       \
  X(FFileSetEndIndexNotify, "TKLPLAYER_FileSetEndIndexNotify", Win::BOOL, (std::uint32_t))               \
  X(FGetKeyFramePos, "TKLPLAYER_GetKeyFramePos", Win::BOOL, (std::uint32_t))                             \
  X(FGetNextKeyFramePos, "TKLPLAYER_GetNextKeyFramePos", Win::BOOL, (std::uint32_t))                     \
  X(FFileFixIndex, "TKLPLAYER_FileFixIndex", Win::BOOL, (std::uint32_t))                                 \
  X(FFileCheckIndex, "TKLPLAYER_FileCheckIndex", Win::BOOL, (std::uint32_t))                             \
  X(FPause, "TKLPLAYER_Pause", Win::BOOL, (std::uint32_t))                                               \
  X(FFullScreen, "TKLPLAYER_FullScreen", Win::BOOL, (std::uint32_t))                                     \
  X(FFileOpen, "TKLPLAYER_FileOpen", Win::BOOL, (std::uint32_t))                                         \
  X(FFileClose, "TKLPLAYER_FileClose", Win::BOOL, (std::uint32_t))                                       \
  X(FFileSetEndNotify, "TKLPLAYER_FileSetEndNotify", Win::BOOL, (std::uint32_t))                         \
  X(FSetPlaySpeed, "TKLPLAYER_SetPlaySpeed", Win::BOOL, (std::uint32_t, float))                          \
  X(FFileStepPlay, "TKLPLAYER_FileStepPlay", Win::BOOL, (std::uint32_t))                                 \
  X(FFileSetPosition, "TKLPLAYER_FileSetPosition", Win::BOOL, (std::uint32_t))                           \
  X(FFileGetPosition, "TKLPLAYER_FileGetPosition", Win::BOOL, (std::uint32_t))                           \
  X(FFileGetTotalTime, "TKLPLAYER_FileGetTotalTime", Win::BOOL, (std::uint32_t))                         \
  X(FFileGetPlayedTime, "TKLPLAYER_FileGetPlayedTime", Win::BOOL, (std::uint32_t))                       \
  X(FFileGetPlayedFrame, "TKLPLAYER_FileGetPlayedFrame", Win::BOOL, (std::uint32_t))                     \
  X(FZoomInSrcRect, "TKLPLAYER_ZoomInSrcRect", Win::BOOL, (std::uint32_t))                               \
  X(FRefreshWindow, "TKLPLAYER_RefreshWindow", Win::BOOL, (std::uint32_t))                               \
  X(FFileGetTotalFrame, "TKLPLAYER_FileGetTotalFrame", Win::BOOL, (std::uint32_t))                       \
  X(FPlay, "TKLPLAYER_Play", Win::BOOL, (std::uint32_t))                                                 \
  X(FStreamEnableDataDriven, "TKLPLAYER_StreamEnableDataDriven", Win::BOOL, (std::uint32_t, std::int32_t)) \
  X(FFileSetPlayFrame, "TKLPLAYER_FileSetPlayFrame", Win::BOOL, (std::uint32_t))                         \
  X(FRegisterDecCallBack, "TKLPLAYER_RegisterDecCallBack", Win::BOOL,                                    \
    (std::uint32_t, TDecodeTKL::TDecodeCallBack, std::int32_t, std::int32_t))                            \
  X(FUnRegisterDecCallBack, "TKLPLAYER_UnRegisterDecCallBack", Win::BOOL, (std::uint32_t))               \
  X(FGetBmpFileSize, "TKLPALYER_GetBmpFileSize", Win::BOOL, (std::uint32_t))                             \
  X(FGetPictureSize, "TKLPLAYER_GetPictureSize", Win::BOOL, (std::uint32_t))                             \
  X(FCaptureBitmap, "TKLPLAYER_CaptureBitmap", Win::BOOL, (std::uint32_t))

class TDecodeTKL : public TDecodeBase {
 public:
  static constexpr std::uint8_t DvrTypeCode = 9;
  // Stream kinds, told by the first four bytes of the file head, and their header sizes.
  static constexpr std::int32_t KindMpeg = 5;       // 00 00 01 B2
  static constexpr std::uint32_t MpegHeaderSize = 1024;
  static constexpr std::int32_t KindTrks = 6;       // "TRKS"
  static constexpr std::uint32_t TrksHeaderSize = 44;
  // The file head's first bytes are its stream head; what follows them is first stream data.
  static constexpr std::uint32_t StreamHeadBytes = 40;
  // A frame the player's buffer does not take is offered again every WriteRetryMs, at most
  // WriteAttempts times.
  static constexpr int WriteAttempts = 100;
  static constexpr Win::DWORD WriteRetryMs = 5;

  // Library frame information: width at byte 4, height at byte 8.
  struct TFrameInfo {
    std::int32_t Reserved;
    std::int32_t Width;
    std::int32_t Height;
  };
  using TDecodeCallBack = void(ZORV_STDCALL*)(std::uint32_t Handle, const std::uint8_t* Picture,
                                              std::int32_t Size, const TFrameInfo* Info, std::uint32_t User);

  TDecodeTKL();
  ~TDecodeTKL() override;

  // Stream kind and header size for a file head of Length bytes: false (kind -1) when it
  // does not start with a known signature.
  static bool StreamKindOf(const std::uint8_t* Data, std::uint32_t Length, std::int32_t& Kind,
                           std::uint32_t& HeaderSize);

  std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override;
  std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t PlaySound(TFrameHead& Head) override;
  std::int32_t StopSound(TFrameHead& Head) override;
  std::int32_t StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) override;
  std::int32_t StopCallBack(TFrameHead& Head) override;
  std::int32_t ClearBuffer(TFrameHead& Head) override;
  std::int32_t SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) override;
  std::int32_t CloseStream(TFrameHead& Head) override;

  std::int32_t RefrushWindow(TFrameHead&) override { return -1; }
  std::int32_t ResetDisplay(TFrameHead&, std::int32_t) override { return -1; }
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

 private:
  static void ZORV_STDCALL DecodeCallBack(std::uint32_t Handle, const std::uint8_t* Picture, std::int32_t Size,
                                          const TFrameInfo* Info, std::uint32_t User);
  // Offers one frame to the player until it takes it: 0, or -1 when it was dropped (the
  // player kept refusing it, or the stream was closed meanwhile).
  std::int32_t WriteFrame(const TFrameHead& Head, std::int32_t Player, std::uint32_t Handle,
                          const std::uint8_t* Data, std::uint32_t Length);
  static std::uint32_t HandleOf(const TPlayerInfo& Info) { return static_cast<std::uint32_t>(Info.Port.Get()); }

  TKL_ENTRIES(ZORV_DECLARE_ENTRY)
  std::uint32_t FSpare = 0;
};
