// The private-key operations of the simulated token, on OpenSSL EVP: SM2
// signatures with the hashing of GB/T 32918 (Z from the identity and the
// public key, then SM3), the raw RSA private operation and RSA PKCS#1 v1.5
// signatures, and the token's digests for RSA signing.
#pragma once

#include <openssl/evp.h>

#include <cstdint>

#include "tokensim/handlers/evp_util.h"

namespace merro::tokensim::signing {

using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, EvpDeleter<EVP_MD_CTX_free>>;

constexpr size_t kSm2DigestLen = 32;
constexpr size_t kSm2SignatureLen = 64;  // r || s
constexpr size_t kSm2IdentityLen = 16;   // what the host sends with the key

// An SM3 context that has hashed Z of the SM2 public key for the identity;
// null when the key is not an SM2 key or OpenSSL fails.
EvpMdCtxPtr Sm2StartHash(EVP_PKEY* publicKey, const std::uint8_t* id, size_t idLen);

// The SM2 signature r || s of the 32-byte digest e.
bool Sm2SignDigest(EVP_PKEY* privateKey, const std::uint8_t* e, std::uint8_t (&sig)[kSm2SignatureLen]);

// x^d mod n for an input of the modulus length below n.
bool RsaPrivateRaw(EVP_PKEY* privateKey, const std::uint8_t* in, size_t n, SecretBytes* pOut);

// PKCS#1 v1.5 signature of a finished digest: with the DigestInfo of md, or
// over the digest bytes alone when md is null (SHA-1 || MD5).
bool RsaSignDigest(EVP_PKEY* privateKey, const EVP_MD* md, const std::uint8_t* digest, size_t n,
                   Bytes* pSig);

// The digests the token computes for RSA signatures, by token hash code:
// 0x00 SHA-1, 0x02 SHA-256, 0x04 SHA-512, 0x05 MD5, 0x06 SHA-1 then MD5.
class TokenDigest {
 public:
  static bool Known(std::uint8_t code);
  bool Start(std::uint8_t code);
  bool Update(const std::uint8_t* p, size_t n);
  // The digest, and the algorithm whose DigestInfo the signature carries
  // (null for code 0x06).
  bool Finish(Bytes* pDigest, const EVP_MD** pMd);
  size_t Length() const;

 private:
  std::uint8_t m_code = 0xFF;
  EvpMdCtxPtr m_first;
  EvpMdCtxPtr m_second;  // MD5 of code 0x06
};

}  // namespace merro::tokensim::signing
