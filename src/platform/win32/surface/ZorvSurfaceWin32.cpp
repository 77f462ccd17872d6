// The surface functions over real windows: a surface is a visible borderless top-level window
// of the calling thread; drawing and reading go through its device context.
#include "ZorvSurface.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char kClassName[] = "ZorvSurfaceWindow";
const char kDrawCount[] = "ZorvDrawCount";

LRESULT CALLBACK SurfaceProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;  // the picture drawn into the window stays
    case WM_PAINT: {
      PAINTSTRUCT ps;
      ::BeginPaint(wnd, &ps);
      ::EndPaint(wnd, &ps);
      return 0;
    }
    default:
      return ::DefWindowProcA(wnd, msg, wParam, lParam);
  }
}

bool RegisterSurfaceClass() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = SurfaceProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    return ::RegisterClassA(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

HWND Wnd(uint32_t surface) {
  HWND wnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(surface));
  return surface && ::IsWindow(wnd) ? wnd : nullptr;
}

bool ValidSize(int32_t w, int32_t h) {
  return w > 0 && h > 0 && w <= ZORV_SURFACE_MAX_DIM && h <= ZORV_SURFACE_MAX_DIM;
}

void PumpMessages() {
  MSG m;
  while (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      ::PostQuitMessage(int(m.wParam));
      break;
    }
    ::TranslateMessage(&m);
    ::DispatchMessageA(&m);
  }
}

}  // namespace

extern "C" {

uint32_t zorv_surface_create(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (!ValidSize(width, height) || !RegisterSurfaceClass()) return 0;
  HWND wnd = ::CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kClassName, "ZorvSurface", WS_POPUP, left,
                               top, width, height, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  if (!wnd) return 0;
  ::ShowWindow(wnd, SW_SHOWNOACTIVATE);
  PumpMessages();
  uint32_t handle = uint32_t(reinterpret_cast<uintptr_t>(wnd));
  zorv_surface_fill(handle, 0, 0, 0);
  ::SetPropA(wnd, kDrawCount, nullptr);
  return handle;
}

int32_t zorv_surface_destroy(uint32_t surface) {
  HWND wnd = Wnd(surface);
  if (!wnd) return -1;
  ::RemovePropA(wnd, kDrawCount);
  return ::DestroyWindow(wnd) ? 0 : -1;
}

int32_t zorv_surface_resize(uint32_t surface, int32_t width, int32_t height) {
  HWND wnd = Wnd(surface);
  if (!wnd || !ValidSize(width, height)) return -1;
  return ::SetWindowPos(wnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE) ? 0 : -1;
}

int32_t zorv_surface_move(uint32_t surface, int32_t left, int32_t top) {
  HWND wnd = Wnd(surface);
  if (!wnd) return -1;
  return ::SetWindowPos(wnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) ? 0 : -1;
}

int32_t zorv_surface_get_rect(uint32_t surface, int32_t* left, int32_t* top, int32_t* right,
                              int32_t* bottom) {
  HWND wnd = Wnd(surface);
  RECT r;
  if (!wnd || !::GetWindowRect(wnd, &r)) return -1;
  if (left) *left = r.left;
  if (top) *top = r.top;
  if (right) *right = r.right;
  if (bottom) *bottom = r.bottom;
  return 0;
}

int32_t zorv_surface_get_size(uint32_t surface, int32_t* width, int32_t* height) {
  HWND wnd = Wnd(surface);
  RECT r;
  if (!wnd || !::GetClientRect(wnd, &r)) return -1;
  if (width) *width = r.right - r.left;
  if (height) *height = r.bottom - r.top;
  return 0;
}

int64_t zorv_surface_read_pixels(uint32_t surface, uint8_t* rgb, size_t capacity) {
  int32_t w, h;
  if (zorv_surface_get_size(surface, &w, &h) != 0) return -1;
  const size_t bytes = size_t(w) * size_t(h) * 3;
  if (!rgb || capacity < bytes || w <= 0 || h <= 0) return int64_t(bytes);
  HWND wnd = Wnd(surface);
  HDC dc = ::GetDC(wnd);
  HDC mem = ::CreateCompatibleDC(dc);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bmp = ::CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  int64_t result = -1;
  if (bmp && bits) {
    HGDIOBJ old = ::SelectObject(mem, bmp);
    ::BitBlt(mem, 0, 0, w, h, dc, 0, 0, SRCCOPY);
    ::GdiFlush();
    const size_t stride = (size_t(w) * 3 + 3) & ~size_t(3);
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* line = static_cast<const uint8_t*>(bits) + size_t(y) * stride;
      uint8_t* out = rgb + size_t(y) * w * 3;
      for (int32_t x = 0; x < w; ++x) {
        out[x * 3] = line[x * 3 + 2];
        out[x * 3 + 1] = line[x * 3 + 1];
        out[x * 3 + 2] = line[x * 3];
      }
    }
    ::SelectObject(mem, old);
    result = int64_t(bytes);
  }
  if (bmp) ::DeleteObject(bmp);
  ::DeleteDC(mem);
  ::ReleaseDC(wnd, dc);
  return result;
}

int32_t zorv_surface_fill(uint32_t surface, uint8_t r, uint8_t g, uint8_t b) {
  HWND wnd = Wnd(surface);
  if (!wnd) return -1;
  RECT rc;
  ::GetClientRect(wnd, &rc);
  HDC dc = ::GetDC(wnd);
  HBRUSH brush = ::CreateSolidBrush(RGB(r, g, b));
  ::FillRect(dc, &rc, brush);
  ::DeleteObject(brush);
  ::GdiFlush();
  ::ReleaseDC(wnd, dc);
  return 0;
}

int32_t zorv_surface_stretch_dib(uint32_t surface, int32_t xDest, int32_t yDest, int32_t destWidth,
                                 int32_t destHeight, int32_t xSrc, int32_t ySrc, int32_t srcWidth,
                                 int32_t srcHeight, const void* bits, const void* info) {
  HWND wnd = Wnd(surface);
  if (!wnd || !bits || !info) return 0;
  BITMAPINFO bi{};
  std::memcpy(&bi.bmiHeader, info, sizeof(BITMAPINFOHEADER));
  HDC dc = ::GetDC(wnd);
  ::SetStretchBltMode(dc, COLORONCOLOR);
  int lines = ::StretchDIBits(dc, xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight,
                              bits, &bi, DIB_RGB_COLORS, SRCCOPY);
  ::GdiFlush();
  ::ReleaseDC(wnd, dc);
  if (lines == int(GDI_ERROR) || lines <= 0) return 0;
  auto n = reinterpret_cast<uintptr_t>(::GetPropA(wnd, kDrawCount));
  ::SetPropA(wnd, kDrawCount, reinterpret_cast<HANDLE>(n + 1));
  return lines;
}

int64_t zorv_surface_draw_count(uint32_t surface) {
  HWND wnd = Wnd(surface);
  if (!wnd) return -1;
  return int64_t(reinterpret_cast<uintptr_t>(::GetPropA(wnd, kDrawCount)));
}

int32_t zorv_surface_save_bmp(uint32_t surface, const char* path) {
  int64_t bytes = zorv_surface_read_pixels(surface, nullptr, 0);
  int32_t w, h;
  if (bytes < 0 || !path || zorv_surface_get_size(surface, &w, &h) != 0) return -1;
  std::vector<uint8_t> rgb(static_cast<size_t>(bytes));
  if (zorv_surface_read_pixels(surface, rgb.data(), rgb.size()) != bytes) return -1;
  const uint32_t stride = (uint32_t(w) * 3 + 3) & ~3u;
  BITMAPFILEHEADER fh{};
  BITMAPINFOHEADER ih{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = 54;
  fh.bfSize = 54 + stride * uint32_t(h);
  ih.biSize = 40;
  ih.biWidth = w;
  ih.biHeight = h;
  ih.biPlanes = 1;
  ih.biBitCount = 24;
  ih.biSizeImage = stride * uint32_t(h);
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return -1;
  bool ok = std::fwrite(&fh, 1, 14, f) == 14 && std::fwrite(&ih, 1, 40, f) == 40;
  std::vector<uint8_t> line(stride, 0);
  for (int32_t y = h - 1; ok && y >= 0; --y) {
    for (int32_t x = 0; x < w; ++x) {
      line[size_t(x) * 3] = rgb[(size_t(y) * w + x) * 3 + 2];
      line[size_t(x) * 3 + 1] = rgb[(size_t(y) * w + x) * 3 + 1];
      line[size_t(x) * 3 + 2] = rgb[(size_t(y) * w + x) * 3];
    }
    ok = std::fwrite(line.data(), 1, stride, f) == stride;
  }
  ok = (std::fclose(f) == 0) && ok;
  return ok ? 0 : -1;
}

}  // extern "C"
