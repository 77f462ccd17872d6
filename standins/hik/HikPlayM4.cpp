// Stand-in HikPlayM4.dll: the Hikvision player library as the Hikvision adapter drives it.
//
// 500 ports (0..499), each a kit::Player over the ZRV stream format; the 40-byte ZRV stream
// head is this library's file head (byte 16 = 3: the stream carries sound). Pictures are
// 4:2:0 in I420 order; the picture type passed to the display callback and expected by
// Hik_PLayM4_ConvertToBmpFile is kPictureTypeYuv420 (3).
//
// Decode callback frame information (HikFrameInfo): width, height, time stamp in ms, picture
// type, frame rate, frame number; six 32-bit values.
//
// Test hooks (Standin_Fire / Standin_Query; options of StandinPlayer.h also apply):
//   fire "decode"  (port, width, height): calls the port's decode callback now with its last
//                  picture; a non-zero width/height is reported in the frame information
//                  instead of the picture's own (the buffer stays the real one). 0, -1 when
//                  the port has no decode callback or no picture.
//   fire "decode-port" (port, reported): calls the port's decode callback with its last picture
//                  but names the port `reported` (a port the caller may not know).
//   fire "display" (port, reported, 1): calls the port's display callback now with its last
//                  picture (naming the port `reported` when the third value is non-zero).
//   query "open" "file" "playing" "window" "decoded" "displayed" "drawn" "audio"
//         "audioplayed" "sound" "hasaudio" "pending" "bad" "volume" "deccallback"
//         "displaycallback" (port); "soundport" (any port): the port whose sound is on, or -1.
//
// Variants are built from this file with STANDIN_WITHOUT_<entry point> defined.
#include <atomic>
#include <cstring>
#include <mutex>

#include "StandinKit.h"
#include "StandinPlayer.h"

namespace {

using BOOL = std::int32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;

constexpr int kPorts = 500;
constexpr LONG kPictureTypeYuv420 = 3;
constexpr std::size_t kDefaultSourceBuffer = 2u * 1024 * 1024;

struct HikFrameInfo {
  LONG nWidth;
  LONG nHeight;
  LONG nStamp;
  LONG nType;
  LONG nFrameRate;
  LONG nFrameNum;
};

using DisplayCallBack = void(ZORV_STDCALL*)(LONG port, char* buffer, LONG size, LONG width, LONG height,
                                            LONG stamp, LONG type, LONG reserved);
using DecCallBack = void(ZORV_STDCALL*)(LONG port, char* buffer, LONG size, HikFrameInfo* info, LONG reserved1,
                                        LONG reserved2);

struct PortExtra {
  std::atomic<DisplayCallBack> display{nullptr};
  std::atomic<DecCallBack> decode{nullptr};
  std::atomic<LONG> volume{0};
  std::mutex colorMutex;
  int color[16][4] = {};
};

struct Library {
  kit::PlayerTable players{kPorts};
  PortExtra extra[kPorts];
  std::atomic<int> soundPort{-1};

  Library() {
    for (int port = 0; port < kPorts; ++port) {
      kit::Player* player = players.Get(port);
      PortExtra* x = &extra[port];
      player->SetDecodedHook([port, x](const kit::Picture& pic) {
        if (DecCallBack cb = x->decode.load()) {
          HikFrameInfo info{pic.width, pic.height, static_cast<LONG>(pic.stampMs), kPictureTypeYuv420, 25,
                            static_cast<LONG>(pic.frameNo)};
          cb(port, reinterpret_cast<char*>(const_cast<std::uint8_t*>(pic.yuv.data())),
             static_cast<LONG>(pic.yuv.size()), &info, 0, 0);
        }
      });
      player->SetDisplayedHook([port, x](const kit::Picture& pic) {
        if (DisplayCallBack cb = x->display.load()) {
          cb(port, reinterpret_cast<char*>(const_cast<std::uint8_t*>(pic.yuv.data())),
             static_cast<LONG>(pic.yuv.size()), pic.width, pic.height, static_cast<LONG>(pic.stampMs),
             kPictureTypeYuv420, 0);
        }
      });
    }
    kit::OnReset([this] {
      for (PortExtra& x : extra) {
        x.display = nullptr;
        x.decode = nullptr;
        x.volume = 0;
        std::lock_guard<std::mutex> lock(x.colorMutex);
        std::memset(x.color, 0, sizeof x.color);
      }
      soundPort = -1;
    });
    InstallHooks();
  }

  void InstallHooks() {
    kit::OnFire("decode", [this](std::int64_t port, std::int64_t w, std::int64_t h) -> std::int64_t {
      kit::Player* p = players.Get(port);
      kit::Picture pic;
      if (p == nullptr || !p->LastPicture(pic)) return -1;
      DecCallBack cb = extra[port].decode.load();
      if (cb == nullptr) return -1;
      HikFrameInfo info{w ? static_cast<LONG>(w) : pic.width, h ? static_cast<LONG>(h) : pic.height,
                        static_cast<LONG>(pic.stampMs), kPictureTypeYuv420, 25, static_cast<LONG>(pic.frameNo)};
      cb(static_cast<LONG>(port), reinterpret_cast<char*>(pic.yuv.data()), static_cast<LONG>(pic.yuv.size()), &info,
         0, 0);
      return 0;
    });
    kit::OnFire("decode-port", [this](std::int64_t port, std::int64_t reported, std::int64_t) -> std::int64_t {
      kit::Player* p = players.Get(port);
      kit::Picture pic;
      if (p == nullptr || !p->LastPicture(pic)) return -1;
      DecCallBack cb = extra[port].decode.load();
      if (cb == nullptr) return -1;
      HikFrameInfo info{pic.width, pic.height, static_cast<LONG>(pic.stampMs), kPictureTypeYuv420, 25,
                        static_cast<LONG>(pic.frameNo)};
      cb(static_cast<LONG>(reported), reinterpret_cast<char*>(pic.yuv.data()), static_cast<LONG>(pic.yuv.size()),
         &info, 0, 0);
      return 0;
    });
    kit::OnFire("display", [this](std::int64_t port, std::int64_t reported, std::int64_t useReported) -> std::int64_t {
      kit::Player* p = players.Get(port);
      kit::Picture pic;
      if (p == nullptr || !p->LastPicture(pic)) return -1;
      DisplayCallBack cb = extra[port].display.load();
      if (cb == nullptr) return -1;
      cb(static_cast<LONG>(useReported ? reported : port), reinterpret_cast<char*>(pic.yuv.data()), static_cast<LONG>(pic.yuv.size()),
         pic.width, pic.height, static_cast<LONG>(pic.stampMs), kPictureTypeYuv420, 0);
      return 0;
    });
    auto q = [this](const char* name, std::function<std::int64_t(kit::Player&, PortExtra&)> f) {
      kit::OnQuery(name, [this, f](std::int64_t port) -> std::int64_t {
        kit::Player* p = players.Get(port);
        return p ? f(*p, extra[port]) : -1;
      });
    };
    q("open", [](kit::Player& p, PortExtra&) { return p.IsOpen() ? 1 : 0; });
    q("file", [](kit::Player& p, PortExtra&) { return p.IsFile() ? 1 : 0; });
    q("playing", [](kit::Player& p, PortExtra&) { return p.Playing() ? 1 : 0; });
    q("window", [](kit::Player& p, PortExtra&) { return static_cast<std::int64_t>(p.Window()); });
    q("decoded", [](kit::Player& p, PortExtra&) { return static_cast<std::int64_t>(p.DecodedFrames()); });
    q("displayed", [](kit::Player& p, PortExtra&) { return static_cast<std::int64_t>(p.DisplayedFrames()); });
    q("drawn", [](kit::Player& p, PortExtra&) { return static_cast<std::int64_t>(p.DrawnFrames()); });
    q("audio", [](kit::Player& p, PortExtra&) { return static_cast<std::int64_t>(p.AudioPackets()); });
    q("audioplayed", [](kit::Player& p, PortExtra&) { return static_cast<std::int64_t>(p.PlayedAudioPackets()); });
    q("sound", [](kit::Player& p, PortExtra&) { return p.Sound() ? 1 : 0; });
    q("hasaudio", [](kit::Player& p, PortExtra&) { return p.HasAudio() ? 1 : 0; });
    q("pending", [](kit::Player& p, PortExtra&) { return static_cast<std::int64_t>(p.Pending()); });
    q("bad", [](kit::Player& p, PortExtra&) { return static_cast<std::int64_t>(p.BadPackets()); });
    q("volume", [](kit::Player&, PortExtra& x) { return static_cast<std::int64_t>(x.volume.load()); });
    q("deccallback", [](kit::Player&, PortExtra& x) { return x.decode.load() ? 1 : 0; });
    q("displaycallback", [](kit::Player&, PortExtra& x) { return x.display.load() ? 1 : 0; });
    kit::OnQuery("soundport", [this](std::int64_t) -> std::int64_t { return soundPort.load(); });
  }
};

Library& Lib() {
  static Library* lib = new Library;  // lives as long as the process: player threads use it
  return *lib;
}

// Loading the library sets up the ports and test hooks at once.
const kit::Hooks installed([] { Lib(); });

kit::Player* PlayerOf(LONG port) { return Lib().players.Get(port); }

BOOL Result(bool ok) { return ok ? 1 : 0; }

}  // namespace

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_SetTimerType(LONG port, DWORD timerType, DWORD reserved) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_SetTimerType", port, timerType, reserved);
  return Result(PlayerOf(port) != nullptr);
}

#ifndef STANDIN_WITHOUT_Hik_PlayM4_SyncToAudio
STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_SyncToAudio(LONG port, BOOL sync) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_SyncToAudio", port, sync);
  return Result(PlayerOf(port) != nullptr);
}
#endif

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_OpenStream(LONG port, std::uint8_t* head, DWORD headSize,
                                                       DWORD bufferSize) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_OpenStream", port, head, headSize, bufferSize);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || head == nullptr || headSize == 0) return 0;
  return Result(p->OpenStream(head, headSize, bufferSize ? bufferSize : kDefaultSourceBuffer));
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_SetDisplayBuf(LONG port, DWORD count) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_SetDisplayBuf", port, count);
  return Result(PlayerOf(port) != nullptr && count > 0);
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_SetDisplayCallBack(LONG port, DisplayCallBack callBack) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_SetDisplayCallBack", port, callBack);
  if (PlayerOf(port) == nullptr) return 0;
  Lib().extra[port].display = callBack;
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_SetDecCallBack(LONG port, DecCallBack callBack) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_SetDecCallBack", port, callBack);
  if (PlayerOf(port) == nullptr) return 0;
  Lib().extra[port].decode = callBack;
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_Play(LONG port, DWORD wnd) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_Play", port, wnd);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Play(wnd));
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_InputData(LONG port, std::uint8_t* data, DWORD size) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_InputData", port, data, size);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Input(data, size));
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_Stop(LONG port) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_Stop", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr) return 0;
  p->Stop();  // stopping a port that is not open (any more) does no harm
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_CloseStream(LONG port) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_CloseStream", port);
  // Closes whatever the port has open (a stream, or a file not closed by Hik_PlayM4_CloseFile);
  // a port with nothing open closes without complaint.
  kit::Player* p = PlayerOf(port);
  if (p == nullptr) return 0;
  p->Close();
  if (Lib().soundPort == port) Lib().soundPort = -1;
  return 1;
}

#ifndef STANDIN_WITHOUT_Hik_PlayM4_ResetBuffer
// Buffer kinds 1..4: 1 is the source (input) buffer; the others hold no data in this player.
STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_ResetBuffer(LONG port, DWORD kind) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_ResetBuffer", port, kind);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || kind < 1 || kind > 4) return 0;
  if (kind == 1) p->ResetBuffer();
  return 1;
}
#endif

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_Fast(LONG port) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_Fast", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Fast());
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_Slow(LONG port) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_Slow", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Slow());
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_OneByOne(LONG port) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_OneByOne", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->OneByOne());
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_Pause(LONG port, DWORD pause) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_Pause", port, pause);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Pause(pause != 0));
}

// One port plays sound at a time: switching it on for a port switches it off for the other.
STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_PlaySound(LONG port) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_PlaySound", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->IsOpen()) return 0;
  int previous = Lib().soundPort.exchange(port);
  if (previous >= 0 && previous != port) PlayerOf(previous)->SetSound(false);
  p->SetSound(true);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_StopSound() {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_StopSound");
  int previous = Lib().soundPort.exchange(-1);
  if (previous >= 0) PlayerOf(previous)->SetSound(false);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_SetVolume(LONG port, DWORD volume) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_SetVolume", port, volume);
  if (PlayerOf(port) == nullptr || volume > 0xFFFF) return 0;
  Lib().extra[port].volume = static_cast<LONG>(volume);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_SetStreamOpenMode(LONG port, DWORD mode) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_SetStreamOpenMode", port, mode);
  return Result(PlayerOf(port) != nullptr && mode <= 1);
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_SetColor(LONG port, DWORD region, LONG brightness, LONG contrast,
                                                     LONG saturation, LONG hue) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_SetColor", port, region, brightness, contrast, saturation, hue);
  if (PlayerOf(port) == nullptr || region >= 16) return 0;
  PortExtra& x = Lib().extra[port];
  std::lock_guard<std::mutex> lock(x.colorMutex);
  int values[4] = {brightness, contrast, saturation, hue};
  std::memcpy(x.color[region], values, sizeof values);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_GetColor(LONG port, DWORD region, LONG* brightness, LONG* contrast,
                                                     LONG* saturation, LONG* hue) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_GetColor", port, region, brightness, contrast, saturation, hue);
  if (PlayerOf(port) == nullptr || region >= 16 || !brightness || !contrast || !saturation || !hue) return 0;
  PortExtra& x = Lib().extra[port];
  std::lock_guard<std::mutex> lock(x.colorMutex);
  *brightness = x.color[region][0];
  *contrast = x.color[region][1];
  *saturation = x.color[region][2];
  *hue = x.color[region][3];
  return 1;
}

#ifndef STANDIN_WITHOUT_Hik_PlayM4_OpenFile
STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_OpenFile(LONG port, char* fileName) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_OpenFile", port, kit::Str(fileName));
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && fileName != nullptr && p->OpenFile(fileName));
}
#endif

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_CloseFile(LONG port) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_CloseFile", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->IsFile()) return 0;
  p->Close();
  if (Lib().soundPort == port) Lib().soundPort = -1;
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_SetPlayPos(LONG port, double pos) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_SetPlayPos", port, kit::Dbl(pos));
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->SetPos(pos));
}

STANDIN_EXPORT float ZORV_STDCALL Hik_PlayM4_GetPlayPos(LONG port) {
  STANDIN_ENTER(float, "Hik_PlayM4_GetPlayPos", port);
  kit::Player* p = PlayerOf(port);
  return p ? static_cast<float>(p->Pos()) : 0.0f;
}

STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PlayM4_SetPlayedTimeEx(LONG port, DWORD ms) {
  STANDIN_ENTER(BOOL, "Hik_PlayM4_SetPlayedTimeEx", port, ms);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->SetPlayedTimeMs(ms));
}

#define HIK_STANDIN_GETTER(name, expr)                          \
  STANDIN_EXPORT DWORD ZORV_STDCALL name(LONG port) {           \
    STANDIN_ENTER(DWORD, #name, port);                          \
    kit::Player* p = PlayerOf(port);                            \
    return p ? static_cast<DWORD>(expr) : 0;                    \
  }
HIK_STANDIN_GETTER(Hik_PlayM4_GetFileTime, p->FileTimeSeconds())
HIK_STANDIN_GETTER(Hik_PlayM4_GetPlayedTime, p->PlayedTimeMs() / 1000)
HIK_STANDIN_GETTER(Hik_PlayM4_GetPlayedTimeEx, p->PlayedTimeMs())
HIK_STANDIN_GETTER(Hik_PlayM4_GetPlayedFrames, p->PlayedFrames())
HIK_STANDIN_GETTER(Hik_PlayM4_GetFileTotalFrames, p->TotalFrames())
HIK_STANDIN_GETTER(Hik_PlayM4_GetCurrentFrameRate, p->FrameRate())
HIK_STANDIN_GETTER(Hik_PlayM4_GetCurrentFrameNum, p->CurrentFrameNum())

STANDIN_EXPORT DWORD ZORV_STDCALL Hik_PlayM4_GetFileHeadLength() {
  STANDIN_ENTER(DWORD, "Hik_PlayM4_GetFileHeadLength");
  return static_cast<DWORD>(zrv::kStreamHeadSize);
}

// Writes a displayed picture (the display callback's own arguments) as a 24-bit BMP file.
STANDIN_EXPORT BOOL ZORV_STDCALL Hik_PLayM4_ConvertToBmpFile(char* buffer, LONG size, LONG width, LONG height,
                                                             LONG type, char* fileName) {
  STANDIN_ENTER(BOOL, "Hik_PLayM4_ConvertToBmpFile", buffer, size, width, height, type, kit::Str(fileName));
  if (buffer == nullptr || fileName == nullptr || type != kPictureTypeYuv420 || !zrv::ValidDimensions(width, height) ||
      size < 0 || static_cast<std::size_t>(size) < zrv::PictureBytes(width, height))
    return 0;
  return Result(zrv::WriteBmpFile(fileName, reinterpret_cast<const std::uint8_t*>(buffer), width, height));
}
