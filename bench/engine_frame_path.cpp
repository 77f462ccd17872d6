// Cost of the engine's frame path and lookups, each beside its reference:
//   AddFrame export -> engine -> adapter InputData, beside the adapter's InputData called directly;
//   FindChannelByPort over a full player table (last entry), beside a hit on the first entry;
//   WriteLog (one formatted line to the debug output, discarded), beside formatting alone.
#include <benchmark/benchmark.h>

#include <cstring>

#include "Platform.h"
#include "U_AdapterRegistry.h"
#include "U_DecodeEngine.h"
#include "U_Log.h"
#include "ZorvDecoder.h"

namespace {

// Opens on a file head, feeds by the common input convention, decodes nothing.
class TBenchAdapter : public TDecodeBase {
 public:
  std::int32_t InitDecoder(std::int32_t Param, const std::string& Dir) override {
    if (BeginInitDecoder(Param, Dir) == 0) return 0;
    FState = 2;
    return 0;
  }
  std::int32_t OpenStream(TFrameHead& Head, const std::uint8_t*) override {
    std::int32_t Player = -1;
    if (GetFreePlayer(Head, Player) < 0) return -1;
    FPlayers[Player].Group = Head.Group;
    FPlayers[Player].OpenState = 2;
    return 0;
  }
  std::int32_t InputData(TFrameHead& Head, const std::uint8_t* Data) override {
    if (!FindPlayer(Head)) return -1;
    ReconcileCallBack(Head);
    benchmark::DoNotOptimize(Data);
    return 0;
  }
  std::int32_t PlaySound(TFrameHead&) override { return 0; }
  std::int32_t StopSound(TFrameHead&) override { return 0; }
  std::int32_t StartCallBack(TFrameHead&, std::uintptr_t) override { return 0; }
  std::int32_t StopCallBack(TFrameHead&) override { return 0; }
  std::int32_t RefrushWindow(TFrameHead&) override { return 0; }
  std::int32_t ResetDisplay(TFrameHead&, std::int32_t) override { return 0; }
  std::int32_t ClearBuffer(TFrameHead&) override { return 0; }
  std::int32_t PauseChannel(TFrameHead&, std::int32_t) override { return 0; }
  std::int32_t SnapPicture(TFrameHead&, std::int32_t*, std::uint8_t**) override { return -1; }
  std::int32_t SetDecoderVideoExtOutput(TFrameHead&, std::int32_t, std::int32_t, std::uint8_t, std::int32_t,
                                        std::int32_t, std::int32_t) override {
    return 0;
  }
  std::int32_t SetDisplayRegion(TFrameHead&, std::int32_t, std::int32_t, void*, std::int32_t) override { return 0; }
  std::int32_t InitHardHandle(std::int32_t) override { return 0; }
  std::int32_t OutParm(std::int32_t*, std::int32_t*) override { return 0; }
};

TFrameHead Head(std::uint8_t Group, std::uint32_t Channel, std::uint8_t FrameType) {
  TFrameHead H;
  std::memset(&H, 0, sizeof H);
  H.Group = Group;
  H.Channel = Channel;
  H.FrameType = FrameType;
  H.DvrType = 13;
  H.DataLen = 4096;
  H.DecodeMode = 2;
  return H;
}

std::uint8_t Frame[4096];

// An engine whose type-13 adapter has a stream on every one of the 500 channels.
struct TBenchEngine {
  TBenchEngine() {
    Win::Test::SetSleepScale(0);
    ZorvTest::OverrideSoftwareAdapter(13, [] { return std::make_unique<TBenchAdapter>(); });
    Tarn_Decode_Initialize(0, "", 1);
    for (int i = 0; i < 500; ++i) Tarn_Decode_AddFrame(Head(i / 100, i % 100, 1), Frame);
  }
  ~TBenchEngine() {
    Tarn_Decode_ShutDown();
    ZorvTest::ClearAdapterOverrides();
  }
};

void BM_AddFrameThroughTheExport(benchmark::State& State) {
  TBenchEngine Engine;
  const TFrameHead H = Head(4, 99, 4);
  for (auto _ : State) benchmark::DoNotOptimize(Tarn_Decode_AddFrame(H, Frame));
  State.SetBytesProcessed(State.iterations() * sizeof Frame);
}
BENCHMARK(BM_AddFrameThroughTheExport);

void BM_AdapterInputDirect(benchmark::State& State) {
  TBenchEngine Engine;
  TFrameHead H = Head(4, 99, 4);
  TDecodeBase* Adapter = DecodeEngine()->Decoder(13);
  for (auto _ : State) benchmark::DoNotOptimize(Adapter->InputData(H, Frame));
  State.SetBytesProcessed(State.iterations() * sizeof Frame);
}
BENCHMARK(BM_AdapterInputDirect);

void BM_FindChannelByPortLastEntry(benchmark::State& State) {
  TBenchEngine Engine;
  std::uint32_t Channel = 0;
  std::uint8_t Group = 0;
  for (auto _ : State) benchmark::DoNotOptimize(DecodeEngine()->FindChannelByPort(13, 499, Channel, Group));
}
BENCHMARK(BM_FindChannelByPortLastEntry);

void BM_FindChannelByPortFirstEntry(benchmark::State& State) {
  TBenchEngine Engine;
  std::uint32_t Channel = 0;
  std::uint8_t Group = 0;
  for (auto _ : State) benchmark::DoNotOptimize(DecodeEngine()->FindChannelByPort(13, 0, Channel, Group));
}
BENCHMARK(BM_FindChannelByPortFirstEntry);

void BM_WriteLog(benchmark::State& State) {
  for (auto _ : State) WriteLog("Decoderdll ftSysHead" + std::to_string(42), 1);
}
BENCHMARK(BM_WriteLog);

void BM_FormatLogLineOnly(benchmark::State& State) {
  const TLogTime Time{2024, 1, 5, 13, 45, 12, 345};
  for (auto _ : State)
    benchmark::DoNotOptimize(FormatLogLine(Time, 1234, 0xABC, "Decoderdll ftSysHead" + std::to_string(42)));
}
BENCHMARK(BM_FormatLogLineOnly);

}  // namespace

BENCHMARK_MAIN();
