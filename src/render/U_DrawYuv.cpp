// Bindings of the drawing library "drawyuv.dll" and the shared renderer YUVToScreen.
#include "U_DrawYuv.h"

#include "U_DecodeBase.h"  // GuardedCall

namespace {

const char* const kEntryNames[] = {
#define DRAWYUV_NAME(ret, name, params) #name,
    DRAWYUV_ENTRIES(DRAWYUV_NAME)
#undef DRAWYUV_NAME
};

}  // namespace

bool TDrawYuvBinding::Bind(const std::string& path) {
  if (!Win::FileExists(path.c_str())) return false;
  Win::HMODULE module = Win::LoadLibraryA(path.c_str());
  if (module == nullptr) return false;
  // A second binding of the same object (TYUVToScreen has no guard) gives back the first.
  Unbind();
  FModule = module;
  int index = 0;
#define DRAWYUV_BIND(ret, name, params) \
  F##name = reinterpret_cast<T##name##Proc>(Win::GetProcAddress(module, kEntryNames[index++]));
  DRAWYUV_ENTRIES(DRAWYUV_BIND)
#undef DRAWYUV_BIND
  FLoaded = true;
  return true;
}

void TDrawYuvBinding::Unbind() {
  if (FModule != nullptr) Win::FreeLibrary(FModule);
  FModule = nullptr;
  FLoaded = false;
#define DRAWYUV_CLEAR(ret, name, params) F##name = nullptr;
  DRAWYUV_ENTRIES(DRAWYUV_CLEAR)
#undef DRAWYUV_CLEAR
}

TDecodeToScreen::TDecodeToScreen(const std::string& dir) { LoadDrawLibrary(dir); }

TDecodeToScreen::~TDecodeToScreen() { Unbind(); }

bool TDecodeToScreen::LoadDrawLibrary(const std::string& dir) {
  if (FLoaded) return true;
  return Bind(dir + "PlayDll\\drawyuv.dll");
}

TYUVToScreen::TYUVToScreen(const std::string& dir) { LoadDrawLibrary(dir); }

TYUVToScreen::~TYUVToScreen() { Unbind(); }

bool TYUVToScreen::LoadDrawLibrary(const std::string& dir) { return Bind(dir + "drawyuv.dll"); }

std::uint32_t TYUVToScreen::InitDraw(std::uint32_t window) {
  if (FInitDraw == nullptr) return 0;
  std::uint32_t handle = 0;
  if (!GuardedCall([&] { handle = FInitDraw(window); })) return 0;
  return handle;
}

int TYUVToScreen::DrawPic(std::uint32_t handle, const void* picture, std::int32_t decodeResult,
                          std::int32_t width, std::int32_t height, std::int32_t reserved1,
                          std::int32_t reserved2) {
  if (FDrawPic == nullptr) return 0;
  GuardedCall([&] { FDrawPic(handle, picture, decodeResult, width, height, reserved1, reserved2); });
  return 0;
}

bool TYUVToScreen::FreeDraw(std::uint32_t handle) {
  if (FFreeDraw == nullptr) return false;
  return GuardedCall([&] { FFreeDraw(handle); });
}

namespace {

// Owns the shared renderer until the library is unloaded.
struct TSharedRenderer {
  TYUVToScreen* Renderer = nullptr;
  ~TSharedRenderer() {
    YUVToScreen = nullptr;
    delete Renderer;
  }
};

TSharedRenderer SharedRenderer;

}  // namespace

TYUVToScreen* YUVToScreen = nullptr;

void CreateYUVToScreen(const std::string& dir) {
  // The new binding loads the library before the old one lets go of it, so a handle made
  // through the old renderer stays valid.
  TYUVToScreen* previous = SharedRenderer.Renderer;
  SharedRenderer.Renderer = new TYUVToScreen(dir);
  YUVToScreen = SharedRenderer.Renderer;
  delete previous;
}
