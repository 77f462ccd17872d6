// YUV 4:2:0 -> BGR24 conversion at CIF, D1 and 1080p, beside libswscale's yuv420p -> bgr24 and
// a memcpy of the output size, all on the same noisy pictures in one run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "U_YuvConvert.h"
#include "U_YuvConvertKernels.h"

namespace {

struct Picture {
  int width, height;
  std::vector<std::uint8_t> y, cb, cr;
  Picture(int w, int h) : width(w), height(h), y(size_t(w) * h), cb(size_t(w / 2) * (h / 2)), cr(cb.size()) {
    std::mt19937 rng(42);
    for (auto* plane : {&y, &cb, &cr})
      for (auto& v : *plane) v = static_cast<std::uint8_t>(rng());
  }
};

void SetCounters(benchmark::State& state, const Picture& p) {
  state.SetItemsProcessed(state.iterations());  // frames
  state.SetBytesProcessed(state.iterations() * int64_t(Rgb24ImageSize(p.width, p.height)));
  state.counters["Mpix/s"] = benchmark::Counter(double(p.width) * p.height * state.iterations() / 1e6,
                                                benchmark::Counter::kIsRate);
}

void Zorv(benchmark::State& state, YuvConvert::Kernel kernel) {
  if (!YuvConvert::KernelSupported(kernel)) {
    state.SkipWithError("kernel not supported here");
    return;
  }
  const Picture p(int(state.range(0)), int(state.range(1)));
  std::vector<std::uint8_t> out(size_t(Rgb24ImageSize(p.width, p.height)));
  for (auto _ : state) {
    YuvConvert::ConvertWith(kernel, nullptr, p.y.data(), p.cb.data(), p.cr.data(), out.data(), p.width, p.height);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state, p);
}

void ZorvBest(benchmark::State& state) {
  state.SetLabel(YuvConvert::KernelName(YuvConvert::BestKernel()));
  Zorv(state, YuvConvert::BestKernel());
}
void ZorvAvx512(benchmark::State& state) { Zorv(state, YuvConvert::Kernel::Avx512); }
void ZorvAvx2(benchmark::State& state) { Zorv(state, YuvConvert::Kernel::Avx2); }
void ZorvSsse3(benchmark::State& state) { Zorv(state, YuvConvert::Kernel::Ssse3); }
void ZorvSse2(benchmark::State& state) { Zorv(state, YuvConvert::Kernel::Sse2); }
void ZorvScalar(benchmark::State& state) { Zorv(state, YuvConvert::Kernel::Scalar); }

void Swscale(benchmark::State& state) {
  const Picture p(int(state.range(0)), int(state.range(1)));
  SwsContext* ctx = sws_getContext(p.width, p.height, AV_PIX_FMT_YUV420P, p.width, p.height,
                                   AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (ctx == nullptr) {
    state.SkipWithError("sws_getContext failed");
    return;
  }
  std::vector<std::uint8_t> out(size_t(p.width) * 3 * p.height + 64);
  const std::uint8_t* src[4] = {p.y.data(), p.cb.data(), p.cr.data(), nullptr};
  const int srcStride[4] = {p.width, p.width / 2, p.width / 2, 0};
  std::uint8_t* dst[4] = {out.data(), nullptr, nullptr, nullptr};
  const int dstStride[4] = {p.width * 3, 0, 0, 0};
  for (auto _ : state) {
    sws_scale(ctx, src, srcStride, 0, p.height, dst, dstStride);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  sws_freeContext(ctx);
  SetCounters(state, p);
}

void Memcpy(benchmark::State& state) {
  const Picture p(int(state.range(0)), int(state.range(1)));
  const size_t size = size_t(Rgb24ImageSize(p.width, p.height));
  std::vector<std::uint8_t> from(size, 1), to(size);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), size);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state, p);
}

// The machine may be shared: besides mean and median, report the fastest repetition.
void Sizes(benchmark::internal::Benchmark* b) {
  b->Args({352, 288})->Args({704, 576})->Args({1920, 1080})->Args({353, 289});
  b->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

BENCHMARK(ZorvBest)->Apply(Sizes);
BENCHMARK(Swscale)->Apply(Sizes);
BENCHMARK(Memcpy)->Apply(Sizes);
BENCHMARK(ZorvAvx512)->Apply(Sizes);
BENCHMARK(ZorvAvx2)->Apply(Sizes);
BENCHMARK(ZorvSsse3)->Apply(Sizes);
BENCHMARK(ZorvSse2)->Apply(Sizes);
BENCHMARK(ZorvScalar)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
