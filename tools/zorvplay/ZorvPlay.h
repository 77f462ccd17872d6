// zorvplay: what the host needs from the system it runs on. zorvplay.cpp holds the client itself
// (options, streams, feeding, snapshot, summary); SurfaceWall.cpp (Linux: in-memory surfaces,
// libpng) and WindowsWall.cpp (Windows: real windows and a message loop) provide the wall of
// windows and the few services that differ.
#ifndef ZORVPLAY_H
#define ZORVPLAY_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace zorvplay {

// The video wall: one window per display channel, laid out in Cols columns of TileW x TileH
// tiles with Gap pixels between them (as the mosaic shows them). The windows are read back
// through the surface functions (include/ZorvSurface.h), which take any window handle.
class TWall {
 public:
  virtual ~TWall() = default;
  // The window handle the frame heads of a channel carry.
  virtual std::uint32_t Window(int Channel) const = 0;
  // Lets the windows live for about Ms milliseconds. Real windows belong to the thread that made
  // them, which must pump their messages while the library draws into them from its own threads.
  virtual void Serve(int Ms) = 0;
  // True once the user closed the wall: the host stops feeding and writes what it has.
  virtual bool Closed() const = 0;
};

// Makes the wall, or gives nullptr with the reason in Why. Its windows go when it is destroyed
// (by the thread that made it).
std::unique_ptr<TWall> MakeWall(int Channels, int Cols, int TileW, int TileH, int Gap, std::string& Why);

// An RGB picture (rows top-down) as a PNG file.
bool WritePng(const std::string& Path, int W, int H, const std::vector<std::uint8_t>& Rgb);

// The directory of the running program, ending in its path separator.
std::string ProgramDir();
// Makes a directory and its parents; true when it exists afterwards.
bool MakeDirs(const std::string& Path);
// True when the stream goes to a terminal (the progress line then rewrites itself).
bool IsTerminal(std::FILE* Stream);

}  // namespace zorvplay

#endif
