// A container's record through the device object against the daemon:
// prepared for a key (the token's record and the list's copy agree), the
// key sizes and key-set algorithm read from it, emptiness; and deletion of
// one container or all, on the right token after a refresh of the device
// list alone.
#include <cstring>
#include <string>
#include <vector>

#include "tests/device/container_fixture.h"

namespace merro::testing {
namespace {

class Records : public ContainerTest {
 protected:
  void SetUp() override {
    ContainerTest::SetUp();
    ASSERT_TRUE(DeviceBench::CreateContainers(0, {"rec", "exch"}));
    Start(FALSE);
    ASSERT_EQ(VerifyUserPin(m_dev0), S_OK);
  }
  // The token's record and the list's copy, byte for byte.
  void ExpectAgree(const char* name) {
    const CONTAINER_RECORD listed = ListedRecord(m_dev0, name);
    EXPECT_EQ(std::memcmp(&listed, &TokenRecord(m_dev0, name), sizeof listed), 0) << name;
  }
  // Writes the three fields on the token, then refreshes the lists.
  void WriteFields(const char* name, BYTE alg, BYTE sign, BYTE exch) {
    CONTAINER_RECORD record = TokenRecord(m_dev0, name);
    record.AlgType = alg;
    record.SignKeyLen = sign;
    record.ExchKeyLen = exch;
    ASSERT_EQ(WriteContainer(Context(m_dev0), &record), S_OK);
    ASSERT_EQ(m_handle.UpdateContainer(), S_OK);
  }
};

TEST_F(Records, InitializeContainerRecordsTypeAndCodeOnTheTokenAndTheList) {
  const struct {
    const char* name;
    DWORD keySpec;
    DWORD bits;
    HRESULT result;
    BYTE alg, sign, exch;  // the record afterwards
  } steps[] = {
      {"rec", AT_SIGNATURE, 2048, S_OK, 7, 2, 0xFF},
      // An exchange key keeps the type the signature key gave.
      {"rec", AT_KEYEXCHANGE, 1024, S_OK, 7, 2, 1},
      // No code for 4096 bits, no key specification 3: nothing written.
      {"rec", AT_KEYEXCHANGE, 4096, E_INVALIDARG, 7, 2, 1},
      {"rec", 3, 1024, E_INVALIDARG, 7, 2, 1},
      {"rec", AT_SIGNATURE, 256, S_OK, 0x11, 0, 1},
      // A container with no type yet takes the exchange key's.
      {"exch", AT_KEYEXCHANGE, 1024, S_OK, 1, 0xFF, 1},
      {"missing", AT_SIGNATURE, 1024, E_FAIL, 0, 0, 0},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(std::string(s.name) + " " + std::to_string(s.keySpec) + " " +
                 std::to_string(s.bits));
    EXPECT_EQ(m_handle.InitializeContainer(m_dev0.c_str(), s.name, s.keySpec, s.bits), s.result);
    if (std::string(s.name) == "missing") {
      continue;
    }
    const CONTAINER_RECORD& record = TokenRecord(m_dev0, s.name);
    EXPECT_EQ(record.AlgType, s.alg);
    EXPECT_EQ(record.SignKeyLen, s.sign);
    EXPECT_EQ(record.ExchKeyLen, s.exch);
    ExpectAgree(s.name);
  }
  EXPECT_EQ(DwordValues(21), (std::vector<std::uint32_t>{0, 0, 0, 0}));
  EXPECT_EQ(m_handle.InitializeContainer(nullptr, "rec", AT_SIGNATURE, 1024), E_INVALIDARG);
}

TEST_F(Records, KeyLengthsAndKeySetAlgorithm) {
  const struct {
    BYTE alg, sign, exch;
    DWORD keySpec;
    HRESULT result;
    DWORD bits;
  } rows[] = {
      {0x11, 0, 0xFF, AT_SIGNATURE, S_OK, 256},
      {0x11, 0, 0xFF, AT_KEYEXCHANGE, S_OK, 0},  // no exchange key
      {0x11, 1, 0xFF, AT_SIGNATURE, E_FAIL, 0},
      {0x11, 2, 0xFF, AT_SIGNATURE, E_FAIL, 0},
      {7, 0, 0xFF, AT_SIGNATURE, E_FAIL, 0},
      {1, 1, 1, AT_KEYEXCHANGE, S_OK, 1024},
      {7, 2, 0xFF, AT_SIGNATURE, S_OK, 2048},
      {7, 0xFF, 2, AT_SIGNATURE, S_OK, 0},
      {7, 5, 2, AT_SIGNATURE, S_OK, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::Message() << "type " << int(r.alg) << " sign " << int(r.sign)
                                      << " exch " << int(r.exch) << " spec " << r.keySpec);
    WriteFields("rec", r.alg, r.sign, r.exch);
    DWORD bits = 0xDEAD;
    EXPECT_EQ(m_handle.GetKeyLength(m_dev0.c_str(), "rec", r.keySpec, &bits), r.result);
    if (r.result == S_OK) {
      EXPECT_EQ(bits, r.bits);
    }
  }
  // Value 22: the codes that name no key.
  EXPECT_EQ(DwordValues(22), (std::vector<std::uint32_t>{0xFF, 0xFF, 5}));
  DWORD bits = 0;
  EXPECT_EQ(m_handle.GetKeyLength(m_dev0.c_str(), "rec", 3, &bits), E_INVALIDARG);
  EXPECT_EQ(m_handle.GetKeyLength(m_dev0.c_str(), "missing", AT_SIGNATURE, &bits), E_FAIL);

  const struct {
    BYTE alg, sign, exch;
    DWORD keySet, signBits, exchBits;
  } infos[] = {
      {0x11, 0, 0xFF, KEYSETALGORITHM_SM2, 256, 256},
      {7, 2, 0xFF, KEYSETALGORITHM_RSA, 2048, 0},
      {1, 1, 1, KEYSETALGORITHM_RSA, 1024, 1024},
      {0xFF, 0xFF, 0xFF, KEYSETALGORITHM_RSA, 0, 0},
  };
  for (const auto& i : infos) {
    SCOPED_TRACE(::testing::Message() << "type " << int(i.alg));
    WriteFields("rec", i.alg, i.sign, i.exch);
    DWORD keySet = 0, signBits = 0xDEAD, exchBits = 0xDEAD;
    ASSERT_EQ(m_handle.GetContainerInfo(m_dev0.c_str(), "rec", &keySet, &signBits, &exchBits),
              S_OK);
    EXPECT_EQ(keySet, i.keySet);
    EXPECT_EQ(signBits, i.signBits);
    EXPECT_EQ(exchBits, i.exchBits);
    EXPECT_EQ(m_handle.GetContainerInfo(m_dev0.c_str(), "rec", &keySet, &signBits), S_OK);
  }
  DWORD keySet = 0;
  EXPECT_EQ(m_handle.GetContainerInfo(m_dev0.c_str(), "rec", &keySet, nullptr), E_INVALIDARG);
  EXPECT_EQ(m_handle.GetContainerInfo(m_dev0.c_str(), "missing", &keySet, &bits), E_FAIL);
}

TEST_F(Records, EmptyUntilAFileHoldsData) {
  BOOL empty = FALSE;
  // The bench made both available: their flags are set.
  EXPECT_EQ(m_handle.IsContainerEmpty(m_dev0.c_str(), "rec", &empty), S_OK);
  EXPECT_FALSE(empty);
  m_ui->Push(std::string("pin ") + kFactoryPin);
  ASSERT_EQ(CreateOn("fresh"), S_OK);
  EXPECT_EQ(m_handle.IsContainerEmpty(m_dev0.c_str(), "fresh", &empty), S_OK);
  EXPECT_TRUE(empty);
  EXPECT_EQ(m_handle.IsContainerEmpty(m_dev0.c_str(), "missing", &empty), E_FAIL);
  EXPECT_EQ(m_handle.IsContainerEmpty(m_dev0.c_str(), "rec", nullptr), E_INVALIDARG);
}

TEST_F(Records, DeleteOneThenTheListCatchesUpAtTheRefresh) {
  ASSERT_EQ(m_handle.MerroDeleteContainer(m_dev0.c_str(), "rec"), S_OK);
  EXPECT_EQ(OnToken(m_dev0), (std::vector<std::string>{"exch"}));
  EXPECT_EQ(m_handle.CheckContainerExist(m_dev0.c_str(), "rec"), S_OK);
  ASSERT_EQ(m_handle.UpdateContainer(), S_OK);
  EXPECT_EQ(m_handle.CheckContainerExist(m_dev0.c_str(), "rec"), NTE_NO_KEY);
  EXPECT_EQ(m_handle.MerroDeleteContainer(m_dev0.c_str(), "rec"), E_FAIL);
  EXPECT_EQ(m_handle.MerroDeleteContainer(m_dev0.c_str(), nullptr), E_INVALIDARG);
}

TEST_F(Records, DeleteAllAndAFaultOnTheSecond) {
  ASSERT_EQ(m_handle.DeleteAllContainer(m_dev0.c_str()), S_OK);
  EXPECT_TRUE(OnToken(m_dev0).empty());
  EXPECT_EQ(m_handle.DeleteAllContainer(m_dev0.c_str()), S_OK);  // none left
  EXPECT_EQ(m_handle.DeleteAllContainer(m_dev1.c_str()), NTE_BAD_KEYSET);

  ASSERT_TRUE(DeviceBench::CreateContainers(0, {"first", "second", "third"}));
  ASSERT_EQ(m_handle.UpdateContainer(), S_OK);  // the refresh reopened the token
  ASSERT_EQ(VerifyUserPin(m_dev0), S_OK);
  // Each deletion first reads the PIN status (two PIN STATUS commands):
  // the second deletion is refused.
  DeviceBench::Control("fault 0 sw 6A82 ins 25 skip 2");
  EXPECT_EQ(m_handle.DeleteAllContainer(m_dev0.c_str()), E_FAIL);
  EXPECT_EQ(OnToken(m_dev0), (std::vector<std::string>{"second", "third"}));
}

// Token 0 pulled and the device list refreshed alone: the container items
// keep their old device indexes, which now point one token further on.
// Deletion finds the token by the item's name.
TEST_F(Records, DeletionFollowsTheTokenByNameAfterARefreshOfTheDevices) {
  for (int i : {1, 2}) {
    DeviceBench::Insert(i);
    ASSERT_TRUE(DeviceBench::Prepare(i));
    ASSERT_TRUE(DeviceBench::CreateContainers(i, {"shared"}));
  }
  ASSERT_EQ(m_handle.UpdateContainer(), S_OK);
  ASSERT_EQ(m_handle.m_vtrDeviceSet.size(), 3u);
  DeviceBench::Pull(0);
  ASSERT_EQ(m_handle.UpdateDevice(), S_OK);
  ASSERT_EQ(m_handle.m_vtrDeviceSet.size(), 2u);
  ASSERT_EQ(VerifyUserPin(m_dev1), S_OK);
  ASSERT_EQ(VerifyUserPin(m_dev2), S_OK);

  ASSERT_EQ(m_handle.MerroDeleteContainer(m_dev1.c_str(), "shared"), S_OK);
  EXPECT_TRUE(OnToken(m_dev1).empty());
  EXPECT_EQ(OnToken(m_dev2), (std::vector<std::string>{"shared"}));
  // Token 0's containers are still listed, but their token is not.
  EXPECT_EQ(m_handle.MerroDeleteContainer(m_dev0.c_str(), "rec"), E_FAIL);
}

}  // namespace
}  // namespace merro::testing
