// Helpers that read a captured BMP file back into memory and take its picture size.
#pragma once

#include <cstdint>
#include <string>

// Bytes read per chunk by ReadWholeFile.
constexpr std::size_t ReadChunkSize = 61440;

// Size of an existing file (not a directory); 0 when it does not exist. Windows-style path.
std::int64_t FileSizeOf(const std::string& FileName);

// Replaces Data with the whole content of the file; empty for a missing or empty file.
// Returns the number of chunks read (for tests; callers ignore it).
std::uint32_t ReadWholeFile(const std::string& FileName, std::string& Data);

// Width and height of the BMP image in Data (signed, as stored in its information header):
// Size[0] = width, Size[1] = height; (0, 0) when Data is shorter than the two headers.
void BmpPictureSize(const std::string& Data, std::int32_t* Size);
