// The stored-block PNG writer of the Windows zorvplay, checked against libpng: pictures of every
// shape come back exactly (one row, odd widths, image data filling one or two stored blocks to the
// byte, many blocks), and damage anywhere is refused by both readers.
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "PngStored.h"

namespace {

int Faults = 0;

void Fail(const std::string& What) {
  std::fprintf(stderr, "FAIL: %s\n", What.c_str());
  ++Faults;
}

std::vector<std::uint8_t> Picture(int W, int H) {
  std::vector<std::uint8_t> Rgb(static_cast<std::size_t>(W) * H * 3);
  for (std::size_t i = 0; i < Rgb.size(); ++i) Rgb[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return Rgb;
}

bool ReadWithLibpng(const std::vector<std::uint8_t>& File, int& W, int& H, std::vector<std::uint8_t>& Rgb) {
  png_image Image{};
  Image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&Image, File.data(), File.size())) return false;
  Image.format = PNG_FORMAT_RGB;
  W = static_cast<int>(Image.width);
  H = static_cast<int>(Image.height);
  Rgb.resize(PNG_IMAGE_SIZE(Image));
  const bool Ok = png_image_finish_read(&Image, nullptr, Rgb.data(), 0, nullptr) != 0;
  png_image_free(&Image);
  return Ok;
}

// Both readers must refuse the file.
void ExpectRefused(const std::vector<std::uint8_t>& File, const std::string& What) {
  int W = 0, H = 0;
  std::vector<std::uint8_t> Rgb;
  std::string Why;
  if (ReadWithLibpng(File, W, H, Rgb)) Fail("libpng read " + What);
  if (zorvplay::DecodePngStored(File, W, H, Rgb, Why)) Fail("the stored reader read " + What);
}

std::uint32_t Crc(const std::uint8_t* P, std::size_t N) {
  std::uint32_t C = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < N; ++i) {
    C ^= P[i];
    for (int k = 0; k < 8; ++k) C = (C & 1) ? 0xEDB88320u ^ (C >> 1) : C >> 1;
  }
  return ~C;
}

}  // namespace

int main() {
  // 28 x 771 and 28 x 1542: 65535 and 131070 bytes of rows, one and two blocks filled exactly.
  const int Shapes[][2] = {{1, 1}, {7, 3}, {1000, 1}, {1, 500}, {28, 771}, {28, 1542}, {714, 586}};
  for (const auto& S : Shapes) {
    const std::string Name = std::to_string(S[0]) + " x " + std::to_string(S[1]);
    const std::vector<std::uint8_t> Rgb = Picture(S[0], S[1]);
    const std::vector<std::uint8_t> File = zorvplay::EncodePngStored(S[0], S[1], Rgb);
    int W = 0, H = 0;
    std::vector<std::uint8_t> Back;
    if (!ReadWithLibpng(File, W, H, Back) || W != S[0] || H != S[1] || Back != Rgb) Fail("libpng reads " + Name);
    std::string Why;
    Back.clear();
    if (!zorvplay::DecodePngStored(File, W, H, Back, Why) || W != S[0] || H != S[1] || Back != Rgb)
      Fail("the stored reader reads " + Name + ": " + Why);
  }

  // Sizes the writer refuses rather than write a file a reader would misread.
  if (!zorvplay::EncodePngStored(0, 5, {}).empty()) Fail("a picture 0 wide written");
  if (!zorvplay::EncodePngStored(70000, 1, Picture(70000, 1)).empty()) Fail("a picture 70000 wide written");
  if (!zorvplay::EncodePngStored(4, 4, Picture(4, 3)).empty()) Fail("a picture from too few bytes written");

  // Damage: a pixel changed (chunk CRC wrong), the same with the CRC mended (the Adler-32 of the
  // image data catches it), the file cut short.
  const std::vector<std::uint8_t> Good = zorvplay::EncodePngStored(40, 30, Picture(40, 30));
  const std::size_t Idat = 8 + 25;  // signature, IHDR chunk
  const std::size_t IdatLen = static_cast<std::size_t>(Good[Idat]) << 24 | Good[Idat + 1] << 16 | Good[Idat + 2] << 8 |
                              Good[Idat + 3];
  std::vector<std::uint8_t> Bad = Good;
  Bad[Idat + 8 + 200] ^= 0x10;
  ExpectRefused(Bad, "a pixel changed under the chunk CRC");
  const std::uint32_t Mended = Crc(&Bad[Idat + 4], IdatLen + 4);
  for (int i = 0; i < 4; ++i) Bad[Idat + 8 + IdatLen + i] = static_cast<std::uint8_t>(Mended >> (24 - 8 * i));
  ExpectRefused(Bad, "a pixel changed under the Adler-32");
  ExpectRefused(std::vector<std::uint8_t>(Good.begin(), Good.end() - 20), "a file cut short");

  if (Faults == 0) std::printf("stored-block PNG: all pictures read back by libpng; damage refused\n");
  return Faults == 0 ? 0 : 1;
}
