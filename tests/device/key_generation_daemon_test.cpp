// Key generation on the token through the device object: each key size in
// each slot (the record, the two export forms judged by OpenSSL and
// crypt32), the refusals that send nothing to the token, a token that
// refuses to generate, and the container found by name after a refresh of
// the device list alone.
#include <string>
#include <vector>

#include "tests/device/key_slots_fixture.h"

namespace merro::testing {
namespace {

using KeyGeneration = KeySlots;

TEST_F(KeyGeneration, EachSizeInEachSlot) {
  const struct {
    DWORD bits;
    BYTE code, keyType;
    DWORD keySpec;
  } rows[] = {
      {256, 0, 0x11, AT_SIGNATURE}, {1024, 1, 1, AT_SIGNATURE}, {2048, 2, 7, AT_SIGNATURE},
      {256, 0, 0x11, AT_KEYEXCHANGE}, {1024, 1, 1, AT_KEYEXCHANGE}, {2048, 2, 7, AT_KEYEXCHANGE},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.bits << " bits, key specification " << r.keySpec);
    // The creation reclaims the last row's container, which is unfinished.
    ASSERT_TRUE(Create(0, "gen"));
    ASSERT_EQ(Generate(0, "gen", r.keySpec, r.bits), S_OK);

    const CONTAINER_RECORD record = ListedRecord(0, "gen");
    ExpectListAgrees(0, "gen");
    const bool sign = r.keySpec == AT_SIGNATURE;
    EXPECT_EQ(sign ? record.SignKeyLen : record.ExchKeyLen, r.code);
    EXPECT_EQ(sign ? record.ExchKeyLen : record.SignKeyLen, MR_CTNR_NONE);
    EXPECT_EQ(record.AlgType, r.keyType);
    // The token layer marks a generated signature key alone.
    EXPECT_EQ(record.byFlag, sign ? MR_CTNR_SIGN_KEY : MR_CTNR_NEW);

    Bytes first, second;
    ASSERT_EQ(ExportParts(0, "gen", r.keySpec, &first, &second), S_OK);
    Bytes one;
    DWORD keySet = 0;
    ASSERT_EQ(ExportOne(0, "gen", r.keySpec, &one, &keySet), S_OK);
    if (r.bits == 256) {
      ASSERT_EQ(first.size(), 32u);
      ASSERT_EQ(second.size(), 32u);
      Bytes xy = first;
      xy.insert(xy.end(), second.begin(), second.end());
      EXPECT_TRUE(IsSm2CurvePoint(xy));
      EXPECT_EQ(keySet, static_cast<DWORD>(KEYSETALGORITHM_SM2));
      EXPECT_EQ(one, xy);
      continue;
    }
    EXPECT_EQ(first.size(), r.bits / 8);
    EXPECT_EQ(second, (Bytes{0x01, 0x00, 0x01}));
    EXPECT_EQ(keySet, static_cast<DWORD>(KEYSETALGORITHM_RSA));
    const DecodedRsaKey decoded = DecodeRsaPublicKey(one);
    EXPECT_EQ(decoded.n, first);
    EXPECT_EQ(decoded.exponent, 65537u);
    EXPECT_EQ(decoded.bits, r.bits);
    // SEQUENCE { INTEGER n with a leading zero, INTEGER 65537 }.
    const Bytes head = r.bits == 2048 ? Bytes{0x30, 0x82, 0x01, 0x0A, 0x02, 0x82, 0x01, 0x01, 0x00}
                                      : Bytes{0x30, 0x81, 0x89, 0x02, 0x81, 0x81, 0x00};
    ASSERT_EQ(one.size(), head.size() + first.size() + 5);
    EXPECT_EQ(Bytes(one.begin(), one.begin() + head.size()), head);
    EXPECT_EQ(Bytes(one.end() - 5, one.end()), (Bytes{0x02, 0x03, 0x01, 0x00, 0x01}));
  }
}

// Containers whose record forbids another key, and arguments refused before
// the token is asked anything: the record stays as it was.
TEST_F(KeyGeneration, RefusalsSendNothing) {
  // Complete with both pairs: flag 0x0F.
  ASSERT_TRUE(Create(0, "full"));
  ASSERT_EQ(m_handle.InitializeContainer(m_dev[0].c_str(), "full", AT_SIGNATURE, 256), S_OK);
  ASSERT_EQ(EnableContainer(Context(0), "full", 4), S_OK);
  // Complete with its exchange pair alone: flag 0x03, no signature key.
  ASSERT_TRUE(Create(0, "single"));
  ASSERT_EQ(EnableContainer(Context(0), "single", 6), S_OK);
  // Flag 0x03, yet with a signature key: it may take another key. It gets
  // its key length code after the last creation, which would reclaim it.
  ASSERT_TRUE(Create(0, "signed"));
  ASSERT_EQ(EnableContainer(Context(0), "signed", 6), S_OK);
  ASSERT_TRUE(Create(0, "open"));
  ASSERT_EQ(m_handle.InitializeContainer(m_dev[0].c_str(), "signed", AT_SIGNATURE, 256), S_OK);
  ASSERT_EQ(TokenRecord(0, "full").byFlag, MR_CTNR_AVL);
  ASSERT_EQ(TokenRecord(0, "single").byFlag, MR_CTNR_AVL_SINGLE);
  ASSERT_EQ(TokenRecord(0, "signed").byFlag, MR_CTNR_AVL_SINGLE);

  const struct {
    const char* name;
    DWORD keySpec;
    DWORD bits;
    HRESULT result;
  } rows[] = {
      {"full", AT_SIGNATURE, 256, NTE_BAD_KEY_STATE},
      {"full", AT_KEYEXCHANGE, 1024, NTE_BAD_KEY_STATE},
      {"single", AT_SIGNATURE, 256, NTE_BAD_KEY_STATE},
      {"single", AT_KEYEXCHANGE, 2048, NTE_BAD_KEY_STATE},
      {"open", AT_SIGNATURE, 512, E_INVALIDARG},
      {"open", 0, 256, E_INVALIDARG},
      {"open", 3, 256, E_INVALIDARG},
      // No length code: the record would otherwise claim an SM2 key.
      {"open", AT_SIGNATURE, 4096, E_INVALIDARG},
      {"open", AT_KEYEXCHANGE, 4096, E_INVALIDARG},
      {"missing", AT_SIGNATURE, 256, E_FAIL},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.name << " " << r.keySpec << " " << r.bits);
    const bool listed = std::string(r.name) != "missing";
    CONTAINER_RECORD before{};
    if (listed) {
      before = ListedRecord(0, r.name);
    }
    Commands(0);
    EXPECT_EQ(Generate(0, r.name, r.keySpec, r.bits), r.result);
    // The question the provider asks before the PIN gives the same answer
    // for the container.
    const HRESULT takes = r.result == NTE_BAD_KEY_STATE ? NTE_BAD_KEY_STATE
                          : listed                      ? S_OK
                                                        : E_FAIL;
    EXPECT_EQ(m_handle.CheckContainerTakesNewKey(m_dev[0].c_str(), r.name), takes);
    EXPECT_TRUE(Commands(0).empty());
    if (listed) {
      const CONTAINER_RECORD after = ListedRecord(0, r.name);
      EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
      ExpectListAgrees(0, r.name);
    }
  }
  Commands(0);
  EXPECT_EQ(m_handle.GenKeyPair(nullptr, "open", AT_SIGNATURE, 2, 256), E_INVALIDARG);
  EXPECT_EQ(m_handle.GenKeyPair(m_dev[0].c_str(), nullptr, AT_SIGNATURE, 2, 256), E_INVALIDARG);
  EXPECT_TRUE(Commands(0).empty());

  ASSERT_EQ(Generate(0, "signed", AT_KEYEXCHANGE, 256), S_OK);
  EXPECT_EQ(ListedRecord(0, "signed").ExchKeyLen, 0);
}

TEST_F(KeyGeneration, ATokenThatRefusesGivesBadKey) {
  ASSERT_TRUE(Create(0, "gen"));
  DeviceBench::Control("fault 0 sw 6A80 ins 34");
  EXPECT_EQ(Generate(0, "gen", AT_SIGNATURE, 1024), NTE_BAD_KEY);
  DeviceBench::Control("fault 0 sw 6A82 ins 50");
  EXPECT_EQ(Generate(0, "gen", AT_KEYEXCHANGE, 256), NTE_BAD_KEY);
  // The slot was prepared, and nothing was generated into it.
  const CONTAINER_RECORD record = ListedRecord(0, "gen");
  EXPECT_EQ(record.SignKeyLen, 1);
  EXPECT_EQ(record.byFlag, MR_CTNR_NEW);
  Bytes first, second;
  EXPECT_NE(ExportParts(0, "gen", AT_SIGNATURE, &first, &second), S_OK);
}

// Token 0 pulled and the device list refreshed alone: the items of token 1
// keep device index 1, which no longer exists. Generation and export find
// the token by its name; token 0's containers are listed, their token not.
TEST_F(KeyGeneration, TheTokenIsFoundByNameAfterARefreshOfTheDevices) {
  ASSERT_TRUE(Create(0, "first"));
  ASSERT_TRUE(Create(1, "second"));
  DeviceBench::Pull(0);
  ASSERT_EQ(m_handle.UpdateDevice(), S_OK);
  ASSERT_EQ(m_handle.m_vtrDeviceSet.size(), 1u);

  ASSERT_EQ(Generate(1, "second", AT_SIGNATURE, 256), S_OK);
  EXPECT_EQ(ListedRecord(1, "second").SignKeyLen, 0);
  Bytes key;
  DWORD keySet = 0;
  EXPECT_EQ(ExportOne(1, "second", AT_SIGNATURE, &key, &keySet), S_OK);
  EXPECT_TRUE(IsSm2CurvePoint(key));
  EXPECT_EQ(Generate(0, "first", AT_SIGNATURE, 256), E_FAIL);
  EXPECT_EQ(ExportOne(0, "first", AT_SIGNATURE, &key, &keySet), E_FAIL);
}

}  // namespace
}  // namespace merro::testing
