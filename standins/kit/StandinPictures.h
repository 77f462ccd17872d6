// Helpers for stand-in player libraries whose callbacks hand pictures to the library under
// test: a call with a guarded picture buffer, and the port queries every player stand-in
// answers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "StandinKit.h"
#include "StandinPlayer.h"

namespace kit {

// Calls call(buffer, size) with a copy of `picture` cut or zero-padded to `size` bytes and
// followed by guard bytes. Returns a bit set: 1 = a guard byte was changed (written past the
// picture), 2 = a byte of the picture was changed.
template <class F>
std::int64_t CallWithGuard(const std::vector<std::uint8_t>& picture, std::size_t size, F&& call) {
  constexpr std::size_t kGuardBytes = 256;
  constexpr std::uint8_t kGuard = 0xA5;
  std::vector<std::uint8_t> original(size, 0);
  std::memcpy(original.data(), picture.data(), std::min(size, picture.size()));
  std::vector<std::uint8_t> buffer(original);
  buffer.resize(size + kGuardBytes, kGuard);
  call(buffer.data(), size);
  std::int64_t result = 0;
  if (std::any_of(buffer.begin() + static_cast<std::ptrdiff_t>(size), buffer.end(),
                  [](std::uint8_t b) { return b != kGuard; }))
    result |= 1;
  if (!std::equal(original.begin(), original.end(), buffer.begin())) result |= 2;
  return result;
}

// Writes a 4:2:0 picture (I420 order) to out in YV12 order (luma, then Cr, then Cb), as
// decode cards hand pictures out. False, nothing written, when it does not fit `size` bytes.
inline bool WriteYV12(const Picture& picture, std::uint8_t* out, std::size_t size) {
  const std::size_t luma = static_cast<std::size_t>(picture.width) * picture.height;
  const std::size_t quarter = static_cast<std::size_t>(picture.width / 2) * (picture.height / 2);
  if (out == nullptr || size < luma + 2 * quarter || picture.yuv.size() < luma + 2 * quarter) return false;
  std::memcpy(out, picture.yuv.data(), luma);
  std::memcpy(out + luma, picture.yuv.data() + luma + quarter, quarter);
  std::memcpy(out + luma + quarter, picture.yuv.data() + luma, quarter);
  return true;
}

// Queries "open" "playing" "window" "decoded" "displayed" "drawn" "audio" "audioplayed" "sound"
// "pending" (port): the player's state; -1 for a port outside the table.
inline void InstallPlayerQueries(PlayerTable& players) {
  auto q = [&players](const char* name, std::int64_t (*f)(Player&)) {
    OnQuery(name, [&players, f](std::int64_t port) -> std::int64_t {
      Player* p = players.Get(port);
      return p ? f(*p) : -1;
    });
  };
  q("open", [](Player& p) -> std::int64_t { return p.IsOpen() ? 1 : 0; });
  q("playing", [](Player& p) -> std::int64_t { return p.Playing() ? 1 : 0; });
  q("window", [](Player& p) -> std::int64_t { return p.Window(); });
  q("decoded", [](Player& p) -> std::int64_t { return static_cast<std::int64_t>(p.DecodedFrames()); });
  q("displayed", [](Player& p) -> std::int64_t { return static_cast<std::int64_t>(p.DisplayedFrames()); });
  q("drawn", [](Player& p) -> std::int64_t { return static_cast<std::int64_t>(p.DrawnFrames()); });
  q("audio", [](Player& p) -> std::int64_t { return static_cast<std::int64_t>(p.AudioPackets()); });
  q("audioplayed", [](Player& p) -> std::int64_t { return static_cast<std::int64_t>(p.PlayedAudioPackets()); });
  q("sound", [](Player& p) -> std::int64_t { return p.Sound() ? 1 : 0; });
  q("pending", [](Player& p) -> std::int64_t { return static_cast<std::int64_t>(p.Pending()); });
}

}  // namespace kit
