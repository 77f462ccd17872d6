// The wall on Linux: one in-memory surface per channel (libzorvsurface.so, shared with the library
// and the vendor libraries it loads), the mosaic written with libpng.
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <sstream>
#include <thread>

#include "ZorvPlay.h"
#include "ZorvSurface.h"

namespace zorvplay {
namespace {

class TSurfaceWall : public TWall {
 public:
  ~TSurfaceWall() override {
    for (std::uint32_t S : Surfaces) zorv_surface_destroy(S);
  }
  std::uint32_t Window(int Channel) const override { return Surfaces[static_cast<std::size_t>(Channel)]; }
  // Surfaces need no message loop.
  void Serve(int Ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(Ms)); }
  bool Closed() const override { return false; }

  std::vector<std::uint32_t> Surfaces;
};

}  // namespace

std::unique_ptr<TWall> MakeWall(int Channels, int Cols, int TileW, int TileH, int Gap, std::string& Why) {
  auto Wall = std::make_unique<TSurfaceWall>();
  for (int c = 0; c < Channels; ++c) {
    const std::uint32_t S =
        zorv_surface_create(Gap + (c % Cols) * (TileW + Gap), Gap + (c / Cols) * (TileH + Gap), TileW, TileH);
    if (S == 0) {
      Why = "cannot create the window of channel " + std::to_string(c);
      return nullptr;  // the surfaces made so far go with the wall
    }
    Wall->Surfaces.push_back(S);
  }
  return Wall;
}

bool WritePng(const std::string& Path, int W, int H, const std::vector<std::uint8_t>& Rgb) {
  if (W < 1 || H < 1 || Rgb.size() < static_cast<std::size_t>(W) * H * 3) return false;
  FILE* F = std::fopen(Path.c_str(), "wb");
  if (!F) return false;
  png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop Info = Png ? png_create_info_struct(Png) : nullptr;
  bool Ok = false;
  if (Png && Info && setjmp(png_jmpbuf(Png)) == 0) {
    png_init_io(Png, F);
    png_set_IHDR(Png, Info, static_cast<png_uint_32>(W), static_cast<png_uint_32>(H), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(Png, 9);
    png_write_info(Png, Info);
    for (int y = 0; y < H; ++y)
      png_write_row(Png, const_cast<png_bytep>(Rgb.data() + static_cast<std::size_t>(y) * W * 3));
    png_write_end(Png, nullptr);
    Ok = true;
  }
  png_destroy_write_struct(&Png, &Info);
  return std::fclose(F) == 0 && Ok;
}

std::string ProgramDir() {
  char Buf[4096];
  const ssize_t N = ::readlink("/proc/self/exe", Buf, sizeof Buf - 1);
  if (N <= 0) return "./";
  std::string P(Buf, static_cast<std::size_t>(N));
  return P.substr(0, P.rfind('/') + 1);
}

bool MakeDirs(const std::string& Path) {
  std::string Part;
  std::stringstream In(Path);
  std::string Piece;
  if (!Path.empty() && Path[0] == '/') Part = "/";
  while (std::getline(In, Piece, '/')) {
    if (Piece.empty()) continue;
    Part += Piece + "/";
    if (::mkdir(Part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat St;
  return ::stat(Path.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

bool IsTerminal(std::FILE* Stream) { return ::isatty(::fileno(Stream)) != 0; }

}  // namespace zorvplay
