// Key and certificate material for the provider's enrolment tests, made the
// way a bank's enrolment software makes it for the token:
// - SM2 pairs for the token (the provider receives them without their
//   leading point byte and puts 0x04 back in front): the 209-byte wrapped
//   blob, or the pair SM2-encrypted whole (193 bytes) in C1 || C2 || C3 or
//   in the C1 || C3 || C2 order some producers use;
// - RSA-2048 pairs in an envelope of DER elements whose fourth is the
//   128-byte wrapped key block and whose fifth the 640-byte wrapped pair;
// - RSA key pairs made and exported (PRIVATEKEYBLOB) by the platform's own
//   RSA provider, which also encrypts for them;
// - certificates over a public key as the token exports it.
//
//   DEV_CTX* ctx = ...;  // the token's context, from the device object
//   Sm2Material sm2 = MakeSm2Material(ctx, Sm2Form::Wrapped);
//   key.ImportPrivateKey(sm2.material.data(), sm2.material.size(), 256);
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <vector>

#include "tests/support/test_certificates.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/transport/device_ctx.h"

namespace merro::testing {

using ByteVector = std::vector<BYTE>;

enum class Sm2Form {
  Wrapped,          // SM4-wrapped pair after its SM2-wrapped key: 209 bytes
  Encrypted,        // the pair SM2-encrypted whole, C1 || C2 || C3: 193 bytes
  EncryptedC1C3C2,  // the same ciphertext with C3 before C2
};

struct Sm2Material {
  SM2_KEY key{};      // the pair (x, y, d), big-endian
  ByteVector blob;    // as the token takes it, beginning with 0x04
  ByteVector material;  // the blob without its first byte
};

// A new SM2 pair for the token of pDevCtx (its unwrapping key is read from
// the token). Fails the test when the token's key cannot be read.
Sm2Material MakeSm2Material(DEV_CTX* pDevCtx, Sm2Form form);

// One DER element: tag, DER length, content.
ByteVector DerElement(BYTE tag, const ByteVector& content);
// A SEQUENCE of the given encoded elements.
ByteVector DerSequence(const std::vector<ByteVector>& elements);

// The envelope's leading elements (version, wrapping algorithm, key bits),
// which the token does not read, then the wrapped key block and pair as
// OCTET STRINGs.
ByteVector RsaEnvelope(const ByteVector& keyBlock, const ByteVector& pair);
// The envelope's elements one by one (for envelopes with fewer or more).
std::vector<ByteVector> RsaEnvelopeElements(const ByteVector& keyBlock, const ByteVector& pair);

// An exchange key pair made by the platform's RSA provider (in a verify
// context), exportable. Copies share the key.
class PlatformRsaKey {
 public:
  // Fails the test (and gives an empty key) when the provider refuses.
  static PlatformRsaKey Generate(DWORD bits);

  explicit operator bool() const { return m_key != nullptr; }
  // The PRIVATEKEYBLOB as the provider exported it.
  const ByteVector& PrivateKeyBlob() const { return m_blob; }
  // What follows the BLOBHEADER: RSAPUBKEY and the key parts.
  ByteVector Body() const;
  // The modulus, most significant byte first.
  ByteVector Modulus() const;
  // Modulus, public exponent and private exponent as the token API takes
  // them (most significant byte first).
  RSA_KEY ToRsaKey() const;
  // PKCS #1 v1.5 encryption by the provider, most significant byte first.
  ByteVector Encrypt(const ByteVector& plain) const;

 private:
  struct Handles;
  std::shared_ptr<Handles> m_key;
  ByteVector m_blob;
};

// An RSA-2048 pair of the platform's provider wrapped for the token of
// pDevCtx: the envelope and the pair's modulus.
struct RsaEnvelopeMaterial {
  ByteVector modulus;
  ByteVector keyBlock;  // 128 bytes
  ByteVector pair;      // 640 bytes
  ByteVector envelope;
};
RsaEnvelopeMaterial MakeRsa2048Envelope(DEV_CTX* pDevCtx);

// A certificate of the tests' CA over a public key in the token's export
// form: DER RSAPublicKey, or SM2 X || Y (64 bytes).
CertBytes CertificateOver(const ByteVector& tokenPublicKey, bool bSm2);

}  // namespace merro::testing
