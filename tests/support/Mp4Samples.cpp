#include "Mp4Samples.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {
bool ReadFile(const std::string& Path, std::string& Out) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  Out.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return true;
}
}  // namespace

std::uint8_t TMp4Sample::FrameTypeOf(char Kind) {
  switch (Kind) {
    case 'H': return ZORV_FRAME_FILEHEAD;
    case 'I': return ZORV_FRAME_I;
    case 'B': return ZORV_FRAME_B;
    default: return ZORV_FRAME_P;
  }
}

bool LoadMp4Sample(const std::string& Name, TMp4Sample& Sample) {
  const std::string Base = std::string(ZORV_SOURCE_DIR) + "/samples/" + Name;
  std::string Stream, Index, Sums;
  if (!ReadFile(Base + ".m4v", Stream) || !ReadFile(Base + ".idx", Index) || !ReadFile(Base + ".sum", Sums))
    return false;
  Sample = TMp4Sample{};
  Sample.Name = Name;
  Sample.Stream.assign(Stream.begin(), Stream.end());
  std::istringstream Idx(Index);
  int Frames = 0;
  if (!(Idx >> Sample.Width >> Sample.Height >> Sample.Fps >> Frames)) return false;
  TMp4Unit Unit;
  while (Idx >> Unit.Kind >> Unit.Offset >> Unit.Length) {
    if (Unit.Offset + Unit.Length > Sample.Stream.size()) return false;
    Sample.Units.push_back(Unit);
  }
  std::istringstream Sum(Sums);
  TMp4PictureSum Picture;
  while (Sum >> Picture.Width >> Picture.Height >> std::hex >> Picture.Sum >> std::dec) Sample.Sums.push_back(Picture);
  return !Sample.Units.empty() && Sample.Units[0].Kind == 'H' && int(Sample.Units.size()) == Frames + 1;
}

std::uint64_t Mp4PictureChecksum(const std::uint8_t* Picture, std::size_t Size) {
  std::uint64_t Hash = 0xcbf29ce484222325ULL;
  for (std::size_t i = 0; i < Size; ++i) {
    Hash ^= Picture[i];
    Hash *= 0x100000001b3ULL;
  }
  return Hash;
}

TFrameHead Mp4Head(std::uint8_t Group, std::uint32_t Channel, std::uint32_t Wnd, std::uint8_t FrameType,
                   std::size_t DataLen) {
  TFrameHead Head;
  std::memset(&Head, 0, sizeof Head);
  Head.Channel = Channel;
  Head.Wnd = Wnd;
  Head.DataLen = static_cast<std::uint32_t>(DataLen);
  Head.FrameType = FrameType;
  Head.DvrType = 13;
  Head.Group = Group;
  Head.DecodeMode = 2;
  return Head;
}
