// Stand-in player core (see StandinPlayer.h).
#include "StandinPlayer.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "StandinKit.h"

namespace kit {

using Clock = std::chrono::steady_clock;

Player::~Player() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();
    else
      thread_.join();
  }
}

bool Player::OpenStream(const std::uint8_t* head, std::size_t headSize, std::size_t bufferBytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_) return false;
  open_ = true;
  file_ = false;
  capacity_ = bufferBytes;
  buffer_.clear();
  readPos_ = 0;
  paramsKnown_ = zrv::ParseStreamHead(head, headSize, params_);
  hasAudio_ = paramsKnown_ && params_.audio;
  return true;
}

bool Player::OpenFile(const std::string& path) {
  std::vector<std::uint8_t> data;
  zrv::StreamParams params;
  if (!zrv::ReadFile(path, data) || !zrv::ParseStreamHead(data.data(), data.size(), params)) return false;
  std::vector<FilePacket> packets;
  std::size_t videoCount = 0;
  std::size_t pos = zrv::kStreamHeadSize;
  while (pos < data.size()) {
    zrv::Packet packet;
    std::size_t used = 0;
    zrv::ParseResult r = zrv::ParsePacket(data.data() + pos, data.size() - pos, packet, used);
    if (r == zrv::ParseResult::kNeedMore) break;
    if (r == zrv::ParseResult::kPacket) {
      bool video = packet.kind != zrv::kAudio;
      packets.push_back({pos, used, video});
      if (video) ++videoCount;
    }
    pos += used;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_) return false;
  open_ = true;
  file_ = true;
  params_ = params;
  paramsKnown_ = true;
  hasAudio_ = params.audio;
  fileData_ = std::move(data);
  filePackets_ = std::move(packets);
  fileVideoCount_ = videoCount;
  fileIndex_ = 0;
  return true;
}

bool Player::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

bool Player::IsFile() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_ && file_;
}

void Player::Close() {
  std::unique_lock<std::mutex> lock(mutex_);
  playing_ = false;
  WaitIdle(lock);
  // The decoding thread ends with the stream (a closed player keeps no thread).
  if (thread_.joinable()) {
    ++generation_;  // the running thread sees it is no longer current and ends
    wake_.notify_all();
    std::thread thread = std::move(thread_);
    lock.unlock();
    if (thread.get_id() == std::this_thread::get_id())
      thread.detach();
    else
      thread.join();
    lock.lock();
  }
  open_ = file_ = paused_ = sound_ = false;
  steps_ = speedLevel_ = 0;
  wnd_ = 0;
  params_ = zrv::StreamParams();
  hasAudio_ = paramsKnown_ = false;
  capacity_ = 0;
  buffer_.clear();
  buffer_.shrink_to_fit();
  readPos_ = 0;
  fileData_.clear();
  fileData_.shrink_to_fit();
  filePackets_.clear();
  fileVideoCount_ = fileIndex_ = 0;
  decoded_ = displayed_ = drawn_ = audio_ = playedAudio_ = bad_ = 0;
  playedFrames_ = 0;
  last_ = Picture();
}

bool Player::Input(const std::uint8_t* data, std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_ || file_ || (data == nullptr && size > 0)) return false;
  if (readPos_ > 0 && readPos_ >= buffer_.size() / 2) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(readPos_));
    readPos_ = 0;
  }
  if (buffer_.size() - readPos_ + size > capacity_) return false;
  buffer_.insert(buffer_.end(), data, data + size);
  wake_.notify_all();
  return true;
}

std::size_t Player::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return buffer_.size() - readPos_;
}

void Player::ResetBuffer() {
  std::lock_guard<std::mutex> lock(mutex_);
  buffer_.clear();
  readPos_ = 0;
}

void Player::EnsureThread() {
  if (!thread_.joinable()) thread_ = std::thread([this, gen = generation_] { Run(gen); });
}

bool Player::Play(std::uint32_t wnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return false;
  wnd_ = wnd;
  playing_ = true;
  paused_ = false;
  EnsureThread();
  wake_.notify_all();
  return true;
}

bool Player::Stop() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!open_) return false;
  playing_ = false;
  paused_ = false;
  steps_ = 0;
  if (file_) fileIndex_ = 0;
  WaitIdle(lock);
  return true;
}

void Player::WaitIdle(std::unique_lock<std::mutex>& lock) {
  wake_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
    idle_.wait(lock, [this] { return !busy_; });
}

bool Player::Pause(bool pause) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return false;
  paused_ = pause;
  wake_.notify_all();
  return true;
}

bool Player::Fast() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return false;
  speedLevel_ = std::min(4, speedLevel_ + 1);
  wake_.notify_all();
  return true;
}

bool Player::Slow() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return false;
  speedLevel_ = std::max(-4, speedLevel_ - 1);
  wake_.notify_all();
  return true;
}

bool Player::OneByOne() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return false;
  paused_ = true;
  ++steps_;
  wake_.notify_all();
  return true;
}

std::size_t Player::VideoIndexOf(std::size_t packetIndex) const {
  std::size_t n = 0;
  for (std::size_t i = 0; i < packetIndex && i < filePackets_.size(); ++i)
    if (filePackets_[i].video) ++n;
  return n;
}

std::size_t Player::PacketIndexOfVideo(std::size_t videoIndex) const {
  std::size_t n = 0;
  for (std::size_t i = 0; i < filePackets_.size(); ++i) {
    if (!filePackets_[i].video) continue;
    if (n == videoIndex) return i;
    ++n;
  }
  return filePackets_.size();
}

bool Player::SetPos(double pos) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_ || !file_ || !(pos >= 0.0 && pos <= 1.0)) return false;
  fileIndex_ = PacketIndexOfVideo(static_cast<std::size_t>(std::floor(pos * fileVideoCount_)));
  wake_.notify_all();
  return true;
}

double Player::Pos() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_ || !file_ || fileVideoCount_ == 0) return 0.0;
  return static_cast<double>(VideoIndexOf(fileIndex_)) / static_cast<double>(fileVideoCount_);
}

bool Player::SetPlayedTimeMs(std::uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_ || !file_) return false;
  std::size_t frame = static_cast<std::size_t>(static_cast<std::uint64_t>(ms) * params_.fps / 1000);
  if (frame > fileVideoCount_) return false;
  fileIndex_ = PacketIndexOfVideo(frame);
  wake_.notify_all();
  return true;
}

std::uint32_t Player::FileTimeSeconds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_ || !file_) return 0;
  return static_cast<std::uint32_t>(fileVideoCount_ / static_cast<std::size_t>(params_.fps));
}

std::uint32_t Player::PlayedTimeMs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return 0;
  std::size_t frames = file_ ? VideoIndexOf(fileIndex_) : playedFrames_;
  return static_cast<std::uint32_t>(frames * 1000 / static_cast<std::size_t>(std::max(1, params_.fps)));
}

std::uint32_t Player::PlayedFrames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return playedFrames_;
}

std::uint32_t Player::TotalFrames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_ && file_ ? static_cast<std::uint32_t>(fileVideoCount_) : 0;
}

std::uint32_t Player::FrameRate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return 0;
  double rate = params_.fps * std::pow(2.0, speedLevel_);
  return static_cast<std::uint32_t>(std::max(1.0, rate));
}

std::uint32_t Player::CurrentFrameNum() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return 0;
  return file_ ? static_cast<std::uint32_t>(VideoIndexOf(fileIndex_)) : playedFrames_;
}

void Player::SetSound(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  sound_ = on;
}

bool Player::Sound() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sound_;
}

bool Player::HasAudio() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return hasAudio_;
}

bool Player::Playing() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return playing_;
}

std::uint32_t Player::Window() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wnd_;
}

zrv::StreamParams Player::Params() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return params_;
}

std::uint64_t Player::DecodedFrames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return decoded_;
}
std::uint64_t Player::DisplayedFrames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return displayed_;
}
std::uint64_t Player::DrawnFrames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return drawn_;
}
std::uint64_t Player::AudioPackets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return audio_;
}
std::uint64_t Player::PlayedAudioPackets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return playedAudio_;
}
std::uint64_t Player::BadPackets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bad_;
}

bool Player::LastPicture(Picture& picture) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (last_.yuv.empty()) return false;
  picture = last_;
  return true;
}

void Player::SetDecodedHook(PictureHook hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  decodedHook_ = std::move(hook);
}
void Player::SetDisplayedHook(PictureHook hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  displayedHook_ = std::move(hook);
}
void Player::SetAudioHook(AudioHook hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  audioHook_ = std::move(hook);
}

// Shows a picture: draw into the window, then the displayed hook. Called with the lock held;
// releases it around the drawing and the hook.
void Player::Present(const Picture& picture, std::unique_lock<std::mutex>& lock) {
  std::uint32_t wnd = wnd_;
  PictureHook hook = displayedHook_;
  lock.unlock();
  bool drawn = wnd != 0 && Option("player.draw", 1) != 0 && DrawYuv(wnd, picture.yuv.data(), picture.width, picture.height);
  if (hook) hook(picture);
  lock.lock();
  ++displayed_;
  if (drawn) ++drawn_;
}

// Decodes one packet's bytes. Called with the lock held and busy_ set.
void Player::Process(const std::vector<std::uint8_t>& bytes, std::unique_lock<std::mutex>& lock) {
  zrv::Packet packet;
  std::size_t used = 0;
  if (zrv::ParsePacket(bytes.data(), bytes.size(), packet, used) != zrv::ParseResult::kPacket) {
    ++bad_;
    return;
  }
  if (packet.kind == zrv::kAudio) {
    ++audio_;
    if (!sound_) return;
    ++playedAudio_;
    AudioHook hook = audioHook_;
    lock.unlock();
    if (hook) hook(packet.payload, packet.payloadSize);
    lock.lock();
    return;
  }
  Picture picture;
  lock.unlock();
  bool ok = zrv::DecodeVideo(packet, picture.yuv);
  lock.lock();
  if (!ok) {
    ++bad_;
    return;
  }
  picture.width = packet.width;
  picture.height = packet.height;
  picture.stampMs = packet.stampMs;
  picture.frameNo = static_cast<std::uint32_t>(decoded_);
  ++playedFrames_;
  PictureHook hook = decodedHook_;
  lock.unlock();
  if (hook) hook(picture);
  lock.lock();
  Present(picture, lock);
  last_ = std::move(picture);
  // Counted once the picture is kept: a caller that sees the count may ask for it at once.
  ++decoded_;
}

void Player::Run(std::uint64_t generation) {
  std::unique_lock<std::mutex> lock(mutex_);
  Clock::time_point due = Clock::now();
  while (!quit_ && generation == generation_) {
    std::int64_t refreshMs = Option("display.refreshms", 0);
    auto idleWait = [&] {
      if (refreshMs > 0 && playing_ && !last_.yuv.empty()) {
        if (wake_.wait_for(lock, std::chrono::milliseconds(refreshMs)) == std::cv_status::timeout && playing_ &&
            !quit_ && !last_.yuv.empty()) {
          busy_ = true;
          Picture picture = last_;
          Present(picture, lock);
          busy_ = false;
          idle_.notify_all();
        }
      } else {
        wake_.wait_for(lock, std::chrono::milliseconds(200));
      }
    };
    bool stepping = paused_ && steps_ > 0;
    if (!open_ || !playing_ || (paused_ && !stepping)) {
      idleWait();
      continue;
    }
    std::vector<std::uint8_t> bytes;
    bool video = false;
    if (file_) {
      if (fileIndex_ >= filePackets_.size()) {
        idleWait();
        continue;
      }
      const FilePacket& fp = filePackets_[fileIndex_];
      video = fp.video;
      if (video && !stepping && Option("player.filepace", 1) != 0) {
        Clock::time_point now = Clock::now();
        if (now < due) {
          wake_.wait_until(lock, due);
          continue;  // state may have changed meanwhile
        }
        double interval = 1000.0 / params_.fps / std::pow(2.0, speedLevel_);
        due = std::max(due, now - std::chrono::milliseconds(100)) +
              std::chrono::microseconds(static_cast<std::int64_t>(interval * 1000));
      }
      bytes.assign(fileData_.begin() + static_cast<std::ptrdiff_t>(fp.offset),
                   fileData_.begin() + static_cast<std::ptrdiff_t>(fp.offset + fp.size));
      ++fileIndex_;
    } else {
      zrv::Packet packet;
      std::size_t used = 0;
      zrv::ParseResult r =
          zrv::ParsePacket(buffer_.data() + readPos_, buffer_.size() - readPos_, packet, used);
      if (r == zrv::ParseResult::kNeedMore) {
        idleWait();
        continue;
      }
      if (r == zrv::ParseResult::kSkip) {
        readPos_ += used;
        ++bad_;
        continue;
      }
      video = packet.kind != zrv::kAudio;
      bytes.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(readPos_),
                   buffer_.begin() + static_cast<std::ptrdiff_t>(readPos_ + used));
      readPos_ += used;
    }
    if (stepping && video) --steps_;
    busy_ = true;
    Process(bytes, lock);
    busy_ = false;
    idle_.notify_all();
  }
}

PlayerTable::PlayerTable(int size) {
  players_.reserve(static_cast<std::size_t>(size));
  for (int i = 0; i < size; ++i) players_.push_back(std::make_unique<Player>(i));
  OnReset([this] { CloseAll(); });
}

Player* PlayerTable::Get(std::int64_t port) {
  if (port < 0 || port >= static_cast<std::int64_t>(players_.size())) return nullptr;
  return players_[static_cast<std::size_t>(port)].get();
}

void PlayerTable::CloseAll() {
  for (auto& p : players_) p->Close();
}

}  // namespace kit
