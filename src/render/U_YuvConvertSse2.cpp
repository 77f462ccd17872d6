// SSE2 kernel of the YUV conversion, byte-exact with RowPairScalar.
//
// The arithmetic is that of the AVX-512 kernel (see U_YuvConvertAvx512.cpp): per component
// Lq + H + (F > ~G), with the pixel words Lq, F of Y * 76284 and the block words H, G; as in
// the AVX2 kernel, F and ~G are kept with their top bit flipped so that a signed comparison
// gives the unsigned one. 8 pixel pairs of both rows of a row pair per step, pixels in their
// order (each block word taken twice); rows end with a step that overlaps the one before, and
// rows of fewer than 8 pairs are done by the scalar formula.
#include <emmintrin.h>

#include "U_YuvConvertBlocks.h"

namespace YuvConvert {
namespace {

using Words = BlockWords<Ops128>;
using Chroma = BlockChroma<Ops128>;

struct Constants : BlockConstants<Ops128> {
  __m128i zero;
};

inline Constants MakeConstants() {
  Constants k;
  static_cast<BlockConstants<Ops128>&>(k) = MakeBlockConstants<Ops128>();
  k.zero = _mm_setzero_si128();
  return k;
}

// The block words of blocks 0-3 and of blocks 4-7, each taken twice (for the block's two
// pixels in a row).
struct PixelWords {
  Words lo, hi;
};

inline PixelWords Spread(const Words& w) {
  PixelWords p;
  p.lo.h = _mm_unpacklo_epi16(w.h, w.h);
  p.lo.notG = _mm_unpacklo_epi16(w.notG, w.notG);
  p.hi.h = _mm_unpackhi_epi16(w.h, w.h);
  p.hi.notG = _mm_unpackhi_epi16(w.notG, w.notG);
  return p;
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
inline void Store16(std::uint8_t* out, __m128i b, __m128i g, __m128i r, const Constants& k) {
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

// 16 pixels of one row.
inline void Row16(const std::uint8_t* yRow, const PixelWords& blue, const PixelWords& green, const PixelWords& red,
                  std::uint8_t* out, const Constants& k) {
  const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yRow));
  const __m128i yLo = _mm_unpacklo_epi8(y, k.zero), yHi = _mm_unpackhi_epi8(y, k.zero);
  const __m128i lqLo = _mm_add_epi16(_mm_mulhi_epu16(yLo, k.lumaFraction), yLo);
  const __m128i lqHi = _mm_add_epi16(_mm_mulhi_epu16(yHi, k.lumaFraction), yHi);
  const __m128i fLo = _mm_xor_si128(_mm_mullo_epi16(yLo, k.lumaFraction), k.topBit);
  const __m128i fHi = _mm_xor_si128(_mm_mullo_epi16(yHi, k.lumaFraction), k.topBit);
  Store16(out, _mm_packus_epi16(Component<Ops128>(lqLo, fLo, blue.lo), Component<Ops128>(lqHi, fHi, blue.hi)),
          _mm_packus_epi16(Component<Ops128>(lqLo, fLo, green.lo), Component<Ops128>(lqHi, fHi, green.hi)),
          _mm_packus_epi16(Component<Ops128>(lqLo, fLo, red.lo), Component<Ops128>(lqHi, fHi, red.hi)), k);
}

// 8 pixel pairs of a row pair from pair j.
inline void Step(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb, const std::uint8_t* cr,
                 std::uint8_t* out0, std::uint8_t* out1, int j, const Constants& k) {
  const Chroma ch = ChromaOf<Ops128>(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + j)), k.zero),
                             _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + j)), k.zero), k);
  const PixelWords blue = Spread(ch.blue), green = Spread(ch.green), red = Spread(ch.red);
  Row16(y0 + 2 * j, blue, green, red, out0 + 6 * j, k);
  Row16(y1 + 2 * j, blue, green, red, out1 + 6 * j, k);
}

}  // namespace

void ConvertSse2(const Rows& rows) {
  const Constants k = MakeConstants();
  ConvertRowPairs<8>(rows, [&](const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                               const std::uint8_t* cr, std::uint8_t* out0, std::uint8_t* out1,
                               int j) { Step(y0, y1, cb, cr, out0, out1, j, k); });
}

}  // namespace YuvConvert
