// The wall on Windows: a top-level window holding one child window per channel. The library
// draws into the children's device contexts from its own threads; the thread that made the
// windows pumps their messages (Serve) and reads them back for the mosaic. No PNG library comes
// with the Windows build, so the mosaic is written by the stored-block PNG writer.
#include <windows.h>
#include <io.h>

#include "PngStored.h"
#include "ZorvPlay.h"
#include "ZorvSurface.h"

namespace zorvplay {
namespace {

const char kWallClass[] = "ZorvPlayWall";
const char kTileClass[] = "ZorvPlayTile";

LRESULT CALLBACK WallProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);

LRESULT CALLBACK TileProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  switch (Msg) {
    case WM_ERASEBKGND:
      return 1;  // the last picture drawn stays in the window
    case WM_PAINT: {
      PAINTSTRUCT Ps;
      ::BeginPaint(Wnd, &Ps);
      ::EndPaint(Wnd, &Ps);
      return 0;
    }
    default:
      return ::DefWindowProcA(Wnd, Msg, WParam, LParam);
  }
}

bool RegisterClasses() {
  static const bool Registered = [] {
    const HINSTANCE Instance = ::GetModuleHandleA(nullptr);
    WNDCLASSA Wall{};
    Wall.lpfnWndProc = WallProc;
    Wall.hInstance = Instance;
    Wall.lpszClassName = kWallClass;
    Wall.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    Wall.hbrBackground = ::CreateSolidBrush(RGB(48, 48, 48));  // the gaps between the tiles
    WNDCLASSA Tile{};
    Tile.lpfnWndProc = TileProc;
    Tile.hInstance = Instance;
    Tile.lpszClassName = kTileClass;
    Tile.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    return ::RegisterClassA(&Wall) != 0 && ::RegisterClassA(&Tile) != 0;
  }();
  return Registered;
}

std::uint32_t HandleOf(HWND Wnd) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Wnd)); }

class TWindowsWall : public TWall {
 public:
  ~TWindowsWall() override {
    if (Top) ::DestroyWindow(Top);  // the tiles go with it
    Serve(0);
  }

  std::uint32_t Window(int Channel) const override { return HandleOf(Tiles[static_cast<std::size_t>(Channel)]); }

  void Serve(int Ms) override {
    const DWORD End = ::GetTickCount() + static_cast<DWORD>(Ms);
    for (;;) {
      MSG M;
      while (::PeekMessageA(&M, nullptr, 0, 0, PM_REMOVE)) {
        if (M.message == WM_QUIT) {
          UserClosed = true;
          continue;
        }
        ::TranslateMessage(&M);
        ::DispatchMessageA(&M);
      }
      const auto Left = static_cast<LONG>(End - ::GetTickCount());
      if (Left <= 0) break;
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(Left), QS_ALLINPUT);
    }
  }

  bool Closed() const override { return UserClosed; }

  HWND Top = nullptr;
  std::vector<HWND> Tiles;
  bool UserClosed = false;
};

LRESULT CALLBACK WallProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == WM_CLOSE) {
    // Closing the wall ends the run; the windows stay until the images are written.
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcA(Wnd, Msg, WParam, LParam);
}

}  // namespace

std::unique_ptr<TWall> MakeWall(int Channels, int Cols, int TileW, int TileH, int Gap, std::string& Why) {
  if (!RegisterClasses()) {
    Why = "cannot register the window classes (error " + std::to_string(::GetLastError()) + ")";
    return nullptr;
  }
  const int Rows = (Channels + Cols - 1) / Cols;
  RECT R = {0, 0, Cols * TileW + (Cols + 1) * Gap, Rows * TileH + (Rows + 1) * Gap};
  const DWORD Style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  ::AdjustWindowRect(&R, Style, FALSE);
  const int ScreenW = ::GetSystemMetrics(SM_CXSCREEN), ScreenH = ::GetSystemMetrics(SM_CYSCREEN);
  if (R.right - R.left > ScreenW || R.bottom - R.top > ScreenH)
    std::fprintf(stderr,
                 "zorvplay: the wall (%ld x %ld) is larger than the screen (%d x %d): the parts outside it stay black "
                 "in the mosaic (fewer channels or a smaller --tile)\n",
                 R.right - R.left, R.bottom - R.top, ScreenW, ScreenH);
  auto Wall = std::make_unique<TWindowsWall>();
  const std::string Title = "zorvplay - " + std::to_string(Channels) + " channels";
  // At the screen's corner: only what is on screen can be read back for the mosaic.
  Wall->Top = ::CreateWindowExA(0, kWallClass, Title.c_str(), Style, 0, 0, R.right - R.left, R.bottom - R.top,
                                nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  if (!Wall->Top) {
    Why = "cannot create the wall window (error " + std::to_string(::GetLastError()) + ")";
    return nullptr;
  }
  for (int c = 0; c < Channels; ++c) {
    const HWND Tile = ::CreateWindowExA(0, kTileClass, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                                        Gap + (c % Cols) * (TileW + Gap), Gap + (c / Cols) * (TileH + Gap), TileW,
                                        TileH, Wall->Top, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c + 1)),
                                        ::GetModuleHandleA(nullptr), nullptr);
    if (!Tile) {
      Why = "cannot create the window of channel " + std::to_string(c) + " (error " +
            std::to_string(::GetLastError()) + ")";
      return nullptr;  // the wall window takes the tiles made so far with it
    }
    Wall->Tiles.push_back(Tile);
  }
  ::ShowWindow(Wall->Top, SW_SHOWNORMAL);
  ::UpdateWindow(Wall->Top);
  for (HWND Tile : Wall->Tiles) zorv_surface_fill(HandleOf(Tile), 0, 0, 0);
  Wall->Serve(0);
  return Wall;
}

bool WritePng(const std::string& Path, int W, int H, const std::vector<std::uint8_t>& Rgb) {
  const std::vector<std::uint8_t> File = EncodePngStored(W, H, Rgb);
  if (File.empty()) return false;
  std::FILE* F = std::fopen(Path.c_str(), "wb");
  if (!F) return false;
  const bool Written = std::fwrite(File.data(), 1, File.size(), F) == File.size();
  return std::fclose(F) == 0 && Written;
}

std::string ProgramDir() {
  char Buf[MAX_PATH * 4];
  const DWORD N = ::GetModuleFileNameA(nullptr, Buf, sizeof Buf);
  if (N == 0 || N >= sizeof Buf) return ".\\";
  const std::string P(Buf, N);
  const std::size_t Cut = P.find_last_of("\\/");
  return Cut == std::string::npos ? ".\\" : P.substr(0, Cut + 1);
}

bool MakeDirs(const std::string& Path) {
  // Each prefix ending before a separator, then the whole path (drive roots simply fail).
  for (std::size_t At = Path.find_first_of("\\/", 1); At != std::string::npos; At = Path.find_first_of("\\/", At + 1))
    ::CreateDirectoryA(Path.substr(0, At).c_str(), nullptr);
  ::CreateDirectoryA(Path.c_str(), nullptr);
  const DWORD A = ::GetFileAttributesA(Path.c_str());
  return A != INVALID_FILE_ATTRIBUTES && (A & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsTerminal(std::FILE* Stream) { return ::_isatty(::_fileno(Stream)) != 0; }

}  // namespace zorvplay
