// The block arithmetic shared by the SSE2, SSSE3 and AVX2 kernels of the YUV conversion, written
// once over a register width. Each kernel gives a small table of its word operations (V below)
// and keeps its own loads, pixel order and stores.
//
// Per component, as in the AVX-512 kernel (see U_YuvConvertAvx512.cpp): Lq + H + (F > ~G), with
// the pixel words Lq, F of Y * 76284 and the block words H, G. These widths compare only signed
// words, so F and ~G are both kept with their top bit flipped (x ^ 0x8000), which turns the
// unsigned comparison into a signed one; the flip is folded into the block constants.
//
// Everything here has internal linkage on purpose: each kernel unit is compiled with its own
// instruction-set flags, so the code one unit makes of these templates must never be shared with
// another (a 128-bit operation compiled for AVX2 is VEX-encoded and would fault on an SSE2-only
// processor).
//
// V provides: using Vec; Set(int); Add, Sub, MulHi (unsigned high words), MulLo, Xor, CmpGt
// (signed, -1 or 0) and Srli9 (logical shift right by 9) on words.
#pragma once

#include <emmintrin.h>

#include "U_YuvConvertKernels.h"

namespace YuvConvert {
namespace {

// The word operations of 128-bit registers (SSE2), for the SSE2 and SSSE3 kernels.
struct Ops128 {
  using Vec = __m128i;
  static Vec Set(int value) { return _mm_set1_epi16(static_cast<short>(value)); }
  static Vec Add(Vec a, Vec b) { return _mm_add_epi16(a, b); }
  static Vec Sub(Vec a, Vec b) { return _mm_sub_epi16(a, b); }
  static Vec MulHi(Vec a, Vec b) { return _mm_mulhi_epu16(a, b); }
  static Vec MulLo(Vec a, Vec b) { return _mm_mullo_epi16(a, b); }
  static Vec Xor(Vec a, Vec b) { return _mm_xor_si128(a, b); }
  static Vec CmpGt(Vec a, Vec b) { return _mm_cmpgt_epi16(a, b); }
  static Vec Srli9(Vec a) { return _mm_srli_epi16(a, 9); }
};

template <class V>
struct BlockConstants {
  using Vec = typename V::Vec;
  Vec lumaFraction, topBit, ones;
  Vec c4, c285, cMinus1180, c23069, c1180, c32766;  // blue
  Vec c39059, c29885, c5769, c223;                  // red
  Vec c1000, cMinus65, c35128, c33555;              // green
  Vec c25600, c53248, cMinus391, cMinus813, c2488, c133;
};

template <class V>
inline BlockConstants<V> MakeBlockConstants() {
  BlockConstants<V> k;
  k.lumaFraction = V::Set(10748);
  k.topBit = V::Set(0x8000);
  k.ones = V::Set(-1);
  k.c4 = V::Set(4);
  k.c285 = V::Set(285);
  k.cMinus1180 = V::Set(-1180);
  k.c23069 = V::Set(23069);
  k.c1180 = V::Set(1180);
  k.c32766 = V::Set(32766);  // -2 with the top bit flipped
  k.c39059 = V::Set(39059);
  k.c29885 = V::Set(29885);
  k.c5769 = V::Set(5769);
  k.c223 = V::Set(223);
  k.c1000 = V::Set(1000);
  k.cMinus65 = V::Set(-65);
  k.c35128 = V::Set(35128);
  k.c33555 = V::Set(33555);
  k.c25600 = V::Set(25600);
  k.c53248 = V::Set(53248);
  k.cMinus391 = V::Set(-391);
  k.cMinus813 = V::Set(-813);
  k.c2488 = V::Set(2488);
  k.c133 = V::Set(133);
  // Keep the multipliers opaque: the compiler would otherwise turn each vector multiply by a
  // known constant into a longer chain of shifts and adds.
  typename V::Vec* const multipliers[] = {&k.lumaFraction, &k.cMinus1180, &k.c23069,   &k.c1180,    &k.c39059,
                                          &k.c29885,       &k.c1000,      &k.cMinus65,  &k.c35128,   &k.c33555,
                                          &k.c25600,       &k.c53248,     &k.cMinus391, &k.cMinus813};
  for (typename V::Vec* m : multipliers) __asm__("" : "+x"(*m));
  return k;
}

// Block words of one component: H, and ~G with its top bit flipped.
template <class V>
struct BlockWords {
  typename V::Vec h, notG;
};

template <class V>
struct BlockChroma {
  BlockWords<V> blue, green, red;
};

// The block words of a component from K = 1000 A + S, 0 <= S < 32768.
template <class V>
inline BlockWords<V> FromRemainder(typename V::Vec a, typename V::Vec s, const BlockConstants<V>& k) {
  BlockWords<V> w;
  w.h = V::Add(a, V::Srli9(V::MulHi(s, k.c33555)));
  w.notG = V::Add(V::Sub(V::MulLo(s, k.cMinus65), V::MulHi(s, k.c35128)), k.c32766);
  return w;
}

// Block words of a register of blocks (u, v: their chroma samples as words).
template <class V>
inline BlockChroma<V> ChromaOf(typename V::Vec u, typename V::Vec v, const BlockConstants<V>& k) {
  using Vec = typename V::Vec;
  BlockChroma<V> ch;
  // Blue, as in the AVX-512 kernel.
  const Vec u4 = V::Add(u, k.c4);
  ch.blue.h = V::Add(V::Sub(V::Add(u4, u4), k.c285), V::MulHi(u4, k.c1180));
  ch.blue.notG = V::Add(V::Add(V::MulLo(u4, k.cMinus1180), V::MulHi(u4, k.c23069)), k.c32766);
  // Red: G = low + floor(V * 29885 / 65536) + 5769 with low = 39059 V modulo 65536, and its
  // carry (G < low, compared with both top bits flipped; flipping low flips G).
  const Vec lowFlipped = V::Xor(V::MulLo(v, k.c39059), k.topBit);
  const Vec gFlipped = V::Add(V::Add(lowFlipped, V::MulHi(v, k.c29885)), k.c5769);
  const Vec carry = V::CmpGt(lowFlipped, gFlipped);  // -1 or 0
  ch.red.h = V::Sub(V::Add(V::Sub(v, k.c223), V::MulHi(v, k.c39059)), carry);
  ch.red.notG = V::Xor(gFlipped, k.ones);
  // Green, as in the AVX-512 kernel.
  const Vec h = V::Add(V::MulHi(u, k.c25600), V::MulHi(v, k.c53248));
  ch.green = FromRemainder<V>(V::Sub(k.c133, h),
                              V::Add(V::Add(V::MulLo(u, k.cMinus391), V::MulLo(v, k.cMinus813)),
                                     V::Add(V::MulLo(h, k.c1000), k.c2488)),
                              k);
  return ch;
}

// One component of a register of pixels from their words Lq, F (F with its top bit flipped).
template <class V>
inline typename V::Vec Component(typename V::Vec lq, typename V::Vec fFlipped, const BlockWords<V>& w) {
  return V::Sub(V::Add(lq, w.h), V::CmpGt(fFlipped, w.notG));
}

// Every row pair of the rows: Step(y0, y1, cb, cr, out0, out1, j) converts PairsPerStep pixel
// pairs from pair j; a row ends with a step that overlaps the one before, and rows of fewer
// pairs than a step are done by the scalar formula.
template <int PairsPerStep, class StepFn>
inline void ConvertRowPairs(const Rows& rows, StepFn&& Step) {
  const int pairs = rows.pairs;
  for (int n = 0; n < rows.rowPairs; ++n) {
    const std::uint8_t* y0 = rows.y + 2 * n * rows.lumaStride;
    const std::uint8_t* y1 = y0 + rows.lumaStride;
    const std::uint8_t* cb = rows.cb + n * rows.chromaStride;
    const std::uint8_t* cr = rows.cr + n * rows.chromaStride;
    std::uint8_t* out0 = rows.out + 2 * n * rows.outStride;
    std::uint8_t* out1 = out0 + rows.outStride;
    if (pairs < PairsPerStep) {
      RowPairScalar(y0, y1, cb, cr, out0, out1, pairs);
      continue;
    }
    int j = 0;
    for (; j + PairsPerStep <= pairs; j += PairsPerStep) Step(y0, y1, cb, cr, out0, out1, j);
    if (j < pairs) Step(y0, y1, cb, cr, out0, out1, pairs - PairsPerStep);
  }
}

}  // namespace
}  // namespace YuvConvert
