#include "tests/device/key_operations_fixture.h"

#include "foundation/alg_ids.h"
#include "foundation/secure_wipe.h"

namespace merro::testing {

KeyContainer KeyOperations::s_sm2;
KeyContainer KeyOperations::s_rsa1024;
KeyContainer KeyOperations::s_rsa2048;
KeyContainer KeyOperations::s_single;
std::unique_ptr<Rsaenh> KeyOperations::s_rsaenh;

void KeyOperations::SetUpTestSuite() {
  ASSERT_NE(std::getenv("MERRO_TOKEN_SIM"), nullptr) << "run under run-with-tokensim";
  DeviceBench::Insert(0);
  ASSERT_TRUE(DeviceBench::Prepare(0));
  s_rsaenh = std::make_unique<Rsaenh>();
  ASSERT_TRUE(s_rsaenh->Ok());
  RSA_KEY imported{};
  ASSERT_TRUE(s_rsaenh->GenerateSignatureKey(&imported));
  ASSERT_TRUE(MakeKeyContainer(0, {kSm2Pair, MR_ALG_SM2, MR_ALG_SM2}, &s_sm2));
  ASSERT_TRUE(MakeKeyContainer(0, {kRsa1024, MR_ALG_RSA1024, MR_ALG_RSA1024, &imported}, &s_rsa1024));
  merro::SecureWipe(&imported, sizeof imported);
  ASSERT_TRUE(MakeKeyContainer(0, {kRsa2048, MR_ALG_RSA2048, MR_ALG_RSA2048}, &s_rsa2048));
  ASSERT_TRUE(MakeKeyContainer(0, {kSm2Single, 0, MR_ALG_SM2}, &s_single));
}

void KeyOperations::TearDownTestSuite() { s_rsaenh.reset(); }

const KeyContainer& KeyOperations::Container(const std::string& name) {
  for (const KeyContainer* c : {&s_sm2, &s_rsa1024, &s_rsa2048, &s_single}) {
    if (c->name == name) {
      return *c;
    }
  }
  ADD_FAILURE() << "no container " << name;
  return s_sm2;
}

void KeyOperations::SetUp() {
  DeviceBench::Insert(0);
  DeviceBench::Control("button 0 clear");
  m_dev = DeviceBench::DeviceName(0);
  m_providerName = L"Merro key test " + std::to_wstring(::GetCurrentProcessId());
  m_settings = DefaultProviderSettings(FALSE);
  m_settings.pwszProviderName = m_providerName.c_str();
  ASSERT_EQ(m_handle.Initialize(m_settings), S_OK);
  ASSERT_EQ(m_handle.CheckPIN(Dev(), 1, DeviceBench::kFactoryPin, 8, 6, 0), S_OK);
  m_trace.Clear();
  Commands();
}

void KeyOperations::TearDown() {
  m_handle.UnInitialize();
  DeviceBench::Control("button 0 clear");
  DeviceBench::Insert(0);
}

}  // namespace merro::testing
