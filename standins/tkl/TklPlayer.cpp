// Stand-in TKL_Player.dll: the TKL player library as the TKL adapter drives it.
//
// Up to 500 players at once, each a kit::Player over the ZRV stream format. A player's handle
// (TKLPLAYER_CreatePlayer's result) is kHandleBase + its slot, so handles never look like the
// adapter's player numbers.
//
// Stream kinds and their stream headers: a ZRV stream head (40 bytes) whose 4-byte magic is
// replaced by the kind's signature, then zero bytes up to the header size:
//   kind 5: signature 00 00 01 B2, 1024-byte header;
//   kind 6: signature "TRKS", 44-byte header.
// Byte 16 is thus the ZRV system format (3 = the stream carries sound). The stream bytes that
// follow are ZRV packets; anything else is skipped.
//
// TKLPLAYER_StreamWriteToBuf(h, data, length, 1, 0, 0) answers the bitwise complement of the
// length when the player's buffer took the bytes, and 0 when it did not (buffer full, unknown
// or closed player). The decode callback registered with TKLPLAYER_RegisterDecCallBack(h, cb,
// user, flags) gets (h, picture, size, frame information, user) for every decoded picture;
// the frame information (TklFrameInfo) holds the picture type, width, height, time stamp and
// frame number, five 32-bit values.
//
// Test hooks (Standin_Fire / Standin_Query, by handle; options of StandinPlayer.h also apply):
//   fire "decode" (h, width, height): calls the decode callback now with the last picture,
//                 reporting the given width and height (both 0: the picture's own). -1 when there
//                 is no callback or no picture.
//   fire "release": lets a held TKLPLAYER_StreamWriteToBuf return (see option "write.hold").
//   query "open" "playing" "window" "decoded" "drawn" "sound" "hasaudio" "pending" "kind"
//         "headersize" "callback" (h); "live" (any): players created and not released;
//         "headtail" (h): non-zero bytes after the first 40 of the header the player was opened
//         with (-1 when none); "held" (any): 1 while a write waits for "release".
//   option "write.hold" 1: the next TKLPLAYER_StreamWriteToBuf waits (at most 10 s) for fire
//          "release", then refuses the bytes; the option clears itself.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "StandinKit.h"
#include "StandinPlayer.h"

namespace {

using BOOL = std::int32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;

constexpr int kPlayers = 500;
constexpr DWORD kHandleBase = 7000;
constexpr std::size_t kBufferBytes = 4u * 1024 * 1024;
constexpr LONG kPictureTypeYuv420 = 1;

struct TklFrameInfo {
  LONG type;
  LONG width;
  LONG height;
  LONG stampMs;
  LONG frameNo;
};
using DecCallBack = void(ZORV_STDCALL*)(DWORD handle, std::uint8_t* picture, LONG size, TklFrameInfo* info,
                                        DWORD user);

struct Slot {
  std::atomic<bool> used{false};
  std::atomic<LONG> kind{0};
  std::atomic<DWORD> window{0};
  std::atomic<LONG> headerSize{0};
  std::atomic<LONG> headTail{-1};
  std::atomic<DecCallBack> callback{nullptr};
  std::atomic<DWORD> user{0};
};

struct Library {
  kit::PlayerTable players{kPlayers};
  Slot slots[kPlayers];
  std::mutex holdMutex;
  std::condition_variable holdWake;
  bool held = false;
  bool released = false;

  Library() {
    for (int i = 0; i < kPlayers; ++i) {
      const DWORD handle = kHandleBase + static_cast<DWORD>(i);
      Slot* s = &slots[i];
      players.Get(i)->SetDecodedHook([handle, s](const kit::Picture& pic) {
        if (DecCallBack cb = s->callback.load()) Deliver(cb, handle, pic, pic.width, pic.height, s->user.load());
      });
    }
    kit::OnReset([this] {
      for (Slot& s : slots) Forget(s);
      Release();
    });
    kit::OnFire("decode", [this](std::int64_t h, std::int64_t w, std::int64_t ht) -> std::int64_t {
      Slot* s = SlotOf(h);
      kit::Picture pic;
      if (s == nullptr || !players.Get(h - kHandleBase)->LastPicture(pic)) return -1;
      DecCallBack cb = s->callback.load();
      if (cb == nullptr) return -1;
      const bool own = w == 0 && ht == 0;
      Deliver(cb, static_cast<DWORD>(h), pic, own ? pic.width : static_cast<LONG>(w),
              own ? pic.height : static_cast<LONG>(ht), s->user.load());
      return 0;
    });
    kit::OnFire("release", [this](std::int64_t, std::int64_t, std::int64_t) -> std::int64_t {
      Release();
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
    q("sound", [](kit::Player& p, Slot&) { return p.Sound() ? 1 : 0; });
    q("hasaudio", [](kit::Player& p, Slot&) { return p.HasAudio() ? 1 : 0; });
    q("pending", [](kit::Player& p, Slot&) { return static_cast<std::int64_t>(p.Pending()); });
    q("kind", [](kit::Player&, Slot& s) { return static_cast<std::int64_t>(s.kind.load()); });
    q("headersize", [](kit::Player&, Slot& s) { return static_cast<std::int64_t>(s.headerSize.load()); });
    q("headtail", [](kit::Player&, Slot& s) { return static_cast<std::int64_t>(s.headTail.load()); });
    q("callback", [](kit::Player&, Slot& s) { return s.callback.load() ? 1 : 0; });
    kit::OnQuery("live", [this](std::int64_t) -> std::int64_t {
      std::int64_t n = 0;
      for (Slot& s : slots) n += s.used.load() ? 1 : 0;
      return n;
    });
    kit::OnQuery("held", [this](std::int64_t) -> std::int64_t {
      std::lock_guard<std::mutex> lock(holdMutex);
      return held ? 1 : 0;
    });
  }

  static void Deliver(DecCallBack cb, DWORD handle, const kit::Picture& pic, LONG width, LONG height, DWORD user) {
    TklFrameInfo info{kPictureTypeYuv420, width, height, static_cast<LONG>(pic.stampMs),
                      static_cast<LONG>(pic.frameNo)};
    cb(handle, const_cast<std::uint8_t*>(pic.yuv.data()), static_cast<LONG>(pic.yuv.size()), &info, user);
  }

  static void Forget(Slot& s) {
    s.callback = nullptr;
    s.user = 0;
    s.kind = 0;
    s.window = 0;
    s.headerSize = 0;
    s.headTail = -1;
    s.used = false;
  }

  // The slot of a handle that is in use; null otherwise.
  Slot* SlotOf(std::int64_t handle) {
    const std::int64_t i = handle - kHandleBase;
    if (i < 0 || i >= kPlayers || !slots[i].used.load()) return nullptr;
    return &slots[i];
  }
  kit::Player* PlayerOf(std::int64_t handle) {
    return SlotOf(handle) ? players.Get(handle - kHandleBase) : nullptr;
  }

  // "write.hold": waits for "release" (at most 10 s).
  void Hold() {
    std::unique_lock<std::mutex> lock(holdMutex);
    held = true;
    released = false;
    holdWake.wait_for(lock, std::chrono::seconds(10), [this] { return released; });
    held = false;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(holdMutex);
    released = true;
    holdWake.notify_all();
  }
};

Library& Lib() {
  static Library* lib = new Library;  // lives as long as the process: player threads use it
  return *lib;
}
const kit::Hooks installed([] { Lib(); });

bool KnownSignature(const std::uint8_t* head, LONG kind) {
  static const std::uint8_t mpeg[4] = {0x00, 0x00, 0x01, 0xB2};
  static const std::uint8_t trks[4] = {'T', 'R', 'K', 'S'};
  return std::memcmp(head, kind == 5 ? mpeg : trks, 4) == 0;
}

}  // namespace

STANDIN_EXPORT DWORD ZORV_STDCALL TKLPLAYER_CreatePlayer(LONG kind, LONG reserved) {
  STANDIN_ENTER(DWORD, "TKLPLAYER_CreatePlayer", kind, reserved);
  if (kind != 5 && kind != 6) return 0;
  for (int i = 0; i < kPlayers; ++i) {
    Slot& s = Lib().slots[i];
    bool expected = false;
    if (s.used.compare_exchange_strong(expected, true)) {
      s.kind = kind;
      return kHandleBase + static_cast<DWORD>(i);
    }
  }
  return 0;
}

STANDIN_EXPORT BOOL ZORV_STDCALL TKLPLAYER_ReleasePlayer(DWORD h) {
  STANDIN_ENTER(BOOL, "TKLPLAYER_ReleasePlayer", h);
  Slot* s = Lib().SlotOf(h);
  if (s == nullptr) return 0;
  Lib().players.Get(h - kHandleBase)->Close();
  Library::Forget(*s);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL TKLPLAYER_SetVideoWindow(DWORD h, DWORD wnd, void* rect) {
  STANDIN_ENTER(BOOL, "TKLPLAYER_SetVideoWindow", h, wnd, rect);
  Slot* s = Lib().SlotOf(h);
  if (s == nullptr) return 0;
  s->window = wnd;
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL TKLPLAYER_SetDisplayMode(DWORD h, LONG mode, LONG reserved) {
  STANDIN_ENTER(BOOL, "TKLPLAYER_SetDisplayMode", h, mode, reserved);
  return Lib().SlotOf(h) ? 1 : 0;
}

STANDIN_EXPORT BOOL ZORV_STDCALL TKLPLAYER_StreamEmptyBuf(DWORD h) {
  STANDIN_ENTER(BOOL, "TKLPLAYER_StreamEmptyBuf", h);
  kit::Player* p = Lib().PlayerOf(h);
  if (p == nullptr) return 0;
  p->ResetBuffer();
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL TKLPLAYER_StreamOpen(DWORD h, std::uint8_t* header, DWORD size, LONG reserved) {
  STANDIN_ENTER(BOOL, "TKLPLAYER_StreamOpen", h, header, size, reserved);
  Slot* s = Lib().SlotOf(h);
  if (s == nullptr || header == nullptr) return 0;
  const LONG kind = s->kind.load();
  if (size != (kind == 5 ? 1024u : 44u) || !KnownSignature(header, kind)) return 0;
  LONG tail = 0;
  for (DWORD i = zrv::kStreamHeadSize; i < size; ++i) tail += header[i] != 0 ? 1 : 0;
  s->headTail = tail;
  s->headerSize = static_cast<LONG>(size);
  std::uint8_t head[zrv::kStreamHeadSize];
  std::memcpy(head, header, sizeof head);
  std::memcpy(head, "ZRVS", 4);
  zrv::StreamParams params;
  if (!zrv::ParseStreamHead(head, sizeof head, params)) return 0;
  return Lib().players.Get(h - kHandleBase)->OpenStream(head, sizeof head, kBufferBytes) ? 1 : 0;
}

STANDIN_EXPORT BOOL ZORV_STDCALL TKLPLAYER_StreamEnableDataDriven(DWORD h, LONG enable) {
  STANDIN_ENTER(BOOL, "TKLPLAYER_StreamEnableDataDriven", h, enable);
  return Lib().SlotOf(h) ? 1 : 0;
}

STANDIN_EXPORT BOOL ZORV_STDCALL TKLPLAYER_SetPlaySpeed(DWORD h, float speed) {
  STANDIN_ENTER(BOOL, "TKLPLAYER_SetPlaySpeed", h, kit::Dbl(speed));
  return Lib().SlotOf(h) ? 1 : 0;
}

STANDIN_EXPORT BOOL ZORV_STDCALL TKLPLAYER_Play(DWORD h) {
  STANDIN_ENTER(BOOL, "TKLPLAYER_Play", h);
  Slot* s = Lib().SlotOf(h);
  return s && Lib().players.Get(h - kHandleBase)->Play(s->window.load()) ? 1 : 0;
}

STANDIN_EXPORT LONG ZORV_STDCALL TKLPLAYER_StreamWriteToBuf(DWORD h, std::uint8_t* data, DWORD length, LONG a,
                                                           LONG b, LONG c) {
  STANDIN_ENTER(LONG, "TKLPLAYER_StreamWriteToBuf", h, data, length, a, b, c);
  if (kit::Option("write.hold", 0) != 0) {
    kit::SetOption("write.hold", 0);
    Lib().Hold();
    return 0;
  }
  kit::Player* p = Lib().PlayerOf(h);
  if (p == nullptr || (data == nullptr && length > 0)) return 0;
  return p->Input(data, length) ? static_cast<LONG>(~length) : 0;
}

STANDIN_EXPORT BOOL ZORV_STDCALL TKLPLAYER_Stop(DWORD h) {
  STANDIN_ENTER(BOOL, "TKLPLAYER_Stop", h);
  kit::Player* p = Lib().PlayerOf(h);
  return p && p->Stop() ? 1 : 0;
}

STANDIN_EXPORT BOOL ZORV_STDCALL TKLPLAYER_EnableAudio(DWORD h, LONG enable) {
  STANDIN_ENTER(BOOL, "TKLPLAYER_EnableAudio", h, enable);
  kit::Player* p = Lib().PlayerOf(h);
  if (p == nullptr) return 0;
  p->SetSound(enable != 0);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL TKLPLAYER_RegisterDecCallBack(DWORD h, DecCallBack callback, DWORD user,
                                                              LONG flags) {
  STANDIN_ENTER(BOOL, "TKLPLAYER_RegisterDecCallBack", h, callback, user, flags);
  Slot* s = Lib().SlotOf(h);
  if (s == nullptr) return 0;
  s->user = user;
  s->callback = callback;
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL TKLPLAYER_UnRegisterDecCallBack(DWORD h) {
  STANDIN_ENTER(BOOL, "TKLPLAYER_UnRegisterDecCallBack", h);
  Slot* s = Lib().SlotOf(h);
  if (s == nullptr) return 0;
  s->callback = nullptr;
  return 1;
}

// Entry points the adapter binds but never calls: journalled, they do nothing.
#define TKL_STANDIN_UNUSED(name)                      \
  STANDIN_EXPORT BOOL ZORV_STDCALL name(DWORD h) {    \
    STANDIN_ENTER(BOOL, #name, h);                    \
    return 0;                                         \
  }
TKL_STANDIN_UNUSED(TKLPLAYER_SetPostFilter)
TKL_STANDIN_UNUSED(TKLPLAYER_StreamSetDelayFrames)
TKL_STANDIN_UNUSED(TKLPLAYER_EnableDataDriven)
TKL_STANDIN_UNUSED(TKLPLAYER_ThrownFrames)
TKL_STANDIN_UNUSED(TKLPLAYER_ResetPlayer)
TKL_STANDIN_UNUSED(TKLPLAYER_SetVolume)
TKL_STANDIN_UNUSED(TKLPLAYER_FileSetEndIndexNotify)
TKL_STANDIN_UNUSED(TKLPLAYER_GetKeyFramePos)
TKL_STANDIN_UNUSED(TKLPLAYER_GetNextKeyFramePos)
TKL_STANDIN_UNUSED(TKLPLAYER_FileFixIndex)
TKL_STANDIN_UNUSED(TKLPLAYER_FileCheckIndex)
TKL_STANDIN_UNUSED(TKLPLAYER_Pause)
TKL_STANDIN_UNUSED(TKLPLAYER_FullScreen)
TKL_STANDIN_UNUSED(TKLPLAYER_FileOpen)
TKL_STANDIN_UNUSED(TKLPLAYER_FileClose)
TKL_STANDIN_UNUSED(TKLPLAYER_FileSetEndNotify)
TKL_STANDIN_UNUSED(TKLPLAYER_FileStepPlay)
TKL_STANDIN_UNUSED(TKLPLAYER_FileSetPosition)
TKL_STANDIN_UNUSED(TKLPLAYER_FileGetPosition)
TKL_STANDIN_UNUSED(TKLPLAYER_FileGetTotalTime)
TKL_STANDIN_UNUSED(TKLPLAYER_FileGetPlayedTime)
TKL_STANDIN_UNUSED(TKLPLAYER_FileGetPlayedFrame)
TKL_STANDIN_UNUSED(TKLPLAYER_ZoomInSrcRect)
TKL_STANDIN_UNUSED(TKLPLAYER_RefreshWindow)
TKL_STANDIN_UNUSED(TKLPLAYER_FileGetTotalFrame)
TKL_STANDIN_UNUSED(TKLPLAYER_FileSetPlayFrame)
TKL_STANDIN_UNUSED(TKLPALYER_GetBmpFileSize)
TKL_STANDIN_UNUSED(TKLPLAYER_GetPictureSize)
TKL_STANDIN_UNUSED(TKLPLAYER_CaptureBitmap)
