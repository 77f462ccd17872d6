// TSimpleDrawYUV: built-in conversion into its own picture buffer, then StretchDIBits.
#include "U_SimpleDrawYuv.h"

#include <new>

#include "U_YuvConvert.h"
#include "U_YuvConvertKernels.h"

TSimpleDrawYUV::TSimpleDrawYUV() : FRGBBuffer(kInitialBufferSize) {}

TSimpleDrawYUV::~TSimpleDrawYUV() {
  if (FWnd != 0) Win::ReleaseDC(FWnd, FDC);
}

int TSimpleDrawYUV::Init(Win::HWND window) {
  if (FWnd != 0) Win::ReleaseDC(FWnd, FDC);
  FWnd = window;
  FWindowRect = Win::RECT{};
  Win::GetWindowRect(window, &FWindowRect);
  FDC = Win::GetDC(window);
  return 0;
}

int TSimpleDrawYUV::DrawToWindow(Win::HWND window, const std::uint8_t* y, const std::uint8_t* cb,
                                 const std::uint8_t* cr, int width, int height,
                                 const Win::RECT* destRect) {
  if (window != FWnd) Init(window);
  return Draw(destRect, nullptr, y, cb, cr, width, height);
}

int TSimpleDrawYUV::DrawPlanesToWindow(Win::HWND window, const std::uint8_t* y, int yStride,
                                       const std::uint8_t* cb, const std::uint8_t* cr,
                                       int chromaStride, int width, int height) {
  if (width < 0 || height < 0 || yStride < width || chromaStride < width / 2) return -1;
  if (yStride == width && chromaStride == width / 2)
    return DrawToWindow(window, y, cb, cr, width, height, nullptr);
  if (window != FWnd) Init(window);
  const std::int64_t imageSize = Reserve(width, height);
  if (imageSize < 0) return -1;
  // The conversion of YUV420ToRGB24 (same kernel, same bytes) reading rows at their strides:
  // bottom-up, picture row 0 is the image's last row.
  if (y && cb && cr && width >= 2 && height >= 2) {
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(Rgb24Stride(width));
    YuvConvert::Rows rows;
    rows.y = y;
    rows.cb = cb;
    rows.cr = cr;
    rows.lumaStride = yStride;
    rows.chromaStride = chromaStride;
    rows.out = FRGBBuffer.data() + static_cast<std::ptrdiff_t>(height - 1) * stride;
    rows.outStride = -stride;
    rows.pairs = width / 2;
    rows.rowPairs = height / 2;
    YuvConvert::ConvertRows(YuvConvert::BestKernel(), rows);
  }
  return Show(nullptr, width, height, imageSize);
}

std::int64_t TSimpleDrawYUV::Reserve(int width, int height) {
  if (width < 0 || height < 0) return -1;
  // The buffer starts at 704 x 576; a larger picture grows it rather than overflowing it.
  const std::int64_t imageSize = Rgb24ImageSize(width, height);
  if (static_cast<std::uint64_t>(imageSize) > FRGBBuffer.size()) {
    if (static_cast<std::uint64_t>(imageSize) > FRGBBuffer.max_size() ||
        imageSize > std::int64_t{0x7FFFFFFF})
      return -1;
    try {
      FRGBBuffer.resize(static_cast<std::size_t>(imageSize));
    } catch (const std::bad_alloc&) {
      return -1;
    }
  }
  return imageSize;
}

int TSimpleDrawYUV::Draw(const Win::RECT* destRect, const std::uint8_t* contiguous,
                         const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                         int width, int height) {
  const std::int64_t imageSize = Reserve(width, height);
  if (imageSize < 0) return -1;
  YUV420ToRGB24(contiguous, y, cb, cr, FRGBBuffer.data(), width, height);
  return Show(destRect, width, height, imageSize);
}

int TSimpleDrawYUV::Show(const Win::RECT* destRect, int width, int height, std::int64_t imageSize) {
  FPicWidth = width;
  FPicHeight = height;
  if (width == 0 || height == 0) return 0;

  Win::RECT dest{};
  if (destRect != nullptr) {
    dest = *destRect;
  } else {
    // The window may have been resized since binding: take its rectangle now.
    Win::RECT window = FWindowRect;
    if (FWnd != 0 && Win::GetWindowRect(FWnd, &window)) FWindowRect = window;
    dest = Win::RECT{0, 0, window.right - window.left, window.bottom - window.top};
  }

  Win::BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(Win::BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = 0;
  info.bmiHeader.biSizeImage = static_cast<std::uint32_t>(imageSize);
  Win::SetStretchBltMode(FDC, Win::COLORONCOLOR);
  Win::StretchDIBits(FDC, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, 0,
                     0, width, height, FRGBBuffer.data(), &info, Win::DIB_RGB_COLORS,
                     Win::SRCCOPY);
  return 0;
}

std::vector<std::uint8_t> TSimpleDrawYUV::GetBmpImage() const {
  if (static_cast<std::int64_t>(FPicWidth) * FPicHeight == 0) return {};
  return MakeBmpImage(FRGBBuffer.data(), FPicWidth, FPicHeight);
}
