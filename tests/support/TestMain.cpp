// Test main: sleeps run scaled down (the nominal time asked for is still counted). Tests that
// read log lines turn debug-output capture on themselves (Win::Test::CaptureDebugOutput).
#include <gtest/gtest.h>

#include "Platform.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  Win::Test::SetSleepScale(0.01);
  return RUN_ALL_TESTS();
}
