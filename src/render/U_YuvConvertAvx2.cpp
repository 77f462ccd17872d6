// AVX2 row-pair kernel of the YUV conversion, byte-exact with RowPairScalar.
//
// Each component is floor((L + C) / 1000) clamped to 0..255, with the luma term L = 1164 * Y
// and the chroma term C (the block's chroma products, minus 1164 * 16). Negative sums clamp to
// 0 whichever way the division rounds, so flooring equals the formula's truncation. Split both
// terms by 1000: L = 1000 Lq + Lr and C = 1000 Cq + Cr with remainders in 0..999; then
//   floor((L + C) / 1000) = Lq + Cq + (Lr + Cr >= 1000 ? 1 : 0) = Lq + Cq - (Lr > 999 - Cr),
// all in 16-bit lanes. The chroma split is made once per 2 x 2 block; the luma
// split per pixel: Lq = (2Y * 38142) >> 16 exactly for Y in 0..255, Lr = 1164 Y - 1000 Lq.
// Every split was checked against exact division for all of its inputs.
// Even and odd pixels of a row go to separate vectors, so lane j of every vector belongs to
// chroma sample j and the chroma terms are never duplicated.
#include <immintrin.h>

#include "U_YuvConvertKernels.h"

namespace YuvConvert {
namespace {

// Output bytes of 8 pixel pairs (48 bytes, 3 chunks of 16) gathered from three vectors that
// hold, per 128-bit lane: P1 = [blue even 0-7, green even 0-7], P2 = [red even, blue odd],
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

struct Constants {
  __m256i c18, c72, c277, c1596, c88, c223, c25600, c53248, cMinus391, cMinus813, c2488, c133;
  __m256i divMagic, c999, zero;
  __m256i lowByte, lumaMagic, c1164, thousand;
  __m256i shuffle[3][3];
};

inline Constants MakeConstants() {
  Constants k;
  k.c18 = _mm256_set1_epi16(18);
  k.c72 = _mm256_set1_epi16(72);
  k.c277 = _mm256_set1_epi16(277);
  k.c1596 = _mm256_set1_epi16(1596);
  k.c88 = _mm256_set1_epi16(88);
  k.c223 = _mm256_set1_epi16(223);
  k.c25600 = _mm256_set1_epi16(static_cast<short>(25600));
  k.c53248 = _mm256_set1_epi16(static_cast<short>(53248));
  k.cMinus391 = _mm256_set1_epi16(-391);
  k.cMinus813 = _mm256_set1_epi16(-813);
  k.c2488 = _mm256_set1_epi16(2488);
  k.c133 = _mm256_set1_epi16(133);
  k.divMagic = _mm256_set1_epi16(66);
  k.c999 = _mm256_set1_epi16(999);
  k.zero = _mm256_setzero_si256();
  k.lowByte = _mm256_set1_epi16(0x00FF);
  k.lumaMagic = _mm256_set1_epi16(static_cast<short>(38142));
  k.c1164 = _mm256_set1_epi16(1164);
  k.thousand = _mm256_set1_epi16(1000);
  // Keep the multipliers opaque: the compiler would otherwise turn each vector multiply by a
  // known constant into a longer chain of shifts and adds.
  __m256i* const multipliers[] = {&k.c18,      &k.c1596,   &k.c25600, &k.c53248,    &k.cMinus391,
                                  &k.cMinus813, &k.divMagic, &k.thousand, &k.lumaMagic, &k.c1164};
  for (__m256i* m : multipliers) __asm__("" : "+x"(*m));
  for (int c = 0; c < 3; ++c)
    for (int v = 0; v < 3; ++v)
      k.shuffle[c][v] = _mm256_broadcastsi128_si256(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(kShuffleMasks.m[c][v])));
  return k;
}

// Splits S (0..32767) by 1000: q = floor(S / 1000) and D = 999 - (S - 1000 q). The estimate
// (S * 66) >> 16 is q or q + 1; a negative remainder corrects it.
inline void Split(__m256i s, const Constants& k, __m256i& q, __m256i& d) {
  const __m256i q0 = _mm256_mulhi_epu16(s, k.divMagic);
  const __m256i r0 = _mm256_sub_epi16(s, _mm256_mullo_epi16(q0, k.thousand));
  const __m256i negative = _mm256_cmpgt_epi16(k.zero, r0);
  q = _mm256_add_epi16(q0, negative);
  d = _mm256_sub_epi16(_mm256_sub_epi16(k.c999, r0), _mm256_and_si256(negative, k.thousand));
}

struct Chroma {
  __m256i cqB, dB, cqG, dG, cqR, dR;
};

inline __m256i Component(__m256i lq, __m256i lr, __m256i cq, __m256i d) {
  return _mm256_sub_epi16(_mm256_add_epi16(lq, cq), _mm256_cmpgt_epi16(lr, d));
}

inline __m256i Chunk(int c, __m256i p1, __m256i p2, __m256i p3, const Constants& k) {
  return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(p1, k.shuffle[c][0]),
                                         _mm256_shuffle_epi8(p2, k.shuffle[c][1])),
                         _mm256_shuffle_epi8(p3, k.shuffle[c][2]));
}

// 32 pixels of one row.
inline void Row32(const std::uint8_t* yRow, const Chroma& ch, std::uint8_t* out, const Constants& k) {
  const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(yRow));
  const __m256i ye = _mm256_and_si256(y, k.lowByte), yo = _mm256_srli_epi16(y, 8);
  const __m256i lqE = _mm256_mulhi_epu16(_mm256_add_epi16(ye, ye), k.lumaMagic);
  const __m256i lqO = _mm256_mulhi_epu16(_mm256_add_epi16(yo, yo), k.lumaMagic);
  const __m256i lrE = _mm256_sub_epi16(_mm256_mullo_epi16(ye, k.c1164), _mm256_mullo_epi16(lqE, k.thousand));
  const __m256i lrO = _mm256_sub_epi16(_mm256_mullo_epi16(yo, k.c1164), _mm256_mullo_epi16(lqO, k.thousand));
  const __m256i p1 = _mm256_packus_epi16(Component(lqE, lrE, ch.cqB, ch.dB), Component(lqE, lrE, ch.cqG, ch.dG));
  const __m256i p2 = _mm256_packus_epi16(Component(lqE, lrE, ch.cqR, ch.dR), Component(lqO, lrO, ch.cqB, ch.dB));
  const __m256i p3 = _mm256_packus_epi16(Component(lqO, lrO, ch.cqG, ch.dG), Component(lqO, lrO, ch.cqR, ch.dR));
  const __m256i c0 = Chunk(0, p1, p2, p3, k), c1 = Chunk(1, p1, p2, p3, k), c2 = Chunk(2, p1, p2, p3, k);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(c0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm256_castsi256_si128(c1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm256_castsi256_si128(c2));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm256_extracti128_si256(c0, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 64), _mm256_extracti128_si256(c1, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 80), _mm256_extracti128_si256(c2, 1));
}

}  // namespace

void RowPairAvx2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                 const std::uint8_t* cr, std::uint8_t* out0, std::uint8_t* out1, int pairs) {
  const Constants k = MakeConstants();
  int j = 0;
  for (; j + 16 <= pairs; j += 16) {
    const __m256i u = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + j)));
    const __m256i v = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + j)));
    Chroma ch;
    __m256i q;
    // Blue: C = 2018 U - 276928 = 1000 (2U - 277) + S, S = 18 U + 72 in 72..4662.
    Split(_mm256_add_epi16(_mm256_mullo_epi16(u, k.c18), k.c72), k, q, ch.dB);
    ch.cqB = _mm256_add_epi16(_mm256_sub_epi16(_mm256_add_epi16(u, u), k.c277), q);
    // Red: C = 1596 V - 222912 = 1000 (A - 223) + S, A = floor(1.5 V), S in 88..25068
    // (computed modulo 2^16).
    const __m256i aR = _mm256_add_epi16(v, _mm256_srli_epi16(v, 1));
    Split(_mm256_add_epi16(_mm256_sub_epi16(_mm256_mullo_epi16(v, k.c1596), _mm256_mullo_epi16(aR, k.thousand)), k.c88),
          k, q, ch.dR);
    ch.cqR = _mm256_add_epi16(_mm256_sub_epi16(aR, k.c223), q);
    // Green: C = -391 U - 813 V + 135488 = 1000 (133 - h) + S, h = floor(100 U / 256) +
    // floor(208 V / 256), S in 360..2488.
    const __m256i h = _mm256_add_epi16(_mm256_mulhi_epu16(u, k.c25600), _mm256_mulhi_epu16(v, k.c53248));
    Split(_mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(u, k.cMinus391), _mm256_mullo_epi16(v, k.cMinus813)),
                           _mm256_add_epi16(_mm256_mullo_epi16(h, k.thousand), k.c2488)),
          k, q, ch.dG);
    ch.cqG = _mm256_add_epi16(_mm256_sub_epi16(k.c133, h), q);
    Row32(y0 + 2 * j, ch, out0 + 6 * j, k);
    Row32(y1 + 2 * j, ch, out1 + 6 * j, k);
  }
  _mm256_zeroupper();
  if (j < pairs)
    RowPairScalar(y0 + 2 * j, y1 + 2 * j, cb + j, cr + j, out0 + 6 * j, out1 + 6 * j, pairs - j);
}

}  // namespace YuvConvert
