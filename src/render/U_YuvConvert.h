// Picture arithmetic shared by the renderers: planar YUV 4:2:0 to bottom-up 24-bit RGB, and
// BMP file images of such pictures (in memory and in files).
//
// Picture forms:
//  - separate planes: luma w x h, Cb and Cr (w/2) x (h/2), each tightly packed;
//  - one contiguous YV12 buffer of w*h*3/2 bytes: luma at 0, Cr at w*h, Cb at w*h + (w*h)/4.
// RGB image: blue, green, red per pixel; rows bottom-up; each row Rgb24Stride(w) bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes of one image row: 3 * width rounded up to a multiple of 4 (0 for width <= 0).
constexpr std::int64_t Rgb24Stride(std::int64_t width) {
  return width <= 0 ? 0 : (width * 3 + 3) & ~std::int64_t{3};
}

// Bytes of the whole RGB image (stride x height; 0 for a non-positive size).
constexpr std::int64_t Rgb24ImageSize(std::int64_t width, std::int64_t height) {
  return height <= 0 ? 0 : Rgb24Stride(width) * height;
}

constexpr std::size_t kBmpHeaderSize = 54;  // 14-byte file header + 40-byte info header

// Converts a YUV 4:2:0 picture into `out` (Rgb24ImageSize(width, height) bytes), rows
// bottom-up. `contiguous`, when not null, replaces y, cb and cr by the planes of the YV12
// layout. Integer BT.601 arithmetic with coefficients scaled by 1000 (division truncating
// toward zero, results clamped to 0..255); one chroma pair per 2 x 2 luma block.
// Height < 2 or width < 2 writes nothing; with an odd width the last column, with an odd
// height the last row is not converted: those output bytes, and the row padding, keep what
// they held. Always returns 0.
int YUV420ToRGB24(const std::uint8_t* contiguous, const std::uint8_t* y, const std::uint8_t* cb,
                  const std::uint8_t* cr, std::uint8_t* out, int width, int height);

// Writes the 54-byte BMP header of a width x height 24-bit bottom-up image into dest.
void WriteBmpHeader(std::uint8_t* dest, int width, int height);

// BMP file image (header + pixel rows) of an RGB image laid out as above. Empty when width or
// height is negative or the image would not fit a BMP's 32-bit sizes.
std::vector<std::uint8_t> MakeBmpImage(const std::uint8_t* rgb, int width, int height);

// BMP file image of a contiguous YV12 picture. Bytes the conversion leaves alone (odd last
// column or row, row padding) are zero. Empty as MakeBmpImage, and for a null picture.
std::vector<std::uint8_t> YV12ToBmpImage(const std::uint8_t* picture, int width, int height);

// Writes a contiguous YV12 picture as a BMP file, replacing an existing file. Returns the
// number of bytes written; -1 when the file cannot be created or written; 0 when no image
// could be made (memory, a null picture, a negative size or one too large for a BMP).
int SaveYUVAsBmp(const std::uint8_t* picture, int width, int height, const char* fileName);
