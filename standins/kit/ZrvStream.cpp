// ZRV stream format: writing, parsing and decoding (see ZrvStream.h), plus the BMP helpers.
#include "ZrvStream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace zrv {
namespace {

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}
std::uint32_t Get16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t Get32(const std::uint8_t* p) { return Get16(p) | (Get16(p + 2) << 16); }

constexpr std::uint8_t kStreamMagic[4] = {'Z', 'R', 'V', 'S'};
constexpr std::uint8_t kPacketMagic[4] = {'Z', 'R', 'V', 'P'};

std::uint8_t Clamp255(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

std::vector<std::uint8_t> MakeStreamHead(const StreamParams& params) {
  std::vector<std::uint8_t> head(kStreamHeadSize, 0);
  std::memcpy(head.data(), kStreamMagic, 4);
  Put16(&head[4], 1);
  Put16(&head[6], kStreamHeadSize);
  Put16(&head[8], params.width);
  Put16(&head[10], params.height);
  Put16(&head[12], params.fps);
  Put16(&head[14], params.audio ? 8000 : 0);
  head[16] = params.audio ? kSystemVideoAudio : kSystemVideoOnly;
  Put32(&head[20], params.totalFrames);
  return head;
}

bool ParseStreamHead(const std::uint8_t* data, std::size_t size, StreamParams& params) {
  if (data == nullptr || size < kStreamHeadSize || std::memcmp(data, kStreamMagic, 4) != 0) return false;
  StreamParams p;
  p.width = static_cast<int>(Get16(data + 8));
  p.height = static_cast<int>(Get16(data + 10));
  p.fps = static_cast<int>(Get16(data + 12));
  p.audio = data[16] == kSystemVideoAudio;
  p.totalFrames = Get32(data + 20);
  if (!ValidDimensions(p.width, p.height) || p.fps < 1 || p.fps > 200) return false;
  params = p;
  return true;
}

ParseResult ParsePacket(const std::uint8_t* data, std::size_t size, Packet& packet, std::size_t& consumed) {
  consumed = 0;
  // Resynchronise on the packet magic.
  std::size_t start = 0;
  while (start < size) {
    std::size_t n = std::min<std::size_t>(4, size - start);
    if (std::memcmp(data + start, kPacketMagic, n) == 0) break;
    ++start;
  }
  if (start > 0) {
    consumed = start;
    return ParseResult::kSkip;
  }
  if (size < kPacketHeadSize) return ParseResult::kNeedMore;
  Packet p;
  p.kind = data[4];
  p.coding = data[5];
  p.width = static_cast<int>(Get16(data + 6));
  p.height = static_cast<int>(Get16(data + 8));
  p.payloadSize = Get32(data + 12);
  p.stampMs = Get32(data + 16);
  p.seq = Get32(data + 20);
  bool video = p.kind == kVideoKey || p.kind == kVideo;
  bool sane = p.payloadSize <= kMaxPayload && (p.kind == kAudio || video) &&
              (p.coding == kRaw || p.coding == kPackBits) &&
              (!video || ValidDimensions(p.width, p.height)) &&
              (!video || p.coding != kRaw || p.payloadSize == PictureBytes(p.width, p.height));
  if (!sane) {
    consumed = 4;  // drop the magic and look for the next packet
    return ParseResult::kSkip;
  }
  if (size - kPacketHeadSize < p.payloadSize) return ParseResult::kNeedMore;
  p.payload = data + kPacketHeadSize;
  packet = p;
  consumed = kPacketHeadSize + p.payloadSize;
  return ParseResult::kPacket;
}

bool DecodeVideo(const Packet& packet, std::vector<std::uint8_t>& yuv) {
  if ((packet.kind != kVideoKey && packet.kind != kVideo) || !ValidDimensions(packet.width, packet.height))
    return false;
  std::size_t bytes = PictureBytes(packet.width, packet.height);
  if (packet.coding == kRaw) {
    if (packet.payloadSize != bytes) return false;
    yuv.assign(packet.payload, packet.payload + bytes);
    return true;
  }
  if (packet.coding == kPackBits) return PackBitsDecode(packet.payload, packet.payloadSize, bytes, yuv);
  return false;
}

std::vector<std::uint8_t> MakeVideoPacket(const std::uint8_t* yuv, int width, int height, bool key,
                                          Coding coding, std::uint32_t stampMs, std::uint32_t seq) {
  std::size_t bytes = PictureBytes(width, height);
  std::vector<std::uint8_t> payload =
      coding == kPackBits ? PackBitsEncode(yuv, bytes) : std::vector<std::uint8_t>(yuv, yuv + bytes);
  std::vector<std::uint8_t> out(kPacketHeadSize + payload.size(), 0);
  std::memcpy(out.data(), kPacketMagic, 4);
  out[4] = key ? kVideoKey : kVideo;
  out[5] = coding;
  Put16(&out[6], width);
  Put16(&out[8], height);
  Put32(&out[12], static_cast<std::uint32_t>(payload.size()));
  Put32(&out[16], stampMs);
  Put32(&out[20], seq);
  std::copy(payload.begin(), payload.end(), out.begin() + kPacketHeadSize);
  return out;
}

std::vector<std::uint8_t> MakeAudioPacket(const std::int16_t* pcm, std::size_t samples, std::uint32_t stampMs,
                                          std::uint32_t seq) {
  std::vector<std::uint8_t> out(kPacketHeadSize + samples * 2, 0);
  std::memcpy(out.data(), kPacketMagic, 4);
  out[4] = kAudio;
  Put32(&out[12], static_cast<std::uint32_t>(samples * 2));
  Put32(&out[16], stampMs);
  Put32(&out[20], seq);
  for (std::size_t i = 0; i < samples; ++i) Put16(&out[kPacketHeadSize + 2 * i], static_cast<std::uint16_t>(pcm[i]));
  return out;
}

std::vector<std::uint8_t> PackBitsEncode(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> out;
  out.reserve(size / 4 + 16);
  std::size_t i = 0;
  while (i < size) {
    std::size_t run = 1;
    while (i + run < size && run < 128 && data[i + run] == data[i]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<std::uint8_t>(257 - run));
      out.push_back(data[i]);
      i += run;
      continue;
    }
    // Literal stretch up to the next run of three or 128 bytes.
    std::size_t start = i;
    std::size_t len = 0;
    while (i < size && len < 128) {
      if (i + 2 < size && data[i] == data[i + 1] && data[i] == data[i + 2]) break;
      ++i;
      ++len;
    }
    out.push_back(static_cast<std::uint8_t>(len - 1));
    out.insert(out.end(), data + start, data + start + len);
  }
  return out;
}

bool PackBitsDecode(const std::uint8_t* data, std::size_t size, std::size_t expected, std::vector<std::uint8_t>& out) {
  out.resize(expected);
  std::size_t o = 0;
  std::size_t i = 0;
  while (i < size) {
    std::uint8_t n = data[i++];
    if (n < 128) {
      std::size_t len = n + 1u;
      if (i + len > size || o + len > expected) return false;
      std::memcpy(&out[o], data + i, len);
      i += len;
      o += len;
    } else if (n > 128) {
      std::size_t len = 257u - n;
      if (i >= size || o + len > expected) return false;
      std::memset(&out[o], data[i++], len);
      o += len;
    }
  }
  return o == expected;
}

void DrawPattern(std::uint8_t* yuv, int width, int height, int frameNo) {
  std::uint8_t* y = yuv;
  std::uint8_t* u = yuv + static_cast<std::size_t>(width) * height;
  std::uint8_t* v = u + static_cast<std::size_t>(width / 2) * (height / 2);
  int shift = frameNo * 4;
  int box = std::max(8, std::min(width, height) / 6) & ~1;
  int bx = (frameNo * 6) % std::max(1, width - box);
  int by = (frameNo * 4) % std::max(1, height - box);
  for (int row = 0; row < height; ++row) {
    std::uint8_t ramp = static_cast<std::uint8_t>(32 + row * 160 / height);
    for (int col = 0; col < width; ++col) {
      bool block = (((col + shift) / 16) & 1) != 0;
      std::uint8_t value = block ? static_cast<std::uint8_t>(ramp + 40) : ramp;
      if (col >= bx && col < bx + box && row >= by && row < by + box) value = 235;
      y[static_cast<std::size_t>(row) * width + col] = value;
    }
  }
  int cw = width / 2;
  int ch = height / 2;
  for (int row = 0; row < ch; ++row) {
    for (int col = 0; col < cw; ++col) {
      bool band = ((col * 2 + shift) / 64) & 1;
      u[static_cast<std::size_t>(row) * cw + col] = static_cast<std::uint8_t>(band ? 128 + (frameNo * 3) % 64 : 96);
      v[static_cast<std::size_t>(row) * cw + col] = static_cast<std::uint8_t>(band ? 160 : 128 - (frameNo * 5) % 64);
    }
  }
}

std::vector<std::uint8_t> SyntheticStream::FileBytes() const {
  std::vector<std::uint8_t> out = head;
  for (const Frame& f : frames) out.insert(out.end(), f.bytes.begin(), f.bytes.end());
  return out;
}

SyntheticStream MakeSyntheticStream(const StreamParams& params, int frames, Coding coding, int keyInterval) {
  SyntheticStream s;
  s.params = params;
  s.params.totalFrames = static_cast<std::uint32_t>(std::max(0, frames));
  s.head = MakeStreamHead(s.params);
  std::vector<std::uint8_t> yuv(PictureBytes(params.width, params.height));
  std::uint32_t seq = 0;
  int samplesPerFrame = 8000 / std::max(1, params.fps);
  std::vector<std::int16_t> pcm(static_cast<std::size_t>(samplesPerFrame));
  for (int i = 0; i < frames; ++i) {
    std::uint32_t stamp = static_cast<std::uint32_t>(i * 1000 / std::max(1, params.fps));
    DrawPattern(yuv.data(), params.width, params.height, i);
    bool key = keyInterval <= 1 || i % keyInterval == 0;
    s.frames.push_back({static_cast<std::uint8_t>(key ? 2 : 4),
                        MakeVideoPacket(yuv.data(), params.width, params.height, key, coding, stamp, seq++)});
    if (params.audio) {
      for (int k = 0; k < samplesPerFrame; ++k)
        pcm[k] = static_cast<std::int16_t>(8000 * std::sin(2 * 3.14159265 * 440.0 * (i * samplesPerFrame + k) / 8000.0));
      s.frames.push_back({7, MakeAudioPacket(pcm.data(), pcm.size(), stamp, seq++)});
    }
  }
  return s;
}

std::vector<std::uint8_t> YuvToDib24(const std::uint8_t* yuv, int width, int height) {
  std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
  std::vector<std::uint8_t> dib(stride * height, 0);
  const std::uint8_t* yp = yuv;
  const std::uint8_t* up = yuv + static_cast<std::size_t>(width) * height;
  const std::uint8_t* vp = up + static_cast<std::size_t>(width / 2) * (height / 2);
  for (int row = 0; row < height; ++row) {
    std::uint8_t* out = &dib[stride * (height - 1 - row)];
    for (int col = 0; col < width; ++col) {
      int c = yp[static_cast<std::size_t>(row) * width + col] - 16;
      std::size_t ci = static_cast<std::size_t>(row / 2) * (width / 2) + col / 2;
      int d = up[ci] - 128;
      int e = vp[ci] - 128;
      out[col * 3 + 0] = Clamp255((298 * c + 516 * d + 128) >> 8);            // B
      out[col * 3 + 1] = Clamp255((298 * c - 100 * d - 208 * e + 128) >> 8);  // G
      out[col * 3 + 2] = Clamp255((298 * c + 409 * e + 128) >> 8);            // R
    }
  }
  return dib;
}

std::vector<std::uint8_t> MakeBmp(const std::uint8_t* yuv, int width, int height) {
  std::vector<std::uint8_t> dib = YuvToDib24(yuv, width, height);
  std::vector<std::uint8_t> bmp(54 + dib.size(), 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  Put32(&bmp[2], static_cast<std::uint32_t>(bmp.size()));
  Put32(&bmp[10], 54);
  Put32(&bmp[14], 40);
  Put32(&bmp[18], static_cast<std::uint32_t>(width));
  Put32(&bmp[22], static_cast<std::uint32_t>(height));
  Put16(&bmp[26], 1);
  Put16(&bmp[28], 24);
  Put32(&bmp[34], static_cast<std::uint32_t>(dib.size()));
  std::copy(dib.begin(), dib.end(), bmp.begin() + 54);
  return bmp;
}

bool WriteBmpFile(const std::string& path, const std::uint8_t* yuv, int width, int height) {
  if (yuv == nullptr || !ValidDimensions(width, height)) return false;
  return WriteFile(path, MakeBmp(yuv, width, height));
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(NativePath(path).c_str(), "rb");
  if (f == nullptr) return false;
  bytes.clear();
  std::uint8_t chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(NativePath(path).c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

std::string NativePath(const std::string& path) {
#ifdef _WIN32
  return path;
#else
  std::string out = path;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
#endif
}

}  // namespace zrv
