// SSSE3 kernel of the YUV conversion, byte-exact with RowPairScalar: the AVX2 kernel (see
// U_YuvConvertAvx2.cpp) on 128-bit registers, for processors without AVX2. The arithmetic is
// SSE2; byte shuffles (SSSE3) do the blue-green-red interleave, which costs the SSE2 kernel
// most of its time.
//
// 8 pixel pairs of both rows of a row pair per step; even and odd pixels in separate vectors.
// Rows end with a step that overlaps the one before; rows of fewer than 8 pairs are done by the
// scalar formula.
#include <tmmintrin.h>

#include "U_YuvConvertBlocks.h"

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

using Words = BlockWords<Ops128>;
using Chroma = BlockChroma<Ops128>;

struct Constants : BlockConstants<Ops128> {
  __m128i lowByte;
  __m128i shuffle[3][3];
};

inline Constants MakeConstants() {
  Constants k;
  static_cast<BlockConstants<Ops128>&>(k) = MakeBlockConstants<Ops128>();
  k.lowByte = Ops128::Set(0x00FF);
  for (int c = 0; c < 3; ++c)
    for (int v = 0; v < 3; ++v)
      k.shuffle[c][v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kShuffleMasks.m[c][v]));
  return k;
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
  const __m128i p1 = _mm_packus_epi16(Component<Ops128>(lqE, fE, ch.blue), Component<Ops128>(lqE, fE, ch.green));
  const __m128i p2 = _mm_packus_epi16(Component<Ops128>(lqE, fE, ch.red), Component<Ops128>(lqO, fO, ch.blue));
  const __m128i p3 = _mm_packus_epi16(Component<Ops128>(lqO, fO, ch.green), Component<Ops128>(lqO, fO, ch.red));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), Chunk(0, p1, p2, p3, k));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), Chunk(1, p1, p2, p3, k));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), Chunk(2, p1, p2, p3, k));
}

// 8 pixel pairs of a row pair from pair j.
inline void Step(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb, const std::uint8_t* cr,
                 std::uint8_t* out0, std::uint8_t* out1, int j, const Constants& k) {
  const __m128i zero = _mm_setzero_si128();
  const Chroma ch = ChromaOf<Ops128>(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + j)), zero),
                             _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + j)), zero), k);
  Row16(y0 + 2 * j, ch, out0 + 6 * j, k);
  Row16(y1 + 2 * j, ch, out1 + 6 * j, k);
}

}  // namespace

void ConvertSsse3(const Rows& rows) {
  const Constants k = MakeConstants();
  ConvertRowPairs<8>(rows, [&](const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                               const std::uint8_t* cr, std::uint8_t* out0, std::uint8_t* out1,
                               int j) { Step(y0, y1, cb, cr, out0, out1, j, k); });
}

}  // namespace YuvConvert
