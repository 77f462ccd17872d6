// Drawing into surfaces: the quick paths (a picture drawn at its own width copies whole rows,
// an enlarged picture copies repeated rows) give exactly the pixels of nearest-sample scaling,
// pixel by pixel, for every placement, clipping, orientation and pixel size. These are the
// in-memory surfaces of the POSIX build; on Windows the system draws into real windows.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ZorvSurface.h"

namespace {

struct Bitmap {
  int width, height, bitCount;
  bool bottomUp;
  std::vector<uint8_t> header = std::vector<uint8_t>(40, 0);
  std::vector<uint8_t> bits;

  Bitmap(int w, int h, int bitCount_, bool bottomUp_, std::mt19937& rng)
      : width(w), height(h), bitCount(bitCount_), bottomUp(bottomUp_) {
    const int32_t size = 40, signedHeight = bottomUp ? h : -h;
    const uint16_t planes = 1, bpp = uint16_t(bitCount);
    std::memcpy(&header[0], &size, 4);
    std::memcpy(&header[4], &w, 4);
    std::memcpy(&header[8], &signedHeight, 4);
    std::memcpy(&header[12], &planes, 2);
    std::memcpy(&header[14], &bpp, 2);
    bits.resize(size_t(Stride()) * h);
    for (auto& b : bits) b = uint8_t(rng());
  }
  int Stride() const { return (width * bitCount / 8 + 3) & ~3; }
  // RGB of the pixel in picture row `row` counted from the top.
  void Pixel(int col, int row, uint8_t* rgb) const {
    const int stored = bottomUp ? height - 1 - row : row;
    const uint8_t* p = &bits[size_t(stored) * Stride() + size_t(col) * (bitCount / 8)];
    rgb[0] = p[2];
    rgb[1] = p[1];
    rgb[2] = p[0];
  }
};

struct Placement {
  int xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight;
};

std::string Describe(const Bitmap& b, const Placement& p) {
  return std::to_string(b.width) + "x" + std::to_string(b.height) + "/" + std::to_string(b.bitCount) +
         (b.bottomUp ? " bottom-up" : " top-down") + " dest (" + std::to_string(p.xDest) + "," +
         std::to_string(p.yDest) + " " + std::to_string(p.destWidth) + "x" + std::to_string(p.destHeight) +
         ") src (" + std::to_string(p.xSrc) + "," + std::to_string(p.ySrc) + " " + std::to_string(p.srcWidth) +
         "x" + std::to_string(p.srcHeight) + ")";
}

// What nearest-sample scaling puts into a surface of w x h that held `before` (RGB, top-down):
// each destination pixel of the rectangle takes the source pixel at the same fraction of the
// source rectangle; pixels with no source pixel inside the bitmap keep what they held.
std::vector<uint8_t> Expected(const std::vector<uint8_t>& before, int w, int h, const Bitmap& b,
                              const Placement& p) {
  std::vector<uint8_t> out = before;
  const bool mirrorX = (p.destWidth < 0) != (p.srcWidth < 0);
  const bool mirrorY = (p.destHeight < 0) != (p.srcHeight < 0);
  const int64_t dLeft = p.destWidth < 0 ? p.xDest + p.destWidth : p.xDest;
  const int64_t dTop = p.destHeight < 0 ? p.yDest + p.destHeight : p.yDest;
  const int64_t sLeft = p.srcWidth < 0 ? p.xSrc + p.srcWidth : p.xSrc;
  const int64_t sLow = p.srcHeight < 0 ? p.ySrc + p.srcHeight : p.ySrc;
  const int64_t dw = std::abs(p.destWidth), dh = std::abs(p.destHeight);
  const int64_t sw = std::abs(p.srcWidth), sh = std::abs(p.srcHeight);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (x < dLeft || x >= dLeft + dw || y < dTop || y >= dTop + dh) continue;
      const int64_t i = mirrorX ? dw - 1 - (x - dLeft) : x - dLeft;
      const int64_t j = mirrorY ? dh - 1 - (y - dTop) : y - dTop;
      const int64_t col = sLeft + i * sw / dw;
      // ySrc counts rows from the bottom of a bottom-up bitmap and from the top otherwise.
      const int64_t counted = sLow + sh - 1 - j * sh / dh;
      const int64_t fromTop = b.bottomUp ? b.height - 1 - counted : sLow + j * sh / dh;
      if (col < 0 || col >= b.width || fromTop < 0 || fromTop >= b.height) continue;
      b.Pixel(int(col), int(fromTop), &out[(size_t(y) * w + x) * 3]);
    }
  return out;
}

std::vector<uint8_t> Read(uint32_t surface) {
  std::vector<uint8_t> rgb(size_t(zorv_surface_read_pixels(surface, nullptr, 0)));
  zorv_surface_read_pixels(surface, rgb.data(), rgb.size());
  return rgb;
}

// Draws over a surface already holding a picture and compares with the model.
void Check(uint32_t surface, int w, int h, const Bitmap& b, const Placement& p) {
  const std::vector<uint8_t> before = Read(surface);
  zorv_surface_stretch_dib(surface, p.xDest, p.yDest, p.destWidth, p.destHeight, p.xSrc, p.ySrc, p.srcWidth,
                           p.srcHeight, b.bits.data(), b.header.data());
  const std::vector<uint8_t> after = Read(surface);
  const std::vector<uint8_t> want = Expected(before, w, h, b, p);
  ASSERT_EQ(after.size(), want.size());
  for (size_t i = 0; i < want.size(); i += 3)
    ASSERT_TRUE(std::memcmp(&after[i], &want[i], 3) == 0)
        << Describe(b, p) << ": pixel " << (i / 3) % w << "," << (i / 3) / w;
}

}  // namespace

TEST(SurfaceStretch, WholePictureAtItsOwnSizeIsCopiedExactly) {
  std::mt19937 rng(7);
  for (const int bitCount : {24, 32})
    for (const bool bottomUp : {true, false})
      for (const int w : {352, 353, 17}) {
        const int h = 9;
        const uint32_t s = zorv_surface_create(0, 0, w, h);
        const Bitmap b(w, h, bitCount, bottomUp, rng);
        EXPECT_EQ(zorv_surface_stretch_dib(s, 0, 0, w, h, 0, 0, w, h, b.bits.data(), b.header.data()), h);
        const std::vector<uint8_t> rgb = Read(s);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            uint8_t want[3];
            b.Pixel(x, y, want);
            ASSERT_TRUE(std::memcmp(&rgb[(size_t(y) * w + x) * 3], want, 3) == 0)
                << w << "/" << bitCount << (bottomUp ? " bottom-up " : " top-down ") << x << "," << y;
          }
        zorv_surface_destroy(s);
      }
}

TEST(SurfaceStretch, EveryPlacementMatchesNearestSampleScaling) {
  std::mt19937 rng(2026);
  const int w = 23, h = 19;
  const uint32_t s = zorv_surface_create(0, 0, w, h);
  ASSERT_NE(s, 0u);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int n = 0; n < 600; ++n) {
    // Every pixel different before drawing, so a pixel that should keep its value is seen to.
    const Bitmap noise(w, h, 24, true, rng);
    zorv_surface_stretch_dib(s, 0, 0, w, h, 0, 0, w, h, noise.bits.data(), noise.header.data());
    const Bitmap b(pick(1, 30), pick(1, 25), pick(0, 1) ? 24 : 32, pick(0, 1) == 1, rng);
    Placement p{pick(-12, 30), pick(-12, 25), pick(1, 40), pick(1, 30),
                pick(-8, b.width + 4), pick(-8, b.height + 4), pick(1, 36), pick(1, 30)};
    switch (n % 4) {
      case 0:  // same width: rows copied as runs, clipped on both sides
        p.srcWidth = p.destWidth;
        break;
      case 1:  // same size, as a decoder's picture drawn into a window of its size
        p.srcWidth = p.destWidth;
        p.srcHeight = p.destHeight;
        break;
      case 2:  // enlarged: repeated rows
        p.destWidth = p.srcWidth * pick(1, 3);
        p.destHeight = p.srcHeight * pick(2, 3);
        break;
      default:  // mirrored in either direction, any scale
        if (pick(0, 1)) p.destWidth = -p.destWidth;
        if (pick(0, 1)) p.srcHeight = -p.srcHeight;
        if (pick(0, 1)) p.srcWidth = p.destWidth;
        break;
    }
    Check(s, w, h, b, p);
    if (HasFatalFailure()) break;
  }
  zorv_surface_destroy(s);
}

#endif  // !_WIN32
