// What the two decode card adapters share: the snapshot of a card channel's current picture,
// and the bound of the 100-entry card channel tables.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Card channel tables (handles, stream flags) hold 100 card channels.
constexpr std::int32_t CardTableChannels = 100;

// The part of a card's reported channel count the 100-entry tables can serve: Count clamped to
// 0..CardTableChannels (a negative count serves none).
inline std::int32_t CardChannelsInTable(std::int64_t Count) {
  return Count <= 0 ? 0 : Count > CardTableChannels ? CardTableChannels : static_cast<std::int32_t>(Count);
}

// Tries a card snapshot makes before it gives up.
constexpr int CardSnapTries = 10;
// Largest picture a card snapshot accepts (width x height x 2 bytes); a larger report counts as
// no picture.
constexpr std::int64_t CardSnapMaxBytes = 64 * 1024 * 1024;

// The card library calls a snapshot makes on the channel's card stream. Both return the
// library's result (0 = success); either may raise.
struct TCardPictureSource {
  std::function<std::int32_t(std::int32_t* Width, std::int32_t* Height)> GetPictureSize;
  std::function<std::int32_t(std::uint8_t* Buffer, std::uint32_t Size)> GetYV12Image;
};

// BMP image of the card stream's current picture, written to *Buffer, with (width, height) in
// Size[0], Size[1]. Returns the byte count, -1 when nothing was captured.
//
// Up to CardSnapTries times: asks the picture size, fetches a YV12 picture into a buffer of
// width x height x 2 bytes. A picture of more than 8,192 bytes whose bytes 15, 255, 4,095 and
// 8,191 are all 0 is blank (the card shows nothing yet); a blank picture, or no picture at all
// (a size of 8,192 bytes or less, a dimension not positive, a size over CardSnapMaxBytes),
// counts as a try and costs a 10 ms pause. A fetch the library reports as failed reads as
// blank. The picture taken is written as a BMP file to a "~BMP" temporary file, read back,
// copied out; the temporary file is always deleted.
//
// Failure lines, FailText followed by a digit: 1 when a library call raised (the tries end),
// 2 when no picture was taken, 3 when no temporary file could be made or no image made of the
// picture, 4 when the file read back empty (it could not be written).
std::int32_t SnapCardPicture(const std::string& FailText, const TCardPictureSource& Source, std::int32_t* Size,
                             std::uint8_t** Buffer);
