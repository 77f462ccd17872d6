// YUV 4:2:0 to BGR24 conversion and BMP images: worked values, layout, every SIMD kernel
// against the scalar formula, BMP bytes and files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "U_YuvConvert.h"
#include "U_YuvConvertKernels.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using YuvConvert::Kernel;

struct Planes {
  int width = 0, height = 0;
  Bytes y, cb, cr;
  Planes(int w, int h) : width(w), height(h), y(size_t(w) * h), cb(size_t(w / 2) * (h / 2)), cr(cb.size()) {}
  Bytes Yv12() const {  // luma, Cr at w*h, Cb at w*h + (w*h)/4
    const size_t luma = size_t(width) * height;
    Bytes out(luma * 3 / 2 + 8, 0);
    std::memcpy(out.data(), y.data(), luma);
    std::memcpy(out.data() + luma, cr.data(), cr.size());
    std::memcpy(out.data() + luma + luma / 4, cb.data(), cb.size());
    return out;
  }
};

Planes Uniform(int w, int h, std::uint8_t y, std::uint8_t cb, std::uint8_t cr) {
  Planes p(w, h);
  std::fill(p.y.begin(), p.y.end(), y);
  std::fill(p.cb.begin(), p.cb.end(), cb);
  std::fill(p.cr.begin(), p.cr.end(), cr);
  return p;
}

Planes Noise(int w, int h, unsigned seed) {
  Planes p(w, h);
  std::mt19937 rng(seed);
  for (auto* plane : {&p.y, &p.cb, &p.cr})
    for (auto& v : *plane) v = static_cast<std::uint8_t>(rng());
  return p;
}

Bytes Convert(Kernel kernel, const Planes& p, std::uint8_t fill = 0xCD, size_t guard = 64) {
  Bytes out(size_t(Rgb24ImageSize(p.width, p.height)) + guard, fill);
  EXPECT_EQ(0, YuvConvert::ConvertWith(kernel, nullptr, p.y.data(), p.cb.data(), p.cr.data(),
                                       out.data(), p.width, p.height));
  return out;
}

std::vector<Kernel> FastKernels() {
  std::vector<Kernel> kernels;
  for (Kernel k : {Kernel::Sse2, Kernel::Ssse3, Kernel::Avx2, Kernel::Avx512})
    if (YuvConvert::KernelSupported(k)) kernels.push_back(k);
  return kernels;
}

TEST(YuvConvert, WorkedValues) {
  struct Case {
    std::uint8_t y, cb, cr;
    std::uint8_t b, g, r;
  } cases[] = {
      {16, 128, 128, 0, 0, 0},        // black
      {235, 128, 128, 254, 254, 254},  // (219 * 1164) div 1000 = 254
      {255, 128, 255, 255, 174, 255},  // blue and red clamp at 255; green 278196 - 103251
      {0, 0, 0, 0, 135, 0},            // negative sums clamp to 0; green -18624 + 154112
      {128, 255, 0, 255, 184, 0},      // green 130368 + 104064 - 49657
  };
  for (const Case& c : cases) {
    for (Kernel k : {Kernel::Scalar, Kernel::Sse2, Kernel::Ssse3, Kernel::Avx2, Kernel::Avx512}) {
      if (!YuvConvert::KernelSupported(k)) continue;
      const Bytes out = Convert(k, Uniform(2, 2, c.y, c.cb, c.cr));
      for (int px = 0; px < 2; ++px) {
        for (int row = 0; row < 2; ++row) {
          const std::uint8_t* p = out.data() + row * 8 + px * 3;
          EXPECT_EQ(c.b, p[0]) << YuvConvert::KernelName(k) << " Y" << int(c.y) << " Cb" << int(c.cb) << " Cr" << int(c.cr);
          EXPECT_EQ(c.g, p[1]) << YuvConvert::KernelName(k) << " Y" << int(c.y) << " Cb" << int(c.cb) << " Cr" << int(c.cr);
          EXPECT_EQ(c.r, p[2]) << YuvConvert::KernelName(k) << " Y" << int(c.y) << " Cb" << int(c.cb) << " Cr" << int(c.cr);
        }
      }
    }
  }
}

TEST(YuvConvert, TruncatesTowardZero) {
  // Y = 17, Cb = 128 - 1: y + b = 1164 - 2018 = -854 -> 0 (not -1 clamped differently); and
  // Y = 17 gives 1 for a neutral chroma: 1164 div 1000.
  const Bytes grey = Convert(Kernel::Scalar, Uniform(2, 2, 17, 128, 128));
  EXPECT_EQ(1, grey[0]);
  const Bytes blueish = Convert(Kernel::Scalar, Uniform(2, 2, 17, 127, 128));
  EXPECT_EQ(0, blueish[0]);
  EXPECT_EQ(1, blueish[1]);  // 1164 + 391 = 1555 -> 1
}

TEST(YuvConvert, StrideRoundsRowsToFourBytes) {
  EXPECT_EQ(1052, Rgb24Stride(350));
  EXPECT_EQ(1056, Rgb24Stride(352));
  EXPECT_EQ(1060, Rgb24Stride(353));
  EXPECT_EQ(304128, Rgb24ImageSize(352, 288));
  EXPECT_EQ(0, Rgb24Stride(0));
  EXPECT_EQ(0, Rgb24ImageSize(352, -2));
}

TEST(YuvConvert, RowsAreBottomUpAndPaddingUntouched) {
  // 350 x 4: picture rows 0-1 dark, rows 2-3 white.
  Planes p = Uniform(350, 4, 16, 128, 128);
  std::fill(p.y.begin() + 2 * 350, p.y.end(), 235);
  const Bytes out = Convert(Kernel::Scalar, p);
  const size_t stride = 1052;
  for (int imageRow = 0; imageRow < 4; ++imageRow) {
    const std::uint8_t expected = imageRow < 2 ? 254 : 0;  // image row 0 = picture row 3
    for (size_t i = 0; i < 1050; ++i) ASSERT_EQ(expected, out[imageRow * stride + i]) << imageRow;
    EXPECT_EQ(0xCD, out[imageRow * stride + 1050]);
    EXPECT_EQ(0xCD, out[imageRow * stride + 1051]);
  }
}

TEST(YuvConvert, ShortPicturesAndOddEdgesKeepWhatTheBufferHeld) {
  for (int h : {0, 1}) {
    Planes p = Uniform(16, 2, 200, 100, 100);
    p.height = h;
    Bytes out(256, 0x5A);
    EXPECT_EQ(0, YUV420ToRGB24(nullptr, p.y.data(), p.cb.data(), p.cr.data(), out.data(), 16, h));
    EXPECT_EQ(Bytes(256, 0x5A), out);
  }
  // 353 x 5: the last column of every converted row and the whole last picture row (image
  // row 0) are left alone, for every kernel.
  const Planes p = Noise(353, 5, 7);
  for (Kernel k : {Kernel::Scalar, Kernel::Sse2, Kernel::Ssse3, Kernel::Avx2, Kernel::Avx512}) {
    if (!YuvConvert::KernelSupported(k)) continue;
    const Bytes out = Convert(k, p, 0xEE);
    const size_t stride = 1060;
    for (size_t i = 0; i < stride; ++i) ASSERT_EQ(0xEE, out[i]) << YuvConvert::KernelName(k);
    for (int row = 1; row < 5; ++row)
      for (size_t i = 352 * 3; i < stride; ++i) ASSERT_EQ(0xEE, out[row * stride + i]);
  }
}

TEST(YuvConvert, ContiguousLayoutIsLumaCrCb) {
  const Planes p = Noise(36, 10, 3);
  const Bytes yv12 = p.Yv12();
  Bytes fromPlanes = Convert(Kernel::Scalar, p);
  Bytes fromContiguous(fromPlanes.size(), 0xCD);
  YUV420ToRGB24(yv12.data(), nullptr, nullptr, nullptr, fromContiguous.data(), 36, 10);
  EXPECT_EQ(fromPlanes, fromContiguous);
}

// A picture holding one Cr value, all 256 Cb values (64 chroma blocks each) and all 256 Y
// values per Cb (4 per block): the 16384 blocks fill rows of `pairs` blocks, the last row pair
// repeating blocks from the start.
Planes AllTriplesOfOneCr(int pairs, std::uint8_t cr) {
  const int kBlocks = 16384, rowPairs = (kBlocks + pairs - 1) / pairs, width = 2 * pairs;
  Planes p(width, 2 * rowPairs);
  std::fill(p.cr.begin(), p.cr.end(), cr);
  for (int n = 0; n < rowPairs * pairs; ++n) {
    const int block = n % kBlocks, rowPair = n / pairs, j = n % pairs, y = 4 * (block % 64);
    p.cb[size_t(rowPair) * pairs + j] = static_cast<std::uint8_t>(block / 64);
    std::uint8_t* top = p.y.data() + size_t(2 * rowPair) * width + 2 * j;
    top[0] = static_cast<std::uint8_t>(y);
    top[1] = static_cast<std::uint8_t>(y + 1);
    top[width] = static_cast<std::uint8_t>(y + 2);
    top[width + 1] = static_cast<std::uint8_t>(y + 3);
  }
  return p;
}

// Every (Y, Cb, Cr) triple through every fast kernel, once for each way a kernel walks a row:
// rows of 32 pixel pairs (the widest steps), 16 pairs (the narrower steps), 15 pairs (rows
// shorter than any step) and 44 pairs (a last step overlapping the one before).
TEST(YuvConvert, FastKernelsMatchTheFormulaForEveryTriple) {
  const std::vector<Kernel> kernels = FastKernels();
  if (kernels.empty()) GTEST_SKIP() << "no SIMD kernel runs on this processor";
  for (int pairs : {32, 16, 15, 44}) {
    for (int cr = 0; cr < 256; ++cr) {
      const Planes p = AllTriplesOfOneCr(pairs, static_cast<std::uint8_t>(cr));
      const Bytes expected = Convert(Kernel::Scalar, p);
      for (Kernel k : kernels)
        ASSERT_TRUE(expected == Convert(k, p))
            << YuvConvert::KernelName(k) << " differs for Cr " << cr << " in rows of " << pairs << " pairs";
    }
  }
}

TEST(YuvConvert, FastKernelsMatchOnOddAndEdgeSizes) {
  const std::vector<Kernel> kernels = FastKernels();
  if (kernels.empty()) GTEST_SKIP() << "no SIMD kernel runs on this processor";
  std::vector<std::pair<int, int>> sizes = {{352, 288}, {353, 289}, {1920, 1080}, {720, 576}, {2, 2}, {3, 3}};
  for (int w = 2; w <= 80; ++w) sizes.push_back({w, 2 + w % 5});
  unsigned seed = 1;
  for (auto [w, h] : sizes) {
    const Planes p = Noise(w, h, seed++);
    const Bytes expected = Convert(Kernel::Scalar, p);
    for (Kernel k : kernels)
      ASSERT_EQ(expected, Convert(k, p)) << YuvConvert::KernelName(k) << " " << w << "x" << h;
  }
}

// Rows read at their own strides and written top-down: the same pixels as the packed picture
// converted bottom-up, for every kernel; bytes between the rows untouched.
TEST(YuvConvert, RowsAtStridesGiveTheSamePixels) {
  const int width = 70, height = 6, lumaStride = 80, chromaStride = 40, outStride = 224;
  const Planes p = Noise(width, height, 21);
  Bytes y(size_t(lumaStride) * height, 0x11), cb(size_t(chromaStride) * height / 2, 0x22), cr(cb.size(), 0x33);
  for (int row = 0; row < height; ++row) std::memcpy(&y[size_t(row) * lumaStride], &p.y[size_t(row) * width], width);
  for (int row = 0; row < height / 2; ++row) {
    std::memcpy(&cb[size_t(row) * chromaStride], &p.cb[size_t(row) * width / 2], width / 2);
    std::memcpy(&cr[size_t(row) * chromaStride], &p.cr[size_t(row) * width / 2], width / 2);
  }
  const Bytes bottomUp = Convert(Kernel::Scalar, p);
  const size_t packedStride = size_t(Rgb24Stride(width));
  for (Kernel k : {Kernel::Scalar, Kernel::Sse2, Kernel::Ssse3, Kernel::Avx2, Kernel::Avx512}) {
    if (!YuvConvert::KernelSupported(k)) continue;
    Bytes out(size_t(outStride) * height, 0x5A);
    YuvConvert::Rows rows;
    rows.y = y.data();
    rows.cb = cb.data();
    rows.cr = cr.data();
    rows.lumaStride = lumaStride;
    rows.chromaStride = chromaStride;
    rows.out = out.data();
    rows.outStride = outStride;
    rows.pairs = width / 2;
    rows.rowPairs = height / 2;
    YuvConvert::ConvertRows(k, rows);
    for (int row = 0; row < height; ++row) {
      const std::uint8_t* got = &out[size_t(row) * outStride];
      const std::uint8_t* want = &bottomUp[size_t(height - 1 - row) * packedStride];
      ASSERT_EQ(0, std::memcmp(want, got, width * 3)) << YuvConvert::KernelName(k) << " row " << row;
      for (int i = width * 3; i < outStride; ++i) ASSERT_EQ(0x5A, got[i]) << YuvConvert::KernelName(k) << " row " << row;
    }
  }
}

TEST(YuvConvert, DefaultConversionUsesTheBestKernel) {
  const Planes p = Noise(64, 4, 11);
  Bytes out(size_t(Rgb24ImageSize(64, 4)) + 64, 0xCD);
  YUV420ToRGB24(nullptr, p.y.data(), p.cb.data(), p.cr.data(), out.data(), 64, 4);
  EXPECT_EQ(Convert(Kernel::Scalar, p), out);
  std::printf("YUV conversion kernel: %s\n", YuvConvert::KernelName(YuvConvert::BestKernel()));
}

// ---- BMP images ----------------------------------------------------------------------------

std::uint32_t Read32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}
std::uint16_t Read16(const Bytes& b, size_t at) { return std::uint16_t(b[at] | b[at + 1] << 8); }

TEST(YuvBmp, HeaderOfACifPicture) {
  const Planes p = Noise(352, 288, 5);
  const Bytes image = YV12ToBmpImage(p.Yv12().data(), 352, 288);
  ASSERT_EQ(304182u, image.size());
  EXPECT_EQ('B', image[0]);
  EXPECT_EQ('M', image[1]);
  EXPECT_EQ(304182u, Read32(image, 2));
  EXPECT_EQ(0u, Read32(image, 6));
  EXPECT_EQ(54u, Read32(image, 10));
  EXPECT_EQ(40u, Read32(image, 14));
  EXPECT_EQ(352u, Read32(image, 18));
  EXPECT_EQ(288u, Read32(image, 22));
  EXPECT_EQ(1, Read16(image, 26));
  EXPECT_EQ(24, Read16(image, 28));
  EXPECT_EQ(0u, Read32(image, 30));
  EXPECT_EQ(304128u, Read32(image, 34));
  for (size_t i = 38; i < 54; ++i) EXPECT_EQ(0, image[i]);
  const Bytes pixels = Convert(Kernel::Scalar, p, 0, 0);
  EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), image.begin() + 54));
}

TEST(YuvBmp, UnconvertedBytesAreZeroAndBadSizesGiveNothing) {
  const Planes p = Uniform(5, 3, 235, 128, 128);  // stride 16: 15 bytes + 1 padding
  const Bytes image = YV12ToBmpImage(p.Yv12().data(), 5, 3);
  ASSERT_EQ(54u + 48u, image.size());
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(0, image[54 + i]);  // last picture row
  for (int row = 1; row < 3; ++row) {
    for (size_t i = 0; i < 12; ++i) EXPECT_EQ(254, image[54 + row * 16 + i]);
    for (size_t i = 12; i < 16; ++i) EXPECT_EQ(0, image[54 + row * 16 + i]);
  }
  EXPECT_TRUE(YV12ToBmpImage(p.Yv12().data(), -4, 2).empty());
  EXPECT_TRUE(YV12ToBmpImage(nullptr, 4, 2).empty());
  EXPECT_TRUE(MakeBmpImage(nullptr, 100000, 100000).empty());  // beyond a BMP's sizes
  EXPECT_EQ(54u, MakeBmpImage(nullptr, 0, 0).size());
}

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("zorv_render_" + name)).string();
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(YuvBmp, SaveWritesTheImageAndReplacesAnOlderFile) {
  const std::string path = TempPath("save.bmp");
  {
    std::ofstream old(path, std::ios::binary);
    old << std::string(500000, 'x');  // longer than the new image: must not survive
  }
  const Planes p = Noise(352, 288, 9);
  const Bytes yv12 = p.Yv12();
  EXPECT_EQ(304182, SaveYUVAsBmp(yv12.data(), 352, 288, path.c_str()));
  EXPECT_EQ(YV12ToBmpImage(yv12.data(), 352, 288), ReadFile(path));
  std::filesystem::remove(path);
}

TEST(YuvBmp, SaveReportsFailuresThroughItsResult) {
  const Planes p = Noise(16, 16, 2);
  const Bytes yv12 = p.Yv12();
  const std::string missingDir = TempPath("no_such_dir") + "/x.bmp";
  EXPECT_EQ(-1, SaveYUVAsBmp(yv12.data(), 16, 16, missingDir.c_str()));
  EXPECT_EQ(-1, SaveYUVAsBmp(yv12.data(), 16, 16, nullptr));
  const std::string path = TempPath("bad.bmp");
  EXPECT_EQ(0, SaveYUVAsBmp(yv12.data(), -16, 16, path.c_str()));
  EXPECT_EQ(0, SaveYUVAsBmp(nullptr, 16, 16, path.c_str()));
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
