// TDecodePlaceholder: stands in a registry slot whose adapter is not built yet. It behaves as an
// adapter whose vendor library is missing: InitDecoder fails (and is retried on the next frame),
// every operation finds no player.
#pragma once

#include "U_DecodeBase.h"

class TDecodePlaceholder : public TDecodeBase {
 public:
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
  std::int32_t SetDecoderVideoExtOutput(TFrameHead& Head, std::int32_t A, std::int32_t B, std::uint8_t C,
                                        std::int32_t D, std::int32_t E, std::int32_t F) override;
  std::int32_t SetDisplayRegion(TFrameHead& Head, std::int32_t A, std::int32_t B, void* C,
                                std::int32_t D) override;
  std::int32_t InitHardHandle(std::int32_t Handle) override;
  std::int32_t OutParm(std::int32_t* Out1, std::int32_t* Out2) override;
};
