// A small library for the loader tests: loaded at run time like a vendor library, it exports a
// plain function and draws into a window through the shared surface functions.
#include <cstdint>

#include "ZorvSurface.h"

#if defined(_WIN32)
#define TESTLIB_EXPORT extern "C" __declspec(dllexport)
#else
#define TESTLIB_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TESTLIB_EXPORT int32_t Plain(int32_t value) { return value * 2 + 1; }

TESTLIB_EXPORT int32_t FillWindow(uint32_t wnd, uint8_t r, uint8_t g, uint8_t b) {
  return zorv_surface_fill(wnd, r, g, b);
}
