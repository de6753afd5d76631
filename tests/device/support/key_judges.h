// Independent judges of what the token's keys produce: Wine's own RSA
// provider (rsaenh) through CryptoAPI, and OpenSSL. Values cross in the
// token's byte order, most significant byte first; the rsaenh helpers
// reverse them at CryptoAPI's boundary themselves.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <optional>

#include "tests/device/support/key_containers.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"
#include "tokenapi/crypto/rsa/rsa_key.h"

namespace merro::testing {

// s^e mod n with OpenSSL's raw RSA operation: the block the token signed.
std::optional<Bytes> RsaRecoverBlock(const TokenPublicKey& key, const Bytes& signature);

// OpenSSL's SM2 encryption to the key, turned from its DER form into the
// token's 04 || x || y || C2 || C3.
std::optional<Bytes> Sm2EncryptForToken(const TokenPublicKey& key, const Bytes& plain);

// Wine's rsaenh (its AES provider, which knows SHA-256), in a verify-only
// context of its own.
class Rsaenh {
 public:
  Rsaenh();
  ~Rsaenh();
  Rsaenh(const Rsaenh&) = delete;
  Rsaenh& operator=(const Rsaenh&) = delete;
  bool Ok() const { return m_prov != 0; }

  // CryptVerifySignatureW of a hash value set with HP_HASHVAL, under the
  // key as a PUBLICKEYBLOB.
  bool Verify(const TokenPublicKey& key, ALG_ID hashAlg, const Bytes& hash, const Bytes& signature);
  // CryptEncrypt (PKCS#1 v1.5) to the key as an exchange key.
  std::optional<Bytes> Encrypt(const TokenPublicKey& key, const Bytes& plain);

  // A fresh exportable RSA-1024 signature key of rsaenh, its whole pair as
  // the token imports it, and rsaenh's signatures with it.
  bool GenerateSignatureKey(RSA_KEY* pPair);
  std::optional<Bytes> SignWithGeneratedKey(ALG_ID hashAlg, const Bytes& hash);

 private:
  HCRYPTKEY ImportPublic(const TokenPublicKey& key, ALG_ID keyAlg);

  HCRYPTPROV m_prov = 0;
  HCRYPTKEY m_generated = 0;
};

}  // namespace merro::testing
