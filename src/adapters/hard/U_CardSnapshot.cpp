#include "U_CardSnapshot.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "Platform.h"
#include "U_DecodeBase.h"
#include "U_FileUtils.h"
#include "U_Log.h"
#include "U_YuvConvert.h"

namespace {

// Bytes a blank picture has as 0; only pictures larger than BlankProbeBytes are probed.
constexpr std::size_t BlankProbes[] = {15, 255, 4095, 8191};
constexpr std::int64_t BlankProbeBytes = 8192;
constexpr Win::DWORD TempPathBytes = 254;
constexpr Win::DWORD BlankPauseMs = 10;

bool ShowsSomething(const std::vector<std::uint8_t>& Picture) {
  return std::any_of(std::begin(BlankProbes), std::end(BlankProbes),
                     [&](std::size_t At) { return Picture[At] != 0; });
}

// A fresh "~BMP" temporary file name (the file exists, empty); "" when none could be had.
std::string CardSnapTempName() {
  char Dir[TempPathBytes + 1] = {};
  char Name[Win::MAX_PATH + 1] = {};
  const Win::DWORD Length = Win::GetTempPathA(TempPathBytes, Dir);
  if (Length == 0 || Length > TempPathBytes) return {};
  if (Win::GetTempFileNameA(Dir, "~BMP", 0, Name) == 0) return {};
  return Name;
}

}  // namespace

std::int32_t SnapCardPicture(const std::string& FailText, const TCardPictureSource& Source, std::int32_t* Size,
                             std::uint8_t** Buffer) {
  std::vector<std::uint8_t> Picture;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  bool Taken = false;
  for (int Try = 0; Try < CardSnapTries && !Taken; ++Try) {
    bool Fetched = false;
    bool Raised = false;
    Width = 0;
    Height = 0;
    const std::int64_t Bytes = [&] {
      bool SizeOk = false;
      Raised = !GuardedCall([&] { SizeOk = Source.GetPictureSize && Source.GetPictureSize(&Width, &Height) == 0; });
      if (Raised || !SizeOk || Width <= 0 || Height <= 0) return std::int64_t{0};
      return std::int64_t{Width} * Height * 2;
    }();
    if (!Raised && Bytes > BlankProbeBytes && Bytes <= CardSnapMaxBytes) {
      // A fresh, zeroed buffer each time: a fetch that writes nothing reads as blank.
      Picture.assign(static_cast<std::size_t>(Bytes), 0);
      Raised = !GuardedCall([&] {
        Fetched = Source.GetYV12Image &&
                  Source.GetYV12Image(Picture.data(), static_cast<std::uint32_t>(Bytes)) == 0;
      });
    }
    if (Raised) {
      WriteLog(FailText + "1");
      break;
    }
    Taken = Fetched && ShowsSomething(Picture);
    if (!Taken) Win::Sleep(BlankPauseMs);
  }
  if (!Taken) {
    WriteLog(FailText + "2");
    return -1;
  }

  // A picture that cannot be turned into an image fails here; one whose file cannot be
  // written reads back empty below.
  const std::string Name = CardSnapTempName();
  if (Name.empty() || SaveYUVAsBmp(Picture.data(), Width, Height, Name.c_str()) == 0) {
    if (!Name.empty()) Win::DeleteFileA(Name.c_str());
    WriteLog(FailText + "3");
    return -1;
  }
  std::string Image;
  ReadWholeFile(Name, Image);
  Win::DeleteFileA(Name.c_str());
  if (Image.empty()) {
    WriteLog(FailText + "4");
    return -1;
  }
  if (!Buffer || !*Buffer) return -1;
  if (Size) BmpPictureSize(Image, Size);
  std::memcpy(*Buffer, Image.data(), Image.size());
  return static_cast<std::int32_t>(Image.size());
}
