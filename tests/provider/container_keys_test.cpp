// Key pairs of a Container: generation on the token with the lengths the
// token knows, the key information of each key specification, the rule for
// the key-set algorithm, and the container's PIN check and change.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "provider/container.h"
#include "tests/provider/support/provider_bench.h"

namespace merro::testing {
namespace {

using merro::provider::Container;

constexpr DWORD kRsa = Container::KEYSETALGORITHM_RSA;
constexpr DWORD kSm2 = Container::KEYSETALGORITHM_SM2;

class KeysTest : public ProviderBench {
 protected:
  // A new container on token 0 under the bank's rules with the flag file:
  // the factory PIN verified and kept, no prompt.
  std::unique_ptr<Container> NewContainer(const char* name) {
    HRESULT hr = E_UNEXPECTED;
    std::unique_ptr<Container> c = Container::CreateNewContainer(name, TRUE, FALSE, TRUE, &hr);
    EXPECT_EQ(hr, S_OK) << name;
    return c;
  }
  void SetUp() override {
    ProviderBench::SetUp();
    DeviceBench::Pull(1);
    m_settings.bFlagFileExist = TRUE;
    ASSERT_TRUE(StartTokenLayer());
  }
  CONTAINER_RECORD ListedRecord(const Container& c) {
    DWORD index = 0;
    EXPECT_EQ(g_pDeviceHandle->CheckContainerExist(c.m_szDeviceName, c.m_szContainerName, &index),
              S_OK);
    return *g_pDeviceHandle->m_vtrContainerSet.at(index).pstContainer();
  }
};

TEST_F(KeysTest, GeneratedKeysReportTheirAlgorithmAndLength) {
  struct Case {
    const char* container;
    DWORD keySpec;
    DWORD keyAlg;
    DWORD bits;
    ALG_ID expectedAlgId;
  } const cases[] = {
      {"rsa1024", AT_SIGNATURE, kRsa, 1024, CALG_RSA_SIGN},
      {"rsa1024", AT_KEYEXCHANGE, kRsa, 1024, CALG_RSA_KEYX},
      {"rsa2048", AT_SIGNATURE, kRsa, 2048, CALG_RSA_SIGN},
      {"rsa2048", AT_KEYEXCHANGE, kRsa, 2048, CALG_RSA_KEYX},
      {"sm2", AT_SIGNATURE, kSm2, 256, CALG_SM2_SIGN},
      {"sm2", AT_KEYEXCHANGE, kSm2, 256, CALG_SM2_KEYX},
  };
  std::map<std::string, std::unique_ptr<Container>> containers;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.container) + " key spec " + std::to_string(c.keySpec));
    std::unique_ptr<Container>& container = containers[c.container];
    if (!container) {
      container = NewContainer(c.container);
      ASSERT_TRUE(container);
    }
    ASSERT_EQ(container->GenerateKeyPair(c.keySpec, c.keyAlg, c.bits), S_OK);
    const merro::provider::KeySlot* slot = container->SlotOf(c.keySpec);
    EXPECT_EQ(slot->dwKeyAlg, c.keyAlg);
    EXPECT_EQ(slot->dwKeyBits, c.bits);
    // The key-set algorithm is the key object's to set afterwards.
    EXPECT_EQ(container->m_uKeySetAlgorithm, 0u);

    ALG_ID algId = 0;
    DWORD bits = 0;
    ASSERT_EQ(container->GetContainerInfo(c.keySpec, &algId, &bits), S_OK);
    EXPECT_EQ(algId, c.expectedAlgId);
    EXPECT_EQ(bits, c.bits);
  }
  // A registered object of the same container reads the same from the token.
  std::unique_ptr<Container> sm2 = Container::CreateRegisteredContainer("sm2", TRUE, FALSE);
  ASSERT_TRUE(sm2);
  EXPECT_EQ(sm2->m_uKeySetAlgorithm, kSm2);
  EXPECT_EQ(sm2->m_stSignKey.dwKeyBits, 256u);
  EXPECT_EQ(sm2->m_stExchKey.dwKeyBits, 256u);
}

// Only RSA-1024, RSA-2048 and SM2-256 exist on the token: any other request
// is refused before a command is sent, and the record stays as it was.
TEST_F(KeysTest, LengthsTheTokenDoesNotKnowAreRefusedBeforeAnyCommand) {
  std::unique_ptr<Container> c = NewContainer("plain");
  ASSERT_TRUE(c);
  const CONTAINER_RECORD before = ListedRecord(*c);
  ClearCommandLogs();
  struct Case {
    DWORD keySpec;
    DWORD keyAlg;
    DWORD bits;
  } const cases[] = {
      {AT_SIGNATURE, kRsa, 256},   {AT_SIGNATURE, kRsa, 512},    {AT_KEYEXCHANGE, kRsa, 4096},
      {AT_SIGNATURE, kRsa, 0},     {AT_SIGNATURE, kSm2, 1024},   {AT_KEYEXCHANGE, kSm2, 0},
      {AT_SIGNATURE, kSm2, 2048},  {3, kRsa, 1024},              {AT_SIGNATURE, 0, 1024},
      {AT_SIGNATURE, 3, 256},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE("spec " + std::to_string(k.keySpec) + " alg " + std::to_string(k.keyAlg) +
                 " bits " + std::to_string(k.bits));
    EXPECT_EQ(c->GenerateKeyPair(k.keySpec, k.keyAlg, k.bits), E_INVALIDARG);
  }
  EXPECT_TRUE(CommandLog(0).empty());
  EXPECT_TRUE(m_ui->Transcript().empty());
  const CONTAINER_RECORD after = ListedRecord(*c);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  EXPECT_EQ(c->m_stSignKey.dwKeyBits, 0u);
  EXPECT_EQ(c->m_stExchKey.dwKeyBits, 0u);
}

TEST_F(KeysTest, KeyInformationNeedsTheKeyAndTheContainer) {
  std::unique_ptr<Container> c = NewContainer("only-exchange");
  ASSERT_TRUE(c);
  ASSERT_EQ(c->GenerateKeyPair(AT_KEYEXCHANGE, kRsa, 1024), S_OK);
  ALG_ID algId = 0;
  DWORD bits = 0;
  EXPECT_TRUE(FAILED(c->GetContainerInfo(AT_SIGNATURE, &algId, &bits)));
  EXPECT_EQ(algId, 0u);
  EXPECT_EQ(c->GetContainerInfo(0, &algId, &bits), E_INVALIDARG);

  // An object of a container that no token holds.
  Container gone(c->m_szDeviceName, "never-made", TRUE, FALSE, TRUE, FALSE);
  EXPECT_EQ(gone.GetContainerInfo(AT_KEYEXCHANGE, &algId, &bits), SCARD_E_NO_KEY_CONTAINER);
  EXPECT_EQ(gone.GenerateKeyPair(AT_KEYEXCHANGE, kRsa, 1024), SCARD_E_NO_KEY_CONTAINER);
  EXPECT_EQ(gone.SynToContainer(), SCARD_E_NO_KEY_CONTAINER);
}

// Once a container holds keys of one algorithm it keeps it; an empty one
// (or one on no token) takes what it is given.
TEST_F(KeysTest, TheKeySetAlgorithmOfAContainerThatHoldsKeysStays) {
  StopTokenLayer();
  std::vector<ContainerKey> keys{Key(AT_SIGNATURE, MR_ALG_RSA1024)};
  ASSERT_TRUE(MakeContainer(0, "rsa", &keys));
  ASSERT_TRUE(StartTokenLayer());
  ASSERT_TRUE(NewContainer("empty"));  // no file of it holds data yet
  const std::string dev = DeviceBench::DeviceName(0);
  struct Case {
    const char* what;
    const char* container;
    UINT current;  // the object's key-set algorithm before the call
    UINT given;
    BOOL accepted;
    UINT after;
  } const cases[] = {
      {"empty: SM2", "empty", kRsa, kSm2, TRUE, kSm2},
      {"empty: 0", "empty", kRsa, 0, TRUE, 0},
      {"RSA keys: SM2 refused", "rsa", kRsa, kSm2, FALSE, kRsa},
      {"RSA keys: RSA again", "rsa", kRsa, kRsa, TRUE, kRsa},
      {"RSA keys: 0 refused", "rsa", kRsa, 0, FALSE, kRsa},
      {"RSA keys, not yet known: taken", "rsa", 0, kRsa, TRUE, kRsa},
      {"on no token: accepted, unchanged", "not-there", kRsa, kSm2, TRUE, kRsa},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Container c(dev.c_str(), k.container, TRUE, FALSE, TRUE, FALSE);
    c.m_uKeySetAlgorithm = k.current;
    EXPECT_EQ(c.SetKeySetAlgorithm(k.given), k.accepted);
    EXPECT_EQ(c.GetKeySetAlgorithm(), k.after);
  }
}

TEST_F(KeysTest, ThePinIsCheckedAndChangedOnTheContainersToken) {
  std::unique_ptr<Container> c = NewContainer("pins");
  ASSERT_TRUE(c);
  const auto bytes = [](const char* pin) { return reinterpret_cast<const BYTE*>(pin); };
  EXPECT_EQ(c->CheckPIN(bytes(kUserPin), 8), S_OK);
  EXPECT_EQ(c->CheckPIN(bytes("11111111"), 8), static_cast<HRESULT>(0x800063C5));
  EXPECT_EQ(c->ChangePIN(bytes(kUserPin), 8, bytes("24681357"), 8), S_OK);
  EXPECT_EQ(c->CheckPIN(bytes("24681357"), 8), S_OK);

  Container elsewhere("no such token", "pins", TRUE, FALSE, TRUE, FALSE);
  EXPECT_EQ(elsewhere.ChangePIN(bytes("24681357"), 8, bytes(kUserPin), 8), NTE_BAD_KEYSET);
  EXPECT_TRUE(m_ui->Transcript().empty());
}

}  // namespace
}  // namespace merro::testing
