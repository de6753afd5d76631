// Byte order, GUID strings, key-type and hash-type mapping, device names.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "foundation/misc/byte_order.h"
#include "foundation/misc/device_name.h"
#include "foundation/misc/guid_string.h"
#include "foundation/misc/key_type.h"
#include "foundation/container_record.h"

namespace {

const HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
const HRESULT kNoKey = static_cast<HRESULT>(0x8009000D);

TEST(ByteOrder, ReversesInPlace) {
  const struct {
    std::vector<BYTE> in, out;
  } cases[] = {
      {{}, {}}, {{1}, {1}}, {{1, 2}, {2, 1}}, {{1, 2, 3}, {3, 2, 1}}, {{1, 2, 3, 4}, {4, 3, 2, 1}},
  };
  for (auto c : cases) {
    SwapByteOrder(c.in.data(), static_cast<DWORD>(c.in.size()));
    EXPECT_EQ(c.in, c.out);
  }
  SwapByteOrder(nullptr, 4);  // nothing to do, nothing to crash on
}

bool IsRegistryForm(const std::basic_string<UTF16CHAR>& s) {
  if (s.size() != kGUIDStringLength || s.front() != '{' || s.back() != '}') {
    return false;
  }
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    const UTF16CHAR c = s[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    if (dash ? c != '-' : !hex) {
      return false;
    }
  }
  return true;
}

TEST(GuidString, FormatsRegistryForm) {
  const merro::trace::Guid g{0x0808C692, 0x638A, 0xF16E, {0x84, 0xFA, 0xC2, 0x17, 0x4E, 0xBE, 0x0D, 0xEB}};
  UTF16CHAR buffer[kGUIDStringCapacity];
  ASSERT_EQ(FormatGUIDString(g, buffer, kGUIDStringCapacity), kGUIDStringLength);
  const std::u16string expected = u"{0808C692-638A-F16E-84FA-C2174EBE0DEB}";
  EXPECT_EQ(std::basic_string<UTF16CHAR>(buffer),
            std::basic_string<UTF16CHAR>(expected.begin(), expected.end()));
  EXPECT_EQ(FormatGUIDString(g, buffer, kGUIDStringLength), 0u) << "no room for the terminator";
  EXPECT_EQ(FormatGUIDString(g, nullptr, 64), 0u);
}

TEST(GuidString, CreatesDistinctGuids) {
  std::set<std::basic_string<UTF16CHAR>> seen;
  for (int i = 0; i < 200; ++i) {
    UTF16CHAR buffer[kGUIDStringCapacity];
    std::fill(std::begin(buffer), std::end(buffer), UTF16CHAR{'#'});
    ASSERT_EQ(CreateGUIDString(buffer), S_OK);
    const std::basic_string<UTF16CHAR> s(buffer);
    EXPECT_TRUE(IsRegistryForm(s));
    EXPECT_EQ(s[15], UTF16CHAR{'4'}) << "random GUIDs are version 4";
    seen.insert(s);
  }
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_EQ(CreateGUIDString(nullptr), kBadArgument);
}

CONTAINER_RECORD Record(BYTE exchKeyLen, BYTE signKeyLen) {
  CONTAINER_RECORD r;
  std::memset(&r, 0xFF, sizeof r);
  r.ExchKeyLen = exchKeyLen;
  r.SignKeyLen = signKeyLen;
  return r;
}

TEST(KeyType, MapsKeyLengthCodes) {
  const struct {
    BYTE code;
    HRESULT hr;
    BYTE keyType;
    DWORD bits;
  } cases[] = {
      {0x00, S_OK, MR_ALG_SM2, 256},  {0x01, S_OK, MR_ALG_RSA1024, 1024},
      {0x02, S_OK, MR_ALG_RSA2048, 2048}, {0x03, kNoKey, 0, 0},
      {0xFF, kNoKey, 0, 0},
  };
  for (const auto& c : cases) {
    for (const DWORD spec : {DWORD{AT_SIGNATURE}, DWORD{AT_KEYEXCHANGE}}) {
      // The other key's code is one that would fail, so a mix-up shows.
      const CONTAINER_RECORD r =
          spec == AT_SIGNATURE ? Record(0x7E, c.code) : Record(c.code, 0x7E);
      BYTE keyType = 0xAA;
      DWORD bits = 0xBBBB;
      EXPECT_EQ(GetKeyType(&r, spec, &keyType, &bits), c.hr) << int(c.code) << " spec " << spec;
      EXPECT_EQ(keyType, c.hr == S_OK ? c.keyType : 0xAA);
      EXPECT_EQ(bits, c.hr == S_OK ? c.bits : 0xBBBBu);
    }
  }
}

// Key sizes back to codes: only the three sizes a record can hold.
TEST(KeyType, KeySizesHaveCodesUpTo2048Bits) {
  for (const DWORD bits : {256u, 1024u, 2048u}) {
    const KeyLengthCode* code = FindKeyLengthCodeForBits(bits);
    ASSERT_NE(code, nullptr) << bits;
    EXPECT_EQ(FindKeyLengthCode(code->byCode), code) << bits;
  }
  for (const DWORD bits : {0u, 512u, 4096u}) {
    EXPECT_EQ(FindKeyLengthCodeForBits(bits), nullptr) << bits;
  }
}

TEST(KeyType, SignatureKeyMissingWhileExchangeKeyMapsAndChecks) {
  const CONTAINER_RECORD r = Record(0x02, 0xFF);
  BYTE keyType = 0;
  EXPECT_EQ(GetKeyType(&r, AT_SIGNATURE, &keyType, nullptr), kNoKey);
  EXPECT_EQ(GetKeyType(&r, AT_KEYEXCHANGE, &keyType, nullptr), S_OK);
  EXPECT_EQ(keyType, MR_ALG_RSA2048) << "the key type is written without a length output";
  EXPECT_EQ(GetKeyType(nullptr, AT_SIGNATURE, &keyType, nullptr), kBadArgument);
  EXPECT_EQ(GetKeyType(&r, 3, &keyType, nullptr), kBadArgument);
  EXPECT_EQ(GetKeyType(&r, 0, &keyType, nullptr), kBadArgument);
  EXPECT_EQ(GetKeyType(&r, AT_KEYEXCHANGE, nullptr, nullptr), kBadArgument);
}

TEST(KeyHashType, MapsCryptoApiHashes) {
  const struct {
    ALG_ID alg;
    HRESULT hr;
    BYTE type;
  } cases[] = {
      {CALG_MD5, S_OK, 10},          {CALG_SHA1, S_OK, 11},          {CALG_SHA_256, S_OK, 12},
      {CALG_SSL3_SHAMD5, S_OK, 14},  {CALG_SM3, S_OK, 18},           {0x800F, S_OK, 18},
      {CALG_SHA_384, kBadArgument, 0}, {CALG_SHA_512, kBadArgument, 0}, {0, kBadArgument, 0},
      {0x6610, kBadArgument, 0},
  };
  for (const auto& c : cases) {
    BYTE type = 0xCC;
    EXPECT_EQ(GetKeyHashType(c.alg, &type), c.hr) << std::hex << c.alg;
    EXPECT_EQ(type, c.hr == S_OK ? c.type : 0xCC) << std::hex << c.alg;
  }
  EXPECT_EQ(GetKeyHashType(CALG_SHA1, nullptr), kBadArgument);
}

std::vector<std::string> Names(const std::vector<DeviceItem>& items) {
  std::vector<std::string> out;
  for (const DeviceItem& item : items) {
    out.emplace_back(item.szDeviceName);
    EXPECT_EQ(item.szDeviceLabel[0], '\0');
    EXPECT_EQ(item.pDevCtx, nullptr);
  }
  return out;
}

TEST(DeviceName, WalksTheListWithinItsSize) {
  const std::string name259(259, 'n');
  const struct {
    const char* name;
    std::string list;
    HRESULT hr;
    std::vector<std::string> names;
  } cases[] = {
      {"two names", std::string("A\0B\0\0", 5), S_OK, {"A", "B"}},
      {"empty name ends the walk", std::string("A\0\0B\0\0", 6), S_OK, {"A"}},
      {"end of size ends the walk", std::string("A\0B\0", 4), S_OK, {"A", "B"}},
      {"size cuts after the first name", std::string("A\0B\0", 2), S_OK, {"A"}},
      {"259 octets fit", name259 + std::string("\0\0", 2), S_OK, {name259}},
      {"260 octets do not", name259 + std::string("x\0\0", 3), kBadArgument, {}},
      {"unterminated within the size", std::string("A\0BC", 4), kBadArgument, {}},
  };
  for (const auto& c : cases) {
    std::vector<DeviceItem> items(1);
    std::strcpy(items[0].szDeviceName, "kept");
    items[0].szDeviceLabel[0] = '\0';
    items[0].pDevCtx = nullptr;
    EXPECT_EQ(ParseDeviceName(c.list.data(), static_cast<DWORD>(c.list.size()), &items), c.hr) << c.name;
    std::vector<std::string> expected{"kept"};
    expected.insert(expected.end(), c.names.begin(), c.names.end());
    EXPECT_EQ(Names(items), expected) << c.name;
  }
  std::vector<DeviceItem> items;
  EXPECT_EQ(ParseDeviceName(nullptr, 4, &items), kBadArgument);
  EXPECT_EQ(ParseDeviceName("A\0", 0, &items), kBadArgument);
  EXPECT_EQ(ParseDeviceName("A\0", 2, nullptr), kBadArgument);
}

}  // namespace
