// AVX2 row-pair kernel of the YUV conversion, byte-exact with RowPairScalar: the arithmetic of
// the SSE2 kernel (see U_YuvConvertSse2.cpp) on 32 pixels at a time, interleaved with byte
// shuffles.
#include <immintrin.h>

#include "U_YuvConvertKernels.h"

namespace YuvConvert {
namespace {

struct Coefficients {
  __m256i blue, greenCr, greenCb, red, lumaBias, chromaBias, zero, magic;
  __m128i shuffle[3][3];  // [output chunk][component]
};

// pshufb masks that gather byte k of output chunk c (pixel n/3, component n%3, n = 16c + k)
// from the blue, green and red vectors of 16 pixels. Plain arrays: no library template may be
// instantiated in this unit, since its code would carry AVX2 instructions.
struct ShuffleMasks {
  signed char m[3][3][16];
};

constexpr ShuffleMasks MakeShuffleMasks() {
  ShuffleMasks s{};
  for (int c = 0; c < 3; ++c)
    for (int comp = 0; comp < 3; ++comp)
      for (int k = 0; k < 16; ++k) {
        const int n = 16 * c + k;
        s.m[c][comp][k] = static_cast<signed char>(n % 3 == comp ? n / 3 : -128);
      }
  return s;
}

constexpr ShuffleMasks kShuffleMasks = MakeShuffleMasks();

inline Coefficients MakeCoefficients() {
  Coefficients k;
  k.blue = _mm256_set1_epi32((2018 << 16) | 1164);
  k.red = _mm256_set1_epi32((1596 << 16) | 1164);
  k.greenCr = _mm256_set1_epi32(static_cast<int>((static_cast<unsigned>(-813) << 16) | 1164u));
  k.greenCb = _mm256_set1_epi32(static_cast<int>(static_cast<unsigned>(-391) << 16));
  k.lumaBias = _mm256_set1_epi16(16);
  k.chromaBias = _mm256_set1_epi16(128);
  k.zero = _mm256_setzero_si256();
  k.magic = _mm256_set1_epi16(static_cast<short>(33555));
  for (int c = 0; c < 3; ++c)
    for (int comp = 0; comp < 3; ++comp)
      k.shuffle[c][comp] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kShuffleMasks.m[c][comp]));
  return k;
}

inline __m256i Divide(__m256i lo, __m256i hi, const Coefficients& k) {
  __m256i w = _mm256_packs_epi32(_mm256_srai_epi32(lo, 3), _mm256_srai_epi32(hi, 3));
  w = _mm256_max_epi16(w, k.zero);
  return _mm256_srli_epi16(_mm256_mulhi_epu16(w, k.magic), 6);
}

// Blue, green and red of 16 pixels (16-bit lanes, in the lane order of y).
inline void Pixels16(__m256i y, __m256i cb, __m256i cr, const Coefficients& k, __m256i& b,
                     __m256i& g, __m256i& r) {
  const __m256i ybLo = _mm256_unpacklo_epi16(y, cb), ybHi = _mm256_unpackhi_epi16(y, cb);
  const __m256i yrLo = _mm256_unpacklo_epi16(y, cr), yrHi = _mm256_unpackhi_epi16(y, cr);
  b = Divide(_mm256_madd_epi16(ybLo, k.blue), _mm256_madd_epi16(ybHi, k.blue), k);
  r = Divide(_mm256_madd_epi16(yrLo, k.red), _mm256_madd_epi16(yrHi, k.red), k);
  g = Divide(
      _mm256_add_epi32(_mm256_madd_epi16(yrLo, k.greenCr), _mm256_madd_epi16(ybLo, k.greenCb)),
      _mm256_add_epi32(_mm256_madd_epi16(yrHi, k.greenCr), _mm256_madd_epi16(ybHi, k.greenCb)), k);
}

inline __m128i Chunk(int c, __m128i b, __m128i g, __m128i r, const Coefficients& k) {
  return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(b, k.shuffle[c][0]), _mm_shuffle_epi8(g, k.shuffle[c][1])),
                      _mm_shuffle_epi8(r, k.shuffle[c][2]));
}

inline void Store16(std::uint8_t* out, __m128i b, __m128i g, __m128i r, const Coefficients& k) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), Chunk(0, b, g, r, k));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), Chunk(1, b, g, r, k));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), Chunk(2, b, g, r, k));
}

// 32 pixels of one row. Unpacking works within 128-bit lanes, so the luma is split as
// pixels 0-7|16-23 and 8-15|24-31, matching the chroma duplicated the same way; the final
// byte pack puts the 32 pixels back in order.
inline void Row32(const std::uint8_t* yRow, __m256i cbA, __m256i cbB, __m256i crA, __m256i crB,
                  std::uint8_t* out, const Coefficients& k) {
  const __m256i yv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(yRow));
  const __m256i yA = _mm256_sub_epi16(_mm256_unpacklo_epi8(yv, k.zero), k.lumaBias);
  const __m256i yB = _mm256_sub_epi16(_mm256_unpackhi_epi8(yv, k.zero), k.lumaBias);
  __m256i bA, gA, rA, bB, gB, rB;
  Pixels16(yA, cbA, crA, k, bA, gA, rA);
  Pixels16(yB, cbB, crB, k, bB, gB, rB);
  const __m256i b = _mm256_packus_epi16(bA, bB);
  const __m256i g = _mm256_packus_epi16(gA, gB);
  const __m256i r = _mm256_packus_epi16(rA, rB);
  Store16(out, _mm256_castsi256_si128(b), _mm256_castsi256_si128(g), _mm256_castsi256_si128(r), k);
  Store16(out + 48, _mm256_extracti128_si256(b, 1), _mm256_extracti128_si256(g, 1),
          _mm256_extracti128_si256(r, 1), k);
}

}  // namespace

void RowPairAvx2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                 const std::uint8_t* cr, std::uint8_t* out0, std::uint8_t* out1, int pairs) {
  const Coefficients k = MakeCoefficients();
  int j = 0;
  for (; j + 16 <= pairs; j += 16) {
    const __m256i cbv = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + j))), k.chromaBias);
    const __m256i crv = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + j))), k.chromaBias);
    const __m256i cbA = _mm256_unpacklo_epi16(cbv, cbv), cbB = _mm256_unpackhi_epi16(cbv, cbv);
    const __m256i crA = _mm256_unpacklo_epi16(crv, crv), crB = _mm256_unpackhi_epi16(crv, crv);
    Row32(y0 + 2 * j, cbA, cbB, crA, crB, out0 + 6 * j, k);
    Row32(y1 + 2 * j, cbA, cbB, crA, crB, out1 + 6 * j, k);
  }
  _mm256_zeroupper();
  if (j < pairs)
    RowPairScalar(y0 + 2 * j, y1 + 2 * j, cb + j, cr + j, out0 + 6 * j, out1 + 6 * j, pairs - j);
}

}  // namespace YuvConvert
