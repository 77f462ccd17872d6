// ZRV stream format: the one simple audio/video stream every stand-in player library decodes.
//
// It exists so the stand-ins can show real moving pictures and deliver real YUV 4:2:0 pictures
// in both builds (Win32 has no libavcodec), without any vendor codec.
//
// A stream is a stream head followed by packets. All numbers are little-endian.
//
// Stream head (kStreamHeadSize = 40 bytes; the Hikvision player's file head size):
//   0  4  magic "ZRVS"
//   4  2  version (1)
//   6  2  head length (40)
//   8  2  width of the pictures (even, 2..4096)
//  10  2  height (even, 2..4096)
//  12  2  frame rate in frames per second (1..200)
//  14  2  audio sample rate in Hz (8000 when the stream carries sound, else 0)
//  16  1  system format: 3 = video and audio, 1 = video only (players read "3" as "has sound")
//  17  1  reserved (0)
//  18  2  reserved (0)
//  20  4  total number of video frames (files), 0 = live stream of unknown length
//  24 16  reserved (0)
//
// Packet (kPacketHeadSize = 24 bytes of head, then the payload):
//   0  4  magic "ZRVP"
//   4  1  kind: 1 = video key picture, 2 = video picture, 7 = audio
//   5  1  coding: 0 = raw, 1 = PackBits run-length coded
//   6  2  width (video; 0 for audio)
//   8  2  height (video; 0 for audio)
//  10  2  reserved (0)
//  12  4  payload length in bytes (at most kMaxPayload)
//  16  4  time stamp in milliseconds
//  20  4  sequence number
// Video payload: one planar YUV 4:2:0 picture, I420 order (Y plane width*height bytes, then U
// and V, each (width/2)*(height/2)), raw or PackBits coded as a whole. Audio payload: 16-bit
// signed mono PCM at the stream's sample rate, raw.
//
// PackBits: a control byte n; 0..127 = n+1 literal bytes follow; 129..255 = the next byte
// repeated 257-n times; 128 = no-op.
//
// A decoder skips bytes up to the next "ZRVP" when it meets anything else, and rejects packets
// whose sizes disagree (a raw picture whose payload is not exactly width*height*3/2, a coded
// one that does not decode to exactly that size).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zrv {

constexpr std::size_t kStreamHeadSize = 40;
constexpr std::size_t kPacketHeadSize = 24;
constexpr std::uint32_t kMaxPayload = 32u * 1024 * 1024;
constexpr int kMaxDimension = 4096;
constexpr std::uint8_t kSystemVideoAudio = 3;
constexpr std::uint8_t kSystemVideoOnly = 1;

enum PacketKind : std::uint8_t { kVideoKey = 1, kVideo = 2, kAudio = 7 };
enum Coding : std::uint8_t { kRaw = 0, kPackBits = 1 };

struct StreamParams {
  int width = 352;
  int height = 288;
  int fps = 25;
  bool audio = false;
  std::uint32_t totalFrames = 0;
};

// Bytes of one 4:2:0 picture of the given size.
inline std::size_t PictureBytes(int width, int height) {
  return static_cast<std::size_t>(width) * height + 2 * (static_cast<std::size_t>(width / 2) * (height / 2));
}
inline bool ValidDimensions(int width, int height) {
  return width >= 2 && height >= 2 && width <= kMaxDimension && height <= kMaxDimension &&
         width % 2 == 0 && height % 2 == 0;
}

std::vector<std::uint8_t> MakeStreamHead(const StreamParams& params);
// Reads a stream head; false when the bytes are not one (too short, wrong magic, bad values).
bool ParseStreamHead(const std::uint8_t* data, std::size_t size, StreamParams& params);

struct Packet {
  std::uint8_t kind = 0;
  std::uint8_t coding = 0;
  int width = 0;
  int height = 0;
  std::uint32_t stampMs = 0;
  std::uint32_t seq = 0;
  const std::uint8_t* payload = nullptr;
  std::uint32_t payloadSize = 0;
};

enum class ParseResult { kPacket, kNeedMore, kSkip };
// Looks at the bytes at data. kPacket: `packet` describes one whole packet of `consumed`
// bytes. kNeedMore: a packet starts here but is incomplete. kSkip: `consumed` bytes are not a
// packet (garbage up to the next magic, or a packet head with impossible sizes) and are to be
// dropped.
ParseResult ParsePacket(const std::uint8_t* data, std::size_t size, Packet& packet, std::size_t& consumed);

// Decodes a video packet into a 4:2:0 picture of packet.width x packet.height. False when
// the packet is not a well-formed video packet.
bool DecodeVideo(const Packet& packet, std::vector<std::uint8_t>& yuv);

std::vector<std::uint8_t> MakeVideoPacket(const std::uint8_t* yuv, int width, int height, bool key,
                                          Coding coding, std::uint32_t stampMs, std::uint32_t seq);
std::vector<std::uint8_t> MakeAudioPacket(const std::int16_t* pcm, std::size_t samples,
                                          std::uint32_t stampMs, std::uint32_t seq);

std::vector<std::uint8_t> PackBitsEncode(const std::uint8_t* data, std::size_t size);
// Decodes into exactly `expected` bytes; false when the input does not make exactly that many.
bool PackBitsDecode(const std::uint8_t* data, std::size_t size, std::size_t expected,
                    std::vector<std::uint8_t>& out);

// The synthetic test picture: blocks moving right by 4 pixels per frame over a vertical luma
// ramp, a white square moving diagonally, colour changing with the frame number.
void DrawPattern(std::uint8_t* yuv, int width, int height, int frameNo);

// A whole synthetic stream, as a host would receive it frame by frame.
struct Frame {
  std::uint8_t frameType;  // frame type of the host's frame head: 2 key picture, 4 picture, 7 audio
  std::vector<std::uint8_t> bytes;
};
struct SyntheticStream {
  StreamParams params;
  std::vector<std::uint8_t> head;  // the stream head (the file head frame)
  std::vector<Frame> frames;       // packets in order; with audio, one audio packet per picture
  // head followed by every frame: the content of a stream file.
  std::vector<std::uint8_t> FileBytes() const;
};
// `frames` pictures; every `keyInterval`-th is a key picture.
SyntheticStream MakeSyntheticStream(const StreamParams& params, int frames, Coding coding = kPackBits,
                                    int keyInterval = 25);

// Picture helpers shared by the stand-ins: 4:2:0 to BGR (BT.601 limited range), and BMP images.
// BGR rows bottom-up, each padded to 4 bytes, as a 24-bit DIB wants them.
std::vector<std::uint8_t> YuvToDib24(const std::uint8_t* yuv, int width, int height);
// A complete BMP file image (14-byte file header, 40-byte information header, 24-bit pixels).
std::vector<std::uint8_t> MakeBmp(const std::uint8_t* yuv, int width, int height);
// Writes MakeBmp to a file. The path may use '\' separators. False on any failure.
bool WriteBmpFile(const std::string& path, const std::uint8_t* yuv, int width, int height);
// Reads a whole file; false when it cannot be read.
bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes);
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
// A path as the host file system wants it ('\' becomes '/' outside Windows).
std::string NativePath(const std::string& path);

}  // namespace zrv
