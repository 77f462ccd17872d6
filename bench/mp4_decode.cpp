// MPEG-4 (DVR type 13) throughput: the sample streams fed frame by frame through
// Tarn_Decode_AddFrame, beside a reference doing the same job with plain libavcodec and
// libswscale, in the same run.
//
//   library:   every frame copied into the port's staging buffer and decoded (one libavcodec
//              context, one thread); every picture converted to bottom-up BGR24 and drawn into
//              a window of its size (a 1:1 StretchDIBits into an in-memory surface on Linux);
//              with the callback running, the picture also packed as Y, Cb, Cr and handed to
//              the host callback, which reads it (every 64th byte).
//   reference: every frame copied into a padded buffer and decoded by a context opened the same
//              way (extradata = the file head, one thread); every picture converted to BGR24
//              by libswscale (yuv420p -> bgr24, same size); the host's read of the picture
//              (every 64th byte of each plane row) when the library's callback runs too.
//
// Both sides decode the same frames from a stream opened once and must give the same number
// of pictures. The two alternate within each iteration and are timed in thread CPU time, so a
// busy machine weighs on neither; the counters give pictures per second of each and their
// ratio (library / reference; >= 1 means the library is at least as fast).
//
//   build/native/bench/bench_mp4_decode [--benchmark_min_time=2]
#include <benchmark/benchmark.h>

#include <ctime>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "Platform.h"
#include "ZorvDecoder.h"
#include "ZorvSurface.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace {

struct Unit {
  std::uint8_t FrameType;
  std::vector<std::uint8_t> Bytes;
};

struct Sample {
  int Width = 0, Height = 0;
  std::vector<Unit> Units;  // [0] is the configuration header (the file head)
};

bool LoadSample(const std::string& Name, Sample& S) {
  const std::string Base = std::string(ZORV_SOURCE_DIR) + "/samples/" + Name;
  std::ifstream M(Base + ".m4v", std::ios::binary), I(Base + ".idx");
  if (!M || !I) return false;
  const std::vector<std::uint8_t> Stream((std::istreambuf_iterator<char>(M)), std::istreambuf_iterator<char>());
  int Fps = 0, Frames = 0;
  I >> S.Width >> S.Height >> Fps >> Frames;
  char Kind;
  std::size_t Offset, Length;
  while (I >> Kind >> Offset >> Length) {
    if (Offset + Length > Stream.size()) return false;
    const std::uint8_t Type = Kind == 'H' ? 1 : Kind == 'I' ? 2 : Kind == 'B' ? 3 : 4;
    S.Units.push_back({Type, {Stream.begin() + Offset, Stream.begin() + Offset + Length}});
  }
  return !S.Units.empty();
}

std::uint64_t gPictures = 0;
std::uint64_t gChecksum = 0;

// What a host does with a picture it is given: one read pass (every 64th byte).
std::uint64_t HostReads(const std::uint8_t* Bytes, std::size_t Length) {
  std::uint64_t Sum = 0;
  for (std::size_t i = 0; i < Length; i += 64) Sum += Bytes[i];
  return Sum;
}

void ZORV_STDCALL OnPicture(std::uint32_t, TDecFrameInfo Info, const std::uint8_t* Picture) {
  gChecksum += HostReads(Picture, Info.Size);
  ++gPictures;
}

TFrameHead HeadOf(const Unit& U, std::uint32_t Wnd) {
  TFrameHead Head;
  std::memset(&Head, 0, sizeof Head);
  Head.Channel = 3;
  Head.Wnd = Wnd;
  Head.DataLen = static_cast<std::uint32_t>(U.Bytes.size());
  Head.FrameType = U.FrameType;
  Head.DvrType = 13;
  Head.DecodeMode = 2;
  return Head;
}

// One pass of the library over every frame of the stream (opened once by its file head). The
// pictures are counted by the host callback when it runs, else by the window's drawings.
std::uint64_t LibraryPass(const Sample& S, std::uint32_t Wnd, bool CallBack) {
  const std::uint64_t Before = gPictures;
  const std::int64_t DrawsBefore = zorv_surface_draw_count(Wnd);
  for (std::size_t i = 1; i < S.Units.size(); ++i) Tarn_Decode_AddFrame(HeadOf(S.Units[i], Wnd), S.Units[i].Bytes.data());
  return CallBack ? gPictures - Before : static_cast<std::uint64_t>(zorv_surface_draw_count(Wnd) - DrawsBefore);
}

// The reference: a decoder opened with the header (once, like the library's stream), fed the
// same frames, each picture converted to BGR24.
struct Reference {
  AVCodecContext* Context = nullptr;
  SwsContext* Sws = nullptr;
  AVPacket* Packet = av_packet_alloc();
  AVFrame* Frame = av_frame_alloc();
  std::vector<std::uint8_t> Input, Bgr;

  explicit Reference(const Sample& S) {
    const AVCodec* Codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    Context = avcodec_alloc_context3(Codec);
    Context->thread_count = 1;
    const auto& Header = S.Units[0].Bytes;
    Context->extradata = static_cast<std::uint8_t*>(av_mallocz(Header.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(Context->extradata, Header.data(), Header.size());
    Context->extradata_size = static_cast<int>(Header.size());
    avcodec_open2(Context, Codec, nullptr);
  }
  ~Reference() {
    avcodec_free_context(&Context);
    sws_freeContext(Sws);
    av_packet_free(&Packet);
    av_frame_free(&Frame);
  }

  std::uint64_t Pass(const Sample& S, bool Host) {
    std::uint64_t Pictures = 0;
    for (std::size_t i = 1; i < S.Units.size(); ++i) {
      const auto& Bytes = S.Units[i].Bytes;
      Input.resize(Bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE);
      std::memcpy(Input.data(), Bytes.data(), Bytes.size());
      std::memset(Input.data() + Bytes.size(), 0, AV_INPUT_BUFFER_PADDING_SIZE);
      Packet->data = Input.data();
      Packet->size = static_cast<int>(Bytes.size());
      if (avcodec_send_packet(Context, Packet) < 0) continue;
      while (avcodec_receive_frame(Context, Frame) == 0) {
        Sws = sws_getCachedContext(Sws, Frame->width, Frame->height, AV_PIX_FMT_YUV420P, Frame->width,
                                   Frame->height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        const int Stride = Frame->width * 3;
        Bgr.resize(static_cast<std::size_t>(Stride) * Frame->height);
        std::uint8_t* Dst[4] = {Bgr.data(), nullptr, nullptr, nullptr};
        int DstStride[4] = {Stride, 0, 0, 0};
        sws_scale(Sws, Frame->data, Frame->linesize, 0, Frame->height, Dst, DstStride);
        benchmark::DoNotOptimize(Bgr.data());
        if (Host) {
          const int W = Frame->width / 2 * 2, H = Frame->height / 2 * 2;
          for (int Row = 0; Row < H; ++Row) gChecksum += HostReads(Frame->data[0] + Row * Frame->linesize[0], W);
          for (int Plane = 1; Plane <= 2; ++Plane)
            for (int Row = 0; Row < H / 2; ++Row)
              gChecksum += HostReads(Frame->data[Plane] + Row * Frame->linesize[Plane], W / 2);
        }
        ++Pictures;
        av_frame_unref(Frame);
      }
    }
    return Pictures;
  }
};

// CPU time of the calling thread: other processes on a busy machine do not count.
double ThreadSeconds() {
  timespec T;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
  return T.tv_sec + T.tv_nsec * 1e-9;
}

// Window: true draws into a window of the picture's size; false hands the frames to window 0
// (nothing to draw into; the picture is still converted), which isolates the cost of the
// emulated GDI stretch on Linux. CallBack: whether the host callback runs.
void BM_Mp4Decode(benchmark::State& State, const char* Name, bool Window, bool CallBack) {
  Sample S;
  if (!LoadSample(Name, S)) {
    State.SkipWithError("sample missing");
    return;
  }
  Win::Test::SetSleepScale(0);  // the fixed open/close pauses are not decoding work
  const std::string Dir = std::string(ZORV_TESTROOT) + "/";
  Tarn_Decode_Initialize(0, Dir.c_str(), 1);
  const std::uint32_t Surface = zorv_surface_create(0, 0, S.Width, S.Height);
  const std::uint32_t Wnd = Window ? Surface : 0;
  TFrameHead Head;
  std::memset(&Head, 0, sizeof Head);
  Head.Channel = 3;
  Head.DvrType = 13;
  Tarn_Decode_AddFrame(HeadOf(S.Units[0], Wnd), S.Units[0].Bytes.data());  // opens the stream
  if (CallBack) Tarn_Decode_StartCallBack(Head, &OnPicture);
  Reference Ref(S);

  double LibTime = 0, RefTime = 0;
  std::uint64_t LibPictures = 0, RefPictures = 0;
  for (auto _ : State) {
    const double T0 = ThreadSeconds();
    LibPictures += LibraryPass(S, Wnd, CallBack);
    const double T1 = ThreadSeconds();
    RefPictures += Ref.Pass(S, CallBack);
    const double T2 = ThreadSeconds();
    LibTime += T1 - T0;
    RefTime += T2 - T1;
  }
  const double LibFps = LibPictures / LibTime;
  const double RefFps = RefPictures / RefTime;
  State.counters["library_fps"] = LibFps;
  State.counters["reference_fps"] = RefFps;
  State.counters["ratio"] = LibFps / RefFps;
  State.counters["pictures"] = static_cast<double>(LibPictures);
  if (LibPictures != RefPictures) State.SkipWithError("the library and the reference gave different picture counts");
  if (Window && CallBack && zorv_surface_draw_count(Surface) != static_cast<std::int64_t>(LibPictures))
    State.SkipWithError("not every picture was drawn");

  Tarn_Decode_CloseOneChannel(Head);
  Tarn_Decode_ShutDown();
  zorv_surface_destroy(Surface);
}

BENCHMARK_CAPTURE(BM_Mp4Decode, cif, "cif", true, true)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_Mp4Decode, cif_bframes, "cif_bframes", true, true)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_Mp4Decode, d1, "d1", true, true)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_Mp4Decode, cif_no_window, "cif", false, true)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_Mp4Decode, d1_no_window, "d1", false, true)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_Mp4Decode, cif_no_callback, "cif", true, false)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_Mp4Decode, d1_no_callback, "d1", true, false)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
