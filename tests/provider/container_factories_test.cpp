// The three factories of the Container against two daemon tokens: a new
// container (named, or "{GUID}.default") on the token the user picks, a
// registered container found on whichever token holds it, and an ephemeral
// container that lives only in the process.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <set>
#include <string>

#include "provider/container.h"
#include "tests/provider/support/provider_bench.h"

namespace merro::testing {
namespace {

using merro::provider::Container;

class FactoriesTest : public ProviderBench {
 protected:
  // Row of token i in the device object's list (the selection's rows).
  int RowOf(int i) {
    const std::string name = DeviceBench::DeviceName(i);
    const auto& devices = g_pDeviceHandle->m_vtrDeviceSet;
    for (size_t row = 0; row < devices.size(); ++row) {
      if (name == devices[row].szDeviceName) {
        return static_cast<int>(row);
      }
    }
    ADD_FAILURE() << "token " << i << " is not listed";
    return -1;
  }
  std::vector<std::string> PromptKinds() {
    std::vector<std::string> kinds;
    for (const auto& prompt : m_ui->Transcript()) {
      kinds.push_back(prompt.kind);
    }
    return kinds;
  }
  std::unique_ptr<Container> CreateNew(const char* name, HRESULT* phr) {
    return Container::CreateNewContainer(name, TRUE, FALSE, TRUE, phr);
  }
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.default"
bool IsGeneratedName(const std::string& name) {
  static const char kSuffix[] = ".default";
  if (name.size() != 46 || name.compare(38, std::string::npos, kSuffix) != 0 || name[0] != '{' ||
      name[37] != '}') {
    return false;
  }
  for (size_t at = 1; at < 37; ++at) {
    const bool dash = at == 9 || at == 14 || at == 19 || at == 24;
    if (dash ? name[at] != '-' : !std::isxdigit(static_cast<unsigned char>(name[at]))) {
      return false;
    }
  }
  return true;
}

TEST_F(FactoriesTest, ANewContainerWithoutANameGetsAFreshGuidNameOnThePickedToken) {
  ASSERT_TRUE(StartTokenLayer());
  std::set<std::string> names;
  for (int round = 0; round < 2; ++round) {
    m_ui->Push("select " + std::to_string(RowOf(1)));
    m_ui->Push(std::string("pin ") + kUserPin);
    HRESULT hr = E_UNEXPECTED;
    std::unique_ptr<Container> c = CreateNew(nullptr, &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_TRUE(c);
    EXPECT_TRUE(IsGeneratedName(c->m_szContainerName)) << c->m_szContainerName;
    EXPECT_EQ(std::string(c->m_szDeviceName), DeviceBench::DeviceName(1));
    // Not synchronised: nothing known of its keys yet.
    EXPECT_EQ(c->m_uKeySetAlgorithm, 0u);
    EXPECT_EQ(c->m_stSignKey.dwKeyBits, 0u);
    EXPECT_EQ(c->m_stSignKey.dwKeySpec, static_cast<DWORD>(AT_SIGNATURE));
    EXPECT_EQ(c->m_stExchKey.dwKeySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
    EXPECT_FALSE(c->IsEphemeral());
    EXPECT_EQ(g_pDeviceHandle->CheckContainerExist(c->m_szContainerName), S_OK);
    names.insert(c->m_szContainerName);
  }
  EXPECT_EQ(names.size(), 2u);
  EXPECT_EQ(PromptKinds(), (std::vector<std::string>{"select", "pin", "select", "pin"}));
}

TEST_F(FactoriesTest, ANewContainerHandsBackTheOutcome) {
  struct Case {
    const char* what;
    std::string name;
    BOOL flagFile;
    std::vector<std::string> answers;
    HRESULT expected;
    std::vector<std::string> prompts;
  } const cases[] = {
      {"named, PIN typed", "alpha", FALSE, {"select 0", std::string("pin ") + kUserPin}, S_OK,
       {"select", "pin"}},
      {"the bank's rules with the flag file: the factory PIN, no prompt", "beta", TRUE,
       {"select 0"}, S_OK, {"select"}},
      {"the PIN dialog cancelled", "gamma", FALSE, {"select 0", "cancel"},
       SCARD_W_CANCELLED_BY_USER, {"select", "pin"}},
      {"the selection cancelled", "delta", FALSE, {"cancel"}, SCARD_W_CANCELLED_BY_USER,
       {"select"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    m_settings.bFlagFileExist = c.flagFile;
    ASSERT_TRUE(StartTokenLayer());
    ScopedScriptedUi ui(c.answers);
    HRESULT hr = E_UNEXPECTED;
    std::unique_ptr<Container> made = CreateNew(c.name.c_str(), &hr);
    EXPECT_EQ(hr, c.expected);
    EXPECT_EQ(made != nullptr, c.expected == S_OK);
    if (made) {
      EXPECT_EQ(std::string(made->m_szContainerName), c.name);
    }
    std::vector<std::string> kinds;
    for (const auto& prompt : ui->Transcript()) {
      kinds.push_back(prompt.kind);
    }
    EXPECT_EQ(kinds, c.prompts);
    StopTokenLayer();
  }
}

// The token keeps at most 63 bytes and a terminator: a longer name is
// refused before anything is asked or sent, and one that does not even fit
// the object's field is refused whole, never cut.
TEST_F(FactoriesTest, ATooLongNameIsRefusedBeforeAnyPromptOrCommand) {
  ASSERT_TRUE(StartTokenLayer());
  ClearCommandLogs();
  for (size_t length : {64, 259, 260, 400}) {
    SCOPED_TRACE(length);
    const std::string name(length, 'n');
    HRESULT hr = S_OK;
    EXPECT_FALSE(CreateNew(name.c_str(), &hr));
    EXPECT_EQ(hr, E_INVALIDARG);
  }
  EXPECT_TRUE(m_ui->Transcript().empty());
  EXPECT_TRUE(CommandLog(0).empty());
  EXPECT_TRUE(CommandLog(1).empty());
}

TEST_F(FactoriesTest, ARegisteredContainerIsFoundOnTheTokenThatHoldsIt) {
  std::vector<ContainerKey> keys{Key(AT_SIGNATURE, MR_ALG_RSA1024)};
  ASSERT_TRUE(MakeContainer(1, "on-second", &keys));
  ASSERT_TRUE(StartTokenLayer());

  std::unique_ptr<Container> c = Container::CreateRegisteredContainer("on-second", FALSE, TRUE);
  ASSERT_TRUE(c);
  EXPECT_EQ(std::string(c->m_szDeviceName), DeviceBench::DeviceName(1));
  EXPECT_EQ(std::string(c->m_szContainerName), "on-second");
  EXPECT_FALSE(c->IsAllowUI());
  EXPECT_TRUE(c->IsMachineKeySet());
  EXPECT_EQ(c->m_bThirdFlag, TRUE);
  // Synchronised with the token's record.
  EXPECT_EQ(c->m_uKeySetAlgorithm, Container::KEYSETALGORITHM_RSA);
  EXPECT_EQ(c->m_stSignKey.dwKeyAlg, Container::KEYSETALGORITHM_RSA);
  EXPECT_EQ(c->m_stSignKey.dwKeyBits, 1024u);
  EXPECT_EQ(c->m_stExchKey.dwKeyBits, 0u);

  EXPECT_FALSE(Container::CreateRegisteredContainer("nowhere", TRUE, FALSE));
  EXPECT_FALSE(Container::CreateRegisteredContainer(nullptr, TRUE, FALSE));
  // Pulled: its container is gone with it.
  DeviceBench::Pull(1);
  EXPECT_FALSE(Container::CreateRegisteredContainer("on-second", TRUE, FALSE));
}

TEST_F(FactoriesTest, AnEphemeralContainerNeedsAnInsertedTokenAndRefusesKeys) {
  ASSERT_TRUE(StartTokenLayer());
  std::unique_ptr<Container> c = Container::CreateEphemeralContainer(TRUE, FALSE, TRUE);
  ASSERT_TRUE(c);
  EXPECT_STREQ(c->m_szDeviceName, "");
  EXPECT_TRUE(IsGeneratedName(c->m_szContainerName)) << c->m_szContainerName;
  EXPECT_TRUE(c->IsEphemeral());
  EXPECT_EQ(c->GenerateKeyPair(AT_SIGNATURE, Container::KEYSETALGORITHM_RSA, 1024),
            NTE_BAD_PROV_TYPE);
  // On no token: the key-set algorithm is the caller's to choose.
  EXPECT_TRUE(c->SetKeySetAlgorithm(Container::KEYSETALGORITHM_SM2));
  c.reset();  // its clean-up finds nothing of it in the store

  DeviceBench::Pull(0);
  DeviceBench::Pull(1);
  EXPECT_FALSE(Container::CreateEphemeralContainer(TRUE, FALSE, TRUE));
}

TEST_F(FactoriesTest, WithoutTheTokenLayerNothingIsMade) {
  HRESULT hr = S_OK;
  EXPECT_FALSE(Container::CreateNewContainer("alpha", TRUE, FALSE, TRUE, &hr));
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_FALSE(Container::CreateRegisteredContainer("alpha", TRUE, FALSE));
  EXPECT_FALSE(Container::CreateEphemeralContainer(TRUE, FALSE, TRUE));
  Container c("dev", "name", TRUE, FALSE, TRUE, FALSE);
  EXPECT_EQ(c.SynToContainer(), E_FAIL);
  EXPECT_EQ(c.GenerateKeyPair(AT_SIGNATURE, Container::KEYSETALGORITHM_RSA, 1024), E_FAIL);
  EXPECT_EQ(c.CheckPIN(reinterpret_cast<const BYTE*>(kUserPin), 8), E_FAIL);
  EXPECT_FALSE(c.SetKeySetAlgorithm(Container::KEYSETALGORITHM_RSA));
}

}  // namespace
}  // namespace merro::testing
