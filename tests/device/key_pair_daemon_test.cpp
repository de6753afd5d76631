// Verification, decryption and encryption with a container's key pair
// through the device object, judged by rsaenh and OpenSSL.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/alg_ids.h"
#include "tests/device/key_operations_fixture.h"
#include "tokenapi/crypto/rsa/pkcs1_block.h"

namespace merro::testing {
namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Pattern(size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<std::uint8_t>(seed + 11 * i);
  }
  return b;
}

// The host's verification answers, from the token API.
constexpr HRESULT kRsaMismatch = static_cast<HRESULT>(0x80070207);
constexpr HRESULT kSm2Mismatch = static_cast<HRESULT>(0x80070212);
// The token API's answer to an output longer than the room given.
constexpr HRESULT kOutputRoomShort = static_cast<HRESULT>(0x80070003);

TEST_F(KeyOperations, TheTokensSignaturesVerifyAndFlippedOnesDoNot) {
  const Bytes message = Text("verified on the host");
  struct Case {
    std::string name;
    const char* container;
    DWORD keySpec;
    ALG_ID alg;
    Bytes data;  // the hash value, or for SM2 the message
    Bytes sig;
    HRESULT flipped;
  };
  std::vector<Case> cases;
  for (const auto& [container, alg] : {std::pair{kRsa1024, CALG_SHA1}, std::pair{kRsa2048, CALG_SHA_256}}) {
    const Bytes hash = Digest(alg == CALG_SHA1 ? EVP_sha1() : EVP_sha256(), message);
    OutBuffer sig;
    ASSERT_EQ(m_handle.SignHashValue(Dev(), container, AT_SIGNATURE, alg, hash.data(),
                                     static_cast<DWORD>(hash.size()), &sig.p, &sig.n),
              S_OK);
    cases.push_back({container, container, AT_SIGNATURE, alg, hash, sig.bytes(), kRsaMismatch});
  }
  {
    DeviceBench::Control("button 0 ok");
    OutBuffer sig;
    ASSERT_EQ(m_handle.SignXMLMsg(Dev(), kSm2Pair, AT_SIGNATURE, CALG_SM3, message.data(),
                                  static_cast<DWORD>(message.size()), &sig.p, &sig.n),
              S_OK);
    // SM2 verifies the digest e = SM3(Z || message) of the identity.
    const Bytes e = Sm2MessageDigest(Sm2PublicKey(s_sm2.sign.xy).get(), message);
    cases.push_back({"sm2", kSm2Pair, AT_SIGNATURE, CALG_SM3, e, sig.bytes(), kSm2Mismatch});
  }
  {
    // rsaenh's own signature by the key the token imported.
    const Bytes hash = Digest(EVP_sha1(), message);
    const auto sig = s_rsaenh->SignWithGeneratedKey(CALG_SHA1, hash);
    ASSERT_TRUE(sig);
    cases.push_back({"rsaenh", kRsa1024, AT_KEYEXCHANGE, CALG_SHA1, hash, *sig, kRsaMismatch});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(m_handle.PubKeyVerifyHash(Dev(), c.container, c.keySpec, c.alg, c.data.data(),
                                        static_cast<DWORD>(c.data.size()), c.sig.data(),
                                        static_cast<DWORD>(c.sig.size())),
              S_OK);
    for (const size_t at : {size_t{0}, c.sig.size() / 2, c.sig.size() - 1}) {
      Bytes flipped = c.sig;
      flipped[at] ^= 0x01;
      EXPECT_EQ(m_handle.PubKeyVerifyHash(Dev(), c.container, c.keySpec, c.alg, c.data.data(),
                                          static_cast<DWORD>(c.data.size()), flipped.data(),
                                          static_cast<DWORD>(flipped.size())),
                c.flipped)
          << "byte " << at;
    }
  }
  // Verification needs no private key and no PIN; the other key refuses.
  const Case& rsa = cases[0];
  EXPECT_EQ(m_handle.PubKeyVerifyHash(Dev(), kRsa1024, AT_KEYEXCHANGE, CALG_SHA1, rsa.data.data(),
                                      static_cast<DWORD>(rsa.data.size()), rsa.sig.data(),
                                      static_cast<DWORD>(rsa.sig.size())),
            kRsaMismatch);
  EXPECT_EQ(m_handle.PubKeyVerifyHash(Dev(), kRsa1024, AT_SIGNATURE, CALG_SHA_512, rsa.data.data(),
                                      static_cast<DWORD>(rsa.data.size()), rsa.sig.data(),
                                      static_cast<DWORD>(rsa.sig.size())),
            E_INVALIDARG);
  EXPECT_EQ(m_trace.Entries("AsymKeyInit"), m_trace.Entries("AsymKeyFinal"));
}

TEST_F(KeyOperations, RsaDecryptionGivesThePaddedBlockOfWhatRsaenhEncrypted) {
  const Bytes message = Text("a session key, 24 bytes!");
  for (const auto* c : {&s_rsa1024, &s_rsa2048}) {
    SCOPED_TRACE(c->name);
    const auto cipher = s_rsaenh->Encrypt(c->exch, message);
    ASSERT_TRUE(cipher);
    ASSERT_EQ(cipher->size(), c->exch.n.size());
    OutBuffer block;
    ASSERT_EQ(m_handle.DecryptByDevice(Dev(), c->name.c_str(), AT_KEYEXCHANGE, cipher->data(),
                                       static_cast<DWORD>(cipher->size()), &block.p, &block.n),
              S_OK);
    ASSERT_EQ(block.n, c->exch.n.size());
    const Bytes b = block.bytes();
    EXPECT_EQ(b[0], 0x00);
    EXPECT_EQ(b[1], 0x02);
    EXPECT_EQ(b[b.size() - message.size() - 1], 0x00);
    EXPECT_EQ(Bytes(b.end() - static_cast<long>(message.size()), b.end()), message);
    DWORD offset = 0, length = 0;
    EXPECT_EQ(merro::crypto::RemovePkcs1EncryptionBlock(b.data(), block.n, &offset, &length), S_OK);
    EXPECT_EQ(length, message.size());
  }
}

TEST_F(KeyOperations, EncryptionsTheTokenDecrypts) {
  const Bytes sixteen = Pattern(16, 5);
  struct Case {
    const char* name;
    const char* container;
    DWORD keySpec;  // of the decryption
    std::optional<Bytes> cipher;
    size_t cipherLen;
  };
  auto encrypt = [&](const char* container, DWORD keySpec) -> std::optional<Bytes> {
    OutBuffer out;
    if (m_handle.PubKeyEncrypt(Dev(), container, keySpec, sixteen.data(), 16, &out.p, &out.n) != S_OK) {
      return std::nullopt;
    }
    return out.bytes();
  };
  const Case kCases[] = {
      {"OpenSSL SM2 to the exchange key", kSm2Pair, AT_KEYEXCHANGE,
       Sm2EncryptForToken(s_sm2.exch, sixteen), 113},
      {"OpenSSL SM2 to the signature key", kSm2Pair, AT_SIGNATURE,
       Sm2EncryptForToken(s_sm2.sign, sixteen), 113},
      {"SM2 PubKeyEncrypt", kSm2Pair, AT_KEYEXCHANGE, encrypt(kSm2Pair, AT_KEYEXCHANGE), 113},
      {"SM2 PubKeyEncrypt, signature key", kSm2Pair, AT_SIGNATURE, encrypt(kSm2Pair, AT_SIGNATURE), 113},
      {"single-key container", kSm2Single, AT_KEYEXCHANGE, encrypt(kSm2Single, AT_KEYEXCHANGE), 113},
      {"RSA-2048 PubKeyEncrypt", kRsa2048, AT_KEYEXCHANGE, encrypt(kRsa2048, AT_KEYEXCHANGE), 256},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.cipher);
    EXPECT_EQ(c.cipher->size(), c.cipherLen);
    OutBuffer plain;
    ASSERT_EQ(m_handle.DecryptByDevice(Dev(), c.container, c.keySpec, c.cipher->data(),
                                       static_cast<DWORD>(c.cipher->size()), &plain.p, &plain.n),
              S_OK);
    Bytes got = plain.bytes();
    if (c.cipherLen != 113) {  // RSA: the block, its padding for the caller to take off
      DWORD offset = 0, length = 0;
      ASSERT_EQ(merro::crypto::RemovePkcs1EncryptionBlock(got.data(), plain.n, &offset, &length), S_OK);
      got = Bytes(got.begin() + offset, got.begin() + offset + length);
    }
    EXPECT_EQ(got, sixteen);
  }
  // Each key decrypts only what was encrypted to it.
  OutBuffer plain;
  const auto toSign = Sm2EncryptForToken(s_sm2.sign, sixteen);
  EXPECT_LT(m_handle.DecryptByDevice(Dev(), kSm2Pair, AT_KEYEXCHANGE, toSign->data(),
                                     static_cast<DWORD>(toSign->size()), &plain.p, &plain.n),
            0);
  EXPECT_TRUE(plain.Untouched());
}

TEST_F(KeyOperations, ResultsBeyondTheWorkBufferAreErrorsNotOverflows) {
  // 1951 bytes give 2048 bytes of SM2 ciphertext, exactly the work buffer.
  const Bytes fits = Pattern(1951, 9);
  OutBuffer out;
  ASSERT_EQ(m_handle.PubKeyEncrypt(Dev(), kSm2Pair, AT_KEYEXCHANGE, fits.data(), 1951, &out.p, &out.n),
            S_OK);
  EXPECT_EQ(out.n, 2048u);
  const Bytes over = Pattern(1952, 9);
  OutBuffer none;
  EXPECT_EQ(m_handle.PubKeyEncrypt(Dev(), kSm2Pair, AT_KEYEXCHANGE, over.data(), 1952, &none.p,
                                   &none.n),
            kOutputRoomShort);
  EXPECT_TRUE(none.Untouched());
}

TEST_F(KeyOperations, KeyPairOperationsRefusedBeforeAnyCommand) {
  const Bytes data = Pattern(32, 1);
  const struct {
    const char* container;
    DWORD keySpec;
    HRESULT result;
  } kCases[] = {
      {kSm2Pair, 0, E_INVALIDARG},
      {kSm2Pair, 3, E_INVALIDARG},
      {"keys-missing", AT_KEYEXCHANGE, E_FAIL},
      {kSm2Single, AT_SIGNATURE, NTE_NO_KEY},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.container) + " " + std::to_string(c.keySpec));
    OutBuffer out;
    EXPECT_EQ(m_handle.PubKeyVerifyHash(Dev(), c.container, c.keySpec, CALG_SM3, data.data(), 32,
                                        data.data(), 32),
              c.result);
    EXPECT_EQ(m_handle.DecryptByDevice(Dev(), c.container, c.keySpec, data.data(), 32, &out.p,
                                       &out.n),
              c.result);
    EXPECT_EQ(m_handle.PubKeyEncrypt(Dev(), c.container, c.keySpec, data.data(), 32, &out.p,
                                     &out.n),
              c.result);
    EXPECT_TRUE(out.Untouched());
    EXPECT_EQ(Commands(), std::vector<BYTE>());
  }
  OutBuffer out;
  EXPECT_EQ(m_handle.DecryptByDevice(Dev(), kSm2Pair, AT_KEYEXCHANGE, data.data(), 0, &out.p, &out.n),
            E_INVALIDARG);
  EXPECT_EQ(m_handle.PubKeyEncrypt(Dev(), kSm2Pair, AT_KEYEXCHANGE, data.data(), 32, nullptr, &out.n),
            E_INVALIDARG);
  EXPECT_EQ(m_handle.PubKeyVerifyHash(Dev(), kSm2Pair, AT_SIGNATURE, CALG_SM3, data.data(), 32,
                                      nullptr, 32),
            E_INVALIDARG);
  EXPECT_EQ(m_trace.Entries("AsymKeyInit"), 0u);
}

// The argument checks of the operations with a key pair and a result
// buffer: each refuses before any command with a failure line of its own,
// "Check <name>" with the failed test as the reason.
TEST_F(KeyOperations, KeyPairArgumentChecksNameTheirArgumentInTheFailureLine) {
  using Call = HRESULT (*)(device::DeviceHandle&, const char*, const char*, const BYTE*, DWORD,
                           BYTE**, DWORD*);
  const struct {
    const char* function;
    const char* names[4];  // the input, its size, the result, its length
    Call call;
  } kOperations[] = {
      {"DeviceHandle::DecryptByDevice",
       {"pbyEncryptedData", "dwEncryptedDataSize", "ppbyPlainData", "pdwPlainDataSize"},
       [](device::DeviceHandle& h, const char* dev, const char* container, const BYTE* in,
          DWORD n, BYTE** out, DWORD* len) {
         return h.DecryptByDevice(dev, container, AT_KEYEXCHANGE, in, n, out, len);
       }},
      {"DeviceHandle::PubKeyEncrypt",
       {"pbyPlainData", "dwPlainDataSize", "ppbyEncryptedData", "pdwEncryptedDataSize"},
       [](device::DeviceHandle& h, const char* dev, const char* container, const BYTE* in,
          DWORD n, BYTE** out, DWORD* len) {
         return h.PubKeyEncrypt(dev, container, AT_KEYEXCHANGE, in, n, out, len);
       }},
      {"DeviceHandle::SignHashValue",
       {"pbyHashData", "dwHashDataSize", "ppbySignatureValue", "pdwSignatureValueSize"},
       [](device::DeviceHandle& h, const char* dev, const char* container, const BYTE* in,
          DWORD n, BYTE** out, DWORD* len) {
         return h.SignHashValue(dev, container, AT_SIGNATURE, CALG_SHA1, in, n, out, len);
       }},
      {"DeviceHandle::SignXMLMsg",
       {"pbySourceData", "dwSourceDataSize", "ppbySignatureValue", "pdwSignatureValueSize"},
       [](device::DeviceHandle& h, const char* dev, const char* container, const BYTE* in,
          DWORD n, BYTE** out, DWORD* len) {
         return h.SignXMLMsg(dev, container, AT_SIGNATURE, CALG_SM3, in, n, out, len);
       }},
  };
  const Bytes data = Pattern(20, 3);
  for (const auto& op : kOperations) {
    // The argument spoiled: the names, the input, its size, the result, its length.
    for (int spoiled = 0; spoiled < 6; ++spoiled) {
      const std::string name = spoiled == 0   ? "pszDevName"
                               : spoiled == 1 ? "pszContainerName"
                                              : op.names[spoiled - 2];
      SCOPED_TRACE(std::string(op.function) + " " + name);
      m_trace.Clear();
      OutBuffer out;
      EXPECT_EQ(op.call(m_handle, spoiled == 0 ? nullptr : Dev(),
                        spoiled == 1 ? nullptr : kSm2Pair, spoiled == 2 ? nullptr : data.data(),
                        spoiled == 3 ? 0 : 20, spoiled == 4 ? nullptr : &out.p,
                        spoiled == 5 ? nullptr : &out.n),
                E_INVALIDARG);
      const std::string expected = std::string("] ") + op.function + " - Check " + name +
                                   " [Reason:" + name + (spoiled == 3 ? " <= 0]" : " == NULL]");
      size_t failures = 0;
      for (const auto& line : m_trace.Lines()) {
        if (line.failure) {
          ++failures;
          EXPECT_EQ(line.text.rfind("[DeviceHandle(", 0), 0u) << line.text;
          EXPECT_NE(line.text.find(expected), std::string::npos) << line.text;
          EXPECT_EQ(line.result, static_cast<std::uint32_t>(E_INVALIDARG));
        }
      }
      EXPECT_EQ(failures, 1u);
      EXPECT_TRUE(out.Untouched());
      EXPECT_EQ(Commands(), std::vector<BYTE>());
    }
  }
}

}  // namespace
}  // namespace merro::testing
