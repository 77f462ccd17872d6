// The sample MPEG-4 streams in samples/ (made by tools/mksamples): the stream bytes, its frame
// index and the pictures a plain libavcodec decoder makes of it, for tests and benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ZorvDecoder.h"

struct TMp4Unit {
  char Kind = 0;  // 'H' configuration header (the file head), 'I', 'P' or 'B'
  std::size_t Offset = 0, Length = 0;
};

struct TMp4PictureSum {
  std::uint32_t Width = 0, Height = 0;
  std::uint64_t Sum = 0;
  bool operator==(const TMp4PictureSum&) const = default;
};

struct TMp4Sample {
  std::string Name;
  int Width = 0, Height = 0, Fps = 0;
  std::vector<std::uint8_t> Stream;
  std::vector<TMp4Unit> Units;         // Units[0] is the header
  std::vector<TMp4PictureSum> Sums;    // what libavcodec gives, picture by picture

  const std::uint8_t* Data(const TMp4Unit& Unit) const { return Stream.data() + Unit.Offset; }
  // The frame type code a recorder would send the unit with (file head, I, P, B).
  static std::uint8_t FrameTypeOf(char Kind);
};

// Loads samples/<Name>.{m4v,idx,sum}; false when a file is missing or malformed.
bool LoadMp4Sample(const std::string& Name, TMp4Sample& Sample);

// FNV-1a 64 over Size bytes (the checksum of a contiguous Y, Cb, Cr picture as delivered).
std::uint64_t Mp4PictureChecksum(const std::uint8_t* Picture, std::size_t Size);

// A frame head for a type-13 unit on (Group, Channel) shown in Wnd.
TFrameHead Mp4Head(std::uint8_t Group, std::uint32_t Channel, std::uint32_t Wnd, std::uint8_t FrameType,
                   std::size_t DataLen);
