// Stand-in HBPlaySDK.dll: the HB player library as the HB adapter drives it.
//
// 500 ports (0..499), each a kit::Player over the ZRV stream format. This library's stream head
// is 64 bytes: a 40-byte ZRV stream head followed by 24 bytes of its own (kHbHeadTail: "HBSH"
// and zeros). The last argument of HB_PLAY_OpenStream is the source buffer size in MB. Frames
// reach a port through HB_PLAY_InputData or through the one-frame decoders, which take one
// whole packet each and report 0 while the port cannot take it (closed, or its buffer full).
// The player draws into its window itself. Pictures handed to the callbacks are planar 4:2:0
// in I420 order (kPictureTypeI420).
//
// Snapshot callback (every displayed picture): port, picture size, picture, width, height,
// picture type. HB_PLAY_ConvertToBMPFile takes the port, then those values, then the file name.
// Decode callback frame information (HbFrameInfo): width, height, time stamp in ms, picture
// type, frame rate, frame number; six 32-bit values.
//
// Test hooks (Standin_Fire / Standin_Query; options of StandinPlayer.h also apply):
//   fire "decode"  (port, size): calls the port's decode callback now with its last picture,
//                  reporting `size` bytes (0 = the whole picture); the buffer holds exactly
//                  `size` bytes followed by guard bytes. -1 when the port has no decode callback
//                  or no picture, else a bit set: 1 = a guard byte was changed, 2 = a byte of
//                  the picture was changed.
//   query "open" "playing" "window" "decoded" "displayed" "drawn" "audio" "audioplayed"
//         "sound" "pending" "deccallback" "snapcallback" (port); "headtail" (port): the sum
//         of bytes 40..63 of the stream head the port was opened with.
//
// Variants are built from this file with STANDIN_WITHOUT_<entry point> defined.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <vector>

#include "StandinKit.h"
#include "StandinPictures.h"
#include "StandinPlayer.h"

namespace {

using BOOL = std::int32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;

constexpr int kPorts = 500;
constexpr DWORD kHeadSize = 64;
constexpr LONG kPictureTypeI420 = 3;

struct HbFrameInfo {
  LONG nWidth;
  LONG nHeight;
  LONG nStamp;
  LONG nType;
  LONG nFrameRate;
  LONG nFrameNum;
};

using SnapShotCallBack = void(ZORV_STDCALL*)(LONG port, LONG size, char* buffer, LONG width, LONG height, LONG type);
using DecCallBack = void(ZORV_STDCALL*)(LONG port, char* buffer, LONG size, HbFrameInfo* info, LONG reserved1,
                                        LONG reserved2);

HbFrameInfo InfoOf(const kit::Picture& pic) {
  return {pic.width, pic.height, static_cast<LONG>(pic.stampMs), kPictureTypeI420, 25,
          static_cast<LONG>(pic.frameNo)};
}

struct PortExtra {
  std::atomic<SnapShotCallBack> snapshot{nullptr};
  std::atomic<DecCallBack> decode{nullptr};
  std::atomic<std::int64_t> headTail{0};
};

struct Library {
  kit::PlayerTable players{kPorts};
  PortExtra extra[kPorts];

  Library() {
    for (int port = 0; port < kPorts; ++port) {
      kit::Player* player = players.Get(port);
      PortExtra* x = &extra[port];
      player->SetDecodedHook([port, x](const kit::Picture& pic) {
        if (DecCallBack cb = x->decode.load()) {
          std::vector<std::uint8_t> yuv(pic.yuv);
          HbFrameInfo info = InfoOf(pic);
          cb(port, reinterpret_cast<char*>(yuv.data()), static_cast<LONG>(yuv.size()), &info, 0, 0);
        }
      });
      player->SetDisplayedHook([port, x](const kit::Picture& pic) {
        if (SnapShotCallBack cb = x->snapshot.load()) {
          std::vector<std::uint8_t> yuv(pic.yuv);
          cb(port, static_cast<LONG>(yuv.size()), reinterpret_cast<char*>(yuv.data()), pic.width, pic.height,
             kPictureTypeI420);
        }
      });
    }
    kit::OnReset([this] {
      for (PortExtra& x : extra) {
        x.snapshot = nullptr;
        x.decode = nullptr;
        x.headTail = 0;
      }
    });
    InstallHooks();
  }

  void InstallHooks() {
    kit::OnFire("decode", [this](std::int64_t port, std::int64_t size, std::int64_t) -> std::int64_t {
      kit::Player* p = players.Get(port);
      kit::Picture pic;
      if (p == nullptr || !p->LastPicture(pic)) return -1;
      DecCallBack cb = extra[port].decode.load();
      if (cb == nullptr) return -1;
      const std::size_t reported = size > 0 ? static_cast<std::size_t>(size) : pic.yuv.size();
      HbFrameInfo info = InfoOf(pic);
      return kit::CallWithGuard(pic.yuv, reported, [&](std::uint8_t* buffer, std::size_t bytes) {
        cb(static_cast<LONG>(port), reinterpret_cast<char*>(buffer), static_cast<LONG>(bytes), &info, 0, 0);
      });
    });
    kit::InstallPlayerQueries(players);
    auto q = [this](const char* name, std::function<std::int64_t(kit::Player&, PortExtra&)> f) {
      kit::OnQuery(name, [this, f](std::int64_t port) -> std::int64_t {
        kit::Player* p = players.Get(port);
        return p ? f(*p, extra[port]) : -1;
      });
    };
    q("deccallback", [](kit::Player&, PortExtra& x) { return x.decode.load() ? 1 : 0; });
    q("snapcallback", [](kit::Player&, PortExtra& x) { return x.snapshot.load() ? 1 : 0; });
    q("headtail", [](kit::Player&, PortExtra& x) { return x.headTail.load(); });
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

// One packet into an open port; false when the port cannot take it now.
bool Feed(LONG port, std::uint8_t* data, DWORD size) {
  kit::Player* p = PlayerOf(port);
  return p != nullptr && data != nullptr && size > 0 && p->Input(data, size);
}

}  // namespace

STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_SetPicQuality(LONG port, LONG quality) {
  STANDIN_ENTER(BOOL, "HB_PLAY_SetPicQuality", port, quality);
  return Result(PlayerOf(port) != nullptr);
}

STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_SetStreamOpenMode(LONG port, LONG mode) {
  STANDIN_ENTER(BOOL, "HB_PLAY_SetStreamOpenMode", port, mode);
  return Result(PlayerOf(port) != nullptr && (mode == 0 || mode == 1));
}

STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_OpenStream(LONG port, std::uint8_t* head, DWORD headSize, DWORD bufferMb) {
  STANDIN_ENTER(BOOL, "HB_PLAY_OpenStream", port, head, headSize, bufferMb);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || head == nullptr || headSize != kHeadSize || bufferMb == 0 || bufferMb > 64) return 0;
  if (!p->OpenStream(head, headSize, static_cast<std::size_t>(bufferMb) << 20)) return 0;
  std::int64_t tail = 0;
  for (DWORD i = zrv::kStreamHeadSize; i < kHeadSize; ++i) tail += head[i];
  Lib().extra[port].headTail = tail;
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_SetSnapShotCallBack(LONG port, SnapShotCallBack callBack) {
  STANDIN_ENTER(BOOL, "HB_PLAY_SetSnapShotCallBack", port, callBack);
  if (PlayerOf(port) == nullptr) return 0;
  Lib().extra[port].snapshot = callBack;
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_SetDecCallBack(LONG port, DecCallBack callBack, LONG flag) {
  STANDIN_ENTER(BOOL, "HB_PLAY_SetDecCallBack", port, callBack, flag);
  if (PlayerOf(port) == nullptr) return 0;
  Lib().extra[port].decode = callBack;
  return 1;
}

#ifndef STANDIN_WITHOUT_HB_PLAY_PlayEx
STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_PlayEx(LONG port, DWORD wnd) {
  STANDIN_ENTER(BOOL, "HB_PLAY_PlayEx", port, wnd);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Play(wnd));
}
#endif

STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_Play(LONG port, DWORD wnd) {
  STANDIN_ENTER(BOOL, "HB_PLAY_Play", port, wnd);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Play(wnd));
}

STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_InputData(LONG port, std::uint8_t* data, DWORD size, LONG flag) {
  STANDIN_ENTER(BOOL, "HB_PLAY_InputData", port, data, size, flag);
  return Result(Feed(port, data, size));
}

#ifndef STANDIN_WITHOUT_HB_PLAY_DecodeOneFrame
STANDIN_EXPORT LONG ZORV_STDCALL HB_PLAY_DecodeOneFrame(LONG port, std::uint8_t* data, DWORD size, LONG show) {
  STANDIN_ENTER(LONG, "HB_PLAY_DecodeOneFrame", port, data, size, show);
  return Feed(port, data, size) ? 1 : 0;
}
#endif

#ifndef STANDIN_WITHOUT_HB_PLAY_DecodeAudioFrame
STANDIN_EXPORT LONG ZORV_STDCALL HB_PLAY_DecodeAudioFrame(LONG port, std::uint8_t* data, DWORD size) {
  STANDIN_ENTER(LONG, "HB_PLAY_DecodeAudioFrame", port, data, size);
  return Feed(port, data, size) ? 1 : 0;
}
#endif

STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_Stop(LONG port) {
  STANDIN_ENTER(BOOL, "HB_PLAY_Stop", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Stop());
}

STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_CloseStream(LONG port) {
  STANDIN_ENTER(BOOL, "HB_PLAY_CloseStream", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->IsOpen()) return 0;
  p->Close();
  return 1;
}

#ifndef STANDIN_WITHOUT_HB_PLAY_ResetSourceBufFlag
STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_ResetSourceBufFlag(LONG port) {
  STANDIN_ENTER(BOOL, "HB_PLAY_ResetSourceBufFlag", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->IsOpen()) return 0;
  p->ResetBuffer();
  return 1;
}
#endif

// Sound per port.
STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_PlaySound(LONG port) {
  STANDIN_ENTER(BOOL, "HB_PLAY_PlaySound", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->IsOpen()) return 0;
  p->SetSound(true);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_CloseSound(LONG port) {
  STANDIN_ENTER(BOOL, "HB_PLAY_CloseSound", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr) return 0;
  p->SetSound(false);
  return 1;
}

// Writes a picture handed to the snapshot callback as a 24-bit BMP file.
STANDIN_EXPORT BOOL ZORV_STDCALL HB_PLAY_ConvertToBMPFile(LONG port, char* buffer, LONG size, LONG width, LONG height,
                                                          LONG type, char* fileName) {
  STANDIN_ENTER(BOOL, "HB_PLAY_ConvertToBMPFile", port, buffer, size, width, height, type, kit::Str(fileName));
  if (PlayerOf(port) == nullptr || buffer == nullptr || fileName == nullptr || type != kPictureTypeI420 ||
      !zrv::ValidDimensions(width, height) || size < 0 ||
      static_cast<std::size_t>(size) < zrv::PictureBytes(width, height))
    return 0;
  return Result(zrv::WriteBmpFile(fileName, reinterpret_cast<const std::uint8_t*>(buffer), width, height));
}
