// Stand-in DLLDECODER.dll: the DL frame decoder as the DL adapter drives it.
//
// One decoder per OpenDecoder(window, file head, length): the file head is a 40-byte ZRV stream
// head (anything else opens nothing: handle 0). Handles are small numbers from 1 up. Each host
// frame handed to Decode is one ZRV packet: a video packet is decoded, drawn into the decoder's
// window and described in the caller's output record; anything else is not a picture (-1).
// Audio frames go to DecodeAudioFrame, which counts them. Capture writes the decoder's last
// picture as a 24-bit BMP file.
//
// Output record of Decode (DlFrameOut below): kind (1 = picture), width at byte 4, height at
// byte 8, luma and chroma row pitches, then pointers to the Y, U and V planes. The planes are
// the decoder's own copy of the last picture it decoded: they stay valid until the next
// Decode or DestroyDecoder on that handle. A Decode that decodes no picture leaves the record
// as it was.
//
// Results of Decode: 0 = picture decoded, -1 = not a picture or unknown handle. Refusals
// (results below -1) are scripted: Standin_Script("Decode", return -2).
//
// Test hooks (Standin_Query, by handle): "open" (1 while the decoder exists), "window",
// "decoded", "drawn"; "audio" (any): audio frames taken; "decoders" (any): decoders open;
// "stale" (any): calls that named a handle no decoder has (destroyed or never made).
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "StandinKit.h"
#include "ZrvStream.h"

namespace {

struct DlFrameOut {
  std::int32_t kind;
  std::int32_t width;
  std::int32_t height;
  std::int32_t lumaPitch;
  std::int32_t chromaPitch;
  std::int32_t reserved;
  const std::uint8_t* y;
  const std::uint8_t* u;
  const std::uint8_t* v;
};

struct Decoder {
  std::mutex lock;
  std::uint32_t wnd = 0;
  zrv::StreamParams params;
  std::vector<std::uint8_t> picture;  // the last decoded picture, I420
  int width = 0;
  int height = 0;
  std::int64_t decoded = 0;
  std::int64_t drawn = 0;
};

std::mutex tableLock;
std::map<std::uint32_t, std::shared_ptr<Decoder>>& Table() {
  static auto* table = new std::map<std::uint32_t, std::shared_ptr<Decoder>>();
  return *table;
}
std::uint32_t nextHandle = 1;
std::atomic<std::int64_t> audioFrames{0};
std::atomic<std::int64_t> staleCalls{0};

std::shared_ptr<Decoder> Find(std::uint32_t h) {
  std::lock_guard<std::mutex> hold(tableLock);
  auto it = Table().find(h);
  if (it != Table().end()) return it->second;
  ++staleCalls;
  return nullptr;
}

std::shared_ptr<Decoder> Peek(std::int64_t h) {
  std::lock_guard<std::mutex> hold(tableLock);
  auto it = Table().find(static_cast<std::uint32_t>(h));
  return it == Table().end() ? nullptr : it->second;
}

const kit::Hooks hooks([] {
  auto per = [](const char* name, std::int64_t (*f)(Decoder&)) {
    kit::OnQuery(name, [f](std::int64_t h) -> std::int64_t {
      auto d = Peek(h);
      if (!d) return -1;
      std::lock_guard<std::mutex> hold(d->lock);
      return f(*d);
    });
  };
  per("window", [](Decoder& d) -> std::int64_t { return d.wnd; });
  per("decoded", [](Decoder& d) { return d.decoded; });
  per("drawn", [](Decoder& d) { return d.drawn; });
  kit::OnQuery("open", [](std::int64_t h) -> std::int64_t { return Peek(h) ? 1 : 0; });
  kit::OnQuery("audio", [](std::int64_t) -> std::int64_t { return audioFrames.load(); });
  kit::OnQuery("stale", [](std::int64_t) -> std::int64_t { return staleCalls.load(); });
  kit::OnQuery("decoders", [](std::int64_t) -> std::int64_t {
    std::lock_guard<std::mutex> hold(tableLock);
    return static_cast<std::int64_t>(Table().size());
  });
  kit::OnReset([] {
    std::lock_guard<std::mutex> hold(tableLock);
    Table().clear();
    nextHandle = 1;
    audioFrames = 0;
    staleCalls = 0;
  });
});

}  // namespace

STANDIN_EXPORT std::uint32_t ZORV_STDCALL OpenDecoder(std::uint32_t wnd, const std::uint8_t* head, std::uint32_t length) {
  STANDIN_ENTER(std::uint32_t, "OpenDecoder", wnd, head, length);
  zrv::StreamParams params;
  if (!head || !zrv::ParseStreamHead(head, length, params)) return 0;
  auto d = std::make_shared<Decoder>();
  d->wnd = wnd;
  d->params = params;
  std::lock_guard<std::mutex> hold(tableLock);
  const std::uint32_t h = nextHandle++;
  Table()[h] = d;
  return h;
}

STANDIN_EXPORT std::int32_t ZORV_STDCALL Decode(std::uint32_t h, const std::uint8_t* data, std::uint32_t length,
                                               DlFrameOut* out) {
  STANDIN_ENTER(std::int32_t, "Decode", h, data, length, out);
  auto d = Find(h);
  if (!d || !data) return -1;
  zrv::Packet packet;
  std::size_t consumed = 0;
  if (zrv::ParsePacket(data, length, packet, consumed) != zrv::ParseResult::kPacket) return -1;
  if (packet.kind != zrv::kVideoKey && packet.kind != zrv::kVideo) return -1;
  std::lock_guard<std::mutex> hold(d->lock);
  std::vector<std::uint8_t> yuv;
  if (!zrv::DecodeVideo(packet, yuv)) return -1;
  d->picture.swap(yuv);
  d->width = packet.width;
  d->height = packet.height;
  ++d->decoded;
  if (kit::DrawYuv(d->wnd, d->picture.data(), d->width, d->height)) ++d->drawn;
  if (out) {
    const std::size_t luma = static_cast<std::size_t>(d->width) * d->height;
    const std::size_t chroma = static_cast<std::size_t>(d->width / 2) * (d->height / 2);
    out->kind = 1;
    out->width = d->width;
    out->height = d->height;
    out->lumaPitch = d->width;
    out->chromaPitch = d->width / 2;
    out->reserved = 0;
    out->y = d->picture.data();
    out->u = d->picture.data() + luma;
    out->v = d->picture.data() + luma + chroma;
  }
  return 0;
}

STANDIN_EXPORT void ZORV_STDCALL DestroyDecoder(std::uint32_t h) {
  STANDIN_ENTER(void, "DestroyDecoder", h);
  std::lock_guard<std::mutex> hold(tableLock);
  if (Table().erase(h) == 0) ++staleCalls;
}

// The last argument is the channel of a multi-channel audio frame; 0 = the only one.
STANDIN_EXPORT void ZORV_STDCALL DecodeAudioFrame(const std::uint8_t* data, std::uint32_t length, std::int32_t channel) {
  STANDIN_ENTER(void, "DecodeAudioFrame", data, length, channel);
  if (data && length > 0) ++audioFrames;
}

STANDIN_EXPORT void ZORV_STDCALL SetDecoderHWnd(std::uint32_t h, std::uint32_t wnd) {
  STANDIN_ENTER(void, "SetDecoderHWnd", h, wnd);
  if (auto d = Find(h)) {
    std::lock_guard<std::mutex> hold(d->lock);
    d->wnd = wnd;
  }
}

STANDIN_EXPORT void ZORV_STDCALL Capture(std::uint32_t h, const char* fileName) {
  STANDIN_ENTER(void, "Capture", h, fileName);
  auto d = Find(h);
  if (!d || !fileName) return;
  std::lock_guard<std::mutex> hold(d->lock);
  if (!d->picture.empty()) zrv::WriteBmpFile(fileName, d->picture.data(), d->width, d->height);
}
