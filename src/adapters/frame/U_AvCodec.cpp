// The libavcodec/libavutil binding of the MPEG-4 adapter (see U_AvCodec.h).
#include "U_AvCodec.h"

#include <atomic>
#include <mutex>

#include "Platform.h"
#include "U_Mutex.h"

extern "C" {
#include <libavcodec/version.h>
#include <libavutil/version.h>
}

namespace {

TMutex BindLock;
int BindCount = 0;  // successful Acquire calls not yet released
TAvCodecApi Api;
std::atomic<bool> LibraryMissing{false};
std::atomic<bool> DecoderMissing{false};
decltype(&::avcodec_find_decoder) RealFindDecoder = nullptr;

// The decoder lookup as the adapter sees it: the library's own, unless a test hides the decoder.
const AVCodec* FindDecoder(enum AVCodecID Id) {
  if (DecoderMissing.load()) return nullptr;
  return RealFindDecoder ? RealFindDecoder(Id) : nullptr;
}

#ifdef _WIN32
Win::HMODULE AvUtilModule = nullptr;
Win::HMODULE AvCodecModule = nullptr;

void Unload() {
  if (AvCodecModule) Win::FreeLibrary(AvCodecModule);
  if (AvUtilModule) Win::FreeLibrary(AvUtilModule);
  AvCodecModule = AvUtilModule = nullptr;
  Api = TAvCodecApi{};
  RealFindDecoder = nullptr;
}

bool Load(const std::string& LibraryDir) {
  AvUtilModule = Win::LoadLibraryA((LibraryDir + AvCodec::AvUtilFile()).c_str());
  if (!AvUtilModule) return false;
  AvCodecModule = Win::LoadLibraryA((LibraryDir + AvCodec::AvCodecFile()).c_str());
  if (!AvCodecModule) {
    Unload();
    return false;
  }
#define ZORV_AV_BIND_UTIL(Name) \
  Api.Name = reinterpret_cast<decltype(&::Name)>(Win::GetProcAddress(AvUtilModule, #Name));
#define ZORV_AV_BIND_CODEC(Name) \
  Api.Name = reinterpret_cast<decltype(&::Name)>(Win::GetProcAddress(AvCodecModule, #Name));
  ZORV_AVUTIL_ENTRIES(ZORV_AV_BIND_UTIL)
  ZORV_AVCODEC_ENTRIES(ZORV_AV_BIND_CODEC)
#undef ZORV_AV_BIND_UTIL
#undef ZORV_AV_BIND_CODEC
  if (!Api.Complete()) {
    Unload();
    return false;
  }
  return true;
}
#else
void Unload() {
  Api = TAvCodecApi{};
  RealFindDecoder = nullptr;
}

bool Load(const std::string&) {
#define ZORV_AV_LINK(Name) Api.Name = &::Name;
  ZORV_AVUTIL_ENTRIES(ZORV_AV_LINK)
  ZORV_AVCODEC_ENTRIES(ZORV_AV_LINK)
#undef ZORV_AV_LINK
  return true;
}
#endif

}  // namespace

bool TAvCodecApi::Complete() const {
  bool All = true;
#define ZORV_AV_CHECK(Name) All = All && Name != nullptr;
  ZORV_AVUTIL_ENTRIES(ZORV_AV_CHECK)
  ZORV_AVCODEC_ENTRIES(ZORV_AV_CHECK)
#undef ZORV_AV_CHECK
  return All;
}

namespace AvCodec {

std::string AvUtilFile() { return "avutil-" + std::to_string(LIBAVUTIL_VERSION_MAJOR) + ".dll"; }
std::string AvCodecFile() { return "avcodec-" + std::to_string(LIBAVCODEC_VERSION_MAJOR) + ".dll"; }

const TAvCodecApi* Acquire(const std::string& LibraryDir) {
  std::lock_guard<std::mutex> Guard(BindLock);
  if (LibraryMissing.load()) return nullptr;
  if (BindCount == 0) {
    if (!Load(LibraryDir)) return nullptr;
    RealFindDecoder = Api.avcodec_find_decoder;
    Api.avcodec_find_decoder = &FindDecoder;
  }
  ++BindCount;
  return &Api;
}

void Release() {
  std::lock_guard<std::mutex> Guard(BindLock);
  if (BindCount == 0) return;
  if (--BindCount == 0) Unload();
}

}  // namespace AvCodec

namespace ZorvTest {
void SetAvCodecMissing(bool Missing) { LibraryMissing = Missing; }
void SetMpeg4DecoderMissing(bool Missing) { DecoderMissing = Missing; }
}  // namespace ZorvTest
