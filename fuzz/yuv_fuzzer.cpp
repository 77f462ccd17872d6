// Fuzz target "yuv": the colour conversion and the BMP images, any size from 0 x 0 to
// 4096 x 4096, odd sizes too, every processor kernel the conversion picks.
//
// Input: width (16 bits, taken modulo 4097), height (likewise), a mode byte, then picture
// bytes, repeated to fill a picture of exactly the size the form needs (so a read past it is
// seen). The mode's five high bits bound the picture's area, by cutting its height: all set,
// no bound; the top three set, 512 x 512 pixels; otherwise 128 x 128. Every width and height
// still comes up, and most runs stay short (a 4096 x 4096 picture takes a large part of a
// second here). Modes: 0 contiguous picture converted, 1 separate planes converted, 2 written
// as a BMP file, 3 drawn by a renderer and read back as a BMP image, 4 converted to a BMP image
// in memory.
// Pictures up to 256 x 256 are also checked pixel by pixel against the integer formula, and every
// output byte the conversion must leave alone is checked to be untouched.
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "Platform.h"
#include "U_SimpleDrawYuv.h"
#include "U_YuvConvert.h"
#include "ZorvSurface.h"

namespace {

constexpr std::uint8_t Untouched = 0xA5;

std::vector<std::uint8_t> Fill(TFuzzInput& In, std::size_t Size) {
  std::vector<std::uint8_t> Pattern = In.Take(In.Remaining() < 4096 ? In.Remaining() : 4096);
  if (Pattern.empty()) Pattern.push_back(0x80);
  std::vector<std::uint8_t> Out;
  Out.reserve(Size ? Size : 1);  // never a null data pointer, even for an empty picture
  Out.resize(Size);
  // The pattern once, then what is filled so far copied after itself, doubling each time.
  std::size_t Done = Size < Pattern.size() ? Size : Pattern.size();
  if (Done) std::memcpy(Out.data(), Pattern.data(), Done);
  while (Done < Size) {
    const std::size_t Step = Size - Done < Done ? Size - Done : Done;
    std::memcpy(Out.data() + Done, Out.data(), Step);
    Done += Step;
  }
  return Out;
}

std::uint8_t Clamp(int V) { return static_cast<std::uint8_t>(V < 0 ? 0 : V > 255 ? 255 : V); }

// The conversion's own definition, one pixel at a time.
void CheckAgainstFormula(const std::uint8_t* Y, const std::uint8_t* Cb, const std::uint8_t* Cr,
                         const std::uint8_t* Out, int W, int H) {
  const std::int64_t Stride = Rgb24Stride(W);
  for (int Row = 0; Row < H; ++Row)
    for (int Col = 0; Col < W; ++Col) {
      const std::uint8_t* Pixel = Out + (H - 1 - Row) * Stride + 3 * Col;
      const bool Converted = H >= 2 && W >= 2 && Row < H / 2 * 2 && Col < W / 2 * 2;
      if (!Converted) {
        FUZZ_CHECK(Pixel[0] == Untouched && Pixel[1] == Untouched && Pixel[2] == Untouched, Row, Col);
        continue;
      }
      const int U = Cb[(Row / 2) * (W / 2) + Col / 2] - 128;
      const int V = Cr[(Row / 2) * (W / 2) + Col / 2] - 128;
      const int L = (Y[static_cast<std::size_t>(Row) * W + Col] - 16) * 1164;
      const int B = Clamp((L + U * 2018) / 1000);
      const int G = Clamp((L - V * 813 - U * 391) / 1000);
      const int R = Clamp((L + V * 1596) / 1000);
      FUZZ_CHECK(Pixel[0] == B && Pixel[1] == G && Pixel[2] == R, Row * 10000 + Col, Pixel[0] * 65536 + Pixel[1] * 256 + Pixel[2]);
    }
  // Row padding is never written.
  for (int Row = 0; Row < H; ++Row)
    for (std::int64_t i = 3 * static_cast<std::int64_t>(W); i < Stride; ++i)
      FUZZ_CHECK(Out[Row * Stride + i] == Untouched, Row, i);
}

void CheckBmp(const std::vector<std::uint8_t>& Image, int W, int H) {
  if (W == 0 || H == 0) return;
  const std::int64_t Expected = 54 + Rgb24ImageSize(W, H);
  FUZZ_CHECK(static_cast<std::int64_t>(Image.size()) == Expected, Image.size(), Expected);
  FUZZ_CHECK(Image[0] == 'B' && Image[1] == 'M');
  std::int32_t Width = 0, Height = 0;
  std::memcpy(&Width, Image.data() + 18, 4);
  std::memcpy(&Height, Image.data() + 22, 4);
  FUZZ_CHECK(Width == W && Height == H, Width, Height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzProcessSetUp();
  TFuzzInput In(Data, Size);
  const int W = In.U16() % 4097;
  int H = In.U16() % 4097;
  const std::uint8_t Mode = In.U8();
  const int Area = (Mode & 0xF8) == 0xF8 ? 0 : (Mode & 0xE0) == 0xE0 ? 512 * 512 : 128 * 128;
  if (Area && W > 0) H %= Area / W + 1;
  const std::size_t Luma = static_cast<std::size_t>(W) * H;
  const std::size_t Chroma = static_cast<std::size_t>(W / 2) * (H / 2);
  const std::int64_t ImageBytes = Rgb24ImageSize(W, H);
  const bool Small = W <= 256 && H <= 256;

  switch (Mode % 5) {
    case 0: {
      std::vector<std::uint8_t> Picture = Fill(In, Luma * 3 / 2);
      std::unique_ptr<std::uint8_t[]> Out(new std::uint8_t[ImageBytes ? ImageBytes : 1]);
      if (Small) std::memset(Out.get(), Untouched, static_cast<std::size_t>(ImageBytes));
      FUZZ_CHECK(YUV420ToRGB24(Picture.data(), nullptr, nullptr, nullptr, Out.get(), W, H) == 0);
      if (Small && Luma > 0) {
        // YV12: Cr follows the luma plane, Cb comes a quarter of the luma size after it.
        const std::uint8_t* Y = Picture.data();
        CheckAgainstFormula(Y, Y + Luma + Luma / 4, Y + Luma, Out.get(), W, H);
      }
      break;
    }
    case 1: {
      std::vector<std::uint8_t> Y = Fill(In, Luma), Cb = Fill(In, Chroma), Cr = Fill(In, Chroma);
      std::unique_ptr<std::uint8_t[]> Out(new std::uint8_t[ImageBytes ? ImageBytes : 1]);
      if (Small) std::memset(Out.get(), Untouched, static_cast<std::size_t>(ImageBytes));
      FUZZ_CHECK(YUV420ToRGB24(nullptr, Y.data(), Cb.data(), Cr.data(), Out.get(), W, H) == 0);
      if (Small && Luma > 0) CheckAgainstFormula(Y.data(), Cb.data(), Cr.data(), Out.get(), W, H);
      break;
    }
    case 2: {
      static const std::string File = FuzzTempPath("yuv.bmp");
      std::vector<std::uint8_t> Picture = Fill(In, Luma * 3 / 2);
      const int Written = SaveYUVAsBmp(Picture.data(), W, H, File.c_str());
      FUZZ_CHECK(Written == 54 + ImageBytes, Written, ImageBytes);
      break;
    }
    case 3: {
      static const std::uint32_t Window = zorv_surface_create(0, 0, 64, 48);
      static TSimpleDrawYUV* Renderer = new TSimpleDrawYUV;
      std::vector<std::uint8_t> Y = Fill(In, Luma), Cb = Fill(In, Chroma), Cr = Fill(In, Chroma);
      FUZZ_CHECK(Renderer->DrawToWindow(Window, Y.data(), Cb.data(), Cr.data(), W, H, nullptr) == 0);
      const std::vector<std::uint8_t> Image = Renderer->GetBmpImage();
      FUZZ_CHECK(Image.empty() == (Luma == 0), Image.size(), Luma);
      CheckBmp(Image, W, H);
      break;
    }
    default: {
      std::vector<std::uint8_t> Picture = Fill(In, Luma * 3 / 2);
      const std::vector<std::uint8_t> Image = YV12ToBmpImage(Picture.data(), W, H);
      CheckBmp(Image, W, H);
      break;
    }
  }
  return 0;
}
