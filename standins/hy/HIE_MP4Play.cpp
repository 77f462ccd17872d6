// Stand-in HIE_MP4Play.dll: the HY player library as the HY adapter drives it.
//
// 500 ports (0..499), each a kit::Player over the ZRV stream format; the file head frame (a
// 40-byte ZRV stream head) is the stream head. The player draws into its window itself. The
// pictures it hands to its callbacks are planar 4:2:0 with the chroma planes in Y, V, U order
// (kPictureTypeYv12), and MP4Play_ConvertToBmpFile expects them so.
//
// Decode callback frame information (HyFrameInfo): width, height, time stamp in ms, picture
// type, frame rate, frame number; six 32-bit values.
//
// Test hooks (Standin_Fire / Standin_Query; options of StandinPlayer.h also apply):
//   fire "decode"  (port, size): calls the port's decode callback now with its last picture,
//                  reporting `size` bytes (0 = the whole picture). The buffer holds exactly
//                  `size` bytes of the picture followed by guard bytes. Returns -1 when the port
//                  has no decode callback or no picture, else a bit set: 1 = a guard byte was
//                  changed (written past the picture), 2 = a byte of the picture was changed.
//   fire "display" (port): calls the port's display callback now with its last picture.
//   fire "release" (any port): lets MP4Play_InputData calls held by "input.hold" return.
//   query "open" "playing" "window" "decoded" "displayed" "drawn" "audio" "audioplayed"
//         "sound" "pending" "fast" (Fast calls since open) "deccallback" "displaycallback"
//         (port); "held" (any port): MP4Play_InputData calls waiting for "release".
//   option "input.hold" 1: MP4Play_InputData waits for "release", then refuses the data.
//
// Variants are built from this file with STANDIN_WITHOUT_<entry point> defined.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "StandinKit.h"
#include "StandinPictures.h"
#include "StandinPlayer.h"

namespace {

using BOOL = std::int32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;

constexpr int kPorts = 500;
constexpr LONG kPictureTypeYv12 = 2;

struct HyFrameInfo {
  LONG nWidth;
  LONG nHeight;
  LONG nStamp;
  LONG nType;
  LONG nFrameRate;
  LONG nFrameNum;
};

using DisplayCallBack = void(ZORV_STDCALL*)(LONG port, char* buffer, LONG size, LONG width, LONG height,
                                            LONG stamp, LONG type, LONG reserved);
using DecCallBack = void(ZORV_STDCALL*)(LONG port, char* buffer, LONG size, HyFrameInfo* info, LONG reserved1,
                                        LONG reserved2);

// The player's I420 picture in this library's Y, V, U order.
std::vector<std::uint8_t> ToYv12(const kit::Picture& pic) {
  std::vector<std::uint8_t> out(pic.yuv);
  const std::size_t luma = static_cast<std::size_t>(pic.width) * pic.height;
  const std::size_t chroma = static_cast<std::size_t>(pic.width / 2) * (pic.height / 2);
  if (out.size() >= luma + 2 * chroma)
    std::swap_ranges(out.begin() + luma, out.begin() + luma + chroma, out.begin() + luma + chroma);
  return out;
}

HyFrameInfo InfoOf(const kit::Picture& pic) {
  return {pic.width, pic.height, static_cast<LONG>(pic.stampMs), kPictureTypeYv12, 25,
          static_cast<LONG>(pic.frameNo)};
}

struct PortExtra {
  std::atomic<DisplayCallBack> display{nullptr};
  std::atomic<DecCallBack> decode{nullptr};
  std::atomic<int> fast{0};
};

// MP4Play_InputData calls held until the test releases them.
struct InputGate {
  std::mutex mutex;
  std::condition_variable cv;
  int held = 0;
  std::uint64_t generation = 0;

  void Hold() {
    std::unique_lock<std::mutex> lock(mutex);
    const std::uint64_t mine = generation;
    ++held;
    cv.notify_all();
    cv.wait_for(lock, std::chrono::seconds(10), [&] { return generation != mine; });
    --held;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex);
    ++generation;
    cv.notify_all();
  }
  int Held() {
    std::lock_guard<std::mutex> lock(mutex);
    return held;
  }
};

struct Library {
  kit::PlayerTable players{kPorts};
  PortExtra extra[kPorts];
  std::atomic<int> soundPort{-1};
  InputGate gate;

  Library() {
    for (int port = 0; port < kPorts; ++port) {
      kit::Player* player = players.Get(port);
      PortExtra* x = &extra[port];
      player->SetDecodedHook([port, x](const kit::Picture& pic) {
        if (DecCallBack cb = x->decode.load()) {
          std::vector<std::uint8_t> yv12 = ToYv12(pic);
          HyFrameInfo info = InfoOf(pic);
          cb(port, reinterpret_cast<char*>(yv12.data()), static_cast<LONG>(yv12.size()), &info, 0, 0);
        }
      });
      player->SetDisplayedHook([port, x](const kit::Picture& pic) {
        if (DisplayCallBack cb = x->display.load()) {
          std::vector<std::uint8_t> yv12 = ToYv12(pic);
          cb(port, reinterpret_cast<char*>(yv12.data()), static_cast<LONG>(yv12.size()), pic.width, pic.height,
             static_cast<LONG>(pic.stampMs), kPictureTypeYv12, 0);
        }
      });
    }
    kit::OnReset([this] {
      for (PortExtra& x : extra) {
        x.display = nullptr;
        x.decode = nullptr;
        x.fast = 0;
      }
      soundPort = -1;
      gate.Release();
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
      std::vector<std::uint8_t> yv12 = ToYv12(pic);
      const std::size_t reported = size > 0 ? static_cast<std::size_t>(size) : yv12.size();
      HyFrameInfo info = InfoOf(pic);
      return kit::CallWithGuard(yv12, reported, [&](std::uint8_t* buffer, std::size_t bytes) {
        cb(static_cast<LONG>(port), reinterpret_cast<char*>(buffer), static_cast<LONG>(bytes), &info, 0, 0);
      });
    });
    kit::OnFire("display", [this](std::int64_t port, std::int64_t, std::int64_t) -> std::int64_t {
      kit::Player* p = players.Get(port);
      kit::Picture pic;
      if (p == nullptr || !p->LastPicture(pic)) return -1;
      DisplayCallBack cb = extra[port].display.load();
      if (cb == nullptr) return -1;
      std::vector<std::uint8_t> yv12 = ToYv12(pic);
      cb(static_cast<LONG>(port), reinterpret_cast<char*>(yv12.data()), static_cast<LONG>(yv12.size()), pic.width,
         pic.height, static_cast<LONG>(pic.stampMs), kPictureTypeYv12, 0);
      return 0;
    });
    kit::OnFire("release", [this](std::int64_t, std::int64_t, std::int64_t) -> std::int64_t {
      gate.Release();
      return 0;
    });
    kit::InstallPlayerQueries(players);
    auto q = [this](const char* name, std::function<std::int64_t(kit::Player&, PortExtra&)> f) {
      kit::OnQuery(name, [this, f](std::int64_t port) -> std::int64_t {
        kit::Player* p = players.Get(port);
        return p ? f(*p, extra[port]) : -1;
      });
    };
    q("fast", [](kit::Player&, PortExtra& x) { return static_cast<std::int64_t>(x.fast.load()); });
    q("deccallback", [](kit::Player&, PortExtra& x) { return x.decode.load() ? 1 : 0; });
    q("displaycallback", [](kit::Player&, PortExtra& x) { return x.display.load() ? 1 : 0; });
    kit::OnQuery("held", [this](std::int64_t) -> std::int64_t { return gate.Held(); });
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

STANDIN_EXPORT BOOL ZORV_STDCALL MP4Play_OpenStream(LONG port, std::uint8_t* head, DWORD headSize, DWORD bufferSize) {
  STANDIN_ENTER(BOOL, "MP4Play_OpenStream", port, head, headSize, bufferSize);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || head == nullptr || headSize == 0 || bufferSize == 0) return 0;
  if (!p->OpenStream(head, headSize, bufferSize)) return 0;
  Lib().extra[port].fast = 0;
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL MP4Play_SetDisplayCallBack(LONG port, DisplayCallBack callBack) {
  STANDIN_ENTER(BOOL, "MP4Play_SetDisplayCallBack", port, callBack);
  if (PlayerOf(port) == nullptr) return 0;
  Lib().extra[port].display = callBack;
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL MP4Play_SetDecCallBack(LONG port, DecCallBack callBack) {
  STANDIN_ENTER(BOOL, "MP4Play_SetDecCallBack", port, callBack);
  if (PlayerOf(port) == nullptr) return 0;
  Lib().extra[port].decode = callBack;
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL MP4Play_Play(LONG port, DWORD wnd) {
  STANDIN_ENTER(BOOL, "MP4Play_Play", port, wnd);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Play(wnd));
}

STANDIN_EXPORT BOOL ZORV_STDCALL MP4Play_Fast(LONG port) {
  STANDIN_ENTER(BOOL, "MP4Play_Fast", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->Fast()) return 0;
  ++Lib().extra[port].fast;
  return 1;
}

// Refuses data the source buffer cannot take (and, with "input.hold", once the test lets go).
STANDIN_EXPORT BOOL ZORV_STDCALL MP4Play_InputData(LONG port, std::uint8_t* data, DWORD size) {
  STANDIN_ENTER(BOOL, "MP4Play_InputData", port, data, size);
  if (kit::Option("input.hold", 0) != 0) {
    Lib().gate.Hold();
    return 0;
  }
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && data != nullptr && p->Input(data, size));
}

STANDIN_EXPORT BOOL ZORV_STDCALL MP4Play_Stop(LONG port) {
  STANDIN_ENTER(BOOL, "MP4Play_Stop", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Stop());
}

STANDIN_EXPORT BOOL ZORV_STDCALL MP4Play_CloseStream(LONG port) {
  STANDIN_ENTER(BOOL, "MP4Play_CloseStream", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->IsOpen()) return 0;
  p->Close();
  int expected = port;
  Lib().soundPort.compare_exchange_strong(expected, -1);
  return 1;
}

#ifndef STANDIN_WITHOUT_MP4Play_ResetSourceBuffer
STANDIN_EXPORT BOOL ZORV_STDCALL MP4Play_ResetSourceBuffer(LONG port) {
  STANDIN_ENTER(BOOL, "MP4Play_ResetSourceBuffer", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->IsOpen()) return 0;
  p->ResetBuffer();
  return 1;
}
#endif

// One port plays sound at a time: switching it on for a port switches it off for the other.
STANDIN_EXPORT BOOL ZORV_STDCALL MP4Play_PlaySound(LONG port) {
  STANDIN_ENTER(BOOL, "MP4Play_PlaySound", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->IsOpen()) return 0;
  const int previous = Lib().soundPort.exchange(port);
  if (previous >= 0 && previous != port) PlayerOf(previous)->SetSound(false);
  p->SetSound(true);
  return 1;
}

STANDIN_EXPORT BOOL ZORV_STDCALL MP4Play_StopSound() {
  STANDIN_ENTER(BOOL, "MP4Play_StopSound");
  const int previous = Lib().soundPort.exchange(-1);
  if (previous >= 0) PlayerOf(previous)->SetSound(false);
  return 1;
}

// Writes a picture of this library (Y, V, U planes) as a 24-bit BMP file.
STANDIN_EXPORT BOOL ZORV_STDCALL MP4Play_ConvertToBmpFile(char* buffer, LONG size, LONG width, LONG height, LONG type,
                                                          char* fileName) {
  STANDIN_ENTER(BOOL, "MP4Play_ConvertToBmpFile", buffer, size, width, height, type, kit::Str(fileName));
  if (buffer == nullptr || fileName == nullptr || type != kPictureTypeYv12 || !zrv::ValidDimensions(width, height) ||
      size < 0 || static_cast<std::size_t>(size) < zrv::PictureBytes(width, height))
    return 0;
  kit::Picture pic;
  pic.width = width;
  pic.height = height;
  pic.yuv.assign(buffer, buffer + zrv::PictureBytes(width, height));
  const std::vector<std::uint8_t> i420 = ToYv12(pic);  // the exchange is its own inverse
  return Result(zrv::WriteBmpFile(fileName, i420.data(), width, height));
}
