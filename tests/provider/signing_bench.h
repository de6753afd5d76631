// The bench of the hash and signature tests, on the provider bench: token 0
// holds two containers with both key pairs each, one RSA-2048, one SM2, and
// the token layer is started with the product's settings. The scripted UI
// answers the PIN prompts (an unexpected one is a cancel); OpenSSL and
// Wine's rsaenh judge what the token signed.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "provider/container.h"
#include "provider/hash_handle.h"
#include "provider/key_handle.h"
#include "tests/device/support/key_judges.h"
#include "tests/provider/support/provider_bench.h"
#include "tests/tokenapi/api/api_test_support.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"

namespace merro::testing {

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// OpenSSL's digest of a CryptoAPI hash algorithm (MD5, SHA-1, SHA-256;
// anything else SM3).
inline const EVP_MD* EvpMdOf(ALG_ID uAlgID) {
  return uAlgID == CALG_MD5    ? EVP_md5()
         : uAlgID == CALG_SHA1 ? EVP_sha1()
         : uAlgID == CALG_SHA_256 ? EVP_sha256()
                                  : EVP_sm3();
}

// A transaction message of the TAVR format.
inline const std::string kTavrMessage =
    "<SignData><KeyType>RSA</KeyType><Fields><F n=\"amount\">12.00</F>"
    "<F n=\"payee\">Tolvane</F></Fields></SignData>";

class SigningBench : public ProviderBench {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The container objects the provider holds for the two containers.
  provider::Container& Rsa() { return *m_rsa; }
  provider::Container& Sm2() { return *m_sm2; }

  // A hash of the container, initialised with the algorithm (checked).
  std::unique_ptr<provider::HashHandle> NewHash(provider::Container& container, ALG_ID uAlgID);
  // The same, hashed over data in one piece and not finished.
  std::unique_ptr<provider::HashHandle> HashOf(provider::Container& container, ALG_ID uAlgID,
                                               const Bytes& data);
  // The container's signature key as the provider core makes it to sign.
  std::unique_ptr<provider::KeyHandle> SignatureKey(provider::Container& container);

  // Judges of the signature keys' signatures in CryptoAPI's byte order.
  bool RsaVerifies(ALG_ID uHashAlgID, const provider::HashHandle& hash, const Bytes& signature);
  bool Sm2Verifies(const Bytes& message, const Bytes& signature);
  // The SM2 signature key's SM3(Z || message).
  Bytes Sm2Digest(const Bytes& message);

  // The PIN prompts of the scripted UI so far.
  size_t PinPrompts();
  // The token's user-PIN status byte (0x11 while verified).
  DWORD PinStatus();
  // The INS bytes token 0 received since the last call.
  static std::vector<BYTE> TakeCommandLog() { return DeviceBench::CommandLog(0, true); }

  std::string m_dev;
  apitest::TraceLines m_trace;
  std::unique_ptr<provider::Container> m_rsa;
  std::unique_ptr<provider::Container> m_sm2;
  TokenKeyPair m_rsaSign;
  TokenKeyPair m_sm2Sign;
};

// What a test with the real dialogs runs under instead of the scripted UI.
class RealDialogs {
 public:
  RealDialogs();
  ~RealDialogs();
  RealDialogs(const RealDialogs&) = delete;
  RealDialogs& operator=(const RealDialogs&) = delete;

 private:
  std::unique_ptr<ui::UserInterface> m_scripted;
};

}  // namespace merro::testing
