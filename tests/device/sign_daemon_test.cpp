// Signing on the token through the device object: hash values in PKCS#1
// blocks (opened with OpenSSL's raw operation, judged by rsaenh), the
// token's own digest on a lent context, and transaction messages through
// the scripted UI seam while the simulator's button answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/alg_ids.h"
#include "foundation/win/this_module.h"
#include "resources/device/device_resource_ids.h"
#include "tests/device/key_operations_fixture.h"
#include "tokenapi/api/token_api.h"
#include "tokenapi/crypto/common/openssl_ptr.h"

namespace merro::testing {
namespace {

using device::DevCtxLease;
using device::DeviceHandle;

Bytes Hex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 3) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

Bytes Pattern(size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<std::uint8_t>(seed + 13 * i);
  }
  return b;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::wstring TransactionTips() {
  wchar_t text[260] = {};
  ::LoadStringW(merro::win::ThisModule(), IDS_TRANSACTION_TIPS, text, 260);
  return text;
}

const char kMd5Prefix[] = "30 20 30 0C 06 08 2A 86 48 86 F7 0D 02 05 05 00 04 10 ";
const char kSha1Prefix[] = "30 21 30 09 06 05 2B 0E 03 02 1A 05 00 04 14 ";
const char kSha256Prefix[] = "30 31 30 0D 06 09 60 86 48 01 65 03 04 02 01 05 00 04 20 ";

TEST_F(KeyOperations, HashValueSignaturesOpenToTheirPkcs1Blocks) {
  const struct {
    const char* container;
    ALG_ID alg;
    size_t hashLen;
    const char* prefix;
    size_t ffCount;  // 0xFF bytes between 00 01 and the 00 before the prefix
  } kCases[] = {
      {kRsa1024, CALG_MD5, 16, kMd5Prefix, 91},    {kRsa1024, CALG_SHA1, 20, kSha1Prefix, 90},
      {kRsa1024, CALG_SSL3_SHAMD5, 36, "", 89},    {kRsa1024, CALG_SHA_256, 32, kSha256Prefix, 74},
      {kRsa2048, CALG_MD5, 16, kMd5Prefix, 219},   {kRsa2048, CALG_SHA1, 20, kSha1Prefix, 218},
      {kRsa2048, CALG_SSL3_SHAMD5, 36, "", 217},   {kRsa2048, CALG_SHA_256, 32, kSha256Prefix, 202},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.container) + " hash 0x" + std::to_string(c.alg));
    const TokenPublicKey& key = Container(c.container).sign;
    const Bytes hash = Pattern(c.hashLen, static_cast<std::uint8_t>(c.alg));
    OutBuffer sig;
    ASSERT_EQ(m_handle.SignHashValue(Dev(), c.container, AT_SIGNATURE, c.alg, hash.data(),
                                     static_cast<DWORD>(hash.size()), &sig.p, &sig.n),
              S_OK);
    ASSERT_EQ(sig.n, key.n.size());
    Bytes expected = {0x00, 0x01};
    expected.insert(expected.end(), c.ffCount, 0xFF);
    expected.push_back(0x00);
    const Bytes prefix = Hex(c.prefix);
    expected.insert(expected.end(), prefix.begin(), prefix.end());
    expected.insert(expected.end(), hash.begin(), hash.end());
    EXPECT_EQ(RsaRecoverBlock(key, sig.bytes()), std::optional<Bytes>(expected));
    EXPECT_TRUE(s_rsaenh->Verify(key, c.alg, hash, sig.bytes()));
  }
  EXPECT_EQ(m_trace.Entries("AsymKeyInit"), std::size(kCases));
  EXPECT_EQ(m_trace.Entries("AsymKeyFinal"), std::size(kCases));
}

TEST_F(KeyOperations, HashValuesNoBlockCarriesAreRefusedBeforeAnyCommand) {
  const struct {
    const char* container;
    DWORD keySpec;
    ALG_ID alg;
    size_t hashLen;
    HRESULT result;
  } kCases[] = {
      {kRsa1024, AT_SIGNATURE, CALG_SHA1, 16, E_INVALIDARG},     // the size of MD5
      {kRsa1024, AT_SIGNATURE, CALG_SM3, 32, E_INVALIDARG},      // only the token's digest
      {kRsa1024, AT_SIGNATURE, CALG_SHA_512, 64, E_INVALIDARG},
      {kRsa1024, 3, CALG_SHA1, 20, E_INVALIDARG},
      {kSm2Pair, AT_SIGNATURE, CALG_SHA1, 20, NTE_BAD_ALGID},    // 32 bytes hold no block
      {kSm2Pair, AT_KEYEXCHANGE, CALG_SHA_256, 32, NTE_BAD_ALGID},
      {kSm2Single, AT_SIGNATURE, CALG_SHA1, 20, NTE_NO_KEY},     // the record names no such key
      {"keys-missing", AT_SIGNATURE, CALG_SHA1, 20, E_FAIL},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.container) + " " + std::to_string(c.keySpec) + " 0x" +
                 std::to_string(c.alg) + " " + std::to_string(c.hashLen));
    const Bytes hash = Pattern(c.hashLen, 1);
    OutBuffer sig;
    EXPECT_EQ(m_handle.SignHashValue(Dev(), c.container, c.keySpec, c.alg, hash.data(),
                                     static_cast<DWORD>(hash.size()), &sig.p, &sig.n),
              c.result);
    EXPECT_TRUE(sig.Untouched());
    EXPECT_EQ(Commands(), std::vector<BYTE>());
  }
  EXPECT_EQ(m_trace.Entries("AsymKeyInit"), 0u);
}

// What a hash does with the key context of the token's digest: the session,
// then SM3 on the token.
HRESULT HashOnTheToken(const DevCtxLease& lease, void* pKeyCtx, const Bytes& message) {
  BYTE digest[32] = {};
  DWORD digestLen = sizeof digest;
  HRESULT hr = ExternalAuth(lease.get(), 0x33);
  if (hr == S_OK) hr = SetSessionKey(lease.get());
  if (hr == S_OK) hr = DigestInit(pKeyCtx, MR_ALG_SM3);
  if (hr == S_OK) hr = DigestUpdate(pKeyCtx, message.data(), static_cast<DWORD>(message.size()));
  if (hr == S_OK) hr = DigestFinal(pKeyCtx, digest, &digestLen);
  return hr;
}

TEST_F(KeyOperations, TheTokensDigestIsSignedWithTheDigestKey) {
  const struct {
    const char* container;
    const TokenPublicKey* signer;
    const TokenPublicKey* other;  // must not verify, or null
  } kCases[] = {
      {kSm2Pair, &s_sm2.sign, &s_sm2.exch},
      {kSm2Single, &s_single.exch, nullptr},  // no signature key: the exchange key signs
  };
  const Bytes message = Text("hashed on the token, 2 x 1000.00 to Merro");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.container);
    DevCtxLease lease;
    void* pKeyCtx = nullptr;
    ASSERT_EQ(m_handle.InitDigestKeyCtx(Dev(), c.container, &lease, &pKeyCtx), S_OK);
    ASSERT_NE(pKeyCtx, nullptr);
    EXPECT_TRUE(lease.IsCurrent());
    EXPECT_EQ(lease.get(), m_handle.m_vtrDeviceSet[0].pDevCtx());
    ASSERT_EQ(HashOnTheToken(lease, pKeyCtx, message), S_OK);
    OutBuffer sig;
    ASSERT_EQ(m_handle.SignData(Dev(), c.container, 0, pKeyCtx, &sig.p, &sig.n), S_OK);
    ASSERT_EQ(sig.n, 64u);
    EXPECT_TRUE(Sm2VerifyMessage(Sm2PublicKey(c.signer->xy).get(), message, sig.bytes()));
    if (c.other != nullptr) {
      EXPECT_FALSE(Sm2VerifyMessage(Sm2PublicKey(c.other->xy).get(), message, sig.bytes()));
    }
    EXPECT_EQ(DeviceHandle::ReleaseDigestKeyCtx(&lease, pKeyCtx), S_OK);
    EXPECT_FALSE(lease);
  }
  EXPECT_EQ(m_trace.Entries("AsymKeyInit"), m_trace.Entries("AsymKeyFinal"));
}

// Data kept on the host, digested and signed by the token in one call on
// the digest key: the digest is SM3(Z || M) of the key that signs, for
// empty data too, and the value alone is had without a signature. No key
// context outlives the call.
TEST_F(KeyOperations, DigestOnTokenDigestsAndSignsInOneCall) {
  const struct {
    const char* container;
    const TokenPublicKey* signer;
    Bytes message;
  } kCases[] = {
      {kSm2Pair, &s_sm2.sign, Text("kept on the host, 3 x 20.00 to Merro")},
      {kSm2Single, &s_single.exch, Text("no signature key: the exchange key signs")},
      {kSm2Pair, &s_sm2.sign, Bytes()},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.container) + ", " + std::to_string(c.message.size()) + " bytes");
    const PkeyPtr signer = Sm2PublicKey(c.signer->xy);
    const Bytes expected = Sm2MessageDigest(signer.get(), c.message);
    BYTE digest[32] = {};
    DWORD digestLen = sizeof digest;
    OutBuffer sig;
    ASSERT_EQ(m_handle.DigestOnToken(Dev(), c.container, c.message.data(),
                                     static_cast<DWORD>(c.message.size()), digest, &digestLen,
                                     &sig.p, &sig.n),
              S_OK);
    EXPECT_EQ(Bytes(digest, digest + digestLen), expected);
    ASSERT_EQ(sig.n, 64u);
    EXPECT_TRUE(Sm2VerifyMessage(signer.get(), c.message, sig.bytes()));

    BYTE value[32] = {};
    DWORD valueLen = sizeof value;
    ASSERT_EQ(m_handle.DigestOnToken(Dev(), c.container, c.message.data(),
                                     static_cast<DWORD>(c.message.size()), value, &valueLen,
                                     nullptr, nullptr),
              S_OK);
    EXPECT_EQ(Bytes(value, value + valueLen), expected);
  }
  EXPECT_EQ(m_trace.Entries("AsymKeyInit"), m_trace.Entries("AsymKeyFinal"));
}

// Refused before any command: a missing argument, and a container no longer
// listed (no key to sign with, no container to hash for).
TEST_F(KeyOperations, DigestOnTokenRefusalsSendNothing) {
  const Bytes message = Text("refused");
  BYTE digest[32] = {};
  DWORD digestLen = sizeof digest;
  OutBuffer sig;
  Commands();
  EXPECT_EQ(m_handle.DigestOnToken(Dev(), kSm2Pair, nullptr, 4, digest, &digestLen, &sig.p, &sig.n),
            E_INVALIDARG);
  EXPECT_EQ(m_handle.DigestOnToken(Dev(), kSm2Pair, message.data(), 7, nullptr, &digestLen,
                                   &sig.p, &sig.n),
            E_INVALIDARG);
  EXPECT_EQ(m_handle.DigestOnToken(Dev(), kSm2Pair, message.data(), 7, digest, &digestLen,
                                   &sig.p, nullptr),
            E_INVALIDARG);
  DeviceBench::Pull(0);
  ASSERT_EQ(m_handle.UpdateContainer(), S_OK);
  Commands();
  EXPECT_EQ(m_handle.DigestOnToken(Dev(), kSm2Pair, message.data(), 7, digest, &digestLen,
                                   &sig.p, &sig.n),
            NTE_NO_KEY);
  EXPECT_EQ(m_handle.DigestOnToken(Dev(), kSm2Pair, message.data(), 7, digest, &digestLen,
                                   nullptr, nullptr),
            E_FAIL);
  EXPECT_TRUE(sig.Untouched());
  EXPECT_EQ(digestLen, sizeof digest);
  DeviceBench::Insert(0);
  EXPECT_EQ(Commands(), std::vector<BYTE>());
}

TEST_F(KeyOperations, ARefreshRetiresTheDigestKeyContextWithoutACommand) {
  const Bytes message = Text("refreshed in between");
  DevCtxLease lease;
  void* pKeyCtx = nullptr;
  ASSERT_EQ(m_handle.InitDigestKeyCtx(Dev(), kSm2Pair, &lease, &pKeyCtx), S_OK);
  ASSERT_EQ(HashOnTheToken(lease, pKeyCtx, message), S_OK);
  const size_t closesBefore = m_trace.Entries("mr_CloseDevice");

  ASSERT_EQ(m_handle.UpdateDevice(), S_OK);
  EXPECT_FALSE(lease.IsCurrent());
  EXPECT_EQ(m_trace.Entries("mr_CloseDevice"), closesBefore) << "the lease keeps it open";
  Commands();
  OutBuffer sig;
  EXPECT_EQ(m_handle.SignData(Dev(), kSm2Pair, 2, pKeyCtx, &sig.p, &sig.n), NTE_BAD_HASH_STATE);
  EXPECT_TRUE(sig.Untouched());
  EXPECT_EQ(Commands(), std::vector<BYTE>());

  EXPECT_EQ(DeviceHandle::ReleaseDigestKeyCtx(&lease, pKeyCtx), S_OK);
  EXPECT_EQ(m_trace.Entries("mr_CloseDevice"), closesBefore + 1) << "closed with the lease";

  // A new hash runs on the token's new context.
  ASSERT_EQ(m_handle.CheckPIN(Dev(), 1, DeviceBench::kFactoryPin, 8, 6, 0), S_OK);
  ASSERT_EQ(m_handle.InitDigestKeyCtx(Dev(), kSm2Pair, &lease, &pKeyCtx), S_OK);
  EXPECT_TRUE(lease.IsCurrent());
  ASSERT_EQ(HashOnTheToken(lease, pKeyCtx, message), S_OK);
  EXPECT_EQ(m_handle.SignData(Dev(), kSm2Pair, 2, pKeyCtx, &sig.p, &sig.n), S_OK);
  EXPECT_TRUE(Sm2VerifyMessage(Sm2PublicKey(s_sm2.sign.xy).get(), message, sig.bytes()));
  EXPECT_EQ(DeviceHandle::ReleaseDigestKeyCtx(&lease, pKeyCtx), S_OK);
}

TEST_F(KeyOperations, SignDataOnAVanishedContainerIsNoKey) {
  DevCtxLease lease;
  void* pKeyCtx = nullptr;
  ASSERT_EQ(m_handle.InitDigestKeyCtx(Dev(), kSm2Pair, &lease, &pKeyCtx), S_OK);
  DeviceBench::Pull(0);
  ASSERT_EQ(m_handle.UpdateContainer(), S_OK);
  Commands();
  OutBuffer sig;
  EXPECT_EQ(m_handle.SignData(Dev(), kSm2Pair, 2, pKeyCtx, &sig.p, &sig.n), NTE_NO_KEY);
  EXPECT_TRUE(sig.Untouched());
  EXPECT_EQ(DeviceHandle::ReleaseDigestKeyCtx(&lease, pKeyCtx), S_OK);
  DeviceBench::Insert(0);
  EXPECT_EQ(Commands(), std::vector<BYTE>());
}

TEST_F(KeyOperations, InitDigestKeyCtxChecksItsOutPointersBeforeAnything) {
  DevCtxLease lease;
  void* pKeyCtx = reinterpret_cast<void*>(1);
  EXPECT_EQ(m_handle.InitDigestKeyCtx(Dev(), kSm2Pair, nullptr, &pKeyCtx), E_INVALIDARG);
  EXPECT_EQ(m_handle.InitDigestKeyCtx(Dev(), kSm2Pair, &lease, nullptr), E_INVALIDARG);
  EXPECT_EQ(m_handle.InitDigestKeyCtx(Dev(), "keys-missing", &lease, &pKeyCtx), E_FAIL);
  EXPECT_EQ(pKeyCtx, reinterpret_cast<void*>(1));
  EXPECT_FALSE(lease);
  EXPECT_EQ(m_trace.Entries("AsymKeyInit"), 0u);
  EXPECT_EQ(Commands(), std::vector<BYTE>());
  OutBuffer sig;
  EXPECT_EQ(m_handle.SignData(Dev(), kSm2Pair, 2, nullptr, &sig.p, &sig.n), NTE_BAD_DATA);
  EXPECT_EQ(m_handle.SignData(Dev(), kSm2Pair, 2, pKeyCtx, nullptr, &sig.n), E_INVALIDARG);
  EXPECT_EQ(Commands(), std::vector<BYTE>());
}

// Whether sig is the key's signature over message: SM2 with OpenSSL, RSA
// with SHA-256 by OpenSSL and rsaenh both.
bool SignedBy(const TokenPublicKey& key, const Bytes& message, const Bytes& sig, Rsaenh& rsaenh) {
  if (key.keyType == MR_ALG_SM2) {
    return Sm2VerifyMessage(Sm2PublicKey(key.xy).get(), message, sig);
  }
  const Bytes digest = Digest(EVP_sha256(), message);
  const bool openssl = RsaVerifyDigest(RsaPublicKey(key.n, key.e).get(), EVP_sha256(), digest, sig);
  EXPECT_EQ(openssl, rsaenh.Verify(key, CALG_SHA_256, digest, sig));
  return openssl;
}

TEST_F(KeyOperations, TransactionSignaturesVerifyAndTheTokenShowsTheMessage) {
  const struct {
    const char* container;
    DWORD keySpec;
    ALG_ID alg;
    const TokenPublicKey* signer;
    const TokenPublicKey* other;  // must not verify, or null
  } kCases[] = {
      {kSm2Pair, AT_SIGNATURE, CALG_SM3, &s_sm2.sign, &s_sm2.exch},
      {kSm2Pair, AT_KEYEXCHANGE, CALG_SM3, &s_sm2.exch, &s_sm2.sign},
      {kRsa2048, AT_SIGNATURE, CALG_SHA_256, &s_rsa2048.sign, nullptr},
  };
  const std::string text = "<SignData><Amount>1234.56</Amount><To>Merro Ltd</To></SignData>";
  const Bytes message = Text(text);
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.container) + " " + std::to_string(c.keySpec));
    DeviceBench::Control("button 0 ok after 3");
    DeviceBench::Control("display 0 clear");
    OutBuffer sig;
    ASSERT_EQ(m_handle.SignXMLMsg(Dev(), c.container, c.keySpec, c.alg, message.data(),
                                  static_cast<DWORD>(message.size()), &sig.p, &sig.n),
              S_OK);
    EXPECT_EQ(sig.n, c.signer->keyType == MR_ALG_SM2 ? 64u : c.signer->n.size());
    EXPECT_TRUE(SignedBy(*c.signer, message, sig.bytes(), *s_rsaenh));
    if (c.other != nullptr) {
      EXPECT_FALSE(SignedBy(*c.other, message, sig.bytes(), *s_rsaenh));
    }
    EXPECT_NE(DeviceBench::Control("display 0").find(text), std::string::npos);
  }
  const auto transcript = m_ui->Transcript();
  ASSERT_EQ(transcript.size(), std::size(kCases));
  for (const auto& prompt : transcript) {
    EXPECT_EQ(prompt.confirmKind, "transaction");
    EXPECT_EQ(prompt.text, TransactionTips());
  }
  EXPECT_FALSE(TransactionTips().empty());
}

TEST_F(KeyOperations, TheTokensCancelAndTimeOutEndTheTransactionWithNoOutput) {
  const struct {
    const char* button;
    HRESULT result;
  } kCases[] = {{"cancel", SCARD_W_CANCELLED_BY_USER}, {"timeout", SCARD_E_TIMEOUT}};
  const Bytes message = Text("<SignData><Amount>1.00</Amount></SignData>");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.button);
    m_trace.Clear();
    DeviceBench::Control(std::string("button 0 ") + c.button + " after 2");
    OutBuffer sig;
    EXPECT_EQ(m_handle.SignXMLMsg(Dev(), kSm2Pair, AT_SIGNATURE, CALG_SM3, message.data(),
                                  static_cast<DWORD>(message.size()), &sig.p, &sig.n),
              c.result);
    EXPECT_TRUE(sig.Untouched());
    EXPECT_EQ(m_trace.Entries("AsymKeyInit"), 1u);
    EXPECT_EQ(m_trace.Entries("AsymKeyFinal"), 1u);
  }
}

TEST_F(KeyOperations, TransactionsRefusedBeforeAnyCommand) {
  const Bytes message = Text("<SignData/>");
  const struct {
    const char* container;
    DWORD keySpec;
    ALG_ID alg;
    HRESULT result;
  } kCases[] = {
      {kSm2Pair, 3, CALG_SM3, E_INVALIDARG},
      {kSm2Pair, AT_SIGNATURE, CALG_SHA_512, E_INVALIDARG},
      {kSm2Single, AT_SIGNATURE, CALG_SM3, NTE_NO_KEY},
      {"keys-missing", AT_SIGNATURE, CALG_SM3, E_FAIL},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.container) + " " + std::to_string(c.keySpec));
    OutBuffer sig;
    EXPECT_EQ(m_handle.SignXMLMsg(Dev(), c.container, c.keySpec, c.alg, message.data(),
                                  static_cast<DWORD>(message.size()), &sig.p, &sig.n),
              c.result);
    EXPECT_TRUE(sig.Untouched());
    EXPECT_EQ(Commands(), std::vector<BYTE>());
  }
  OutBuffer sig;
  EXPECT_EQ(m_handle.SignXMLMsg(Dev(), kSm2Pair, AT_SIGNATURE, CALG_SM3, message.data(), 0,
                                &sig.p, &sig.n),
            E_INVALIDARG);
  EXPECT_TRUE(m_ui->Transcript().empty());
  EXPECT_EQ(m_trace.Entries("AsymKeyInit"), 0u);
}

}  // namespace
}  // namespace merro::testing
