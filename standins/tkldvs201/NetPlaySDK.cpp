// Stand-in NetPlaySDK.dll: the TKL DVS201 network playback library as the DVS201 adapter
// drives it.
//
// Up to 500 streams at once, each a kit::Player over the ZRV stream format. A stream's handle
// (NETPLAY_Open's result) is kHandleBase + its slot; -1 when the system header is not one or
// every slot is taken. Results of the other entry points: 0 = done, -1 = failed.
//
// System header (16 bytes, little-endian):
//   0 4 magic "T201"   4 2 width   6 2 height   8 2 frame rate
//  10 1 system format (3 = video and audio, 1 = video only)   11 5 reserved
// NETPLAY_SendData(h, payload, length, stamp, key, video) takes ZRV packets (anything else is
// skipped by the player); the time stamp and the two flags are recorded.
//
// NETPLAY_Play(h, wnd, callback, user) plays the stream into wnd and makes callback (or none)
// the stream's decode callback. The callback gets (picture, U plane, V plane, luma stride,
// chroma stride, width, height, time stamp, pointer to user): the picture is contiguous 4:2:0
// (I420 order) and the last argument points at the low 32 bits of the user value of the
// latest NETPLAY_Play.
//
// Test hooks (Standin_Fire / Standin_Query, by handle; options of StandinPlayer.h also apply):
//   fire "decode" (h, width, height): calls the decode callback now with the last picture,
//                 reporting the given width and height (both 0: the picture's own). -1
//                 without callback or picture.
//   query "open" "playing" "window" "decoded" "drawn" "hasaudio" "pending" "callback" "user"
//         "width" "stamp" (last time stamp sent) "sent" (frames sent) "keys" (sent with key
//         flag 1) "audio" (sent with video flag 0) (h); "live" (any): streams open.
#include <atomic>
#include <cstring>

#include "StandinKit.h"
#include "StandinPlayer.h"

namespace {

using LONG = std::int32_t;
using DWORD = std::uint32_t;

constexpr int kStreams = 500;
constexpr LONG kHandleBase = 3000;
constexpr std::size_t kBufferBytes = 4u * 1024 * 1024;

using DecCallBack = void(ZORV_STDCALL*)(std::uint8_t* picture, std::uintptr_t u, std::uintptr_t v,
                                        std::uintptr_t strideY, std::uintptr_t strideUV, LONG width, LONG height,
                                        std::uintptr_t stamp, LONG* user);

struct Slot {
  std::atomic<bool> used{false};
  std::atomic<DWORD> window{0};
  std::atomic<DecCallBack> callback{nullptr};
  LONG user = 0;  // read by the callback through its pointer
  std::atomic<LONG> width{0};
  std::atomic<DWORD> stamp{0};
  std::atomic<LONG> sent{0};
  std::atomic<LONG> keys{0};
  std::atomic<LONG> audio{0};
};

struct Library {
  kit::PlayerTable players{kStreams};
  Slot slots[kStreams];

  Library() {
    for (int i = 0; i < kStreams; ++i) {
      Slot* s = &slots[i];
      players.Get(i)->SetDecodedHook([s](const kit::Picture& pic) {
        if (DecCallBack cb = s->callback.load()) Deliver(cb, *s, pic, pic.width, pic.height);
      });
    }
    kit::OnReset([this] {
      for (Slot& s : slots) Forget(s);
    });
    kit::OnFire("decode", [this](std::int64_t h, std::int64_t w, std::int64_t ht) -> std::int64_t {
      Slot* s = SlotOf(h);
      kit::Picture pic;
      if (s == nullptr || !players.Get(h - kHandleBase)->LastPicture(pic)) return -1;
      DecCallBack cb = s->callback.load();
      if (cb == nullptr) return -1;
      const bool own = w == 0 && ht == 0;
      Deliver(cb, *s, pic, own ? pic.width : static_cast<LONG>(w), own ? pic.height : static_cast<LONG>(ht));
      return 0;
    });
    auto q = [this](const char* name, std::function<std::int64_t(kit::Player&, Slot&)> f) {
      kit::OnQuery(name, [this, f](std::int64_t h) -> std::int64_t {
        Slot* s = SlotOf(h);
        return s ? f(*players.Get(h - kHandleBase), *s) : -1;
      });
    };
    q("open", [](kit::Player& p, Slot&) { return p.IsOpen() ? 1 : 0; });
    q("playing", [](kit::Player& p, Slot&) { return p.Playing() ? 1 : 0; });
    q("window", [](kit::Player&, Slot& s) { return static_cast<std::int64_t>(s.window.load()); });
    q("decoded", [](kit::Player& p, Slot&) { return static_cast<std::int64_t>(p.DecodedFrames()); });
    q("drawn", [](kit::Player& p, Slot&) { return static_cast<std::int64_t>(p.DrawnFrames()); });
    q("hasaudio", [](kit::Player& p, Slot&) { return p.HasAudio() ? 1 : 0; });
    q("pending", [](kit::Player& p, Slot&) { return static_cast<std::int64_t>(p.Pending()); });
    q("callback", [](kit::Player&, Slot& s) { return s.callback.load() ? 1 : 0; });
    q("user", [](kit::Player&, Slot& s) { return static_cast<std::int64_t>(s.user); });
    q("width", [](kit::Player&, Slot& s) { return static_cast<std::int64_t>(s.width.load()); });
    q("stamp", [](kit::Player&, Slot& s) { return static_cast<std::int64_t>(s.stamp.load()); });
    q("sent", [](kit::Player&, Slot& s) { return static_cast<std::int64_t>(s.sent.load()); });
    q("keys", [](kit::Player&, Slot& s) { return static_cast<std::int64_t>(s.keys.load()); });
    q("audio", [](kit::Player&, Slot& s) { return static_cast<std::int64_t>(s.audio.load()); });
    kit::OnQuery("live", [this](std::int64_t) -> std::int64_t {
      std::int64_t n = 0;
      for (Slot& s : slots) n += s.used.load() ? 1 : 0;
      return n;
    });
  }

  static void Deliver(DecCallBack cb, Slot& s, const kit::Picture& pic, LONG width, LONG height) {
    std::uint8_t* y = const_cast<std::uint8_t*>(pic.yuv.data());
    const std::size_t luma = static_cast<std::size_t>(pic.width) * pic.height;
    const std::size_t chroma = static_cast<std::size_t>(pic.width / 2) * (pic.height / 2);
    cb(y, reinterpret_cast<std::uintptr_t>(y + luma), reinterpret_cast<std::uintptr_t>(y + luma + chroma),
       static_cast<std::uintptr_t>(pic.width), static_cast<std::uintptr_t>(pic.width / 2), width, height,
       pic.stampMs, &s.user);
  }

  static void Forget(Slot& s) {
    s.callback = nullptr;
    s.user = 0;
    s.window = 0;
    s.width = 0;
    s.stamp = 0;
    s.sent = 0;
    s.keys = 0;
    s.audio = 0;
    s.used = false;
  }

  Slot* SlotOf(std::int64_t handle) {
    const std::int64_t i = handle - kHandleBase;
    if (i < 0 || i >= kStreams || !slots[i].used.load()) return nullptr;
    return &slots[i];
  }
  kit::Player* PlayerOf(std::int64_t handle) { return SlotOf(handle) ? players.Get(handle - kHandleBase) : nullptr; }
};

Library& Lib() {
  static Library* lib = new Library;  // lives as long as the process: player threads use it
  return *lib;
}
const kit::Hooks installed([] { Lib(); });

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

STANDIN_EXPORT LONG ZORV_STDCALL NETPLAY_InitPlayer() {
  STANDIN_ENTER(LONG, "NETPLAY_InitPlayer");
  return 0;
}

STANDIN_EXPORT LONG ZORV_STDCALL NETPLAY_Open(std::uint8_t* sysHead) {
  STANDIN_ENTER(LONG, "NETPLAY_Open", sysHead);
  if (sysHead == nullptr || std::memcmp(sysHead, "T201", 4) != 0) return -1;
  zrv::StreamParams params;
  params.width = U16(sysHead + 4);
  params.height = U16(sysHead + 6);
  params.fps = U16(sysHead + 8);
  params.audio = sysHead[10] == zrv::kSystemVideoAudio;
  if (!zrv::ValidDimensions(params.width, params.height) || params.fps < 1 || params.fps > 200) return -1;
  const std::vector<std::uint8_t> head = zrv::MakeStreamHead(params);
  for (int i = 0; i < kStreams; ++i) {
    Slot& s = Lib().slots[i];
    bool expected = false;
    if (!s.used.compare_exchange_strong(expected, true)) continue;
    if (!Lib().players.Get(i)->OpenStream(head.data(), head.size(), kBufferBytes)) {
      s.used = false;
      return -1;
    }
    s.width = params.width;
    return kHandleBase + i;
  }
  return -1;
}

STANDIN_EXPORT LONG ZORV_STDCALL NETPLAY_FlushAllBuff(LONG h) {
  STANDIN_ENTER(LONG, "NETPLAY_FlushAllBuff", h);
  kit::Player* p = Lib().PlayerOf(h);
  if (p == nullptr) return -1;
  p->ResetBuffer();
  return 0;
}

STANDIN_EXPORT LONG ZORV_STDCALL NETPLAY_Play(LONG h, DWORD wnd, DecCallBack callback, std::uintptr_t user) {
  STANDIN_ENTER(LONG, "NETPLAY_Play", h, wnd, callback, user);
  Slot* s = Lib().SlotOf(h);
  if (s == nullptr) return -1;
  kit::Player* p = Lib().players.Get(h - kHandleBase);
  // A picture being delivered finishes with the old callback and user value.
  p->Stop();
  s->user = static_cast<LONG>(static_cast<std::uint32_t>(user));
  s->callback = callback;
  s->window = wnd;
  return p->Play(wnd) ? 0 : -1;
}

STANDIN_EXPORT LONG ZORV_STDCALL NETPLAY_SendData(LONG h, std::uint8_t* data, LONG length, DWORD stamp, LONG key,
                                                 LONG video) {
  STANDIN_ENTER(LONG, "NETPLAY_SendData", h, data, length, stamp, key, video);
  Slot* s = Lib().SlotOf(h);
  if (s == nullptr || length < 0 || (data == nullptr && length > 0)) return -1;
  s->stamp = stamp;
  ++s->sent;
  if (key == 1) ++s->keys;
  if (video == 0) ++s->audio;
  return Lib().players.Get(h - kHandleBase)->Input(data, static_cast<std::size_t>(length)) ? 0 : -1;
}

// Ends the stream and frees its handle.
STANDIN_EXPORT LONG ZORV_STDCALL NETPLAY_Stop(LONG h) {
  STANDIN_ENTER(LONG, "NETPLAY_Stop", h);
  Slot* s = Lib().SlotOf(h);
  if (s == nullptr) return -1;
  Lib().players.Get(h - kHandleBase)->Close();
  Library::Forget(*s);
  return 0;
}

// Entry points the adapter binds but never calls: journalled, they do nothing.
#define NETPLAY_STANDIN_UNUSED(name)               \
  STANDIN_EXPORT LONG ZORV_STDCALL name(LONG h) {  \
    STANDIN_ENTER(LONG, #name, h);                 \
    return -1;                                     \
  }
NETPLAY_STANDIN_UNUSED(NETPLAY_FreePlayer)
NETPLAY_STANDIN_UNUSED(NETPLAY_CaptureBmp)
NETPLAY_STANDIN_UNUSED(NETPLAY_PlaySound)
NETPLAY_STANDIN_UNUSED(NETPLAY_StopSound)
NETPLAY_STANDIN_UNUSED(NETPLAY_SetVolume)
NETPLAY_STANDIN_UNUSED(NETPLAY_RefreshDisplay)
NETPLAY_STANDIN_UNUSED(NETPLAY_SetWnd)
NETPLAY_STANDIN_UNUSED(NETPLAY_Fast)
