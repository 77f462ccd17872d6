// zorvplay: a monitoring client in miniature. Plays recorder streams into a wall of display
// channels through ZorvDecoder's exported API only, counts the pictures its decode callback
// receives, takes a snapshot of one channel and writes a mosaic of every window.
//
//   zorvplay [--channels N] [--stream S]... [--dir DIR] [--fast] [--snap C] [--out DIR]
//            [--tile WxH] [--frames N] [--quiet]
//
// With no arguments: the bundled MPEG-4 sample (DVR type 13) on a 4 x 4 wall, real-time pace,
// images written to out/.
//
// The same client runs on Linux (in-memory surfaces, SurfaceWall.cpp) and on Windows (a window
// with one child window per channel and a message loop, WindowsWall.cpp).
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ZorvDecoder.h"
#include "ZorvPlay.h"
#include "ZorvSurface.h"
#include "ZrvStream.h"

namespace {

using namespace zorvplay;

// Exit codes scripts can test.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;     // the library refused to start, nothing decoded, an image not written
constexpr int kExitUsage = 2;      // bad options
constexpr int kExitStream = 3;     // a stream file missing, unreadable or malformed
constexpr int kMaxChannels = 100;  // one group of display channels
constexpr std::uint8_t kGroup = 0;

using Clock = std::chrono::steady_clock;

struct TUnit {
  std::uint8_t FrameType;
  std::size_t Offset, Length;
};

struct TStream {
  std::string Path;
  std::uint8_t DvrType = 13;
  int Width = 0, Height = 0, Fps = 25;
  std::vector<std::uint8_t> Bytes;
  std::vector<TUnit> Units;  // Units[0] is the file head
};

struct TOptions {
  int Channels = 16;
  std::vector<std::string> Streams;
  std::string Dir;
  bool Fast = false;
  int Snap = 0;
  std::string Out = "out";
  int TileW = 176, TileH = 144;
  int Frames = 0;  // 0: the whole stream
  bool Quiet = false;
};

std::array<std::atomic<std::uint64_t>, kMaxChannels> gPictures{};
// Channels whose pictures the host draws itself: a Hikvision player that decodes to the host
// callback stops drawing into the window, as a client taking pictures is expected to show them.
std::array<std::atomic<std::uint32_t>, kMaxChannels> gHostDrawWnd{};

// A planar 4:2:0 picture (luma, then the two chroma planes) into the window, as a 24-bit DIB.
void DrawPicture(std::uint32_t Wnd, const TDecFrameInfo& Info, const std::uint8_t* Picture) {
  const int W = static_cast<int>(Info.Width), H = static_cast<int>(Info.Height);
  if (Info.FrameKind != 1 || W < 2 || H < 2 || W > 4096 || H > 4096 ||
      Info.Size < static_cast<std::uint64_t>(W) * H + 2ull * (W / 2) * (H / 2))
    return;
  const std::size_t Stride = (static_cast<std::size_t>(W) * 3 + 3) & ~std::size_t{3};
  std::vector<std::uint8_t> Dib(Stride * H);
  const std::uint8_t* Y = Picture;
  const std::uint8_t* U = Y + static_cast<std::size_t>(W) * H;
  const std::uint8_t* V = U + static_cast<std::size_t>(W / 2) * (H / 2);
  auto Clip = [](int X) { return static_cast<std::uint8_t>(X < 0 ? 0 : X > 255 ? 255 : X); };
  for (int y = 0; y < H; ++y) {
    std::uint8_t* Out = &Dib[Stride * (H - 1 - y)];  // bottom-up
    for (int x = 0; x < W; ++x) {
      const std::size_t Ci = static_cast<std::size_t>(y / 2) * (W / 2) + x / 2;
      const int C = 298 * (Y[static_cast<std::size_t>(y) * W + x] - 16), D = U[Ci] - 128, E = V[Ci] - 128;
      *Out++ = Clip((C + 516 * D + 128) >> 8);
      *Out++ = Clip((C - 100 * D - 208 * E + 128) >> 8);
      *Out++ = Clip((C + 409 * E + 128) >> 8);
    }
  }
  std::uint8_t Header[40] = {};
  auto Put32 = [&](int At, std::uint32_t X) {
    for (int i = 0; i < 4; ++i) Header[At + i] = static_cast<std::uint8_t>(X >> (8 * i));
  };
  Put32(0, 40);
  Put32(4, static_cast<std::uint32_t>(W));
  Put32(8, static_cast<std::uint32_t>(H));
  Header[12] = 1;   // planes
  Header[14] = 24;  // bits per pixel
  std::int32_t Ww = 0, Wh = 0;
  if (zorv_surface_get_size(Wnd, &Ww, &Wh) == 0)
    zorv_surface_stretch_dib(Wnd, 0, 0, Ww, Wh, 0, 0, W, H, Dib.data(), Header);
}

void ZORV_STDCALL OnPicture(std::uint32_t Channel, TDecFrameInfo Info, const std::uint8_t* Picture) {
  if (Channel >= kMaxChannels) return;
  gPictures[Channel].fetch_add(1, std::memory_order_relaxed);
  if (const std::uint32_t Wnd = gHostDrawWnd[Channel].load(); Wnd != 0 && Picture) DrawPicture(Wnd, Info, Picture);
}

int Usage(const char* Why) {
  if (Why) std::fprintf(stderr, "zorvplay: %s\n", Why);
  std::fprintf(stderr,
               "usage: zorvplay [--channels N] [--stream S]... [--dir DIR] [--fast] [--snap C] [--out DIR]\n"
               "                [--tile WxH] [--frames N] [--quiet]\n"
               "  --channels N  display channels on the wall, 1..%d (default 16, a 4 x 4 wall)\n"
               "  --stream S    a sample name (cif, cif_bframes, d1, odd353), an MPEG-4 file NAME.m4v with\n"
               "                its index NAME.idx beside it (DVR type 13), or a stand-in player stream\n"
               "                NAME.zrv (DVR type 1, needs --dir with PlayDll/HIK/HikPlayM4.dll);\n"
               "                repeat to spread several streams over the channels (default: cif)\n"
               "  --dir DIR     the client directory handed to the library (default: this program's)\n"
               "  --fast        feed as fast as the library takes the frames (default: real-time pace)\n"
               "  --snap C      channel to snapshot (default 0)\n"
               "  --out DIR     where mosaic.png and the snapshot go (default out)\n"
               "  --tile WxH    window size of each channel (default 176x144)\n"
               "  --frames N    feed at most N frames per channel (default: the whole stream)\n"
               "  --quiet       no progress line\n",
               kMaxChannels);
  return kExitUsage;
}

bool ParseInt(const char* Text, int Low, int High, int& Out) {
  char* End = nullptr;
  const long V = std::strtol(Text, &End, 10);
  if (End == Text || *End != '\0' || V < Low || V > High) return false;
  Out = static_cast<int>(V);
  return true;
}

// 0 when parsed, else the exit code to end with.
int ParseOptions(int argc, char** argv, TOptions& O) {
  for (int i = 1; i < argc; ++i) {
    const std::string A = argv[i];
    auto Value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (A == "--help" || A == "-h") {
      Usage(nullptr);
      std::exit(kExitOk);
    } else if (A == "--fast") {
      O.Fast = true;
    } else if (A == "--quiet") {
      O.Quiet = true;
    } else if (A == "--channels") {
      const char* V = Value();
      if (!V || !ParseInt(V, 1, kMaxChannels, O.Channels)) return Usage("--channels wants a number 1..100");
    } else if (A == "--snap") {
      const char* V = Value();
      if (!V || !ParseInt(V, 0, kMaxChannels - 1, O.Snap)) return Usage("--snap wants a channel number");
    } else if (A == "--frames") {
      const char* V = Value();
      if (!V || !ParseInt(V, 1, 1000000, O.Frames)) return Usage("--frames wants a positive number");
    } else if (A == "--stream") {
      const char* V = Value();
      if (!V || !*V) return Usage("--stream wants a sample name or a file");
      O.Streams.push_back(V);
    } else if (A == "--dir") {
      const char* V = Value();
      if (!V || !*V) return Usage("--dir wants a directory");
      O.Dir = V;
    } else if (A == "--out") {
      const char* V = Value();
      if (!V || !*V) return Usage("--out wants a directory");
      O.Out = V;
    } else if (A == "--tile") {
      const char* V = Value();
      int W = 0, H = 0;
      char X = 0, Rest = 0;
      if (!V || std::sscanf(V, "%d%c%d%c", &W, &X, &H, &Rest) != 3 || (X != 'x' && X != 'X') || W < 16 ||
          H < 16 || W > 1920 || H > 1080)
        return Usage("--tile wants WxH, 16x16 up to 1920x1080");
      O.TileW = W;
      O.TileH = H;
    } else {
      return Usage(("unknown option '" + A + "'").c_str());
    }
  }
  if (O.Snap >= O.Channels) return Usage("--snap names a channel beyond --channels");
  if (O.Streams.empty()) O.Streams.push_back("cif");
  return 0;
}

bool ReadWhole(const std::string& Path, std::vector<std::uint8_t>& Out, std::string& Why) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    Why = "cannot open " + Path + ": " + std::strerror(errno);
    return false;
  }
  Out.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  if (In.bad()) {
    Why = "cannot read " + Path;
    return false;
  }
  return true;
}

bool EndsWith(const std::string& S, const std::string& Tail) {
  return S.size() >= Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

// An MPEG-4 elementary stream and its frame index: "W H FPS FRAMES", then one line per unit
// "KIND OFFSET LENGTH" (H the configuration header, I, P or B).
bool LoadMp4(const std::string& Path, TStream& S, std::string& Why) {
  const std::string Index = Path.substr(0, Path.size() - 4) + ".idx";
  std::vector<std::uint8_t> IdxBytes;
  if (!ReadWhole(Path, S.Bytes, Why) || !ReadWhole(Index, IdxBytes, Why)) return false;
  std::istringstream Idx(std::string(IdxBytes.begin(), IdxBytes.end()));
  int Frames = 0;
  if (!(Idx >> S.Width >> S.Height >> S.Fps >> Frames) || S.Width < 1 || S.Height < 1 || S.Fps < 1 ||
      S.Fps > 200) {
    Why = Index + " is not a frame index";
    return false;
  }
  char Kind = 0;
  std::size_t Offset = 0, Length = 0;
  while (Idx >> Kind >> Offset >> Length) {
    if (Offset > S.Bytes.size() || Length > S.Bytes.size() - Offset || Length == 0) {
      Why = Index + " points past the end of " + Path;
      return false;
    }
    const std::uint8_t Type = Kind == 'H'   ? ZORV_FRAME_FILEHEAD
                              : Kind == 'I' ? ZORV_FRAME_I
                              : Kind == 'B' ? ZORV_FRAME_B
                                            : ZORV_FRAME_P;
    S.Units.push_back({Type, Offset, Length});
  }
  if (S.Units.size() < 2 || S.Units[0].FrameType != ZORV_FRAME_FILEHEAD) {
    Why = Index + " has no configuration header and frames";
    return false;
  }
  S.DvrType = 13;
  return true;
}

// A stand-in player stream: the 40-byte stream head, then packets.
bool LoadZrv(const std::string& Path, TStream& S, std::string& Why) {
  if (!ReadWhole(Path, S.Bytes, Why)) return false;
  zrv::StreamParams P;
  if (!zrv::ParseStreamHead(S.Bytes.data(), S.Bytes.size(), P)) {
    Why = Path + " is not a ZRV stream";
    return false;
  }
  S.Width = P.width;
  S.Height = P.height;
  S.Fps = P.fps;
  S.Units.push_back({ZORV_FRAME_FILEHEAD, 0, zrv::kStreamHeadSize});
  std::size_t At = zrv::kStreamHeadSize;
  while (At < S.Bytes.size()) {
    zrv::Packet Packet;
    std::size_t Used = 0;
    const zrv::ParseResult R = zrv::ParsePacket(S.Bytes.data() + At, S.Bytes.size() - At, Packet, Used);
    if (R == zrv::ParseResult::kNeedMore) break;  // a cut-off last packet
    if (R == zrv::ParseResult::kPacket) {
      const std::uint8_t Type = Packet.kind == zrv::kVideoKey ? ZORV_FRAME_I
                                : Packet.kind == zrv::kAudio  ? ZORV_FRAME_AUDIO
                                                              : ZORV_FRAME_P;
      S.Units.push_back({Type, At, Used});
    }
    At += std::max<std::size_t>(Used, 1);
  }
  if (S.Units.size() < 2) {
    Why = Path + " holds no packets";
    return false;
  }
  S.DvrType = 1;
  return true;
}

bool FileExists(const std::string& Path) {
  std::FILE* F = std::fopen(Path.c_str(), "rb");
  if (F) std::fclose(F);
  return F != nullptr;
}

// A bundled sample: beside the program (an installed demo), else in the source tree.
std::string SamplePath(const std::string& Name) {
  const std::string Beside = ProgramDir() + "samples/" + Name + ".m4v";
  return FileExists(Beside) ? Beside : std::string(ZORV_SAMPLES_DIR) + "/" + Name + ".m4v";
}

bool LoadStream(const std::string& Name, TStream& S, std::string& Why) {
  std::string Path = Name;
  if (Name.find_first_of("/\\") == std::string::npos && Name.find('.') == std::string::npos) Path = SamplePath(Name);
  S.Path = Path;
  if (EndsWith(Path, ".zrv")) return LoadZrv(Path, S, Why);
  if (EndsWith(Path, ".m4v")) return LoadMp4(Path, S, Why);
  Why = "unknown stream kind '" + Name + "' (a sample name, NAME.m4v or NAME.zrv)";
  return false;
}

// Days since 30 December 1899, the recorders' time stamp.
double NowAsFrameTime(double Offset) {
  const double Seconds = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  return 25569.0 + (Seconds + Offset) / 86400.0;
}

TFrameHead HeadOf(int Channel, std::uint32_t Wnd, const TStream& S, std::uint8_t FrameType, std::size_t Length,
                  double FrameTime) {
  TFrameHead H;
  std::memset(&H, 0, sizeof H);
  H.Channel = static_cast<std::uint32_t>(Channel);
  H.Wnd = Wnd;
  H.DataLen = static_cast<std::uint32_t>(Length);
  H.FrameType = FrameType;
  H.DvrType = S.DvrType;
  H.FrameTime = FrameTime;
  H.Group = kGroup;
  H.DecodeMode = 2;  // software
  return H;
}

constexpr int kGap = 2;  // pixels between tiles of the mosaic

// Every window's pixels side by side, as the wall shows them.
// (On Windows reading a window copies its client area from the window's device context.)
bool WriteMosaic(const std::string& Path, const TWall& Wall, int Channels, int Cols, int Rows, int TileW, int TileH) {
  const int W = Cols * TileW + (Cols + 1) * kGap, H = Rows * TileH + (Rows + 1) * kGap;
  std::vector<std::uint8_t> Rgb(static_cast<std::size_t>(W) * H * 3, 48);
  std::vector<std::uint8_t> Tile;
  for (int c = 0; c < Channels; ++c) {
    std::int32_t Tw = 0, Th = 0;
    if (zorv_surface_get_size(Wall.Window(c), &Tw, &Th) != 0) return false;
    const std::int64_t Bytes = zorv_surface_read_pixels(Wall.Window(c), nullptr, 0);
    if (Bytes < 0 || Bytes != static_cast<std::int64_t>(Tw) * Th * 3) return false;
    Tile.resize(static_cast<std::size_t>(Bytes));
    if (zorv_surface_read_pixels(Wall.Window(c), Tile.data(), Tile.size()) != Bytes) return false;
    const int X0 = kGap + static_cast<int>(c % Cols) * (TileW + kGap);
    const int Y0 = kGap + static_cast<int>(c / Cols) * (TileH + kGap);
    for (int y = 0; y < std::min<int>(Th, TileH); ++y)
      std::memcpy(&Rgb[(static_cast<std::size_t>(Y0 + y) * W + X0) * 3], &Tile[static_cast<std::size_t>(y) * Tw * 3],
                  static_cast<std::size_t>(std::min<int>(Tw, TileW)) * 3);
  }
  return WritePng(Path, W, H, Rgb);
}

bool WriteBytes(const std::string& Path, const std::uint8_t* Data, std::size_t Size) {
  std::ofstream Out(Path, std::ios::binary);
  Out.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
  return static_cast<bool>(Out.flush());
}

}  // namespace

int main(int argc, char** argv) {
  TOptions O;
  if (const int Code = ParseOptions(argc, argv, O); Code != 0) return Code;

  // Streams, spread over the channels in turn.
  std::vector<TStream> Streams(O.Streams.size());
  for (std::size_t i = 0; i < O.Streams.size(); ++i) {
    std::string Why;
    if (!LoadStream(O.Streams[i], Streams[i], Why)) {
      std::fprintf(stderr, "zorvplay: stream '%s': %s\n", O.Streams[i].c_str(), Why.c_str());
      return kExitStream;
    }
  }
  std::string Dir = O.Dir.empty() ? ProgramDir() : O.Dir;
#ifdef _WIN32
  if (Dir.back() != '\\' && Dir.back() != '/') Dir += '\\';  // the library wants the directory with its separator
#else
  if (Dir.back() != '/') Dir += '/';
#endif
  for (const TStream& S : Streams)
    if (S.DvrType == 1 && !FileExists(Dir + "PlayDll/HIK/HikPlayM4.dll")) {
      std::fprintf(stderr, "zorvplay: %s is a Hikvision player stream: --dir must hold PlayDll/HIK/HikPlayM4.dll\n",
                   S.Path.c_str());
      return kExitUsage;
    }
  if (!MakeDirs(O.Out)) {
    std::fprintf(stderr, "zorvplay: cannot make the output folder %s: %s\n", O.Out.c_str(), std::strerror(errno));
    return kExitFailed;
  }

  // The wall: one window per channel, laid out in a near-square grid.
  const int Cols = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(O.Channels))));
  const int Rows = (O.Channels + Cols - 1) / Cols;
  std::string WallWhy;
  std::unique_ptr<TWall> Wall = MakeWall(O.Channels, Cols, O.TileW, O.TileH, kGap, WallWhy);
  if (!Wall) {
    std::fprintf(stderr, "zorvplay: %s\n", WallWhy.c_str());
    return kExitFailed;
  }
  std::vector<std::uint32_t> Windows;
  for (int c = 0; c < O.Channels; ++c) Windows.push_back(Wall->Window(c));
  auto StreamOf = [&](int Channel) -> const TStream& { return Streams[static_cast<std::size_t>(Channel) % Streams.size()]; };

  if (Tarn_Decode_Initialize(0, Dir.c_str(), 1) != 0) {
    std::fprintf(stderr, "zorvplay: Tarn_Decode_Initialize(%s) failed\n", Dir.c_str());
    return kExitFailed;
  }
  for (int c = 0; c < O.Channels; ++c) {
    const TStream& S = StreamOf(c);
    if (S.DvrType == 1) gHostDrawWnd[c] = Windows[c];
    Tarn_Decode_StartCallBack(HeadOf(c, Windows[c], S, ZORV_FRAME_P, 0, 0), &OnPicture);
  }

  // Units fed per channel (file head included), one frame of every channel per tick.
  std::size_t Ticks = 0;
  for (int c = 0; c < O.Channels; ++c) {
    std::size_t N = StreamOf(c).Units.size();
    if (O.Frames > 0) N = std::min<std::size_t>(N, static_cast<std::size_t>(O.Frames) + 1);
    Ticks = std::max(Ticks, N);
  }
  const int Fps = StreamOf(0).Fps;
  std::vector<std::uint64_t> Fed(O.Channels, 0), Refused(O.Channels, 0);
  std::atomic<std::size_t> Tick{0};
  std::atomic<int> HeadsFed{0};
  std::atomic<bool> SnapPending{false}, FeedDone{false};
  std::atomic<bool> Stop{false};  // the user closed the wall
  // Opening a player costs the library a fixed pause per channel: rates count from the first
  // picture frame on, after every channel's file head.
  Clock::time_point Opened = Clock::now();

  const Clock::time_point Start = Clock::now();
  std::thread Feeder([&] {
    const double Base = NowAsFrameTime(0);
    for (std::size_t k = 0; k < Ticks && !Stop; ++k) {
      if (!O.Fast && k > 0) std::this_thread::sleep_until(Opened + std::chrono::microseconds((k - 1) * 1000000 / Fps));
      for (int c = 0; c < O.Channels && !Stop; ++c) {  // opening a player takes a while: stop between them too
        const TStream& S = StreamOf(c);
        std::size_t N = S.Units.size();
        if (O.Frames > 0) N = std::min<std::size_t>(N, static_cast<std::size_t>(O.Frames) + 1);
        if (k >= N) continue;
        const TUnit& U = S.Units[k];
        const TFrameHead H = HeadOf(c, Windows[c], S, U.FrameType, U.Length, Base + double(k) / S.Fps / 86400.0);
        if (Tarn_Decode_AddFrame(H, S.Bytes.data() + U.Offset) == 0)
          ++Fed[c];
        else
          ++Refused[c];
        if (k == 0) ++HeadsFed;
      }
      if (k == 0) Opened = Clock::now();
      Tick = k + 1;
      // A snapshot waits for the channel's next picture: give it time to see one.
      if (O.Fast && SnapPending) std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
    FeedDone = true;
  });

  // The snapshot of one channel, taken while the stream runs (the library hands over the next
  // picture), retried while frames still come.
  std::vector<std::uint8_t> Snapshot;
  std::int32_t SnapSize[2] = {0, 0};
  std::thread Snapper([&] {
    const TStream& S = StreamOf(O.Snap);
    // Halfway through the channel's own stream, so that pictures still follow.
    std::size_t Own = S.Units.size();
    if (O.Frames > 0) Own = std::min<std::size_t>(Own, static_cast<std::size_t>(O.Frames) + 1);
    while (Tick < Own / 2 && !FeedDone) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<std::uint8_t> Buffer(std::max<std::size_t>(54 + 704 * 576 * 3,
                                                           54 + static_cast<std::size_t>(S.Width) * S.Height * 4 + 4096));
    while (!FeedDone) {
      SnapPending = true;
      std::uint8_t* Out = Buffer.data();
      const std::int32_t Bytes = Tarn_Decode_SnapPicture(HeadOf(O.Snap, Windows[O.Snap], S, ZORV_FRAME_P, 0, 0),
                                                         SnapSize, &Out);
      if (Bytes > 54 && static_cast<std::size_t>(Bytes) <= Buffer.size()) {
        Snapshot.assign(Buffer.begin(), Buffer.begin() + Bytes);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // refused at once: do not spin
    }
    SnapPending = false;
  });

  // Progress, until the feeder is through and the pictures have settled.
  const bool Tty = IsTerminal(stderr);
  auto Total = [&] {
    std::uint64_t T = 0;
    for (int c = 0; c < O.Channels; ++c) T += gPictures[c].load();
    return T;
  };
  auto Progress = [&](bool Last) {
    if (O.Quiet) return;
    const double Secs = std::chrono::duration<double>(Clock::now() - Start).count();
    if (Tick == 0)
      std::fprintf(stderr, "%s[%6.1f s] opening the players: %d/%d channels%s", Tty ? "\r\033[K" : "", Secs, HeadsFed.load(),
                   O.Channels, Tty ? "" : "\n");
    else
      std::fprintf(stderr, "%s[%6.1f s] frame %zu/%zu on %d channels, %llu pictures decoded%s", Tty ? "\r\033[K" : "", Secs,
                   Tick.load(), Ticks, O.Channels, static_cast<unsigned long long>(Total()),
                   (Last || !Tty) ? "\n" : "");
    std::fflush(stderr);
  };
  Clock::time_point LastShown = Clock::now();
  // The windows' own thread keeps them served while the feeder runs.
  while (!FeedDone) {
    Wall->Serve(20);
    if (Wall->Closed()) Stop = true;
    if (Clock::now() - LastShown >= std::chrono::milliseconds(Tty ? 200 : 1000)) {
      Progress(false);
      LastShown = Clock::now();
    }
  }
  Feeder.join();
  Snapper.join();
  // Players with their own threads may still be presenting: wait until the count stands still.
  for (int Still = 0, Round = 0; Still < 10 && Round < 300; ++Round) {
    const std::uint64_t Before = Total();
    Wall->Serve(10);
    Still = Total() == Before ? Still + 1 : 0;
  }
  const double Elapsed = std::chrono::duration<double>(Clock::now() - Start).count();
  const double Playing = std::chrono::duration<double>(Clock::now() - Opened).count();
  Progress(true);

  int Code = kExitOk;
  const std::string MosaicPath = O.Out + "/mosaic.png";
  if (!WriteMosaic(MosaicPath, *Wall, O.Channels, Cols, Rows, O.TileW, O.TileH)) {
    std::fprintf(stderr, "zorvplay: cannot write %s\n", MosaicPath.c_str());
    Code = kExitFailed;
  }
  std::string SnapPath = O.Out + "/snapshot_ch" + std::to_string(O.Snap) + ".bmp";
  if (Snapshot.empty() && Stop) {
    // Closed by the user before the middle of the stream: an ending, not a failure.
    std::fprintf(stderr, "zorvplay: channel %d gave no snapshot before the wall was closed\n", O.Snap);
    SnapPath = "(none)";
  } else if (Snapshot.empty()) {
    std::fprintf(stderr, "zorvplay: channel %d gave no snapshot\n", O.Snap);
    SnapPath = "(none)";
    Code = kExitFailed;
  } else if (!WriteBytes(SnapPath, Snapshot.data(), Snapshot.size())) {
    std::fprintf(stderr, "zorvplay: cannot write %s\n", SnapPath.c_str());
    SnapPath = "(not written)";
    Code = kExitFailed;
  }

  for (int c = 0; c < O.Channels; ++c) Tarn_Decode_CloseOneChannel(HeadOf(c, Windows[c], StreamOf(c), ZORV_FRAME_P, 0, 0));
  Tarn_Decode_ShutDown();
  for (auto& W : gHostDrawWnd) W = 0;
  Wall.reset();

  // Summary.
  std::printf("\n channel  DVR type  stream          frames fed  refused  pictures     fps\n");
  std::uint64_t AllFed = 0, AllPictures = 0, AllRefused = 0;
  for (int c = 0; c < O.Channels; ++c) {
    const TStream& S = StreamOf(c);
    const std::string Name = S.Path.substr(S.Path.find_last_of("/\\") + 1);
    const std::uint64_t P = gPictures[c].load();
    std::printf(" %7d  %8u  %-14.14s  %10llu  %7llu  %8llu  %6.1f\n", c, S.DvrType, Name.c_str(),
                static_cast<unsigned long long>(Fed[c]), static_cast<unsigned long long>(Refused[c]),
                static_cast<unsigned long long>(P), Playing > 0 ? P / Playing : 0.0);
    AllFed += Fed[c];
    AllRefused += Refused[c];
    AllPictures += P;
  }
  std::printf("   total                            %10llu  %7llu  %8llu  %6.1f\n",
              static_cast<unsigned long long>(AllFed), static_cast<unsigned long long>(AllRefused),
              static_cast<unsigned long long>(AllPictures), Playing > 0 ? AllPictures / Playing : 0.0);
  std::printf("\n %d channels (%d x %d wall), %s pace: %.2f s opening the players, %.2f s playing\n", O.Channels,
              Cols, Rows, O.Fast ? "fast" : "real-time", Elapsed - Playing, Playing);
  std::printf(" snapshot of channel %d: %s (%d x %d)\n", O.Snap, SnapPath.c_str(), SnapSize[0], SnapSize[1]);
  std::printf(" mosaic: %s\n", MosaicPath.c_str());
  if (Stop) std::printf(" the wall was closed: feeding stopped after frame %zu of %zu\n", Tick.load(), Ticks);
  if (AllPictures == 0 && !Stop) {
    std::fprintf(stderr, "zorvplay: no picture was decoded\n");
    Code = kExitFailed;
  }
  return Code;
}
