// The block bookkeeping of a session-key cipher across calls: the lengths
// an encryption announces, the spare block a decryption feeds and drops,
// and counts near the top of a DWORD.
#include "provider/session_cipher_blocks.h"

#include <gtest/gtest.h>

#include <vector>

namespace merro::provider {
namespace {

constexpr DWORD kDesBlock = 8;

// One encryption call: its input, Final, and the length announced before it.
struct EncryptCall {
  DWORD dwDataLen;
  bool bFinal;
  ULONGLONG ullExpected;
};

TEST(SessionCipherBlocks, EncryptedLengthCountsWhatTheCipherHoldsBack) {
  struct Case {
    const char* what;
    DWORD dwBlock;
    std::vector<EncryptCall> calls;
  };
  const Case cases[] = {
      {"one call with Final adds the padding block", kDesBlock, {{5, true, 8}}},
      {"whole blocks with Final: a full padding block", kDesBlock, {{16, true, 24}}},
      {"held-back bytes complete a block later", kDesBlock,
       {{3, false, 0}, {5, false, 8}, {7, false, 0}, {2, true, 16}}},
      {"a stream cipher is as long as its input", 1, {{3, false, 3}, {5, true, 5}}},
      {"a top-size input is counted without wrapping", kDesBlock,
       {{7, false, 0}, {0xFFFFFFFFu, false, (7ull + 0xFFFFFFFFu) / 8 * 8}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SessionCipherBlocks blocks;
    for (const EncryptCall& call : c.calls) {
      EXPECT_EQ(blocks.EncryptedLength(c.dwBlock, call.dwDataLen, call.bFinal, true),
                call.ullExpected);
      blocks.InputFed(c.dwBlock, call.dwDataLen, false, 0);
    }
  }
}

TEST(SessionCipherBlocks, NothingIsHeldBackWhenNoCipherRunsOrAfterAReset) {
  SessionCipherBlocks blocks;
  blocks.InputFed(kDesBlock, 5, false, 0);
  EXPECT_EQ(blocks.EncryptedLength(kDesBlock, 3, false, true), 8u);
  EXPECT_EQ(blocks.EncryptedLength(kDesBlock, 3, false, false), 0u);
  blocks.Reset();
  EXPECT_EQ(blocks.EncryptedLength(kDesBlock, 3, false, true), 0u);
}

TEST(SessionCipherBlocks, TheSpareBlockOfACallIsDroppedFromTheNextOutputOnly) {
  SessionCipherBlocks blocks;
  // The first call has no spare block before it.
  EXPECT_EQ(blocks.InputFed(kDesBlock, 16, true, 16), 0u);
  // The next one drops the block that copy gave, at most what came out.
  EXPECT_EQ(blocks.InputFed(kDesBlock, 8, true, 16), kDesBlock);
  EXPECT_EQ(blocks.InputFed(kDesBlock, 8, false, 3), 3u);
  // A call that fed no spare block leaves nothing to drop.
  EXPECT_EQ(blocks.InputFed(kDesBlock, 8, false, 16), 0u);
  blocks.InputFed(kDesBlock, 8, true, 16);
  blocks.Reset();
  EXPECT_EQ(blocks.InputFed(kDesBlock, 8, false, 16), 0u);
}

TEST(SessionCipherBlocks, TheSpareBlockIsTheLastBlockOfTheData) {
  const BYTE data[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  SecretBytes fed;
  ASSERT_TRUE(SessionCipherBlocks::WithSpareBlock(data, sizeof data, kDesBlock, &fed));
  const std::vector<BYTE> expected = {0, 1, 2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                      12, 13, 14, 15, 8, 9, 10, 11, 12, 13, 14, 15};
  EXPECT_EQ(std::vector<BYTE>(fed.get(), fed.get() + fed.size()), expected);
  // Data that leaves no room for the copy in a DWORD length is refused.
  EXPECT_FALSE(SessionCipherBlocks::WithSpareBlock(data, 0xFFFFFFFCu, kDesBlock, &fed));
}

}  // namespace
}  // namespace merro::provider
