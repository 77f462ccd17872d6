// Vendor libraries that misbehave, seen through the exports: a library that is missing (and
// appears later), entry points that are missing, calls that fail once or refuse forever, calls
// that hang for seconds, calls that throw, and on Win32 an access violation inside a guarded call.
// The host always gets a clear result, no player entry or vendor port is lost, and the other
// channels keep working. The adapters' own fault tests (DecodeHCTest, DecodeHYTest, ...) cover
// each adapter's texts; this suite covers what the engine and the guards add around them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csetjmp>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Platform.h"
#include "StandinClient.h"
#include "U_DecodeEngine.h"
#include "ZorvDecoder.h"
#include "ZrvStream.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

const std::string kRoot = std::string(ZORV_TESTROOT) + "/";
const std::string kNoResetRoot = std::string(ZORV_TESTROOT) + "-hik-noreset/";
const char* const kHikFile = "PlayDll/HIK/HikPlayM4.dll";
const char* const kHyFile = "PlayDll/HY/HIE_MP4Play.dll";

class VendorFault : public testing::Test {
 protected:
  void SetUp() override {
    zrv::StreamParams P;
    P.width = 64;
    P.height = 48;
    Stream = zrv::MakeSyntheticStream(P, 10);
    Win::Test::CaptureDebugOutput(true);
    Win::Test::TakeDebugOutput();
  }
  void TearDown() override {
    Tarn_Decode_ShutDown();
    for (StandinClient* Client : {&Hik, &Hy})
      if (Client->Loaded()) Client->Reset();
    Win::Test::CaptureDebugOutput(false);
    Win::Test::SetSleepScale(0.01);
  }
  void Init(const std::string& Root = kRoot) {
    ASSERT_EQ(Tarn_Decode_Initialize(0, Root.c_str(), 1), 0);
    for (StandinClient* Client : {&Hik, &Hy}) {
      ASSERT_TRUE(Client->Loaded());
      Client->Reset();
    }
  }
  static TFrameHead Head(std::uint32_t Channel, std::uint8_t FrameType = ZORV_FRAME_P, std::size_t Length = 0,
                         std::uint8_t DvrType = 1) {
    TFrameHead H{};
    H.Group = 2;
    H.Channel = Channel;
    H.Wnd = 0x7700 + Channel;
    H.FrameType = FrameType;
    H.DvrType = DvrType;
    H.DataLen = static_cast<std::uint32_t>(Length);
    return H;
  }
  std::int32_t Open(std::uint32_t Channel, std::uint8_t DvrType = 1) {
    return Tarn_Decode_AddFrame(Head(Channel, ZORV_FRAME_FILEHEAD, Stream.head.size(), DvrType), Stream.head.data());
  }
  std::int32_t Feed(std::uint32_t Channel, std::size_t N = 0, std::uint8_t DvrType = 1) {
    const zrv::Frame& F = Stream.frames[N % Stream.frames.size()];
    return Tarn_Decode_AddFrame(Head(Channel, F.frameType, F.bytes.size(), DvrType), F.bytes.data());
  }
  static int TakenEntries(int DvrType) {
    int Taken = 0;
    for (int i = 0; i < PlayerCount; ++i) Taken += DecodeEngine()->Decoder(DvrType)->PlayerAt(i).Port != -1;
    return Taken;
  }
  static int Occurrences(const std::string& Text, const std::string& Part) {
    int N = 0;
    for (std::size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1)) ++N;
    return N;
  }

  zrv::SyntheticStream Stream;
  StandinClient Hik{kRoot + kHikFile};
  StandinClient Hy{kRoot + kHyFile};
};

// ---- missing library and entry points -----------------------------------------------------------

TEST_F(VendorFault, MissingLibraryFailsItsFramesUntilItAppears) {
  const fs::path Dir = fs::temp_directory_path() / ("zorv-vendorfault-" + std::to_string(Win::GetCurrentProcessId()));
  fs::remove_all(Dir);
  fs::create_directories(Dir / "PlayDll" / "HIK");
  const std::string Root = Dir.string() + "/";
  ASSERT_EQ(Tarn_Decode_Initialize(0, Root.c_str(), 1), 0);
  Win::Test::RecordLoaderCalls(true);
  EXPECT_EQ(Open(1), -1);
  EXPECT_EQ(Feed(1), -1);
  EXPECT_EQ(Win::Test::TakeLoaderCalls().find("HikPlayM4"), std::string::npos) << "nothing to load";
  // The library arrives: the next frame loads it, and the channel opens.
  fs::copy_file(kRoot + kHikFile, Dir / "PlayDll" / "HIK" / "HikPlayM4.dll");
  EXPECT_EQ(Open(1), 0);
  EXPECT_NE(Win::Test::TakeLoaderCalls().find("HikPlayM4"), std::string::npos);
  EXPECT_EQ(Feed(1), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(1)), 0);
  Win::Test::RecordLoaderCalls(false);
  Tarn_Decode_ShutDown();
  std::error_code Ignored;
  fs::remove_all(Dir, Ignored);
}

// Without Hik_PlayM4_ResetBuffer no close can finish: the channel keeps its stream (and its one
// port) instead of losing it, every close tries again, and a new file head does not open a second
// port beside the first.
TEST_F(VendorFault, CloseThatCannotFinishKeepsTheChannelAndItsOnePort) {
  StandinClient NoReset(kNoResetRoot + kHikFile);
  ASSERT_TRUE(NoReset.Loaded());
  NoReset.Reset();
  Init(kNoResetRoot);
  ASSERT_EQ(Open(4), 0);
  for (int Attempt = 0; Attempt < 3; ++Attempt) EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(4)), -1);
  EXPECT_EQ(Occurrences(Win::Test::TakeDebugOutput(), "开始关闭流"), 3) << "every close reaches the adapter";
  EXPECT_EQ(Open(4), -1);
  EXPECT_EQ(NoReset.Count("Hik_PlayM4_OpenStream("), 1);
  EXPECT_EQ(TakenEntries(1), 1);
  // The stream goes on taking data on its port.
  NoReset.ClearJournal();
  EXPECT_EQ(Feed(4), 0);
  EXPECT_EQ(NoReset.Count("Hik_PlayM4_InputData(0,"), 1);
  Tarn_Decode_ShutDown();
  NoReset.Reset();
}

// ---- calls that fail ----------------------------------------------------------------------------

TEST_F(VendorFault, FailedCloseIsRetriedByTheNextCloseOrFileHead) {
  Init();
  ASSERT_EQ(Open(5), 0);
  Hik.Return("Hik_PlayM4_Stop", 0, 1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(5)), -1);
  EXPECT_EQ(Hik.Query("open", 0), 1);
  // The retry needs no data frame in between: the channel still names its stream.
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(5)), 0);
  EXPECT_EQ(Hik.Query("open", 0), 0);
  EXPECT_EQ(TakenEntries(1), 0);

  // The same through file heads: while the old stream cannot be closed no second one opens; once
  // it closes, the new stream takes the same port again.
  ASSERT_EQ(Open(5), 0);
  Hik.Return("Hik_PlayM4_Stop", 0, 2);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(5)), -1);
  Hik.ClearJournal();
  EXPECT_EQ(Open(5), -1);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_OpenStream("), 0);
  EXPECT_EQ(Open(5), 0);
  EXPECT_EQ(Hik.Calls("Hik_PlayM4_CloseStream("), (std::vector<std::string>{"Hik_PlayM4_CloseStream(0)"}));
  EXPECT_EQ(Hik.Count("Hik_PlayM4_OpenStream(0,"), 1);
  EXPECT_EQ(TakenEntries(1), 1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(5)), 0);
  EXPECT_EQ(TakenEntries(1), 0);
}

TEST_F(VendorFault, OpensRefusedMoreOftenThanThereArePlayersLoseNoEntry) {
  Init();
  Win::Test::SetSleepScale(0);
  Hik.Return("Hik_PlayM4_OpenStream", 0, 600);
  for (std::uint32_t i = 0; i < 600; ++i) ASSERT_EQ(Open(i % 100), -1) << i;
  EXPECT_EQ(TakenEntries(1), 0);
  EXPECT_EQ(Open(9), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(9)), 0);
}

TEST_F(VendorFault, InputRefusedForeverCostsOneMillisecondAFrameAndNothingElse) {
  Init();
  ASSERT_EQ(Open(6), 0);
  Hik.Return("Hik_PlayM4_InputData", 0);
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  for (std::size_t n = 0; n < 50; ++n) ASSERT_EQ(Feed(6, n), 0);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 50u);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_InputData(0,"), 50) << "each frame offered once";
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(6)), 0);
  EXPECT_EQ(Hik.Query("open", 0), 0);
}

// ---- calls that hang ----------------------------------------------------------------------------

// A vendor call that blocks for seconds holds only its own channel: data, opens and closes of
// other channels go through meanwhile (the data path takes no lock shared between channels; the
// engine lock is held by opens and closes only).
TEST_F(VendorFault, HangingVendorCallHoldsOnlyItsOwnChannel) {
  Init();
  Win::Test::SetSleepScale(0);
  ASSERT_EQ(Open(7), 0);  // port 0
  ASSERT_EQ(Open(8), 0);  // port 1
  Hik.ClearJournal();
  Hik.Hang("Hik_PlayM4_InputData", 1500, 1);
  std::atomic<bool> Returned{false};
  std::thread Stuck([&] {
    EXPECT_EQ(Feed(7), 0);
    Returned = true;
  });
  while (Hik.Count("Hik_PlayM4_InputData(") == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  for (std::size_t n = 0; n < 20; ++n) EXPECT_EQ(Feed(8, n), 0);
  EXPECT_EQ(Open(9), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(9)), 0);
  EXPECT_FALSE(Returned) << "the other channels' work should have been done while the call hung";
  Stuck.join();
  EXPECT_EQ(Hik.Count("Hik_PlayM4_InputData(1,"), 20);

  // A stream open that hangs holds the engine lock (opens and closes wait), but not the data path.
  Hik.Hang("Hik_PlayM4_OpenStream", 1500, 1);
  Returned = false;
  std::thread Opening([&] {
    EXPECT_EQ(Open(10), 0);
    Returned = true;
  });
  while (Hik.Count("Hik_PlayM4_OpenStream(") == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  for (std::size_t n = 0; n < 20; ++n) EXPECT_EQ(Feed(8, n), 0);
  EXPECT_EQ(Tarn_Decode_ClearBuffer(Head(8)), 0);
  EXPECT_FALSE(Returned);
  Opening.join();
  for (std::uint32_t Channel : {7u, 8u, 10u}) EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(Channel)), 0);
  EXPECT_EQ(TakenEntries(1), 0);
}

// ---- calls that throw -----------------------------------------------------------------------------

TEST_F(VendorFault, ThrowingOpenIsCaughtLoggedAndLeavesNothingOpen) {
  Init();
  ASSERT_EQ(Open(11), 0);  // a healthy Hikvision channel beside it
  Hy.Throw("MP4Play_SetDisplayCallBack", 1);
  EXPECT_EQ(Open(12, 15), -1);
  EXPECT_NE(Win::Test::TakeDebugOutput().find("文件头，打开流错误;显示画面序号:12"), std::string::npos);
  EXPECT_EQ(Hy.Query("open", 0), 0) << "the port opened before the exception is closed again";
  EXPECT_EQ(TakenEntries(15), 0);
  EXPECT_EQ(Open(12, 15), 0);
  EXPECT_EQ(Feed(11), 0);
  EXPECT_EQ(Hik.Count("Hik_PlayM4_InputData(0,"), 1);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(11)), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(12, ZORV_FRAME_P, 0, 15)), 0);
}

#if defined(_WIN32)
// ---- access violations (Win32) --------------------------------------------------------------------

// A vendor access violation inside a guarded call: caught, logged, the stream is not opened, and
// the other channels - of the same library and of another - keep working. Many times over, from
// several threads at once.
TEST_F(VendorFault, AccessViolationInsideAGuardedCallIsSurvived) {
  Init();
  Win::Test::SetSleepScale(0);
  ASSERT_EQ(Open(20), 0);
  ASSERT_EQ(Open(21, 15), 0);
  Hy.Fault("MP4Play_SetDisplayCallBack", 40);
  std::vector<std::thread> Threads;
  std::atomic<int> Failed{0};
  for (int t = 0; t < 4; ++t)
    Threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) Failed += Open(static_cast<std::uint32_t>(30 + t), 15) == -1;
    });
  for (std::thread& T : Threads) T.join();
  EXPECT_EQ(Failed, 40);
  EXPECT_EQ(Occurrences(Win::Test::TakeDebugOutput(), "文件头，打开流错误"), 40);
  EXPECT_EQ(TakenEntries(15), 1) << "only channel 21 holds a player";
  for (std::size_t n = 0; n < 5; ++n) {
    EXPECT_EQ(Feed(20, n), 0);
    EXPECT_EQ(Feed(21, n, 15), 0);
  }
  EXPECT_EQ(Open(30, 15), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(20)), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(21, ZORV_FRAME_P, 0, 15)), 0);
  EXPECT_EQ(Tarn_Decode_CloseOneChannel(Head(30, ZORV_FRAME_P, 0, 15)), 0);
}

// Our own last-chance handler: catches what every other handler passed on.
thread_local std::jmp_buf* OwnLanding = nullptr;
std::atomic<int> OwnCatches{0};
LONG CALLBACK OwnHandler(EXCEPTION_POINTERS* Info) {
  if (!OwnLanding || Info->ExceptionRecord->ExceptionCode != 0xE0000017u) return EXCEPTION_CONTINUE_SEARCH;
  ++OwnCatches;
  std::jmp_buf* Landing = OwnLanding;
  OwnLanding = nullptr;
  std::longjmp(*Landing, 1);
}

// Raises an error-severity exception outside any guard; true when it reached our own handler.
bool RaiseOutsideAGuard() {
  void* Handler = AddVectoredExceptionHandler(0, OwnHandler);  // after the library's handler
  std::jmp_buf Landing;
  bool Reached = false;
  if (setjmp(Landing) == 0) {
    OwnLanding = &Landing;
    RaiseException(0xE0000017u, 0, 0, nullptr);
  } else {
    Reached = true;
  }
  OwnLanding = nullptr;
  RemoveVectoredExceptionHandler(Handler);
  return Reached;
}

// The guard acts only inside guarded calls: once it is installed, an exception raised elsewhere
// on any thread goes on to the handlers after it.
TEST_F(VendorFault, GuardLeavesExceptionsOutsideGuardedCallsAlone) {
  Init();
  Hy.Fault("MP4Play_SetDisplayCallBack", 1);
  ASSERT_EQ(Open(40, 15), -1);  // the guard has caught a fault: its handler is installed
  const int Before = OwnCatches;
  EXPECT_TRUE(RaiseOutsideAGuard());
  bool OnOtherThread = false;
  std::thread([&] { OnOtherThread = RaiseOutsideAGuard(); }).join();
  EXPECT_TRUE(OnOtherThread);
  EXPECT_EQ(OwnCatches - Before, 2);
}

// The guard goes with the library: after ZorvDecoder.dll is unloaded, an exception raised in the
// process finds no handler of the unloaded library (calling one would crash this test).
TEST_F(VendorFault, GuardIsRemovedWhenTheLibraryUnloads) {
  const std::string Dll = std::string(ZORV_TESTROOT) + "/../ZorvDecoder.dll";
  HMODULE Module = LoadLibraryA(Dll.c_str());
  ASSERT_NE(Module, nullptr) << Dll;
  using InitializeFn = std::int32_t(ZORV_STDCALL*)(std::int32_t, const char*, std::int32_t);
  using AddFrameFn = std::int32_t(ZORV_STDCALL*)(TFrameHead, const std::uint8_t*);
  using ShutDownFn = std::int32_t(ZORV_STDCALL*)();
  auto Initialize = reinterpret_cast<InitializeFn>(GetProcAddress(Module, "Tarn_Decode_Initialize"));
  auto AddFrame = reinterpret_cast<AddFrameFn>(GetProcAddress(Module, "Tarn_Decode_AddFrame"));
  auto ShutDown = reinterpret_cast<ShutDownFn>(GetProcAddress(Module, "Tarn_Decode_ShutDown"));
  ASSERT_TRUE(Initialize && AddFrame && ShutDown);
  ASSERT_TRUE(Hy.Loaded());
  Hy.Reset();
  ASSERT_EQ(Initialize(0, kRoot.c_str(), 1), 0);
  // A fault inside the DLL's guarded open installs its handler and is survived.
  Hy.Fault("MP4Play_SetDisplayCallBack", 1);
  EXPECT_EQ(AddFrame(Head(41, ZORV_FRAME_FILEHEAD, Stream.head.size(), 15), Stream.head.data()), -1);
  EXPECT_EQ(ShutDown(), 0);
  ASSERT_TRUE(FreeLibrary(Module));
  EXPECT_TRUE(RaiseOutsideAGuard());
}
#endif

}  // namespace
