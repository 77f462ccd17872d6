// In-memory window surfaces: the windows of the POSIX build. One registry per process, kept in
// this small shared library so that the library and the vendor libraries it loads (separate
// shared objects) draw into the same surfaces.
#include "ZorvSurface.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Pixels are kept as drawing brings them: blue, green, red, rows top-down without padding. A
// drawing of the same size then copies whole rows; reading back turns them into RGB.
struct Surface {
  std::mutex lock;
  int32_t left = 0, top = 0, width = 0, height = 0;
  std::vector<uint8_t> bgr;  // top-down, 3 bytes per pixel
  int64_t draws = 0;
};

struct Registry {
  std::mutex lock;
  std::map<uint32_t, std::shared_ptr<Surface>> surfaces;
  uint32_t next = 0x00010001;
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: surfaces outlive static destructors
  return *r;
}

std::shared_ptr<Surface> find(uint32_t handle) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = r.surfaces.find(handle);
  return it == r.surfaces.end() ? nullptr : it->second;
}

bool validSize(int32_t w, int32_t h) {
  return w > 0 && h > 0 && w <= ZORV_SURFACE_MAX_DIM && h <= ZORV_SURFACE_MAX_DIM;
}

// The fields of a BITMAPINFOHEADER this code reads, taken byte-wise (the caller's header may be
// unaligned).
struct DibHeader {
  int32_t width, height;
  uint16_t bitCount;
  uint32_t compression;
};

DibHeader readHeader(const void* info) {
  const auto* p = static_cast<const uint8_t*>(info);
  DibHeader h{};
  std::memcpy(&h.width, p + 4, 4);
  std::memcpy(&h.height, p + 8, 4);
  std::memcpy(&h.bitCount, p + 14, 2);
  std::memcpy(&h.compression, p + 16, 4);
  return h;
}

int32_t iabs(int32_t v) { return v < 0 ? -v : v; }

}  // namespace

extern "C" {

uint32_t zorv_surface_create(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (!validSize(width, height)) return 0;
  auto s = std::make_shared<Surface>();
  s->left = left;
  s->top = top;
  s->width = width;
  s->height = height;
  s->bgr.assign(size_t(width) * size_t(height) * 3, 0);
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  uint32_t handle = r.next++;
  if (r.next == 0) r.next = 0x00010001;
  r.surfaces[handle] = std::move(s);
  return handle;
}

int32_t zorv_surface_destroy(uint32_t surface) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  return r.surfaces.erase(surface) ? 0 : -1;
}

int32_t zorv_surface_resize(uint32_t surface, int32_t width, int32_t height) {
  auto s = find(surface);
  if (!s || !validSize(width, height)) return -1;
  std::lock_guard<std::mutex> g(s->lock);
  std::vector<uint8_t> bgr(size_t(width) * size_t(height) * 3, 0);
  int32_t w = width < s->width ? width : s->width;
  int32_t h = height < s->height ? height : s->height;
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(&bgr[size_t(y) * width * 3], &s->bgr[size_t(y) * s->width * 3], size_t(w) * 3);
  s->bgr.swap(bgr);
  s->width = width;
  s->height = height;
  return 0;
}

int32_t zorv_surface_move(uint32_t surface, int32_t left, int32_t top) {
  auto s = find(surface);
  if (!s) return -1;
  std::lock_guard<std::mutex> g(s->lock);
  s->left = left;
  s->top = top;
  return 0;
}

int32_t zorv_surface_get_rect(uint32_t surface, int32_t* left, int32_t* top, int32_t* right,
                              int32_t* bottom) {
  auto s = find(surface);
  if (!s) return -1;
  std::lock_guard<std::mutex> g(s->lock);
  if (left) *left = s->left;
  if (top) *top = s->top;
  if (right) *right = s->left + s->width;
  if (bottom) *bottom = s->top + s->height;
  return 0;
}

int32_t zorv_surface_get_size(uint32_t surface, int32_t* width, int32_t* height) {
  auto s = find(surface);
  if (!s) return -1;
  std::lock_guard<std::mutex> g(s->lock);
  if (width) *width = s->width;
  if (height) *height = s->height;
  return 0;
}

int64_t zorv_surface_read_pixels(uint32_t surface, uint8_t* rgb, size_t capacity) {
  auto s = find(surface);
  if (!s) return -1;
  std::lock_guard<std::mutex> g(s->lock);
  const size_t bytes = s->bgr.size();
  if (rgb && capacity >= bytes) {
    const uint8_t* from = s->bgr.data();
    for (size_t i = 0; i < bytes; i += 3) {
      rgb[i] = from[i + 2];
      rgb[i + 1] = from[i + 1];
      rgb[i + 2] = from[i];
    }
  }
  return int64_t(bytes);
}

int32_t zorv_surface_fill(uint32_t surface, uint8_t r, uint8_t g, uint8_t b) {
  auto s = find(surface);
  if (!s) return -1;
  std::lock_guard<std::mutex> lk(s->lock);
  for (size_t i = 0; i + 2 < s->bgr.size(); i += 3) {
    s->bgr[i] = b;
    s->bgr[i + 1] = g;
    s->bgr[i + 2] = r;
  }
  return 0;
}

int32_t zorv_surface_stretch_dib(uint32_t surface, int32_t xDest, int32_t yDest, int32_t destWidth,
                                 int32_t destHeight, int32_t xSrc, int32_t ySrc, int32_t srcWidth,
                                 int32_t srcHeight, const void* bits, const void* info) {
  if (!bits || !info || destWidth == 0 || destHeight == 0 || srcWidth == 0 || srcHeight == 0) return 0;
  const DibHeader h = readHeader(info);
  const bool bottomUp = h.height > 0;
  const int32_t imgW = h.width, imgH = iabs(h.height);
  if (!validSize(imgW, imgH) || h.compression != 0 || (h.bitCount != 24 && h.bitCount != 32)) return 0;
  if (iabs(destWidth) > 4 * ZORV_SURFACE_MAX_DIM || iabs(destHeight) > 4 * ZORV_SURFACE_MAX_DIM ||
      iabs(srcWidth) > ZORV_SURFACE_MAX_DIM || iabs(srcHeight) > ZORV_SURFACE_MAX_DIM)
    return 0;
  auto s = find(surface);
  if (!s) return 0;

  const int bpp = h.bitCount / 8;
  const size_t stride = (size_t(imgW) * h.bitCount + 31) / 32 * 4;
  const auto* src = static_cast<const uint8_t*>(bits);

  // A negative extent mirrors; the rectangle itself spans the same pixels either way.
  const bool mirrorX = (destWidth < 0) != (srcWidth < 0);
  const bool mirrorY = (destHeight < 0) != (srcHeight < 0);
  const int64_t dLeft = destWidth < 0 ? int64_t(xDest) + destWidth : xDest;
  const int64_t dTop = destHeight < 0 ? int64_t(yDest) + destHeight : yDest;
  const int64_t sLeft = srcWidth < 0 ? int64_t(xSrc) + srcWidth : xSrc;
  const int64_t sLow = srcHeight < 0 ? int64_t(ySrc) + srcHeight : ySrc;
  const int64_t dw = iabs(destWidth), dh = iabs(destHeight);
  const int64_t sw = iabs(srcWidth), sh = iabs(srcHeight);

  std::lock_guard<std::mutex> g(s->lock);
  const int64_t x0 = dLeft < 0 ? 0 : dLeft, x1 = dLeft + dw > s->width ? s->width : dLeft + dw;
  const int64_t y0 = dTop < 0 ? 0 : dTop, y1 = dTop + dh > s->height ? s->height : dTop + dh;
  if (x0 >= x1 || y0 >= y1) {
    ++s->draws;
    return int32_t(sh);
  }
  // Columns: with the same width and no mirroring the source column is the destination column
  // moved by a fixed offset, and each row is one run of whole pixels; otherwise the source
  // column of every destination column is worked out once per drawing (-1: none).
  const bool sameWidth = !mirrorX && dw == sw;
  int64_t runX0 = x0, runX1 = x1;  // destination columns of the run (sameWidth)
  std::vector<int64_t> columns;
  bool everyColumn = true;  // every destination column has a source column
  if (sameWidth) {
    const int64_t shift = sLeft - dLeft;  // source column = destination column + shift
    if (runX0 < -shift) runX0 = -shift;
    if (runX1 > imgW - shift) runX1 = imgW - shift;
  } else {
    columns.resize(size_t(x1 - x0));
    for (int64_t x = x0; x < x1; ++x) {
      int64_t i = x - dLeft;
      if (mirrorX) i = dw - 1 - i;
      const int64_t col = sLeft + i * sw / dw;
      columns[size_t(x - x0)] = col < 0 || col >= imgW ? -1 : col * bpp;
      everyColumn = everyColumn && col >= 0 && col < imgW;
    }
  }
  int64_t lastRow = -1;   // source row of the destination row drawn last (-1: none yet)
  uint8_t* lastOut = nullptr;
  for (int64_t y = y0; y < y1; ++y) {
    int64_t j = y - dTop;
    if (mirrorY) j = dh - 1 - j;
    const int64_t t = j * sh / dh;  // source row within the rectangle, counted from its top
    // Rows are stored in the order ySrc counts them: a bottom-up bitmap counts from the bottom
    // row, so the rectangle's top is its last stored row.
    const int64_t row = bottomUp ? sLow + sh - 1 - t : sLow + t;
    if (row < 0 || row >= imgH) continue;
    const uint8_t* line = src + size_t(row) * stride;
    uint8_t* out = &s->bgr[size_t(y) * s->width * 3];
    if (sameWidth) {
      if (runX0 >= runX1) continue;
      const uint8_t* from = line + size_t(runX0 + sLeft - dLeft) * bpp;
      uint8_t* to = out + runX0 * 3;
      if (bpp == 3) {
        std::memcpy(to, from, size_t(runX1 - runX0) * 3);
      } else {
        for (int64_t n = runX1 - runX0; n > 0; --n, from += 4, to += 3) {
          to[0] = from[0];
          to[1] = from[1];
          to[2] = from[2];
        }
      }
      continue;
    }
    // Enlarging repeats source rows: a row the same as the one above is a copy of it.
    if (everyColumn && row == lastRow) {
      std::memcpy(out + x0 * 3, lastOut + x0 * 3, size_t(x1 - x0) * 3);
      continue;
    }
    lastRow = row;
    lastOut = out;
    const int64_t* at = columns.data();
    uint8_t* to = out + x0 * 3;
    // Reading a fourth byte after a pixel stays inside the bitmap except at the end of its last
    // stored row; writing one is harmless while the next pixel overwrites it.
    const bool wordCopy = bpp == 4 || row < imgH - 1 || stride > size_t(imgW) * 3;
    if (everyColumn && wordCopy) {
      for (int64_t n = x1 - x0; n > 1; --n, ++at, to += 3) std::memcpy(to, line + *at, 4);
      const uint8_t* p = line + *at;
      to[0] = p[0];
      to[1] = p[1];
      to[2] = p[2];
      continue;
    }
    if (everyColumn) {
      for (int64_t n = x1 - x0; n > 0; --n, ++at, to += 3) {
        const uint8_t* p = line + *at;
        to[0] = p[0];
        to[1] = p[1];
        to[2] = p[2];
      }
      continue;
    }
    for (int64_t n = x1 - x0; n > 0; --n, ++at, to += 3) {
      if (*at < 0) continue;
      const uint8_t* p = line + *at;
      to[0] = p[0];
      to[1] = p[1];
      to[2] = p[2];
    }
  }
  ++s->draws;
  return int32_t(sh);
}

int64_t zorv_surface_draw_count(uint32_t surface) {
  auto s = find(surface);
  if (!s) return -1;
  std::lock_guard<std::mutex> g(s->lock);
  return s->draws;
}

int32_t zorv_surface_save_bmp(uint32_t surface, const char* path) {
  auto s = find(surface);
  if (!s || !path) return -1;
  std::vector<uint8_t> bgr;
  int32_t w, h;
  {
    std::lock_guard<std::mutex> g(s->lock);
    bgr = s->bgr;
    w = s->width;
    h = s->height;
  }
  const uint32_t stride = (uint32_t(w) * 3 + 3) & ~3u;
  const uint32_t image = stride * uint32_t(h);
  uint8_t head[54] = {};
  auto put16 = [&](int at, uint16_t v) { std::memcpy(head + at, &v, 2); };
  auto put32 = [&](int at, uint32_t v) { std::memcpy(head + at, &v, 4); };
  head[0] = 'B';
  head[1] = 'M';
  put32(2, 54 + image);
  put32(10, 54);
  put32(14, 40);
  put32(18, uint32_t(w));
  put32(22, uint32_t(h));
  put16(26, 1);
  put16(28, 24);
  put32(34, image);
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return -1;
  bool ok = std::fwrite(head, 1, 54, f) == 54;
  std::vector<uint8_t> line(stride, 0);
  for (int32_t y = h - 1; ok && y >= 0; --y) {
    std::memcpy(line.data(), &bgr[size_t(y) * w * 3], size_t(w) * 3);
    ok = std::fwrite(line.data(), 1, stride, f) == stride;
  }
  ok = (std::fclose(f) == 0) && ok;
  return ok ? 0 : -1;
}

}  // extern "C"
