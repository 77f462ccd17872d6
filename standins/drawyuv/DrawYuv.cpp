// Stand-in for the drawing library drawyuv.dll: InitDraw gives a drawing handle per window,
// DrawPic draws a YV12 picture (luma, Cr, Cb) scaled to the whole window, RedrawPic draws the
// last picture again, FreeDraw forgets the handle. Every call is journalled.
//
// Queries: "handles" = live drawing handles; "draws" (port = handle) = pictures drawn through
// that handle, -1 for an unknown handle; "window" (port = handle) = its window.
#include <cstring>
#include <map>
#include <mutex>
#include <type_traits>
#include <vector>

#include "StandinKit.h"
#include "U_DrawYuv.h"

namespace {

struct Drawing {
  std::uint32_t window = 0;
  std::int64_t draws = 0;
  std::vector<std::uint8_t> last;  // I420, for RedrawPic
  int width = 0, height = 0;
};

std::mutex& Lock() {
  static auto* m = new std::mutex;
  return *m;
}
std::map<std::uint32_t, Drawing>& Drawings() {
  static auto* d = new std::map<std::uint32_t, Drawing>;
  return *d;
}
std::uint32_t nextHandle = 1;

const kit::Hooks hooks([] {
  kit::OnQuery("handles", [](std::int64_t) -> std::int64_t {
    std::lock_guard<std::mutex> g(Lock());
    return static_cast<std::int64_t>(Drawings().size());
  });
  kit::OnQuery("draws", [](std::int64_t handle) -> std::int64_t {
    std::lock_guard<std::mutex> g(Lock());
    auto it = Drawings().find(static_cast<std::uint32_t>(handle));
    return it == Drawings().end() ? -1 : it->second.draws;
  });
  kit::OnQuery("window", [](std::int64_t handle) -> std::int64_t {
    std::lock_guard<std::mutex> g(Lock());
    auto it = Drawings().find(static_cast<std::uint32_t>(handle));
    return it == Drawings().end() ? -1 : it->second.window;
  });
  kit::OnReset([] {
    std::lock_guard<std::mutex> g(Lock());
    Drawings().clear();
  });
});

// YV12 (luma, Cr, Cb) to I420 (luma, Cb, Cr), the order the kit draws.
[[maybe_unused]] std::vector<std::uint8_t> ToI420(const std::uint8_t* yv12, int width, int height) {
  const std::size_t luma = static_cast<std::size_t>(width) * height;
  const std::size_t chroma = static_cast<std::size_t>(width / 2) * (height / 2);
  std::vector<std::uint8_t> out(luma + 2 * chroma);
  std::memcpy(out.data(), yv12, luma);
  std::memcpy(out.data() + luma, yv12 + luma + luma / 4, chroma);
  std::memcpy(out.data() + luma + chroma, yv12 + luma, chroma);
  return out;
}

[[maybe_unused]] bool Draw(std::uint32_t handle, const std::uint8_t* i420, int width, int height) {
  std::uint32_t window = 0;
  {
    std::lock_guard<std::mutex> g(Lock());
    auto it = Drawings().find(handle);
    if (it == Drawings().end()) return false;
    window = it->second.window;
  }
  if (!kit::DrawYuv(window, i420, width, height)) return false;
  std::lock_guard<std::mutex> g(Lock());
  auto it = Drawings().find(handle);
  if (it != Drawings().end()) ++it->second.draws;
  return true;
}

}  // namespace

STANDIN_EXPORT std::uint32_t ZORV_STDCALL InitDraw(std::uint32_t window) {
  STANDIN_ENTER(std::uint32_t, "InitDraw", window);
  if (window == 0) return 0;
  std::lock_guard<std::mutex> g(Lock());
  const std::uint32_t handle = nextHandle++;
  Drawings()[handle].window = window;
  return handle;
}

#ifndef STANDIN_WITHOUT_DrawPic
STANDIN_EXPORT std::int32_t ZORV_STDCALL DrawPic(std::uint32_t handle, const void* picture,
                                                 std::int32_t decodeResult, std::int32_t width,
                                                 std::int32_t height, std::int32_t reserved1,
                                                 std::int32_t reserved2) {
  STANDIN_ENTER(std::int32_t, "DrawPic", handle, picture, decodeResult, width, height, reserved1,
                reserved2);
  if (picture == nullptr || width < 2 || height < 2 || width > 8192 || height > 8192) return 0;
  std::vector<std::uint8_t> i420 = ToI420(static_cast<const std::uint8_t*>(picture), width, height);
  if (!Draw(handle, i420.data(), width, height)) return 0;
  std::lock_guard<std::mutex> g(Lock());
  auto it = Drawings().find(handle);
  if (it != Drawings().end()) {
    it->second.last = std::move(i420);
    it->second.width = width;
    it->second.height = height;
  }
  return 1;
}
#endif

#ifndef STANDIN_WITHOUT_RedrawPic
STANDIN_EXPORT std::int32_t ZORV_STDCALL RedrawPic(std::uint32_t handle) {
  STANDIN_ENTER(std::int32_t, "RedrawPic", handle);
  std::vector<std::uint8_t> last;
  int width = 0, height = 0;
  {
    std::lock_guard<std::mutex> g(Lock());
    auto it = Drawings().find(handle);
    if (it == Drawings().end() || it->second.last.empty()) return 0;
    last = it->second.last;
    width = it->second.width;
    height = it->second.height;
  }
  return Draw(handle, last.data(), width, height) ? 1 : 0;
}
#endif

#ifndef STANDIN_WITHOUT_FreeDraw
STANDIN_EXPORT std::int32_t ZORV_STDCALL FreeDraw(std::uint32_t handle) {
  STANDIN_ENTER(std::int32_t, "FreeDraw", handle);
  std::lock_guard<std::mutex> g(Lock());
  return Drawings().erase(handle) ? 1 : 0;
}
#endif

// The exports have the signatures the library binds (TInitDrawProc... from its entry list).
static_assert(std::is_same_v<decltype(&::InitDraw), TInitDrawProc>);
#ifndef STANDIN_WITHOUT_DrawPic
static_assert(std::is_same_v<decltype(&::DrawPic), TDrawPicProc>);
#endif
#ifndef STANDIN_WITHOUT_RedrawPic
static_assert(std::is_same_v<decltype(&::RedrawPic), TRedrawPicProc>);
#endif
#ifndef STANDIN_WITHOUT_FreeDraw
static_assert(std::is_same_v<decltype(&::FreeDraw), TFreeDrawProc>);
#endif
