// zorv_mksamples: writes the sample MPEG-4 video streams used by tests, benchmarks and the demo.
//
// For each sample <name> it writes into the output directory:
//   <name>.m4v  the elementary stream: the configuration header (visual object sequence, object
//               and object layer headers), then every coded picture in stream order;
//   <name>.idx  the frame index: a first line "width height fps frames", then one line per
//               unit of the stream, "<kind> <offset> <length>", kind H for the configuration
//               header (fed as the file head) and I, P or B for a coded picture;
//   <name>.sum  what a plain libavcodec decoder gives when opened with the header and fed the
//               pictures one by one (no draining at the end): one line per picture,
//               "<width> <height> <fnv1a-64 of the even-sized Y, Cb, Cr planes>", for builds
//               that cannot compute it themselves (Win32: no encoder, decoder in run-time DLLs).
//
// The pictures are synthetic (scrolling gradient, moving boxes, light deterministic noise) and
// the encoder runs on one thread in bit-exact mode, so every run writes identical bytes.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Sample {
  const char* name;
  int width, height, fps, frames, bitRate, gop, bFrames;
};

// CIF and D1 as surveillance recorders send them, one stream with B pictures, one of odd width.
constexpr Sample kSamples[] = {
    {"cif", 352, 288, 25, 100, 384000, 25, 0},
    {"cif_bframes", 352, 288, 25, 75, 384000, 25, 2},
    {"d1", 704, 576, 25, 75, 900000, 25, 0},
    {"odd353", 353, 288, 25, 50, 384000, 25, 0},
};

struct Unit {
  char kind;
  std::size_t offset, length;
};

std::uint64_t Fnv1a(std::uint64_t h, const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= 0x100000001b3ULL;
  }
  return h;
}

// Checksum of a decoded picture as the library hands it out: even width and height, the luma
// plane then Cb then Cr, each row cut to the plane's even width.
std::uint64_t PictureChecksum(const AVFrame* f) {
  const int w = f->width / 2 * 2, h = f->height / 2 * 2;
  std::uint64_t sum = 0xcbf29ce484222325ULL;
  for (int y = 0; y < h; ++y) sum = Fnv1a(sum, f->data[0] + y * f->linesize[0], w);
  for (int plane = 1; plane <= 2; ++plane)
    for (int y = 0; y < h / 2; ++y) sum = Fnv1a(sum, f->data[plane] + y * f->linesize[plane], w / 2);
  return sum;
}

void FillPicture(AVFrame* f, int n, std::uint32_t& seed) {
  const int w = f->width, h = f->height;
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = f->data[0] + y * f->linesize[0];
    for (int x = 0; x < w; ++x) {
      seed = seed * 1103515245u + 12345u;
      int v = 48 + ((x + y + 3 * n) % 160) + int((seed >> 16) % 7) - 3;
      row[x] = std::uint8_t(v);
    }
  }
  // Two boxes: one slides across, one bounces up and down.
  auto box = [&](int bx, int by, int bw, int bh, int luma, int cb, int cr) {
    for (int y = std::max(by, 0); y < std::min(by + bh, h); ++y)
      for (int x = std::max(bx, 0); x < std::min(bx + bw, w); ++x) {
        f->data[0][y * f->linesize[0] + x] = std::uint8_t(luma + ((x - bx) / 8 + (y - by) / 8) % 2 * 20);
        f->data[1][(y / 2) * f->linesize[1] + x / 2] = std::uint8_t(cb);
        f->data[2][(y / 2) * f->linesize[2] + x / 2] = std::uint8_t(cr);
      }
  };
  const int cw = (w + 1) / 2, ch = (h + 1) / 2;
  for (int y = 0; y < ch; ++y)
    for (int x = 0; x < cw; ++x) {
      f->data[1][y * f->linesize[1] + x] = std::uint8_t(128 + ((x + n) % 64) - 32);
      f->data[2][y * f->linesize[2] + x] = std::uint8_t(128 + ((y + 2 * n) % 48) - 24);
    }
  const int period = 2 * (h - h / 4);
  const int phase = (7 * n) % period;
  box((5 * n) % (w + w / 5) - w / 5, h / 6, w / 5, h / 6, 200, 90, 170);
  box(w / 2, phase < period / 2 ? phase : period - phase, w / 6, h / 4, 100, 170, 100);
}

char PictureKind(const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i + 4 < n; ++i)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB6) return "IPBS"[p[i + 4] >> 6];
  return '?';
}

bool WriteFile(const std::string& path, const void* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(static_cast<const char*>(data), std::streamsize(size));
  return bool(out);
}

bool Encode(const Sample& s, std::vector<std::uint8_t>& stream, std::vector<Unit>& units) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (!codec) return false;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = s.width;
  c->height = s.height;
  c->time_base = AVRational{1, s.fps};
  c->framerate = AVRational{s.fps, 1};
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->bit_rate = s.bitRate;
  c->gop_size = s.gop;
  c->max_b_frames = s.bFrames;
  c->thread_count = 1;
  c->flags |= AV_CODEC_FLAG_BITEXACT | AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(c, codec, nullptr) < 0) {
    std::fprintf(stderr, "%s: the encoder refuses %dx%d\n", s.name, s.width, s.height);
    avcodec_free_context(&c);
    return false;
  }
  stream.assign(c->extradata, c->extradata + c->extradata_size);
  units.push_back({'H', 0, stream.size()});

  AVFrame* frame = av_frame_alloc();
  frame->width = s.width;
  frame->height = s.height;
  frame->format = AV_PIX_FMT_YUV420P;
  av_frame_get_buffer(frame, 0);
  AVPacket* pkt = av_packet_alloc();
  std::uint32_t seed = 20260101;
  bool ok = true;
  auto drain = [&] {
    while (avcodec_receive_packet(c, pkt) == 0) {
      units.push_back({PictureKind(pkt->data, pkt->size), stream.size(), std::size_t(pkt->size)});
      stream.insert(stream.end(), pkt->data, pkt->data + pkt->size);
      av_packet_unref(pkt);
    }
  };
  for (int n = 0; n < s.frames && ok; ++n) {
    av_frame_make_writable(frame);
    FillPicture(frame, n, seed);
    frame->pts = n;
    ok = avcodec_send_frame(c, frame) >= 0;
    drain();
  }
  avcodec_send_frame(c, nullptr);
  drain();
  av_packet_free(&pkt);
  av_frame_free(&frame);
  avcodec_free_context(&c);
  return ok;
}

// Decodes the units one by one as the library is fed them (the header opens the decoder, then
// one packet per picture, no draining at the end) and lists the pictures.
bool Checksums(const std::vector<std::uint8_t>& stream, const std::vector<Unit>& units, std::string& out) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->thread_count = 1;
  // The configuration header is the file head: it opens the stream as the decoder's extradata.
  const Unit& head = units.front();
  c->extradata = static_cast<std::uint8_t*>(av_mallocz(head.length + AV_INPUT_BUFFER_PADDING_SIZE));
  std::memcpy(c->extradata, stream.data() + head.offset, head.length);
  c->extradata_size = int(head.length);
  if (avcodec_open2(c, codec, nullptr) < 0) return false;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* f = av_frame_alloc();
  std::vector<std::uint8_t> buf;
  for (const Unit& u : units) {
    if (u.kind == 'H') continue;
    buf.assign(stream.begin() + std::ptrdiff_t(u.offset), stream.begin() + std::ptrdiff_t(u.offset + u.length));
    buf.resize(buf.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    pkt->data = buf.data();
    pkt->size = int(u.length);
    if (avcodec_send_packet(c, pkt) < 0) continue;
    while (avcodec_receive_frame(c, f) == 0) {
      char line[80];
      std::snprintf(line, sizeof line, "%d %d %016llx\n", f->width / 2 * 2, f->height / 2 * 2,
                    static_cast<unsigned long long>(PictureChecksum(f)));
      out += line;
      av_frame_unref(f);
    }
  }
  av_frame_free(&f);
  av_packet_free(&pkt);
  avcodec_free_context(&c);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <output directory> [sample name ...]\n", argv[0]);
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  int failures = 0;
  for (const Sample& s : kSamples) {
    if (argc > 2) {
      bool wanted = false;
      for (int i = 2; i < argc; ++i) wanted |= std::strcmp(argv[i], s.name) == 0;
      if (!wanted) continue;
    }
    std::vector<std::uint8_t> stream;
    std::vector<Unit> units;
    std::string sums;
    if (!Encode(s, stream, units) || !Checksums(stream, units, sums)) {
      ++failures;
      continue;
    }
    std::string index = std::to_string(s.width) + " " + std::to_string(s.height) + " " +
                        std::to_string(s.fps) + " " + std::to_string(units.size() - 1) + "\n";
    for (const Unit& u : units)
      index += std::string(1, u.kind) + " " + std::to_string(u.offset) + " " + std::to_string(u.length) + "\n";
    const std::string base = dir + s.name;
    if (!WriteFile(base + ".m4v", stream.data(), stream.size()) ||
        !WriteFile(base + ".idx", index.data(), index.size()) ||
        !WriteFile(base + ".sum", sums.data(), sums.size())) {
      std::fprintf(stderr, "%s: cannot write below %s\n", s.name, dir.c_str());
      ++failures;
      continue;
    }
    std::printf("%s: %dx%d, %zu pictures, %zu bytes\n", s.name, s.width, s.height, units.size() - 1,
                stream.size());
  }
  return failures ? 1 : 0;
}
