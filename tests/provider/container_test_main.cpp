// The Container test program: child runs (a store snapshot read by a second
// process, the token layer started in a process of its own) or the tests.
#include <gtest/gtest.h>

#include "tests/provider/container_children.h"
#include "tests/support/store_snapshot.h"

int main(int argc, char** argv) {
  int exitCode = 0;
  if (merro::testing::RunStoreSnapshotChild(argc, argv, &exitCode) ||
      merro::testing::RunContainerChild(argc, argv, &exitCode)) {
    return exitCode;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
