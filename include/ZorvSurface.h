/* ZorvSurface: the windows ZorvDecoder draws into, as seen by a host.
 *
 * On Linux a "window" is an in-memory RGB surface named by a 32-bit handle: the host creates
 * one per display channel, passes the handle as the frame head's Wnd, and reads the pixels back
 * (to show them in its own toolkit, or to save them as images). The surfaces live in one shared
 * library (libzorvsurface.so), so the library and the vendor libraries it loads draw into the
 * same surfaces.
 *
 * On Windows the same functions work on real windows: zorv_surface_create makes a visible
 * top-level window owned by the calling thread (destroy it from that thread), the handle is the
 * window handle, and reading the pixels copies the window's client area.
 *
 * Pixels read back are RGB, 3 bytes per pixel, rows top-down, no padding.
 * Every function accepts any handle value: an unknown handle gives the failure result.
 */
#ifndef ZORV_SURFACE_H
#define ZORV_SURFACE_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define ZORV_SURFACE_API
#else
#define ZORV_SURFACE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Largest width or height of a surface and of a picture drawn into one. */
#define ZORV_SURFACE_MAX_DIM 16384

/* Creates a surface with the given screen rectangle, filled black. Returns its handle, never
 * 0 on success; 0 when width or height is outside 1..ZORV_SURFACE_MAX_DIM. */
ZORV_SURFACE_API uint32_t zorv_surface_create(int32_t left, int32_t top, int32_t width, int32_t height);

/* Destroys a surface. Returns 0, or -1 for an unknown handle. */
ZORV_SURFACE_API int32_t zorv_surface_destroy(uint32_t surface);

/* Changes the size (pixels are kept where they overlap, new area black) or the position.
 * Return 0, or -1 for an unknown handle or a size out of range. */
ZORV_SURFACE_API int32_t zorv_surface_resize(uint32_t surface, int32_t width, int32_t height);
ZORV_SURFACE_API int32_t zorv_surface_move(uint32_t surface, int32_t left, int32_t top);

/* Screen rectangle (right and bottom exclusive, as GetWindowRect) and size. 0 or -1. */
ZORV_SURFACE_API int32_t zorv_surface_get_rect(uint32_t surface, int32_t* left, int32_t* top,
                                               int32_t* right, int32_t* bottom);
ZORV_SURFACE_API int32_t zorv_surface_get_size(uint32_t surface, int32_t* width, int32_t* height);

/* Copies the pixels into rgb (width * height * 3 bytes, RGB, top-down) when capacity allows.
 * Returns the number of bytes the picture takes (call with rgb NULL to ask), or -1 for an
 * unknown handle. Nothing is copied when capacity is too small. */
ZORV_SURFACE_API int64_t zorv_surface_read_pixels(uint32_t surface, uint8_t* rgb, size_t capacity);

/* Fills the whole surface with one colour. 0 or -1. */
ZORV_SURFACE_API int32_t zorv_surface_fill(uint32_t surface, uint8_t r, uint8_t g, uint8_t b);

/* Draws a device-independent bitmap into the surface as StretchDIBits does in COLORONCOLOR
 * mode: the source rectangle (xSrc, ySrc, srcWidth, srcHeight) of the bitmap is scaled to the
 * destination rectangle by nearest sample, clipped to the surface. `info` points to a 40-byte
 * BITMAPINFOHEADER; 24- and 32-bit uncompressed bitmaps are drawn, bottom-up (positive height,
 * ySrc counted from the bottom row as Windows does) or top-down (negative height). A negative
 * destination width or height mirrors the picture. Returns the number of source rows drawn,
 * 0 when nothing was drawn (unknown handle, bad bitmap, empty rectangle). */
ZORV_SURFACE_API int32_t zorv_surface_stretch_dib(uint32_t surface, int32_t xDest, int32_t yDest,
                                                  int32_t destWidth, int32_t destHeight, int32_t xSrc,
                                                  int32_t ySrc, int32_t srcWidth, int32_t srcHeight,
                                                  const void* bits, const void* info);

/* Number of successful zorv_surface_stretch_dib calls on the surface since it was created
 * (drawing through Win::StretchDIBits counts too). -1 for an unknown handle. */
ZORV_SURFACE_API int64_t zorv_surface_draw_count(uint32_t surface);

/* Writes the surface as a 24-bit bottom-up BMP file. 0 or -1. */
ZORV_SURFACE_API int32_t zorv_surface_save_bmp(uint32_t surface, const char* path);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZORV_SURFACE_H */
