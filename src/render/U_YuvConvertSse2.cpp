// SSE2 kernel of the YUV conversion, byte-exact with RowPairScalar.
//
// The arithmetic is that of the AVX-512 kernel (see U_YuvConvertAvx512.cpp): per component
// Lq + H + (F > ~G), with the pixel words Lq, F of Y * 76284 and the block words H, G; as in
// the AVX2 kernel, F and ~G are kept with their top bit flipped so that a signed comparison
// gives the unsigned one. 8 pixel pairs of both rows of a row pair per step, pixels in their
// order (each block word taken twice); rows end with a step that overlaps the one before, and
// rows of fewer than 8 pairs are done by the scalar formula.
#include <emmintrin.h>

#include "U_YuvConvertKernels.h"

namespace YuvConvert {
namespace {

inline __m128i Set(int value) { return _mm_set1_epi16(static_cast<short>(value)); }

struct Constants {
  __m128i zero, lumaFraction, topBit, ones;
  __m128i c4, c285, cMinus1180, c23069, c1180, c32766;   // blue
  __m128i c39059, c29885, c5769, c223;                   // red
  __m128i c1000, cMinus65, c35128, c33555;               // green
  __m128i c25600, c53248, cMinus391, cMinus813, c2488, c133;
};

inline Constants MakeConstants() {
  Constants k;
  k.zero = _mm_setzero_si128();
  k.lumaFraction = Set(10748);
  k.topBit = Set(0x8000);
  k.ones = Set(-1);
  k.c4 = Set(4);
  k.c285 = Set(285);
  k.cMinus1180 = Set(-1180);
  k.c23069 = Set(23069);
  k.c1180 = Set(1180);
  k.c32766 = Set(32766);  // -2 with the top bit flipped
  k.c39059 = Set(39059);
  k.c29885 = Set(29885);
  k.c5769 = Set(5769);
  k.c223 = Set(223);
  k.c1000 = Set(1000);
  k.cMinus65 = Set(-65);
  k.c35128 = Set(35128);
  k.c33555 = Set(33555);
  k.c25600 = Set(25600);
  k.c53248 = Set(53248);
  k.cMinus391 = Set(-391);
  k.cMinus813 = Set(-813);
  k.c2488 = Set(2488);
  k.c133 = Set(133);
  // Keep the multipliers opaque: the compiler would otherwise turn each vector multiply by a
  // known constant into a longer chain of shifts and adds.
  __m128i* const multipliers[] = {&k.lumaFraction, &k.cMinus1180, &k.c23069,   &k.c1180,    &k.c39059,
                                  &k.c29885,       &k.c1000,      &k.cMinus65,  &k.c35128,   &k.c33555,
                                  &k.c25600,       &k.c53248,     &k.cMinus391, &k.cMinus813};
  for (__m128i* m : multipliers) __asm__("" : "+x"(*m));
  return k;
}

// Block words of one component: H, and ~G with its top bit flipped.
struct Words {
  __m128i h, notG;
};

struct Chroma {
  Words blue, green, red;
};

inline Words FromRemainder(__m128i a, __m128i s, const Constants& k) {
  Words w;
  w.h = _mm_add_epi16(a, _mm_srli_epi16(_mm_mulhi_epu16(s, k.c33555), 9));
  w.notG = _mm_add_epi16(_mm_sub_epi16(_mm_mullo_epi16(s, k.cMinus65), _mm_mulhi_epu16(s, k.c35128)), k.c32766);
  return w;
}

// Block words of 8 blocks (u, v: their chroma samples as words), as in the AVX2 kernel.
inline Chroma ChromaOf(__m128i u, __m128i v, const Constants& k) {
  Chroma ch;
  const __m128i u4 = _mm_add_epi16(u, k.c4);
  ch.blue.h = _mm_add_epi16(_mm_sub_epi16(_mm_add_epi16(u4, u4), k.c285), _mm_mulhi_epu16(u4, k.c1180));
  ch.blue.notG = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(u4, k.cMinus1180), _mm_mulhi_epu16(u4, k.c23069)),
                               k.c32766);
  const __m128i lowFlipped = _mm_xor_si128(_mm_mullo_epi16(v, k.c39059), k.topBit);
  const __m128i gFlipped = _mm_add_epi16(_mm_add_epi16(lowFlipped, _mm_mulhi_epu16(v, k.c29885)), k.c5769);
  const __m128i carry = _mm_cmpgt_epi16(lowFlipped, gFlipped);  // -1 or 0
  ch.red.h = _mm_sub_epi16(_mm_add_epi16(_mm_sub_epi16(v, k.c223), _mm_mulhi_epu16(v, k.c39059)), carry);
  ch.red.notG = _mm_xor_si128(gFlipped, k.ones);
  const __m128i h = _mm_add_epi16(_mm_mulhi_epu16(u, k.c25600), _mm_mulhi_epu16(v, k.c53248));
  ch.green = FromRemainder(
      _mm_sub_epi16(k.c133, h),
      _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(u, k.cMinus391), _mm_mullo_epi16(v, k.cMinus813)),
                    _mm_add_epi16(_mm_mullo_epi16(h, k.c1000), k.c2488)),
      k);
  return ch;
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

inline __m128i Component(__m128i lq, __m128i fFlipped, const Words& w) {
  return _mm_sub_epi16(_mm_add_epi16(lq, w.h), _mm_cmpgt_epi16(fFlipped, w.notG));
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
  Store16(out, _mm_packus_epi16(Component(lqLo, fLo, blue.lo), Component(lqHi, fHi, blue.hi)),
          _mm_packus_epi16(Component(lqLo, fLo, green.lo), Component(lqHi, fHi, green.hi)),
          _mm_packus_epi16(Component(lqLo, fLo, red.lo), Component(lqHi, fHi, red.hi)), k);
}

// 8 pixel pairs of a row pair from pair j.
inline void Step(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb, const std::uint8_t* cr,
                 std::uint8_t* out0, std::uint8_t* out1, int j, const Constants& k) {
  const Chroma ch = ChromaOf(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + j)), k.zero),
                             _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + j)), k.zero), k);
  const PixelWords blue = Spread(ch.blue), green = Spread(ch.green), red = Spread(ch.red);
  Row16(y0 + 2 * j, blue, green, red, out0 + 6 * j, k);
  Row16(y1 + 2 * j, blue, green, red, out1 + 6 * j, k);
}

}  // namespace

void ConvertSse2(const Rows& rows) {
  const Constants k = MakeConstants();
  const int pairs = rows.pairs;
  for (int n = 0; n < rows.rowPairs; ++n) {
    const std::uint8_t* y0 = rows.y + 2 * n * rows.lumaStride;
    const std::uint8_t* y1 = y0 + rows.lumaStride;
    const std::uint8_t* cb = rows.cb + n * rows.chromaStride;
    const std::uint8_t* cr = rows.cr + n * rows.chromaStride;
    std::uint8_t* out0 = rows.out + 2 * n * rows.outStride;
    std::uint8_t* out1 = out0 + rows.outStride;
    if (pairs < 8) {
      RowPairScalar(y0, y1, cb, cr, out0, out1, pairs);
      continue;
    }
    int j = 0;
    for (; j + 8 <= pairs; j += 8) Step(y0, y1, cb, cr, out0, out1, j, k);
    if (j < pairs) Step(y0, y1, cb, cr, out0, out1, pairs - 8, k);
  }
}

}  // namespace YuvConvert
