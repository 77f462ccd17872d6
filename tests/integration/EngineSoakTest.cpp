// The library under sustained load with its real adapters: eight host threads feed all 500 display
// channels (400 Hikvision player streams on the stand-in HikPlayM4.dll, whose players decode and
// call back on their own threads, and 100 MPEG-4 streams decoded by libavcodec), re-open them with
// file heads, switch sound and callbacks, close them and ask for snapshots, all interleaved.
//
// What must hold:
//   - no host callback for a channel once its Tarn_Decode_CloseOneChannel has returned, and none
//     still running when it returns (the host callback is instrumented per channel);
//   - no thread stops making progress (a watchdog ends the run when one is stuck for 10 s);
//   - at the end every player entry and every vendor port is free again;
//   - under ThreadSanitizer (scripts/soak.sh, scripts/tsan-stress.sh): no report.
//
// ZORV_SOAK_SECONDS sets the length of the traffic test (default 5 s, 2 s on Win32), ZORV_SOAK_CYCLES
// the number of close-and-shut-down cycles (default 300, 100 on Win32); scripts/soak.sh runs 60 s
// and 10 000 cycles under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Mp4Samples.h"
#include "Platform.h"
#include "StandinClient.h"
#include "U_DecodeEngine.h"
#include "ZorvDecoder.h"
#include "ZrvStream.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kRoot = std::string(ZORV_TESTROOT) + "/";
const std::string kHikPath = kRoot + "PlayDll/HIK/HikPlayM4.dll";

constexpr int kChannels = 500;
constexpr std::uint32_t kHikWindow = 0x5A00;  // no such window: the players decode, nothing is drawn

#if defined(_WIN32)
constexpr int kDefaultSeconds = 2, kDefaultCycles = 100;
#else
constexpr int kDefaultSeconds = 5, kDefaultCycles = 300;
#endif

int EnvInt(const char* Name, int Default) {
  const char* Text = std::getenv(Name);
  return Text && *Text ? std::atoi(Text) : Default;
}

// ---- the instrumented host callback ------------------------------------------------------------
// One callback function per group, since the library hands the callback the channel number only.
struct TChannelWatch {
  std::atomic<bool> Closed{false};     // set after Tarn_Decode_CloseOneChannel returned
  std::atomic<int> InFlight{0};        // host callbacks running now
  std::atomic<std::uint64_t> Pictures{0};
};
TChannelWatch gWatch[kChannels];
std::atomic<std::uint64_t> gLateCallbacks{0};   // callbacks that began after the close returned
std::atomic<std::uint64_t> gStillRunning{0};    // callbacks still running when the close returned
std::atomic<std::uint64_t> gBadChannel{0};
std::atomic<bool> gShutDown{false};             // set after Tarn_Decode_ShutDown returned
std::atomic<std::uint64_t> gAfterShutDown{0};
std::atomic<std::uint64_t> gPictureBytes{0};

void ResetWatch() {
  for (TChannelWatch& W : gWatch) {
    W.Closed = false;
    W.InFlight = 0;
    W.Pictures = 0;
  }
  gLateCallbacks = gStillRunning = gBadChannel = gAfterShutDown = gPictureBytes = 0;
  gShutDown = false;
}

template <int Group>
void ZORV_STDCALL OnPicture(std::uint32_t Channel, TDecFrameInfo Info, const std::uint8_t* Picture) {
  if (gShutDown) ++gAfterShutDown;
  if (Channel >= 100) {
    ++gBadChannel;
    return;
  }
  TChannelWatch& W = gWatch[Group * 100 + Channel];
  ++W.InFlight;
  if (W.Closed) ++gLateCallbacks;
  // Touch the first and the last byte the library says it hands over.
  if (Picture && Info.Size > 0) gPictureBytes += Picture[0] + Picture[Info.Size - 1];
  ++W.Pictures;
  --W.InFlight;
}
constexpr TDecCallBack kCallBacks[5] = {OnPicture<0>, OnPicture<1>, OnPicture<2>, OnPicture<3>, OnPicture<4>};

// The host side of a close: the channel counts as closed from here on.
void MarkClosed(int Index) {
  TChannelWatch& W = gWatch[Index];
  W.Closed = true;
  if (W.InFlight != 0) ++gStillRunning;
}

// ---- watchdog --------------------------------------------------------------------------------
// Ends the process when a watched thread makes no progress for StallSeconds: a deadlock must fail
// the run, not hang it.
class TWatchdog {
 public:
  TWatchdog(int Threads, int StallSeconds) : FBeats(Threads), FStall(StallSeconds) {
    FThread = std::thread([this] { Run(); });
  }
  ~TWatchdog() {
    FStop = true;
    FThread.join();
  }
  void Beat(int Thread, int Op) {
    FBeats[Thread].Count.fetch_add(1, std::memory_order_relaxed);
    FBeats[Thread].Op.store(Op, std::memory_order_relaxed);
    FBeats[Thread].Retired.store(false, std::memory_order_relaxed);
  }
  void Retire(int Thread) { FBeats[Thread].Retired = true; }

 private:
  struct TBeat {
    std::atomic<std::uint64_t> Count{0};
    std::atomic<int> Op{-1};
    std::atomic<bool> Retired{false};
  };
  void Run() {
    std::vector<std::uint64_t> Seen(FBeats.size(), ~0ull);
    std::vector<Clock::time_point> Since(FBeats.size(), Clock::now());
    while (!FStop) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const Clock::time_point Now = Clock::now();
      for (std::size_t t = 0; t < FBeats.size(); ++t) {
        const std::uint64_t Count = FBeats[t].Count.load();
        if (Count != Seen[t] || FBeats[t].Retired) {
          Seen[t] = Count;
          Since[t] = Now;
        } else if (Now - Since[t] > std::chrono::seconds(FStall)) {
          std::fprintf(stderr, "soak watchdog: thread %zu made no progress for %d s (operation %d)\n", t, FStall,
                       FBeats[t].Op.load());
          std::fflush(stderr);
          std::abort();
        }
      }
    }
  }
  std::vector<TBeat> FBeats;
  const int FStall;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// ---- streams ---------------------------------------------------------------------------------

TFrameHead HeadOf(int Index, std::uint8_t FrameType, std::uint8_t DvrType, std::size_t DataLen) {
  TFrameHead H{};
  H.Group = static_cast<std::uint8_t>(Index / 100);
  H.Channel = static_cast<std::uint32_t>(Index % 100);
  H.FrameType = FrameType;
  H.DvrType = DvrType;
  H.DataLen = static_cast<std::uint32_t>(DataLen);
  H.DecodeMode = 2;
  H.Wnd = DvrType == 1 ? kHikWindow + static_cast<std::uint32_t>(Index) : 0;
  return H;
}

// Every fifth channel carries MPEG-4 (100 streams, the adapter's limit), the others Hikvision.
bool IsMp4Channel(int Index) { return Index % 5 == 0; }

struct TStreams {
  zrv::SyntheticStream Hik;
  TMp4Sample Mp4;
  bool Ok = false;
  TStreams() {
    zrv::StreamParams P;
    P.width = 176;
    P.height = 144;
    P.audio = true;
    Hik = zrv::MakeSyntheticStream(P, 50);
    Ok = LoadMp4Sample("cif", Mp4) && Mp4.Units.size() > 2;
  }
  std::size_t Frames(int Index) const { return IsMp4Channel(Index) ? Mp4.Units.size() - 1 : Hik.frames.size(); }
  // File head of the channel's stream.
  std::int32_t Open(int Index) const {
    if (IsMp4Channel(Index)) {
      const TMp4Unit& U = Mp4.Units[0];
      return Tarn_Decode_AddFrame(HeadOf(Index, ZORV_FRAME_FILEHEAD, 13, U.Length), Mp4.Data(U));
    }
    return Tarn_Decode_AddFrame(HeadOf(Index, ZORV_FRAME_FILEHEAD, 1, Hik.head.size()), Hik.head.data());
  }
  // Frame n (0-based) after the file head.
  std::int32_t Feed(int Index, std::size_t N) const {
    if (IsMp4Channel(Index)) {
      const TMp4Unit& U = Mp4.Units[1 + N % (Mp4.Units.size() - 1)];
      return Tarn_Decode_AddFrame(HeadOf(Index, TMp4Sample::FrameTypeOf(U.Kind), 13, U.Length), Mp4.Data(U));
    }
    const zrv::Frame& F = Hik.frames[N % Hik.frames.size()];
    return Tarn_Decode_AddFrame(HeadOf(Index, F.frameType, 1, F.bytes.size()), F.bytes.data());
  }
};

// The library loaded on the test tree with the stand-in Hikvision library quiet (no drawing).
class EngineSoak : public testing::Test {
 protected:
  void SetUp() override {
    FScale = Win::Test::SleepScale();
    // The fixed pauses (500 ms per open, 100 ms per close, ...) are not the subject here.
    Win::Test::SetSleepScale(0);
    ASSERT_TRUE(Hik.Loaded());
    Hik.Reset();
    Hik.SetOption("player.draw", 0);
    ASSERT_TRUE(Streams.Ok);
    ResetWatch();
  }
  void TearDown() override {
    Tarn_Decode_ShutDown();
    Hik.Reset();
    Win::Test::SetSleepScale(FScale);
  }
  // Every Hikvision player entry and every stand-in port free.
  void ExpectAllFree() {
    ASSERT_NE(DecodeEngine(), nullptr);
    for (int Type : {1, 13}) {
      int Taken = 0;
      for (int i = 0; i < PlayerCount; ++i) Taken += DecodeEngine()->Decoder(Type)->PlayerAt(i).Port != -1;
      EXPECT_EQ(Taken, 0) << "player entries still taken in the adapter of type " << Type;
    }
    int Open = 0;
    for (int Port = 0; Port < 500; ++Port) Open += Hik.Query("open", Port) == 1;
    EXPECT_EQ(Open, 0) << "vendor ports still open";
  }

  StandinClient Hik{kHikPath};
  TStreams Streams;
  double FScale = 1.0;
};

TEST_F(EngineSoak, AllChannelsUnderInterleavedTraffic) {
  ASSERT_EQ(Tarn_Decode_Initialize(0, kRoot.c_str(), 1), 0);
  const int Seconds = EnvInt("ZORV_SOAK_SECONDS", kDefaultSeconds);
  constexpr int kHostThreads = 8;
  // Host threads 0..7 own the channels Index % 8 == t (one thread per channel's stream, as the
  // adapters assume); thread 8 is the user-interface thread taking snapshots of any channel.
  TWatchdog Watchdog(kHostThreads + 1, EnvInt("ZORV_SOAK_STALL_SECONDS", 10));
  const Clock::time_point End = Clock::now() + std::chrono::seconds(Seconds);
  std::atomic<std::uint64_t> Ops{0}, Snapshots{0}, Closes{0};

  auto Host = [&](int Thread) {
    std::mt19937 Rng(1000u + static_cast<unsigned>(Thread));
    std::vector<int> Mine;
    for (int i = Thread; i < kChannels; i += kHostThreads) Mine.push_back(i);
    std::vector<std::size_t> Next(kChannels, 0);
    // Every channel starts open with its callback wanted.
    for (int Index : Mine) {
      Tarn_Decode_StartCallBack(HeadOf(Index, 2, 1, 0), kCallBacks[Index / 100]);
      Streams.Open(Index);
      Watchdog.Beat(Thread, 0);
    }
    while (Clock::now() < End) {
      const int Index = Mine[Rng() % Mine.size()];
      const TFrameHead H = HeadOf(Index, ZORV_FRAME_P, IsMp4Channel(Index) ? 13 : 1, 0);
      const unsigned Op = Rng() % 20;
      Watchdog.Beat(Thread, static_cast<int>(Op));
      switch (Op) {
        case 0:
          Streams.Open(Index);
          Next[Index] = 0;
          break;
        case 1:
          Tarn_Decode_CloseOneChannel(H);
          MarkClosed(Index);
          ++Closes;
          break;
        case 2:
          gWatch[Index].Closed = false;  // from here on the host wants pictures again
          Tarn_Decode_StartCallBack(H, kCallBacks[Index / 100]);
          break;
        case 3: Tarn_Decode_StopCallBack(H); break;
        case 4: Tarn_Decode_PlaySound(H); break;
        case 5: Tarn_Decode_StopSound(H); break;
        case 6: Tarn_Decode_ClearBuffer(H); Tarn_Decode_RefrushWindow(H); break;
        case 7:
          if (Index / 100 == 4) {
            PlayM4_Pause(Index % 100, 1);
            PlayM4_Pause(Index % 100, 0);
          }
          break;
        default:
          // Data: a few frames of the channel's stream in order.
          for (int k = 0; k < 3; ++k) Streams.Feed(Index, Next[Index]++);
          break;
      }
      ++Ops;
    }
    Watchdog.Retire(Thread);
  };
  auto Ui = [&] {
    std::mt19937 Rng(77);
    std::vector<std::uint8_t> Buffer(4 << 20);
    while (Clock::now() < End) {
      const int Index = static_cast<int>(Rng() % kChannels);
      Watchdog.Beat(kHostThreads, 100);
      std::int32_t Size[2] = {0, 0};
      std::uint8_t* Out = Buffer.data();
      if (Tarn_Decode_SnapPicture(HeadOf(Index, ZORV_FRAME_P, 1, 0), Size, &Out) > 0) ++Snapshots;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Watchdog.Retire(kHostThreads);
  };

  std::vector<std::thread> Threads;
  for (int t = 0; t < kHostThreads; ++t) Threads.emplace_back(Host, t);
  Threads.emplace_back(Ui);
  for (std::thread& T : Threads) T.join();

  for (int Index = 0; Index < kChannels; ++Index) {
    Tarn_Decode_CloseOneChannel(HeadOf(Index, ZORV_FRAME_P, 1, 0));
    MarkClosed(Index);
  }
  ExpectAllFree();
  Tarn_Decode_ShutDown();
  gShutDown = true;

  std::uint64_t HikPictures = 0, Mp4Pictures = 0;
  for (int i = 0; i < kChannels; ++i) (IsMp4Channel(i) ? Mp4Pictures : HikPictures) += gWatch[i].Pictures;
  std::printf("soak: %d s, %llu operations, %llu closes, %llu snapshots, pictures: %llu Hikvision, %llu MPEG-4\n",
              Seconds, static_cast<unsigned long long>(Ops.load()), static_cast<unsigned long long>(Closes.load()),
              static_cast<unsigned long long>(Snapshots.load()), static_cast<unsigned long long>(HikPictures),
              static_cast<unsigned long long>(Mp4Pictures));
  EXPECT_EQ(gLateCallbacks, 0u) << "host callbacks after the channel's close returned";
  EXPECT_EQ(gStillRunning, 0u) << "host callbacks still running when the close returned";
  EXPECT_EQ(gBadChannel, 0u);
  EXPECT_GT(HikPictures, 0u);
  EXPECT_GT(Mp4Pictures, 0u);
  EXPECT_GT(Closes, 0u);
}

// Channels closed on two threads while their players call back and a feeder keeps feeding, then
// the library shut down at once while the players of the channels left open still call back
// (hosts should close first; the library must not depend on it). Cycle after cycle: no callback
// after its channel's close or after the shutdown returned, and nothing left open.
TEST_F(EngineSoak, CloseAndShutDownWhileCallbacksAreInFlight) {
  const int Cycles = EnvInt("ZORV_SOAK_CYCLES", kDefaultCycles);
  constexpr int kPerCycle = 4;  // Hikvision channels per cycle: two closed, two left to the shutdown
  TWatchdog Watchdog(4, EnvInt("ZORV_SOAK_STALL_SECONDS", 10));
  std::uint64_t Pictures = 0;
  for (int Cycle = 0; Cycle < Cycles; ++Cycle) {
    for (TChannelWatch& W : gWatch) W.Closed = false;
    gShutDown = false;
    ASSERT_EQ(Tarn_Decode_Initialize(0, kRoot.c_str(), 1), 0);
    std::vector<int> Channels;
    for (int i = 1 + (Cycle * kPerCycle) % 490; static_cast<int>(Channels.size()) < kPerCycle; ++i)
      if (!IsMp4Channel(i)) Channels.push_back(i);
    for (int Index : Channels) {
      Tarn_Decode_StartCallBack(HeadOf(Index, 2, 1, 0), kCallBacks[Index / 100]);
      ASSERT_EQ(Streams.Open(Index), 0);
      for (std::size_t n = 0; n < 8; ++n) Streams.Feed(Index, n);  // the callback starts here
    }
    std::atomic<bool> Closing{false};
    std::atomic<int> ClosedCount{0};
    for (int t = 0; t < 3; ++t) Watchdog.Beat(t, 0);
    std::thread Feeder([&] {
      std::size_t n = 8;
      while (ClosedCount < 2) {
        for (int Index : Channels) Streams.Feed(Index, n);
        ++n;
        Watchdog.Beat(0, 1);
        std::this_thread::sleep_for(std::chrono::microseconds(100));  // a recorder's pace, roughly
      }
      Watchdog.Retire(0);
    });
    auto Closer = [&](int Which) {
      while (!Closing) std::this_thread::yield();
      Tarn_Decode_CloseOneChannel(HeadOf(Channels[Which], 2, 1, 0));
      MarkClosed(Channels[Which]);
      ++ClosedCount;
      Watchdog.Beat(1 + Which, 2);
      Watchdog.Retire(1 + Which);
    };
    std::thread A(Closer, 0), B(Closer, 1);
    // Let the players call back for a moment before the closes start.
    for (int Spin = 0; Spin < 2000 && gWatch[Channels[0]].Pictures == 0; ++Spin)
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    Closing = true;
    A.join();
    B.join();
    Feeder.join();
    Watchdog.Beat(3, 3);
    Tarn_Decode_ShutDown();
    gShutDown = true;
    Watchdog.Beat(3, 4);
    // The players of the channels left open go on decoding what they were given; then the
    // stand-in closes them (a host would have closed them before shutting down).
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    Hik.Reset();
    Hik.SetOption("player.draw", 0);
    for (int Index : Channels) Pictures += gWatch[Index].Pictures.exchange(0);
    if (gLateCallbacks || gStillRunning || gAfterShutDown) break;
  }
  Watchdog.Retire(3);
  int Open = 0;
  for (int Port = 0; Port < 500; ++Port) Open += Hik.Query("open", Port) == 1;
  EXPECT_EQ(Open, 0);
  EXPECT_EQ(gLateCallbacks, 0u) << "host callbacks after the channel's close returned";
  EXPECT_EQ(gStillRunning, 0u) << "host callbacks still running when the close returned";
  EXPECT_EQ(gAfterShutDown, 0u) << "host callbacks after the shutdown returned";
  EXPECT_GT(Pictures, 0u) << "the players never called back: the test proves nothing";
  std::printf("soak: %d close-and-shut-down cycles, %llu pictures called back\n", Cycles,
              static_cast<unsigned long long>(Pictures));
}

}  // namespace
