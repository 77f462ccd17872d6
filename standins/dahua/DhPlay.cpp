// Stand-in dhplay.dll: the Dahua player library as the Dahua adapter drives it.
//
// 500 ports (0..499), each a kit::Player over the ZRV stream format. PLAY_OpenStream takes
// the bytes it is given as the stream head; when they start with a ZRV stream head, the bytes
// after its 40 bytes are the first stream data. Pictures are 4:2:0.
//
// The decode callback gets a private copy of each picture (the callee may rewrite it), followed
// by kGuardBytes guard bytes that are checked after the call: a callee writing past the
// picture is counted ("guardbroken").
//
// Decode callback frame information (DhFrameInfo): width, height, time stamp in ms, picture
// type (3 = YUV 4:2:0), frame rate; five 32-bit values.
//
// PLAY_CatchPic writes the port's last picture as a 24-bit BMP file. PLAY_StartDataRecord
// writes the stream head, then every byte accepted by PLAY_InputData, into the named file
// (a playable ZRV file) until PLAY_StopDataRecord.
//
// Test hooks (Standin_Fire / Standin_Query; options of StandinPlayer.h also apply):
//   fire "decode"  (port, width, height): calls the port's decode callback now with its last
//                  picture; a non-zero width/height is reported in the frame information
//                  instead of the picture's own (the buffer stays the real one). 0, or -1 when
//                  the port has no decode callback or no picture.
//   query the kit's player queries (StandinPictures.h), and "file" "bad" "volume" "deccallback"
//         "recording" "guardbroken" (port); "soundport" (any port).
//
// Variants are built from this file with STANDIN_WITHOUT_<entry point> defined.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "StandinKit.h"
#include "StandinPictures.h"
#include "StandinPlayer.h"

namespace {

using BOOL = std::int32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;

constexpr int kPorts = 500;
constexpr LONG kPictureTypeYuv420 = 3;
constexpr std::size_t kDefaultSourceBuffer = 2u * 1024 * 1024;

struct DhFrameInfo {
  LONG nWidth;
  LONG nHeight;
  LONG nStamp;
  LONG nType;
  LONG nFrameRate;
};

using DecCallBack = void(ZORV_STDCALL*)(LONG port, char* buffer, LONG size, DhFrameInfo* info, LONG reserved1,
                                        LONG reserved2);

struct PortExtra {
  std::atomic<DecCallBack> decode{nullptr};
  std::atomic<LONG> volume{0};
  std::atomic<std::int64_t> guardBroken{0};
  std::mutex colorMutex;
  int color[16][4] = {};
  std::mutex recordMutex;          // guards head and record
  std::vector<std::uint8_t> head;  // the bytes the stream was opened with
  std::FILE* record = nullptr;
};

// Calls the decode callback with a copy of the picture followed by guard bytes (the callee
// rewrites the picture; writing past it is counted).
void CallDecode(LONG port, PortExtra& x, const kit::Picture& pic, LONG width, LONG height) {
  DecCallBack cb = x.decode.load();
  if (cb == nullptr) return;
  DhFrameInfo info{width, height, static_cast<LONG>(pic.stampMs), kPictureTypeYuv420, 25};
  const std::int64_t damage = kit::CallWithGuard(pic.yuv, pic.yuv.size(), [&](std::uint8_t* buffer, std::size_t size) {
    cb(port, reinterpret_cast<char*>(buffer), static_cast<LONG>(size), &info, 0, 0);
  });
  if (damage & 1) ++x.guardBroken;
}

void StopRecording(PortExtra& x) {
  std::lock_guard<std::mutex> lock(x.recordMutex);
  if (x.record) std::fclose(x.record);
  x.record = nullptr;
}

struct Library {
  kit::PlayerTable players{kPorts};
  PortExtra extra[kPorts];
  std::atomic<int> soundPort{-1};

  Library() {
    for (int port = 0; port < kPorts; ++port) {
      PortExtra* x = &extra[port];
      players.Get(port)->SetDecodedHook(
          [port, x](const kit::Picture& pic) { CallDecode(port, *x, pic, pic.width, pic.height); });
    }
    kit::OnReset([this] {
      for (PortExtra& x : extra) {
        x.decode = nullptr;
        x.volume = 0;
        x.guardBroken = 0;
        StopRecording(x);
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
      if (p == nullptr || !p->LastPicture(pic) || extra[port].decode.load() == nullptr) return -1;
      CallDecode(static_cast<LONG>(port), extra[port], pic, w ? static_cast<LONG>(w) : pic.width,
                 h ? static_cast<LONG>(h) : pic.height);
      return 0;
    });
    kit::InstallPlayerQueries(players);
    auto q = [this](const char* name, std::function<std::int64_t(kit::Player&, PortExtra&)> f) {
      kit::OnQuery(name, [this, f](std::int64_t port) -> std::int64_t {
        kit::Player* p = players.Get(port);
        return p ? f(*p, extra[port]) : -1;
      });
    };
    q("file", [](kit::Player& p, PortExtra&) { return p.IsFile() ? 1 : 0; });
    q("bad", [](kit::Player& p, PortExtra&) { return static_cast<std::int64_t>(p.BadPackets()); });
    q("volume", [](kit::Player&, PortExtra& x) { return static_cast<std::int64_t>(x.volume.load()); });
    q("deccallback", [](kit::Player&, PortExtra& x) { return x.decode.load() ? 1 : 0; });
    q("guardbroken", [](kit::Player&, PortExtra& x) { return x.guardBroken.load(); });
    q("recording", [](kit::Player&, PortExtra& x) {
      std::lock_guard<std::mutex> lock(x.recordMutex);
      return x.record ? 1 : 0;
    });
    kit::OnQuery("soundport", [this](std::int64_t) -> std::int64_t { return soundPort.load(); });
  }
};

Library& Lib() {
  static Library* lib = new Library;  // lives as long as the process: player threads use it
  return *lib;
}

const kit::Hooks installed([] { Lib(); });

kit::Player* PlayerOf(LONG port) { return Lib().players.Get(port); }

BOOL Result(bool ok) { return ok ? 1 : 0; }

// Closes whatever the port has open (stream or file) and forgets its recording.
bool ClosePort(LONG port) {
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->IsOpen()) return false;
  p->Close();
  StopRecording(Lib().extra[port]);
  if (Lib().soundPort == port) Lib().soundPort = -1;
  return true;
}

}  // namespace

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_OpenStream(LONG port, std::uint8_t* buffer, DWORD size, DWORD bufferPool) {
  STANDIN_ENTER(BOOL, "PLAY_OpenStream", port, buffer, size, bufferPool);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || buffer == nullptr || size == 0) return 0;
  if (!p->OpenStream(buffer, size, bufferPool ? bufferPool : kDefaultSourceBuffer)) return 0;
  PortExtra& x = Lib().extra[port];
  {
    std::lock_guard<std::mutex> lock(x.recordMutex);
    x.head.assign(buffer, buffer + size);
  }
  zrv::StreamParams params;
  if (size > zrv::kStreamHeadSize && zrv::ParseStreamHead(buffer, size, params))
    p->Input(buffer + zrv::kStreamHeadSize, size - zrv::kStreamHeadSize);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_SetDisplayBuf(LONG port, DWORD count) {
  STANDIN_ENTER(BOOL, "PLAY_SetDisplayBuf", port, count);
  return Result(PlayerOf(port) != nullptr && count > 0);
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_SetDecCallBack(LONG port, DecCallBack callBack) {
  STANDIN_ENTER(BOOL, "PLAY_SetDecCallBack", port, callBack);
  if (PlayerOf(port) == nullptr) return 0;
  Lib().extra[port].decode = callBack;
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_Play(LONG port, DWORD wnd) {
  STANDIN_ENTER(BOOL, "PLAY_Play", port, wnd);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Play(wnd));
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_InputData(LONG port, std::uint8_t* data, DWORD size) {
  STANDIN_ENTER(BOOL, "PLAY_InputData", port, data, size);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->Input(data, size)) return 0;
  PortExtra& x = Lib().extra[port];
  std::lock_guard<std::mutex> lock(x.recordMutex);
  if (x.record && size > 0) std::fwrite(data, 1, size, x.record);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_Stop(LONG port) {
  STANDIN_ENTER(BOOL, "PLAY_Stop", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Stop());
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_CloseStream(LONG port) {
  STANDIN_ENTER(BOOL, "PLAY_CloseStream", port);
  return Result(ClosePort(port));
}

// Buffer kinds 1..4: 1 is the source (input) buffer; the others hold no data in this player.
STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_ResetBuffer(LONG port, DWORD kind) {
  STANDIN_ENTER(BOOL, "PLAY_ResetBuffer", port, kind);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || kind < 1 || kind > 4) return 0;
  if (kind == 1) p->ResetBuffer();
  return 1;
}

#ifndef STANDIN_WITHOUT_PLAY_ResetSourceBuffer
STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_ResetSourceBuffer(LONG port) {
  STANDIN_ENTER(BOOL, "PLAY_ResetSourceBuffer", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr) return 0;
  p->ResetBuffer();
  return 1;
}
#endif

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_Fast(LONG port) {
  STANDIN_ENTER(BOOL, "PLAY_Fast", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Fast());
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_Slow(LONG port) {
  STANDIN_ENTER(BOOL, "PLAY_Slow", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Slow());
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_OneByOne(LONG port) {
  STANDIN_ENTER(BOOL, "PLAY_OneByOne", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->OneByOne());
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_Pause(LONG port, DWORD pause) {
  STANDIN_ENTER(BOOL, "PLAY_Pause", port, pause);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Pause(pause != 0));
}

// One port plays sound at a time: switching it on for a port switches it off for the other.
STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_PlaySound(LONG port) {
  STANDIN_ENTER(BOOL, "PLAY_PlaySound", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->IsOpen()) return 0;
  int previous = Lib().soundPort.exchange(port);
  if (previous >= 0 && previous != port) PlayerOf(previous)->SetSound(false);
  p->SetSound(true);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_StopSound() {
  STANDIN_ENTER(BOOL, "PLAY_StopSound");
  int previous = Lib().soundPort.exchange(-1);
  if (previous >= 0) PlayerOf(previous)->SetSound(false);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_SetVolume(LONG port, DWORD volume) {
  STANDIN_ENTER(BOOL, "PLAY_SetVolume", port, volume);
  if (PlayerOf(port) == nullptr || volume > 0xFFFF) return 0;
  Lib().extra[port].volume = static_cast<LONG>(volume);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_SetStreamOpenMode(LONG port, DWORD mode) {
  STANDIN_ENTER(BOOL, "PLAY_SetStreamOpenMode", port, mode);
  return Result(PlayerOf(port) != nullptr && mode <= 1);
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_SetColor(LONG port, DWORD region, LONG brightness, LONG contrast,
                                               LONG saturation, LONG hue) {
  STANDIN_ENTER(BOOL, "PLAY_SetColor", port, region, brightness, contrast, saturation, hue);
  if (PlayerOf(port) == nullptr || region >= 16) return 0;
  PortExtra& x = Lib().extra[port];
  std::lock_guard<std::mutex> lock(x.colorMutex);
  int values[4] = {brightness, contrast, saturation, hue};
  std::memcpy(x.color[region], values, sizeof values);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_GetColor(LONG port, DWORD region, LONG* brightness, LONG* contrast,
                                               LONG* saturation, LONG* hue) {
  STANDIN_ENTER(BOOL, "PLAY_GetColor", port, region, brightness, contrast, saturation, hue);
  if (PlayerOf(port) == nullptr || region >= 16 || !brightness || !contrast || !saturation || !hue) return 0;
  PortExtra& x = Lib().extra[port];
  std::lock_guard<std::mutex> lock(x.colorMutex);
  *brightness = x.color[region][0];
  *contrast = x.color[region][1];
  *saturation = x.color[region][2];
  *hue = x.color[region][3];
  return 1;
}

// Writes the port's last decoded picture as a 24-bit BMP file.
STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_CatchPic(LONG port, char* fileName) {
  STANDIN_ENTER(BOOL, "PLAY_CatchPic", port, kit::Str(fileName));
  kit::Player* p = PlayerOf(port);
  kit::Picture pic;
  if (p == nullptr || fileName == nullptr || !p->LastPicture(pic)) return 0;
  return Result(zrv::WriteBmpFile(fileName, pic.yuv.data(), pic.width, pic.height));
}

#ifndef STANDIN_WITHOUT_PLAY_StartDataRecord
// File type 1 is the stream as received; the file starts with the bytes the stream was opened
// with. Other types are refused.
STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_StartDataRecord(LONG port, char* fileName, LONG type) {
  STANDIN_ENTER(BOOL, "PLAY_StartDataRecord", port, kit::Str(fileName), type);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || fileName == nullptr || type != 1 || !p->IsOpen() || p->IsFile()) return 0;
  PortExtra& x = Lib().extra[port];
  std::lock_guard<std::mutex> lock(x.recordMutex);
  if (x.record) return 0;
  x.record = std::fopen(zrv::NativePath(fileName).c_str(), "wb");
  if (x.record == nullptr) return 0;
  std::fwrite(x.head.data(), 1, x.head.size(), x.record);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_StopDataRecord(LONG port) {
  STANDIN_ENTER(BOOL, "PLAY_StopDataRecord", port);
  if (PlayerOf(port) == nullptr) return 0;
  PortExtra& x = Lib().extra[port];
  std::lock_guard<std::mutex> lock(x.recordMutex);
  if (x.record == nullptr) return 0;
  const bool ok = std::fclose(x.record) == 0;
  x.record = nullptr;
  return Result(ok);
}
#endif

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_OpenFile(LONG port, char* fileName) {
  STANDIN_ENTER(BOOL, "PLAY_OpenFile", port, kit::Str(fileName));
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && fileName != nullptr && p->OpenFile(fileName));
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_CloseFile(LONG port) {
  STANDIN_ENTER(BOOL, "PLAY_CloseFile", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->IsFile() && ClosePort(port));
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_SetPlayPos(LONG port, double pos) {
  STANDIN_ENTER(BOOL, "PLAY_SetPlayPos", port, kit::Dbl(pos));
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->SetPos(pos));
}

STANDIN_EXPORT float ZORV_STDCALL PLAY_GetPlayPos(LONG port) {
  STANDIN_ENTER(float, "PLAY_GetPlayPos", port);
  kit::Player* p = PlayerOf(port);
  return p ? static_cast<float>(p->Pos()) : 0.0f;
}

STANDIN_EXPORT BOOL ZORV_STDCALL PLAY_SetPlayedTimeEx(LONG port, DWORD ms) {
  STANDIN_ENTER(BOOL, "PLAY_SetPlayedTimeEx", port, ms);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->SetPlayedTimeMs(ms));
}

#define DH_STANDIN_GETTER(name, expr)                 \
  STANDIN_EXPORT DWORD ZORV_STDCALL name(LONG port) { \
    STANDIN_ENTER(DWORD, #name, port);                \
    kit::Player* p = PlayerOf(port);                  \
    return p ? static_cast<DWORD>(expr) : 0;          \
  }
DH_STANDIN_GETTER(PLAY_GetFileTime, p->FileTimeSeconds())
DH_STANDIN_GETTER(PLAY_GetPlayedTime, p->PlayedTimeMs() / 1000)
DH_STANDIN_GETTER(PLAY_GetPlayedTimeEx, p->PlayedTimeMs())
DH_STANDIN_GETTER(PLAY_GetPlayedFrames, p->PlayedFrames())
DH_STANDIN_GETTER(PLAY_GetFileTotalFrames, p->TotalFrames())
DH_STANDIN_GETTER(PLAY_GetCurrentFrameRate, p->FrameRate())
DH_STANDIN_GETTER(PLAY_GetCurrentFrameNum, p->CurrentFrameNum())

STANDIN_EXPORT DWORD ZORV_STDCALL PLAY_GetFileHeadLength() {
  STANDIN_ENTER(DWORD, "PLAY_GetFileHeadLength");
  return static_cast<DWORD>(zrv::kStreamHeadSize);
}
