// Stand-in VDCDecode.dll: a Dahua decode card as the card adapter drives it.
//
// The card reports "card.devices" device channels (default 8) through DH_InitDecDevice. Every
// DH_ChannelOpen on a device channel hands out a handle of its own (0x100 + slot, 512 slots);
// DH_ChannelClose gives it back. A handle carries one card stream, a kit::Player over the ZRV
// stream format: DH_OpenStream opens it for fed data (the buffer size given), DH_InputData
// appends bytes (result: the bytes taken, 0 when they do not fit), DH_Play decodes on the
// player's thread and draws every picture into the window given (the card's overlay),
// DH_Stop/DH_CloseStream stop and close it. Snapshots: DH_GetPictureSize reports the stream's
// last picture (0 x 0 before the first), DH_GetYV12Image copies it in YV12 order (Y, V, U).
//
// Results: 0 = success, -1 = failure (DH_InputData: bytes taken). BOOL arguments: -1 / 0.
// The three C++ functions (DH_SetDisplayRegion, DH_SetDecoderVideoOutput,
// DH_SetDecoderVideoExtOutput) carry their decorated names on Win32; elsewhere the plain names
// (the loader falls back to them). DH_SetDisplayRegion journals each region record it is given
// (up to 16) as "region(left,top,width,height,color,reserved)".
//
// Options (Standin_SetOption):
//   "card.devices"    device channels DH_InitDecDevice reports (default 8)
//   "picture.blank"   N > 0: the next N pictures DH_GetYV12Image hands out are blank (all 0);
//                     -1: every one
//   "picture.width", "picture.height"  both > 0: DH_GetPictureSize reports this size and
//                     DH_GetYV12Image hands out a test pattern of it, stream or not
// Queries (Standin_Query, by handle): "open" (handle in use), "channel" (its device channel),
// "streamopen", "playing", "window", "decoded", "drawn", "pending", "sound", "preview",
// "mode" (stream open mode); without a handle: "handles" (in use), "overlay.wnd",
// "overlay.key", "devicereleased" (1 after DH_ReleaseDecDevice), "clears" (DH_ClearSurface
// calls), "companions" (companion functions that answered at load).
//
// Variants (defines): STANDIN_WITHOUT_DH_ChannelOpen; STANDIN_WITHOUT_CARD_IO leaves out every
// entry point past initialisation and opening (input, play, stop, close, surface, sound, regions,
// outputs, snapshots).
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "Companions.h"
#include "StandinKit.h"
#include "StandinPictures.h"
#include "StandinPlayer.h"

namespace {

using UINT = std::uint32_t;
using RESULT = std::int32_t;

constexpr int kSlots = 512;
constexpr UINT kHandleBase = 0x100;
constexpr std::size_t kMaxRegionsJournalled = 16;

struct REGION_PARAM {
  std::int32_t left, top, width, height, color, reserved;
};

struct Slot {
  bool used = false;
  UINT channel = 0;
  UINT mode = 0;
  bool preview = false;
};

struct Card {
  std::mutex mutex;
  Slot slots[kSlots];
  kit::PlayerTable players{kSlots};
  std::atomic<std::int64_t> overlayWnd{0};
  std::atomic<std::int64_t> overlayKey{0};
  std::atomic<int> released{0};
  std::atomic<int> clears{0};
  std::atomic<int> blankServed{0};
  int companions = 0;

  Card() {
    companions = DhCompanion_tmcrt() + DhCompanion_tmman32() + DhCompanion_pnx() + DhCompanion_hostcomm() +
                 DhCompanion_DllMonitor();
    kit::OnReset([this] {
      std::lock_guard<std::mutex> hold(mutex);
      for (Slot& s : slots) s = Slot{};
      overlayWnd = 0;
      overlayKey = 0;
      released = 0;
      clears = 0;
      blankServed = 0;
    });
    auto byHandle = [this](const char* name, std::int64_t (*f)(Card&, int)) {
      kit::OnQuery(name, [this, f](std::int64_t handle) -> std::int64_t {
        const int slot = SlotOf(handle);
        return slot < 0 ? -1 : f(*this, slot);
      });
    };
    byHandle("open", [](Card&, int) -> std::int64_t { return 1; });
    byHandle("channel", [](Card& c, int s) -> std::int64_t { return c.slots[s].channel; });
    byHandle("mode", [](Card& c, int s) -> std::int64_t { return c.slots[s].mode; });
    byHandle("preview", [](Card& c, int s) -> std::int64_t { return c.slots[s].preview ? 1 : 0; });
    byHandle("streamopen", [](Card& c, int s) -> std::int64_t { return c.players.Get(s)->IsOpen() ? 1 : 0; });
    byHandle("playing", [](Card& c, int s) -> std::int64_t { return c.players.Get(s)->Playing() ? 1 : 0; });
    byHandle("window", [](Card& c, int s) -> std::int64_t { return c.players.Get(s)->Window(); });
    byHandle("decoded", [](Card& c, int s) -> std::int64_t {
      return static_cast<std::int64_t>(c.players.Get(s)->DecodedFrames());
    });
    byHandle("drawn", [](Card& c, int s) -> std::int64_t {
      return static_cast<std::int64_t>(c.players.Get(s)->DrawnFrames());
    });
    byHandle("pending", [](Card& c, int s) -> std::int64_t {
      return static_cast<std::int64_t>(c.players.Get(s)->Pending());
    });
    byHandle("sound", [](Card& c, int s) -> std::int64_t { return c.players.Get(s)->Sound() ? 1 : 0; });
    kit::OnQuery("handles", [this](std::int64_t) -> std::int64_t {
      std::lock_guard<std::mutex> hold(mutex);
      return std::count_if(std::begin(slots), std::end(slots), [](const Slot& s) { return s.used; });
    });
    kit::OnQuery("overlay.wnd", [this](std::int64_t) -> std::int64_t { return overlayWnd.load(); });
    kit::OnQuery("overlay.key", [this](std::int64_t) -> std::int64_t { return overlayKey.load(); });
    kit::OnQuery("devicereleased", [this](std::int64_t) -> std::int64_t { return released.load(); });
    kit::OnQuery("clears", [this](std::int64_t) -> std::int64_t { return clears.load(); });
    kit::OnQuery("companions", [this](std::int64_t) -> std::int64_t { return companions; });
  }

  // Slot of a handle in use; -1 otherwise.
  int SlotOf(std::int64_t handle) {
    if (handle < kHandleBase || handle >= kHandleBase + kSlots) return -1;
    const int slot = static_cast<int>(handle - kHandleBase);
    std::lock_guard<std::mutex> hold(mutex);
    return slots[slot].used ? slot : -1;
  }
  kit::Player* PlayerOf(UINT handle) {
    const int slot = SlotOf(handle);
    return slot < 0 ? nullptr : players.Get(slot);
  }

  // Whether the next picture handed out is blank ("picture.blank").
  bool NextBlank() {
    const std::int64_t blanks = kit::Option("picture.blank", 0);
    if (blanks < 0) return true;
    if (blankServed < blanks) {
      ++blankServed;
      return true;
    }
    return false;
  }
};

Card& TheCard() {
  static Card* card = new Card;  // lives as long as the process: player threads use it
  return *card;
}

const kit::Hooks installed([] { TheCard(); });

// The picture a snapshot sees on a handle: the fixed test pattern when "picture.width" and
// "picture.height" are set, else the stream's last picture (I420). False when there is none.
[[maybe_unused]] bool CurrentPicture(UINT handle, kit::Picture& picture) {
  const std::int64_t w = kit::Option("picture.width", 0);
  const std::int64_t h = kit::Option("picture.height", 0);
  if (w > 0 && h > 0) {
    if (TheCard().SlotOf(handle) < 0) return false;
    picture.width = static_cast<int>(w);
    picture.height = static_cast<int>(h);
    picture.yuv.assign(zrv::PictureBytes(picture.width, picture.height), 0);
    zrv::DrawPattern(picture.yuv.data(), picture.width, picture.height, 1);
    return true;
  }
  kit::Player* p = TheCard().PlayerOf(handle);
  return p != nullptr && p->LastPicture(picture) && picture.width > 0 && picture.height > 0;
}

}  // namespace

// Entry points with decorated names on Win32: the symbol "_" + name exported as the name.
#if defined(_WIN32)
#define DH_DECORATED(Ret, Name, Decorated, Params)                                                     \
  extern "C" Ret ZORV_STDCALL Name Params __asm__("\"_" Decorated "\"");                                \
  __asm__(".section .drectve\n.ascii \" -export:\\\"" Decorated "\\\"\"\n.text\n");                     \
  extern "C" Ret ZORV_STDCALL Name Params
#else
#define DH_DECORATED(Ret, Name, Decorated, Params) STANDIN_EXPORT Ret ZORV_STDCALL Name Params
#endif

// Entry points the card adapter looks up but never calls: journalled, 0.
#define DH_UNUSED(Name)                    \
  STANDIN_EXPORT RESULT ZORV_STDCALL Name() { \
    STANDIN_ENTER(RESULT, #Name);          \
    return 0;                              \
  }

// ---- device ------------------------------------------------------------------------------

STANDIN_EXPORT RESULT ZORV_STDCALL DH_InitDecDevice(std::int32_t* count) {
  STANDIN_ENTER(RESULT, "DH_InitDecDevice", count);
  if (count == nullptr) return -1;
  *count = static_cast<std::int32_t>(kit::Option("card.devices", 8));
  TheCard().released = 0;
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL DH_ReleaseDecDevice() {
  STANDIN_ENTER(RESULT, "DH_ReleaseDecDevice");
  TheCard().released = 1;
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL DH_InitDirectDraw(UINT wnd, UINT colorKey) {
  STANDIN_ENTER(RESULT, "DH_InitDirectDraw", wnd, colorKey);
  TheCard().overlayWnd = wnd;
  TheCard().overlayKey = colorKey;
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL DH_ReleaseDirectDraw() {
  STANDIN_ENTER(RESULT, "DH_ReleaseDirectDraw");
  TheCard().overlayWnd = 0;
  TheCard().overlayKey = 0;
  return 0;
}

#ifndef STANDIN_WITHOUT_DH_ChannelOpen
STANDIN_EXPORT RESULT ZORV_STDCALL DH_ChannelOpen(UINT channel, UINT* handle) {
  STANDIN_ENTER(RESULT, "DH_ChannelOpen", channel, handle);
  if (handle == nullptr || channel >= static_cast<UINT>(kit::Option("card.devices", 8))) return -1;
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  for (int slot = 0; slot < kSlots; ++slot) {
    if (card.slots[slot].used) continue;
    card.slots[slot] = Slot{true, channel, 0, false};
    *handle = kHandleBase + static_cast<UINT>(slot);
    return 0;
  }
  return -1;
}
#endif

STANDIN_EXPORT RESULT ZORV_STDCALL DH_ChannelClose(UINT handle) {
  STANDIN_ENTER(RESULT, "DH_ChannelClose", handle);
  Card& card = TheCard();
  const int slot = card.SlotOf(handle);
  if (slot < 0) return -1;
  card.players.Get(slot)->Close();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.slots[slot] = Slot{};
  return 0;
}

// ---- streams -----------------------------------------------------------------------------

STANDIN_EXPORT RESULT ZORV_STDCALL DH_SetStreamOpenMode(UINT handle, UINT mode) {
  STANDIN_ENTER(RESULT, "DH_SetStreamOpenMode", handle, mode);
  Card& card = TheCard();
  const int slot = card.SlotOf(handle);
  if (slot < 0) return -1;
  std::lock_guard<std::mutex> hold(card.mutex);
  card.slots[slot].mode = mode;
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL DH_OpenStream(UINT handle, const std::uint8_t* head, UINT bufferBytes) {
  STANDIN_ENTER(RESULT, "DH_OpenStream", handle, head, bufferBytes);
  kit::Player* p = TheCard().PlayerOf(handle);
  if (p == nullptr || bufferBytes == 0) return -1;
  return p->OpenStream(head, 0, bufferBytes) ? 0 : -1;
}

#ifndef STANDIN_WITHOUT_CARD_IO
STANDIN_EXPORT RESULT ZORV_STDCALL DH_InputData(UINT handle, const std::uint8_t* data, UINT length) {
  STANDIN_ENTER(RESULT, "DH_InputData", handle, data, length);
  kit::Player* p = TheCard().PlayerOf(handle);
  if (p == nullptr || !p->IsOpen()) return 0;
  if (length == 0) return 0;
  if (data == nullptr) return 0;
  return p->Input(data, length) ? static_cast<RESULT>(length) : 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL DH_ResetStream(UINT handle) {
  STANDIN_ENTER(RESULT, "DH_ResetStream", handle);
  kit::Player* p = TheCard().PlayerOf(handle);
  if (p == nullptr || !p->IsOpen()) return -1;
  p->ResetBuffer();
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL DH_CloseStream(UINT handle) {
  STANDIN_ENTER(RESULT, "DH_CloseStream", handle);
  kit::Player* p = TheCard().PlayerOf(handle);
  if (p == nullptr || !p->IsOpen()) return -1;
  p->Close();
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL DH_Play(UINT handle, UINT wnd) {
  STANDIN_ENTER(RESULT, "DH_Play", handle, wnd);
  kit::Player* p = TheCard().PlayerOf(handle);
  return p != nullptr && p->Play(wnd) ? 0 : -1;
}

STANDIN_EXPORT RESULT ZORV_STDCALL DH_Stop(UINT handle) {
  STANDIN_ENTER(RESULT, "DH_Stop", handle);
  kit::Player* p = TheCard().PlayerOf(handle);
  return p != nullptr && p->Stop() ? 0 : -1;
}

STANDIN_EXPORT RESULT ZORV_STDCALL DH_PlaySound(UINT handle) {
  STANDIN_ENTER(RESULT, "DH_PlaySound", handle);
  kit::Player* p = TheCard().PlayerOf(handle);
  if (p == nullptr) return -1;
  p->SetSound(true);
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL DH_StopSound(UINT handle) {
  STANDIN_ENTER(RESULT, "DH_StopSound", handle);
  kit::Player* p = TheCard().PlayerOf(handle);
  if (p == nullptr) return -1;
  p->SetSound(false);
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL DH_SetAudioPreview(UINT handle, std::int32_t on) {
  STANDIN_ENTER(RESULT, "DH_SetAudioPreview", handle, on);
  Card& card = TheCard();
  const int slot = card.SlotOf(handle);
  if (slot < 0) return -1;
  std::lock_guard<std::mutex> hold(card.mutex);
  card.slots[slot].preview = on != 0;
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL DH_ClearSurface() {
  STANDIN_ENTER(RESULT, "DH_ClearSurface");
  ++TheCard().clears;
  return 0;
}

// ---- snapshots ---------------------------------------------------------------------------

STANDIN_EXPORT RESULT ZORV_STDCALL DH_GetPictureSize(UINT handle, std::int32_t* width, std::int32_t* height) {
  STANDIN_ENTER(RESULT, "DH_GetPictureSize", handle, width, height);
  if (width == nullptr || height == nullptr) return -1;
  kit::Picture picture;
  if (!CurrentPicture(handle, picture)) {
    *width = 0;
    *height = 0;
    return TheCard().SlotOf(handle) < 0 ? -1 : 0;
  }
  *width = picture.width;
  *height = picture.height;
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL DH_GetYV12Image(UINT handle, std::uint8_t* buffer, UINT size) {
  STANDIN_ENTER(RESULT, "DH_GetYV12Image", handle, buffer, size);
  kit::Picture picture;
  if (buffer == nullptr || !CurrentPicture(handle, picture)) return -1;
  if (!kit::WriteYV12(picture, buffer, size)) return -1;
  if (TheCard().NextBlank()) std::memset(buffer, 0, zrv::PictureBytes(picture.width, picture.height));
  return 0;
}

// ---- monitor outputs and display regions -------------------------------------------------

DH_DECORATED(RESULT, DH_SetDisplayRegion, "?DH_SetDisplayRegion@@YGHIIPAUREGION_PARAM@@I@Z",
             (UINT channel, UINT count, REGION_PARAM* regions, UINT value)) {
  STANDIN_ENTER(RESULT, "DH_SetDisplayRegion", channel, count, regions, value);
  if (regions == nullptr || count == 0) return -1;
  for (std::size_t i = 0; i < std::min<std::size_t>(count, kMaxRegionsJournalled); ++i) {
    const REGION_PARAM& r = regions[i];
    kit::Note("region(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.width) +
              "," + std::to_string(r.height) + "," + std::to_string(r.color) + "," + std::to_string(r.reserved) +
              ")");
  }
  return 0;
}

DH_DECORATED(RESULT, DH_SetDecoderVideoOutput, "?DH_SetDecoderVideoOutput@@YGHIIHII@Z",
             (UINT channel, UINT port, std::int32_t open, UINT display, UINT region)) {
  STANDIN_ENTER(RESULT, "DH_SetDecoderVideoOutput", channel, port, open, display, region);
  return 0;
}

DH_DECORATED(RESULT, DH_SetDecoderVideoExtOutput, "?DH_SetDecoderVideoExtOutput@@YGHIIHIII@Z",
             (UINT channel, UINT port, std::int32_t open, UINT display, UINT region, UINT reserved)) {
  STANDIN_ENTER(RESULT, "DH_SetDecoderVideoExtOutput", channel, port, open, display, region, reserved);
  return channel < static_cast<UINT>(kit::Option("card.devices", 8)) ? 0 : -1;
}
#endif  // STANDIN_WITHOUT_CARD_IO

// ---- looked up, never called -------------------------------------------------------------

DH_UNUSED(DH_OpenFile)
DH_UNUSED(DH_CloseFile)
DH_UNUSED(DH_SetDisplayPara)
DH_UNUSED(DH_Pause)
DH_UNUSED(DH_SetVolume)
DH_UNUSED(DH_RefreshSurface)
DH_UNUSED(DH_ReStoreSurface)
DH_UNUSED(DH_ZoomOverlay)
DH_UNUSED(DH_StartCapFile)
DH_UNUSED(DH_StopCapFile)
DH_UNUSED(DH_ConvertToBmpFile)
DH_UNUSED(DH_Jump)
DH_UNUSED(DH_SetJumpInterval)
DH_UNUSED(DH_GetSpeed)
DH_UNUSED(DH_SetSpeed)
DH_UNUSED(DH_SetPlayPos)
DH_UNUSED(DH_GetPlayPos)
DH_UNUSED(DH_GetVersion)
DH_UNUSED(DH_GetCurrentFrameRate)
DH_UNUSED(DH_GetCurrentFrameNum)
DH_UNUSED(DH_GetFileTotalFrames)
DH_UNUSED(DH_GetFileTime)
DH_UNUSED(DH_GetCurrentFrameTime)
DH_UNUSED(DH_GetPlayedFrames)
DH_UNUSED(DH_SetFileEndMsg)
DH_UNUSED(DH_GetStreamOpenMode)
DH_UNUSED(DH_GetDspCount)
DH_UNUSED(DH_GetDspDetail)
DH_UNUSED(DH_GetDeviceSerialNo)
DH_UNUSED(DH_SetVideoOutStandard)
DH_UNUSED(DH_SetDspDeadlockMsg)
DH_UNUSED(DH_GetChannelNum)
DH_UNUSED(DH_ResetDsp)
DH_UNUSED(DH_PlaySetRect)
DH_UNUSED(DH_SetTVMargin)
DH_UNUSED(DH_SetDECProgressCB)
