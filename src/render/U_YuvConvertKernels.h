// Row-pair kernels of the YUV conversion: the scalar reference and its SIMD forms, which must
// give the same bytes. The SIMD units are compiled with their own instruction-set flags and are
// called only when the processor (and the operating system) supports them.
#pragma once

#include <cstdint>

namespace YuvConvert {

// Converts `pairs` pixel pairs of one row pair: luma rows y0 (upper) and y1 (lower) share the
// chroma rows cb and cr; the pixels go to out0 and out1 (3 bytes each, blue-green-red).
using RowPairKernel = void (*)(const std::uint8_t* y0, const std::uint8_t* y1,
                               const std::uint8_t* cb, const std::uint8_t* cr,
                               std::uint8_t* out0, std::uint8_t* out1, int pairs);

void RowPairScalar(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                   const std::uint8_t* cr, std::uint8_t* out0, std::uint8_t* out1, int pairs);
void RowPairSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                 const std::uint8_t* cr, std::uint8_t* out0, std::uint8_t* out1, int pairs);
void RowPairAvx2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                 const std::uint8_t* cr, std::uint8_t* out0, std::uint8_t* out1, int pairs);
void RowPairAvx512(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                   const std::uint8_t* cr, std::uint8_t* out0, std::uint8_t* out1, int pairs);

enum class Kernel { Scalar, Sse2, Avx2, Avx512 };  // Avx512: AVX-512 BW and VBMI

const char* KernelName(Kernel kernel);
bool KernelSupported(Kernel kernel);  // the processor and the system can run it
Kernel BestKernel();                  // the one YUV420ToRGB24 uses

// YUV420ToRGB24 with a chosen kernel (the best one when it is not supported).
int ConvertWith(Kernel kernel, const std::uint8_t* contiguous, const std::uint8_t* y,
                const std::uint8_t* cb, const std::uint8_t* cr, std::uint8_t* out, int width,
                int height);

}  // namespace YuvConvert
