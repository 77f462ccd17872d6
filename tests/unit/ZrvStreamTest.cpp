// The ZRV stream format the stand-in players decode: round trips, damaged input, BMP layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "ZrvStream.h"

namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

TEST(ZrvStream, HeadRoundTripAndSoundByte) {
  zrv::StreamParams p;
  p.width = 176;
  p.height = 144;
  p.fps = 12;
  p.audio = true;
  p.totalFrames = 9;
  std::vector<std::uint8_t> head = zrv::MakeStreamHead(p);
  ASSERT_EQ(head.size(), 40u);
  EXPECT_EQ(head[16], 3);
  zrv::StreamParams q;
  ASSERT_TRUE(zrv::ParseStreamHead(head.data(), head.size(), q));
  EXPECT_EQ(q.width, 176);
  EXPECT_EQ(q.height, 144);
  EXPECT_EQ(q.fps, 12);
  EXPECT_TRUE(q.audio);
  EXPECT_EQ(q.totalFrames, 9u);
  EXPECT_FALSE(zrv::ParseStreamHead(head.data(), 39, q));
  p.audio = false;
  EXPECT_EQ(zrv::MakeStreamHead(p)[16], 1);
}

TEST(ZrvStream, VideoPacketsDecodeToThePicture) {
  for (zrv::Coding coding : {zrv::kRaw, zrv::kPackBits}) {
    std::vector<std::uint8_t> yuv(zrv::PictureBytes(64, 48));
    zrv::DrawPattern(yuv.data(), 64, 48, 7);
    std::vector<std::uint8_t> bytes = zrv::MakeVideoPacket(yuv.data(), 64, 48, true, coding, 280, 5);
    zrv::Packet packet;
    std::size_t used = 0;
    ASSERT_EQ(zrv::ParsePacket(bytes.data(), bytes.size(), packet, used), zrv::ParseResult::kPacket);
    EXPECT_EQ(used, bytes.size());
    EXPECT_EQ(packet.stampMs, 280u);
    EXPECT_EQ(packet.seq, 5u);
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(zrv::DecodeVideo(packet, out));
    EXPECT_EQ(out, yuv);
    // Every truncation asks for more bytes instead of reading past the end.
    for (std::size_t n = 0; n < bytes.size(); n += 7)
      EXPECT_EQ(zrv::ParsePacket(bytes.data(), n, packet, used), zrv::ParseResult::kNeedMore) << n;
  }
}

TEST(ZrvStream, GarbageAndLyingSizesAreSkipped) {
  std::vector<std::uint8_t> yuv(zrv::PictureBytes(16, 16), 90);
  std::vector<std::uint8_t> good = zrv::MakeVideoPacket(yuv.data(), 16, 16, true, zrv::kRaw, 0, 0);
  const std::uint8_t junk[] = {1, 2, 3, 'Z', 'R'};
  std::vector<std::uint8_t> stream(sizeof junk + good.size());
  std::copy(std::begin(junk), std::end(junk), stream.begin());
  std::copy(good.begin(), good.end(), stream.begin() + sizeof junk);
  zrv::Packet packet;
  std::size_t used = 0;
  ASSERT_EQ(zrv::ParsePacket(stream.data(), stream.size(), packet, used), zrv::ParseResult::kSkip);
  EXPECT_EQ(used, 5u);

  std::vector<std::uint8_t> lying = good;
  lying[6] = 32;  // width 32, but the raw payload holds a 16 x 16 picture
  ASSERT_EQ(zrv::ParsePacket(lying.data(), lying.size(), packet, used), zrv::ParseResult::kSkip);

  std::vector<std::uint8_t> coded = zrv::MakeVideoPacket(yuv.data(), 16, 16, true, zrv::kPackBits, 0, 0);
  coded[6] = 32;  // coded payload too short for 32 x 16
  ASSERT_EQ(zrv::ParsePacket(coded.data(), coded.size(), packet, used), zrv::ParseResult::kPacket);
  std::vector<std::uint8_t> out;
  EXPECT_FALSE(zrv::DecodeVideo(packet, out));
}

TEST(ZrvStream, PackBitsRejectsOverruns) {
  std::vector<std::uint8_t> data = {0, 0, 0, 0, 5, 6, 7, 7, 7, 7, 7, 1};
  std::vector<std::uint8_t> coded = zrv::PackBitsEncode(data.data(), data.size());
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(zrv::PackBitsDecode(coded.data(), coded.size(), data.size(), out));
  EXPECT_EQ(out, data);
  EXPECT_FALSE(zrv::PackBitsDecode(coded.data(), coded.size(), data.size() - 1, out));
  EXPECT_FALSE(zrv::PackBitsDecode(coded.data(), coded.size() - 1, data.size(), out));
  std::uint8_t run[] = {0x81};  // a run without its byte
  EXPECT_FALSE(zrv::PackBitsDecode(run, 1, 128, out));
}

TEST(ZrvStream, BmpLayout) {
  // 2 x 2 picture: grey luma 126 and neutral chroma give RGB 128,128,128 (BT.601 limited range).
  std::vector<std::uint8_t> yuv = {126, 126, 126, 126, 128, 128};
  std::vector<std::uint8_t> bmp = zrv::MakeBmp(yuv.data(), 2, 2);
  ASSERT_EQ(bmp.size(), 54u + 2 * 8);  // rows of 6 bytes padded to 8
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(U32(bmp, 2), bmp.size());
  EXPECT_EQ(U32(bmp, 10), 54u);
  EXPECT_EQ(U32(bmp, 14), 40u);
  EXPECT_EQ(U32(bmp, 18), 2u);
  EXPECT_EQ(U32(bmp, 22), 2u);
  EXPECT_EQ(bmp[28], 24);
  EXPECT_EQ(bmp[54], 128);
  EXPECT_EQ(bmp[60], 0);  // padding
}

TEST(ZrvStream, SyntheticStreamHasOneAudioPacketPerPicture) {
  zrv::StreamParams p;
  p.width = 32;
  p.height = 32;
  p.audio = true;
  zrv::SyntheticStream s = zrv::MakeSyntheticStream(p, 4, zrv::kPackBits, 2);
  ASSERT_EQ(s.frames.size(), 8u);
  EXPECT_EQ(s.frames[0].frameType, 2);
  EXPECT_EQ(s.frames[1].frameType, 7);
  EXPECT_EQ(s.frames[2].frameType, 4);
  EXPECT_EQ(s.frames[4].frameType, 2);
  EXPECT_NE(s.frames[0].bytes, s.frames[2].bytes);  // the pattern moves
}

}  // namespace
