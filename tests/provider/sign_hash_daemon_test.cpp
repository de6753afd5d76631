// KeyHandle::SignHashData and VerifyData against the daemon's token: which
// data goes which road under the transaction-message rules, what the
// token's display showed, when the PIN is asked, and whether Wine's rsaenh
// and OpenSSL accept what came back in CryptoAPI's byte order.
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "tests/provider/signing_bench.h"

namespace merro::testing {
namespace {

using provider::Container;
using provider::HashHandle;
using provider::HASH_SOURCE_DATA_MAX;
using provider::KeyHandle;

// A transaction message of exactly 24576 bytes: too long to be checked, so
// it is signed as other data.
std::string LongTransaction() {
  const std::string head = "<SignData><KeyType>RSA</KeyType><Fields><F n=\"memo\">";
  const std::string tail = "</F></Fields></SignData>";
  return head + std::string(HASH_SOURCE_DATA_MAX - head.size() - tail.size(), 'x') + tail;
}

enum class Data { Transaction, Other, Long, ValueSet };

const char* Name(Data data) {
  switch (data) {
    case Data::Transaction:
      return "transaction message";
    case Data::Other:
      return "other data";
    case Data::Long:
      return "24576-byte message";
    default:
      return "value set";
  }
}

Bytes DataOf(Data data) {
  switch (data) {
    case Data::Transaction:
      return ToBytes(kTavrMessage);
    case Data::Other:
      return ToBytes("Pay 12.00 to Tolvane, not a transaction message");
    case Data::Long:
      return ToBytes(LongTransaction());
    default:
      return {};
  }
}

const EVP_MD* Md(ALG_ID alg) {
  switch (alg) {
    case CALG_MD5:
      return EVP_md5();
    case CALG_SHA1:
      return EVP_sha1();
    case CALG_SHA_256:
      return EVP_sha256();
    default:
      return EVP_sm3();
  }
}

constexpr HRESULT kBadHashForData = NTE_BAD_HASH;   // the rules refuse the hash
constexpr HRESULT kNoBlockForSm2 = NTE_BAD_ALGID;  // no PKCS#1 block for an SM2 key
// The token shows and signs with an SM2 key only over SM3.
constexpr HRESULT kSm2DisplaysSm3Only = static_cast<HRESULT>(0x80070209);

struct SignCase {
  Data data;
  ALG_ID hash;
  bool sm2;
  HRESULT result;
  bool prompt;   // the PIN was asked
  bool display;  // the token showed the message
};

// Customer rules 2 (SHA-1 may sign a transaction message as a hash value).
const SignCase kSignCases[] = {
    // RSA-2048
    {Data::Transaction, CALG_SHA1, false, S_OK, true, false},
    {Data::Transaction, CALG_SHA_256, false, S_OK, true, true},
    {Data::Transaction, CALG_MD5, false, kBadHashForData, false, false},
    {Data::Other, CALG_SHA1, false, S_OK, true, false},
    {Data::Other, CALG_SHA_256, false, kBadHashForData, false, false},
    {Data::Other, CALG_MD5, false, S_OK, true, false},
    {Data::Long, CALG_SHA1, false, S_OK, true, false},
    {Data::Long, CALG_SHA_256, false, kBadHashForData, false, false},
    {Data::Long, CALG_MD5, false, S_OK, true, false},
    {Data::ValueSet, CALG_SHA1, false, S_OK, true, false},
    {Data::ValueSet, CALG_SHA_256, false, kBadHashForData, false, false},
    {Data::ValueSet, CALG_MD5, false, S_OK, true, false},
    // SM2
    {Data::Transaction, CALG_SHA1, true, kNoBlockForSm2, true, false},
    {Data::Transaction, CALG_SHA_256, true, kSm2DisplaysSm3Only, true, false},
    {Data::Transaction, CALG_SM3, true, S_OK, true, true},
    {Data::Transaction, CALG_MD5, true, kBadHashForData, false, false},
    {Data::Other, CALG_SHA1, true, kNoBlockForSm2, true, false},
    {Data::Other, CALG_SHA_256, true, kBadHashForData, false, false},
    {Data::Other, CALG_SM3, true, S_OK, true, false},
    {Data::Other, CALG_MD5, true, kNoBlockForSm2, true, false},
    {Data::Long, CALG_SHA_256, true, kBadHashForData, false, false},
    {Data::Long, CALG_SM3, true, S_OK, true, false},
    {Data::ValueSet, CALG_SHA1, true, NTE_BAD_DATA, true, false},
    {Data::ValueSet, CALG_SHA_256, true, kBadHashForData, false, false},
    {Data::ValueSet, CALG_SM3, true, NTE_BAD_DATA, true, false},
};

using SignHashTest = SigningBench;

TEST_F(SignHashTest, TheRoadsOfTheTransactionRules) {
  for (const SignCase& c : kSignCases) {
    SCOPED_TRACE(std::string(Name(c.data)) + (c.sm2 ? ", SM2" : ", RSA-2048") + ", hash 0x" +
                 std::to_string(c.hash));
    g_pDeviceHandle->ClearKeptPIN(m_dev.c_str());
    DeviceBench::Control("display 0 clear");
    DeviceBench::Control("button 0 ok after 3");
    const size_t promptsBefore = PinPrompts();
    if (c.prompt) {  // an unexpected prompt is answered "cancel" and counted
      m_ui->Push("pin 47193628");
    }

    Container& container = c.sm2 ? Sm2() : Rsa();
    const Bytes data = DataOf(c.data);
    auto hash = NewHash(container, c.hash);
    if (c.data == Data::ValueSet) {
      const Bytes value = Digest(Md(c.hash), ToBytes("a value given whole"));
      ASSERT_EQ(hash->SetHashValue(value.data()), S_OK);
    } else {
      ASSERT_EQ(hash->Update(data.data(), static_cast<DWORD>(data.size())), S_OK);
    }
    auto key = SignatureKey(container);
    const DWORD size = c.sm2 ? 64 : 256;
    Bytes signature(size, 0xAB);
    DWORD length = size;
    EXPECT_EQ(key->SignHashData(hash.get(), signature.data(), &length), c.result);
    EXPECT_TRUE(hash->m_bFinal);
    EXPECT_EQ(PinPrompts() - promptsBefore, c.prompt ? 1u : 0u);
    EXPECT_EQ(DeviceBench::Control("display 0"), c.display ? std::string(data.begin(), data.end()) + "\n" : "");
    EXPECT_NE(PinStatus(), 0x11u);  // the token's security state was reset
    DeviceBench::Control("button 0 clear");
    if (c.result != S_OK) {
      EXPECT_EQ(signature, Bytes(size, 0xAB));
      continue;
    }
    ASSERT_EQ(length, size);
    EXPECT_TRUE(c.sm2 ? Sm2Verifies(data, signature) : RsaVerifies(c.hash, *hash, signature));
  }
}

// A signature over a transaction message: RSA-2048 with SHA-256.
class TransactionSignature : public SigningBench {
 protected:
  HRESULT Sign(DWORD* pLength = nullptr) {
    m_hash = HashOf(Rsa(), CALG_SHA_256, ToBytes(kTavrMessage));
    m_key = SignatureKey(Rsa());
    m_signature.assign(256, 0xAB);
    m_length = 256;
    return m_key->SignHashData(m_hash.get(), m_signature.data(), pLength != nullptr ? pLength : &m_length);
  }
  bool Verifies() { return RsaVerifies(CALG_SHA_256, *m_hash, m_signature); }

  std::unique_ptr<HashHandle> m_hash;
  std::unique_ptr<KeyHandle> m_key;
  Bytes m_signature;
  DWORD m_length = 0;
};

TEST_F(TransactionSignature, TheBanksRulesLetTheKeptPinServe) {
  ASSERT_EQ(g_pDeviceHandle->KeepUserPIN(m_dev.c_str(), reinterpret_cast<const BYTE*>(kUserPin), 8), S_OK);
  DeviceBench::Control("button 0 ok after 3");
  ASSERT_EQ(Sign(), S_OK);
  EXPECT_TRUE(Verifies());
  EXPECT_EQ(PinPrompts(), 0u);
  EXPECT_TRUE(g_pDeviceHandle->HaveKeptPIN(m_dev.c_str()));

  // Under other rules the kept PIN is dropped and the user types it.
  g_pDeviceHandle->m_dwCustomerType = 1;
  DeviceBench::Control("button 0 ok after 3");
  m_ui->Push("pin 47193628");
  ASSERT_EQ(Sign(), S_OK);
  EXPECT_TRUE(Verifies());
  EXPECT_EQ(PinPrompts(), 1u);

  // And SHA-1 no longer signs a transaction message.
  g_pDeviceHandle->ClearKeptPIN(m_dev.c_str());
  auto sha1 = HashOf(Rsa(), CALG_SHA1, ToBytes(kTavrMessage));
  DWORD length = 256;
  EXPECT_EQ(m_key->SignHashData(sha1.get(), m_signature.data(), &length), NTE_BAD_HASH);
  EXPECT_EQ(PinPrompts(), 1u);
}

TEST_F(TransactionSignature, TheTokensButtonDecides) {
  struct Case {
    const char* button;
    HRESULT result;
  };
  for (const Case c : {Case{"cancel", SCARD_W_CANCELLED_BY_USER}, Case{"timeout", SCARD_E_TIMEOUT}}) {
    SCOPED_TRACE(c.button);
    g_pDeviceHandle->ClearKeptPIN(m_dev.c_str());
    m_ui->Push("pin 47193628");
    DeviceBench::Control(std::string("button 0 ") + c.button);
    EXPECT_EQ(Sign(), c.result);
    EXPECT_EQ(m_signature, Bytes(256, 0xAB));
    EXPECT_EQ(m_length, 256u);
    EXPECT_NE(PinStatus(), 0x11u);
  }
}

TEST_F(SignHashTest, TheCallersBufferMustHoldTheSignature) {
  auto hash = HashOf(Sm2(), CALG_SM3, ToBytes("short buffer"));
  auto key = SignatureKey(Sm2());
  Bytes signature(64, 0xAB);
  DWORD length = 63;
  EXPECT_EQ(key->SignHashData(hash.get(), signature.data(), &length), NTE_BAD_ALGID);
  EXPECT_EQ(length, 63u);
  EXPECT_EQ(PinPrompts(), 0u);

  // A short answer of the token's digest or signature command (the third
  // and fourth of the sequence: start, data, digest, signature): nothing is
  // written.
  for (const char* skip : {"2", "3"}) {
    SCOPED_TRACE(skip);
    hash = HashOf(Sm2(), CALG_SM3, ToBytes("short answer"));
    m_ui->Push("pin 47193628");
    DeviceBench::Control(std::string("fault 0 short 10 ins 81 skip ") + skip);
    length = 64;
    EXPECT_TRUE(FAILED(key->SignHashData(hash.get(), signature.data(), &length)));
    DeviceBench::Control("fault 0 clear");
    EXPECT_EQ(signature, Bytes(64, 0xAB));
    EXPECT_EQ(length, 64u);
  }
}

// An SM3 hash whose value was read, then a refresh of the device list: kept
// on the host, it is digested and signed afresh and the signature verifies
// over the value read; streamed to the token, the retired context's digest
// is gone and nothing is asked or signed.
TEST_F(SignHashTest, AFinishedSm3HashAcrossARefresh) {
  const Bytes data = ToBytes("retired");
  for (const bool streamed : {false, true}) {
    SCOPED_TRACE(streamed ? "streamed" : "kept on the host");
    auto hash = NewHash(Sm2(), CALG_SM3);
    hash->m_dwHostDigestMax = streamed ? 0 : provider::HASH_HOST_DIGEST_MAX;
    ASSERT_EQ(hash->Update(data.data(), static_cast<DWORD>(data.size())), S_OK);
    ASSERT_EQ(hash->Final(), S_OK);
    const Bytes value(hash->m_pHashData, hash->m_pHashData + 32);
    ASSERT_EQ(g_pDeviceHandle->UpdateContainer(), S_OK);
    auto key = SignatureKey(Sm2());
    Bytes signature(64, 0xAB);
    DWORD length = 64;
    const size_t prompts = PinPrompts();
    if (!streamed) {
      m_ui->Push("pin 47193628");
    }
    const HRESULT hr = key->SignHashData(hash.get(), signature.data(), &length);
    if (streamed) {
      EXPECT_EQ(hr, NTE_BAD_HASH_STATE);
      EXPECT_EQ(PinPrompts(), prompts);
      EXPECT_EQ(signature, Bytes(64, 0xAB));
      continue;
    }
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(value, Sm2Digest(data));
    EXPECT_EQ(Bytes(hash->m_pHashData, hash->m_pHashData + 32), value);
    EXPECT_TRUE(Sm2Verifies(data, signature));
  }
}

// A finished SM3 hash is signed only over the value the caller read: when
// the token's digest of the kept data is not that value, nothing is
// written and the token's security state is reset.
TEST_F(SignHashTest, AnSm3SignatureIsOnlyOverTheValueRead) {
  auto hash = HashOf(Sm2(), CALG_SM3, ToBytes("the value read"));
  ASSERT_EQ(hash->Final(), S_OK);
  hash->m_pHashData[7] ^= 0x01;  // a value that is not the digest of the data
  auto key = SignatureKey(Sm2());
  Bytes signature(64, 0xAB);
  DWORD length = 64;
  m_ui->Push("pin 47193628");
  EXPECT_EQ(key->SignHashData(hash.get(), signature.data(), &length), NTE_BAD_HASH);
  EXPECT_EQ(signature, Bytes(64, 0xAB));
  EXPECT_EQ(length, 64u);
  EXPECT_NE(PinStatus(), 0x11u);
}

// An SM3 hash kept on the host: a PIN prompt cancelled sends the token no
// digest command and leaves the hash open; signed then, the token runs its
// digest once, in the signature's own sequence (start, data, digest,
// signature), and the hash holds that digest.
TEST_F(SignHashTest, AnSm3SignatureRunsTheTokensDigestOnce) {
  const Bytes data = ToBytes("signed in one sequence");
  auto hash = HashOf(Sm2(), CALG_SM3, data);
  auto key = SignatureKey(Sm2());
  Bytes signature(64, 0xAB);
  DWORD length = 64;
  TakeCommandLog();
  m_ui->Push("cancel");
  EXPECT_EQ(key->SignHashData(hash.get(), signature.data(), &length), SCARD_W_CANCELLED_BY_USER);
  std::vector<BYTE> ins = TakeCommandLog();
  EXPECT_EQ(std::count(ins.begin(), ins.end(), BYTE{0x81}), 0);
  EXPECT_FALSE(hash->m_bFinal);
  EXPECT_EQ(signature, Bytes(64, 0xAB));

  m_ui->Push("pin 47193628");
  ASSERT_EQ(key->SignHashData(hash.get(), signature.data(), &length), S_OK);
  ins = TakeCommandLog();
  EXPECT_EQ(std::count(ins.begin(), ins.end(), BYTE{0x81}), 4);
  EXPECT_TRUE(hash->m_bFinal);
  EXPECT_EQ(Bytes(hash->m_pHashData, hash->m_pHashData + 32), Sm2Digest(data));
  EXPECT_TRUE(Sm2Verifies(data, signature));
}

TEST_F(SignHashTest, AHashWithoutDataIsNotSigned) {
  auto hash = NewHash(Rsa(), CALG_SHA1);
  auto key = SignatureKey(Rsa());
  Bytes signature(256);
  DWORD length = 256;
  EXPECT_EQ(key->SignHashData(hash.get(), signature.data(), &length), NTE_BAD_HASH_STATE);
  EXPECT_EQ(key->SignHashData(nullptr, signature.data(), &length), NTE_BAD_HASH);
  EXPECT_EQ(PinPrompts(), 0u);
}

TEST_F(SignHashTest, VerifyDataLeavesTheCallersSignatureAlone) {
  struct Case {
    bool sm2;
    ALG_ID hash;
    HRESULT corrupted;
  };
  for (const Case c : {Case{false, CALG_SHA1, static_cast<HRESULT>(0x80070207)},
                       Case{false, CALG_MD5, static_cast<HRESULT>(0x80070207)},
                       Case{true, CALG_SM3, static_cast<HRESULT>(0x80070212)}}) {
    SCOPED_TRACE(c.sm2 ? "SM2" : "RSA-2048");
    Container& container = c.sm2 ? Sm2() : Rsa();
    auto hash = HashOf(container, c.hash, ToBytes("verified data"));
    auto key = SignatureKey(container);
    Bytes signature(c.sm2 ? 64 : 256);
    DWORD length = static_cast<DWORD>(signature.size());
    m_ui->Push("pin 47193628");
    ASSERT_EQ(key->SignHashData(hash.get(), signature.data(), &length), S_OK);
    const size_t prompts = PinPrompts();

    const Bytes given = signature;
    EXPECT_EQ(key->VerifyData(c.hash, hash->m_pHashData, hash->m_dwHashLen, signature.data(), length), S_OK);
    EXPECT_EQ(signature, given);
    // Twice: the first call left the caller's bytes as they were.
    EXPECT_EQ(key->VerifyData(c.hash, hash->m_pHashData, hash->m_dwHashLen, signature.data(), length), S_OK);
    signature[10] ^= 0x01;
    const Bytes corrupted = signature;
    EXPECT_EQ(key->VerifyData(c.hash, hash->m_pHashData, hash->m_dwHashLen, signature.data(), length),
              c.corrupted);
    EXPECT_EQ(signature, corrupted);
    EXPECT_EQ(PinPrompts(), prompts);
    if (c.sm2) {
      EXPECT_EQ(key->VerifyData(c.hash, hash->m_pHashData, hash->m_dwHashLen, signature.data(), 63),
                NTE_BAD_SIGNATURE);
    }
  }
}

}  // namespace
}  // namespace merro::testing
