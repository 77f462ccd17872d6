// AVX-512 (BW + VBMI) row-pair kernel of the YUV conversion, byte-exact with RowPairScalar:
// the arithmetic of the AVX2 kernel (see U_YuvConvertAvx2.cpp) on 64 pixels at a time, with
// the blue-green-red interleave done by byte permutes across whole registers, and the rest of
// a row done with masked loads and stores.
#include <immintrin.h>

#include <cstring>

#include "U_YuvConvertKernels.h"

namespace YuvConvert {
namespace {

// Output byte k of register c (n = 64c + k: pixel pair n/6, slot n%6 = Be Ge Re Bo Go Ro) is
// byte 16L + (slot%2)*8 + p of source slot/2, for pair 8L + p: the packs put, per 128-bit
// lane, P1 = [blue even, green even], P2 = [red even, blue odd], P3 = [green odd, red odd].
// P1 and P2 bytes come from one two-source permute; the P3 bytes are merged in under a mask.
struct Permutes {
  unsigned char fromP1P2[3][64];
  unsigned char fromP3[3][64];
  unsigned long long p3Mask[3];
};

constexpr Permutes MakePermutes() {
  Permutes s{};
  for (int c = 0; c < 3; ++c) {
    s.p3Mask[c] = 0;
    for (int k = 0; k < 64; ++k) {
      const int n = 64 * c + k, pair = n / 6, slot = n % 6, source = slot / 2;
      const int index = 16 * (pair / 8) + (slot % 2) * 8 + pair % 8;
      s.fromP1P2[c][k] = static_cast<unsigned char>(source == 1 ? 64 + index : index);
      s.fromP3[c][k] = static_cast<unsigned char>(index);
      if (source == 2) s.p3Mask[c] |= 1ull << k;
    }
  }
  return s;
}

constexpr Permutes kPermutes = MakePermutes();

struct Constants {
  __m512i c18, c72, c277, c1596, c88, c223, c25600, c53248, cMinus391, cMinus813, c2488, c133;
  __m512i divMagic, c999, thousand, lowByte, lumaMagic, c1164;
  __m512i fromP1P2[3], fromP3[3];
  __mmask64 p3Mask[3];
};

inline Constants MakeConstants() {
  Constants k;
  k.c18 = _mm512_set1_epi16(18);
  k.c72 = _mm512_set1_epi16(72);
  k.c277 = _mm512_set1_epi16(277);
  k.c1596 = _mm512_set1_epi16(1596);
  k.c88 = _mm512_set1_epi16(88);
  k.c223 = _mm512_set1_epi16(223);
  k.c25600 = _mm512_set1_epi16(static_cast<short>(25600));
  k.c53248 = _mm512_set1_epi16(static_cast<short>(53248));
  k.cMinus391 = _mm512_set1_epi16(-391);
  k.cMinus813 = _mm512_set1_epi16(-813);
  k.c2488 = _mm512_set1_epi16(2488);
  k.c133 = _mm512_set1_epi16(133);
  k.divMagic = _mm512_set1_epi16(66);
  k.c999 = _mm512_set1_epi16(999);
  k.thousand = _mm512_set1_epi16(1000);
  k.lowByte = _mm512_set1_epi16(0x00FF);
  k.lumaMagic = _mm512_set1_epi16(static_cast<short>(38142));
  k.c1164 = _mm512_set1_epi16(1164);
  // Keep the multipliers opaque: the compiler would otherwise turn each vector multiply by a
  // known constant into a longer chain of shifts and adds.
  __m512i* const multipliers[] = {&k.c18,      &k.c1596,   &k.c25600, &k.c53248,    &k.cMinus391,
                                  &k.cMinus813, &k.divMagic, &k.thousand, &k.lumaMagic, &k.c1164};
  for (__m512i* m : multipliers) __asm__("" : "+v"(*m));
  for (int c = 0; c < 3; ++c) {
    k.fromP1P2[c] = _mm512_loadu_si512(kPermutes.fromP1P2[c]);
    k.fromP3[c] = _mm512_loadu_si512(kPermutes.fromP3[c]);
    k.p3Mask[c] = static_cast<__mmask64>(kPermutes.p3Mask[c]);
  }
  return k;
}

// S (0..32767) split by 1000: q and D = 999 - remainder (see the AVX2 kernel).
inline void Split(__m512i s, const Constants& k, __m512i& q, __m512i& d) {
  const __m512i q0 = _mm512_mulhi_epu16(s, k.divMagic);
  const __m512i r0 = _mm512_sub_epi16(s, _mm512_mullo_epi16(q0, k.thousand));
  const __mmask32 negative = _mm512_movepi16_mask(r0);
  q = _mm512_mask_sub_epi16(q0, negative, q0, _mm512_set1_epi16(1));
  d = _mm512_mask_sub_epi16(_mm512_sub_epi16(k.c999, r0), negative, _mm512_sub_epi16(k.c999, r0), k.thousand);
}

struct Chroma {
  __m512i cqB, dB, cqG, dG, cqR, dR;
};

inline __m512i Component(__m512i lq, __m512i lr, __m512i cq, __m512i d) {
  // Lq + Cq, plus one where Lr > D.
  const __m512i sum = _mm512_add_epi16(lq, cq);
  return _mm512_mask_add_epi16(sum, _mm512_cmpgt_epi16_mask(lr, d), sum, _mm512_set1_epi16(1));
}

// Mask of the first n bytes (0..64).
inline __mmask64 FirstBytes(int n) {
  return n >= 64 ? static_cast<__mmask64>(~0ull) : static_cast<__mmask64>((1ull << n) - 1);
}

// `pairs` (1..32) pixel pairs of one row; bytes beyond them are neither read nor written.
inline void Row64(const std::uint8_t* yRow, const Chroma& ch, std::uint8_t* out, int pairs, const Constants& k) {
  const __m512i y = pairs == 32 ? _mm512_loadu_si512(yRow) : _mm512_maskz_loadu_epi8(FirstBytes(2 * pairs), yRow);
  const __m512i ye = _mm512_and_si512(y, k.lowByte), yo = _mm512_srli_epi16(y, 8);
  const __m512i lqE = _mm512_mulhi_epu16(_mm512_add_epi16(ye, ye), k.lumaMagic);
  const __m512i lqO = _mm512_mulhi_epu16(_mm512_add_epi16(yo, yo), k.lumaMagic);
  const __m512i lrE = _mm512_sub_epi16(_mm512_mullo_epi16(ye, k.c1164), _mm512_mullo_epi16(lqE, k.thousand));
  const __m512i lrO = _mm512_sub_epi16(_mm512_mullo_epi16(yo, k.c1164), _mm512_mullo_epi16(lqO, k.thousand));
  const __m512i p1 = _mm512_packus_epi16(Component(lqE, lrE, ch.cqB, ch.dB), Component(lqE, lrE, ch.cqG, ch.dG));
  const __m512i p2 = _mm512_packus_epi16(Component(lqE, lrE, ch.cqR, ch.dR), Component(lqO, lrO, ch.cqB, ch.dB));
  const __m512i p3 = _mm512_packus_epi16(Component(lqO, lrO, ch.cqG, ch.dG), Component(lqO, lrO, ch.cqR, ch.dR));
  for (int c = 0; c < 3; ++c) {
    const __m512i t = _mm512_permutex2var_epi8(p1, k.fromP1P2[c], p2);
    const __m512i bytes = _mm512_mask_permutexvar_epi8(t, k.p3Mask[c], k.fromP3[c], p3);
    if (pairs == 32) {
      _mm512_storeu_si512(out + 64 * c, bytes);
    } else {
      const int left = 6 * pairs - 64 * c;
      if (left > 0) _mm512_mask_storeu_epi8(out + 64 * c, FirstBytes(left), bytes);
    }
  }
}

inline Chroma ChromaOf(const std::uint8_t* cb, const std::uint8_t* cr, int pairs, const Constants& k) {
  __m256i cbBytes, crBytes;
  if (pairs == 32) {
    cbBytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cb));
    crBytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cr));
  } else {
    std::uint8_t part[2][32] = {};
    std::memcpy(part[0], cb, static_cast<std::size_t>(pairs));
    std::memcpy(part[1], cr, static_cast<std::size_t>(pairs));
    cbBytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(part[0]));
    crBytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(part[1]));
  }
  const __m512i u = _mm512_cvtepu8_epi16(cbBytes);
  const __m512i v = _mm512_cvtepu8_epi16(crBytes);
  Chroma ch;
  __m512i q;
  Split(_mm512_add_epi16(_mm512_mullo_epi16(u, k.c18), k.c72), k, q, ch.dB);
  ch.cqB = _mm512_add_epi16(_mm512_sub_epi16(_mm512_add_epi16(u, u), k.c277), q);
  const __m512i aR = _mm512_add_epi16(v, _mm512_srli_epi16(v, 1));
  Split(_mm512_add_epi16(_mm512_sub_epi16(_mm512_mullo_epi16(v, k.c1596), _mm512_mullo_epi16(aR, k.thousand)), k.c88),
        k, q, ch.dR);
  ch.cqR = _mm512_add_epi16(_mm512_sub_epi16(aR, k.c223), q);
  const __m512i h = _mm512_add_epi16(_mm512_mulhi_epu16(u, k.c25600), _mm512_mulhi_epu16(v, k.c53248));
  Split(_mm512_add_epi16(_mm512_add_epi16(_mm512_mullo_epi16(u, k.cMinus391), _mm512_mullo_epi16(v, k.cMinus813)),
                         _mm512_add_epi16(_mm512_mullo_epi16(h, k.thousand), k.c2488)),
        k, q, ch.dG);
  ch.cqG = _mm512_add_epi16(_mm512_sub_epi16(k.c133, h), q);
  return ch;
}

}  // namespace

void RowPairAvx512(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                   const std::uint8_t* cr, std::uint8_t* out0, std::uint8_t* out1, int pairs) {
  const Constants k = MakeConstants();
  // The last, partial step uses masked loads and stores: no scalar tail.
  for (int j = 0; j < pairs; j += 32) {
    const int step = pairs - j < 32 ? pairs - j : 32;
    const Chroma ch = ChromaOf(cb + j, cr + j, step, k);
    Row64(y0 + 2 * j, ch, out0 + 6 * j, step, k);
    Row64(y1 + 2 * j, ch, out1 + 6 * j, step, k);
  }
  _mm256_zeroupper();
}

}  // namespace YuvConvert
