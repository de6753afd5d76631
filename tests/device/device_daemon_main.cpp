// The device daemon test program: a child mode when started as a child,
// else the tests.
#include <gtest/gtest.h>

#include "tests/device/update_mutex_children.h"

int main(int argc, char** argv) {
  const int child = merro::testing::RunUpdateMutexChild(argc, argv);
  if (child >= 0) {
    return child;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
