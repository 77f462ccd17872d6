// Stand-in DS40xxSDK.dll: a Hikvision DS-40xx decode card as the card adapter drives it.
//
// The card has a configurable number of decode channels (each a kit::Player over the ZRV stream
// format, decoding without drawing: the card shows its pictures on its overlay and outputs) and
// of display (video output) channels. HW_ChannelOpen(i) hands out the handle kHandleBase + i for
// card channel i (numbered from 0). A channel's stream is opened with the 40-byte ZRV stream
// head, played, fed, reset and closed; its current picture comes back in YV12 order (luma, Cr,
// Cb) from HW_GetYV12Image.
//
// Options (Standin_SetOption; read when the entry point runs, so set them before the library
// under test initialises the card):
//   "card.channels"     decode channels HW_InitDecDevice reports and HW_ChannelOpen accepts
//                       (default 4, at most kMaxChannels)
//   "card.decodecount"  what GetDecodeChannelCount answers (default: card.channels)
//   "card.displays"     what GetDisplayChannelCount answers, also the number of video outputs
//                       (default 4)
//   "display.maxwidth", "display.maxheight"
//                       HW_SetDisplayPara refuses (result 1) a rectangle wider or higher than
//                       these (0 = no limit, the default); it always refuses a negative size
//   "picture.blank"     the next N HW_GetYV12Image calls deliver an all-zero (blank) picture;
//                       -1 = every call
//   "picture.width", "picture.height"
//                       non-zero: HW_GetPictureSize reports these instead of the picture's own
//
// Queries (Standin_Query; port = card channel number from 0 unless said otherwise):
//   "open" "playing" "decoded" "sound" "pending" (the channel's player, see StandinPictures.h)
//   "channelopen"       1 once HW_ChannelOpen opened the channel
//   "openmode" "postprocess" "speed" "preview"
//                       the last HW_SetStreamOpenMode / HW_SetDecoderPostProcess / HW_SetSpeed /
//                       HW_SetAudioPreview value (-1 before any)
//   "display.flags" "display.left" "display.top" "display.width" "display.height"
//                       the last rectangle the card accepted for the channel (-1 before any)
//   "overlay"           window the overlay is drawn on (0 = none); port ignored
//   "colorkey"          colour key of the overlay; port ignored
//   "audioout"          (port = audio output) card channel routed to it, -1 when none
//   "route"             (port = output * 16 + region) card channel shown there, -1 when none
//   "regions"           (port = output) number of regions the output is split into (0 = none)
//   "region.left" "region.top" "region.width" "region.height"
//                       (port = output) first record of its region table
//
// Region table of SetDisplayRegion: one record of four 32-bit values (left, top, width, height)
// per region. Display record of HW_SetDisplayPara: flag A, flag B, left, top, width, height,
// reserved (seven 32-bit values); the journal shows it in braces.
//
// Variants are built from this file with STANDIN_WITHOUT_<entry point> defined.
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "StandinKit.h"
#include "StandinPictures.h"
#include "StandinPlayer.h"

namespace {

using BOOL = std::int32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using HANDLE = std::uintptr_t;

constexpr int kMaxChannels = 256;
constexpr int kMaxOutputs = 16;
constexpr int kMaxRegions = 16;
constexpr HANDLE kHandleBase = 0x5000;
constexpr std::size_t kStreamBuffer = 4u * 1024 * 1024;

struct DisplayPara {
  LONG flagA;
  LONG flagB;
  LONG left;
  LONG top;
  LONG width;
  LONG height;
  LONG reserved;
};

struct ChannelState {
  std::atomic<bool> opened{false};
  std::atomic<std::int64_t> openMode{-1};
  std::atomic<std::int64_t> postProcess{-1};
  std::atomic<std::int64_t> speed{-1};
  std::atomic<std::int64_t> preview{-1};
  std::mutex displayMutex;
  bool hasDisplay = false;
  DisplayPara display{};
};

struct OutputState {
  std::atomic<int> regions{0};
  std::array<std::atomic<std::int64_t>, 4> firstRegion{};
  std::array<std::atomic<int>, kMaxRegions> route{};
  std::atomic<int> audioChannel{-1};
};

struct Card {
  kit::PlayerTable players{kMaxChannels};
  std::array<ChannelState, kMaxChannels> channels;
  std::array<OutputState, kMaxOutputs> outputs;
  std::atomic<std::uint32_t> overlay{0};
  std::atomic<std::int64_t> colorKey{0};
  std::mutex blankMutex;

  Card() {
    Clear();
    kit::OnReset([this] { Clear(); });
    kit::InstallPlayerQueries(players);
    auto perChannel = [this](const char* name, std::int64_t (*read)(ChannelState&)) {
      kit::OnQuery(name, [this, read](std::int64_t ch) -> std::int64_t {
        return ch >= 0 && ch < kMaxChannels ? read(channels[static_cast<std::size_t>(ch)]) : -1;
      });
    };
    perChannel("channelopen", [](ChannelState& c) -> std::int64_t { return c.opened ? 1 : 0; });
    perChannel("openmode", [](ChannelState& c) -> std::int64_t { return c.openMode; });
    perChannel("postprocess", [](ChannelState& c) -> std::int64_t { return c.postProcess; });
    perChannel("speed", [](ChannelState& c) -> std::int64_t { return c.speed; });
    perChannel("preview", [](ChannelState& c) -> std::int64_t { return c.preview; });
    struct DisplayField {
      const char* name;
      std::int64_t (*read)(const DisplayPara&);
    };
    static const DisplayField displayFields[] = {
        {"display.flags", [](const DisplayPara& d) -> std::int64_t { return d.flagA; }},
        {"display.left", [](const DisplayPara& d) -> std::int64_t { return d.left; }},
        {"display.top", [](const DisplayPara& d) -> std::int64_t { return d.top; }},
        {"display.width", [](const DisplayPara& d) -> std::int64_t { return d.width; }},
        {"display.height", [](const DisplayPara& d) -> std::int64_t { return d.height; }},
    };
    for (const DisplayField& f : displayFields) {
      kit::OnQuery(f.name, [this, read = f.read](std::int64_t ch) -> std::int64_t {
        if (ch < 0 || ch >= kMaxChannels) return -1;
        ChannelState& c = channels[static_cast<std::size_t>(ch)];
        std::lock_guard<std::mutex> lock(c.displayMutex);
        return c.hasDisplay ? read(c.display) : -1;
      });
    }
    kit::OnQuery("overlay", [this](std::int64_t) -> std::int64_t { return overlay; });
    kit::OnQuery("colorkey", [this](std::int64_t) -> std::int64_t { return colorKey; });
    kit::OnQuery("audioout", [this](std::int64_t out) -> std::int64_t {
      return out >= 0 && out < kMaxOutputs ? outputs[static_cast<std::size_t>(out)].audioChannel.load() : -1;
    });
    kit::OnQuery("route", [this](std::int64_t at) -> std::int64_t {
      if (at < 0 || at >= kMaxOutputs * kMaxRegions) return -1;
      return outputs[static_cast<std::size_t>(at / kMaxRegions)].route[static_cast<std::size_t>(at % kMaxRegions)];
    });
    kit::OnQuery("regions", [this](std::int64_t out) -> std::int64_t {
      return out >= 0 && out < kMaxOutputs ? outputs[static_cast<std::size_t>(out)].regions.load() : -1;
    });
    const char* regionNames[4] = {"region.left", "region.top", "region.width", "region.height"};
    for (std::size_t i = 0; i < 4; ++i) {
      kit::OnQuery(regionNames[i], [this, i](std::int64_t out) -> std::int64_t {
        return out >= 0 && out < kMaxOutputs ? outputs[static_cast<std::size_t>(out)].firstRegion[i].load() : -1;
      });
    }
  }

  void Clear() {
    for (ChannelState& c : channels) {
      c.opened = false;
      c.openMode = c.postProcess = c.speed = c.preview = -1;
      std::lock_guard<std::mutex> lock(c.displayMutex);
      c.hasDisplay = false;
      c.display = {};
    }
    for (OutputState& o : outputs) {
      o.regions = 0;
      for (auto& v : o.firstRegion) v = -1;
      for (auto& r : o.route) r = -1;
      o.audioChannel = -1;
    }
    overlay = 0;
    colorKey = 0;
  }

  static int Channels() {
    const std::int64_t n = kit::Option("card.channels", 4);
    return n < 0 ? 0 : n > kMaxChannels ? kMaxChannels : static_cast<int>(n);
  }
  static int Outputs() {
    const std::int64_t n = kit::Option("card.displays", 4);
    return n < 0 ? 0 : n > kMaxOutputs ? kMaxOutputs : static_cast<int>(n);
  }

  // Card channel of an opened handle; -1 for anything else.
  int ChannelOf(HANDLE h) const {
    if (h < kHandleBase || h >= kHandleBase + static_cast<HANDLE>(Channels())) return -1;
    const int ch = static_cast<int>(h - kHandleBase);
    return channels[static_cast<std::size_t>(ch)].opened ? ch : -1;
  }
  kit::Player* PlayerOf(HANDLE h) {
    const int ch = ChannelOf(h);
    return ch < 0 ? nullptr : players.Get(ch);
  }

  // Stores a per-channel setting of an opened handle: 0, or -1 for any other handle.
  LONG Store(HANDLE h, std::atomic<std::int64_t> ChannelState::*setting, std::int64_t value) {
    const int ch = ChannelOf(h);
    if (ch < 0) return -1;
    channels[static_cast<std::size_t>(ch)].*setting = value;
    return 0;
  }
  // Runs act on the player of an opened handle: 0 when it says so, -1 otherwise.
  template <class F>
  LONG OnPlayer(HANDLE h, F&& act) {
    kit::Player* p = PlayerOf(h);
    return p != nullptr && act(*p) ? 0 : -1;
  }

  // Whether this image call is to deliver a blank picture (counts the option down).
  bool TakeBlank() {
    std::lock_guard<std::mutex> lock(blankMutex);
    const std::int64_t left = kit::Option("picture.blank", 0);
    if (left == 0) return false;
    if (left > 0) kit::SetOption("picture.blank", left - 1);
    return true;
  }
};

Card& TheCard() {
  static Card* card = new Card;
  return *card;
}
const kit::Hooks hooks([] { TheCard(); });

std::string DisplayText(const DisplayPara* d) {
  if (d == nullptr) return "0";
  return "{" + std::to_string(d->flagA) + "," + std::to_string(d->flagB) + "," + std::to_string(d->left) + "," +
         std::to_string(d->top) + "," + std::to_string(d->width) + "," + std::to_string(d->height) + "," +
         std::to_string(d->reserved) + "}";
}

}  // namespace

// ---- device and overlay -----------------------------------------------------------------------

STANDIN_EXPORT LONG ZORV_STDCALL HW_InitDecDevice(LONG* count) {
  STANDIN_ENTER(LONG, "HW_InitDecDevice", count);
  if (count == nullptr) return -1;
  *count = Card::Channels();
  return 0;
}

STANDIN_EXPORT LONG ZORV_STDCALL GetDecodeChannelCount() {
  STANDIN_ENTER(LONG, "GetDecodeChannelCount");
  return static_cast<LONG>(kit::Option("card.decodecount", Card::Channels()));
}

STANDIN_EXPORT LONG ZORV_STDCALL GetDisplayChannelCount() {
  STANDIN_ENTER(LONG, "GetDisplayChannelCount");
  return static_cast<LONG>(kit::Option("card.displays", 4));
}

STANDIN_EXPORT LONG ZORV_STDCALL HW_ChannelOpen(LONG channel, HANDLE* handle) {
  STANDIN_ENTER(LONG, "HW_ChannelOpen", channel, handle);
  if (handle == nullptr || channel < 0 || channel >= Card::Channels()) return -1;
  TheCard().channels[static_cast<std::size_t>(channel)].opened = true;
  *handle = kHandleBase + static_cast<HANDLE>(channel);
  return 0;
}

#ifndef STANDIN_WITHOUT_HW_InitDirectDraw
STANDIN_EXPORT LONG ZORV_STDCALL HW_InitDirectDraw(std::uint32_t wnd, std::uint32_t colorKey) {
  STANDIN_ENTER(LONG, "HW_InitDirectDraw", wnd, colorKey);
  if (wnd == 0) return -1;
  TheCard().overlay = wnd;
  TheCard().colorKey = colorKey;
  return 0;
}
#endif

#ifndef STANDIN_WITHOUT_HW_ReleaseDirectDraw
STANDIN_EXPORT LONG ZORV_STDCALL HW_ReleaseDirectDraw() {
  STANDIN_ENTER(LONG, "HW_ReleaseDirectDraw");
  TheCard().overlay = 0;
  return 0;
}
#endif

// ---- card streams -----------------------------------------------------------------------------

STANDIN_EXPORT LONG ZORV_STDCALL HW_SetStreamOpenMode(HANDLE h, UINT mode) {
  STANDIN_ENTER(LONG, "HW_SetStreamOpenMode", h, mode);
  return TheCard().Store(h, &ChannelState::openMode, mode);
}

// A stream opened again (a new session of the library over a running card) starts afresh.
STANDIN_EXPORT LONG ZORV_STDCALL HW_OpenStream(HANDLE h, const std::uint8_t* head, DWORD size) {
  STANDIN_ENTER(LONG, "HW_OpenStream", h, head, size);
  kit::Player* p = TheCard().PlayerOf(h);
  if (p == nullptr || head == nullptr) return -1;
  p->Close();
  return p->OpenStream(head, size, kStreamBuffer) ? 0 : -1;
}

STANDIN_EXPORT LONG ZORV_STDCALL HW_CloseStream(HANDLE h) {
  STANDIN_ENTER(LONG, "HW_CloseStream", h);
  return TheCard().OnPlayer(h, [](kit::Player& p) {
    p.Close();
    return true;
  });
}

STANDIN_EXPORT LONG ZORV_STDCALL HW_SetDecoderPostProcess(HANDLE h, UINT value) {
  STANDIN_ENTER(LONG, "HW_SetDecoderPostProcess", h, value);
  return TheCard().Store(h, &ChannelState::postProcess, value);
}

STANDIN_EXPORT LONG ZORV_STDCALL HW_SetSpeed(HANDLE h, LONG speed) {
  STANDIN_ENTER(LONG, "HW_SetSpeed", h, speed);
  return TheCard().Store(h, &ChannelState::speed, speed);
}

STANDIN_EXPORT LONG ZORV_STDCALL HW_Play(HANDLE h) {
  STANDIN_ENTER(LONG, "HW_Play", h);
  return TheCard().OnPlayer(h, [](kit::Player& p) { return p.Play(0); });
}

STANDIN_EXPORT LONG ZORV_STDCALL HW_Stop(HANDLE h) {
  STANDIN_ENTER(LONG, "HW_Stop", h);
  return TheCard().OnPlayer(h, [](kit::Player& p) { return p.Stop(); });
}

STANDIN_EXPORT LONG ZORV_STDCALL HW_SetDisplayPara(HANDLE h, const DisplayPara* para) {
  STANDIN_ENTER(LONG, "HW_SetDisplayPara", h, kit::Arg(DisplayText(para)));
  const int ch = TheCard().ChannelOf(h);
  if (ch < 0 || para == nullptr) return -1;
  const std::int64_t maxWidth = kit::Option("display.maxwidth", 0);
  const std::int64_t maxHeight = kit::Option("display.maxheight", 0);
  if (para->width < 0 || para->height < 0) return 1;
  if ((maxWidth > 0 && para->width > maxWidth) || (maxHeight > 0 && para->height > maxHeight)) return 1;
  ChannelState& c = TheCard().channels[static_cast<std::size_t>(ch)];
  std::lock_guard<std::mutex> lock(c.displayMutex);
  c.display = *para;
  c.hasDisplay = true;
  return 0;
}

// Result: the bytes taken (all or nothing).
STANDIN_EXPORT DWORD ZORV_STDCALL HW_InputData(HANDLE h, const std::uint8_t* data, DWORD size) {
  STANDIN_ENTER(DWORD, "HW_InputData", h, data, size);
  kit::Player* p = TheCard().PlayerOf(h);
  if (p == nullptr || data == nullptr) return 0;
  return p->Input(data, size) ? size : 0;
}

#ifndef STANDIN_WITHOUT_HW_ResetStream
STANDIN_EXPORT LONG ZORV_STDCALL HW_ResetStream(HANDLE h) {
  STANDIN_ENTER(LONG, "HW_ResetStream", h);
  return TheCard().OnPlayer(h, [](kit::Player& p) {
    if (!p.IsOpen()) return false;
    p.ResetBuffer();
    return true;
  });
}
#endif

// ---- sound ------------------------------------------------------------------------------------

STANDIN_EXPORT LONG ZORV_STDCALL HW_PlaySound(HANDLE h) {
  STANDIN_ENTER(LONG, "HW_PlaySound", h);
  return TheCard().OnPlayer(h, [](kit::Player& p) {
    p.SetSound(true);
    return true;
  });
}

STANDIN_EXPORT LONG ZORV_STDCALL HW_StopSound(HANDLE h) {
  STANDIN_ENTER(LONG, "HW_StopSound", h);
  return TheCard().OnPlayer(h, [](kit::Player& p) {
    p.SetSound(false);
    return true;
  });
}

STANDIN_EXPORT LONG ZORV_STDCALL HW_SetAudioPreview(HANDLE h, BOOL on) {
  STANDIN_ENTER(LONG, "HW_SetAudioPreview", h, on);
  return TheCard().Store(h, &ChannelState::preview, on);
}

// Routes card channel `channel` to audio output `output` (open), or takes it off (not open).
STANDIN_EXPORT LONG ZORV_STDCALL SetDecoderAudioOutput(UINT channel, BOOL open, UINT output) {
  STANDIN_ENTER(LONG, "SetDecoderAudioOutput", channel, open, output);
  if (channel >= static_cast<UINT>(Card::Channels()) || output >= static_cast<UINT>(kMaxOutputs)) return -1;
  std::atomic<int>& routed = TheCard().outputs[output].audioChannel;
  if (open != 0)
    routed = static_cast<int>(channel);
  else if (routed == static_cast<int>(channel))
    routed = -1;
  return 0;
}

// ---- video outputs ----------------------------------------------------------------------------

#ifndef STANDIN_WITHOUT_SetDecoderVideoExtOutput
// Shows card channel `channel` (open) in region `region` of video output `output`, or takes it
// off (not open). `port` and `reserved` are accepted as they come.
STANDIN_EXPORT LONG ZORV_STDCALL SetDecoderVideoExtOutput(UINT channel, UINT port, BOOL open, UINT output,
                                                          UINT region, UINT reserved) {
  STANDIN_ENTER(LONG, "SetDecoderVideoExtOutput", channel, port, open, output, region, reserved);
  if (channel >= static_cast<UINT>(Card::Channels()) || output >= static_cast<UINT>(Card::Outputs()) ||
      region >= static_cast<UINT>(kMaxRegions))
    return -1;
  TheCard().outputs[output].route[region] = open != 0 ? static_cast<int>(channel) : -1;
  return 0;
}
#endif

#ifndef STANDIN_WITHOUT_SetDisplayRegion
STANDIN_EXPORT LONG ZORV_STDCALL SetDisplayRegion(UINT output, UINT regions, const LONG* table, UINT reserved) {
  STANDIN_ENTER(LONG, "SetDisplayRegion", output, regions, table, reserved);
  if (output >= static_cast<UINT>(Card::Outputs()) || regions < 1 || regions > static_cast<UINT>(kMaxRegions) ||
      table == nullptr)
    return -1;
  OutputState& o = TheCard().outputs[output];
  for (std::size_t i = 0; i < 4; ++i) o.firstRegion[i] = table[i];
  o.regions = static_cast<int>(regions);
  return 0;
}
#endif

// ---- pictures ---------------------------------------------------------------------------------

STANDIN_EXPORT LONG ZORV_STDCALL HW_GetPictureSize(HANDLE h, LONG* width, LONG* height) {
  STANDIN_ENTER(LONG, "HW_GetPictureSize", h, width, height);
  kit::Player* p = TheCard().PlayerOf(h);
  if (p == nullptr || width == nullptr || height == nullptr) return -1;
  kit::Picture pic;
  const bool have = p->LastPicture(pic);
  *width = have ? pic.width : 0;
  *height = have ? pic.height : 0;
  if (const std::int64_t w = kit::Option("picture.width", 0)) *width = static_cast<LONG>(w);
  if (const std::int64_t hh = kit::Option("picture.height", 0)) *height = static_cast<LONG>(hh);
  return 0;
}

// The current picture in YV12 order; the rest of the buffer is left alone. A blank picture is
// all zero. Fails, writing nothing, when there is no picture or it does not fit.
STANDIN_EXPORT LONG ZORV_STDCALL HW_GetYV12Image(HANDLE h, std::uint8_t* buffer, DWORD size) {
  STANDIN_ENTER(LONG, "HW_GetYV12Image", h, buffer, size);
  kit::Player* p = TheCard().PlayerOf(h);
  if (p == nullptr || buffer == nullptr) return -1;
  kit::Picture pic;
  if (!p->LastPicture(pic)) return -1;
  const std::size_t bytes = zrv::PictureBytes(pic.width, pic.height);
  if (size < bytes || pic.yuv.size() < bytes) return -1;
  if (TheCard().TakeBlank()) {
    std::memset(buffer, 0, bytes);
    return 0;
  }
  return kit::WriteYV12(pic, buffer, size) ? 0 : -1;
}

// ---- looked up by the library but not driven: they only answer 0 ----------------------------

#define HIKCARD_IDLE_ENTRIES(X)                                                                    \
  X(InitDSPs) X(DeInitDSPs) X(GetBoardCount) X(GetBoardDetail) X(HW_ReleaseDecDevice)               \
  X(HW_ChannelClose) X(HW_OpenFile) X(HW_CloseFile) X(HW_Pause) X(HW_SetVolume)                     \
  X(HW_RefreshSurface) X(HW_RestoreSurface) X(HW_ClearSurface) X(HW_ZoomOverlay) X(HW_StartCapFile) \
  X(HW_StopCapFile) X(HW_ConvertToBmpFile) X(HW_Jump) X(HW_SetJumpInterval) X(HW_GetSpeed)          \
  X(HW_SetPlayPos) X(HW_GetPlayPos) X(HW_GetVersion) X(HW_GetCurrentFrameRate)                      \
  X(HW_GetCurrentFrameNum) X(HW_GetFileTotalFrames) X(HW_GetFileTime) X(HW_GetCurrentFrameTime)     \
  X(HW_GetPlayedFrames) X(HW_GetDeviceSerialNo) X(HW_SetFileEndMsg) X(HW_GetStreamOpenMode)         \
  X(HW_SetVideoOutStandard) X(HW_SetDspDeadlockMsg) X(HW_GetChannelNum) X(HW_ResetDsp)              \
  X(HW_OpenStreamEx) X(HW_CloseStreamEx) X(HW_InputVideoData) X(HW_InputAudioData) X(GetVideoPara)  \
  X(SetDisplayVideoBrightness) X(GetDspCount) X(GetDspDetail) X(GetEncodeChannelCount)              \
  X(SetDefaultVideoStandard) X(SetVideoDetectPrecision) X(SetOverlayColorKey) X(SetSubStreamType)   \
  X(GetSubStreamType) X(SetDisplayStandard) X(ClearDisplayRegion) X(SetDisplayRegionPosition)       \
  X(FillDisplayRegion) X(SetEncoderVideoExtOutput) X(SetDecoderVideoOutput) X(SetDeInterlace)       \
  X(SetPreviewOverlayMode)

#define HIKCARD_IDLE_ENTRY(Name)                    \
  STANDIN_EXPORT LONG ZORV_STDCALL Name() {         \
    STANDIN_ENTER(LONG, #Name);                     \
    return 0;                                       \
  }
HIKCARD_IDLE_ENTRIES(HIKCARD_IDLE_ENTRY)
