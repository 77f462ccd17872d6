// Kernels of the YUV conversion: the scalar reference and its SIMD forms, which must give the
// same bytes. The SIMD units are compiled with their own instruction-set flags and are called
// only when the processor (and the operating system) supports them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace YuvConvert {

// The rows of one conversion. Picture row pair k is luma rows 2k and 2k+1 (y + 2k*lumaStride
// on), chroma row k (cb/cr + k*chromaStride); its pixels go to image rows out + 2k*outStride
// and out + (2k+1)*outStride (outStride is negative for bottom-up images). Each row pair has
// `pairs` pixel pairs per row, 3 bytes (blue, green, red) per pixel; nothing outside them is
// read or written.
struct Rows {
  const std::uint8_t* y;
  const std::uint8_t* cb;
  const std::uint8_t* cr;
  std::ptrdiff_t lumaStride, chromaStride;
  std::uint8_t* out;
  std::ptrdiff_t outStride;
  int pairs, rowPairs;
};

using RowsKernel = void (*)(const Rows& rows);

void ConvertScalar(const Rows& rows);
void ConvertSse2(const Rows& rows);
void ConvertSsse3(const Rows& rows);
void ConvertAvx2(const Rows& rows);
void ConvertAvx512(const Rows& rows);

// One row pair by the formula: upper luma row y0 and lower y1 share the chroma rows cb and cr;
// `pairs` pixel pairs go to out0 and out1. The SIMD kernels finish short rows with it.
void RowPairScalar(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                   const std::uint8_t* cr, std::uint8_t* out0, std::uint8_t* out1, int pairs);

enum class Kernel { Scalar, Sse2, Ssse3, Avx2, Avx512 };  // Avx512: AVX-512 F, BW, VL and VBMI

const char* KernelName(Kernel kernel);
bool KernelSupported(Kernel kernel);  // the processor and the system can run it
Kernel BestKernel();                  // the one YUV420ToRGB24 uses

// Converts the rows with a chosen kernel (the best one when it is not supported).
void ConvertRows(Kernel kernel, const Rows& rows);

// YUV420ToRGB24 with a chosen kernel (the best one when it is not supported).
int ConvertWith(Kernel kernel, const std::uint8_t* contiguous, const std::uint8_t* y,
                const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* out, int width,
                int height);

}  // namespace YuvConvert
