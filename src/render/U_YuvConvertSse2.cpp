// SSE2 row-pair kernel of the YUV conversion, byte-exact with RowPairScalar.
//
// Per component the scalar formula is clamp((1164*(Y-16) + chroma term) div 1000). Negative
// sums clamp to 0 whichever way the division rounds, so the result equals
// min(255, floor(max(v, 0) / 1000)) = min(255, floor(floor(v / 8) / 125)). v comes from
// pmaddwd on (Y-16, C-128) pairs in 32 bits; floor(v / 8) saturated to 16 bits keeps every
// result (>= 32000 means 255 anyway), and floor(w / 125) for 0 <= w < 32768 is exactly
// (w * 33555) >> 22.
#include <emmintrin.h>

#include "U_YuvConvertKernels.h"

namespace YuvConvert {
namespace {

struct Coefficients {
  __m128i blue, greenCr, greenCb, red, lumaBias, chromaBias, zero, magic;
};

inline Coefficients MakeCoefficients() {
  Coefficients k;
  // Pairs are (luma, chroma) 16-bit words: the low word takes the first coefficient.
  k.blue = _mm_set1_epi32((2018 << 16) | 1164);
  k.red = _mm_set1_epi32((1596 << 16) | 1164);
  k.greenCr = _mm_set1_epi32(static_cast<int>((static_cast<unsigned>(-813) << 16) | 1164u));
  k.greenCb = _mm_set1_epi32(static_cast<int>(static_cast<unsigned>(-391) << 16));
  k.lumaBias = _mm_set1_epi16(16);
  k.chromaBias = _mm_set1_epi16(128);
  k.zero = _mm_setzero_si128();
  k.magic = _mm_set1_epi16(static_cast<short>(33555));
  return k;
}

// 8 components from two groups of four 32-bit sums.
inline __m128i Divide(__m128i lo, __m128i hi, const Coefficients& k) {
  __m128i w = _mm_packs_epi32(_mm_srai_epi32(lo, 3), _mm_srai_epi32(hi, 3));
  w = _mm_max_epi16(w, k.zero);
  return _mm_srli_epi16(_mm_mulhi_epu16(w, k.magic), 6);
}

// Blue, green and red of 8 pixels: luma y (Y-16) with their chroma cb, cr (C-128), 16-bit.
inline void Pixels8(__m128i y, __m128i cb, __m128i cr, const Coefficients& k, __m128i& b,
                    __m128i& g, __m128i& r) {
  const __m128i ybLo = _mm_unpacklo_epi16(y, cb), ybHi = _mm_unpackhi_epi16(y, cb);
  const __m128i yrLo = _mm_unpacklo_epi16(y, cr), yrHi = _mm_unpackhi_epi16(y, cr);
  b = Divide(_mm_madd_epi16(ybLo, k.blue), _mm_madd_epi16(ybHi, k.blue), k);
  r = Divide(_mm_madd_epi16(yrLo, k.red), _mm_madd_epi16(yrHi, k.red), k);
  g = Divide(_mm_add_epi32(_mm_madd_epi16(yrLo, k.greenCr), _mm_madd_epi16(ybLo, k.greenCb)),
             _mm_add_epi32(_mm_madd_epi16(yrHi, k.greenCr), _mm_madd_epi16(ybHi, k.greenCb)), k);
}

// Four BGRX pixels (X = 0) squeezed into the low 12 bytes.
inline __m128i Squeeze(__m128i p) {
  const __m128i low3 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i next3 = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000u), 0x0000FFFF,
                                      static_cast<int>(0xFF000000u));
  // Within each 64-bit half: pixel 0 in bytes 0..2, pixel 1 moved down to bytes 3..5.
  const __m128i q = _mm_or_si128(_mm_and_si128(p, low3), _mm_and_si128(_mm_srli_epi64(p, 8), next3));
  const __m128i lowHalf6 = _mm_set_epi32(0, 0, 0x0000FFFF, static_cast<int>(0xFFFFFFFFu));
  const __m128i bytes6to11 = _mm_set_epi32(0, static_cast<int>(0xFFFFFFFFu),
                                           static_cast<int>(0xFFFF0000u), 0);
  return _mm_or_si128(_mm_and_si128(q, lowHalf6), _mm_and_si128(_mm_srli_si128(q, 2), bytes6to11));
}

// Writes 16 pixels (48 bytes) from 16 blue, green and red bytes.
inline void Store16(std::uint8_t* out, __m128i b, __m128i g, __m128i r, const Coefficients& k) {
  const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
  const __m128i rLo = _mm_unpacklo_epi8(r, k.zero), rHi = _mm_unpackhi_epi8(r, k.zero);
  const __m128i c0 = Squeeze(_mm_unpacklo_epi16(bgLo, rLo));
  const __m128i c1 = Squeeze(_mm_unpackhi_epi16(bgLo, rLo));
  const __m128i c2 = Squeeze(_mm_unpacklo_epi16(bgHi, rHi));
  const __m128i c3 = Squeeze(_mm_unpackhi_epi16(bgHi, rHi));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                   _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32),
                   _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4)));
}

inline void Row16(const std::uint8_t* yRow, __m128i cbLo, __m128i cbHi, __m128i crLo,
                  __m128i crHi, std::uint8_t* out, const Coefficients& k) {
  const __m128i yv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yRow));
  const __m128i yLo = _mm_sub_epi16(_mm_unpacklo_epi8(yv, k.zero), k.lumaBias);
  const __m128i yHi = _mm_sub_epi16(_mm_unpackhi_epi8(yv, k.zero), k.lumaBias);
  __m128i b0, g0, r0, b1, g1, r1;
  Pixels8(yLo, cbLo, crLo, k, b0, g0, r0);
  Pixels8(yHi, cbHi, crHi, k, b1, g1, r1);
  Store16(out, _mm_packus_epi16(b0, b1), _mm_packus_epi16(g0, g1), _mm_packus_epi16(r0, r1), k);
}

}  // namespace

namespace {
void RowPairSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                 const std::uint8_t* cr, std::uint8_t* out0, std::uint8_t* out1, int pairs) {
  const Coefficients k = MakeCoefficients();
  int j = 0;
  for (; j + 8 <= pairs; j += 8) {
    // 8 chroma samples serve 16 pixels of each row: duplicate each one for its two columns.
    const __m128i cbv = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + j)), k.zero),
        k.chromaBias);
    const __m128i crv = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + j)), k.zero),
        k.chromaBias);
    const __m128i cbLo = _mm_unpacklo_epi16(cbv, cbv), cbHi = _mm_unpackhi_epi16(cbv, cbv);
    const __m128i crLo = _mm_unpacklo_epi16(crv, crv), crHi = _mm_unpackhi_epi16(crv, crv);
    Row16(y0 + 2 * j, cbLo, cbHi, crLo, crHi, out0 + 6 * j, k);
    Row16(y1 + 2 * j, cbLo, cbHi, crLo, crHi, out1 + 6 * j, k);
  }
  if (j < pairs)
    RowPairScalar(y0 + 2 * j, y1 + 2 * j, cb + j, cr + j, out0 + 6 * j, out1 + 6 * j, pairs - j);
}

}  // namespace

void ConvertSse2(const Rows& rows) {
  for (int k = 0; k < rows.rowPairs; ++k) {
    const std::uint8_t* y0 = rows.y + 2 * k * rows.lumaStride;
    std::uint8_t* out0 = rows.out + 2 * k * rows.outStride;
    RowPairSse2(y0, y0 + rows.lumaStride, rows.cb + k * rows.chromaStride,
                  rows.cr + k * rows.chromaStride, out0, out0 + rows.outStride, rows.pairs);
  }
}

}  // namespace YuvConvert
