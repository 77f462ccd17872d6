// Stand-in SHXDecoder.dll: a frame decoder that writes each decoded picture into the caller's
// buffer as YV12 (luma, then Cr, then Cb).
//
// SHXDec_Create(codec, {width, height, ...}) makes a decoder (handles 1, 2, ...). SHXDec_Decode
// takes one ZRV packet or a ZRV stream head: a stream head tells the decoder the stream's
// picture size and answers 0; a video packet is decoded into the buffer and the result is the
// picture's byte count; an audio packet is taken and answers 0; anything else answers -1.
// Pictures larger than 720 x 576 are refused (-2, nothing written): the buffer a caller passes
// is sized for that. SHXDec_GetDecoderInfo reports the size of the last picture or stream head
// (0), or fails (-1) before either.
//
// Test hooks (Standin_Query): "decoders" (any): decoders alive; "codec" (handle); "decoded"
// (handle): pictures written; "audio" (handle): audio packets taken; "heads" (handle): stream
// heads taken. Options: "info.width" and "info.height", when not 0, are the size
// SHXDec_GetDecoderInfo reports whatever the decoder saw.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "StandinKit.h"
#include "ZrvStream.h"

namespace {

struct CreateParam {
  std::int32_t width;
  std::int32_t height;
  std::int32_t reserved[3];
};
struct DecoderInfo {
  std::int32_t width;
  std::int32_t height;
  std::int32_t reserved[3];
};

constexpr std::size_t kLargestPicture = 720 * 576 * 3 / 2;

struct Decoder {
  std::int32_t codec = 0;
  int width = 0;
  int height = 0;
  std::int64_t decoded = 0;
  std::int64_t audio = 0;
  std::int64_t heads = 0;
};

std::mutex tableLock;
std::map<std::uint32_t, Decoder>& Table() {
  static auto* table = new std::map<std::uint32_t, Decoder>();
  return *table;
}
std::uint32_t nextHandle = 1;

const kit::Hooks hooks([] {
  auto per = [](const char* name, std::int64_t (*f)(const Decoder&)) {
    kit::OnQuery(name, [f](std::int64_t h) -> std::int64_t {
      std::lock_guard<std::mutex> hold(tableLock);
      auto it = Table().find(static_cast<std::uint32_t>(h));
      return it == Table().end() ? -1 : f(it->second);
    });
  };
  per("codec", [](const Decoder& d) -> std::int64_t { return d.codec; });
  per("decoded", [](const Decoder& d) { return d.decoded; });
  per("audio", [](const Decoder& d) { return d.audio; });
  per("heads", [](const Decoder& d) { return d.heads; });
  kit::OnQuery("decoders", [](std::int64_t) -> std::int64_t {
    std::lock_guard<std::mutex> hold(tableLock);
    return static_cast<std::int64_t>(Table().size());
  });
  kit::OnReset([] {
    std::lock_guard<std::mutex> hold(tableLock);
    Table().clear();
    nextHandle = 1;
  });
});

}  // namespace

STANDIN_EXPORT std::uint32_t ZORV_STDCALL SHXDec_Create(std::int32_t codec, CreateParam param) {
  STANDIN_ENTER(std::uint32_t, "SHXDec_Create", codec, param.width, param.height);
  std::lock_guard<std::mutex> hold(tableLock);
  const std::uint32_t h = nextHandle++;
  Decoder& d = Table()[h];
  d.codec = codec;
  return h;
}

STANDIN_EXPORT void ZORV_STDCALL SHXDec_Destroy(std::uint32_t h) {
  STANDIN_ENTER(void, "SHXDec_Destroy", h);
  std::lock_guard<std::mutex> hold(tableLock);
  Table().erase(h);
}

STANDIN_EXPORT std::int32_t ZORV_STDCALL SHXDec_Decode(std::uint32_t h, const std::uint8_t* data, std::int32_t length,
                                                      std::uint8_t* picture) {
  STANDIN_ENTER(std::int32_t, "SHXDec_Decode", h, data, length, picture);
  if (!data || length <= 0) return -1;
  {
    std::lock_guard<std::mutex> hold(tableLock);
    if (!Table().count(h)) return -1;
  }
  zrv::StreamParams params;
  if (zrv::ParseStreamHead(data, static_cast<std::size_t>(length), params)) {
    std::lock_guard<std::mutex> hold(tableLock);
    Decoder& d = Table()[h];
    d.width = params.width;
    d.height = params.height;
    ++d.heads;
    return 0;
  }
  zrv::Packet packet;
  std::size_t consumed = 0;
  if (zrv::ParsePacket(data, static_cast<std::size_t>(length), packet, consumed) != zrv::ParseResult::kPacket)
    return -1;
  if (packet.kind == zrv::kAudio) {
    std::lock_guard<std::mutex> hold(tableLock);
    ++Table()[h].audio;
    return 0;
  }
  if (packet.kind != zrv::kVideoKey && packet.kind != zrv::kVideo) return -1;
  if (zrv::PictureBytes(packet.width, packet.height) > kLargestPicture) return -2;
  std::vector<std::uint8_t> yuv;
  if (!zrv::DecodeVideo(packet, yuv) || !picture) return -1;
  // The stream's pictures are I420 (U before V); the caller gets YV12.
  const std::size_t luma = static_cast<std::size_t>(packet.width) * packet.height;
  const std::size_t chroma = static_cast<std::size_t>(packet.width / 2) * (packet.height / 2);
  std::memcpy(picture, yuv.data(), luma);
  std::memcpy(picture + luma, yuv.data() + luma + chroma, chroma);
  std::memcpy(picture + luma + chroma, yuv.data() + luma, chroma);
  std::lock_guard<std::mutex> hold(tableLock);
  auto it = Table().find(h);
  if (it != Table().end()) {
    it->second.width = packet.width;
    it->second.height = packet.height;
    ++it->second.decoded;
  }
  return static_cast<std::int32_t>(luma + 2 * chroma);
}

STANDIN_EXPORT std::int32_t ZORV_STDCALL SHXDec_GetDecoderInfo(std::uint32_t h, DecoderInfo* info) {
  STANDIN_ENTER(std::int32_t, "SHXDec_GetDecoderInfo", h, info);
  std::lock_guard<std::mutex> hold(tableLock);
  auto it = Table().find(h);
  if (it == Table().end() || !info || it->second.width == 0) return -1;
  std::memset(info, 0, sizeof *info);
  const std::int64_t width = kit::Option("info.width", 0), height = kit::Option("info.height", 0);
  info->width = width ? static_cast<std::int32_t>(width) : it->second.width;
  info->height = height ? static_cast<std::int32_t>(height) : it->second.height;
  return 0;
}
