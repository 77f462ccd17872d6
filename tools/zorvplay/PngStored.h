// A PNG codec with no compression library: the image data goes into stored (uncompressed)
// deflate blocks, with the chunk CRCs and the zlib Adler-32 a PNG reader checks. The files are
// about as large as a BMP and open in any viewer. The reader takes back exactly this form
// (8-bit RGB, no interlace, unfiltered rows, stored blocks), verifying every checksum.
#ifndef ZORVPLAY_PNG_STORED_H
#define ZORVPLAY_PNG_STORED_H

#include <cstdint>
#include <string>
#include <vector>

namespace zorvplay {

// The PNG file of an RGB picture (W * H * 3 bytes, rows top-down). Empty when the size is not
// 1..65535 on each side or Rgb is shorter than the picture.
std::vector<std::uint8_t> EncodePngStored(int W, int H, const std::vector<std::uint8_t>& Rgb);

// Reads such a file back. False, with the reason in Why, for anything else or a bad checksum.
bool DecodePngStored(const std::vector<std::uint8_t>& File, int& W, int& H, std::vector<std::uint8_t>& Rgb,
                     std::string& Why);

}  // namespace zorvplay

#endif
