// Many host threads and two vendor threads on hundreds of channels at once: file heads, data
// frames, control calls and closes interleaved. Run under ThreadSanitizer (see README); in every
// build it checks that no player entry is lost and no channel keeps a stream after its close.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "Platform.h"
#include "SpineTestAdapter.h"
#include "ZorvDecoder.h"

namespace {

std::atomic<int> Pictures{0};
void ZORV_STDCALL CountPicture(uint32_t, TDecFrameInfo, const uint8_t*) { ++Pictures; }

TEST(EngineStressTest, InterleavedTrafficOnManyChannels) {
  const double Scale = Win::Test::SleepScale();
  Win::Test::SetSleepScale(0);
  TSpineRig Rig;
  Rig.UseAll();
  ASSERT_EQ(Tarn_Decode_Initialize(0, Rig.LibDir().c_str(), 1), 0);
  const int Types[] = {1, 4, 10, 13, 18, 22, 15};
  for (int Type : Types) TSpineRig::Adapter(Type)->Journalling = false;
  TSpineRig::Adapter(1)->StreamHasAudio = 1;

  constexpr int HostThreads = 8;
  constexpr int OpsPerThread = 4000;
  std::atomic<bool> Done{false};
  const std::uint8_t Data[64] = {};

  auto Host = [&](unsigned Seed) {
    std::mt19937 Rng(Seed);
    for (int i = 0; i < OpsPerThread; ++i) {
      // Half of the traffic on 32 hot channels shared by every thread, half over all 500.
      const int Index = Rng() % 2 ? static_cast<int>(Rng() % 32) : static_cast<int>(Rng() % 500);
      const auto Group = static_cast<std::uint8_t>(Index / 100);
      const auto Channel = static_cast<std::uint32_t>(Index % 100);
      const auto Type = static_cast<std::uint8_t>(Types[Rng() % 7]);
      TFrameHead Head = MakeHead(Group, Channel, 2, Type, sizeof Data);
      switch (Rng() % 12) {
        case 0: Head.FrameType = 1; Tarn_Decode_AddFrame(Head, Data); break;
        case 1: case 2: case 3: Tarn_Decode_AddFrame(Head, Data); break;
        case 4: Head.FrameType = 7; Tarn_Decode_AddFrame(Head, Data); break;
        case 5: Tarn_Decode_PlaySound(Head); break;
        case 6: Tarn_Decode_StopSound(Head); break;
        case 7: Tarn_Decode_StartCallBack(Head, CountPicture); break;
        case 8: Tarn_Decode_StopCallBack(Head); break;
        case 9: Tarn_Decode_CloseOneChannel(Head); break;
        case 10: Tarn_Decode_ClearBuffer(Head); Tarn_Decode_RefrushWindow(Head); break;
        case 11:
          if (Group == 4) {
            PlayM4_Play(static_cast<int32_t>(Channel), 0x100 + Channel);
            PlayM4_Stop(static_cast<int32_t>(Channel));
          }
          break;
      }
    }
  };
  auto Vendor = [&](int Type) {
    std::mt19937 Rng(static_cast<unsigned>(Type));
    TTestAdapter* Adapter = TSpineRig::Adapter(Type);
    while (!Done) Adapter->EmitPicture(TTestAdapter::PortBase + Rng() % 500, 16, 16);
  };

  std::vector<std::thread> Threads;
  std::thread VendorA(Vendor, 1), VendorB(Vendor, 13);
  for (int t = 0; t < HostThreads; ++t) Threads.emplace_back(Host, 1000u + t);
  for (std::thread& T : Threads) T.join();
  Done = true;
  VendorA.join();
  VendorB.join();

  for (int Index = 0; Index < 500; ++Index)
    Tarn_Decode_CloseOneChannel(MakeHead(static_cast<std::uint8_t>(Index / 100), Index % 100, 0, 0));
  for (int Type : Types) EXPECT_EQ(TSpineRig::Adapter(Type)->FreeEntries(), 500) << Type;
  for (int Index = 0; Index < 500; ++Index) {
    TChannelState State;
    DecodeEngine()->GetChannelState(Index / 100, Index % 100, State);
    EXPECT_EQ(State.DvrType, 0);
    EXPECT_EQ(State.CallBackState, 0);
    EXPECT_EQ(State.SoundState, 0);
  }
  Win::Test::SetSleepScale(Scale);
}

}  // namespace
