#include "U_DecodePlaceholder.h"

std::int32_t TDecodePlaceholder::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  FDllExists = false;  // as when the vendor library file is not there
  return -1;
}

std::int32_t TDecodePlaceholder::OpenStream(TFrameHead&, const std::uint8_t*) { return -1; }
std::int32_t TDecodePlaceholder::InputData(TFrameHead&, const std::uint8_t*) { return -1; }
std::int32_t TDecodePlaceholder::PlaySound(TFrameHead&) { return -1; }
std::int32_t TDecodePlaceholder::StopSound(TFrameHead&) { return 0; }
std::int32_t TDecodePlaceholder::StartCallBack(TFrameHead&, std::uintptr_t) { return -1; }
std::int32_t TDecodePlaceholder::StopCallBack(TFrameHead&) { return 0; }
std::int32_t TDecodePlaceholder::RefrushWindow(TFrameHead&) { return -1; }
std::int32_t TDecodePlaceholder::ResetDisplay(TFrameHead&, std::int32_t) { return -1; }
std::int32_t TDecodePlaceholder::ClearBuffer(TFrameHead&) { return -1; }
std::int32_t TDecodePlaceholder::PauseChannel(TFrameHead&, std::int32_t) { return -1; }
std::int32_t TDecodePlaceholder::SnapPicture(TFrameHead&, std::int32_t*, std::uint8_t**) { return -1; }
std::int32_t TDecodePlaceholder::SetDecoderVideoExtOutput(TFrameHead&, std::int32_t, std::int32_t, std::uint8_t,
                                                          std::int32_t, std::int32_t, std::int32_t) {
  return -1;
}
std::int32_t TDecodePlaceholder::SetDisplayRegion(TFrameHead&, std::int32_t, std::int32_t, void*, std::int32_t) {
  return -1;
}
std::int32_t TDecodePlaceholder::InitHardHandle(std::int32_t) { return 0; }
std::int32_t TDecodePlaceholder::OutParm(std::int32_t*, std::int32_t*) { return -1; }
