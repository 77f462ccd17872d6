// The Tarn_Decode_* exports: each copies the caller's head, normalises its DVR type, checks that
// the engine exists and calls one engine operation. No exception crosses this boundary.
#include <cstring>
#include <new>

#include "U_DecodeEngine.h"
#include "U_DrawYuv.h"
#include "U_FrameHead.h"
#include "ZorvDecoder.h"

namespace {
// Head intake: the engine's copy of the head with a normalised DVR type.
TFrameHead Intake(const TFrameHead& Head) {
  TFrameHead Copy;
  std::memcpy(&Copy, &Head, sizeof Copy);
  Copy.DvrType = NormaliseDvrType(Copy.DvrType);
  return Copy;
}

// Runs Call on the engine; Failure when there is none or when anything inside throws.
template <class R, class F>
R WithEngine(R Failure, F&& Call) noexcept {
  try {
    TDecodeEngine* Engine = DecodeEngine();
    if (!Engine) return Failure;
    return Call(*Engine);
  } catch (...) {
    return Failure;
  }
}
}  // namespace

extern "C" {

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_Initialize(int32_t Param, const char* Dir, int32_t NoHardware) {
  try {
    if (DecodeEngine()) return 0;  // one engine per load: a second call changes nothing
    auto* Engine = new TDecodeEngine;
    Engine->SetLibDir(Dir ? Dir : "");
    SetDecodeEngine(Engine);
    CreateYUVToScreen(std::string(Dir ? Dir : "") + "PlayDll\\");
    Engine->SetInitParam(Param);
    Engine->CreateDecoder(13, 0, 2);
    if (NoHardware == 0) {
      Engine->CreateDecoder(1, 1, 1);
      Engine->CreateDecoder(4, 3, 1);
    }
  } catch (...) {
  }
  return 0;
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_InitializeH3(const char* Dir, int32_t NoHardware) {
  return Tarn_Decode_Initialize(0, Dir, NoHardware);
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_ShutDown(void) {
  try {
    // Vendor callbacks still running on the engine finish first (TEngineUse).
    delete TakeDecodeEngine();
  } catch (...) {
  }
  return 0;
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_ShutDownH3(void) { return Tarn_Decode_ShutDown(); }

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_AddFrame(TFrameHead Head, const uint8_t* Data) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& E) { return E.AddFrame(H, Data); });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_AddFrameH3(TFrameHeadH3 Head, const uint8_t* Data) {
  return Tarn_Decode_AddFrame(FrameHeadFromH3(Head), Data);
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_ClearBuffer(TFrameHead Head) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& E) { return E.ClearBuffer(H); });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_ClearBufferH3(TFrameHeadH3 Head) {
  return Tarn_Decode_ClearBuffer(FrameHeadFromH3(Head));
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_RefrushWindow(TFrameHead Head) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& E) { return E.RefrushWindow(H); });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_RefrushWindowH3(TFrameHeadH3 Head) {
  return Tarn_Decode_RefrushWindow(FrameHeadFromH3(Head));
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_ResetDisplay(TFrameHead Head, int32_t Value) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& E) { return E.ResetDisplay(H, Value); });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_PlaySound(TFrameHead Head) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& E) { return E.PlaySound(H); });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_PlaySoundH3(TFrameHeadH3 Head) {
  return Tarn_Decode_PlaySound(FrameHeadFromH3(Head));
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StopSound(TFrameHead Head) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& E) { return E.StopSound(H); });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StopSoundH3(TFrameHeadH3 Head) {
  return Tarn_Decode_StopSound(FrameHeadFromH3(Head));
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StartCallBack(TFrameHead Head, TDecCallBack CallBack) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& E) {
    return E.StartCallBack(H, reinterpret_cast<std::uintptr_t>(CallBack));
  });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StartCallBackH3(TFrameHeadH3 Head, TDecCallBack CallBack) {
  return Tarn_Decode_StartCallBack(FrameHeadFromH3(Head), CallBack);
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StopCallBack(TFrameHead Head) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& E) { return E.StopCallBack(H); });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StopCallBackH3(TFrameHeadH3 Head) {
  return Tarn_Decode_StopCallBack(FrameHeadFromH3(Head));
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_CloseOneChannel(TFrameHead Head) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& E) {
    E.StopSound(H);
    E.StopCallBack(H);
    return E.CloseOneChannel(H);
  });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_CloseOneChannelH3(TFrameHeadH3 Head) {
  return Tarn_Decode_CloseOneChannel(FrameHeadFromH3(Head));
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_SnapPicture(TFrameHead Head, int32_t* Size, uint8_t** Buffer) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& E) { return E.SnapPicture(H, Size, Buffer); });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_SnapPictureH3(TFrameHeadH3 Head, int32_t* Size, uint8_t** Buffer) {
  return Tarn_Decode_SnapPicture(FrameHeadFromH3(Head), Size, Buffer);
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StartAviRecord(TFrameHead Head, uintptr_t Value) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& E) { return E.StartAviRecord(H, Value); });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StopAviRecord(TFrameHead Head) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& E) { return E.StopAviRecord(H); });
}

// Register convention: the head pointer arrives in EAX, the pause value in EDX.
ZORV_API int32_t ZORV_REGISTER Tarn_Decode_Pause(const TFrameHead* Head, int32_t Pause) {
  if (!Head) return -1;
  TFrameHead H = Intake(*Head);
  return WithEngine(-1, [&](TDecodeEngine& E) { return VendorOk(E.Pause(H, Pause)) ? 0 : -1; });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_SetPlayMode(TFrameHead /*Head*/, int32_t /*Mode*/) { return -1; }

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_SetDecoderVideoExtOutput(TFrameHead Head, int32_t A, int32_t B, uint8_t C,
                                                                   int32_t D, int32_t E, int32_t F) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& En) { return En.SetDecoderVideoExtOutput(H, A, B, C, D, E, F); });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_SetDisplayRegion(TFrameHead Head, int32_t A, int32_t B, void* C,
                                                           int32_t D) {
  TFrameHead H = Intake(Head);
  return WithEngine(-1, [&](TDecodeEngine& E) { return E.SetDisplayRegion(H, A, B, C, D); });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_OutParm(uint8_t HardIndex, int32_t* Out1, int32_t* Out2) {
  return WithEngine(-1, [&](TDecodeEngine& E) { return E.OutParm(HardIndex, Out1, Out2); });
}

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_InitHardHandle(int32_t Handle) {
  return WithEngine(-1, [&](TDecodeEngine& E) { return E.InitHardHandle(Handle); });
}

}  // extern "C"
