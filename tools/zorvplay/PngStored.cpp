#include "PngStored.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zorvplay {
namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kMaxBlock = 65535;                  // bytes of one stored deflate block
constexpr std::uint64_t kMaxRaw = 512ull * 1024 * 1024;  // largest picture taken, filter bytes included

const std::array<std::uint32_t, 256>& CrcTable() {
  static const std::array<std::uint32_t, 256> Table = [] {
    std::array<std::uint32_t, 256> T{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t C = n;
      for (int k = 0; k < 8; ++k) C = (C & 1) ? 0xEDB88320u ^ (C >> 1) : C >> 1;
      T[n] = C;
    }
    return T;
  }();
  return Table;
}

std::uint32_t Crc32(const std::uint8_t* Data, std::size_t Size) {
  const auto& T = CrcTable();
  std::uint32_t C = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < Size; ++i) C = T[(C ^ Data[i]) & 0xFF] ^ (C >> 8);
  return C ^ 0xFFFFFFFFu;
}

std::uint32_t Adler32(const std::uint8_t* Data, std::size_t Size) {
  std::uint32_t A = 1, B = 0;
  while (Size > 0) {
    const std::size_t Run = Size < 5552 ? Size : 5552;  // sums cannot overflow before the modulo
    for (std::size_t i = 0; i < Run; ++i) {
      A += Data[i];
      B += A;
    }
    A %= 65521;
    B %= 65521;
    Data += Run;
    Size -= Run;
  }
  return (B << 16) | A;
}

void Put32(std::vector<std::uint8_t>& Out, std::uint32_t X) {
  for (int s = 24; s >= 0; s -= 8) Out.push_back(static_cast<std::uint8_t>(X >> s));
}

std::uint32_t Get32(const std::uint8_t* P) {
  return static_cast<std::uint32_t>(P[0]) << 24 | static_cast<std::uint32_t>(P[1]) << 16 |
         static_cast<std::uint32_t>(P[2]) << 8 | P[3];
}

void PutChunk(std::vector<std::uint8_t>& Out, const char* Type, const std::vector<std::uint8_t>& Data) {
  Put32(Out, static_cast<std::uint32_t>(Data.size()));
  const std::size_t Start = Out.size();
  Out.insert(Out.end(), Type, Type + 4);
  Out.insert(Out.end(), Data.begin(), Data.end());
  Put32(Out, Crc32(Out.data() + Start, Out.size() - Start));
}

}  // namespace

std::vector<std::uint8_t> EncodePngStored(int W, int H, const std::vector<std::uint8_t>& Rgb) {
  if (W < 1 || H < 1 || W > 65535 || H > 65535) return {};
  const std::uint64_t Row = static_cast<std::uint64_t>(W) * 3;
  if ((Row + 1) * static_cast<std::uint64_t>(H) > kMaxRaw || Rgb.size() < Row * static_cast<std::uint64_t>(H)) return {};

  // The scan lines, each behind its filter byte (0: none).
  std::vector<std::uint8_t> Raw;
  Raw.reserve(static_cast<std::size_t>((Row + 1) * H));
  for (int y = 0; y < H; ++y) {
    Raw.push_back(0);
    const auto* Line = Rgb.data() + static_cast<std::size_t>(Row) * y;
    Raw.insert(Raw.end(), Line, Line + Row);
  }

  // zlib stream: header (deflate, 32 KiB window, no dictionary), stored blocks, Adler-32.
  std::vector<std::uint8_t> Z = {0x78, 0x01};
  Z.reserve(Raw.size() + Raw.size() / kMaxBlock * 5 + 16);
  std::size_t At = 0;
  do {
    const std::size_t Len = std::min(kMaxBlock, Raw.size() - At);
    const bool Last = At + Len == Raw.size();
    Z.push_back(Last ? 1 : 0);  // BFINAL, BTYPE 00
    Z.push_back(static_cast<std::uint8_t>(Len));
    Z.push_back(static_cast<std::uint8_t>(Len >> 8));
    Z.push_back(static_cast<std::uint8_t>(~Len));
    Z.push_back(static_cast<std::uint8_t>(~Len >> 8));
    Z.insert(Z.end(), Raw.begin() + At, Raw.begin() + At + Len);
    At += Len;
  } while (At < Raw.size());
  Put32(Z, Adler32(Raw.data(), Raw.size()));

  std::vector<std::uint8_t> Out(kSignature, kSignature + 8);
  std::vector<std::uint8_t> Ihdr;
  Put32(Ihdr, static_cast<std::uint32_t>(W));
  Put32(Ihdr, static_cast<std::uint32_t>(H));
  Ihdr.insert(Ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit, RGB, deflate, adaptive filters, no interlace
  PutChunk(Out, "IHDR", Ihdr);
  PutChunk(Out, "IDAT", Z);
  PutChunk(Out, "IEND", {});
  return Out;
}

bool DecodePngStored(const std::vector<std::uint8_t>& File, int& W, int& H, std::vector<std::uint8_t>& Rgb,
                     std::string& Why) {
  if (File.size() < 8 || std::memcmp(File.data(), kSignature, 8) != 0) {
    Why = "no PNG signature";
    return false;
  }
  std::vector<std::uint8_t> Z;
  bool HaveHeader = false, Ended = false;
  std::size_t At = 8;
  while (!Ended) {
    if (File.size() - At < 12) {
      Why = "cut off before IEND";
      return false;
    }
    const std::uint32_t Len = Get32(&File[At]);
    if (Len > File.size() - At - 12) {
      Why = "a chunk runs past the end of the file";
      return false;
    }
    const std::uint8_t* Type = &File[At + 4];
    const std::uint8_t* Data = Type + 4;
    if (Crc32(Type, Len + 4) != Get32(Data + Len)) {
      Why = "bad chunk CRC";
      return false;
    }
    if (std::memcmp(Type, "IHDR", 4) == 0) {
      if (Len != 13 || Data[8] != 8 || Data[9] != 2 || Data[10] != 0 || Data[11] != 0 || Data[12] != 0) {
        Why = "not an 8-bit RGB picture without interlace";
        return false;
      }
      const std::uint32_t Wu = Get32(Data), Hu = Get32(Data + 4);
      if (Wu < 1 || Hu < 1 || Wu > 65535 || Hu > 65535 || (Wu * 3ull + 1) * Hu > kMaxRaw) {
        Why = "picture size out of range";
        return false;
      }
      W = static_cast<int>(Wu);
      H = static_cast<int>(Hu);
      HaveHeader = true;
    } else if (std::memcmp(Type, "IDAT", 4) == 0) {
      Z.insert(Z.end(), Data, Data + Len);
    } else if (std::memcmp(Type, "IEND", 4) == 0) {
      Ended = true;
    }
    At += 12 + Len;
  }
  if (!HaveHeader) {
    Why = "no IHDR";
    return false;
  }
  if (Z.size() < 6 || (Z[0] & 0x0F) != 8 || (Z[0] * 256 + Z[1]) % 31 != 0 || (Z[1] & 0x20) != 0) {
    Why = "image data is not a zlib stream";
    return false;
  }
  std::vector<std::uint8_t> Raw;
  std::size_t P = 2;
  for (bool Last = false; !Last;) {
    if (Z.size() - P < 5) {
      Why = "image data cut off";
      return false;
    }
    if ((Z[P] & 0x06) != 0) {
      Why = "image data is compressed (only stored blocks are read here)";
      return false;
    }
    Last = (Z[P] & 1) != 0;
    const std::size_t Len = Z[P + 1] | Z[P + 2] << 8;
    if ((Len ^ 0xFFFF) != static_cast<std::size_t>(Z[P + 3] | Z[P + 4] << 8) || Len > Z.size() - P - 5) {
      Why = "damaged stored block";
      return false;
    }
    Raw.insert(Raw.end(), Z.begin() + P + 5, Z.begin() + P + 5 + Len);
    P += 5 + Len;
  }
  if (Z.size() - P < 4 || Get32(&Z[P]) != Adler32(Raw.data(), Raw.size())) {
    Why = "bad Adler-32 of the image data";
    return false;
  }
  const std::size_t Row = static_cast<std::size_t>(W) * 3;
  if (Raw.size() != (Row + 1) * H) {
    Why = "image data does not match the picture size";
    return false;
  }
  Rgb.resize(Row * H);
  for (int y = 0; y < H; ++y) {
    if (Raw[(Row + 1) * y] != 0) {
      Why = "filtered rows (only unfiltered rows are read here)";
      return false;
    }
    std::memcpy(&Rgb[Row * y], &Raw[(Row + 1) * y + 1], Row);
  }
  return true;
}

}  // namespace zorvplay
