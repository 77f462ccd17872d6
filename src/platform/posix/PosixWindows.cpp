// Windows and GDI on POSIX: a window is an in-memory surface (libzorvsurface), its device
// context is its handle, and StretchDIBits draws into it by nearest sample.
#include "Platform.h"
#include "ZorvSurface.h"

namespace Win {

BOOL GetWindowRect(HWND wnd, RECT* rect) {
  if (!rect) return 0;
  int32_t l, t, r, b;
  if (zorv_surface_get_rect(wnd, &l, &t, &r, &b) != 0) {
    *rect = RECT{0, 0, 0, 0};
    return 0;
  }
  *rect = RECT{l, t, r, b};
  return 1;
}

HDC GetDC(HWND wnd) {
  int32_t w, h;
  return zorv_surface_get_size(wnd, &w, &h) == 0 ? HDC(wnd) : 0;
}

int ReleaseDC(HWND, HDC dc) { return dc ? 1 : 0; }

// Surfaces always scale by nearest sample (COLORONCOLOR); the mode is checked, not kept.
int SetStretchBltMode(HDC dc, int mode) {
  if (!dc || mode < 1 || mode > 4) return 0;
  return COLORONCOLOR;
}

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage,
                  DWORD /*rop*/) {
  if (!dc || !info || usage != DIB_RGB_COLORS || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER))
    return 0;
  return zorv_surface_stretch_dib(std::uint32_t(dc), xDest, yDest, destWidth, destHeight, xSrc, ySrc,
                                  srcWidth, srcHeight, bits, &info->bmiHeader);
}

// Surfaces have no window messages to process.
void ProcessMessages() {}

}  // namespace Win
