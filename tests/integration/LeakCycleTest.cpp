// Whole lifetimes of the library, over and over: initialise, open Hikvision and MPEG-4 channels,
// feed them with callbacks running, take snapshots, close, shut down. After each cycle nothing may
// be left behind: no snapshot temporary file, no module the cycle loaded (the platform loader's
// journal pairs every load with its free), no extra thread, no heap growth across cycles (on
// Win32 also no growth of the address space held, which a 32-bit process runs out of first).
//
// ZORV_LEAK_CYCLES sets the number of cycles (default 100, 40 on Win32). scripts/leaks.sh runs
// 10 000 under LeakSanitizer (an ASan build), which also fails the run on any byte still allocated
// and not reachable at exit.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Mp4Samples.h"
#include "Platform.h"
#include "PrivateTempDir.h"
#include "SnapTempFiles.h"
#include "StandinClient.h"
#include "ZorvDecoder.h"
#include "ZrvStream.h"

#if defined(__linux__)
#include <link.h>
#include <malloc.h>
#elif defined(_WIN32)
#include <windows.h>
#include <tlhelp32.h>
#endif

namespace {

namespace fs = std::filesystem;

const std::string kRoot = std::string(ZORV_TESTROOT) + "/";

int EnvInt(const char* Name, int Default) {
  const char* Text = std::getenv(Name);
  return Text && *Text ? std::atoi(Text) : Default;
}

std::atomic<std::uint64_t> gPictures{0};
void ZORV_STDCALL CountPicture(std::uint32_t, TDecFrameInfo, const std::uint8_t*) { ++gPictures; }

TFrameHead HeadOf(std::uint8_t Group, std::uint32_t Channel, std::uint8_t FrameType, std::uint8_t DvrType,
                  std::size_t Length) {
  TFrameHead H{};
  H.Group = Group;
  H.Channel = Channel;
  H.FrameType = FrameType;
  H.DvrType = DvrType;
  H.DataLen = static_cast<std::uint32_t>(Length);
  H.Wnd = DvrType == 1 ? 0x6100 + Channel : 0;
  return H;
}

// Loads and frees of the platform loader, from its journal: path -> loads minus frees.
std::map<std::string, int> Unpaired(const std::string& Journal) {
  std::map<std::string, int> Open;
  std::istringstream Lines(Journal);
  std::string Word, Path;
  while (Lines >> Word && std::getline(Lines, Path)) {
    if (Word == "load") ++Open[Path];
    if (Word == "free" && --Open[Path] == 0) Open.erase(Path);
  }
  return Open;
}

#if defined(_WIN32)
// Threads of this process, or its modules, as the tool-help snapshot lists them.
int ToolhelpCount(DWORD What) {
  const DWORD Self = GetCurrentProcessId();
  const HANDLE Snap = CreateToolhelp32Snapshot(What, What == TH32CS_SNAPMODULE ? Self : 0);
  if (Snap == INVALID_HANDLE_VALUE) return -1;
  int N = 0;
  if (What == TH32CS_SNAPTHREAD) {
    THREADENTRY32 E{};
    E.dwSize = sizeof E;
    for (BOOL More = Thread32First(Snap, &E); More; More = Thread32Next(Snap, &E)) N += E.th32OwnerProcessID == Self;
  } else {
    MODULEENTRY32 E{};
    E.dwSize = sizeof E;
    for (BOOL More = Module32First(Snap, &E); More; More = Module32Next(Snap, &E)) ++N;
  }
  CloseHandle(Snap);
  return N;
}
#endif

int ThreadCount() {
#if defined(__linux__)
  int N = 0;
  std::error_code Error;
  for (auto It = fs::directory_iterator("/proc/self/task", Error); !Error && It != fs::directory_iterator(); ++It) ++N;
  return N;
#elif defined(_WIN32)
  return ToolhelpCount(TH32CS_SNAPTHREAD);
#else
  return 0;
#endif
}

int LoadedObjects() {
#if defined(__linux__)
  int N = 0;
  dl_iterate_phdr([](dl_phdr_info*, std::size_t, void* Count) { return ++*static_cast<int*>(Count), 0; }, &N);
  return N;
#elif defined(_WIN32)
  return ToolhelpCount(TH32CS_SNAPMODULE);
#else
  return 0;
#endif
}

std::size_t HeapInUse() {
#if defined(__GLIBC__)
  return mallinfo2().uordblks;
#elif defined(_WIN32)
  // Blocks in use in every heap of the process (the C runtime's included).
  HANDLE Heaps[256];
  const DWORD Count = GetProcessHeaps(256, Heaps);
  std::size_t Total = 0;
  for (DWORD i = 0; i < Count && i < 256; ++i) {
    if (!HeapLock(Heaps[i])) continue;
    PROCESS_HEAP_ENTRY E{};
    while (HeapWalk(Heaps[i], &E))
      if (E.wFlags & PROCESS_HEAP_ENTRY_BUSY) Total += E.cbData;
    HeapUnlock(Heaps[i]);
  }
  return Total;
#else
  return 0;
#endif
}

// Thread-local storage slots free in the process: a module that takes one each time it is loaded
// and never gives it back runs the process out of its 1 088 slots after so many loads.
int FreeTlsSlots() {
#if defined(_WIN32)
  std::vector<DWORD> Taken;
  for (DWORD Slot; (Slot = TlsAlloc()) != TLS_OUT_OF_INDEXES;) Taken.push_back(Slot);
  for (DWORD Slot : Taken) TlsFree(Slot);
  return static_cast<int>(Taken.size());
#else
  return 0;
#endif
}

// Address space the process holds (reserved or committed): in a 32-bit process a slow growth
// ends in failed allocations long before memory runs out.
std::size_t AddressSpaceInUse() {
#if defined(_WIN32)
  std::size_t Total = 0;
  MEMORY_BASIC_INFORMATION M{};
  for (const char* At = nullptr; VirtualQuery(At, &M, sizeof M) == sizeof M; At = static_cast<const char*>(M.BaseAddress) + M.RegionSize) {
    if (M.State != MEM_FREE) Total += M.RegionSize;
    if (static_cast<const char*>(M.BaseAddress) + M.RegionSize < At) break;
  }
  return Total;
#else
  return 0;
#endif
}

struct TCycleStreams {
  zrv::SyntheticStream Hik;
  TMp4Sample Mp4;
  bool Ok = false;
  TCycleStreams() {
    zrv::StreamParams P;
    P.width = 64;
    P.height = 48;
    P.audio = true;
    Hik = zrv::MakeSyntheticStream(P, 8);
    Ok = LoadMp4Sample("cif", Mp4) && Mp4.Units.size() > 4;
  }
};

// One lifetime of the library; false when a step did not do what it should.
bool RunCycle(const TCycleStreams& S, int Cycle) {
  bool Ok = Tarn_Decode_Initialize(0, kRoot.c_str(), 1) == 0;
  const std::uint32_t Base = static_cast<std::uint32_t>(Cycle % 90);
  // Two Hikvision channels and one MPEG-4 channel, with callbacks and sound.
  for (std::uint32_t c = 0; c < 2; ++c) {
    const TFrameHead Head = HeadOf(1, Base + c, ZORV_FRAME_FILEHEAD, 1, S.Hik.head.size());
    Tarn_Decode_StartCallBack(Head, CountPicture);
    Ok = Ok && Tarn_Decode_AddFrame(Head, S.Hik.head.data()) == 0;
    Tarn_Decode_PlaySound(Head);
    for (const zrv::Frame& F : S.Hik.frames)
      Ok = Ok && Tarn_Decode_AddFrame(HeadOf(1, Base + c, F.frameType, 1, F.bytes.size()), F.bytes.data()) == 0;
  }
  const TFrameHead Mp4 = HeadOf(2, Base, ZORV_FRAME_FILEHEAD, 13, S.Mp4.Units[0].Length);
  Tarn_Decode_StartCallBack(Mp4, CountPicture);
  Ok = Ok && Tarn_Decode_AddFrame(Mp4, S.Mp4.Data(S.Mp4.Units[0])) == 0;
  for (std::size_t u = 1; u < 4; ++u) {
    const TMp4Unit& U = S.Mp4.Units[u];
    Ok = Ok && Tarn_Decode_AddFrame(HeadOf(2, Base, TMp4Sample::FrameTypeOf(U.Kind), 13, U.Length), S.Mp4.Data(U)) == 0;
  }
  // Snapshots through a temporary file (Hikvision) and from memory (MPEG-4).
  std::vector<std::uint8_t> Buffer(2 << 20);
  std::uint8_t* Out = Buffer.data();
  std::int32_t Size[2] = {0, 0};
  Tarn_Decode_SnapPicture(HeadOf(1, Base, ZORV_FRAME_P, 1, 0), Size, &Out);
  Tarn_Decode_SnapPicture(HeadOf(2, Base, ZORV_FRAME_P, 13, 0), Size, &Out);
  for (std::uint32_t c = 0; c < 2; ++c) Ok = Ok && Tarn_Decode_CloseOneChannel(HeadOf(1, Base + c, ZORV_FRAME_P, 1, 0)) == 0;
  Ok = Ok && Tarn_Decode_CloseOneChannel(HeadOf(2, Base, ZORV_FRAME_P, 13, 0)) == 0;
  Tarn_Decode_ShutDown();
  return Ok;
}

TEST(LeakCycles, NothingLeftBehindAfterManyLifetimes) {
#if defined(_WIN32)
  const int Cycles = EnvInt("ZORV_LEAK_CYCLES", 40);  // a lifetime costs about 0.25 s under Wine
#else
  const int Cycles = EnvInt("ZORV_LEAK_CYCLES", 100);
#endif
  const double Scale = Win::Test::SleepScale();
  Win::Test::SetSleepScale(0);
  const TPrivateTempDir Temp;  // snapshot files of this test only, apart from other programs'
  TCycleStreams Streams;
  ASSERT_TRUE(Streams.Ok);
  // The stand-in's call journal grows with every call (up to its limit): emptied each cycle, so
  // that only the library's own memory counts.
  StandinClient Hik(kRoot + "PlayDll/HIK/HikPlayM4.dll");
  ASSERT_TRUE(Hik.Loaded());
  Hik.Reset();
  // The first lifetime loads what stays for the process (the runtime's own allocations, the
  // codec tables); the figures after it are the baseline.
  ASSERT_TRUE(RunCycle(Streams, 0));
  Hik.ClearJournal();
  const int Threads0 = ThreadCount(), Objects0 = LoadedObjects();
  const std::size_t Heap0 = HeapInUse(), Space0 = AddressSpaceInUse();
  const int Tls0 = FreeTlsSlots();
  Win::Test::RecordLoaderCalls(true);
  int Failed = 0;
  for (int Cycle = 1; Cycle < Cycles; ++Cycle) {
    if (!RunCycle(Streams, Cycle)) ++Failed;
    Hik.ClearJournal();
    const std::map<std::string, int> Open = Unpaired(Win::Test::TakeLoaderCalls());
    if (!Open.empty()) {
      ADD_FAILURE() << "cycle " << Cycle << " left " << Open.begin()->first << " loaded " << Open.begin()->second
                    << " time(s)";
      break;
    }
    if (!SnapTempFiles().empty()) {
      ADD_FAILURE() << "cycle " << Cycle << " left snapshot file " << *SnapTempFiles().begin();
      break;
    }
  }
  Win::Test::RecordLoaderCalls(false);
  EXPECT_EQ(Failed, 0) << "cycles in which an open, a frame or a close failed";
  EXPECT_GT(gPictures, 0u) << "no callback ran: the cycles prove little";
  EXPECT_EQ(ThreadCount(), Threads0) << "threads left behind";
  EXPECT_EQ(LoadedObjects(), Objects0) << "modules left loaded";
  std::printf("leak cycles: %d, heap %+lld bytes, address space %+lld bytes, threads %d -> %d, modules %d -> %d, "
              "free TLS slots %d -> %d\n",
              Cycles, static_cast<long long>(HeapInUse()) - static_cast<long long>(Heap0),
              static_cast<long long>(AddressSpaceInUse()) - static_cast<long long>(Space0), Threads0, ThreadCount(),
              Objects0, LoadedObjects(), Tls0, FreeTlsSlots());
  EXPECT_EQ(FreeTlsSlots(), Tls0) << "thread-local storage slots taken and never given back";
#if (defined(__GLIBC__) || defined(_WIN32)) && !defined(__SANITIZE_ADDRESS__)
  // Some slack for caches that fill once; over many cycles a leak of one small block a cycle shows.
  const long long Growth = static_cast<long long>(HeapInUse()) - static_cast<long long>(Heap0);
  EXPECT_LT(Growth, 64 * 1024) << "heap grew by " << Growth << " bytes over " << Cycles << " cycles";
#endif
#if defined(_WIN32)
  const long long Space = static_cast<long long>(AddressSpaceInUse()) - static_cast<long long>(Space0);
  EXPECT_LT(Space, 4 << 20) << "address space grew by " << Space << " bytes over " << Cycles << " cycles";
#endif
  (void)Space0;
  EXPECT_TRUE(SnapTempFiles().empty());
  Win::Test::SetSleepScale(Scale);
}

}  // namespace
