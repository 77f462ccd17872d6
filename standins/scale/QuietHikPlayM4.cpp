// Quiet HikPlayM4.dll: the entry points the Hikvision adapter needs to open, feed and close a
// stream, each succeeding at once without a journal, a script or a thread. Input is only counted,
// per port on its own cache line, so feeding threads share nothing here.
//
//   Quiet_InputCount(port): frames accepted on the port since load (-1 outside 0..499).
//   Quiet_OpenPorts():      ports open now.
#include <atomic>
#include <cstdint>

#include "StandinKit.h"

namespace {

constexpr int kPorts = 500;

struct alignas(64) PortState {
  std::atomic<std::int64_t> inputs{0};
  std::atomic<bool> open{false};
};
PortState gPorts[kPorts];

bool Valid(std::int32_t port) { return port >= 0 && port < kPorts; }

}  // namespace

STANDIN_EXPORT std::int32_t ZORV_STDCALL Hik_PlayM4_OpenStream(std::int32_t port, std::uint8_t*, std::uint32_t,
                                                               std::uint32_t) {
  if (!Valid(port)) return 0;
  return gPorts[port].open.exchange(true) ? 0 : 1;
}

STANDIN_EXPORT std::int32_t ZORV_STDCALL Hik_PlayM4_InputData(std::int32_t port, std::uint8_t* data, std::uint32_t) {
  if (!Valid(port) || data == nullptr) return 0;
  gPorts[port].inputs.fetch_add(1, std::memory_order_relaxed);
  return 1;
}

STANDIN_EXPORT std::int32_t ZORV_STDCALL Hik_PlayM4_Play(std::int32_t port, std::uint32_t) { return Valid(port); }
STANDIN_EXPORT std::int32_t ZORV_STDCALL Hik_PlayM4_Stop(std::int32_t port) { return Valid(port); }
STANDIN_EXPORT std::int32_t ZORV_STDCALL Hik_PlayM4_ResetBuffer(std::int32_t port, std::uint32_t) { return Valid(port); }

STANDIN_EXPORT std::int32_t ZORV_STDCALL Hik_PlayM4_CloseStream(std::int32_t port) {
  if (!Valid(port)) return 0;
  return gPorts[port].open.exchange(false) ? 1 : 0;
}

STANDIN_EXPORT std::int64_t Quiet_InputCount(std::int32_t port) {
  return Valid(port) ? gPorts[port].inputs.load() : -1;
}

STANDIN_EXPORT std::int32_t Quiet_OpenPorts() {
  std::int32_t open = 0;
  for (const PortState& p : gPorts) open += p.open.load();
  return open;
}
