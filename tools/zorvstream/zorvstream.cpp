// zorvstream: writes a ZRV stream file (the format every stand-in player decodes) from a
// synthetic moving pattern.
//
//   zorvstream OUT [--width W] [--height H] [--fps F] [--frames N] [--audio] [--raw] [--key K]
//
// Defaults: 352 x 288, 25 frames per second, 50 frames, no audio, PackBits coding, a key
// picture every 25 frames.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ZrvStream.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: zorvstream OUT [--width W] [--height H] [--fps F] [--frames N] [--audio] [--raw] [--key K]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string out;
  zrv::StreamParams params;
  int frames = 50;
  int key = 25;
  zrv::Coding coding = zrv::kPackBits;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&](int& v) {
      if (i + 1 >= argc) return false;
      v = std::atoi(argv[++i]);
      return true;
    };
    if (a == "--width") {
      if (!next(params.width)) return Usage();
    } else if (a == "--height") {
      if (!next(params.height)) return Usage();
    } else if (a == "--fps") {
      if (!next(params.fps)) return Usage();
    } else if (a == "--frames") {
      if (!next(frames)) return Usage();
    } else if (a == "--key") {
      if (!next(key)) return Usage();
    } else if (a == "--audio") {
      params.audio = true;
    } else if (a == "--raw") {
      coding = zrv::kRaw;
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else {
      out = a;
    }
  }
  if (out.empty() || frames < 0 || !zrv::ValidDimensions(params.width, params.height) || params.fps < 1 ||
      params.fps > 200) {
    std::fprintf(stderr, "zorvstream: bad arguments (even width and height 2..4096, fps 1..200)\n");
    return 2;
  }
  zrv::SyntheticStream stream = zrv::MakeSyntheticStream(params, frames, coding, key);
  if (!zrv::WriteFile(out, stream.FileBytes())) {
    std::fprintf(stderr, "zorvstream: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
