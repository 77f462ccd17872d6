#include "U_FileUtils.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

#include "Platform.h"

std::int64_t FileSizeOf(const std::string& FileName) {
  std::uint64_t Size = 0;
  if (!Win::FileExists(FileName.c_str()) || !Win::FileSize(FileName.c_str(), Size)) return 0;
  return static_cast<std::int64_t>(Size);
}

std::uint32_t ReadWholeFile(const std::string& FileName, std::string& Data) {
  const std::int64_t Size = FileSizeOf(FileName);
  Data.clear();
  if (Size < 1) return 0;
  std::ifstream File(Win::NativePath(FileName.c_str()), std::ios::binary);
  if (!File) return 0;
  Data.resize(static_cast<std::size_t>(Size));
  std::vector<char> Chunk(ReadChunkSize);
  std::size_t Copied = 0;
  std::uint32_t Chunks = 0;
  while (Copied < Data.size()) {
    const std::size_t Want = std::min(ReadChunkSize, Data.size() - Copied);
    File.read(Chunk.data(), static_cast<std::streamsize>(Want));
    const std::size_t Got = static_cast<std::size_t>(File.gcount());
    if (Got == 0) break;  // the file shrank while being read: keep what was there
    std::memcpy(Data.data() + Copied, Chunk.data(), Got);
    Copied += Got;
    ++Chunks;
  }
  Data.resize(Copied);
  return Chunks;
}

void BmpPictureSize(const std::string& Data, std::int32_t* Size) {
  Size[0] = 0;
  Size[1] = 0;
  if (Data.size() < 54) return;
  auto ReadI32 = [&](std::size_t At) {
    std::uint32_t V = 0;
    for (int i = 3; i >= 0; --i) V = (V << 8) | static_cast<std::uint8_t>(Data[At + i]);
    return static_cast<std::int32_t>(V);
  };
  Size[0] = ReadI32(14 + 4);
  Size[1] = ReadI32(14 + 8);
}
