// The PlayM4_* exports: port p is display channel (group 4, channel p). Each builds the default
// head of its port and enters the engine, directly or through a Tarn_Decode_* export. A port
// outside 0..99 is refused with the function's "no engine" value.
#include <cstring>

#include "U_DecodeEngine.h"
#include "U_FrameHead.h"
#include "ZorvDecoder.h"

namespace {
constexpr std::uint8_t PlayM4Group = 4;

bool ValidPort(int32_t Port) { return Port >= 0 && Port < ChannelsPerGroup; }

// All zero except Channel = port, Group 4 and DecodeMode 2 (software).
TFrameHead DefaultHead(int32_t Port) {
  TFrameHead Head;
  std::memset(&Head, 0, sizeof Head);
  Head.Channel = static_cast<uint32_t>(Port);
  Head.Group = PlayM4Group;
  Head.DecodeMode = 2;
  return Head;
}

// Runs Call with the engine and the port's default head; Absent when there is no engine, the
// port is outside the group or anything inside throws.
template <class R, class F>
R OnPort(int32_t Port, R Absent, F&& Call) noexcept {
  try {
    TDecodeEngine* Engine = DecodeEngine();
    if (!Engine || !ValidPort(Port)) return Absent;
    return Call(*Engine, DefaultHead(Port));
  } catch (...) {
    return Absent;
  }
}
}  // namespace

extern "C" {

ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_OpenStream(int32_t Port, uint8_t DvrType, uint8_t* Header,
                                                  uint32_t HeaderLen, uint32_t /*BufPoolSize*/) {
  return OnPort(Port, 0, [&](TDecodeEngine&, TFrameHead Head) {
    Head.FrameType = ZORV_FRAME_FILEHEAD;
    Head.DvrType = DvrType;
    Head.DataLen = HeaderLen;
    return Tarn_Decode_AddFrame(Head, Header) == 0 ? 1 : 0;
  });
}

ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_InputData(int32_t Port, uint8_t* Buffer, uint32_t Len) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) {
    TChannelState State;
    E.GetChannelState(Head.Group, Head.Channel, State);
    Head.FrameType = ZORV_FRAME_I;  // every block travels as an I frame
    Head.DataLen = Len;
    Head.DvrType = State.DvrType;
    Head.Wnd = State.Wnd;
    return Tarn_Decode_AddFrame(Head, Buffer) == 0 ? 1 : 0;
  });
}

ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_CloseStream(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine&, TFrameHead Head) {
    return Tarn_Decode_CloseOneChannel(Head) == 0 ? 1 : 0;
  });
}

ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_Stop(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.CloseOneChannel(Head) == 0 ? 1 : 0; });
}

ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_Play(int32_t Port, uint32_t Wnd) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) {
    Head.Wnd = Wnd;
    E.Play(Head);
    return 1;
  });
}

ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_SetDecCallBack(int32_t Port, TPlayM4DecCallBack CallBack) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) {
    const std::int32_t Result = CallBack ? E.StartDecCallBack(Head, reinterpret_cast<std::uintptr_t>(CallBack))
                                         : E.StopDecCallBack(Head);
    return Result == 0 ? 1 : 0;
  });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_SetStreamOpenMode(int32_t Port, int32_t Mode) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.SetStreamOpenMode(Head, Mode); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_SetVolume(int32_t Port, uint16_t Volume) {
  return OnPort(Port, 1, [&](TDecodeEngine& E, TFrameHead Head) { return E.SetVolume(Head, Volume); });
}

ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_PlaySound(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) {
    E.PlaySound(Head);
    return 1;
  });
}

ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_StopSound(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) {
    E.StopSound(Head);
    return 1;
  });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_SnapPicture(int32_t Port, const char* FileName) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.SnapPictureToFile(Head, FileName); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_SetColor(int32_t Port, int32_t Region, int32_t Brightness, int32_t Contrast,
                                              int32_t Saturation, int32_t Hue) {
  return OnPort(Port, -1, [&](TDecodeEngine& E, TFrameHead Head) {
    return E.SetColor(Head, Region, Brightness, Contrast, Saturation, Hue);
  });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_GetColor(int32_t Port, int32_t Region, int32_t* Brightness, int32_t* Contrast,
                                              int32_t* Saturation, int32_t* Hue) {
  return OnPort(Port, -1, [&](TDecodeEngine& E, TFrameHead Head) {
    return E.GetColor(Head, Region, Brightness, Contrast, Saturation, Hue);
  });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_OpenFile(int32_t Port, uint8_t DvrType, const char* FileName) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) {
    Head.DvrType = NormaliseDvrType(DvrType);
    return E.OpenFile(Head, FileName) & 0xFF;
  });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_CloseFile(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.CloseFile(Head); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_Pause(int32_t Port, int32_t Pause) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.Pause(Head, Pause); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_Fast(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.Fast(Head); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_Slow(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.Slow(Head); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_OneByOne(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.OneByOne(Head); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_SetPlayPos(int32_t Port, double Pos) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.SetPlayPos(Head, Pos); });
}

ZORV_API double ZORV_STDCALL PlayM4_GetPlayPos(int32_t Port) {
  return OnPort(Port, 0.0, [&](TDecodeEngine& E, TFrameHead Head) { return E.GetPlayPos(Head); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_GetFileTime(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.GetFileTime(Head); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_GetPlayedTime(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.GetPlayedTime(Head); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_GetPlayedFrames(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.GetPlayedFrames(Head); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_GetFileTotalFrames(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.GetFileTotalFrames(Head); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_GetCurrentFrameRate(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.GetCurrentFrameRate(Head); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_GetPlayedTimeEx(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.GetPlayedTimeEx(Head); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_SetPlayedTimeEx(int32_t Port, int32_t Time) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.SetPlayedTimeEx(Head, Time); });
}

ZORV_API int32_t ZORV_STDCALL PlayM4_GetCurrentFrameNum(int32_t Port) {
  return OnPort(Port, 0, [&](TDecodeEngine& E, TFrameHead Head) { return E.GetCurrentFrameNum(Head); });
}

}  // extern "C"
