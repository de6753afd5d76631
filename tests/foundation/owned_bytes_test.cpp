// The owned buffers: copies, hand-out to a BYTE**/DWORD* pair, adoption of a
// buffer a callee made, and moves. Wiping itself is SecureWipe's.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/owned_bytes.h"
#include "foundation/secret_bytes.h"

namespace {

using merro::OwnedBytes;
using merro::OwnedText;
using merro::SecretBytes;

TEST(OwnedBytes, CopiesIntoRoomThatIsZeroedPastTheData) {
  const BYTE source[] = {1, 2, 3};
  const struct {
    size_t n, room;
  } cases[] = {{0, 0}, {3, 3}, {3, 4}, {2, 8}};
  for (const auto& c : cases) {
    SecretBytes copy = SecretBytes::CopyOf(source, c.n, c.room);
    ASSERT_NE(copy, nullptr) << c.n << "/" << c.room;  // a held buffer even for 0 bytes
    ASSERT_EQ(copy.size(), c.room);
    EXPECT_EQ(0, std::memcmp(copy.data(), source, c.n));
    for (size_t i = c.n; i < c.room; ++i) {
      EXPECT_EQ(copy.data()[i], 0) << i;
    }
  }
}

TEST(OwnedBytes, RefusesACopyLargerThanItsRoomOrADwordLength) {
  const BYTE source[] = {1, 2, 3};
  const struct {
    size_t n, room;
  } cases[] = {{3, 2}, {1, size_t{1} << 32}, {1, (size_t{1} << 32) + 1}};
  for (const auto& c : cases) {
    SecretBytes copy = SecretBytes::CopyOf("old", 3);
    EXPECT_FALSE(copy.Assign(source, c.n, c.room)) << c.n << "/" << c.room;
    EXPECT_EQ(copy, nullptr) << c.n << "/" << c.room;  // what it held is released
    EXPECT_EQ(SecretBytes::CopyOf(source, c.n, c.room), nullptr) << c.n << "/" << c.room;
  }
}

TEST(OwnedBytes, HandOutGivesTheBufferAndItsLengthAndKeepsNothing) {
  const BYTE source[] = {9, 8, 7, 6};
  OwnedBytes copy = OwnedBytes::CopyOf(source, sizeof source);
  BYTE* pbyOut = nullptr;
  DWORD dwOut = 0;
  copy.HandOut(&pbyOut, &dwOut);
  ASSERT_NE(pbyOut, nullptr);
  EXPECT_EQ(dwOut, sizeof source);
  EXPECT_EQ(0, std::memcmp(pbyOut, source, sizeof source));
  EXPECT_EQ(copy, nullptr);
  EXPECT_TRUE(copy.empty());
  delete[] pbyOut;  // the receiver's, as the interfaces free it

  // A terminated text copy for a char** interface.
  OwnedText text = OwnedText::CopyOf("name", 4, 5);
  char* pszOut = nullptr;
  text.HandOut(&pszOut);
  EXPECT_EQ(std::string(pszOut), "name");
  delete[] pszOut;
}

TEST(OwnedBytes, AdoptsWhatACalleeWritesAndReleasesTheOldBuffer) {
  SecretBytes held = SecretBytes::CopyOf("old", 3);
  // A callee that hands out a buffer, as the device object does.
  auto callee = [](BYTE** ppby, DWORD* pdw) {
    *ppby = new BYTE[2]{0xAA, 0xBB};
    *pdw = 2;
  };
  callee(held.Out(), held.Length());
  ASSERT_EQ(held.size(), 2u);
  EXPECT_EQ(held.data()[1], 0xBB);

  // A length written without a buffer counts for nothing.
  SecretBytes none;
  *none.Length() = 5;
  EXPECT_EQ(none.size(), 0u);
  EXPECT_TRUE(none.empty());
}

TEST(OwnedBytes, ReleaseFreesARawMemberAndClearsIt) {
  BYTE* pbyMember = new BYTE[8]();
  SecretBytes::Release(pbyMember, 8);
  EXPECT_EQ(pbyMember, nullptr);
  SecretBytes::Release(pbyMember, 8);  // nothing held: nothing to do

  OwnedBytes zeroed = OwnedBytes::Zeroed(3);
  ASSERT_EQ(zeroed.size(), 3u);
  EXPECT_EQ(zeroed.data()[0] | zeroed.data()[1] | zeroed.data()[2], 0);
  zeroed.HandOut(&pbyMember);
  EXPECT_NE(pbyMember, nullptr);
  OwnedBytes::Release(pbyMember, 3);
  EXPECT_EQ(pbyMember, nullptr);
}

TEST(OwnedBytes, MovesLeaveTheSourceEmpty) {
  SecretBytes first = SecretBytes::CopyOf("pin", 3);
  SecretBytes second = std::move(first);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(second.size(), 3u);
  SecretBytes third = SecretBytes::CopyOf("x", 1);
  third = std::move(second);
  EXPECT_EQ(second, nullptr);
  ASSERT_EQ(third.size(), 3u);
  EXPECT_EQ(0, std::memcmp(third.data(), "pin", 3));
  third.Clear();
  EXPECT_TRUE(third.empty());
}

}  // namespace
