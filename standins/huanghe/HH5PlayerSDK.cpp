// Stand-in HH5PlayerSDK.dll: the HuangHe player library as the HuangHe adapter drives it.
//
// 500 ports (0..499), each a kit::Player over the ZRV stream format. A port is prepared with its
// window (HH5PLAYER_InitPlayer), opened for stream data (HH5PLAYER_OpenStream: it plays into the
// window at once) and fed whole packets (HH5PLAYER_PutDecStreamData). Files play through
// HH5PLAYER_OpenStreamFileM with the play controls. Results: 0 = success, -1 = failure.
//
// One YUV callback serves every port (HH5PLAYER_RegYUVDataCallBack): port, Y, U, V planes of the
// decoded picture (each exactly its own size, width x height and twice width/2 x height/2), and
// the picture size packed as width | height << 16.
// HH5PLAYER_CaptureOnePicture hands out the port's last picture as a BMP image in memory that
// stays valid until the port's next capture.
// GetVolume, SetVolume and RegYUVDataCallBack carry their decorated names ("_Name@8") on Win32.
//
// Test hooks (Standin_Query; the player queries of StandinPictures.h also apply):
//   query "volume" (port): the last volume set; "yuvcallback" (any port): 1 while a YUV callback
//   is registered; "initwnd" (port): the window given to HH5PLAYER_InitPlayer; "yuvcalls" (any
//   port): YUV callback calls so far.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "StandinKit.h"
#include "StandinPictures.h"
#include "StandinPlayer.h"

namespace {

using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using RESULT = std::int32_t;

constexpr int kPorts = 500;
constexpr std::size_t kStreamBuffer = 8 * 1024 * 1024;

using YUVDataCallBack = void(ZORV_STDCALL*)(DWORD port, const std::uint8_t* y, const std::uint8_t* u,
                                            const std::uint8_t* v, DWORD pictureSize);

struct PortExtra {
  std::atomic<DWORD> wnd{0};
  std::atomic<int> volume{0};
  std::mutex captureLock;
  std::vector<std::uint8_t> capture;  // the last captured BMP image
};

struct Library {
  kit::PlayerTable players{kPorts};
  PortExtra extra[kPorts];
  std::atomic<YUVDataCallBack> yuv{nullptr};
  std::atomic<std::int64_t> yuvCalls{0};

  Library() {
    for (int port = 0; port < kPorts; ++port) {
      players.Get(port)->SetDecodedHook([this, port](const kit::Picture& pic) {
        YUVDataCallBack cb = yuv.load();
        if (cb == nullptr) return;
        // Each plane in a buffer of its own size.
        const std::size_t luma = static_cast<std::size_t>(pic.width) * pic.height;
        const std::size_t chroma = static_cast<std::size_t>(pic.width / 2) * (pic.height / 2);
        if (pic.yuv.size() < luma + 2 * chroma) return;
        std::vector<std::uint8_t> y(pic.yuv.begin(), pic.yuv.begin() + luma);
        std::vector<std::uint8_t> u(pic.yuv.begin() + luma, pic.yuv.begin() + luma + chroma);
        std::vector<std::uint8_t> v(pic.yuv.begin() + luma + chroma, pic.yuv.begin() + luma + 2 * chroma);
        ++yuvCalls;
        cb(static_cast<DWORD>(port), y.data(), u.data(), v.data(),
           static_cast<DWORD>(pic.width) | (static_cast<DWORD>(pic.height) << 16));
      });
    }
    kit::OnReset([this] {
      for (PortExtra& x : extra) {
        x.wnd = 0;
        x.volume = 0;
      }
      yuv = nullptr;
      yuvCalls = 0;
    });
    kit::InstallPlayerQueries(players);
    kit::OnQuery("volume", [this](std::int64_t port) -> std::int64_t {
      return port >= 0 && port < kPorts ? extra[port].volume.load() : -1;
    });
    kit::OnQuery("initwnd", [this](std::int64_t port) -> std::int64_t {
      return port >= 0 && port < kPorts ? extra[port].wnd.load() : -1;
    });
    kit::OnQuery("yuvcallback", [this](std::int64_t) -> std::int64_t { return yuv.load() ? 1 : 0; });
    kit::OnQuery("yuvcalls", [this](std::int64_t) -> std::int64_t { return yuvCalls.load(); });
  }
};

Library& Lib() {
  static Library* lib = new Library;  // lives as long as the process: player threads use it
  return *lib;
}

const kit::Hooks installed([] { Lib(); });

kit::Player* PlayerOf(WORD port) { return Lib().players.Get(port); }
RESULT Result(bool ok) { return ok ? 0 : -1; }

}  // namespace

// Entry points with decorated names on Win32: the symbol "__Name@N@N" exported as "_Name@N@N",
// which --kill-at trims to "_Name@N". Elsewhere the plain name (the loader falls back to it).
#if defined(_WIN32)
#define HH_DECORATED(Ret, Name, Bytes, Params)                                                        \
  extern "C" Ret ZORV_STDCALL Name Params __asm__("__" #Name "@" #Bytes "@" #Bytes);                  \
  __asm__(".section .drectve\n.ascii \" -export:\\\"_" #Name "@" #Bytes "@" #Bytes "\\\"\"\n.text\n"); \
  extern "C" Ret ZORV_STDCALL Name Params
#else
#define HH_DECORATED(Ret, Name, Bytes, Params) STANDIN_EXPORT Ret ZORV_STDCALL Name Params
#endif

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_InitSDK(std::int32_t param) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_InitSDK", param);
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_ReleaseSDK() {
  STANDIN_ENTER(RESULT, "HH5PLAYER_ReleaseSDK");
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_InitPlayer(WORD port, DWORD wnd) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_InitPlayer", port, wnd);
  if (PlayerOf(port) == nullptr) return -1;
  Lib().extra[port].wnd = wnd;
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_ReleasePlayer(WORD port) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_ReleasePlayer", port);
  if (PlayerOf(port) == nullptr) return -1;
  Lib().extra[port].wnd = 0;
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_OpenStream(WORD port) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_OpenStream", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->OpenStream(nullptr, 0, kStreamBuffer)) return -1;
  return Result(p->Play(Lib().extra[port].wnd));
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_PutDecStreamData(WORD port, const std::uint8_t* data, DWORD size,
                                                              std::int32_t param) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_PutDecStreamData", port, data, size, param);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && data != nullptr && p->Input(data, size));
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_StopStream(WORD port) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_StopStream", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Stop());
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_CloseStream(WORD port) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_CloseStream", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr) return -1;
  p->Close();
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_ClearAllBuffer(WORD port) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_ClearAllBuffer", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr) return -1;
  p->ResetBuffer();
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_SetAudio(WORD port, std::int32_t on) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_SetAudio", port, on);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr) return -1;
  p->SetSound(on != 0);
  return 0;
}

HH_DECORATED(RESULT, HH5PLAYER_SetVolume, 8, (WORD port, WORD volume)) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_SetVolume", port, volume);
  if (PlayerOf(port) == nullptr) return -1;
  Lib().extra[port].volume = volume;
  return 0;
}

HH_DECORATED(RESULT, HH5PLAYER_GetVolume, 8, (WORD port, WORD* volume)) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_GetVolume", port, volume);
  if (PlayerOf(port) == nullptr || volume == nullptr) return -1;
  *volume = static_cast<WORD>(Lib().extra[port].volume.load());
  return 0;
}

HH_DECORATED(RESULT, HH5PLAYER_RegYUVDataCallBack, 8, (YUVDataCallBack callBack, std::int32_t mode)) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_RegYUVDataCallBack", callBack, mode);
  Lib().yuv = callBack;
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_CaptureOnePicture(WORD port, std::uint8_t** data, DWORD* size) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_CaptureOnePicture", port, data, size);
  kit::Player* p = PlayerOf(port);
  kit::Picture pic;
  if (p == nullptr || data == nullptr || size == nullptr || !p->LastPicture(pic)) return -1;
  PortExtra& x = Lib().extra[port];
  std::lock_guard<std::mutex> hold(x.captureLock);
  x.capture = zrv::MakeBmp(pic.yuv.data(), pic.width, pic.height);
  *data = x.capture.data();
  *size = static_cast<DWORD>(x.capture.size());
  return 0;
}

// ---- file playback ---------------------------------------------------------------------------------

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_OpenStreamFileM(WORD port, const char* fileName, std::int32_t mode,
                                                             DWORD* frames) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_OpenStreamFileM", port, kit::Str(fileName), mode, frames);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || fileName == nullptr || !p->OpenFile(fileName)) return -1;
  if (frames != nullptr) *frames = p->TotalFrames();
  return Result(p->Play(Lib().extra[port].wnd));
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_GetStreamFileInfo(WORD port, DWORD* seconds, DWORD* frames, DWORD* width,
                                                               DWORD* height) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_GetStreamFileInfo", port, seconds, frames, width, height);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->IsFile()) return -1;
  const zrv::StreamParams params = p->Params();
  if (seconds) *seconds = p->FileTimeSeconds();
  if (frames) *frames = p->TotalFrames();
  if (width) *width = static_cast<DWORD>(params.width);
  if (height) *height = static_cast<DWORD>(params.height);
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_Stop(WORD port) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_Stop", port);
  kit::Player* p = PlayerOf(port);
  if (p == nullptr || !p->IsFile()) return -1;
  p->Close();
  return 0;
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_Pause(WORD port) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_Pause", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Pause(true));
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_Resume(WORD port) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_Resume", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Pause(false));
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_FastPlay(WORD port, std::int32_t times) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_FastPlay", port, times);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->Fast());
}

STANDIN_EXPORT RESULT ZORV_STDCALL HH5PLAYER_FrameGO(WORD port) {
  STANDIN_ENTER(RESULT, "HH5PLAYER_FrameGO", port);
  kit::Player* p = PlayerOf(port);
  return Result(p != nullptr && p->OneByOne());
}

// Entry points the adapter binds but never calls: journalled, they do nothing.
#define HH_IDLE_ENTRY(Name)                              \
  STANDIN_EXPORT RESULT ZORV_STDCALL Name(WORD port) {   \
    STANDIN_ENTER(RESULT, #Name, port);                  \
    return 0;                                            \
  }
HH_IDLE_ENTRY(HH5PLAYER_Play)
HH_IDLE_ENTRY(HH5PLAYER_FastPlayBack)
HH_IDLE_ENTRY(HH5PLAYER_FrameBack)
HH_IDLE_ENTRY(HH5PLAYER_GetPlayPosition)
HH_IDLE_ENTRY(HH5PLAYER_SetPlayPosition)
HH_IDLE_ENTRY(HH5PLAYER_SeekToSecond)
HH_IDLE_ENTRY(HH5PLAYER_SetPlayLoop)
HH_IDLE_ENTRY(HH5PLAYER_RegPlayStatusMsg)
HH_IDLE_ENTRY(HH5PLAYER_PutDecStreamDataEx)
HH_IDLE_ENTRY(HH5PLAYER_GetStreamFrameSize)
HH_IDLE_ENTRY(HH5PLAYER_GetAudioFrameSize)
HH_IDLE_ENTRY(HH5PLAYER_SetStreamPlaySpeed)
HH_IDLE_ENTRY(HH5PLAYER_GetStreamPlaySpeed)
HH_IDLE_ENTRY(HH5PLAYER_UpDateImage)
HH_IDLE_ENTRY(HH5PLAYER_UpdateBounds)
HH_IDLE_ENTRY(HH5PLAYER_SetDisplayhWnd)
HH_IDLE_ENTRY(HH5PLAYER_SetDecoderQulity)
HH_IDLE_ENTRY(HH5PLAYER_SetDecoderParam)
HH_IDLE_ENTRY(HH5PLAYER_ClearVideoBuffer)
HH_IDLE_ENTRY(HH5PLAYER_ClearAudioBuffer)
HH_IDLE_ENTRY(HH5PLAYER_AudioEncodeData)
HH_IDLE_ENTRY(HH5PLAYER_AudioDecodeData)
HH_IDLE_ENTRY(HH5PLAYER_G726AEncodeData)
HH_IDLE_ENTRY(HH5PLAYER_G726ADecodeData)
