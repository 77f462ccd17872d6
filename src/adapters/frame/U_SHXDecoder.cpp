#include "U_SHXDecoder.h"

#include "U_YuvConvert.h"

std::int32_t TSHXAdapterBase::PlaySound(TFrameHead& Head) {
  return DoPlaySound(Head, [](TPlayerInfo&) {});
}

std::int32_t TSHXAdapterBase::StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) {
  return DoStartCallBack(Head, CallBack, [&](TPlayerInfo&) { ClearBuffer(Head); });
}

std::int32_t TSHXAdapterBase::StopCallBack(TFrameHead& Head) {
  return DoStopCallBack(Head, [&](TPlayerInfo&) { ClearBuffer(Head); });
}

std::int32_t TSHXAdapterBase::ClearBuffer(TFrameHead& Head) { return FindPlayer(Head) ? 0 : -1; }

std::int32_t TSHXAdapterBase::LoadDecoderLibrary(const std::string& VendorDir) {
  if (LoadDllFiles(VendorDir, {"SHXDecoder.dll"}) != 0) return -1;
  ZORV_BIND_ENTRIES(SHX_ENTRIES, MainModule());
  return 0;
}

void TSHXAdapterBase::StartWaveOutput() {
  FWaveOut = std::make_unique<TWaveOut>();
  FWaveThread = std::make_unique<TWaveOutThread>(FWaveOut.get());
}

void TSHXAdapterBase::StopWaveOutput() {
  if (!FWaveThread) return;
  FWaveThread->Quit();
  Win::Sleep(500);
  FWaveThread.reset();
  if (FWaveOut) FWaveOut->Close();
  FWaveOut.reset();
}

std::uint32_t TSHXAdapterBase::CreateDecoder(std::int32_t Codec) {
  std::uint32_t Decoder = 0;
  auto* Create = FSHXCreate;
  if (!Create) return 0;
  const TSHXCreateParam Param{SHXDefaultWidth, SHXDefaultHeight, {0, 0, 0}};
  if (!GuardedCall([&] { Decoder = Create(Codec, Param); })) return 0;
  return Decoder;
}

void TSHXAdapterBase::DestroyDecoder(std::uint32_t Decoder) {
  auto* Destroy = FSHXDestroy;
  if (Decoder != 0 && Destroy) GuardedCall([&] { Destroy(Decoder); });
}

std::int32_t TSHXAdapterBase::DecodeFrame(std::uint32_t Decoder, const std::uint8_t* Data, std::uint32_t Length,
                                          std::uint8_t* Picture) {
  std::int32_t Result = -1;
  auto* Decode = FSHXDecode;
  if (!Decode || !Data || !Picture) return -1;
  if (!GuardedCall([&] { Result = Decode(Decoder, Data, static_cast<std::int32_t>(Length), Picture); }))
    return -1;
  return Result;
}

void TSHXAdapterBase::AskPictureSize(std::uint32_t Decoder, std::int32_t& Width, std::int32_t& Height) {
  TSHXDecoderInfo Info{};
  std::int32_t Got = -1;
  if (auto* GetInfo = FSHXGetDecoderInfo) {
    if (!GuardedCall([&] { Got = GetInfo(Decoder, &Info); })) Got = -1;
  }
  if (Got == 0) {
    Width = Info.Width;
    Height = Info.Height;
  } else {
    Width = SHXDefaultWidth;
    Height = SHXDefaultHeight;
  }
}

bool TSHXAdapterBase::ServeSnapshot(TCapBMP& Entry, const std::uint8_t* Picture, std::int32_t Width,
                                    std::int32_t Height) {
  bool Pending = false;
  ServeCapRequest(Entry, [&](const std::string& Name) {
    Pending = true;
    return SaveYUVAsBmp(Picture, Width, Height, Name.c_str()) > 0;
  });
  return Pending;
}
