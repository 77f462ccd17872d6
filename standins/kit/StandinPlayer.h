// Stand-in player core: one player ("port") of a stand-in player library.
//
// A player plays a ZRV stream (ZrvStream.h), either fed as bytes (OpenStream + Input) or read
// from a file (OpenFile). Once Play is called it decodes on its own thread: every picture is
// reported through the decoded hook, drawn into the player's window (when it has one) and
// reported through the displayed hook; audio packets count as played while sound is on.
// Stream input is decoded as fast as it arrives; file playback runs at the stream's frame rate
// times the speed (Fast/Slow), can pause, step, seek and tell its position.
//
// Hooks run on the player's thread. Stop, Close and Reset wait until the thread is between
// packets, so no hook runs after they return (unless called from a hook itself).
//
// Options read (kit::Option):
//   "player.filepace"   1 (default) = file playback at frame rate, 0 = as fast as possible
//   "player.draw"       1 (default) = draw into the window, 0 = do not draw
//   "display.refreshms" N > 0 = while playing and idle, present the last picture again every
//                       N ms (the displayed hook runs again; nothing is decoded). 0 (default) off
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ZrvStream.h"

namespace kit {

struct Picture {
  int width = 0;
  int height = 0;
  std::uint32_t stampMs = 0;
  std::uint32_t frameNo = 0;       // decoded pictures before this one
  std::vector<std::uint8_t> yuv;   // 4:2:0, I420 order
};

class Player {
 public:
  using PictureHook = std::function<void(const Picture&)>;
  using AudioHook = std::function<void(const std::uint8_t* pcm, std::size_t bytes)>;

  explicit Player(int id) : id_(id) {}
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  int Id() const { return id_; }

  // Opens a fed stream with room for `bufferBytes` of pending input. The head is read as a
  // ZRV stream head when it is one; any other head is accepted (pictures carry their size).
  // False when the player is already open.
  bool OpenStream(const std::uint8_t* head, std::size_t headSize, std::size_t bufferBytes);
  // Opens a stream file for playback. False when open already, or the file is missing or has
  // no ZRV stream head.
  bool OpenFile(const std::string& path);
  bool IsOpen() const;
  bool IsFile() const;
  // Stops and forgets everything (hooks stay).
  void Close();

  // Appends stream bytes. False when not a fed stream, or when they do not fit the buffer.
  bool Input(const std::uint8_t* data, std::size_t size);
  std::size_t Pending() const;
  void ResetBuffer();

  // Starts (or continues) playing into `wnd` (0 = decode without drawing). False when closed.
  bool Play(std::uint32_t wnd);
  // Stops playing; pending input stays. False when closed.
  bool Stop();
  bool Pause(bool pause);
  bool Fast();
  bool Slow();
  bool OneByOne();
  bool SetPos(double pos);      // 0..1 of the file
  double Pos() const;
  bool SetPlayedTimeMs(std::uint32_t ms);
  std::uint32_t FileTimeSeconds() const;
  std::uint32_t PlayedTimeMs() const;
  std::uint32_t PlayedFrames() const;
  std::uint32_t TotalFrames() const;
  std::uint32_t FrameRate() const;   // frame rate times the speed, at least 1 when open
  std::uint32_t CurrentFrameNum() const;

  void SetSound(bool on);
  bool Sound() const;
  bool HasAudio() const;           // the stream head says the stream carries sound
  bool Playing() const;
  std::uint32_t Window() const;
  zrv::StreamParams Params() const;

  std::uint64_t DecodedFrames() const;
  std::uint64_t DisplayedFrames() const;
  std::uint64_t DrawnFrames() const;
  std::uint64_t AudioPackets() const;
  std::uint64_t PlayedAudioPackets() const;
  std::uint64_t BadPackets() const;
  bool LastPicture(Picture& picture) const;

  void SetDecodedHook(PictureHook hook);
  void SetDisplayedHook(PictureHook hook);
  void SetAudioHook(AudioHook hook);

 private:
  struct FilePacket {
    std::size_t offset;
    std::size_t size;
    bool video;
  };
  void Run(std::uint64_t generation);
  void EnsureThread();
  void WaitIdle(std::unique_lock<std::mutex>& lock);
  void Process(const std::vector<std::uint8_t>& bytes, std::unique_lock<std::mutex>& lock);
  void Present(const Picture& picture, std::unique_lock<std::mutex>& lock);
  std::size_t VideoIndexOf(std::size_t packetIndex) const;
  std::size_t PacketIndexOfVideo(std::size_t videoIndex) const;

  const int id_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::thread thread_;
  bool quit_ = false;
  std::uint64_t generation_ = 0;  // a thread runs while its generation is current
  bool busy_ = false;

  bool open_ = false;
  bool file_ = false;
  bool playing_ = false;
  bool paused_ = false;
  int steps_ = 0;
  int speedLevel_ = 0;  // speed = 2^level, -4..4
  bool sound_ = false;
  std::uint32_t wnd_ = 0;
  zrv::StreamParams params_;
  bool hasAudio_ = false;
  bool paramsKnown_ = false;

  std::size_t capacity_ = 0;
  std::vector<std::uint8_t> buffer_;
  std::size_t readPos_ = 0;

  std::vector<std::uint8_t> fileData_;
  std::vector<FilePacket> filePackets_;
  std::size_t fileVideoCount_ = 0;
  std::size_t fileIndex_ = 0;

  std::uint64_t decoded_ = 0;
  std::uint64_t displayed_ = 0;
  std::uint64_t drawn_ = 0;
  std::uint64_t audio_ = 0;
  std::uint64_t playedAudio_ = 0;
  std::uint64_t bad_ = 0;
  std::uint32_t playedFrames_ = 0;
  Picture last_;

  PictureHook decodedHook_;
  PictureHook displayedHook_;
  AudioHook audioHook_;
};

// Players by port number 0..size-1, created on first use and kept for the process's life.
// Standin_Reset closes them all.
class PlayerTable {
 public:
  explicit PlayerTable(int size);
  // nullptr when the port is outside the table.
  Player* Get(std::int64_t port);
  int Size() const { return static_cast<int>(players_.size()); }
  void CloseAll();

 private:
  std::vector<std::unique_ptr<Player>> players_;
};

}  // namespace kit
