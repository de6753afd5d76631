// The scope guard that wipes what outlives it: a stack record or array, and
// a byte vector, are zero once the guard's scope has ended.
#include <gtest/gtest.h>

#include <vector>

#include "foundation/wiped_bytes.h"

namespace {

struct KeyRecord {
  BYTE n[4];
  DWORD nLen;
};

TEST(WipeOnExit, ZeroesWhatItGuardsWhenTheScopeEnds) {
  BYTE key[5] = {1, 2, 3, 4, 5};
  KeyRecord record{{9, 9, 9, 9}, 4};
  std::vector<BYTE> frame = {7, 7, 7};
  {
    const merro::WipeOnExit wipeKey(key);
    const merro::WipeOnExit wipeRecord(record);
    const merro::WipeOnExit wipeFrame(frame);
    EXPECT_EQ(key[0], 1);  // nothing wiped while the scope runs
  }
  for (BYTE b : key) {
    EXPECT_EQ(b, 0);
  }
  for (BYTE b : record.n) {
    EXPECT_EQ(b, 0);
  }
  EXPECT_EQ(record.nLen, 0u);
  EXPECT_EQ(frame, std::vector<BYTE>(3, 0));  // wiped, not emptied
}

}  // namespace
