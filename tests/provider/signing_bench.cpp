#include "tests/provider/signing_bench.h"

#include "device/device_handle.h"
#include "foundation/alg_ids.h"

namespace merro::testing {

using provider::Container;
using provider::HashHandle;
using provider::KeyHandle;

namespace {

constexpr char kRsaName[] = "merro-signing-rsa";
constexpr char kSm2Name[] = "merro-signing-sm2";

TokenPublicKey Judged(const TokenKeyPair& pair) {
  TokenPublicKey key;
  key.keyType = pair.byKeyType;
  key.xy = pair.sm2Point;
  key.n = pair.rsaModulus;
  key.e = pair.rsaExponent;
  return key;
}

// r || s, each big-endian, of r and s each reversed.
Bytes Sm2TokenOrder(const Bytes& signature) {
  Bytes r(signature.begin(), signature.begin() + 32);
  Bytes s(signature.begin() + 32, signature.end());
  Bytes out = Reversed(r);
  const Bytes sBig = Reversed(s);
  out.insert(out.end(), sBig.begin(), sBig.end());
  return out;
}

}  // namespace

void SigningBench::SetUp() {
  ProviderBench::SetUp();
  ASSERT_FALSE(HasFatalFailure());
  DeviceBench::Control("display 0 clear");
  m_dev = DeviceBench::DeviceName(0);
  std::vector<ContainerKey> rsa{Key(AT_SIGNATURE, MR_ALG_RSA2048), Key(AT_KEYEXCHANGE, MR_ALG_RSA2048)};
  std::vector<ContainerKey> sm2{Key(AT_SIGNATURE, MR_ALG_SM2), Key(AT_KEYEXCHANGE, MR_ALG_SM2)};
  ASSERT_TRUE(MakeContainer(0, kRsaName, &rsa));
  ASSERT_TRUE(MakeContainer(0, kSm2Name, &sm2));
  m_rsaSign = rsa[0].pair;
  m_sm2Sign = sm2[0].pair;
  ASSERT_TRUE(StartTokenLayer());
  m_rsa = Container::CreateRegisteredContainer(kRsaName, TRUE, FALSE);
  m_sm2 = Container::CreateRegisteredContainer(kSm2Name, TRUE, FALSE);
  ASSERT_TRUE(m_rsa && m_sm2);
  ASSERT_EQ(m_rsa->GetKeySetAlgorithm(), Container::KEYSETALGORITHM_RSA);
  ASSERT_EQ(m_sm2->GetKeySetAlgorithm(), Container::KEYSETALGORITHM_SM2);
  TakeCommandLog();
  m_trace.Clear();
}

void SigningBench::TearDown() {
  m_rsa.reset();
  m_sm2.reset();
  DeviceBench::Control("display 0 clear");
  ProviderBench::TearDown();
}

std::unique_ptr<HashHandle> SigningBench::NewHash(Container& container, ALG_ID uAlgID) {
  auto hash = std::make_unique<HashHandle>();
  hash->m_pContainer = &container;
  EXPECT_EQ(hash->Init(uAlgID), S_OK) << "Init of 0x" << std::hex << uAlgID;
  return hash;
}

std::unique_ptr<HashHandle> SigningBench::HashOf(Container& container, ALG_ID uAlgID,
                                                 const Bytes& data) {
  auto hash = NewHash(container, uAlgID);
  EXPECT_EQ(hash->Update(data.data(), static_cast<DWORD>(data.size())), S_OK);
  return hash;
}

std::unique_ptr<KeyHandle> SigningBench::SignatureKey(Container& container) {
  ALG_ID uAlgID = 0;
  DWORD dwBits = 0;
  EXPECT_EQ(container.GetContainerInfo(AT_SIGNATURE, &uAlgID, &dwBits), S_OK);
  auto key = std::make_unique<KeyHandle>();
  key->m_pContainer = &container;
  EXPECT_EQ(key->InitKeyHandle(uAlgID, 0), S_OK);
  key->m_dwModulusBits = dwBits;
  return key;
}

bool SigningBench::RsaVerifies(ALG_ID uHashAlgID, const HashHandle& hash, const Bytes& signature) {
  Rsaenh rsaenh;
  const Bytes value(hash.m_pHashData, hash.m_pHashData + hash.m_dwHashLen);
  // The judge takes the token's order and reverses it for CryptoAPI itself.
  return rsaenh.Ok() && rsaenh.Verify(Judged(m_rsaSign), uHashAlgID, value, Reversed(signature));
}

bool SigningBench::Sm2Verifies(const Bytes& message, const Bytes& signature) {
  const PkeyPtr key = Sm2PublicKey(m_sm2Sign.sm2Point);
  return signature.size() == 64 && key && Sm2VerifyMessage(key.get(), message, Sm2TokenOrder(signature));
}

Bytes SigningBench::Sm2Digest(const Bytes& message) {
  const PkeyPtr key = Sm2PublicKey(m_sm2Sign.sm2Point);
  return Sm2MessageDigest(key.get(), message);
}

size_t SigningBench::PinPrompts() {
  size_t n = 0;
  for (const auto& prompt : m_ui->Transcript()) {
    n += prompt.kind == "pin" ? 1 : 0;
  }
  return n;
}

DWORD SigningBench::PinStatus() {
  DWORD tries = 0, status = 0, modified = 0;
  EXPECT_EQ(g_pDeviceHandle->GetPINInfo(m_dev.c_str(), 1, &tries, &status, &modified), S_OK);
  return status;
}

RealDialogs::RealDialogs() : m_scripted(ui::UserInterface::Install(nullptr)) {}
RealDialogs::~RealDialogs() { ui::UserInterface::Install(std::move(m_scripted)); }

}  // namespace merro::testing
