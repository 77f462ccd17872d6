// Host picture collector and shared waits for player adapter tests (see HostPictures.h).
#include "HostPictures.h"

#include <chrono>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

#include "Platform.h"
#include "StandinClient.h"

namespace {
std::mutex gLock;
std::vector<THostPicture> gPictures;
}  // namespace

namespace HostPictures {
void ZORV_STDCALL OnPicture(std::uint32_t Channel, TDecFrameInfo Info, const std::uint8_t* Picture) {
  THostPicture P;
  P.Channel = Channel;
  P.Info = Info;
  if (Picture) P.Bytes.assign(Picture, Picture + Info.Size);
  std::lock_guard<std::mutex> Hold(gLock);
  gPictures.push_back(std::move(P));
}

void Clear() {
  std::lock_guard<std::mutex> Hold(gLock);
  gPictures.clear();
}

std::vector<THostPicture> Take() {
  std::lock_guard<std::mutex> Hold(gLock);
  return std::exchange(gPictures, {});
}

std::size_t Count() {
  std::lock_guard<std::mutex> Hold(gLock);
  return gPictures.size();
}

bool WaitForCount(std::size_t N, int TimeoutMs) {
  return WaitUntil([N] { return Count() >= N; }, TimeoutMs);
}
}  // namespace HostPictures

bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs) {
  for (int i = 0; i < TimeoutMs; ++i) {
    if (Done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return Done();
}

std::int64_t FireDecode(const StandinClient& Library, std::int64_t Size, int TimeoutMs) {
  std::int64_t Result = -1;
  WaitUntil([&] { return (Result = Library.Fire("decode", 0, Size)) != -1; }, TimeoutMs);
  return Result;
}

std::vector<std::string> TakeLogMessages() {
  std::vector<std::string> Messages;
  std::istringstream Lines(Win::Test::TakeDebugOutput());
  std::string Line;
  while (std::getline(Lines, Line)) {
    const std::size_t At = Line.find("| ");
    if (At != std::string::npos) Messages.push_back(Line.substr(At + 2));
  }
  return Messages;
}

std::vector<std::vector<std::uint8_t>> PicturesOf(const zrv::SyntheticStream& Stream) {
  std::vector<std::vector<std::uint8_t>> Pictures;
  for (const zrv::Frame& F : Stream.frames) {
    zrv::Packet Packet;
    std::size_t Used = 0;
    if (zrv::ParsePacket(F.bytes.data(), F.bytes.size(), Packet, Used) != zrv::ParseResult::kPacket) continue;
    std::vector<std::uint8_t> Yuv;
    if (Packet.kind != zrv::kAudio && zrv::DecodeVideo(Packet, Yuv)) Pictures.push_back(std::move(Yuv));
  }
  return Pictures;
}
