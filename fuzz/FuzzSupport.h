// What the fuzz targets share: a reader over the fuzzer's bytes, the one-time set-up of a
// process that drives the library (no pauses, no mode file, the stand-in vendor libraries of
// the build's test tree), host callbacks that read every byte they are given, and the checks a
// target makes of a snapshot.
//
// A check that fails calls FuzzFail, which prints the reason and aborts, so libFuzzer keeps the
// input as a finding and the replay driver stops with a failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ZorvDecoder.h"

// Consumes the input front to back; reads past the end give zeros.
class TFuzzInput {
 public:
  TFuzzInput(const std::uint8_t* Data, std::size_t Size) : FData(Data), FSize(Size) {}
  bool Empty() const { return FPos >= FSize; }
  std::size_t Remaining() const { return FSize - FPos; }
  std::uint8_t U8();
  std::uint16_t U16();
  std::uint32_t U32();
  // Up to Count bytes (fewer at the end of the input); returns how many were copied.
  std::size_t Bytes(void* Out, std::size_t Count);
  // Count bytes as a vector of exactly that size (the missing tail zero).
  std::vector<std::uint8_t> Take(std::size_t Count);

 private:
  const std::uint8_t* FData;
  std::size_t FSize;
  std::size_t FPos = 0;
};

[[noreturn]] void FuzzFail(const char* What, long long A = 0, long long B = 0);
#define FUZZ_CHECK(Cond, ...) \
  do {                        \
    if (!(Cond)) FuzzFail("check failed: " #Cond __VA_OPT__(, ) __VA_ARGS__); \
  } while (0)

// Once per process: sleeps cost nothing (the fixed pauses are still asked for), the mode file
// is looked for in an empty drive root, and debug output goes nowhere.
void FuzzProcessSetUp();
// The client directory with the stand-in vendor libraries (ends in a separator).
std::string FuzzLibDir();
// A path in the system temporary directory for this process (snapshot files of the targets).
std::string FuzzTempPath(const char* Name);

// Host decode callbacks: read every byte of the picture they are handed and check what the
// record says of it.
void ZORV_STDCALL FuzzHostCallBack(std::uint32_t Channel, TDecFrameInfo Info, const std::uint8_t* Picture);
void ZORV_STDCALL FuzzPlayM4CallBack(std::int32_t Channel, const std::uint8_t* Buffer, std::int32_t Size,
                                     const void* FrameInfo, std::int32_t Reserved1, std::int32_t Reserved2);
std::uint64_t FuzzPicturesSeen();

// The caller's snapshot memory: room for the largest picture any stand-in makes (4096 x 4096).
constexpr std::size_t FuzzSnapBytes = 54 + 4096u * 4096u * 3u;
std::uint8_t* FuzzSnapBuffer();
// Takes a snapshot of the head's channel through Tarn_Decode_SnapPicture and checks the result:
// -1, or a BMP image of the size it reports that fits the caller's memory.
std::int32_t FuzzSnapAndCheck(const TFrameHead& Head);

// DVR types with an adapter after normalisation, and a few without one.
std::uint8_t FuzzDvrType(std::uint8_t Selector);

// Frees every player entry still taken (closing its channel through the exports) and checks
// that every adapter's player table and channel map are empty afterwards.
void FuzzCloseEverything();
