// SSSE3 kernel of the YUV conversion, byte-exact with RowPairScalar: the AVX2 kernel (see
// U_YuvConvertAvx2.cpp) on 128-bit registers, for processors without AVX2. The arithmetic is
// SSE2; byte shuffles (SSSE3) do the blue-green-red interleave, which costs the SSE2 kernel
// most of its time.
//
// 8 pixel pairs of both rows of a row pair per step; even and odd pixels in separate vectors.
// Rows end with a step that overlaps the one before; rows of fewer than 8 pairs are done by the
// scalar formula.
#include <tmmintrin.h>

#include "U_YuvConvertKernels.h"

namespace YuvConvert {
namespace {

// Output bytes of 8 pixel pairs (48 bytes, 3 chunks of 16) gathered from three vectors that
// hold: P1 = [blue even 0-7, green even 0-7], P2 = [red even, blue odd],
// P3 = [green odd, red odd].
struct ShuffleMasks {
  signed char m[3][3][16];  // [chunk][source vector][byte]
};

constexpr ShuffleMasks MakeShuffleMasks() {
  ShuffleMasks s{};
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < 16; ++k) {
      const int n = 16 * c + k, pair = n / 6, slot = n % 6;  // slot: Be Ge Re Bo Go Ro
      const int source = slot / 2, offset = (slot % 2) * 8 + pair;
      for (int v = 0; v < 3; ++v) s.m[c][v][k] = static_cast<signed char>(v == source ? offset : -128);
    }
  return s;
}

constexpr ShuffleMasks kShuffleMasks = MakeShuffleMasks();

inline __m128i Set(int value) { return _mm_set1_epi16(static_cast<short>(value)); }

struct Constants {
  __m128i lowByte, lumaFraction, topBit, ones;
  __m128i c4, c285, cMinus1180, c23069, c1180, c32766;                // blue
  __m128i c39059, c29885, c5769, c223;                                // red
  __m128i c1000, cMinus65, c35128, c33555;                             // green
  __m128i c25600, c53248, cMinus391, cMinus813, c2488, c133;
  __m128i shuffle[3][3];
};

inline Constants MakeConstants() {
  Constants k;
  k.lowByte = Set(0x00FF);
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
  __m128i* const multipliers[] = {&k.lumaFraction, &k.cMinus1180, &k.c23069,  &k.c1180,   &k.c39059,
                                  &k.c29885,       &k.c1000,      &k.cMinus65, &k.c35128,  &k.c33555,
                                  &k.c25600,       &k.c53248,     &k.cMinus391, &k.cMinus813};
  for (__m128i* m : multipliers) __asm__("" : "+x"(*m));
  for (int c = 0; c < 3; ++c)
    for (int v = 0; v < 3; ++v)
      k.shuffle[c][v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kShuffleMasks.m[c][v]));
  return k;
}

// Block words of one component: H, and ~G with its top bit flipped.
struct Words {
  __m128i h, notG;
};

struct Chroma {
  Words blue, green, red;
};

// The block words of a component from K = 1000 A + S, 0 <= S < 32768 (see the AVX-512 kernel).
inline Words FromRemainder(__m128i a, __m128i s, const Constants& k) {
  Words w;
  w.h = _mm_add_epi16(a, _mm_srli_epi16(_mm_mulhi_epu16(s, k.c33555), 9));
  w.notG = _mm_add_epi16(_mm_sub_epi16(_mm_mullo_epi16(s, k.cMinus65), _mm_mulhi_epu16(s, k.c35128)),
                            k.c32766);
  return w;
}

inline Chroma ChromaOf(__m128i u, __m128i v, const Constants& k) {
  Chroma ch;
  // Blue, as in the AVX-512 kernel.
  const __m128i u4 = _mm_add_epi16(u, k.c4);
  ch.blue.h = _mm_add_epi16(_mm_sub_epi16(_mm_add_epi16(u4, u4), k.c285), _mm_mulhi_epu16(u4, k.c1180));
  ch.blue.notG = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(u4, k.cMinus1180), _mm_mulhi_epu16(u4, k.c23069)),
                                  k.c32766);
  // Red: G = low + floor(V * 29885 / 65536) + 5769 with low = 39059 V modulo 65536, and its
  // carry (G < low, compared with both top bits flipped; flipping low flips G).
  const __m128i lowFlipped = _mm_xor_si128(_mm_mullo_epi16(v, k.c39059), k.topBit);
  const __m128i gFlipped = _mm_add_epi16(_mm_add_epi16(lowFlipped, _mm_mulhi_epu16(v, k.c29885)),
                                            k.c5769);
  const __m128i carry = _mm_cmpgt_epi16(lowFlipped, gFlipped);  // -1 or 0
  ch.red.h = _mm_sub_epi16(_mm_add_epi16(_mm_sub_epi16(v, k.c223), _mm_mulhi_epu16(v, k.c39059)), carry);
  ch.red.notG = _mm_xor_si128(gFlipped, k.ones);
  // Green, as in the AVX-512 kernel.
  const __m128i h = _mm_add_epi16(_mm_mulhi_epu16(u, k.c25600), _mm_mulhi_epu16(v, k.c53248));
  ch.green = FromRemainder(
      _mm_sub_epi16(k.c133, h),
      _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(u, k.cMinus391), _mm_mullo_epi16(v, k.cMinus813)),
                       _mm_add_epi16(_mm_mullo_epi16(h, k.c1000), k.c2488)),
      k);
  return ch;
}

inline __m128i Component(__m128i lq, __m128i fFlipped, const Words& w) {
  return _mm_sub_epi16(_mm_add_epi16(lq, w.h), _mm_cmpgt_epi16(fFlipped, w.notG));
}

inline __m128i Chunk(int c, __m128i p1, __m128i p2, __m128i p3, const Constants& k) {
  return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(p1, k.shuffle[c][0]),
                                         _mm_shuffle_epi8(p2, k.shuffle[c][1])),
                         _mm_shuffle_epi8(p3, k.shuffle[c][2]));
}

// 16 pixels of one row.
inline void Row16(const std::uint8_t* yRow, const Chroma& ch, std::uint8_t* out, const Constants& k) {
  const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yRow));
  const __m128i ye = _mm_and_si128(y, k.lowByte), yo = _mm_srli_epi16(y, 8);
  const __m128i lqE = _mm_add_epi16(_mm_mulhi_epu16(ye, k.lumaFraction), ye);
  const __m128i lqO = _mm_add_epi16(_mm_mulhi_epu16(yo, k.lumaFraction), yo);
  const __m128i fE = _mm_xor_si128(_mm_mullo_epi16(ye, k.lumaFraction), k.topBit);
  const __m128i fO = _mm_xor_si128(_mm_mullo_epi16(yo, k.lumaFraction), k.topBit);
  const __m128i p1 = _mm_packus_epi16(Component(lqE, fE, ch.blue), Component(lqE, fE, ch.green));
  const __m128i p2 = _mm_packus_epi16(Component(lqE, fE, ch.red), Component(lqO, fO, ch.blue));
  const __m128i p3 = _mm_packus_epi16(Component(lqO, fO, ch.green), Component(lqO, fO, ch.red));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), Chunk(0, p1, p2, p3, k));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), Chunk(1, p1, p2, p3, k));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), Chunk(2, p1, p2, p3, k));
}

// 8 pixel pairs of a row pair from pair j.
inline void Step(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb, const std::uint8_t* cr,
                 std::uint8_t* out0, std::uint8_t* out1, int j, const Constants& k) {
  const __m128i zero = _mm_setzero_si128();
  const Chroma ch = ChromaOf(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + j)), zero),
                             _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + j)), zero), k);
  Row16(y0 + 2 * j, ch, out0 + 6 * j, k);
  Row16(y1 + 2 * j, ch, out1 + 6 * j, k);
}

}  // namespace

void ConvertSsse3(const Rows& rows) {
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
