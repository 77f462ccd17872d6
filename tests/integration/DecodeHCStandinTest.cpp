// The stand-in HikPlayM4.dll on its own: the player core decodes ZRV streams, calls the
// registered callbacks with real pictures, writes BMP files and plays files.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "Platform.h"
#include "StandinClient.h"
#include "ZorvDecoder.h"
#include "ZrvStream.h"

namespace {

using BOOL = std::int32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;
struct FrameInfo {
  LONG width, height, stamp, type, rate, num;
};
using DecCb = void(ZORV_STDCALL*)(LONG, char*, LONG, FrameInfo*, LONG, LONG);
using OpenStreamFn = BOOL(ZORV_STDCALL*)(LONG, std::uint8_t*, DWORD, DWORD);
using PortFn = BOOL(ZORV_STDCALL*)(LONG);
using PlayFn = BOOL(ZORV_STDCALL*)(LONG, DWORD);
using InputFn = BOOL(ZORV_STDCALL*)(LONG, std::uint8_t*, DWORD);
using SetDecFn = BOOL(ZORV_STDCALL*)(LONG, DecCb);
using BmpFn = BOOL(ZORV_STDCALL*)(char*, LONG, LONG, LONG, LONG, char*);
using OpenFileFn = BOOL(ZORV_STDCALL*)(LONG, char*);
using CountFn = DWORD(ZORV_STDCALL*)(LONG);

const std::string kHikPath = std::string(ZORV_TESTROOT) + "/PlayDll/HIK/HikPlayM4.dll";

std::mutex gMutex;
int gPictures = 0;
int gBadPictures = 0;
LONG gWidth = 0;

void ZORV_STDCALL OnDecoded(LONG, char* buffer, LONG size, FrameInfo* info, LONG, LONG) {
  std::lock_guard<std::mutex> lock(gMutex);
  ++gPictures;
  gWidth = info->width;
  if (buffer == nullptr || size != info->width * info->height * 3 / 2) ++gBadPictures;
}

template <typename F>
F Entry(void* module, const char* name) {
  return reinterpret_cast<F>(Win::GetProcAddress(module, name));
}

bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  for (int i = 0; i < ms; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

class HikStandin : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client.Loaded()) << kHikPath;
    client.Reset();
    module = Win::LoadLibraryA(kHikPath.c_str());
    ASSERT_NE(module, nullptr);
    std::lock_guard<std::mutex> lock(gMutex);
    gPictures = gBadPictures = 0;
  }
  void TearDown() override {
    client.Reset();
    if (module) Win::FreeLibrary(module);
  }
  StandinClient client{kHikPath};
  void* module = nullptr;
};

TEST_F(HikStandin, DecodesAFedStreamIntoTheDecodeCallback) {
  zrv::StreamParams p;
  p.width = 64;
  p.height = 48;
  p.audio = true;
  zrv::SyntheticStream s = zrv::MakeSyntheticStream(p, 6);
  ASSERT_TRUE(Entry<OpenStreamFn>(module, "Hik_PlayM4_OpenStream")(7, s.head.data(), 40, 1 << 20));
  EXPECT_EQ(client.Query("hasaudio", 7), 1);
  ASSERT_TRUE(Entry<SetDecFn>(module, "Hik_PlayM4_SetDecCallBack")(7, OnDecoded));
  // Input before Play is buffered; decoding starts with Play.
  for (auto& f : s.frames) ASSERT_TRUE(Entry<InputFn>(module, "Hik_PlayM4_InputData")(7, f.bytes.data(), f.bytes.size()));
  EXPECT_EQ(client.Query("decoded", 7), 0);
  ASSERT_TRUE(Entry<PlayFn>(module, "Hik_PlayM4_Play")(7, 0));
  ASSERT_TRUE(WaitFor([&] { return client.Query("decoded", 7) == 6; }));
  ASSERT_TRUE(Entry<PortFn>(module, "Hik_PlayM4_Stop")(7));
  {
    std::lock_guard<std::mutex> lock(gMutex);
    EXPECT_EQ(gPictures, 6);
    EXPECT_EQ(gBadPictures, 0);
    EXPECT_EQ(gWidth, 64);
  }
  EXPECT_EQ(client.Query("audio", 7), 6);
  EXPECT_EQ(client.Query("audioplayed", 7), 0);  // sound was never switched on
  EXPECT_TRUE(Entry<PortFn>(module, "Hik_PlayM4_CloseStream")(7));
  EXPECT_EQ(client.Query("open", 7), 0);
  std::vector<std::string> calls = client.Calls("Hik_PlayM4_OpenStream(");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], "Hik_PlayM4_OpenStream(7,ptr,40,1048576)");
}

TEST_F(HikStandin, ScriptsOverrideResultsAndBadPortsFail) {
  auto stop = Entry<PortFn>(module, "Hik_PlayM4_Fast");
  EXPECT_FALSE(stop(3));    // not open
  EXPECT_FALSE(stop(500));  // no such port
  EXPECT_FALSE(stop(-1));
  client.Return("Hik_PlayM4_Fast", 1, 1);
  EXPECT_TRUE(stop(3));
  EXPECT_FALSE(stop(3));  // the script was for one call
  EXPECT_EQ(client.Count("Hik_PlayM4_Fast("), 5);
#ifndef _WIN32  // on Win32 the stand-in raises a structured exception instead
  client.Throw("Hik_PlayM4_Fast");
  EXPECT_THROW(stop(3), std::exception);
#endif
}

TEST_F(HikStandin, ConvertToBmpFileWritesARealBmpAndRefusesShortBuffers) {
  std::vector<std::uint8_t> yuv(zrv::PictureBytes(32, 16));
  zrv::DrawPattern(yuv.data(), 32, 16, 1);
  char dir[260];
  Win::GetTempPathA(sizeof dir, dir);
  std::string path = std::string(dir) + "zorv_hik_standin.bmp";
  auto convert = Entry<BmpFn>(module, "Hik_PLayM4_ConvertToBmpFile");
  ASSERT_TRUE(convert(reinterpret_cast<char*>(yuv.data()), static_cast<LONG>(yuv.size()), 32, 16, 3, path.data()));
  std::vector<std::uint8_t> bmp;
  ASSERT_TRUE(zrv::ReadFile(path, bmp));
  EXPECT_EQ(bmp, zrv::MakeBmp(yuv.data(), 32, 16));
  EXPECT_FALSE(convert(reinterpret_cast<char*>(yuv.data()), static_cast<LONG>(yuv.size()) - 1, 32, 16, 3, path.data()));
  EXPECT_FALSE(convert(reinterpret_cast<char*>(yuv.data()), static_cast<LONG>(yuv.size()), 64, 16, 3, path.data()));
  std::remove(zrv::NativePath(path).c_str());
}

TEST_F(HikStandin, PlaysAFileWithPositionAndFrameCounts) {
  zrv::StreamParams p;
  p.width = 32;
  p.height = 32;
  zrv::SyntheticStream s = zrv::MakeSyntheticStream(p, 10);
  char dir[260];
  Win::GetTempPathA(sizeof dir, dir);
  std::string path = std::string(dir) + "zorv_hik_standin.zrv";
  ASSERT_TRUE(zrv::WriteFile(path, s.FileBytes()));
  client.SetOption("player.filepace", 0);
  ASSERT_TRUE(Entry<OpenFileFn>(module, "Hik_PlayM4_OpenFile")(2, path.data()));
  EXPECT_EQ(Entry<CountFn>(module, "Hik_PlayM4_GetFileTotalFrames")(2), 10u);
  ASSERT_TRUE(Entry<PlayFn>(module, "Hik_PlayM4_Play")(2, 0));
  ASSERT_TRUE(WaitFor([&] { return client.Query("decoded", 2) == 10; }));
  EXPECT_EQ(Entry<CountFn>(module, "Hik_PlayM4_GetCurrentFrameNum")(2), 10u);
  using GetPosFn = float(ZORV_STDCALL*)(LONG);
  EXPECT_FLOAT_EQ(Entry<GetPosFn>(module, "Hik_PlayM4_GetPlayPos")(2), 1.0f);
  using SetPosFn = BOOL(ZORV_STDCALL*)(LONG, double);
  ASSERT_TRUE(Entry<PortFn>(module, "Hik_PlayM4_Pause") != nullptr);
  ASSERT_TRUE(Entry<SetPosFn>(module, "Hik_PlayM4_SetPlayPos")(2, 0.5));
  ASSERT_TRUE(WaitFor([&] { return client.Query("decoded", 2) == 15; }));
  EXPECT_TRUE(Entry<PortFn>(module, "Hik_PlayM4_CloseFile")(2));
  std::remove(zrv::NativePath(path).c_str());
}

}  // namespace
