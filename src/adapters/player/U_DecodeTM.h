// TDecodeTM: the adapter for DVR type 18, the TM playback library "AVPlayer.dll" with its
// helpers "Decoder.dll" and "mp3decore.dll" (in "PlayDll\TM\"). The library decodes the
// stream and draws into the channel's window itself: the adapter opens one TM player per
// display channel on the first data frame, feeds it whole frames with a vendor frame type and
// a time stamp, switches sound, registers a decode callback that hands pictures to the host,
// takes BMP snapshots from memory and closes.
//
// The TM player port starts as the player number; the library may change it when it
// initialises the player, and the entry's Port keeps what it made of it.
#pragma once

#include <cstdint>
#include <string>

#include "U_DecodeBase.h"

// Entry points of AVPlayer.dll that both TM adapters bind, in binding order. Those the
// adapters call carry their real arguments; the others are bound and never called (declared
// as taking the port only).
#define TM_COMMON_ENTRIES(X)                                                                          \
  X(FIniSelf, "PB_IniSelf", std::int32_t, (std::int32_t))                                             \
  X(FReleaseSelf, "PB_ReleaseSelf", std::int32_t, (std::int32_t))                                     \
  X(FRelease, "PB_Release", std::int32_t, (std::int32_t))                                             \
  X(FPlay, "PB_Play", std::int32_t, (std::int32_t))                                                   \
  X(FStop, "PB_Stop", std::int32_t, (std::int32_t))                                                   \
  X(FOpenStream, "PB_OpenStream", std::int32_t, (std::int32_t))                                       \
  X(FInputData, "PB_InputData", std::int32_t, (std::int32_t))                                         \
  X(FInputOneFrameData, "PB_InputOneFrameData", std::int32_t,                                         \
    (std::int32_t, const std::uint8_t*, std::uint32_t, std::uint8_t, std::uint32_t))                  \
  X(FStopStream, "PB_StopStream", std::int32_t, (std::int32_t))                                       \
  X(FCloseStream, "PB_CloseStream", std::int32_t, (std::int32_t))                                     \
  X(FSetAudio, "PB_SetAudio", std::int32_t, (std::int32_t, std::int32_t))                             \
  X(FSetDisplayhWnd, "PB_SetDisplayhWnd", std::int32_t, (std::int32_t))                               \
  X(FStartJitterFilter, "PB_StartJitterFilter", std::int32_t, (std::int32_t, std::int32_t))           \
  X(FSetupJitterFilterFrameCount, "PB_SetupJitterFilterFrameCount", std::int32_t,                     \
    (std::int32_t, std::int32_t, std::int32_t))                                                       \
  X(FCapturePicture, "PB_CapturePicture", std::int32_t, (std::int32_t))

// Entry points only TDecodeTM binds.
#define TM_PLAYER_ENTRIES(X)                                                                          \
  X(FIniPlayer, "PB_IniPlayer", std::int32_t, (std::int32_t*, std::uint32_t, std::int32_t))           \
  X(FReleaseDecoder, "PB_ReleaseDecoder", std::int32_t, (std::int32_t))                               \
  X(FRegDecodeDataCallBackEx, "PB_RegDecodeDataCallBackEx", std::int32_t,                             \
    (std::int32_t, TDecodeTM::TDecodeCallBack, std::int32_t))

class TDecodeTM : public TDecodeBase {
 public:
  static constexpr std::uint8_t DvrTypeCode = 18;
  // Largest snapshot the library may hand over (2 MiB).
  static constexpr std::int32_t MaxSnapBytes = 2 * 1024 * 1024;

  // Port, Y, U and V planes, width, height, two values not read.
  using TDecodeCallBack = void(ZORV_STDCALL*)(std::int32_t Port, const std::uint8_t* Y, const std::uint8_t* U,
                                              const std::uint8_t* V, std::int32_t Width, std::int32_t Height,
                                              std::int32_t, std::int32_t);
  // Register convention: port in EAX, pointers to the data pointer and to the length in EDX, ECX.
  using TCapturePictureEx = std::int32_t(ZORV_REGISTER*)(std::int32_t Port, std::uint8_t** Data,
                                                         std::int32_t* Length);

  TDecodeTM();
  ~TDecodeTM() override;

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

  // The vendor frame type of a frame type of the frame head; -1 when the frame is not sent.
  static std::int32_t VendorFrameType(std::uint8_t FrameType);
  // The vendor time stamp of a frame time: the fraction of its day x 3600 x 1000, truncated.
  static std::uint32_t VendorTimeStamp(double FrameTime);

 protected:
  // Loads the three libraries from Dir + SubDir and binds the entry points both adapters
  // share from AVPlayer.dll; -1 when a file is missing.
  std::int32_t LoadLibraries(const std::string& Dir, const char* SubDir);
  // Opening steps after the vendor player is initialised and opened: the entry is filled and
  // the opening frame fed.
  void FinishOpen(TFrameHead& Head, const std::uint8_t* Data, std::int32_t Player, std::int32_t Port);
  static std::int32_t PortOf(const TPlayerInfo& Info) { return static_cast<std::int32_t>(Info.Port.Get()); }

  TM_COMMON_ENTRIES(ZORV_DECLARE_ENTRY)
  TCapturePictureEx FCapturePictureEx = nullptr;

 private:
  static void ZORV_STDCALL DecodeCallBack(std::int32_t Port, const std::uint8_t* Y, const std::uint8_t* U,
                                          const std::uint8_t* V, std::int32_t Width, std::int32_t Height,
                                          std::int32_t, std::int32_t);

  TM_PLAYER_ENTRIES(ZORV_DECLARE_ENTRY)
};
