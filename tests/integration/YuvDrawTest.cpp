// Drawing YUV pictures into windows: TSimpleDrawYUV (built-in conversion + StretchDIBits) and
// the drawyuv.dll bindings against the stand-in, read back from the window surfaces.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "StandinClient.h"
#include "U_DrawYuv.h"
#include "U_SimpleDrawYuv.h"
#include "U_YuvConvert.h"
#include "ZorvDecoder.h"
#include "ZorvSurface.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// A window for the test, destroyed with it.
class Window {
 public:
  Window(int width, int height, int left = 40, int top = 30)
      : handle_(zorv_surface_create(left, top, width, height)) {}
  ~Window() { zorv_surface_destroy(handle_); }
  std::uint32_t Handle() const { return handle_; }
  Rgb At(int x, int y) const {
    std::int32_t w = 0, h = 0;
    zorv_surface_get_size(handle_, &w, &h);
    Bytes rgb(size_t(w) * h * 3);
    zorv_surface_read_pixels(handle_, rgb.data(), rgb.size());
    const std::uint8_t* p = rgb.data() + (size_t(y) * w + x) * 3;
    return {p[0], p[1], p[2]};
  }
  std::int64_t Draws() const { return zorv_surface_draw_count(handle_); }

 private:
  std::uint32_t handle_;
};

// Picture whose upper half is white (Y 235) and lower half black (Y 16), neutral chroma.
struct Picture {
  int width, height;
  Bytes y, cb, cr;
  Picture(int w, int h, std::uint8_t top = 235, std::uint8_t bottom = 16, std::uint8_t u = 128,
          std::uint8_t v = 128)
      : width(w), height(h), y(size_t(w) * h, bottom), cb(size_t(w / 2) * (h / 2), u), cr(cb.size(), v) {
    std::fill(y.begin(), y.begin() + size_t(w) * (h / 2), top);
  }
  Bytes Yv12() const {
    Bytes out(y);
    out.insert(out.end(), cr.begin(), cr.end());
    out.insert(out.end(), cb.begin(), cb.end());
    return out;
  }
};

const Rgb kWhite{254, 254, 254};
const Rgb kBlack{0, 0, 0};

// ---- TSimpleDrawYUV -------------------------------------------------------------------------

TEST(SimpleDrawYuv, StretchesThePictureRightSideUpOverTheWindow) {
  Window window(176, 144);
  ASSERT_NE(0u, window.Handle());
  TSimpleDrawYUV renderer;
  EXPECT_EQ(0u, renderer.Window());
  const Picture p(352, 288);
  EXPECT_EQ(0, renderer.DrawToWindow(window.Handle(), p.y.data(), p.cb.data(), p.cr.data(), 352, 288, nullptr));
  EXPECT_EQ(window.Handle(), renderer.Window());
  EXPECT_EQ(1, window.Draws());
  EXPECT_EQ(kWhite, window.At(0, 0));
  EXPECT_EQ(kWhite, window.At(175, 70));
  EXPECT_EQ(kBlack, window.At(0, 73));
  EXPECT_EQ(kBlack, window.At(175, 143));
}

TEST(SimpleDrawYuv, DestinationRectangleLimitsTheDrawing) {
  Window window(100, 80);
  zorv_surface_fill(window.Handle(), 10, 20, 30);
  TSimpleDrawYUV renderer;
  renderer.Init(window.Handle());
  const Picture p(64, 64, 235, 235);
  const Win::RECT dest{10, 20, 30, 50};
  EXPECT_EQ(0, renderer.Draw(&dest, nullptr, p.y.data(), p.cb.data(), p.cr.data(), 64, 64));
  EXPECT_EQ((Rgb{10, 20, 30}), window.At(5, 5));
  EXPECT_EQ(kWhite, window.At(10, 20));
  EXPECT_EQ(kWhite, window.At(29, 49));
  EXPECT_EQ((Rgb{10, 20, 30}), window.At(30, 50));
}

TEST(SimpleDrawYuv, ContiguousPictureIsLumaCrCb) {
  Window window(32, 32);
  TSimpleDrawYUV renderer;
  renderer.Init(window.Handle());
  const Picture red(32, 32, 82, 82, 90, 240);  // strong red: Cr high, Cb low
  const Bytes yv12 = red.Yv12();
  renderer.Draw(nullptr, yv12.data(), nullptr, nullptr, nullptr, 32, 32);
  const Rgb c = window.At(16, 16);
  EXPECT_GT(c.r, 200);
  EXPECT_LT(c.b, 60);
}

TEST(SimpleDrawYuv, SecondWindowRebindsAndGetsThePictureAtItsOwnSize) {
  Window first(176, 144), second(88, 72, 300, 30);
  TSimpleDrawYUV renderer;
  const Picture p(352, 288);
  renderer.DrawToWindow(first.Handle(), p.y.data(), p.cb.data(), p.cr.data(), 352, 288, nullptr);
  renderer.DrawToWindow(second.Handle(), p.y.data(), p.cb.data(), p.cr.data(), 352, 288, nullptr);
  EXPECT_EQ(second.Handle(), renderer.Window());
  EXPECT_EQ(1, first.Draws());
  EXPECT_EQ(1, second.Draws());
  EXPECT_EQ(kWhite, second.At(87, 35));
  EXPECT_EQ(kBlack, second.At(87, 36));
  // Same window again: no rebinding, the drawing simply repeats.
  renderer.DrawToWindow(second.Handle(), p.y.data(), p.cb.data(), p.cr.data(), 352, 288, nullptr);
  EXPECT_EQ(2, second.Draws());
  EXPECT_EQ(1, first.Draws());
}

TEST(SimpleDrawYuv, FollowsAWindowResizedAfterBinding) {
  Window window(64, 64);
  TSimpleDrawYUV renderer;
  renderer.Init(window.Handle());
  ASSERT_EQ(0, zorv_surface_resize(window.Handle(), 128, 96));
  const Picture p(64, 64);
  renderer.Draw(nullptr, nullptr, p.y.data(), p.cb.data(), p.cr.data(), 64, 64);
  EXPECT_EQ(kWhite, window.At(127, 47));
  EXPECT_EQ(kBlack, window.At(127, 48));
}

TEST(SimpleDrawYuv, BmpImageOfTheLastPicture) {
  Window window(64, 48);
  TSimpleDrawYUV renderer;
  EXPECT_TRUE(renderer.GetBmpImage().empty());
  renderer.Init(window.Handle());
  EXPECT_TRUE(renderer.GetBmpImage().empty());
  const Picture p(352, 288);
  renderer.Draw(nullptr, nullptr, p.y.data(), p.cb.data(), p.cr.data(), 352, 288);
  const Bytes image = renderer.GetBmpImage();
  ASSERT_EQ(304182u, image.size());
  EXPECT_EQ(YV12ToBmpImage(p.Yv12().data(), 352, 288), image);
}

TEST(SimpleDrawYuv, PicturesLargerThanD1GrowTheBufferInsteadOfOverflowingIt) {
  Window window(192, 108);
  TSimpleDrawYUV renderer;
  EXPECT_EQ(TSimpleDrawYUV::kInitialBufferSize, renderer.BufferSize());
  const Picture p(1920, 1080);
  EXPECT_EQ(0, renderer.DrawToWindow(window.Handle(), p.y.data(), p.cb.data(), p.cr.data(), 1920, 1080, nullptr));
  EXPECT_GE(renderer.BufferSize(), 1920u * 1080u * 3u);
  EXPECT_EQ(kWhite, window.At(100, 53));
  EXPECT_EQ(kBlack, window.At(100, 54));
  EXPECT_EQ(YV12ToBmpImage(p.Yv12().data(), 1920, 1080), renderer.GetBmpImage());
  // 720 x 576 (stride 2160): just over the initial buffer.
  const Picture wide(720, 576);
  renderer.Draw(nullptr, nullptr, wide.y.data(), wide.cb.data(), wide.cr.data(), 720, 576);
  EXPECT_EQ(54u + 2160u * 576u, renderer.GetBmpImage().size());
}

TEST(SimpleDrawYuv, ShortPictureShowsWhatTheBufferHeld) {
  Window window(40, 40);
  TSimpleDrawYUV renderer;
  renderer.Init(window.Handle());
  const Picture white(40, 40, 235, 235);
  renderer.Draw(nullptr, nullptr, white.y.data(), white.cb.data(), white.cr.data(), 40, 40);
  const Picture black(40, 2, 16, 16);
  renderer.Draw(nullptr, nullptr, black.y.data(), black.cb.data(), black.cr.data(), 40, 1);
  EXPECT_EQ(kWhite, window.At(20, 20));
  EXPECT_EQ(1, renderer.PicHeight());
  const Bytes image = renderer.GetBmpImage();
  ASSERT_EQ(54u + 120u, image.size());
  EXPECT_EQ(254, image[54]);
}

TEST(SimpleDrawYuv, NegativeSizesDrawNothingAndKeepTheLastPicture) {
  Window window(40, 40);
  TSimpleDrawYUV renderer;
  renderer.Init(window.Handle());
  const Picture p(40, 40);
  renderer.Draw(nullptr, nullptr, p.y.data(), p.cb.data(), p.cr.data(), 40, 40);
  EXPECT_EQ(-1, renderer.Draw(nullptr, nullptr, p.y.data(), p.cb.data(), p.cr.data(), -40, 40));
  EXPECT_EQ(-1, renderer.Draw(nullptr, nullptr, p.y.data(), p.cb.data(), p.cr.data(), 40, -2));
  EXPECT_EQ(1, window.Draws());
  EXPECT_EQ(40, renderer.PicWidth());
  EXPECT_EQ(54u + 120u * 40u, renderer.GetBmpImage().size());
}

// ---- drawyuv.dll ----------------------------------------------------------------------------

const std::string kPlayDll = std::string(ZORV_TESTROOT) + "\\PlayDll\\";

class DrawYuvLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(standin.Loaded());
    standin.Reset();
  }
  StandinClient standin{std::string(ZORV_TESTROOT) + "/PlayDll/drawyuv.dll"};
};

TEST_F(DrawYuvLibrary, SharedRendererDrawsIntoTheWindowThroughTheLibrary) {
  TYUVToScreen screen(kPlayDll);
  ASSERT_TRUE(screen.FLoaded);
  Window window(176, 144);
  const std::uint32_t handle = screen.InitDraw(window.Handle());
  EXPECT_NE(0u, handle);
  // Red (Cr high, Cb low) with a bright upper half: the library's own colour arithmetic
  // decides the exact values.
  const Picture p(352, 288, 82, 16, 90, 240);
  const Bytes yv12 = p.Yv12();
  EXPECT_EQ(0, screen.DrawPic(handle, yv12.data(), 152064, 352, 288, 0, 0));
  const Rgb top = window.At(88, 10), bottom = window.At(88, 140);
  EXPECT_GT(top.r, 200);
  EXPECT_LT(top.b, 60);
  EXPECT_LT(bottom.r, top.r - 50);
  EXPECT_TRUE(screen.FreeDraw(handle));
  EXPECT_EQ(0, standin.Query("handles"));
  const std::string h = std::to_string(handle);
  EXPECT_EQ((std::vector<std::string>{"InitDraw(" + std::to_string(window.Handle()) + ")",
                                      "DrawPic(" + h + ",ptr,152064,352,288,0,0)", "FreeDraw(" + h + ")"}),
            standin.Calls());
}

TEST_F(DrawYuvLibrary, DecodeToScreenBindsEveryEntryOnce) {
  TDecodeToScreen screen(std::string(ZORV_TESTROOT) + "\\");
  ASSERT_TRUE(screen.FLoaded);
  EXPECT_NE(nullptr, screen.FModule);
  EXPECT_NE(nullptr, screen.FInitDraw);
  EXPECT_NE(nullptr, screen.FDrawPic);
  EXPECT_NE(nullptr, screen.FRedrawPic);
  EXPECT_NE(nullptr, screen.FFreeDraw);
  Win::HMODULE module = screen.FModule;
  EXPECT_TRUE(screen.LoadDrawLibrary("nowhere\\"));  // already bound: nothing more is done
  EXPECT_EQ(module, screen.FModule);

  Window window(64, 64);
  const std::uint32_t handle = screen.FInitDraw(window.Handle());
  const Picture p(64, 64);
  const Bytes yv12 = p.Yv12();
  screen.FDrawPic(handle, yv12.data(), 6144, 64, 64, 0, 0);
  EXPECT_GE(window.At(10, 10).g, 250);
  EXPECT_LE(window.At(10, 60).g, 5);
  EXPECT_EQ(1, standin.Query("draws", handle));
  screen.FFreeDraw(handle);
  screen.FFreeDraw(0);  // accepted
  EXPECT_EQ(0, standin.Query("handles"));
}

TEST_F(DrawYuvLibrary, MissingLibraryDrawsNothingAndGivesTheFailureValues) {
  TYUVToScreen screen(std::string(ZORV_TESTROOT) + "\\NoSuchDir\\");
  EXPECT_FALSE(screen.FLoaded);
  EXPECT_EQ(nullptr, screen.FModule);
  EXPECT_EQ(nullptr, screen.FInitDraw);
  Window window(32, 32);
  EXPECT_EQ(0u, screen.InitDraw(window.Handle()));
  const Picture p(32, 32);
  EXPECT_EQ(0, screen.DrawPic(0, p.Yv12().data(), 1536, 32, 32, 0, 0));
  EXPECT_FALSE(screen.FreeDraw(0));
  EXPECT_EQ(0, window.Draws());
  TDecodeToScreen decodeScreen(std::string(ZORV_TESTROOT) + "\\NoSuchDir\\");
  EXPECT_FALSE(decodeScreen.FLoaded);
  EXPECT_EQ(nullptr, decodeScreen.FDrawPic);
  EXPECT_TRUE(standin.Calls().empty());
}

TEST_F(DrawYuvLibrary, MissingEntriesStayNullAndTheGuardedCallsFail) {
  TYUVToScreen screen(std::string(ZORV_TESTROOT) + "-drawyuv-initonly\\PlayDll\\");
  ASSERT_TRUE(screen.FLoaded);
  EXPECT_NE(nullptr, screen.FInitDraw);
  EXPECT_EQ(nullptr, screen.FDrawPic);
  EXPECT_EQ(nullptr, screen.FRedrawPic);
  EXPECT_EQ(nullptr, screen.FFreeDraw);
  EXPECT_EQ(0, screen.DrawPic(1, nullptr, 0, 2, 2, 0, 0));
  EXPECT_FALSE(screen.FreeDraw(1));
}

TEST_F(DrawYuvLibrary, FailuresInsideTheLibraryDoNotReachTheCaller) {
  TYUVToScreen screen(kPlayDll);
  ASSERT_TRUE(screen.FLoaded);
  Window window(32, 32);
  standin.Throw("InitDraw");
  standin.Throw("DrawPic");
  standin.Throw("FreeDraw");
  EXPECT_EQ(0u, screen.InitDraw(window.Handle()));
  const Picture p(32, 32);
  EXPECT_EQ(0, screen.DrawPic(1, p.Yv12().data(), 1536, 32, 32, 0, 0));
  EXPECT_FALSE(screen.FreeDraw(1));
  EXPECT_EQ(3, standin.Count(""));
}

TEST_F(DrawYuvLibrary, InitializeCreatesTheSharedRenderer) {
  ASSERT_EQ(0, Tarn_Decode_Initialize(0, (std::string(ZORV_TESTROOT) + "\\").c_str(), 1));
  ASSERT_NE(nullptr, YUVToScreen);
  EXPECT_TRUE(YUVToScreen->FLoaded);
  Window window(32, 32);
  const std::uint32_t handle = YUVToScreen->InitDraw(window.Handle());
  EXPECT_NE(0u, handle);
  EXPECT_TRUE(YUVToScreen->FreeDraw(handle));
  Tarn_Decode_ShutDown();
  EXPECT_NE(nullptr, YUVToScreen);  // stays until the library is unloaded
}

}  // namespace
