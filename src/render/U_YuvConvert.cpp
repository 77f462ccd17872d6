// YUV 4:2:0 to bottom-up BGR24 conversion (scalar reference and kernel choice) and BMP images.
#include "U_YuvConvert.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "Platform.h"
#include "U_YuvConvertKernels.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define ZORV_YUV_X86 1
#endif

namespace YuvConvert {
namespace {

// (v div 1000) clamped to 0..255, div truncating toward zero as the integer formula says.
inline std::uint8_t Component(int v) {
  const int q = v / 1000;
  return static_cast<std::uint8_t>(q < 0 ? 0 : (q > 255 ? 255 : q));
}

#if ZORV_YUV_X86
bool CpuHasSse2() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  return (d & bit_SSE2) != 0;
}

bool CpuHasSsse3() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  return (d & bit_SSE2) != 0 && (c & bit_SSSE3) != 0;
}

bool CpuHasAvx2() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool osxsave = (c & bit_OSXSAVE) != 0, avx = (c & bit_AVX) != 0;
  if (!osxsave || !avx) return false;
  // The system must save the YMM state across context switches (XCR0 bits 1 and 2).
  unsigned xcr0lo, xcr0hi;
  __asm__ volatile("xgetbv" : "=a"(xcr0lo), "=d"(xcr0hi) : "c"(0));
  if ((xcr0lo & 6) != 6) return false;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, a, b, c, d);
  return (b & bit_AVX2) != 0;
}

bool CpuHasAvx512() {
  if (!CpuHasAvx2()) return false;
  // The system must also save the opmask and ZMM state (XCR0 bits 5, 6 and 7).
  unsigned xcr0lo, xcr0hi;
  __asm__ volatile("xgetbv" : "=a"(xcr0lo), "=d"(xcr0hi) : "c"(0));
  if ((xcr0lo & 0xE6) != 0xE6) return false;
  unsigned a, b, c, d;
  __cpuid_count(7, 0, a, b, c, d);
  const bool f = (b & (1u << 16)) != 0, bw = (b & (1u << 30)) != 0, vl = (b & (1u << 31)) != 0;
  const bool vbmi = (c & (1u << 1)) != 0;
  return f && bw && vl && vbmi;
}
#endif


RowsKernel KernelFunction(Kernel kernel) {
  switch (kernel) {
    case Kernel::Avx512: return ConvertAvx512;
    case Kernel::Avx2: return ConvertAvx2;
    case Kernel::Ssse3: return ConvertSsse3;
    case Kernel::Sse2: return ConvertSse2;
    case Kernel::Scalar: break;
  }
  return ConvertScalar;
}

}  // namespace

void RowPairScalar(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                   const std::uint8_t* cr, std::uint8_t* out0, std::uint8_t* out1, int pairs) {
  for (int j = 0; j < pairs; ++j) {
    const int u = cb[j] - 128, v = cr[j] - 128;
    const int b = u * 2018;
    const int g = -v * 813 - u * 391;
    const int r = v * 1596;
    const std::uint8_t* rows[2] = {y0, y1};
    std::uint8_t* outs[2] = {out0, out1};
    for (int row = 0; row < 2; ++row) {
      for (int i = 0; i < 2; ++i) {
        const int yy = (rows[row][2 * j + i] - 16) * 1164;
        std::uint8_t* p = outs[row] + (2 * j + i) * 3;
        p[0] = Component(yy + b);
        p[1] = Component(yy + g);
        p[2] = Component(yy + r);
      }
    }
  }
}

void ConvertScalar(const Rows& rows) {
  for (int k = 0; k < rows.rowPairs; ++k) {
    const std::uint8_t* y0 = rows.y + 2 * k * rows.lumaStride;
    std::uint8_t* out0 = rows.out + 2 * k * rows.outStride;
    RowPairScalar(y0, y0 + rows.lumaStride, rows.cb + k * rows.chromaStride,
                  rows.cr + k * rows.chromaStride, out0, out0 + rows.outStride, rows.pairs);
  }
}

const char* KernelName(Kernel kernel) {
  switch (kernel) {
    case Kernel::Avx512: return "avx512";
    case Kernel::Avx2: return "avx2";
    case Kernel::Ssse3: return "ssse3";
    case Kernel::Sse2: return "sse2";
    case Kernel::Scalar: break;
  }
  return "scalar";
}

bool KernelSupported(Kernel kernel) {
  // CPUID is slow (a trap under virtualisation): ask once.
#if ZORV_YUV_X86
  static const bool sse2 = CpuHasSse2(), ssse3 = CpuHasSsse3(), avx2 = CpuHasAvx2(), avx512 = CpuHasAvx512();
#else
  static const bool sse2 = false, ssse3 = false, avx2 = false, avx512 = false;
#endif
  switch (kernel) {
    case Kernel::Avx512: return avx512;
    case Kernel::Avx2: return avx2;
    case Kernel::Ssse3: return ssse3;
    case Kernel::Sse2: return sse2;
    case Kernel::Scalar: return true;
  }
  return false;
}

Kernel BestKernel() {
  static const Kernel best = KernelSupported(Kernel::Avx512) ? Kernel::Avx512
                             : KernelSupported(Kernel::Avx2) ? Kernel::Avx2
                             : KernelSupported(Kernel::Ssse3) ? Kernel::Ssse3
                             : KernelSupported(Kernel::Sse2) ? Kernel::Sse2
                                                             : Kernel::Scalar;
  return best;
}

void ConvertRows(Kernel kernel, const Rows& rows) {
  if (!KernelSupported(kernel)) kernel = BestKernel();
  KernelFunction(kernel)(rows);
}

int ConvertWith(Kernel kernel, const std::uint8_t* contiguous, const std::uint8_t* y,
                const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* out, int width,
                int height) {
  if (height < 2 || width < 2 || out == nullptr) return 0;
  if (contiguous != nullptr) {
    const std::size_t lumaSize = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    y = contiguous;
    cr = contiguous + lumaSize;
    cb = contiguous + lumaSize + lumaSize / 4;
  }
  if (y == nullptr || cb == nullptr || cr == nullptr) return 0;
  // Bottom-up: picture row 0 is the image's last row.
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(Rgb24Stride(width));
  Rows rows;
  rows.y = y;
  rows.cb = cb;
  rows.cr = cr;
  rows.lumaStride = width;
  rows.chromaStride = width / 2;
  rows.out = out + static_cast<std::ptrdiff_t>(height - 1) * stride;
  rows.outStride = -stride;
  rows.pairs = width / 2;
  rows.rowPairs = height / 2;
  ConvertRows(kernel, rows);
  return 0;
}

}  // namespace YuvConvert

int YUV420ToRGB24(const std::uint8_t* contiguous, const std::uint8_t* y, const std::uint8_t* cb,
                  const std::uint8_t* cr, std::uint8_t* out, int width, int height) {
  return YuvConvert::ConvertWith(YuvConvert::BestKernel(), contiguous, y, cb, cr, out, width,
                                 height);
}

namespace {

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Bytes of the BMP file image, or 0 when the size is negative or does not fit the header.
std::size_t BmpFileSize(int width, int height) {
  if (width < 0 || height < 0) return 0;
  const std::int64_t total = static_cast<std::int64_t>(kBmpHeaderSize) + Rgb24ImageSize(width, height);
  if (total > std::numeric_limits<std::int32_t>::max() ||
      static_cast<std::uint64_t>(total) > std::numeric_limits<std::size_t>::max() / 2)
    return 0;
  return static_cast<std::size_t>(total);
}

}  // namespace

void WriteBmpHeader(std::uint8_t* dest, int width, int height) {
  const std::uint32_t imageSize = static_cast<std::uint32_t>(Rgb24ImageSize(width, height));
  std::memset(dest, 0, kBmpHeaderSize);
  dest[0] = 'B';
  dest[1] = 'M';
  Put32(dest + 2, static_cast<std::uint32_t>(kBmpHeaderSize) + imageSize);
  Put32(dest + 10, static_cast<std::uint32_t>(kBmpHeaderSize));
  Put32(dest + 14, 40);
  Put32(dest + 18, static_cast<std::uint32_t>(width));
  Put32(dest + 22, static_cast<std::uint32_t>(height));
  Put16(dest + 26, 1);
  Put16(dest + 28, 24);
  Put32(dest + 34, imageSize);
}

std::vector<std::uint8_t> MakeBmpImage(const std::uint8_t* rgb, int width, int height) {
  std::vector<std::uint8_t> image;
  const std::size_t size = BmpFileSize(width, height);
  if (size == 0) return image;
  try {
    image.resize(size);
  } catch (const std::bad_alloc&) {
    return {};
  }
  WriteBmpHeader(image.data(), width, height);
  if (rgb != nullptr && size > kBmpHeaderSize)
    std::memcpy(image.data() + kBmpHeaderSize, rgb, size - kBmpHeaderSize);
  return image;
}

std::vector<std::uint8_t> YV12ToBmpImage(const std::uint8_t* picture, int width, int height) {
  if (picture == nullptr) return {};
  std::vector<std::uint8_t> image = MakeBmpImage(nullptr, width, height);
  if (!image.empty())
    YUV420ToRGB24(picture, nullptr, nullptr, nullptr, image.data() + kBmpHeaderSize, width, height);
  return image;
}

int SaveYUVAsBmp(const std::uint8_t* picture, int width, int height, const char* fileName) {
  const std::vector<std::uint8_t> image = YV12ToBmpImage(picture, width, height);
  if (image.empty()) return 0;
  if (fileName == nullptr) return -1;
  std::FILE* file = std::fopen(Win::NativePath(fileName).c_str(), "wb");
  if (file == nullptr) return -1;
  const std::size_t written = std::fwrite(image.data(), 1, image.size(), file);
  const bool closed = std::fclose(file) == 0;
  if (written != image.size() || !closed) return -1;
  return static_cast<int>(written);
}
