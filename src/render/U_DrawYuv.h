// The drawing library "drawyuv.dll" and its two bindings: TDecodeToScreen (one per SHX
// adapter, whose entries the adapter calls directly) and TYUVToScreen (the shared renderer
// YUVToScreen, every call guarded). A missing library leaves every entry null: nothing is drawn.
#pragma once

#include <cstdint>
#include <string>

#include "Platform.h"
#include "ZorvDecoder.h"

// Entry points of drawyuv.dll, in the order they are looked up. Arguments are 32-bit values;
// the drawing handle is 0 for "none" and FreeDraw accepts 0.
//   InitDraw(window) -> drawing handle for that window
//   DrawPic(handle, YV12 picture, decoder result for the picture, width, height, 0, 0)
//   RedrawPic(handle)  (bound, never called)
//   FreeDraw(handle)
#define DRAWYUV_ENTRIES(X)                                                                  \
  X(std::uint32_t, InitDraw, (std::uint32_t window))                                        \
  X(std::int32_t, DrawPic,                                                                  \
    (std::uint32_t handle, const void* picture, std::int32_t decodeResult, std::int32_t width, \
     std::int32_t height, std::int32_t reserved1, std::int32_t reserved2))                  \
  X(std::int32_t, RedrawPic, (std::uint32_t handle))                                        \
  X(std::int32_t, FreeDraw, (std::uint32_t handle))

#define DRAWYUV_TYPEDEF(ret, name, params) using T##name##Proc = ret(ZORV_STDCALL*) params;
DRAWYUV_ENTRIES(DRAWYUV_TYPEDEF)
#undef DRAWYUV_TYPEDEF

// Fields shared by both bindings: the module and the four entries (null until bound).
struct TDrawYuvBinding {
  Win::HMODULE FModule = nullptr;  // drawyuv.dll as loaded by this object
  bool FLoaded = false;            // library loaded and its entries looked up
#define DRAWYUV_FIELD(ret, name, params) T##name##Proc F##name = nullptr;
  DRAWYUV_ENTRIES(DRAWYUV_FIELD)
#undef DRAWYUV_FIELD

  // Loads `path` and looks up the entries; false (and unbound) when there is no such file or
  // it does not load. A missing entry stays null.
  bool Bind(const std::string& path);
  void Unbind();  // frees the module when loaded
};

// Binding used by the SHX adapter: it tests FLoaded (or the entry) and calls the entries.
class TDecodeToScreen : public TDrawYuvBinding {
 public:
  // `dir` is the adapter's library directory; the library is dir + "PlayDll\drawyuv.dll".
  explicit TDecodeToScreen(const std::string& dir);
  ~TDecodeToScreen();  // unloads: free every drawing handle first
  TDecodeToScreen(const TDecodeToScreen&) = delete;
  TDecodeToScreen& operator=(const TDecodeToScreen&) = delete;

  // True when the library is (now or already) bound.
  bool LoadDrawLibrary(const std::string& dir);
};

// Guarded binding: a failure or fault inside the library never reaches the caller.
class TYUVToScreen : public TDrawYuvBinding {
 public:
  // `dir` already ends in "PlayDll\"; the library is dir + "drawyuv.dll".
  explicit TYUVToScreen(const std::string& dir);
  ~TYUVToScreen();
  TYUVToScreen(const TYUVToScreen&) = delete;
  TYUVToScreen& operator=(const TYUVToScreen&) = delete;

  bool LoadDrawLibrary(const std::string& dir);

  // The library's handle for the window; 0 when unbound or when the call faults.
  std::uint32_t InitDraw(std::uint32_t window);
  // Passes the seven arguments on unchanged; returns 0 in every case.
  int DrawPic(std::uint32_t handle, const void* picture, std::int32_t decodeResult,
              std::int32_t width, std::int32_t height, std::int32_t reserved1,
              std::int32_t reserved2);
  // True after the library call; false when unbound or when the call faults.
  bool FreeDraw(std::uint32_t handle);
};

// The shared renderer created by Tarn_Decode_Initialize; null before. It lives until the
// library is unloaded (a later CreateYUVToScreen replaces it).
extern TYUVToScreen* YUVToScreen;

// Creates YUVToScreen over dir + "drawyuv.dll" (dir = host directory + "PlayDll\").
void CreateYUVToScreen(const std::string& dir);
