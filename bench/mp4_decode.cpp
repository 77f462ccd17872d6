// MPEG-4 (DVR type 13) throughput: the sample streams fed frame by frame through
// Tarn_Decode_AddFrame, every picture decoded, drawn into a window of its size and handed to a
// host callback, beside the reference of plain libavcodec decoding the same frames plus
// libswscale conversion to BGR24. Both decode on one thread, from a stream opened once. The two
// paths alternate within each iteration and are timed in thread CPU time, so a busy machine
// weighs on neither; the counters give frames per second of each and their ratio (library /
// reference; >= 1 means the library is at least as fast).
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

// The host callback: touches the picture as a host copying it out would (one read pass).
void ZORV_STDCALL OnPicture(std::uint32_t, TDecFrameInfo Info, const std::uint8_t* Picture) {
  std::uint64_t Sum = 0;
  for (std::uint32_t i = 0; i < Info.Size; i += 64) Sum += Picture[i];
  gChecksum += Sum;
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

// One pass of the library over every frame of the stream (opened once by its file head).
std::uint64_t LibraryPass(const Sample& S, std::uint32_t Wnd) {
  const std::uint64_t Before = gPictures;
  for (std::size_t i = 1; i < S.Units.size(); ++i) Tarn_Decode_AddFrame(HeadOf(S.Units[i], Wnd), S.Units[i].Bytes.data());
  return gPictures - Before;
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

  std::uint64_t Pass(const Sample& S) {
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
// (nothing to draw into), which isolates the cost of the emulated GDI stretch on Linux.
void BM_Mp4Decode(benchmark::State& State, const char* Name, bool Window) {
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
  Tarn_Decode_StartCallBack(Head, &OnPicture);
  Tarn_Decode_AddFrame(HeadOf(S.Units[0], Wnd), S.Units[0].Bytes.data());  // opens the stream
  Reference Ref(S);

  double LibTime = 0, RefTime = 0;
  std::uint64_t LibPictures = 0, RefPictures = 0;
  for (auto _ : State) {
    const double T0 = ThreadSeconds();
    LibPictures += LibraryPass(S, Wnd);
    const double T1 = ThreadSeconds();
    RefPictures += Ref.Pass(S);
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

  Tarn_Decode_CloseOneChannel(Head);
  Tarn_Decode_ShutDown();
  zorv_surface_destroy(Surface);
}

BENCHMARK_CAPTURE(BM_Mp4Decode, cif, "cif", true)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_Mp4Decode, cif_bframes, "cif_bframes", true)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_Mp4Decode, d1, "d1", true)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_Mp4Decode, cif_no_window, "cif", false)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_Mp4Decode, d1_no_window, "d1", false)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
