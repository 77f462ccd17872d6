// Windows as surfaces: rectangles, device contexts and StretchDIBits scaling, and one surface
// registry shared with libraries loaded at run time.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Platform.h"
#include "ZorvSurface.h"

namespace {

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// A 24-bit bitmap built from top-down RGB rows, stored bottom-up (or top-down) as a DIB.
struct Dib {
  Win::BITMAPINFO info{};
  std::vector<uint8_t> bits;
  Dib(int w, int h, const std::vector<Rgb>& topDown, bool bottomUp = true, int bitCount = 24) {
    info.bmiHeader.biSize = sizeof(Win::BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = bottomUp ? h : -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = uint16_t(bitCount);
    const int bpp = bitCount / 8;
    const int stride = (w * bpp + 3) & ~3;
    bits.assign(size_t(stride) * h, 0xEE);
    for (int y = 0; y < h; ++y) {
      uint8_t* line = &bits[size_t(bottomUp ? h - 1 - y : y) * stride];
      for (int x = 0; x < w; ++x) {
        const Rgb& c = topDown[size_t(y) * w + x];
        line[x * bpp] = c.b;
        line[x * bpp + 1] = c.g;
        line[x * bpp + 2] = c.r;
      }
    }
  }
};

std::vector<Rgb> Pixels(uint32_t surface) {
  int32_t w = 0, h = 0;
  zorv_surface_get_size(surface, &w, &h);
  std::vector<uint8_t> raw(size_t(w) * h * 3);
  EXPECT_EQ(zorv_surface_read_pixels(surface, raw.data(), raw.size()), int64_t(raw.size()));
  std::vector<Rgb> out(size_t(w) * h);
  std::memcpy(out.data(), raw.data(), raw.size());
  return out;
}

// Four distinct colours in a 2 x 2 picture: red, green / blue, white.
const std::vector<Rgb> kQuad = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
const Rgb kBlack{0, 0, 0}, kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

int Draw(uint32_t wnd, int xd, int yd, int wd, int hd, int xs, int ys, int ws, int hs, const Dib& dib) {
  Win::HDC dc = Win::GetDC(wnd);
  EXPECT_NE(dc, 0u);
  EXPECT_NE(Win::SetStretchBltMode(dc, Win::COLORONCOLOR), 0);
  int lines = Win::StretchDIBits(dc, xd, yd, wd, hd, xs, ys, ws, hs, dib.bits.data(), &dib.info,
                                 Win::DIB_RGB_COLORS, Win::SRCCOPY);
  Win::ReleaseDC(wnd, dc);
  return lines;
}

}  // namespace

TEST(PlatformSurface, WindowRectAndLifetime) {
  const uint32_t wnd = zorv_surface_create(10, 20, 64, 48);
  ASSERT_NE(wnd, 0u);
  Win::RECT r{};
  ASSERT_TRUE(Win::GetWindowRect(wnd, &r));
  EXPECT_EQ(r.right - r.left, 64);
  EXPECT_EQ(r.bottom - r.top, 48);
  int32_t w = 0, h = 0;
  EXPECT_EQ(zorv_surface_get_size(wnd, &w, &h), 0);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(zorv_surface_draw_count(wnd), 0);
  EXPECT_EQ(zorv_surface_destroy(wnd), 0);

  // A handle that names no window fails everywhere, as Windows does.
  EXPECT_FALSE(Win::GetWindowRect(wnd, &r));
  EXPECT_EQ(r.right, 0);
  EXPECT_EQ(Win::GetDC(wnd), 0u);
  const Dib dib(2, 2, kQuad);
  EXPECT_EQ(Win::StretchDIBits(0, 0, 0, 2, 2, 0, 0, 2, 2, dib.bits.data(), &dib.info, Win::DIB_RGB_COLORS,
                               Win::SRCCOPY), 0);
  EXPECT_EQ(zorv_surface_destroy(wnd), -1);
  EXPECT_EQ(zorv_surface_read_pixels(wnd, nullptr, 0), -1);
  EXPECT_EQ(zorv_surface_draw_count(wnd), -1);
  EXPECT_EQ(zorv_surface_create(0, 0, 0, 10), 0u);
  EXPECT_EQ(zorv_surface_create(0, 0, 10, ZORV_SURFACE_MAX_DIM + 1), 0u);
}

TEST(PlatformSurface, BottomUpPictureDrawnOneToOne) {
  const uint32_t wnd = zorv_surface_create(0, 0, 2, 2);
  ASSERT_NE(wnd, 0u);
  Dib dib(2, 2, kQuad);
  EXPECT_EQ(Draw(wnd, 0, 0, 2, 2, 0, 0, 2, 2, dib), 2);
  EXPECT_EQ(Pixels(wnd), kQuad);
  EXPECT_EQ(zorv_surface_draw_count(wnd), 1);
  zorv_surface_destroy(wnd);
}

TEST(PlatformSurface, RegistryIsSharedWithLoadedLibraries) {
  const uint32_t wnd = zorv_surface_create(0, 0, 3, 2);
  ASSERT_NE(wnd, 0u);
  Win::HMODULE lib = Win::LoadLibraryA((std::string(ZORV_TESTROOT) + "/PlatformTest/PlatformTest.dll").c_str());
  ASSERT_NE(lib, nullptr);
  auto fill = reinterpret_cast<int32_t (*)(uint32_t, uint8_t, uint8_t, uint8_t)>(Win::GetProcAddress(lib, "FillWindow"));
  ASSERT_NE(fill, nullptr);
  EXPECT_EQ(fill(wnd, 10, 20, 30), 0);
  EXPECT_EQ(Pixels(wnd), std::vector<Rgb>(6, Rgb{10, 20, 30}));
  Win::FreeLibrary(lib);
  zorv_surface_destroy(wnd);
}

#if !defined(_WIN32)
// Exact nearest-sample results: the in-memory surfaces only (a real GDI may place samples
// differently when scaling).
TEST(PlatformSurface, NearestSampleScaling) {
  const uint32_t wnd = zorv_surface_create(0, 0, 4, 4);
  Dib dib(2, 2, kQuad);
  EXPECT_EQ(Draw(wnd, 0, 0, 4, 4, 0, 0, 2, 2, dib), 2);
  const std::vector<Rgb> up = {kRed, kRed, kGreen, kGreen, kRed, kRed, kGreen, kGreen,
                               kBlue, kBlue, kWhite, kWhite, kBlue, kBlue, kWhite, kWhite};
  EXPECT_EQ(Pixels(wnd), up);

  // Down: a 4 x 4 picture into a 2 x 2 corner takes every second sample.
  zorv_surface_fill(wnd, 0, 0, 0);
  std::vector<Rgb> big(16);
  for (int i = 0; i < 16; ++i) big[i] = Rgb{uint8_t(i), uint8_t(100 + i), 7};
  EXPECT_EQ(Draw(wnd, 1, 1, 2, 2, 0, 0, 4, 4, Dib(4, 4, big)), 4);
  const std::vector<Rgb> px = Pixels(wnd);
  EXPECT_EQ(px[5], big[0]);
  EXPECT_EQ(px[6], big[2]);
  EXPECT_EQ(px[9], big[8]);
  EXPECT_EQ(px[10], big[10]);
  EXPECT_EQ(px[0], kBlack);
  EXPECT_EQ(px[15], kBlack);
  zorv_surface_destroy(wnd);
}

TEST(PlatformSurface, SourceRectangleOrientationClippingAndMirroring) {
  const uint32_t wnd = zorv_surface_create(0, 0, 2, 2);
  // Bottom-up: ySrc counts from the bottom row, so (0, 0, 2, 1) is the bottom row.
  Dib bottomUp(2, 2, kQuad);
  EXPECT_EQ(Draw(wnd, 0, 0, 2, 2, 0, 0, 2, 1, bottomUp), 1);
  EXPECT_EQ(Pixels(wnd), (std::vector<Rgb>{kBlue, kWhite, kBlue, kWhite}));
  // Top-down (negative height): ySrc counts from the top row.
  Dib topDown(2, 2, kQuad, false);
  EXPECT_EQ(Draw(wnd, 0, 0, 2, 2, 0, 0, 2, 1, topDown), 1);
  EXPECT_EQ(Pixels(wnd), (std::vector<Rgb>{kRed, kGreen, kRed, kGreen}));
  // 32-bit pixels and a mirrored destination.
  Dib wide(2, 2, kQuad, true, 32);
  EXPECT_EQ(Draw(wnd, 2, 0, -2, 2, 0, 0, 2, 2, wide), 2);
  EXPECT_EQ(Pixels(wnd), (std::vector<Rgb>{kGreen, kRed, kWhite, kBlue}));
  // Partly outside the window: clipped, the rest untouched.
  zorv_surface_fill(wnd, 0, 0, 0);
  EXPECT_EQ(Draw(wnd, -1, 1, 2, 2, 0, 0, 2, 2, bottomUp), 2);
  EXPECT_EQ(Pixels(wnd), (std::vector<Rgb>{kBlack, kBlack, kGreen, kBlack}));
  zorv_surface_destroy(wnd);
}

TEST(PlatformSurface, BadBitmapsDrawNothing) {
  const uint32_t wnd = zorv_surface_create(0, 0, 2, 2);
  Dib dib(2, 2, kQuad);
  Win::HDC dc = Win::GetDC(wnd);
  auto draw = [&](const Win::BITMAPINFO* info, const void* bits, int w = 2, int h = 2) {
    return Win::StretchDIBits(dc, 0, 0, w, h, 0, 0, 2, 2, bits, info, Win::DIB_RGB_COLORS, Win::SRCCOPY);
  };
  Win::BITMAPINFO info = dib.info;
  info.bmiHeader.biBitCount = 8;
  EXPECT_EQ(draw(&info, dib.bits.data()), 0);
  info = dib.info;
  info.bmiHeader.biCompression = 1;
  EXPECT_EQ(draw(&info, dib.bits.data()), 0);
  info = dib.info;
  info.bmiHeader.biWidth = 0;
  EXPECT_EQ(draw(&info, dib.bits.data()), 0);
  info.bmiHeader.biWidth = 1 << 30;
  EXPECT_EQ(draw(&info, dib.bits.data()), 0);
  EXPECT_EQ(draw(nullptr, dib.bits.data()), 0);
  EXPECT_EQ(draw(&dib.info, nullptr), 0);
  EXPECT_EQ(draw(&dib.info, dib.bits.data(), 0, 2), 0);
  EXPECT_EQ(Win::StretchDIBits(dc, 0, 0, 2, 2, 0, 0, 2, 2, dib.bits.data(), &dib.info, 1, Win::SRCCOPY), 0);
  EXPECT_EQ(Pixels(wnd), std::vector<Rgb>(4, kBlack));
  EXPECT_EQ(zorv_surface_draw_count(wnd), 0);
  zorv_surface_destroy(wnd);
}

TEST(PlatformSurface, ResizeKeepsTheOverlapAndSaveWritesABitmap) {
  const uint32_t wnd = zorv_surface_create(5, 6, 2, 2);
  Draw(wnd, 0, 0, 2, 2, 0, 0, 2, 2, Dib(2, 2, kQuad));
  ASSERT_EQ(zorv_surface_resize(wnd, 3, 1), 0);
  EXPECT_EQ(Pixels(wnd), (std::vector<Rgb>{kRed, kGreen, kBlack}));
  EXPECT_EQ(zorv_surface_resize(wnd, 0, 1), -1);
  ASSERT_EQ(zorv_surface_move(wnd, -4, 9), 0);
  Win::RECT r;
  Win::GetWindowRect(wnd, &r);
  EXPECT_EQ(r.left, -4);
  EXPECT_EQ(r.top, 9);
  EXPECT_EQ(r.right, -1);
  EXPECT_EQ(r.bottom, 10);

  const std::string path = "/tmp/zorv-surface-test-" + std::to_string(wnd) + ".bmp";
  ASSERT_EQ(zorv_surface_save_bmp(wnd, path.c_str()), 0);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  uint8_t file[80] = {};
  const size_t n = std::fread(file, 1, sizeof file, f);
  std::fclose(f);
  std::remove(path.c_str());
  ASSERT_EQ(n, 54u + 12u);  // one row of 3 pixels padded to 12 bytes
  int32_t w, h;
  std::memcpy(&w, file + 18, 4);
  std::memcpy(&h, file + 22, 4);
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(file[54 + 2], 255);  // first pixel red, stored blue-green-red
  EXPECT_EQ(file[54 + 4], 255);  // second green
  EXPECT_EQ(zorv_surface_save_bmp(wnd, "/no/such/dir/x.bmp"), -1);
  zorv_surface_destroy(wnd);
}

TEST(PlatformSurface, ConcurrentDrawingAndDestruction) {
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      Dib dib(2, 2, kQuad);
      for (int i = 0; i < 200; ++i) {
        uint32_t wnd = zorv_surface_create(0, 0, 8, 8);
        std::thread drawer([&] {
          for (int k = 0; k < 5; ++k)
            zorv_surface_stretch_dib(wnd, 0, 0, 8, 8, 0, 0, 2, 2, dib.bits.data(), &dib.info.bmiHeader);
        });
        if (i % 2) zorv_surface_destroy(wnd);  // destroyed while another thread may draw
        drawer.join();
        if (i % 2 == 0 && zorv_surface_destroy(wnd) != 0) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}
#endif
