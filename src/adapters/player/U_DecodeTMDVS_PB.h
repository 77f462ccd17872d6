// TDecodeTMDVS_PB: the adapter for DVR type 22, TM DVS units, over the same TM playback
// library set as TDecodeTM, loaded from "PlayDll\TMDVS\". It feeds frames, switches sound and
// takes snapshots as TDecodeTM does; it differs in how it opens (a two-argument
// PB_IniPlayer, every call only when bound), in its decode callback (registered with the
// register-convention PB_RegisgerCallBack; pictures reported as 352 x 288) and in its close.
#pragma once

#include <cstdint>
#include <string>

#include "U_DecodeTM.h"

class TDecodeTMDVS_PB : public TDecodeTM {
 public:
  static constexpr std::uint8_t DvrTypeCode = 22;
  // What the host is told of every picture, whatever the stream's real size.
  static constexpr std::uint32_t ReportedWidth = 352;
  static constexpr std::uint32_t ReportedHeight = 288;
  static constexpr std::uint32_t ReportedSize = ReportedWidth * ReportedHeight * 3 / 2;  // 152 064

  // Port, picture (4:2:0, Y then U then V), and the picture's width and height.
  using TDecodeCallBack = std::int32_t(ZORV_STDCALL*)(std::int32_t Port, const std::uint8_t* Picture,
                                                      std::int32_t Width, std::int32_t Height);
  // Register convention: port in EAX, callback (nil to unregister) in EDX.
  using TRegisgerCallBack = std::int32_t(ZORV_REGISTER*)(std::int32_t Port, TDecodeCallBack CallBack);
  using TIniPlayer = std::int32_t(ZORV_STDCALL*)(std::int32_t* Port, std::uint32_t Wnd);

  TDecodeTMDVS_PB();
  ~TDecodeTMDVS_PB() override;

  std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override;
  std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t* Data) override;
  std::int32_t StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) override;
  std::int32_t StopCallBack(TFrameHead& Head) override;
  std::int32_t ClearBuffer(TFrameHead& Head) override;
  std::int32_t CloseStream(TFrameHead& Head) override;

 private:
  static std::int32_t ZORV_STDCALL DecodeCallBack(std::int32_t Port, const std::uint8_t* Picture,
                                                  std::int32_t Width, std::int32_t Height);

  TIniPlayer FIniPlayer = nullptr;
  TRegisgerCallBack FRegisgerCallBack = nullptr;
};
