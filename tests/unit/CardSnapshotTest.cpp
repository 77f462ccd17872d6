// The card snapshot both decode card adapters take (SnapCardPicture), over a scripted card:
// which pictures count as blank, how the tries are bounded, what sizes are never fetched,
// faults inside the card, and the image handed out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "HostPictures.h"
#include "Platform.h"
#include "PrivateTempDir.h"
#include "SnapTempFiles.h"
#include "U_CardSnapshot.h"
#include "U_YuvConvert.h"

namespace {

const std::string kFail = "card-snap-fail";

// A card whose picture has the given size and whose YV12 fetch writes Fill (or throws).
struct TScriptedCard {
  std::int32_t Width = 352;
  std::int32_t Height = 288;
  std::int32_t SizeResult = 0;
  std::int32_t ImageResult = 0;
  bool ThrowOnImage = false;
  std::vector<std::size_t> NonZeroAt;  // bytes set to 1 in an otherwise empty picture; empty = pattern
  int SizeCalls = 0;
  int ImageCalls = 0;

  TCardPictureSource Source() {
    TCardPictureSource S;
    S.GetPictureSize = [this](std::int32_t* W, std::int32_t* H) {
      ++SizeCalls;
      *W = Width;
      *H = Height;
      return SizeResult;
    };
    S.GetYV12Image = [this](std::uint8_t* Buffer, std::uint32_t Size) {
      ++ImageCalls;
      if (ThrowOnImage) throw std::runtime_error("card fault");
      EXPECT_EQ(Size, static_cast<std::uint32_t>(Width) * Height * 2);
      if (NonZeroAt.empty()) {
        for (std::uint32_t i = 0; i < Size; ++i) Buffer[i] = static_cast<std::uint8_t>(16 + i % 200);
      } else {
        for (std::size_t At : NonZeroAt) Buffer[At] = 1;
      }
      return ImageResult;
    };
    return S;
  }
};

class CardSnapshotTest : public testing::Test {
 protected:
  void SetUp() override {
    Win::Test::CaptureDebugOutput(true);
    TakeLogMessages();
  }
  void TearDown() override { Win::Test::CaptureDebugOutput(false); }

  std::int32_t Snap(TScriptedCard& Card) {
    Image.assign(1024 * 1024, 0xEE);
    Size[0] = Size[1] = 0;
    std::uint8_t* Ptr = Image.data();
    return SnapCardPicture(kFail, Card.Source(), Size, &Ptr);
  }
  std::vector<std::uint8_t> Image;
  std::int32_t Size[2] = {0, 0};
};

TEST_F(CardSnapshotTest, APictureIsTakenWhenAnyProbedByteIsSet) {
  for (std::size_t At : {15, 255, 4095, 8191}) {
    TScriptedCard Card;
    Card.NonZeroAt = {At};
    EXPECT_GT(Snap(Card), 0) << At;
    EXPECT_EQ(Card.ImageCalls, 1) << At;
  }
  // Bytes elsewhere do not count: the picture is blank, tried ten times 10 ms apart.
  TScriptedCard Card;
  Card.NonZeroAt = {0, 14, 16, 8190, 8192, 100000};
  const std::uint64_t Before = Win::Test::NominalSleepMsOfThisThread();
  EXPECT_EQ(Snap(Card), -1);
  EXPECT_EQ(Card.ImageCalls, 10);
  EXPECT_EQ(Win::Test::NominalSleepMsOfThisThread() - Before, 100u);
  EXPECT_EQ(TakeLogMessages(), (std::vector<std::string>{kFail + "2"}));
}

TEST_F(CardSnapshotTest, PicturesThatCannotBeFetchedSafelyCountAsTries) {
  struct TCase {
    std::int32_t Width, Height;
  };
  // 64 x 64 is 8,192 bytes: too small to probe; the others are no size or an absurd one.
  for (TCase C : {TCase{64, 64}, TCase{0, 288}, TCase{352, -2}, TCase{-352, -288}, TCase{100000, 100000},
                  TCase{0x7FFFFFFF, 2}}) {
    TScriptedCard Card;
    Card.Width = C.Width;
    Card.Height = C.Height;
    EXPECT_EQ(Snap(Card), -1) << C.Width << "x" << C.Height;
    EXPECT_EQ(Card.SizeCalls, 10);
    EXPECT_EQ(Card.ImageCalls, 0);
  }
  // Just above the probe size the picture is fetched.
  TScriptedCard Small;
  Small.Width = 66;
  Small.Height = 64;
  EXPECT_EQ(Snap(Small), 54 + 200 * 64);
  EXPECT_EQ(Small.ImageCalls, 1);
}

TEST_F(CardSnapshotTest, CardFailuresAreNotTakenForPictures) {
  TScriptedCard SizeFails;
  SizeFails.SizeResult = -1;
  EXPECT_EQ(Snap(SizeFails), -1);
  EXPECT_EQ(SizeFails.ImageCalls, 0);

  TScriptedCard ImageFails;  // writes a picture but says it failed
  ImageFails.ImageResult = -1;
  EXPECT_EQ(Snap(ImageFails), -1);
  EXPECT_EQ(ImageFails.ImageCalls, 10);

  TCardPictureSource Nothing;  // a library without the two functions
  std::uint8_t* Ptr = Image.data();
  EXPECT_EQ(SnapCardPicture(kFail, Nothing, Size, &Ptr), -1);
  TakeLogMessages();

  TScriptedCard Raises;
  Raises.ThrowOnImage = true;
  EXPECT_EQ(Snap(Raises), -1);
  EXPECT_EQ(Raises.ImageCalls, 1);
  EXPECT_EQ(TakeLogMessages(), (std::vector<std::string>{kFail + "1", kFail + "2"}));
}

TEST_F(CardSnapshotTest, TheImageIsTheYV12PictureAsBmpAndNoTemporaryFileStays) {
  const TPrivateTempDir Temp;  // what the snapshot leaves, apart from other programs' files
  char TempPath[Win::MAX_PATH + 1] = {};
  ASSERT_NE(Win::GetTempPathA(Win::MAX_PATH, TempPath), 0u);
  ASSERT_NE(std::string(TempPath).find("zorv-tmp-"), std::string::npos) << TempPath;
  TScriptedCard Card;
  const std::int32_t Bytes = Snap(Card);
  ASSERT_EQ(Bytes, 54 + 352 * 3 * 288);
  EXPECT_EQ(Size[0], 352);
  EXPECT_EQ(Size[1], 288);
  std::vector<std::uint8_t> Picture(352 * 288 * 2);
  for (std::size_t i = 0; i < Picture.size(); ++i) Picture[i] = static_cast<std::uint8_t>(16 + i % 200);
  const std::vector<std::uint8_t> Expected = YV12ToBmpImage(Picture.data(), 352, 288);
  EXPECT_TRUE(std::equal(Expected.begin(), Expected.end(), Image.begin()));
  EXPECT_EQ(Image[Bytes], 0xEE);  // nothing past the image
  EXPECT_TRUE(SnapTempFiles().empty());

  // No buffer to copy to: -1, and the temporary file is gone all the same.
  std::uint8_t* Null = nullptr;
  EXPECT_EQ(SnapCardPicture(kFail, Card.Source(), Size, &Null), -1);
  EXPECT_EQ(SnapCardPicture(kFail, Card.Source(), Size, nullptr), -1);
  EXPECT_TRUE(SnapTempFiles().empty());
}

#ifndef _WIN32
TEST_F(CardSnapshotTest, NoTemporaryFileMeansFailureThree) {
  // A temporary directory whose name does not fit the 254 bytes the snapshot allows.
  const char* Saved = std::getenv("TMPDIR");
  const std::string SavedText = Saved ? Saved : "";
  setenv("TMPDIR", ("/tmp/" + std::string(260, 'x')).c_str(), 1);
  TScriptedCard Card;
  EXPECT_EQ(Snap(Card), -1);
  if (Saved)
    setenv("TMPDIR", SavedText.c_str(), 1);
  else
    unsetenv("TMPDIR");
  EXPECT_EQ(TakeLogMessages(), (std::vector<std::string>{kFail + "3"}));
}
#endif

}  // namespace
