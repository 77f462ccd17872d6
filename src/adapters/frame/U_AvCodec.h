// The libavcodec/libavutil binding of the MPEG-4 adapter: the entry points it calls, bound once
// per process. The Linux build links the libraries; the Win32 build loads "avutil-NN.dll" and
// then "avcodec-NN.dll" (NN: the major versions of the headers it was compiled against) from
// the adapter's library folder and looks every entry point up by name.
#pragma once

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
}

// One field per entry point, in the order of use; null while unbound.
#define ZORV_AVUTIL_ENTRIES(X) \
  X(av_frame_alloc)            \
  X(av_frame_unref)            \
  X(av_frame_free)             \
  X(av_mallocz)                \
  X(av_free)
#define ZORV_AVCODEC_ENTRIES(X) \
  X(avcodec_find_decoder)       \
  X(avcodec_alloc_context3)     \
  X(avcodec_open2)              \
  X(av_packet_alloc)            \
  X(av_packet_free)             \
  X(avcodec_send_packet)        \
  X(avcodec_receive_frame)      \
  X(avcodec_flush_buffers)      \
  X(avcodec_free_context)

struct TAvCodecApi {
#define ZORV_AV_FIELD(Name) decltype(&::Name) Name = nullptr;
  ZORV_AVUTIL_ENTRIES(ZORV_AV_FIELD)
  ZORV_AVCODEC_ENTRIES(ZORV_AV_FIELD)
#undef ZORV_AV_FIELD

  // Whether every entry point is bound.
  bool Complete() const;
};

namespace AvCodec {

// File names of the two libraries in the Win32 build, in load order (avutil first: avcodec
// imports it and finds it already loaded).
std::string AvUtilFile();
std::string AvCodecFile();

// Binds the libraries (Win32: below LibraryDir, which ends in '\') and returns the entry
// points, or null when a library or an entry point is missing (nothing stays loaded then).
// Reference-counted: every successful Acquire is paired with one Release; the last Release
// unloads the libraries.
const TAvCodecApi* Acquire(const std::string& LibraryDir);
void Release();

}  // namespace AvCodec

// Internal test hooks (not exported from the library).
namespace ZorvTest {
// While set, Acquire finds no library at all.
void SetAvCodecMissing(bool Missing);
// While set, the bound avcodec_find_decoder finds no decoder.
void SetMpeg4DecoderMissing(bool Missing);
}  // namespace ZorvTest
