// TSimpleDrawYUV drawing a decoder's planes in place (rows apart by their strides) makes the
// same picture, window and snapshot as drawing the same planes packed.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "U_SimpleDrawYuv.h"
#include "ZorvSurface.h"

namespace {

struct Planes {
  int Width, Height, YStride, CStride;
  std::vector<std::uint8_t> Y, Cb, Cr;           // with their strides
  std::vector<std::uint8_t> PY, PCb, PCr;        // packed
  Planes(int W, int H, int YPad, int CPad, std::mt19937& Rng)
      : Width(W), Height(H), YStride(W + YPad), CStride(W / 2 + CPad) {
    const int CH = (H + 1) / 2;
    Y.resize(std::size_t(YStride) * H);
    Cb.resize(std::size_t(CStride) * CH);
    Cr.resize(Cb.size());
    for (auto* P : {&Y, &Cb, &Cr})
      for (auto& B : *P) B = std::uint8_t(Rng());
    for (int R = 0; R < H; ++R) PY.insert(PY.end(), &Y[std::size_t(R) * YStride], &Y[std::size_t(R) * YStride] + W);
    for (int R = 0; R < H / 2; ++R) {
      PCb.insert(PCb.end(), &Cb[std::size_t(R) * CStride], &Cb[std::size_t(R) * CStride] + W / 2);
      PCr.insert(PCr.end(), &Cr[std::size_t(R) * CStride], &Cr[std::size_t(R) * CStride] + W / 2);
    }
  }
};

std::vector<std::uint8_t> Pixels(std::uint32_t Wnd) {
  std::vector<std::uint8_t> Rgb(std::size_t(zorv_surface_read_pixels(Wnd, nullptr, 0)));
  zorv_surface_read_pixels(Wnd, Rgb.data(), Rgb.size());
  return Rgb;
}

}  // namespace

TEST(SimpleDrawYuvPlanes, SamePictureAsDrawingThemPacked) {
  std::mt19937 Rng(11);
  const int Sizes[][4] = {{352, 288, 32, 48}, {352, 288, 0, 0}, {353, 289, 31, 7}, {64, 2, 0, 16},
                          {2, 2, 14, 15},     {18, 1, 6, 6},     {705, 577, 63, 1}};
  for (const auto& S : Sizes) {
    SCOPED_TRACE(testing::Message() << S[0] << "x" << S[1] << " +" << S[2] << " +" << S[3]);
    const Planes P(S[0], S[1], S[2], S[3], Rng);
    const std::uint32_t A = zorv_surface_create(0, 0, S[0], S[1]), B = zorv_surface_create(0, 0, S[0], S[1]);
    TSimpleDrawYUV InPlace, FromPacked;
    EXPECT_EQ(InPlace.DrawPlanesToWindow(A, P.Y.data(), P.YStride, P.Cb.data(), P.Cr.data(), P.CStride, S[0], S[1]), 0);
    EXPECT_EQ(FromPacked.DrawToWindow(B, P.PY.data(), P.PCb.data(), P.PCr.data(), S[0], S[1], nullptr), 0);
    EXPECT_EQ(InPlace.PicWidth(), S[0]);
    EXPECT_EQ(InPlace.PicHeight(), S[1]);
    EXPECT_TRUE(InPlace.GetBmpImage() == FromPacked.GetBmpImage());
    EXPECT_TRUE(Pixels(A) == Pixels(B));
    EXPECT_EQ(zorv_surface_draw_count(A), 1);
    zorv_surface_destroy(A);
    zorv_surface_destroy(B);
  }
}

TEST(SimpleDrawYuvPlanes, StridesShorterThanTheRowsDrawNothing) {
  std::mt19937 Rng(12);
  const Planes P(64, 4, 0, 0, Rng);
  const std::uint32_t Wnd = zorv_surface_create(0, 0, 64, 4);
  TSimpleDrawYUV Renderer;
  EXPECT_EQ(Renderer.DrawPlanesToWindow(Wnd, P.Y.data(), 63, P.Cb.data(), P.Cr.data(), 32, 64, 4), -1);
  EXPECT_EQ(Renderer.DrawPlanesToWindow(Wnd, P.Y.data(), 64, P.Cb.data(), P.Cr.data(), 31, 64, 4), -1);
  EXPECT_EQ(Renderer.DrawPlanesToWindow(Wnd, P.Y.data(), -64, P.Cb.data(), P.Cr.data(), 32, 64, 4), -1);
  EXPECT_EQ(zorv_surface_draw_count(Wnd), 0);
  EXPECT_EQ(Renderer.PicWidth(), 0);
  zorv_surface_destroy(Wnd);
}
