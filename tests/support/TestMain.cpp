// Test main: sleeps run scaled down (the nominal time asked for is still counted), and the
// system temporary directory is one of this run's own, so the snapshot files a test counts are
// never those of programs running beside it. Tests that read log lines turn debug-output capture
// on themselves (Win::Test::CaptureDebugOutput).
#include <gtest/gtest.h>

#include "Platform.h"
#include "PrivateTempDir.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  Win::Test::SetSleepScale(0.01);
  const TPrivateTempDir Temp;
  return RUN_ALL_TESTS();
}
