// AVX-512 (BW + VL + VBMI) kernel of the YUV conversion, byte-exact with RowPairScalar.
//
// Each component is floor((L + K) / 1000) clamped to 0..255, with the luma term L = 1164 Y and
// the block's chroma term K (its chroma products minus 1164 * 16). Negative sums clamp to 0
// whichever way the division rounds, so flooring equals the formula's truncation.
//
// The division is done in fixed point with 16 fraction bits, on 32-bit sums kept as two words:
// the pixel's pair Y * 76284 = 65536 Lq + F, and the block's pair 65536 H + G with
// H = floor(K / 1000) and G from 65.536 (K mod 1000) up to 16 above it. Then
//   floor((L + K) / 1000) = Lq + H + (F + G >= 65536) = Lq + H + (F > ~G).
// Why it is exact: 76284 / 65536 exceeds 1.164 by so little that Lq = floor(1164 Y / 1000) and
// F stays within 25 above 65.536 (L mod 1000); remainders that add up to 1000 or more give
// F + G >= 65536, and remainders that add up to at most 999 give F + G <= 65.536 * 999 + 25 + 16
// < 65512. Every fast kernel is checked against the formula for every (Y, Cb, Cr). Lq is the high word of Y * 76284 (Y + the high word of Y * 10748), F the low
// word (Y * 10748 modulo 65536).
//
// Chroma words come once per 2 x 2 block, for 16 or 32 blocks at a time; both rows of the block
// use them. Even and odd pixels of a row go to separate vectors, so lane j of every vector
// belongs to chroma sample j and the chroma words are never duplicated. The blue-green-red
// interleave is done by byte permutes across whole registers.
//
// Rows of a whole number of 32 pixel pairs are done 32 pairs at a time with 512-bit registers;
// other rows 16 pairs at a time with 256-bit registers, the last step overlapping the one before
// (writing the same bytes again) when the row is not a whole number of 16 pairs either. (Where
// 512-bit operations run as two 256-bit halves, both widths do the same work per cycle, and rows
// that mixed the widths, e.g. 352-pixel rows as five 512-bit steps and one 256-bit step, ran
// slower than in 256-bit steps throughout.) Rows of fewer than 16 pairs use masked loads and
// stores.
#include <immintrin.h>

#include "U_YuvConvertKernels.h"

namespace YuvConvert {
namespace {

// Byte permutes of the interleave for registers of `Bytes` bytes. Output byte k of register c
// (n = Bytes c + k: pixel pair n/6, slot n%6 = Be Ge Re Bo Go Ro) is byte 16L + (slot%2)*8 + p
// of source slot/2, for pair 8L + p: the packs put, per 128-bit lane, P1 = [blue even, green
// even], P2 = [red even, blue odd], P3 = [green odd, red odd]. P1 and P2 bytes come from one
// two-source permute; the P3 bytes are merged in under a mask.
template <int Bytes>
struct Permutes {
  unsigned char fromP1P2[3][Bytes];
  unsigned char fromP3[3][Bytes];
  unsigned long long p3Mask[3];
};

template <int Bytes>
constexpr Permutes<Bytes> MakePermutes() {
  Permutes<Bytes> s{};
  for (int c = 0; c < 3; ++c) {
    s.p3Mask[c] = 0;
    for (int k = 0; k < Bytes; ++k) {
      const int n = Bytes * c + k, pair = n / 6, slot = n % 6, source = slot / 2;
      const int index = 16 * (pair / 8) + (slot % 2) * 8 + pair % 8;
      s.fromP1P2[c][k] = static_cast<unsigned char>(source == 1 ? Bytes + index : index);
      s.fromP3[c][k] = static_cast<unsigned char>(index);
      if (source == 2) s.p3Mask[c] |= 1ull << k;
    }
  }
  return s;
}

constexpr Permutes<64> kPermutes512 = MakePermutes<64>();
constexpr Permutes<32> kPermutes256 = MakePermutes<32>();

// The operations used, on 512-bit and on 256-bit registers of 16-bit lanes.
struct V512 {
  using V = __m512i;
  using Half = __m256i;                  // bytes widened to a register of words
  using ByteMask = __mmask64;            // one bit per byte
  static constexpr int kPairs = 32;      // pixel pairs per step
  static V Set(int v) { return _mm512_set1_epi16(static_cast<short>(v)); }
  static V Add(V a, V b) { return _mm512_add_epi16(a, b); }
  static V Sub(V a, V b) { return _mm512_sub_epi16(a, b); }
  static V MulHi(V a, V b) { return _mm512_mulhi_epu16(a, b); }
  static V MulLo(V a, V b) { return _mm512_mullo_epi16(a, b); }
  static V And(V a, V b) { return _mm512_and_si512(a, b); }
  template <int N>
  static V ShiftRight(V a) { return _mm512_srli_epi16(a, N); }
  static V AddIfAbove(V sum, V f, V notG, V minusOne) {  // sum + (f > notG), unsigned
    return _mm512_mask_sub_epi16(sum, _mm512_cmpgt_epu16_mask(f, notG), sum, minusOne);
  }
  static V AddIfBelow(V sum, V a, V b, V minusOne) {  // sum + (a < b), unsigned
    return _mm512_mask_sub_epi16(sum, _mm512_cmplt_epu16_mask(a, b), sum, minusOne);
  }
  static V Not(V a) { return _mm512_ternarylogic_epi32(a, a, a, 0x55); }
  static V PackUs(V a, V b) { return _mm512_packus_epi16(a, b); }
  static V Interleave(V p1, V p2, V p3, V fromP1P2, V fromP3, ByteMask p3Mask) {
    return _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(p1, fromP1P2, p2), p3Mask, fromP3, p3);
  }
  static V Load(const void* p) { return _mm512_loadu_si512(p); }
  static void Store(void* p, V v) { _mm512_storeu_si512(p, v); }
  static Half LoadHalf(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
  static V Widen(Half h) { return _mm512_cvtepu8_epi16(h); }
  static const Permutes<64>& Tables() { return kPermutes512; }
};

struct V256 {
  using V = __m256i;
  using Half = __m128i;
  using ByteMask = __mmask32;
  static constexpr int kPairs = 16;
  static V Set(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static V Add(V a, V b) { return _mm256_add_epi16(a, b); }
  static V Sub(V a, V b) { return _mm256_sub_epi16(a, b); }
  static V MulHi(V a, V b) { return _mm256_mulhi_epu16(a, b); }
  static V MulLo(V a, V b) { return _mm256_mullo_epi16(a, b); }
  static V And(V a, V b) { return _mm256_and_si256(a, b); }
  template <int N>
  static V ShiftRight(V a) { return _mm256_srli_epi16(a, N); }
  static V AddIfAbove(V sum, V f, V notG, V minusOne) {
    return _mm256_mask_sub_epi16(sum, _mm256_cmpgt_epu16_mask(f, notG), sum, minusOne);
  }
  static V AddIfBelow(V sum, V a, V b, V minusOne) {
    return _mm256_mask_sub_epi16(sum, _mm256_cmplt_epu16_mask(a, b), sum, minusOne);
  }
  static V Not(V a) { return _mm256_ternarylogic_epi32(a, a, a, 0x55); }
  static V PackUs(V a, V b) { return _mm256_packus_epi16(a, b); }
  static V Interleave(V p1, V p2, V p3, V fromP1P2, V fromP3, ByteMask p3Mask) {
    return _mm256_mask_permutexvar_epi8(_mm256_permutex2var_epi8(p1, fromP1P2, p2), p3Mask, fromP3, p3);
  }
  static V Load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
  static V LoadMasked(ByteMask m, const void* p) { return _mm256_maskz_loadu_epi8(m, p); }
  static void Store(void* p, V v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
  static void StoreMasked(void* p, ByteMask m, V v) { _mm256_mask_storeu_epi8(p, m, v); }
  static Half LoadHalf(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
  static V Widen(Half h) { return _mm256_cvtepu8_epi16(h); }
  static const Permutes<32>& Tables() { return kPermutes256; }
};

template <class T>
struct Constants {
  using V = typename T::V;
  V lowByte, lumaFraction, minusOne, two;
  V c4, c285, c1180, cMinus1180, c23069;                          // blue
  V c39059, c29885, c5769, c223;                                   // red
  V c1000, cMinus65, c35128, c33555;                               // green
  V c25600, c53248, cMinus391, cMinus813, c2488, c133;            // green
  V fromP1P2[3], fromP3[3];
  typename T::ByteMask p3Mask[3];

  Constants() {
    lowByte = T::Set(0x00FF);
    lumaFraction = T::Set(10748);
    minusOne = T::Set(-1);
    two = T::Set(2);
    c4 = T::Set(4);
    c285 = T::Set(285);
    c1180 = T::Set(1180);
    cMinus1180 = T::Set(-1180);
    c23069 = T::Set(23069);
    c39059 = T::Set(39059);
    c29885 = T::Set(29885);
    c5769 = T::Set(5769);
    c223 = T::Set(223);
    c1000 = T::Set(1000);
    cMinus65 = T::Set(-65);
    c35128 = T::Set(35128);
    c33555 = T::Set(33555);
    c25600 = T::Set(25600);
    c53248 = T::Set(53248);
    cMinus391 = T::Set(-391);
    cMinus813 = T::Set(-813);
    c2488 = T::Set(2488);
    c133 = T::Set(133);
    // Keep the multipliers opaque: the compiler would otherwise turn each vector multiply by a
    // known constant into a longer chain of shifts and adds.
    V* const multipliers[] = {&lumaFraction, &c1180, &cMinus1180, &c23069, &c39059, &c29885, &c1000, &cMinus65,
                              &c35128,       &c33555, &c25600,   &c53248, &cMinus391, &cMinus813};
    for (V* m : multipliers) __asm__("" : "+v"(*m));
    for (int c = 0; c < 3; ++c) {
      fromP1P2[c] = T::Load(T::Tables().fromP1P2[c]);
      fromP3[c] = T::Load(T::Tables().fromP3[c]);
      p3Mask[c] = static_cast<typename T::ByteMask>(T::Tables().p3Mask[c]);
    }
  }
};

// Block words of one component: H and ~G (see the top of the file).
template <class T>
struct Words {
  typename T::V h, notG;
};

template <class T>
struct Chroma {
  Words<T> blue, green, red;
};

// From K = 1000 A + S with 0 <= S < 32768: H = A + floor(S / 1000), with floor(S / 1000) =
// (S * 33555) >> 25 for every such S; G = 65 S + floor(S * 35128 / 65536) + 1, from 65.536 S
// to 1.3 above it (65.536 S is 65.536 (K mod 1000) modulo 65536).
template <class T>
inline Words<T> FromRemainder(typename T::V a, typename T::V s, const Constants<T>& k) {
  Words<T> w;
  w.h = T::Add(a, T::template ShiftRight<9>(T::MulHi(s, k.c33555)));
  w.notG = T::Sub(T::Sub(T::MulLo(s, k.cMinus65), T::MulHi(s, k.c35128)), k.two);
  return w;
}

// u, v: chroma samples (0..255) in 16-bit lanes.
template <class T>
inline Chroma<T> ChromaOf(typename T::V u, typename T::V v, const Constants<T>& k) {
  using V = typename T::V;
  Chroma<T> ch;
  // Blue: K = 2018 U - 276928 = 1000 (2 U4 - 285) + 18 U4 with U4 = U + 4 (4..259): so
  // H = 2 U4 - 285 + floor(18 U4 / 1000), the floor being (U4 * 1180) >> 16 for every U4, and
  // G = 1180 U4 - floor(U4 * 23069 / 65536) + 1, 1 to 2 above 65.536 * 18 U4 = 1179.648 U4.
  const V u4 = T::Add(u, k.c4);
  ch.blue.h = T::Add(T::Sub(T::Add(u4, u4), k.c285), T::MulHi(u4, k.c1180));
  ch.blue.notG = T::Sub(T::Add(T::MulLo(u4, k.cMinus1180), T::MulHi(u4, k.c23069)), k.two);
  // Red: K = 1596 V - 222912, 65.536 K = 104595.456 V - 14608760.8 = 65536 (V - 223) +
  // 39059.456 V + 5767.2. Its low word: G = 39059 V (low word L, high word M) +
  // floor(V * 29885 / 65536) + 5769, 0.8 to 1.9 above it; the carry out of that sum (G < L)
  // completes H = V - 223 + M + carry.
  const V low = T::MulLo(v, k.c39059);
  const V g = T::Add(T::Add(low, T::MulHi(v, k.c29885)), k.c5769);
  ch.red.h = T::AddIfBelow(T::Add(T::Sub(v, k.c223), T::MulHi(v, k.c39059)), g, low, k.minusOne);
  ch.red.notG = T::Not(g);
  // Green: K = -391 U - 813 V + 135488 = 1000 (133 - h) + S with h = floor(100 U / 256) +
  // floor(208 V / 256), S in 360..2488.
  const V h = T::Add(T::MulHi(u, k.c25600), T::MulHi(v, k.c53248));
  ch.green = FromRemainder<T>(
      T::Sub(k.c133, h),
      T::Add(T::Add(T::MulLo(u, k.cMinus391), T::MulLo(v, k.cMinus813)), T::Add(T::MulLo(h, k.c1000), k.c2488)), k);
  return ch;
}

template <class T>
inline typename T::V Component(typename T::V lq, typename T::V f, const Words<T>& w, const Constants<T>& k) {
  return T::AddIfAbove(T::Add(lq, w.h), f, w.notG, k.minusOne);
}

// One row's pixels of a step as output bytes (3 registers).
template <class T>
struct Pixels {
  typename T::V bytes[3];
};

template <class T>
inline Pixels<T> Row(typename T::V y, const Chroma<T>& ch, const Constants<T>& k) {
  using V = typename T::V;
  const V ye = T::And(y, k.lowByte), yo = T::template ShiftRight<8>(y);
  const V lqE = T::Add(T::MulHi(ye, k.lumaFraction), ye), lqO = T::Add(T::MulHi(yo, k.lumaFraction), yo);
  const V fE = T::MulLo(ye, k.lumaFraction), fO = T::MulLo(yo, k.lumaFraction);
  const V p1 = T::PackUs(Component<T>(lqE, fE, ch.blue, k), Component<T>(lqE, fE, ch.green, k));
  const V p2 = T::PackUs(Component<T>(lqE, fE, ch.red, k), Component<T>(lqO, fO, ch.blue, k));
  const V p3 = T::PackUs(Component<T>(lqO, fO, ch.green, k), Component<T>(lqO, fO, ch.red, k));
  Pixels<T> px;
  px.bytes[0] = T::Interleave(p1, p2, p3, k.fromP1P2[0], k.fromP3[0], k.p3Mask[0]);
  px.bytes[1] = T::Interleave(p1, p2, p3, k.fromP1P2[1], k.fromP3[1], k.p3Mask[1]);
  px.bytes[2] = T::Interleave(p1, p2, p3, k.fromP1P2[2], k.fromP3[2], k.p3Mask[2]);
  return px;
}

// One row pair's picture and image rows.
struct RowPair {
  const std::uint8_t *y0, *y1, *cb, *cr;
  std::uint8_t *out0, *out1;
};

// T::kPairs pixel pairs from pair j.
template <class T>
[[gnu::always_inline]] inline void Step(const RowPair& r, int j, const Constants<T>& k) {
  constexpr int kBytes = static_cast<int>(sizeof(typename T::V));
  const Chroma<T> ch = ChromaOf<T>(T::Widen(T::LoadHalf(r.cb + j)), T::Widen(T::LoadHalf(r.cr + j)), k);
  const Pixels<T> top = Row<T>(T::Load(r.y0 + 2 * j), ch, k);
  const Pixels<T> bottom = Row<T>(T::Load(r.y1 + 2 * j), ch, k);
  T::Store(r.out0 + 6 * j, top.bytes[0]);
  T::Store(r.out0 + 6 * j + kBytes, top.bytes[1]);
  T::Store(r.out0 + 6 * j + 2 * kBytes, top.bytes[2]);
  T::Store(r.out1 + 6 * j, bottom.bytes[0]);
  T::Store(r.out1 + 6 * j + kBytes, bottom.bytes[1]);
  T::Store(r.out1 + 6 * j + 2 * kBytes, bottom.bytes[2]);
}

// Mask of the first n bytes (0..64).
inline unsigned long long FirstBytes(int n) { return n >= 64 ? ~0ull : (1ull << n) - 1; }

// A row pair of fewer than 16 pixel pairs, with 256-bit registers: nothing beyond the row is
// read or written.
inline void ShortRowPair(const RowPair& r, int pairs, const Constants<V256>& k) {
  const __mmask32 chroma = static_cast<__mmask32>(FirstBytes(pairs)), luma = static_cast<__mmask32>(FirstBytes(2 * pairs));
  const Chroma<V256> ch = ChromaOf<V256>(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(_mm256_maskz_loadu_epi8(chroma, r.cb))),
                                         _mm256_cvtepu8_epi16(_mm256_castsi256_si128(_mm256_maskz_loadu_epi8(chroma, r.cr))), k);
  const std::uint8_t* const rows[2] = {r.y0, r.y1};
  std::uint8_t* const outs[2] = {r.out0, r.out1};
  for (int row = 0; row < 2; ++row) {
    const Pixels<V256> px = Row<V256>(V256::LoadMasked(luma, rows[row]), ch, k);
    for (int c = 0; c < 3; ++c) {
      const int left = 6 * pairs - 32 * c;
      if (left > 0) V256::StoreMasked(outs[row] + 32 * c, static_cast<__mmask32>(FirstBytes(left)), px.bytes[c]);
    }
  }
}

inline RowPair RowPairAt(const Rows& rows, int n) {
  RowPair r;
  r.y0 = rows.y + 2 * n * rows.lumaStride;
  r.y1 = r.y0 + rows.lumaStride;
  r.cb = rows.cb + n * rows.chromaStride;
  r.cr = rows.cr + n * rows.chromaStride;
  r.out0 = rows.out + 2 * n * rows.outStride;
  r.out1 = r.out0 + rows.outStride;
  return r;
}

// All rows in steps of T::kPairs pairs (at least that many per row), the last step of a row
// overlapping the one before when the row is not a whole number of steps. One register width
// per call keeps one set of constants in the registers.
template <class T>
void StepRows(const Rows& rows) {
  const Constants<T> k;
  const int pairs = rows.pairs;
  for (int n = 0; n < rows.rowPairs; ++n) {
    const RowPair r = RowPairAt(rows, n);
    int j = 0;
    for (; j + T::kPairs <= pairs; j += T::kPairs) Step<T>(r, j, k);
    if (j < pairs) Step<T>(r, pairs - T::kPairs, k);
  }
}

void ShortRows(const Rows& rows) {
  const Constants<V256> k;
  for (int n = 0; n < rows.rowPairs; ++n) ShortRowPair(RowPairAt(rows, n), rows.pairs, k);
}

}  // namespace

void ConvertAvx512(const Rows& rows) {
  if (rows.pairs % 32 == 0)
    StepRows<V512>(rows);
  else if (rows.pairs >= 16)
    StepRows<V256>(rows);
  else
    ShortRows(rows);
  _mm256_zeroupper();
}

}  // namespace YuvConvert
