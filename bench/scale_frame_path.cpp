// The library at scale, each figure beside its reference or target:
//   a data frame's cost from Tarn_Decode_AddFrame to the vendor input call over 500 open
//   Hikvision channels (a quiet HikPlayM4.dll that accepts at once and keeps no journal), with
//   1, 2 and 8 feeding threads: median and 99th percentile per frame (from batches of 16 frames
//   timed together), throughput; beside the same vendor input call made directly. Target: a
//   median under 200 ns on one thread and throughput growing with the threads (no lock shared
//   by the channels on the data path);
//   memory of an idle engine (resident set and heap after Tarn_Decode_Initialize minus before;
//   no vendor library is loaded by then) against the 4 MiB target, and per open MPEG-4 stream
//   (opened with its file head; then with its first picture decoded).
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "Platform.h"
#include "ZorvDecoder.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kScaleRoot = std::string(ZORV_TESTROOT) + "-scale/";
const std::string kRoot = std::string(ZORV_TESTROOT) + "/";
constexpr int kChannels = 500;
constexpr int kBatch = 16;

TFrameHead HeadOf(int Index, std::uint8_t FrameType, std::uint8_t DvrType, std::size_t Length) {
  TFrameHead H{};
  H.Group = static_cast<std::uint8_t>(Index / 100);
  H.Channel = static_cast<std::uint32_t>(Index % 100);
  H.FrameType = FrameType;
  H.DvrType = DvrType;
  H.DataLen = static_cast<std::uint32_t>(Length);
  H.DecodeMode = 2;
  return H;
}

std::uint8_t gStreamHead[40] = {'Z', 'R', 'V'};
std::uint8_t gFrame[4096];

// The library with a Hikvision stream open on all 500 channels, shared by the feeding threads.
struct TOpenWall {
  bool Ok = false;
  TOpenWall() {
    Win::Test::SetSleepScale(0);
    Ok = Tarn_Decode_Initialize(0, kScaleRoot.c_str(), 1) == 0;
    for (int i = 0; Ok && i < kChannels; ++i)
      Ok = Tarn_Decode_AddFrame(HeadOf(i, ZORV_FRAME_FILEHEAD, 1, sizeof gStreamHead), gStreamHead) == 0;
  }
  ~TOpenWall() {
    for (int i = 0; i < kChannels; ++i) Tarn_Decode_CloseOneChannel(HeadOf(i, ZORV_FRAME_P, 1, 0));
    Tarn_Decode_ShutDown();
  }
};
TOpenWall* gWall = nullptr;

double Percentile(std::vector<double>& Samples, double P) {
  if (Samples.empty()) return 0;
  const std::size_t At = std::min(Samples.size() - 1, static_cast<std::size_t>(P * Samples.size()));
  std::nth_element(Samples.begin(), Samples.begin() + static_cast<std::ptrdiff_t>(At), Samples.end());
  return Samples[At];
}

// Each thread feeds its own channels (t, t + threads, ...), one frame per channel in turn.
void BM_DataFrameTo500Channels(benchmark::State& State) {
  if (State.thread_index() == 0) gWall = new TOpenWall;
  // Threads start their timed loop together; the setup above ran before it on thread 0 only.
  std::vector<TFrameHead> Heads;
  for (int i = static_cast<int>(State.thread_index()); i < kChannels; i += static_cast<int>(State.threads()))
    Heads.push_back(HeadOf(i, ZORV_FRAME_P, 1, sizeof gFrame));
  std::vector<double> PerFrame;
  PerFrame.reserve(1 << 16);
  std::size_t Next = 0;
  std::int64_t Failed = 0;
  for (auto _ : State) {
    const Clock::time_point T0 = Clock::now();
    for (int k = 0; k < kBatch; ++k) {
      Failed += Tarn_Decode_AddFrame(Heads[Next], gFrame) != 0;
      if (++Next == Heads.size()) Next = 0;
    }
    const double Ns = std::chrono::duration<double, std::nano>(Clock::now() - T0).count() / kBatch;
    if (PerFrame.size() < PerFrame.capacity()) PerFrame.push_back(Ns);
  }
  if (!gWall || !gWall->Ok || Failed) State.SkipWithError("frames refused: quiet HikPlayM4.dll not built?");
  State.SetItemsProcessed(State.iterations() * kBatch);
  State.counters["median_ns"] = benchmark::Counter(Percentile(PerFrame, 0.5), benchmark::Counter::kAvgThreads);
  State.counters["p99_ns"] = benchmark::Counter(Percentile(PerFrame, 0.99), benchmark::Counter::kAvgThreads);
  if (State.thread_index() == 0) {
    delete gWall;
    gWall = nullptr;
  }
}
BENCHMARK(BM_DataFrameTo500Channels)->Threads(1)->Threads(2)->Threads(8)->UseRealTime();

// Reference: the vendor input call alone, on the same ports.
using InputDataFn = std::int32_t(ZORV_STDCALL*)(std::int32_t, std::uint8_t*, std::uint32_t);
void BM_VendorInputDirect(benchmark::State& State) {
  void* Module = Win::LoadLibraryA((kScaleRoot + "PlayDll\\HIK\\HikPlayM4.dll").c_str());
  auto Input = Module ? reinterpret_cast<InputDataFn>(Win::GetProcAddress(Module, "Hik_PlayM4_InputData")) : nullptr;
  if (!Input) {
    State.SkipWithError("quiet HikPlayM4.dll not built");
    return;
  }
  int Port = static_cast<int>(State.thread_index());
  for (auto _ : State) {
    benchmark::DoNotOptimize(Input(Port, gFrame, sizeof gFrame));
    Port += static_cast<int>(State.threads());
    if (Port >= kChannels) Port = static_cast<int>(State.thread_index());
  }
  State.SetItemsProcessed(State.iterations());
  Win::FreeLibrary(Module);
}
BENCHMARK(BM_VendorInputDirect)->Threads(1)->Threads(2)->Threads(8)->UseRealTime();

// ---- memory ------------------------------------------------------------------------------------

double ResidentBytes() {
  long Pages = 0, Resident = 0;
  if (std::FILE* F = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(F, "%ld %ld", &Pages, &Resident) != 2) Resident = 0;
    std::fclose(F);
  }
  return static_cast<double>(Resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}
double HeapBytes() { return static_cast<double>(mallinfo2().uordblks); }

void BM_IdleEngineMemory(benchmark::State& State) {
  Win::Test::SetSleepScale(0);
  double Rss = 0, Heap = 0;
  for (auto _ : State) {
    malloc_trim(0);
    const double Rss0 = ResidentBytes(), Heap0 = HeapBytes();
    Tarn_Decode_Initialize(0, kRoot.c_str(), 1);
    Rss = ResidentBytes() - Rss0;
    Heap = HeapBytes() - Heap0;
    Tarn_Decode_ShutDown();
  }
  State.counters["rss_MiB"] = Rss / (1 << 20);
  State.counters["heap_MiB"] = Heap / (1 << 20);
  State.counters["target_MiB"] = 4;
}
BENCHMARK(BM_IdleEngineMemory)->Iterations(1);

// The configuration header and the first I frame of samples/cif (offsets from its .idx).
bool LoadCifStart(std::vector<std::uint8_t>& Header, std::vector<std::uint8_t>& IFrame) {
  const std::string Base = std::string(ZORV_SOURCE_DIR) + "/samples/cif";
  std::ifstream M4v(Base + ".m4v", std::ios::binary), Idx(Base + ".idx");
  const std::vector<std::uint8_t> Stream((std::istreambuf_iterator<char>(M4v)), std::istreambuf_iterator<char>());
  int W = 0, H = 0, Fps = 0, Frames = 0;
  char KindH = 0, KindI = 0;
  std::size_t OffH = 0, LenH = 0, OffI = 0, LenI = 0;
  if (!(Idx >> W >> H >> Fps >> Frames >> KindH >> OffH >> LenH >> KindI >> OffI >> LenI)) return false;
  if (KindH != 'H' || KindI != 'I' || OffI + LenI > Stream.size()) return false;
  Header.assign(Stream.begin() + static_cast<std::ptrdiff_t>(OffH), Stream.begin() + static_cast<std::ptrdiff_t>(OffH + LenH));
  IFrame.assign(Stream.begin() + static_cast<std::ptrdiff_t>(OffI), Stream.begin() + static_cast<std::ptrdiff_t>(OffI + LenI));
  return true;
}

void BM_Mp4StreamMemory(benchmark::State& State) {
  Win::Test::SetSleepScale(0);
  std::vector<std::uint8_t> Header, IFrame;
  if (!LoadCifStart(Header, IFrame)) {
    State.SkipWithError("samples/cif missing");
    return;
  }
  constexpr int kStreams = 100;
  double Opened = 0, Decoding = 0;
  for (auto _ : State) {
    Tarn_Decode_Initialize(0, kRoot.c_str(), 1);
    malloc_trim(0);
    const double Heap0 = HeapBytes();
    for (int i = 0; i < kStreams; ++i)
      Tarn_Decode_AddFrame(HeadOf(i, ZORV_FRAME_FILEHEAD, 13, Header.size()), Header.data());
    Opened = (HeapBytes() - Heap0) / kStreams;
    for (int i = 0; i < kStreams; ++i)
      Tarn_Decode_AddFrame(HeadOf(i, ZORV_FRAME_I, 13, IFrame.size()), IFrame.data());
    Decoding = (HeapBytes() - Heap0) / kStreams;
    for (int i = 0; i < kStreams; ++i) Tarn_Decode_CloseOneChannel(HeadOf(i, ZORV_FRAME_P, 13, 0));
    Tarn_Decode_ShutDown();
  }
  State.counters["opened_KiB"] = Opened / 1024;
  State.counters["decoding_cif_KiB"] = Decoding / 1024;
}
BENCHMARK(BM_Mp4StreamMemory)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
