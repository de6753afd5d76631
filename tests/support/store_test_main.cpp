// main() of the test programs that read the certificate store in a second
// process: a child run writes its snapshot, any other run runs the tests.
#include <gtest/gtest.h>

#include "tests/support/store_snapshot.h"

int main(int argc, char** argv) {
  int exitCode = 0;
  if (merro::testing::RunStoreSnapshotChild(argc, argv, &exitCode)) {
    return exitCode;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
