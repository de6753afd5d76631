// The key object's ciphers against the daemon's token: container key pairs
// (RSA and SM2, encryption on the host, decryption on the token) and session
// keys (DES, triple DES, RC4). Wine's rsaenh and OpenSSL make the
// ciphertexts the key object must open and judge the ones it makes; the
// trace shows the PIN checks, the decryptions on the token, the resets of
// the token's security state and every end of a cipher context.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "provider/container.h"
#include "provider/key_handle.h"
#include "tests/provider/cipher_oracles.h"
#include "tests/provider/support/provider_bench.h"
#include "tests/support/cipher_pieces.h"
#include "tests/tokenapi/api/api_test_support.h"

namespace merro::testing {
namespace {

using merro::provider::Container;
using merro::provider::KeyHandle;

// A buffer the key object handed out.
Bytes Take(BYTE* p, DWORD n) {
  const std::unique_ptr<BYTE[]> owner(p);
  return p != nullptr ? Bytes(p, p + n) : Bytes();
}

Bytes Pattern(size_t n, std::uint8_t seed) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) {
    out[i] = static_cast<std::uint8_t>(seed + 37 * i) | 1;  // never 0
  }
  return out;
}

class ProviderCipher : public ProviderBench {
 protected:
  void TearDown() override {
    m_keys.clear();
    m_containers.clear();
    ProviderBench::TearDown();
  }

  // Containers on token 0, each with an exchange pair of the given type (0:
  // none), then the token layer started and the user PIN queued once (the
  // settings keep it for the later checks).
  void Prepare(const std::vector<std::pair<std::string, BYTE>>& containers,
               std::vector<TokenKeyPair>* pPairs = nullptr) {
    for (const auto& c : containers) {
      std::vector<ContainerKey> keys;
      if (c.second != 0) {
        keys.push_back(Key(AT_KEYEXCHANGE, c.second));
      }
      ASSERT_TRUE(MakeContainer(0, c.first, &keys));
      if (pPairs != nullptr) {
        pPairs->push_back(keys.empty() ? TokenKeyPair() : keys[0].pair);
      }
    }
    ASSERT_TRUE(StartTokenLayer());
    m_ui->Push(std::string("pin ") + kUserPin);
    m_dev0 = DeviceBench::DeviceName(0);
  }

  // A key object of the container (registered: found on its token), as the
  // provider core makes it.
  KeyHandle* KeyObject(const std::string& container, ALG_ID alg, DWORD bits = 0) {
    std::unique_ptr<Container> c =
        Container::CreateRegisteredContainer(container.c_str(), TRUE, FALSE);
    EXPECT_TRUE(c) << container;
    if (!c) {
      return nullptr;
    }
    return KeyOf(std::move(c), alg, bits);
  }
  KeyHandle* KeyOf(std::unique_ptr<Container> c, ALG_ID alg, DWORD bits = 0) {
    auto key = std::make_unique<KeyHandle>();
    key->m_pContainer = c.get();
    EXPECT_EQ(key->InitKeyHandle(alg, 0), S_OK);
    if (bits != 0) {
      key->m_dwModulusBits = bits;
    }
    m_containers.push_back(std::move(c));
    m_keys.push_back(std::move(key));
    return m_keys.back().get();
  }
  // A session key of the container with these key bytes.
  KeyHandle* SessionKey(const std::string& container, ALG_ID alg, const Bytes& bytes) {
    KeyHandle* key = KeyObject(container, alg);
    if (key != nullptr) {
      EXPECT_EQ(key->m_stSymKey.cbData, bytes.size());
      std::copy(bytes.begin(), bytes.end(), key->m_stSymKey.pbData);
    }
    return key;
  }
  void Destroy(KeyHandle* key) {
    for (auto it = m_keys.begin(); it != m_keys.end(); ++it) {
      if (it->get() == key) {
        m_keys.erase(it);
        return;
      }
    }
  }

  // AsymDecrypt or AsymEncrypt; a buffer is handed out exactly on success.
  using AsymOperation = HRESULT (KeyHandle::*)(const BYTE*, DWORD, BYTE**, DWORD*);
  static HRESULT Asym(AsymOperation operation, KeyHandle* key, const Bytes& in, Bytes* out) {
    BYTE* p = nullptr;
    DWORD n = 0;
    const HRESULT hr = (key->*operation)(in.data(), static_cast<DWORD>(in.size()), &p, &n);
    EXPECT_EQ(p != nullptr, hr == S_OK);
    *out = Take(p, n);
    return hr;
  }
  static HRESULT Decrypt(KeyHandle* key, const Bytes& in, Bytes* out) {
    return Asym(&KeyHandle::AsymDecrypt, key, in, out);
  }
  static HRESULT Encrypt(KeyHandle* key, const Bytes& in, Bytes* out) {
    return Asym(&KeyHandle::AsymEncrypt, key, in, out);
  }

  // The token's user-PIN status byte (0x11 while the PIN counts as verified).
  DWORD PinStatus() {
    DWORD tries = 0, status = 0, modified = 0;
    EXPECT_EQ(g_pDeviceHandle->GetPINInfo(m_dev0.c_str(), 1, &tries, &status, &modified), S_OK);
    return status;
  }

  // One session cipher run: init, an update per piece (the rest in the
  // last), final; the outputs joined. The first failure goes to *hr.
  Bytes RunSession(KeyHandle* key, bool encrypt, const Bytes& in, std::vector<size_t> pieces,
                   HRESULT* hr) {
    *hr = encrypt ? key->SymEncryptInit() : key->SymDecryptInit();
    if (*hr != S_OK) {
      return {};
    }
    Bytes out;
    *hr = FeedInPieces(in, pieces, &out, [&](const BYTE* pbyIn, DWORD n, BYTE** pp, DWORD* pn) {
      return encrypt ? key->SymEncryptUpdate(pbyIn, n, pp, pn)
                     : key->SymDecryptUpdate(pbyIn, n, pp, pn);
    });
    if (*hr != S_OK) {
      return {};
    }
    BYTE* p = nullptr;
    DWORD len = 0;
    *hr = encrypt ? key->SymEncryptFinal(&p, &len) : key->SymDecryptFinal(&p, &len);
    const Bytes last = Take(p, len);
    out.insert(out.end(), last.begin(), last.end());
    return out;
  }

  std::string m_dev0;
  apitest::TraceLines m_trace;
  std::vector<std::unique_ptr<Container>> m_containers;
  std::vector<std::unique_ptr<KeyHandle>> m_keys;  // destroyed before their containers
};

// RSA-1024 and RSA-2048 exchange keys: what rsaenh encrypts under the
// token's public key (1, 16 and k - 11 bytes) decrypts to the plaintext,
// and what the key object encrypts (k bytes) decrypts back. No decryption
// leaves the user PIN verified on the token.
TEST_F(ProviderCipher, RsaExchangeKeysAgainstRsaenh) {
  std::vector<TokenKeyPair> pairs;
  ASSERT_NO_FATAL_FAILURE(
      Prepare({{"rsa1024", MR_ALG_RSA1024}, {"rsa2048", MR_ALG_RSA2048}}, &pairs));
  const struct {
    const char* container;
    DWORD bits;
    KeyHandle* key;
  } keys[] = {{"rsa1024", 1024, KeyObject("rsa1024", CALG_RSA_KEYX, 1024)},
              {"rsa2048", 2048, KeyObject("rsa2048", CALG_RSA_KEYX, 2048)}};
  m_trace.Clear();
  for (size_t k = 0; k < 2; ++k) {
    SCOPED_TRACE(keys[k].container);
    KeyHandle* key = keys[k].key;
    ASSERT_NE(key, nullptr);
    const TokenKeyPair& pair = pairs[k];
    const size_t modulusBytes = keys[k].bits / 8;
    ASSERT_EQ(pair.rsaModulus.size(), modulusBytes);
    for (size_t size : {size_t{1}, size_t{16}, modulusBytes - 11}) {
      SCOPED_TRACE(size);
      const Bytes plain = Pattern(size, static_cast<std::uint8_t>(size));
      const Bytes sealed = RsaenhPublicEncrypt(pair.rsaModulus, pair.rsaExponent, plain);
      ASSERT_EQ(sealed.size(), modulusBytes);
      Bytes opened;
      EXPECT_EQ(Decrypt(key, sealed, &opened), S_OK);
      EXPECT_EQ(opened, plain);
      EXPECT_NE(PinStatus(), 0x11u);

      Bytes ours;
      ASSERT_EQ(Encrypt(key, plain, &ours), S_OK);
      EXPECT_EQ(ours.size(), modulusBytes);
      EXPECT_NE(ours, sealed);  // fresh random padding
      EXPECT_EQ(Decrypt(key, ours, &opened), S_OK);
      EXPECT_EQ(opened, plain);
    }
  }
  // The PIN was asked once and kept; every decryption ended with a reset.
  EXPECT_EQ(m_ui->Transcript().size(), 1u);
  EXPECT_EQ(m_trace.Entries("KeyHandle::AsymDecrypt"), 12u);
  EXPECT_EQ(m_trace.Entries("DeviceHandle::ResetKey"), 12u);
}

// Blocks made by hand under the token's public key: only a type-2 block
// with its separator yields a plaintext, and a failure hands out nothing.
TEST_F(ProviderCipher, HandMadeRsaBlocks) {
  std::vector<TokenKeyPair> pairs;
  ASSERT_NO_FATAL_FAILURE(Prepare({{"rsa", MR_ALG_RSA1024}}, &pairs));
  KeyHandle* key = KeyObject("rsa", CALG_RSA_KEYX, 1024);
  ASSERT_NE(key, nullptr);
  const size_t k = 128;
  auto block = [&](std::uint8_t type, bool separator) {
    Bytes b = {0x00, type};
    const Bytes padding = Pattern(k - 2 - (separator ? 1 : 0), 0x41);
    b.insert(b.end(), padding.begin(), padding.end());
    if (separator) {
      b.push_back(0x00);
    }
    return b;
  };
  const struct {
    const char* what;
    Bytes block;
    HRESULT result;
  } cases[] = {
      {"00 02, padding, 00 as the last byte", block(0x02, true), S_OK},
      {"00 01 instead of 00 02", block(0x01, true), NTE_BAD_KEY},
      {"00 02 without a later 00", block(0x02, false), NTE_BAD_KEY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.block.size(), k);
    const Bytes sealed = RawRsaPublic(pairs[0].rsaModulus, pairs[0].rsaExponent, c.block);
    ASSERT_EQ(sealed.size(), k);
    BYTE* p = reinterpret_cast<BYTE*>(this);  // must stay untouched on failure
    DWORD n = 77;
    const HRESULT hr = key->AsymDecrypt(sealed.data(), static_cast<DWORD>(sealed.size()), &p, &n);
    EXPECT_EQ(hr, c.result);
    if (hr == S_OK) {
      EXPECT_EQ(n, 0u);  // an empty plaintext
      delete[] p;
    } else {
      EXPECT_EQ(p, reinterpret_cast<BYTE*>(this));
      EXPECT_EQ(n, 77u);
    }
    EXPECT_NE(PinStatus(), 0x11u);
  }
}

// SM2: OpenSSL's ciphertext of 16 bytes in the token's order opens at the
// first attempt, in the order x, y, C3, C2 at the second (after a second
// PIN check); one too short for x, y and C3 gets the first attempt's
// answer and no second attempt. The key object's own ciphertext is the
// token's form (0x04 in front, 113 bytes) and opens without its 0x04.
TEST_F(ProviderCipher, Sm2CiphertextOrders) {
  std::vector<TokenKeyPair> pairs;
  ASSERT_NO_FATAL_FAILURE(Prepare({{"sm2", MR_ALG_SM2}}, &pairs));
  KeyHandle* key = KeyObject("sm2", CALG_SM2_KEYX, 256);
  ASSERT_NE(key, nullptr);
  const Bytes plain = Pattern(16, 0x10);
  const Sm2Parts parts = OpenSslSm2Encrypt(pairs[0].sm2Point, plain);
  ASSERT_EQ(parts.c2.size(), 16u);
  ASSERT_EQ(parts.c3.size(), 32u);

  const struct {
    const char* what;
    Bytes ciphertext;
    size_t attempts;
  } orders[] = {{"x, y, C2, C3", parts.XyC2C3(), 1}, {"x, y, C3, C2", parts.XyC3C2(), 2}};
  for (const auto& order : orders) {
    SCOPED_TRACE(order.what);
    m_trace.Clear();
    Bytes opened;
    EXPECT_EQ(Decrypt(key, order.ciphertext, &opened), S_OK);
    EXPECT_EQ(opened, plain);
    EXPECT_EQ(m_trace.Entries("KeyHandle::CheckUserPIN"), order.attempts);
    EXPECT_EQ(m_trace.Entries("DeviceHandle::DecryptByDevice"), order.attempts);
    EXPECT_EQ(m_trace.Entries("DeviceHandle::ResetKey"), 1u);
    EXPECT_NE(PinStatus(), 0x11u);
  }

  // 95 bytes: the device object's own answer to it, once.
  const Bytes reordered = parts.XyC3C2();
  const Bytes shortText(reordered.begin(), reordered.begin() + 95);
  Bytes withTag = {0x04};
  withTag.insert(withTag.end(), shortText.begin(), shortText.end());
  BYTE* p = nullptr;
  DWORD n = 0;
  const HRESULT firstAttempt =
      g_pDeviceHandle->DecryptByDevice(m_dev0.c_str(), "sm2", AT_KEYEXCHANGE, withTag.data(),
                                       static_cast<DWORD>(withTag.size()), &p, &n);
  ASSERT_TRUE(FAILED(firstAttempt));
  m_trace.Clear();
  Bytes opened;
  EXPECT_EQ(Decrypt(key, shortText, &opened), firstAttempt);
  EXPECT_EQ(m_trace.Entries("DeviceHandle::DecryptByDevice"), 1u);
  EXPECT_EQ(m_trace.Entries("KeyHandle::CheckUserPIN"), 1u);
  EXPECT_EQ(m_trace.Entries("DeviceHandle::ResetKey"), 1u);

  Bytes sealed;
  ASSERT_EQ(Encrypt(key, plain, &sealed), S_OK);
  ASSERT_EQ(sealed.size(), 113u);
  EXPECT_EQ(sealed[0], 0x04);
  EXPECT_EQ(Decrypt(key, Bytes(sealed.begin() + 1, sealed.end()), &opened), S_OK);
  EXPECT_EQ(opened, plain);
}

// What the ciphers of a key pair refuse, and the reset of the token's
// security state after every decryption, refused ones included.
TEST_F(ProviderCipher, KeyPairRefusals) {
  ASSERT_NO_FATAL_FAILURE(Prepare({{"rsa", MR_ALG_RSA1024}, {"sm2", MR_ALG_SM2}}));
  std::unique_ptr<Container> ephemeral = Container::CreateEphemeralContainer(TRUE, FALSE, TRUE);
  ASSERT_TRUE(ephemeral);
  KeyHandle* onEphemeral = KeyOf(std::move(ephemeral), CALG_RSA_KEYX, 1024);
  KeyHandle* rsa = KeyObject("rsa", CALG_RSA_KEYX, 1024);
  KeyHandle* rsaSign = KeyObject("rsa", CALG_RSA_SIGN, 1024);
  KeyHandle* sm2Sign = KeyObject("sm2", CALG_SM2_SIGN, 256);
  ASSERT_TRUE(rsa && rsaSign && sm2Sign);
  const Bytes data(128, 0x31);
  BYTE* p = nullptr;
  DWORD n = 0;

  struct Case {
    const char* what;
    KeyHandle* key;
    const BYTE* data;
    DWORD size;
    BYTE** out;
    HRESULT result;
  };
  const Case encryptions[] = {
      {"ephemeral container", onEphemeral, data.data(), 16, &p, NTE_BAD_PROV_TYPE},
      {"RSA signature key", rsaSign, data.data(), 16, &p, NTE_BAD_ALGID},
      {"SM2 signature key", sm2Sign, data.data(), 16, &p, NTE_BAD_ALGID},
      {"no data", rsa, nullptr, 16, &p, E_INVALIDARG},
      {"no output", rsa, data.data(), 16, nullptr, E_INVALIDARG},
      {"no bytes", rsa, data.data(), 0, &p, E_INVALIDARG},
  };
  for (const auto& c : encryptions) {
    SCOPED_TRACE(std::string("encrypt: ") + c.what);
    EXPECT_EQ(c.key->AsymEncrypt(c.data, c.size, c.out, &n), c.result);
    EXPECT_EQ(p, nullptr);
  }

  const Case decryptions[] = {
      {"ephemeral container", onEphemeral, data.data(), 128, &p, NTE_BAD_PROV_TYPE},
      {"no data", rsa, nullptr, 128, &p, E_INVALIDARG},
      {"no output", rsa, data.data(), 128, nullptr, E_INVALIDARG},
      {"no bytes", rsa, data.data(), 0, &p, E_INVALIDARG},
  };
  m_trace.Clear();
  for (const auto& c : decryptions) {
    SCOPED_TRACE(std::string("decrypt: ") + c.what);
    const size_t resets = m_trace.Entries("DeviceHandle::ResetKey");
    EXPECT_EQ(c.key->AsymDecrypt(c.data, c.size, c.out, &n), c.result);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(m_trace.Entries("DeviceHandle::ResetKey"), resets + 1);
  }
  // None of them got as far as the PIN or the token's private key.
  EXPECT_EQ(m_trace.Entries("KeyHandle::CheckUserPIN"), 0u);
  EXPECT_EQ(m_trace.Entries("DeviceHandle::DecryptByDevice"), 0u);
  EXPECT_TRUE(m_ui->Transcript().empty());
}

// DES (CBC and ECB), triple DES and RC4 session keys: the ciphertext of 1,
// 8, 15, 16 and 100 bytes, fed in one update or in pieces, is rsaenh's for
// the same key and a zero IV, and decrypts back in pieces as well.
TEST_F(ProviderCipher, SessionCiphersAgainstRsaenh) {
  ASSERT_NO_FATAL_FAILURE(Prepare({{"session", 0}}));
  const Bytes keyBytes = Pattern(24, 0x5C);
  const struct {
    const char* what;
    ALG_ID alg;
    DWORD mode;  // 0: as InitKeyHandle left it (CBC; none for RC4)
    size_t keyLen;
  } setups[] = {
      {"DES-CBC", CALG_DES, 0, 8},
      {"DES-ECB", CALG_DES, CRYPT_MODE_ECB, 8},
      {"3DES-CBC", CALG_3DES, 0, 24},
      {"RC4", CALG_RC4, 0, 16},
  };
  const std::vector<std::vector<size_t>> splits = {{}, {7}, {1, 8, 3}};
  for (const auto& setup : setups) {
    SCOPED_TRACE(setup.what);
    const Bytes key(keyBytes.begin(), keyBytes.begin() + setup.keyLen);
    KeyHandle* handle = SessionKey("session", setup.alg, key);
    ASSERT_NE(handle, nullptr);
    if (setup.mode != 0) {
      handle->m_dwMode = setup.mode;
    }
    for (size_t size : {1, 8, 15, 16, 100}) {
      const Bytes plain = Pattern(size, static_cast<std::uint8_t>(size + 3));
      const Bytes expected = RsaenhSessionEncrypt(setup.alg, setup.mode, key, plain);
      ASSERT_FALSE(expected.empty());
      for (const std::vector<size_t>& pieces : splits) {
        SCOPED_TRACE(::testing::Message() << size << " bytes in " << pieces.size() + 1);
        HRESULT hr = E_FAIL;
        EXPECT_EQ(RunSession(handle, true, plain, pieces, &hr), expected);
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(RunSession(handle, false, expected, pieces, &hr), plain);
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(handle->m_pEvpCtx, nullptr);
      }
    }
  }
}

// What the session ciphers refuse, and in which state they leave the key.
TEST_F(ProviderCipher, SessionCipherRefusals) {
  ASSERT_NO_FATAL_FAILURE(Prepare({{"session", 0}}));
  KeyHandle* rc2 = SessionKey("session", CALG_DES, Bytes(8, 1));
  rc2->m_uAlgID = CALG_RC2;  // InitKeyHandle has no row for it
  const struct {
    const char* what;
    KeyHandle* key;
    HRESULT result;
  } inits[] = {
      {"RC2", rc2, NTE_NOT_SUPPORTED},
      {"two-key triple DES", SessionKey("session", CALG_3DES_112, Bytes(16, 2)), NTE_BAD_KEY},
      {"RSA exchange key", KeyObject("session", CALG_RSA_KEYX, 1024), NTE_BAD_ALGID},
      {"RSA signature key", KeyObject("session", CALG_RSA_SIGN, 1024), NTE_BAD_ALGID},
      {"SM2 exchange key", KeyObject("session", CALG_SM2_KEYX, 256), NTE_BAD_ALGID},
      {"SM2 signature key", KeyObject("session", CALG_SM2_SIGN, 256), NTE_BAD_ALGID},
  };
  for (const auto& c : inits) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.key->SymEncryptInit(), c.result);
    EXPECT_EQ(c.key->SymDecryptInit(), c.result);
    EXPECT_EQ(c.key->m_pEvpCtx, nullptr);
  }

  KeyHandle* des = SessionKey("session", CALG_DES, Bytes(8, 3));
  const Bytes data(8, 0x44);
  BYTE* p = nullptr;
  DWORD n = 0;
  // Nothing runs yet.
  EXPECT_EQ(des->SymEncryptUpdate(data.data(), 8, &p, &n), NTE_BAD_KEY);
  EXPECT_EQ(des->SymDecryptUpdate(data.data(), 8, &p, &n), NTE_BAD_KEY);
  EXPECT_EQ(des->SymEncryptFinal(&p, &n), NTE_BAD_KEY);
  EXPECT_EQ(des->SymDecryptFinal(&p, &n), NTE_BAD_KEY);
  // Running: bad arguments of an update are refused as a bad key and leave
  // the cipher running; a final without an output place is refused too.
  ASSERT_EQ(des->SymEncryptInit(), S_OK);
  EXPECT_EQ(des->SymEncryptUpdate(nullptr, 8, &p, &n), NTE_BAD_KEY);
  EXPECT_EQ(des->SymEncryptUpdate(data.data(), 0, &p, &n), NTE_BAD_KEY);
  EXPECT_EQ(des->SymEncryptUpdate(data.data(), 8, nullptr, &n), NTE_BAD_KEY);
  EXPECT_EQ(des->SymEncryptFinal(nullptr, &n), E_INVALIDARG);
  EXPECT_NE(des->m_pEvpCtx, nullptr);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(des->SymEncryptFinal(&p, &n), S_OK);
  EXPECT_EQ(Take(p, n).size(), 8u);  // one padding block
  p = nullptr;
  // A second final.
  EXPECT_EQ(des->SymEncryptFinal(&p, &n), NTE_BAD_KEY);
  EXPECT_EQ(p, nullptr);
}

// A decryption whose final fails (wrong key: bad padding) drops the
// context the device object already ended, so destroying the key ends
// nothing more; an init while a cipher runs ends the running one first,
// and the new cipher starts from its own IV.
TEST_F(ProviderCipher, CipherContextEnds) {
  ASSERT_NO_FATAL_FAILURE(Prepare({{"session", 0}}));
  const Bytes plain = Pattern(16, 0x22);
  const Bytes sealed = RsaenhSessionEncrypt(CALG_3DES, 0, Pattern(24, 0x01), plain);
  ASSERT_EQ(sealed.size(), 24u);

  KeyHandle* wrong = SessionKey("session", CALG_3DES, Pattern(24, 0x02));
  ASSERT_EQ(wrong->SymDecryptInit(), S_OK);
  BYTE* p = nullptr;
  DWORD n = 0;
  ASSERT_EQ(wrong->SymDecryptUpdate(sealed.data(), static_cast<DWORD>(sealed.size()), &p, &n),
            S_OK);
  Take(p, n);
  p = nullptr;
  const size_t finals = m_trace.Entries("mr_SymKeyFinal");
  EXPECT_EQ(wrong->SymDecryptFinal(&p, &n), NTE_BAD_KEY);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(wrong->m_pEvpCtx, nullptr);
  EXPECT_EQ(m_trace.Entries("mr_SymKeyFinal"), finals + 1);
  Destroy(wrong);
  EXPECT_EQ(m_trace.Entries("mr_SymKeyFinal"), finals + 1);

  KeyHandle* des = SessionKey("session", CALG_DES, Pattern(8, 0x07));
  HRESULT hr = E_FAIL;
  const Bytes fresh = RunSession(des, true, plain, {}, &hr);
  ASSERT_EQ(hr, S_OK);
  ASSERT_EQ(des->SymEncryptInit(), S_OK);
  ASSERT_EQ(des->SymEncryptUpdate(plain.data(), 8, &p, &n), S_OK);
  Take(p, n);
  p = nullptr;
  const size_t before = m_trace.Entries("mr_SymKeyFinal");
  EXPECT_EQ(RunSession(des, true, plain, {}, &hr),
            fresh);  // the init ends the running cipher
  EXPECT_EQ(hr, S_OK);
  // One final for the cipher that was running, one for the new one.
  EXPECT_EQ(m_trace.Entries("mr_SymKeyFinal"), before + 2);
  Destroy(des);
  EXPECT_EQ(m_trace.Entries("mr_SymKeyFinal"), before + 2);

  // A key destroyed while its cipher runs ends it once.
  KeyHandle* running = SessionKey("session", CALG_RC4, Pattern(16, 0x09));
  ASSERT_EQ(running->SymEncryptInit(), S_OK);
  const size_t atDestroy = m_trace.Entries("mr_SymKeyFinal");
  Destroy(running);
  EXPECT_EQ(m_trace.Entries("mr_SymKeyFinal"), atDestroy + 1);
}

}  // namespace
}  // namespace merro::testing
