// Drawing a decoded picture into a host window through the window-surface functions
// (ZorvSurface.h): real GDI windows on Windows, in-memory surfaces elsewhere. Both scale the picture to the whole window as
// StretchDIBits in COLORONCOLOR mode does.
#include <cstring>

#include "StandinKit.h"
#include "ZrvStream.h"

#if defined(ZORV_STANDIN_HAVE_SURFACE)
#include "ZorvSurface.h"
#endif

namespace kit {
namespace {

struct DibInfo {
  std::uint32_t biSize;
  std::int32_t biWidth;
  std::int32_t biHeight;
  std::uint16_t biPlanes;
  std::uint16_t biBitCount;
  std::uint32_t biCompression;
  std::uint32_t biSizeImage;
  std::int32_t biXPelsPerMeter;
  std::int32_t biYPelsPerMeter;
  std::uint32_t biClrUsed;
  std::uint32_t biClrImportant;
  std::uint32_t colors[1];
};

}  // namespace

bool DrawYuv(std::uint32_t wnd, const std::uint8_t* yuv, int width, int height) {
  if (wnd == 0 || yuv == nullptr || !zrv::ValidDimensions(width, height)) return false;
  std::vector<std::uint8_t> dib = zrv::YuvToDib24(yuv, width, height);
  DibInfo info;
  std::memset(&info, 0, sizeof info);
  info.biSize = 40;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biSizeImage = static_cast<std::uint32_t>(dib.size());
#if defined(ZORV_STANDIN_HAVE_SURFACE)
  std::int32_t w = 0;
  std::int32_t h = 0;
  if (zorv_surface_get_size(wnd, &w, &h) != 0) return false;
  return zorv_surface_stretch_dib(wnd, 0, 0, w, h, 0, 0, width, height, dib.data(), &info) > 0;
#else
  return false;
#endif
}

}  // namespace kit
