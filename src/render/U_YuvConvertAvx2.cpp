// AVX2 kernel of the YUV conversion, byte-exact with RowPairScalar.
//
// The arithmetic is that of the AVX-512 kernel (see U_YuvConvertAvx512.cpp): per component
// Lq + H + (F > ~G), with the pixel words Lq, F of Y * 76284 and the block words H, G. AVX2
// compares only signed words, so F and ~G are both kept with their top bit flipped (x ^ 0x8000),
// which turns the unsigned comparison into a signed one; the flip costs one operation per pixel
// vector and none per block (it is folded into the block constants).
//
// 16 pixel pairs of both rows of a row pair per step; even and odd pixels in separate vectors.
// Rows end with a step that overlaps the one before; rows of fewer than 16 pairs are done by
// the scalar formula.
#include <immintrin.h>

#include "U_YuvConvertBlocks.h"

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

// The word operations of 256-bit registers, for the shared block arithmetic.
struct Ops256 {
  using Vec = __m256i;
  static Vec Set(int value) { return _mm256_set1_epi16(static_cast<short>(value)); }
  static Vec Add(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
  static Vec Sub(Vec a, Vec b) { return _mm256_sub_epi16(a, b); }
  static Vec MulHi(Vec a, Vec b) { return _mm256_mulhi_epu16(a, b); }
  static Vec MulLo(Vec a, Vec b) { return _mm256_mullo_epi16(a, b); }
  static Vec Xor(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
  static Vec CmpGt(Vec a, Vec b) { return _mm256_cmpgt_epi16(a, b); }
  static Vec Srli9(Vec a) { return _mm256_srli_epi16(a, 9); }
};
using Words = BlockWords<Ops256>;
using Chroma = BlockChroma<Ops256>;

struct Constants : BlockConstants<Ops256> {
  __m256i lowByte;
  __m256i shuffle[3][3];
};

inline Constants MakeConstants() {
  Constants k;
  static_cast<BlockConstants<Ops256>&>(k) = MakeBlockConstants<Ops256>();
  k.lowByte = Ops256::Set(0x00FF);
  for (int c = 0; c < 3; ++c)
    for (int v = 0; v < 3; ++v)
      k.shuffle[c][v] = _mm256_broadcastsi128_si256(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(kShuffleMasks.m[c][v])));
  return k;
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
  const __m256i lqE = _mm256_add_epi16(_mm256_mulhi_epu16(ye, k.lumaFraction), ye);
  const __m256i lqO = _mm256_add_epi16(_mm256_mulhi_epu16(yo, k.lumaFraction), yo);
  const __m256i fE = _mm256_xor_si256(_mm256_mullo_epi16(ye, k.lumaFraction), k.topBit);
  const __m256i fO = _mm256_xor_si256(_mm256_mullo_epi16(yo, k.lumaFraction), k.topBit);
  const __m256i p1 = _mm256_packus_epi16(Component<Ops256>(lqE, fE, ch.blue), Component<Ops256>(lqE, fE, ch.green));
  const __m256i p2 = _mm256_packus_epi16(Component<Ops256>(lqE, fE, ch.red), Component<Ops256>(lqO, fO, ch.blue));
  const __m256i p3 = _mm256_packus_epi16(Component<Ops256>(lqO, fO, ch.green), Component<Ops256>(lqO, fO, ch.red));
  const __m256i c0 = Chunk(0, p1, p2, p3, k), c1 = Chunk(1, p1, p2, p3, k), c2 = Chunk(2, p1, p2, p3, k);
  // Lane 0 of c0, c1, c2 holds bytes 0-47 of the row, lane 1 bytes 48-95.
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(c0, c1, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_permute2x128_si256(c2, c0, 0x30));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64), _mm256_permute2x128_si256(c1, c2, 0x31));
}

// 16 pixel pairs of a row pair from pair j.
inline void Step(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb, const std::uint8_t* cr,
                 std::uint8_t* out0, std::uint8_t* out1, int j, const Constants& k) {
  const Chroma ch = ChromaOf<Ops256>(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + j))),
                             _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + j))), k);
  Row32(y0 + 2 * j, ch, out0 + 6 * j, k);
  Row32(y1 + 2 * j, ch, out1 + 6 * j, k);
}

}  // namespace

void ConvertAvx2(const Rows& rows) {
  const Constants k = MakeConstants();
  ConvertRowPairs<16>(rows, [&](const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                               const std::uint8_t* cr, std::uint8_t* out0, std::uint8_t* out1,
                               int j) { Step(y0, y1, cb, cr, out0, out1, j, k); });
  _mm256_zeroupper();
}

}  // namespace YuvConvert
