// Stand-in AVPlayer.dll: the TM playback library as the TM adapters drive it. Built twice: the
// TM player library (PlayDll\TM\) and, with TM_STANDIN_DVS, the TM DVS library (PlayDll\TMDVS\),
// which has a two-argument PB_IniPlayer, no PB_ReleaseDecoder and no PB_RegDecodeDataCallBackEx
// but PB_RegisgerCallBack.
//
// 500 players (ports 0..499), each a kit::Player over the ZRV stream format. PB_IniPlayer
// takes a pointer to the port (kept unless option "iniplayer.portshift" N moves it by N) and
// the window; PB_OpenStream opens a fed stream and plays it into that window; frames come in
// whole through PB_InputOneFrameData with a frame type byte and a time stamp, which are
// recorded. Results: 0 = done, -1 = failed.
//
// Decode callbacks, on the player's thread, for every decoded picture:
//   TM:     callback(port, Y, U, V, width, height, time stamp, user)            (stdcall)
//   TM DVS: callback(port, picture, width, height) -> 0, picture contiguous 4:2:0 with 256
//           guard bytes 0xA5 after it; the callback's result is ignored         (stdcall)
// PB_CapturePictureEx(port, &data, &length) (register convention: EAX, EDX, ECX) hands out a
// BMP image of the last picture, kept by the library until the next capture; option
// "capture.bytes" N > 0 makes the image exactly N bytes (cut or zero-padded) — the BMP head
// stays. No picture: data nil, length 0.
//
// Test hooks (Standin_Query by port; kit player queries "open" "playing" "window" "decoded"
// "displayed" "drawn" "audio" "audioplayed" "sound" "pending" also apply):
//   query "type" (last vendor frame type), "stamp" (last time stamp), "sent" (frames fed),
//         "callback" (1 when a decode callback is registered), "inited" (1 after PB_IniPlayer
//         until PB_Release), "guard" (bit set of CallWithGuard over the TM DVS deliveries: 1 =
//         written past the picture, 2 = picture changed).
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "StandinKit.h"
#include "StandinPictures.h"
#include "StandinPlayer.h"

namespace {

using LONG = std::int32_t;
using DWORD = std::uint32_t;

constexpr int kPorts = 500;
constexpr std::size_t kBufferBytes = 8u * 1024 * 1024;

#ifdef TM_STANDIN_DVS
using DecCallBack = LONG(ZORV_STDCALL*)(LONG port, std::uint8_t* picture, LONG width, LONG height);
#else
using DecCallBack = void(ZORV_STDCALL*)(LONG port, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v, LONG width,
                                        LONG height, LONG stamp, LONG user);
#endif

struct Port {
  std::atomic<bool> inited{false};
  std::atomic<DWORD> window{0};
  std::atomic<DecCallBack> callback{nullptr};
  std::atomic<LONG> user{0};
  std::atomic<LONG> type{-1};
  std::atomic<DWORD> stamp{0};
  std::atomic<LONG> sent{0};
  std::atomic<LONG> guard{0};
  std::mutex captureLock;
  std::vector<std::uint8_t> capture;  // the image of the last PB_CapturePictureEx
};

struct Library {
  kit::PlayerTable players{kPorts};
  Port ports[kPorts];

  Library() {
    for (int i = 0; i < kPorts; ++i) {
      Port* s = &ports[i];
      players.Get(i)->SetDecodedHook([s, i](const kit::Picture& pic) {
        if (DecCallBack cb = s->callback.load()) Deliver(cb, *s, i, pic);
      });
    }
    kit::InstallPlayerQueries(players);
    kit::OnReset([this] {
      for (Port& s : ports) Forget(s);
    });
    auto q = [this](const char* name, std::function<std::int64_t(Port&)> f) {
      kit::OnQuery(name, [this, f](std::int64_t port) -> std::int64_t {
        return port >= 0 && port < kPorts ? f(ports[port]) : -1;
      });
    };
    q("type", [](Port& s) { return static_cast<std::int64_t>(s.type.load()); });
    q("stamp", [](Port& s) { return static_cast<std::int64_t>(s.stamp.load()); });
    q("sent", [](Port& s) { return static_cast<std::int64_t>(s.sent.load()); });
    q("callback", [](Port& s) -> std::int64_t { return s.callback.load() ? 1 : 0; });
    q("inited", [](Port& s) -> std::int64_t { return s.inited.load() ? 1 : 0; });
    q("guard", [](Port& s) { return static_cast<std::int64_t>(s.guard.load()); });
  }

  static void Deliver(DecCallBack cb, Port& s, int port, const kit::Picture& pic) {
#ifdef TM_STANDIN_DVS
    s.guard |= kit::CallWithGuard(pic.yuv, pic.yuv.size(), [&](std::uint8_t* picture, std::size_t) {
      cb(port, picture, pic.width, pic.height);
    });
#else
    std::uint8_t* y = const_cast<std::uint8_t*>(pic.yuv.data());
    const std::size_t luma = static_cast<std::size_t>(pic.width) * pic.height;
    const std::size_t chroma = static_cast<std::size_t>(pic.width / 2) * (pic.height / 2);
    cb(port, y, y + luma, y + luma + chroma, pic.width, pic.height, static_cast<LONG>(pic.stampMs), s.user.load());
#endif
  }

  static void Forget(Port& s) {
    s.inited = false;
    s.window = 0;
    s.callback = nullptr;
    s.user = 0;
    s.type = -1;
    s.stamp = 0;
    s.sent = 0;
    s.guard = 0;
    std::lock_guard<std::mutex> hold(s.captureLock);
    s.capture.clear();
  }

  Port* Inited(LONG port) {
    if (port < 0 || port >= kPorts || !ports[port].inited.load()) return nullptr;
    return &ports[port];
  }
  kit::Player* PlayerOf(LONG port) { return Inited(port) ? players.Get(port) : nullptr; }
};

Library& Lib() {
  static Library* lib = new Library;  // lives as long as the process: player threads use it
  return *lib;
}
const kit::Hooks installed([] { Lib(); });

LONG IniPlayer(LONG* port, DWORD wnd) {
  if (port == nullptr) return -1;
  const LONG moved = *port + static_cast<LONG>(kit::Option("iniplayer.portshift", 0));
  if (moved < 0 || moved >= kPorts) return -1;
  *port = moved;
  Port& s = Lib().ports[moved];
  s.inited = true;
  s.window = wnd;
  return 0;
}

}  // namespace

#ifdef TM_STANDIN_DVS
STANDIN_EXPORT LONG ZORV_STDCALL PB_IniPlayer(LONG* port, DWORD wnd) {
  STANDIN_ENTER(LONG, "PB_IniPlayer", port ? *port : -1, wnd);
  return IniPlayer(port, wnd);
}
#else
STANDIN_EXPORT LONG ZORV_STDCALL PB_IniPlayer(LONG* port, DWORD wnd, LONG reserved) {
  STANDIN_ENTER(LONG, "PB_IniPlayer", port ? *port : -1, wnd, reserved);
  return IniPlayer(port, wnd);
}
#endif

STANDIN_EXPORT LONG ZORV_STDCALL PB_OpenStream(LONG port) {
  STANDIN_ENTER(LONG, "PB_OpenStream", port);
  Port* s = Lib().Inited(port);
  if (s == nullptr) return -1;
  kit::Player* p = Lib().players.Get(port);
  if (!p->OpenStream(nullptr, 0, kBufferBytes)) return -1;
  return p->Play(s->window.load()) ? 0 : -1;
}

STANDIN_EXPORT LONG ZORV_STDCALL PB_StartJitterFilter(LONG port, LONG frames) {
  STANDIN_ENTER(LONG, "PB_StartJitterFilter", port, frames);
  return Lib().Inited(port) ? 0 : -1;
}

STANDIN_EXPORT LONG ZORV_STDCALL PB_SetupJitterFilterFrameCount(LONG port, LONG low, LONG high) {
  STANDIN_ENTER(LONG, "PB_SetupJitterFilterFrameCount", port, low, high);
  return Lib().Inited(port) ? 0 : -1;
}

STANDIN_EXPORT LONG ZORV_STDCALL PB_InputOneFrameData(LONG port, std::uint8_t* data, DWORD length,
                                                      std::uint8_t type, DWORD stamp) {
  STANDIN_ENTER(LONG, "PB_InputOneFrameData", port, data, length, static_cast<int>(type), stamp);
  Port* s = Lib().Inited(port);
  if (s == nullptr || (data == nullptr && length > 0)) return -1;
  s->type = type;
  s->stamp = stamp;
  ++s->sent;
  return Lib().players.Get(port)->Input(data, length) ? 0 : -1;
}

STANDIN_EXPORT LONG ZORV_STDCALL PB_SetAudio(LONG port, LONG on) {
  STANDIN_ENTER(LONG, "PB_SetAudio", port, on);
  kit::Player* p = Lib().PlayerOf(port);
  if (p == nullptr) return -1;
  p->SetSound(on != 0);
  return 0;
}

#ifdef TM_STANDIN_DVS
STANDIN_EXPORT LONG ZORV_REGISTER PB_RegisgerCallBack(LONG port, DecCallBack callback) {
  STANDIN_ENTER(LONG, "PB_RegisgerCallBack", port, callback);
  Port* s = Lib().Inited(port);
  if (s == nullptr) return -1;
  s->callback = callback;
  return 0;
}
#else
STANDIN_EXPORT LONG ZORV_STDCALL PB_RegDecodeDataCallBackEx(LONG port, DecCallBack callback, LONG user) {
  STANDIN_ENTER(LONG, "PB_RegDecodeDataCallBackEx", port, callback, user);
  Port* s = Lib().Inited(port);
  if (s == nullptr) return -1;
  s->user = user;
  s->callback = callback;
  return 0;
}

// Drops the stream input not yet decoded.
STANDIN_EXPORT LONG ZORV_STDCALL PB_ReleaseDecoder(LONG port) {
  STANDIN_ENTER(LONG, "PB_ReleaseDecoder", port);
  kit::Player* p = Lib().PlayerOf(port);
  if (p == nullptr) return -1;
  p->ResetBuffer();
  return 0;
}
#endif

STANDIN_EXPORT LONG ZORV_REGISTER PB_CapturePictureEx(LONG port, std::uint8_t** data, LONG* length) {
  STANDIN_ENTER(LONG, "PB_CapturePictureEx", port, data, length);
  if (data == nullptr || length == nullptr) return -1;
  *data = nullptr;
  *length = 0;
  Port* s = Lib().Inited(port);
  kit::Picture pic;
  if (s == nullptr || !Lib().players.Get(port)->LastPicture(pic)) return -1;
  std::lock_guard<std::mutex> hold(s->captureLock);
  s->capture = zrv::MakeBmp(pic.yuv.data(), pic.width, pic.height);
  const std::int64_t forced = kit::Option("capture.bytes", 0);
  if (forced > 0) s->capture.resize(static_cast<std::size_t>(forced), 0);
  *data = s->capture.data();
  *length = static_cast<LONG>(s->capture.size());
  return 0;
}

STANDIN_EXPORT LONG ZORV_STDCALL PB_StopStream(LONG port) {
  STANDIN_ENTER(LONG, "PB_StopStream", port);
  kit::Player* p = Lib().PlayerOf(port);
  return p != nullptr && p->Stop() ? 0 : -1;
}

STANDIN_EXPORT LONG ZORV_STDCALL PB_CloseStream(LONG port) {
  STANDIN_ENTER(LONG, "PB_CloseStream", port);
  kit::Player* p = Lib().PlayerOf(port);
  if (p == nullptr) return -1;
  p->Close();
  return 0;
}

// Gives the port back.
STANDIN_EXPORT LONG ZORV_STDCALL PB_Release(LONG port) {
  STANDIN_ENTER(LONG, "PB_Release", port);
  Port* s = Lib().Inited(port);
  if (s == nullptr) return -1;
  Lib().players.Get(port)->Close();
  Library::Forget(*s);
  return 0;
}

// Entry points the adapters bind but never call: journalled, they do nothing.
#define TM_STANDIN_UNUSED(name)                       \
  STANDIN_EXPORT LONG ZORV_STDCALL name(LONG port) {  \
    STANDIN_ENTER(LONG, #name, port);                 \
    return -1;                                        \
  }
TM_STANDIN_UNUSED(PB_IniSelf)
TM_STANDIN_UNUSED(PB_ReleaseSelf)
TM_STANDIN_UNUSED(PB_Play)
TM_STANDIN_UNUSED(PB_Stop)
TM_STANDIN_UNUSED(PB_InputData)
TM_STANDIN_UNUSED(PB_SetDisplayhWnd)
TM_STANDIN_UNUSED(PB_CapturePicture)
