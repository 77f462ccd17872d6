// What the host decode callback (Tarn_Decode_StartCallBack) received, for tests of adapters
// whose vendor libraries deliver pictures on their own threads; and small helpers those tests
// share: waiting for a condition, the messages of captured log lines, the pictures of a ZRV
// stream.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ZorvDecoder.h"
#include "ZrvStream.h"

struct THostPicture {
  std::uint32_t Channel = 0;
  TDecFrameInfo Info{};
  std::vector<std::uint8_t> Bytes;  // Info.Size bytes of the picture
};

namespace HostPictures {
// The callback to hand to Tarn_Decode_StartCallBack: keeps every picture.
void ZORV_STDCALL OnPicture(std::uint32_t Channel, TDecFrameInfo Info, const std::uint8_t* Picture);
void Clear();
std::vector<THostPicture> Take();
std::size_t Count();
// Waits (in real time, up to TimeoutMs) until at least Count pictures arrived.
bool WaitForCount(std::size_t Count, int TimeoutMs = 10000);
}  // namespace HostPictures

// Polls Done every millisecond (real time) until it holds or TimeoutMs passed.
bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs = 10000);

class StandinClient;
// Fires "decode" (port 0, the reported size) at a stand-in player library as soon as the port
// has a last picture to hand over (a picture is reported decoded just before the player keeps
// it); the fire's result, -1 when no picture came within TimeoutMs.
std::int64_t FireDecode(const StandinClient& Library, std::int64_t Size, int TimeoutMs = 10000);

// The messages of the log lines captured since the last call (the text after "| " of each
// line), in order. Debug output capture must be on (Win::Test::CaptureDebugOutput).
std::vector<std::string> TakeLogMessages();

// The I420 pictures of the video frames of a stream, in order, as a player decodes them.
std::vector<std::vector<std::uint8_t>> PicturesOf(const zrv::SyntheticStream& Stream);
