// TDecodeTVS: the adapter for DVR type 8, the TKL DVS201 network playback library
// "NetPlaySDK.dll" (in "PlayDll\TKLDVS201\"). The library decodes a stream and shows it in a
// window: the adapter opens one library stream per channel from the 16-byte system header at
// the start of the file head, plays it in the channel's window and sends every frame with its
// time stamp (the frame's first 4 bytes) and its key-frame and video flags. When the host asks
// for pictures, the stream is played again with the adapter's decode callback.
//
// The vendor handle (NETPLAY_Open's result) is the entry's Port, sign-extended; negative
// means the open failed.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "U_DecodeBase.h"

// Entry points of NetPlaySDK.dll, bound in this order. Those this adapter calls carry their
// real arguments; the others are bound for completeness and never called (declared as taking
// the handle only).
#define TVS_ENTRIES(X)                                                                              \
  X(FInitPlayer, "NETPLAY_InitPlayer", std::int32_t, ())                                            \
  X(FFreePlayer, "NETPLAY_FreePlayer", std::int32_t, (std::int32_t))                                \
  X(FPlay, "NETPLAY_Play", std::int32_t,                                                            \
    (std::int32_t, std::uint32_t, TDecodeTVS::TDecodeCallBack, std::uintptr_t))                      \
  X(FStop, "NETPLAY_Stop", std::int32_t, (std::int32_t))                                            \
  X(FCaptureBmp, "NETPLAY_CaptureBmp", std::int32_t, (std::int32_t))                                \
  X(FPlaySound, "NETPLAY_PlaySound", std::int32_t, (std::int32_t))                                  \
  X(FStopSound, "NETPLAY_StopSound", std::int32_t, (std::int32_t))                                  \
  X(FSetVolume, "NETPLAY_SetVolume", std::int32_t, (std::int32_t))                                  \
  X(FOpen, "NETPLAY_Open", std::int32_t, (const std::uint8_t*))                                     \
  X(FSendData, "NETPLAY_SendData", std::int32_t,                                                    \
    (std::int32_t, const std::uint8_t*, std::int32_t, std::uint32_t, std::int32_t, std::int32_t))   \
  X(FRefreshDisplay, "NETPLAY_RefreshDisplay", std::int32_t, (std::int32_t))                        \
  X(FSetWnd, "NETPLAY_SetWnd", std::int32_t, (std::int32_t))                                        \
  X(FFast, "NETPLAY_Fast", std::int32_t, (std::int32_t))                                            \
  X(FFlushAllBuff, "NETPLAY_FlushAllBuff", std::int32_t, (std::int32_t))

class TDecodeTVS : public TDecodeBase {
 public:
  static constexpr std::uint8_t DvrTypeCode = 8;
  // The file head starts with the stream's system header; a longer file head is logged.
  static constexpr std::uint32_t SysHeadBytes = 16;
  static constexpr std::uint32_t MaxFileHeadBytes = 40;
  // Every frame starts with its time stamp.
  static constexpr std::uint32_t StampBytes = 4;

  // Picture, four values not read, width, height, one value not read, and a pointer to the
  // 32-bit vendor handle.
  using TDecodeCallBack = void(ZORV_STDCALL*)(const std::uint8_t* Picture, std::uintptr_t, std::uintptr_t,
                                              std::uintptr_t, std::uintptr_t, std::int32_t Width,
                                              std::int32_t Height, std::uintptr_t, const std::int32_t* User);

  TDecodeTVS();
  ~TDecodeTVS() override;

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
  static void ZORV_STDCALL DecodeCallBack(const std::uint8_t* Picture, std::uintptr_t, std::uintptr_t,
                                          std::uintptr_t, std::uintptr_t, std::int32_t Width, std::int32_t Height,
                                          std::uintptr_t, const std::int32_t* User);
  static std::int32_t HandleOf(const TPlayerInfo& Info) { return static_cast<std::int32_t>(Info.Port.Get()); }

  TVS_ENTRIES(ZORV_DECLARE_ENTRY)
  std::uint32_t FSpare = 0;
  // The user value handed to the library when a stream starts playing: a copy of its handle,
  // one per player, kept as long as the adapter.
  std::array<std::int32_t, PlayerCount> FHandleCopies{};
};
