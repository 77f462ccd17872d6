// TDecodeDaHua: the adapter for DVR type 4, over the Dahua player library "dhplay.dll".
//
// Like the Hikvision player, dhplay decodes a stream in a numbered port (the player number)
// and draws it into the channel's window itself. What is particular to this library:
//   - the engine opens the stream with the channel's first data frame, whose bytes are the
//     stream head (they are not fed again as data);
//   - input the library refuses is offered again, up to 100 times, 5 ms apart, until it is
//     taken or the channel is closed meanwhile;
//   - audio frames do not start sound; every stream counts as having sound, so the host's
//     PlaySound starts it;
//   - decoded pictures reach the host with their two chroma planes exchanged;
//   - snapshots are written by the library on request (PLAY_CatchPic);
//   - a stream can be recorded to a file (PLAY_StartDataRecord / PLAY_StopDataRecord).
// dhplay.dll comes with five codec libraries in the same folder ("PlayDll\DH\"), loaded
// before it and unloaded after it; nothing is looked up in them.
#pragma once

#include <cstdint>
#include <string>

#include "U_DecodeBase.h"

// Frame information the library hands to the decode callback; only width and height are read.
struct TDhFrameInfo {
  std::int32_t Width;
  std::int32_t Height;
};

using TDhDecCallBack = void(ZORV_STDCALL*)(std::int32_t Port, std::uint8_t* Buffer, std::int32_t Size,
                                           TDhFrameInfo* Info, std::int32_t Reserved1, std::int32_t Reserved2);

// dhplay.dll entry points, bound by name from the library in this order.
#define DH_ENTRIES(X)                                                                                        \
  X(FOpenStream, "PLAY_OpenStream", std::int32_t, (std::int32_t, const std::uint8_t*, std::uint32_t, std::uint32_t)) \
  X(FSetDisplayBuf, "PLAY_SetDisplayBuf", std::int32_t, (std::int32_t, std::uint32_t))                      \
  X(FPlay, "PLAY_Play", std::int32_t, (std::int32_t, std::uint32_t))                                        \
  X(FInputData, "PLAY_InputData", std::int32_t, (std::int32_t, const std::uint8_t*, std::uint32_t))         \
  X(FStop, "PLAY_Stop", std::int32_t, (std::int32_t))                                                       \
  X(FCloseStream, "PLAY_CloseStream", std::int32_t, (std::int32_t))                                         \
  X(FResetBuffer, "PLAY_ResetBuffer", std::int32_t, (std::int32_t, std::uint32_t))                          \
  X(FResetSourceBuffer, "PLAY_ResetSourceBuffer", std::int32_t, (std::int32_t))                             \
  X(FSetDecCallBack, "PLAY_SetDecCallBack", std::int32_t, (std::int32_t, TDhDecCallBack))                   \
  X(FFast, "PLAY_Fast", std::int32_t, (std::int32_t))                                                       \
  X(FPlaySound, "PLAY_PlaySound", std::int32_t, (std::int32_t))                                             \
  X(FStopSound, "PLAY_StopSound", std::int32_t, ())                                                         \
  X(FCatchPic, "PLAY_CatchPic", std::int32_t, (std::int32_t, const char*))                                  \
  X(FStartDataRecord, "PLAY_StartDataRecord", std::int32_t, (std::int32_t, const char*, std::int32_t))      \
  X(FStopDataRecord, "PLAY_StopDataRecord", std::int32_t, (std::int32_t))                                   \
  X(FSetStreamOpenMode, "PLAY_SetStreamOpenMode", std::int32_t, (std::int32_t, std::uint32_t))              \
  X(FSetVolume, "PLAY_SetVolume", std::int32_t, (std::int32_t, std::uint32_t))                              \
  X(FPause, "PLAY_Pause", std::int32_t, (std::int32_t, std::uint32_t))                                      \
  X(FSetPlayedTimeEx, "PLAY_SetPlayedTimeEx", std::int32_t, (std::int32_t, std::uint32_t))                  \
  X(FSetColor, "PLAY_SetColor", std::int32_t,                                                               \
    (std::int32_t, std::uint32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t))                 \
  X(FGetColor, "PLAY_GetColor", std::int32_t,                                                               \
    (std::int32_t, std::uint32_t, std::int32_t*, std::int32_t*, std::int32_t*, std::int32_t*))             \
  X(FOpenFile, "PLAY_OpenFile", std::int32_t, (std::int32_t, const char*))                                  \
  X(FCloseFile, "PLAY_CloseFile", std::int32_t, (std::int32_t))                                             \
  X(FSetPlayPos, "PLAY_SetPlayPos", std::int32_t, (std::int32_t, double))                                   \
  X(FGetPlayPos, "PLAY_GetPlayPos", float, (std::int32_t))                                                  \
  X(FSlow, "PLAY_Slow", std::int32_t, (std::int32_t))                                                       \
  X(FOneByOne, "PLAY_OneByOne", std::int32_t, (std::int32_t))                                               \
  X(FGetFileTime, "PLAY_GetFileTime", std::int32_t, (std::int32_t))                                         \
  X(FGetPlayedTime, "PLAY_GetPlayedTime", std::int32_t, (std::int32_t))                                     \
  X(FGetPlayedFrames, "PLAY_GetPlayedFrames", std::int32_t, (std::int32_t))                                 \
  X(FGetFileTotalFrames, "PLAY_GetFileTotalFrames", std::int32_t, (std::int32_t))                           \
  X(FGetCurrentFrameRate, "PLAY_GetCurrentFrameRate", std::int32_t, (std::int32_t))                         \
  X(FGetPlayedTimeEx, "PLAY_GetPlayedTimeEx", std::int32_t, (std::int32_t))                                 \
  X(FGetCurrentFrameNum, "PLAY_GetCurrentFrameNum", std::int32_t, (std::int32_t))                           \
  X(FGetFileHeadLength, "PLAY_GetFileHeadLength", std::int32_t, ())

class TDecodeDaHua : public TDecodeBase {
 public:
  static constexpr std::uint8_t DvrType = 4;
  // Offers of one refused frame before InputData gives up.
  static constexpr int InputAttempts = 100;

  TDecodeDaHua();
  // Stops and closes the streams and files still open, then unloads the libraries, dhplay.dll
  // first and the codec libraries after it in reverse load order.
  ~TDecodeDaHua() override;

  std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override;
  std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t SetStreamOpenMode(TFrameHead& Head, std::int32_t Mode) override;
  std::int32_t GetColor(TFrameHead& Head, std::int32_t Region, std::int32_t* Brightness, std::int32_t* Contrast,
                        std::int32_t* Saturation, std::int32_t* Hue) override;
  std::int32_t SetColor(TFrameHead& Head, std::int32_t Region, std::int32_t Brightness, std::int32_t Contrast,
                        std::int32_t Saturation, std::int32_t Hue) override;
  std::int32_t PlaySound(TFrameHead& Head) override;
  std::int32_t StopSound(TFrameHead& Head) override;
  std::int32_t SetVolume(TFrameHead& Head, std::uint16_t Volume) override;
  std::int32_t StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) override;
  std::int32_t StopCallBack(TFrameHead& Head) override;
  std::int32_t StartCallBackEx(TFrameHead& Head, std::uintptr_t CallBack) override;
  std::int32_t StopCallBackEx(TFrameHead& Head) override;
  std::int32_t Play(TFrameHead& Head) override;
  std::int32_t Stop(TFrameHead& Head) override;
  std::int32_t RefrushWindow(TFrameHead& Head) override;
  std::int32_t ResetDisplay(TFrameHead& Head, std::int32_t Value) override;
  std::int32_t ClearBuffer(TFrameHead& Head) override;
  std::int32_t PauseChannel(TFrameHead& Head, std::int32_t Pause) override;
  std::int32_t SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) override;
  std::int32_t SnapPictureToFile(TFrameHead& Head, const char* FileName) override;
  // Value is the address of the zero-terminated name of the file to record to.
  std::int32_t StartAviRecord(TFrameHead& Head, std::uintptr_t Value) override;
  std::int32_t StopAviRecord(TFrameHead& Head) override;
  std::int32_t CloseStream(TFrameHead& Head) override;
  std::int32_t SetDecoderVideoExtOutput(TFrameHead& Head, std::int32_t A, std::int32_t B, std::uint8_t C,
                                        std::int32_t D, std::int32_t E, std::int32_t F) override;
  std::int32_t SetDisplayRegion(TFrameHead& Head, std::int32_t A, std::int32_t B, void* C,
                                std::int32_t D) override;
  std::int32_t InitHardHandle(std::int32_t Handle) override;
  std::int32_t OutParm(std::int32_t* Out1, std::int32_t* Out2) override;
  std::int32_t GetFileHeadLength(TFrameHead& Head) override;
  std::int32_t OpenFile(TFrameHead& Head, const char* FileName) override;
  std::int32_t CloseFile(TFrameHead& Head) override;
  std::int32_t Pause(TFrameHead& Head, std::int32_t Pause) override;
  std::int32_t Fast(TFrameHead& Head) override;
  std::int32_t Slow(TFrameHead& Head) override;
  std::int32_t OneByOne(TFrameHead& Head) override;
  std::int32_t SetPlayPos(TFrameHead& Head, double Pos) override;
  double GetPlayPos(TFrameHead& Head) override;
  std::int32_t GetFileTime(TFrameHead& Head) override;
  std::int32_t GetPlayedTime(TFrameHead& Head) override;
  std::int32_t SetPlayedTime(TFrameHead& Head, std::int32_t Time) override;
  std::int32_t GetPlayedFrames(TFrameHead& Head) override;
  std::int32_t GetFileTotalFrames(TFrameHead& Head) override;
  std::int32_t GetCurrentFrameRate(TFrameHead& Head) override;
  std::int32_t GetPlayedTimeEx(TFrameHead& Head) override;
  std::int32_t SetPlayedTimeEx(TFrameHead& Head, std::int32_t Time) override;
  std::int32_t GetCurrentFrameNum(TFrameHead& Head) override;

  // The library's decode callback: exchanges the picture's chroma planes in place and hands it
  // to the host callback of the channel that owns the port.
  static void ZORV_STDCALL DecodeCallBack(std::int32_t Port, std::uint8_t* Buffer, std::int32_t Size,
                                          TDhFrameInfo* Info, std::int32_t Reserved1, std::int32_t Reserved2);

 private:
  // Calls Entry(port, Args...) for the channel's port: Missing when the channel has no player
  // or the entry point is not bound, else the library's result.
  template <class Fn, class... Args>
  std::int32_t CallPort(TFrameHead& Head, Fn Entry, std::int32_t Missing, Args... A);
  // Stops and closes every port still open (the destructor's first step).
  void CloseOpenPorts();
  // Callback switches: the port decodes to the decode callback without drawing, or draws into
  // the entry's window again.
  void DecodeWithoutDrawing(TFrameHead& Head, std::int32_t Port);
  void DrawAgain(TFrameHead& Head, const TPlayerInfo& Info);

  DH_ENTRIES(ZORV_DECLARE_ENTRY)
};
