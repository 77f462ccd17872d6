// TSimpleDrawYUV: draws YUV 4:2:0 pictures into one window with the built-in conversion and
// GDI StretchDIBits, and keeps the last picture for BMP snapshots. One per MPEG-4 port; used
// only from the thread that feeds that port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Platform.h"

class TSimpleDrawYUV {
 public:
  // Bytes of the picture buffer held from construction: a 704 x 576 picture.
  static constexpr std::size_t kInitialBufferSize = 704 * 576 * 3;  // 1,216,512

  TSimpleDrawYUV();  // unbound: FWnd = 0
  ~TSimpleDrawYUV();  // releases the device context of the bound window
  TSimpleDrawYUV(const TSimpleDrawYUV&) = delete;
  TSimpleDrawYUV& operator=(const TSimpleDrawYUV&) = delete;

  // Binds to a window: records its rectangle and takes its device context, releasing the
  // device context of the window bound before. Returns 0.
  int Init(Win::HWND window);

  // Rebinds with Init when `window` is not the bound window, then Draw(destRect, nullptr, y,
  // cb, cr, width, height). Returns Draw's result.
  int DrawToWindow(Win::HWND window, const std::uint8_t* y, const std::uint8_t* cb,
                   const std::uint8_t* cr, int width, int height, const Win::RECT* destRect);

  // As DrawToWindow for planes whose rows lie yStride and chromaStride bytes apart (a
  // decoder's own picture, drawn without packing it first). Strides shorter than the rows
  // draw nothing and return -1.
  int DrawPlanesToWindow(Win::HWND window, const std::uint8_t* y, int yStride, const std::uint8_t* cb,
                         const std::uint8_t* cr, int chromaStride, int width, int height);

  // Converts the picture into the picture buffer and stretches it to destRect (null: the
  // whole window). `contiguous`, when not null, is a YV12 picture replacing the three planes.
  // A picture of height < 2 converts nothing and shows the buffer as it was. Returns 0; -1
  // for a negative size or a picture too large to hold (nothing drawn, last picture kept).
  // A picture larger than 704 x 576 grows the buffer instead of overflowing it.
  int Draw(const Win::RECT* destRect, const std::uint8_t* contiguous, const std::uint8_t* y,
           const std::uint8_t* cb, const std::uint8_t* cr, int width, int height);

  // BMP file image of the last drawn picture; empty when FPicWidth x FPicHeight is 0.
  std::vector<std::uint8_t> GetBmpImage() const;

  Win::HWND Window() const { return FWnd; }
  int PicWidth() const { return FPicWidth; }
  int PicHeight() const { return FPicHeight; }
  std::size_t BufferSize() const { return FRGBBuffer.size(); }

 private:
  // Makes room for a width x height picture: its image size, or -1 (negative or too large).
  std::int64_t Reserve(int width, int height);
  // Records the picture size and stretches the converted picture to destRect. Returns 0.
  int Show(const Win::RECT* destRect, int width, int height, std::int64_t imageSize);

  Win::HWND FWnd = 0;                  // bound window; 0 until Init
  std::vector<std::uint8_t> FRGBBuffer;  // converted picture, bottom-up BGR rows
  Win::HDC FDC = 0;                    // GetDC(FWnd), owned
  Win::RECT FWindowRect{};             // window rectangle recorded at binding
  int FPicWidth = 0;                   // size of the last drawn picture; 0 until the first Draw
  int FPicHeight = 0;
};
