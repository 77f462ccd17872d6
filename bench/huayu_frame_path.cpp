// The HuaYu frame-decoder path, each figure beside its reference:
//   a CIF data frame through Tarn_Decode_AddFrame -> engine -> TDecodeHuaYu -> SHXDecoder.dll
//   (stand-in: ZRV decode into the adapter's buffer) -> drawyuv.dll, beside SHXDec_Decode
//   called directly into a buffer of the same size;
//   the same frame while the host's decode callback runs (the picture reaches the host too).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "Platform.h"
#include "StandinControl.h"
#include "U_SHXDecoder.h"
#include "ZorvDecoder.h"
#include "ZrvStream.h"

namespace {

const std::string kRoot = std::string(ZORV_TESTROOT) + "/";
const std::string kShx = kRoot + "PlayDll\\HuaYu\\SHXDecoder.dll";
using CreateFn = std::uint32_t(ZORV_STDCALL*)(std::int32_t, TSHXCreateParam);
using DecodeFn = std::int32_t(ZORV_STDCALL*)(std::uint32_t, const std::uint8_t*, std::int32_t, std::uint8_t*);

TFrameHead HeadFor(std::uint8_t FrameType, std::size_t Length) {
  TFrameHead H{};
  H.Channel = 3;
  H.DataLen = static_cast<std::uint32_t>(Length);
  H.FrameType = FrameType;
  H.DvrType = 20;
  return H;
}

void ZORV_STDCALL TakePicture(std::uint32_t, TDecFrameInfo Info, const std::uint8_t* Picture) {
  benchmark::DoNotOptimize(Picture[Info.Size - 1]);
}

// The library with one open HuaYu channel on a CIF stream.
struct TOpenChannel {
  void* Module = nullptr;
  zrv::SyntheticStream Stream = zrv::MakeSyntheticStream(zrv::StreamParams{}, 25);
  bool Ok = false;
  TOpenChannel() {
    Win::Test::SetSleepScale(0);
    Module = Win::LoadLibraryA(kShx.c_str());
    auto Reset = Module ? reinterpret_cast<Standin_Reset_t>(Win::GetProcAddress(Module, "Standin_Reset")) : nullptr;
    if (!Reset) return;
    Reset();
    Ok = Tarn_Decode_Initialize(0, kRoot.c_str(), 1) == 0 &&
         Tarn_Decode_AddFrame(HeadFor(ZORV_FRAME_FILEHEAD, Stream.head.size()), Stream.head.data()) == 0;
  }
  ~TOpenChannel() {
    Tarn_Decode_CloseOneChannel(HeadFor(ZORV_FRAME_P, 0));
    Tarn_Decode_ShutDown();
    if (Module) {
      if (auto Reset = reinterpret_cast<Standin_Reset_t>(Win::GetProcAddress(Module, "Standin_Reset"))) Reset();
      Win::FreeLibrary(Module);
    }
  }
};

void AddFrames(benchmark::State& State, bool CallBack) {
  TOpenChannel C;
  if (!C.Ok) return State.SkipWithError("stand-in SHXDecoder.dll not built or not opening");
  if (CallBack) Tarn_Decode_StartCallBack(HeadFor(ZORV_FRAME_P, 0), TakePicture);
  const zrv::Frame& F = C.Stream.frames[1];
  const TFrameHead H = HeadFor(ZORV_FRAME_P, F.bytes.size());
  for (auto _ : State) benchmark::DoNotOptimize(Tarn_Decode_AddFrame(H, F.bytes.data()));
  State.SetItemsProcessed(State.iterations());
}

void BM_AddFrameThroughTDecodeHuaYu(benchmark::State& State) { AddFrames(State, false); }
BENCHMARK(BM_AddFrameThroughTDecodeHuaYu);

void BM_AddFrameThroughTDecodeHuaYuCallingBack(benchmark::State& State) { AddFrames(State, true); }
BENCHMARK(BM_AddFrameThroughTDecodeHuaYuCallingBack);

void BM_SHXDecodeDirect(benchmark::State& State) {
  TOpenChannel C;
  if (!C.Ok) return State.SkipWithError("stand-in SHXDecoder.dll not built or not opening");
  auto Create = reinterpret_cast<CreateFn>(Win::GetProcAddress(C.Module, "SHXDec_Create"));
  auto Decode = reinterpret_cast<DecodeFn>(Win::GetProcAddress(C.Module, "SHXDec_Decode"));
  if (!Create || !Decode) return State.SkipWithError("SHXDec_Create or SHXDec_Decode missing");
  const std::uint32_t Decoder = Create(12, TSHXCreateParam{352, 288, {0, 0, 0}});
  std::vector<std::uint8_t> Picture(SHXMaxPictureBytes);
  const std::vector<std::uint8_t>& Bytes = C.Stream.frames[1].bytes;
  for (auto _ : State)
    benchmark::DoNotOptimize(Decode(Decoder, Bytes.data(), static_cast<std::int32_t>(Bytes.size()), Picture.data()));
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_SHXDecodeDirect);

}  // namespace

BENCHMARK_MAIN();
