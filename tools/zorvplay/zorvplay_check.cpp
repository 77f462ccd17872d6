// zorvplay_check: looks at what a zorvplay run wrote.
//
//   zorvplay_check MOSAIC.png CHANNELS TILE_W TILE_H SNAPSHOT.bmp WIDTH HEIGHT
//
// Every channel tile of the mosaic must show a picture (not one flat colour), and the snapshot
// must be a BMP of the stream's size. Exit 0 when all holds, 1 otherwise (each fault printed).
// The Linux build reads the mosaic with libpng; the Windows build, which has no PNG library,
// reads the stored-block form the Windows zorvplay writes.
#ifdef ZORVPLAY_CHECK_LIBPNG
#include <png.h>
#else
#include "PngStored.h"
#endif

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kGap = 2;  // as zorvplay lays the tiles out

#ifdef ZORVPLAY_CHECK_LIBPNG
bool ReadPng(const char* Path, int& W, int& H, std::vector<std::uint8_t>& Rgb) {
  png_image Image{};
  Image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&Image, Path)) return false;
  Image.format = PNG_FORMAT_RGB;
  W = static_cast<int>(Image.width);
  H = static_cast<int>(Image.height);
  Rgb.resize(PNG_IMAGE_SIZE(Image));
  const bool Ok = png_image_finish_read(&Image, nullptr, Rgb.data(), 0, nullptr) != 0;
  png_image_free(&Image);
  return Ok;
}
#else
bool ReadPng(const char* Path, int& W, int& H, std::vector<std::uint8_t>& Rgb) {
  std::ifstream In(Path, std::ios::binary);
  const std::vector<std::uint8_t> File((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  std::string Why;
  if (zorvplay::DecodePngStored(File, W, H, Rgb, Why)) return true;
  std::fprintf(stderr, "%s: %s\n", Path, Why.c_str());
  return false;
}
#endif

std::int32_t ReadI32(const std::vector<std::uint8_t>& B, std::size_t At) {
  return static_cast<std::int32_t>(B[At] | B[At + 1] << 8 | B[At + 2] << 16 | static_cast<std::uint32_t>(B[At + 3]) << 24);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) {
    std::fprintf(stderr, "usage: zorvplay_check MOSAIC.png CHANNELS TILE_W TILE_H SNAPSHOT.bmp WIDTH HEIGHT\n");
    return 2;
  }
  const int Channels = std::atoi(argv[2]), TileW = std::atoi(argv[3]), TileH = std::atoi(argv[4]);
  const int Width = std::atoi(argv[6]), Height = std::atoi(argv[7]);
  int Faults = 0;

  int W = 0, H = 0;
  std::vector<std::uint8_t> Rgb;
  const int Cols = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(Channels))));
  const int Rows = (Channels + Cols - 1) / Cols;
  if (!ReadPng(argv[1], W, H, Rgb)) {
    std::fprintf(stderr, "%s: not a readable PNG\n", argv[1]);
    ++Faults;
  } else if (W != Cols * TileW + (Cols + 1) * kGap || H != Rows * TileH + (Rows + 1) * kGap) {
    std::fprintf(stderr, "%s: %d x %d is not a %d x %d wall of %d x %d tiles\n", argv[1], W, H, Cols, Rows, TileW, TileH);
    ++Faults;
  } else {
    for (int c = 0; c < Channels; ++c) {
      const int X0 = kGap + (c % Cols) * (TileW + kGap), Y0 = kGap + (c / Cols) * (TileH + kGap);
      int Low = 255, High = 0;
      for (int y = 0; y < TileH; ++y)
        for (int x = 0; x < TileW; ++x) {
          const std::uint8_t* P = &Rgb[(static_cast<std::size_t>(Y0 + y) * W + X0 + x) * 3];
          const int Luma = (P[0] * 3 + P[1] * 6 + P[2]) / 10;
          Low = Luma < Low ? Luma : Low;
          High = Luma > High ? Luma : High;
        }
      if (High - Low < 16) {
        std::fprintf(stderr, "%s: tile of channel %d is blank (luma %d..%d)\n", argv[1], c, Low, High);
        ++Faults;
      }
    }
  }

  std::ifstream In(argv[5], std::ios::binary);
  const std::vector<std::uint8_t> Bmp((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  if (Bmp.size() < 54 || Bmp[0] != 'B' || Bmp[1] != 'M') {
    std::fprintf(stderr, "%s: not a BMP\n", argv[5]);
    ++Faults;
  } else if (ReadI32(Bmp, 18) != Width || std::abs(ReadI32(Bmp, 22)) != Height) {
    std::fprintf(stderr, "%s: %d x %d, the stream is %d x %d\n", argv[5], ReadI32(Bmp, 18), ReadI32(Bmp, 22), Width,
                 Height);
    ++Faults;
  } else if (static_cast<std::size_t>(ReadI32(Bmp, 2)) != Bmp.size()) {
    std::fprintf(stderr, "%s: header says %d bytes, the file has %zu\n", argv[5], ReadI32(Bmp, 2), Bmp.size());
    ++Faults;
  }
  if (Faults == 0) std::printf("mosaic: %d tiles with pictures; snapshot: %d x %d\n", Channels, Width, Height);
  return Faults == 0 ? 0 : 1;
}
