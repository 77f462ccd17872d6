// The Hikvision player path, each figure beside its reference:
//   a CIF data frame through Tarn_Decode_AddFrame -> engine -> TDecodeHC -> HikPlayM4.dll
//   (stand-in, scripted to accept without buffering), beside Hik_PlayM4_InputData called
//   directly on the same port;
//   the stand-in player's own work per picture (ZRV PackBits decode + conversion for drawing),
//   beside a plain copy of the picture.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "Platform.h"
#include "StandinControl.h"
#include "ZorvDecoder.h"
#include "ZrvStream.h"

namespace {

const std::string kRoot = std::string(ZORV_TESTROOT) + "/";
const std::string kHik = kRoot + "PlayDll\\HIK\\HikPlayM4.dll";
using InputDataFn = std::int32_t(ZORV_STDCALL*)(std::int32_t, std::uint8_t*, std::uint32_t);

zrv::SyntheticStream CifStream() {
  zrv::StreamParams P;
  return zrv::MakeSyntheticStream(P, 25);
}

TFrameHead HeadFor(std::uint8_t FrameType, std::size_t Length) {
  TFrameHead H{};
  H.Channel = 3;
  H.DataLen = static_cast<std::uint32_t>(Length);
  H.FrameType = FrameType;
  H.DvrType = 1;
  return H;
}

// The library with one open Hikvision channel (player 0), the stand-in accepting input at once.
struct TOpenChannel {
  void* Module = nullptr;
  zrv::SyntheticStream Stream = CifStream();
  bool Ok = false;
  TOpenChannel() {
    Win::Test::SetSleepScale(0);
    Module = Win::LoadLibraryA(kHik.c_str());
    auto Reset = Module ? reinterpret_cast<Standin_Reset_t>(Win::GetProcAddress(Module, "Standin_Reset")) : nullptr;
    auto Script = Module ? reinterpret_cast<Standin_Script_t>(Win::GetProcAddress(Module, "Standin_Script")) : nullptr;
    if (!Reset || !Script) return;
    Reset();
    Script("Hik_PlayM4_InputData", STANDIN_RETURN, 1, -1);
    Ok = Tarn_Decode_Initialize(0, kRoot.c_str(), 1) == 0 &&
         Tarn_Decode_AddFrame(HeadFor(ZORV_FRAME_FILEHEAD, Stream.head.size()), Stream.head.data()) == 0;
  }
  ~TOpenChannel() {
    Tarn_Decode_CloseOneChannel(HeadFor(ZORV_FRAME_P, 0));
    Tarn_Decode_ShutDown();
    if (auto Reset = reinterpret_cast<Standin_Reset_t>(Win::GetProcAddress(Module, "Standin_Reset"))) Reset();
    if (Module) Win::FreeLibrary(Module);
  }
};

void BM_AddFrameThroughTDecodeHC(benchmark::State& State) {
  TOpenChannel C;
  if (!C.Ok) return State.SkipWithError("stand-in HikPlayM4.dll not built or not opening");
  const zrv::Frame& F = C.Stream.frames[1];
  const TFrameHead H = HeadFor(F.frameType, F.bytes.size());
  for (auto _ : State) benchmark::DoNotOptimize(Tarn_Decode_AddFrame(H, F.bytes.data()));
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_AddFrameThroughTDecodeHC);

void BM_VendorInputDataDirect(benchmark::State& State) {
  TOpenChannel C;
  if (!C.Ok) return State.SkipWithError("stand-in HikPlayM4.dll not built or not opening");
  auto Input = reinterpret_cast<InputDataFn>(Win::GetProcAddress(C.Module, "Hik_PlayM4_InputData"));
  std::vector<std::uint8_t> Bytes = C.Stream.frames[1].bytes;
  for (auto _ : State)
    benchmark::DoNotOptimize(Input(0, Bytes.data(), static_cast<std::uint32_t>(Bytes.size())));
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_VendorInputDataDirect);

void BM_StandinPictureDecodeCif(benchmark::State& State) {
  zrv::SyntheticStream S = CifStream();
  zrv::Packet Packet;
  std::size_t Used = 0;
  zrv::ParsePacket(S.frames[1].bytes.data(), S.frames[1].bytes.size(), Packet, Used);
  std::vector<std::uint8_t> Yuv;
  for (auto _ : State) {
    zrv::DecodeVideo(Packet, Yuv);
    benchmark::DoNotOptimize(zrv::YuvToDib24(Yuv.data(), Packet.width, Packet.height));
  }
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_StandinPictureDecodeCif);

void BM_PictureCopyCif(benchmark::State& State) {
  std::vector<std::uint8_t> Src(zrv::PictureBytes(352, 288), 7), Dst(Src.size());
  for (auto _ : State) {
    std::memcpy(Dst.data(), Src.data(), Src.size());
    benchmark::DoNotOptimize(Dst.data());
  }
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_PictureCopyCif);

}  // namespace

BENCHMARK_MAIN();
