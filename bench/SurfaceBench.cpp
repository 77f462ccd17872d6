// Drawing a picture into a window surface (Win::StretchDIBits on the in-memory surfaces), beside
// a plain copy of the same number of bytes as the reference. A picture drawn at its own size
// should cost about that copy.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "Platform.h"
#include "ZorvSurface.h"

namespace {

void Draw(benchmark::State& state, int srcW, int srcH, int dstW, int dstH) {
  const uint32_t wnd = zorv_surface_create(0, 0, dstW, dstH);
  Win::BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(Win::BITMAPINFOHEADER);
  info.bmiHeader.biWidth = srcW;
  info.bmiHeader.biHeight = srcH;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  std::vector<uint8_t> bits(size_t((srcW * 3 + 3) & ~3) * srcH);
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = uint8_t(i * 7);
  const Win::HDC dc = Win::GetDC(wnd);
  for (auto _ : state) {
    Win::SetStretchBltMode(dc, Win::COLORONCOLOR);
    benchmark::DoNotOptimize(Win::StretchDIBits(dc, 0, 0, dstW, dstH, 0, 0, srcW, srcH, bits.data(), &info,
                                                Win::DIB_RGB_COLORS, Win::SRCCOPY));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * dstW * dstH * 3);
  zorv_surface_destroy(wnd);
}

void Copy(benchmark::State& state, int dstW, int dstH) {
  std::vector<uint8_t> from(size_t(dstW) * dstH * 3, 1), to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(from.size()));
}

void BM_DrawD1OneToOne(benchmark::State& s) { Draw(s, 704, 576, 704, 576); }
void BM_DrawCifOneToOne(benchmark::State& s) { Draw(s, 352, 288, 352, 288); }
void BM_DrawCifToD1(benchmark::State& s) { Draw(s, 352, 288, 704, 576); }
void BM_DrawD1ToCif(benchmark::State& s) { Draw(s, 704, 576, 352, 288); }
void BM_CopyD1Reference(benchmark::State& s) { Copy(s, 704, 576); }

}  // namespace

BENCHMARK(BM_DrawD1OneToOne);
BENCHMARK(BM_DrawCifOneToOne);
BENCHMARK(BM_DrawCifToD1);
BENCHMARK(BM_DrawD1ToCif);
BENCHMARK(BM_CopyD1Reference);
BENCHMARK_MAIN();
