// PKCS#1 v1.5 blocks (RFC 8017, 8.2 and 7.2), one place for the whole
// system: the signature block of type 1 with the DigestInfo of its hash,
// and the encryption block of type 2 with its removal. The host's RSA
// operations, the device object (which hands the token a finished block to
// sign) and the provider (which takes the padding off what the token
// decrypted) all go through these.
//
// Blocks are k bytes, k the modulus length, most significant byte first:
//   type 1: 00 01 FF..FF 00 DigestInfo-prefix digest
//   type 2: 00 02 PS 00 data, PS random non-zero bytes
// with at least kPkcs1MinPadding bytes of padding in either.
#pragma once

#include "foundation/platform.h"

namespace merro::crypto {

// RFC 8017: the padding string is at least eight bytes; with the leading
// 00, the block type and the 00 separator a block has 11 bytes of overhead.
constexpr DWORD kPkcs1MinPadding = 8;
constexpr DWORD kPkcs1Overhead = kPkcs1MinPadding + 3;

// How a signature of one hash carries its digest: the DER DigestInfo prefix
// (RFC 8017, 9.2, note 1) in front of the digest. SHA-1 + MD5 (the 36-byte
// SSL3 hash) has no prefix: the bytes are signed bare.
struct Pkcs1DigestInfo {
  BYTE byHashType;      // the token's hash type: MR_ALG_MD5, MR_ALG_SHA1, ...
  const BYTE* pPrefix;  // null when there is none
  DWORD dwPrefixLen;
  DWORD dwDigestLen;
};

// The row of a token hash type (MR_ALG_MD5, MR_ALG_SHA1, MR_ALG_SHA256,
// MR_ALG_SHA512, MR_ALG_SHA1_MD5); null for any other (SM3 among them: no
// PKCS#1 signature carries it).
const Pkcs1DigestInfo* FindPkcs1DigestInfo(DWORD dwHashType);

// The smallest k whose type-1 block holds this hash with its padding.
constexpr DWORD Pkcs1SignatureBlockMin(const Pkcs1DigestInfo& info) {
  return kPkcs1Overhead + info.dwPrefixLen + info.dwDigestLen;
}

// Writes the k-byte type-1 block of `digest` (info.dwDigestLen bytes) into
// `block`. 0; 0x80070057 for a null pointer; 0x80090004 when k is below
// Pkcs1SignatureBlockMin(info) (nothing is written then).
HRESULT BuildPkcs1SignatureBlock(const Pkcs1DigestInfo& info, const BYTE* digest, BYTE* block,
                                 DWORD k);

// Writes the k-byte type-2 block of `data` into `block`, with fresh random
// non-zero padding. 0; 0x80070057 for a null pointer (data may be null when
// dataLen is 0); 0x80090004 when dataLen exceeds k - kPkcs1Overhead;
// 0x80090020 when the generator fails (the block is wiped then).
HRESULT BuildPkcs1EncryptionBlock(const BYTE* data, DWORD dataLen, BYTE* block, DWORD k);

// Finds the data in a k-byte type-2 block: 00 02, at least
// kPkcs1MinPadding non-zero bytes, 00, then the data (which may be empty).
// On success *pDataOffset and *pDataLen give its place in `block`. 0;
// 0x80070057 for a null pointer; 0x80090003 (a bad key: what a private key
// that does not match makes of a ciphertext) for any malformed block, then
// nothing is written. The whole block is read whatever it holds, so the
// time taken does not tell where it went wrong.
HRESULT RemovePkcs1EncryptionBlock(const BYTE* block, DWORD k, DWORD* pDataOffset,
                                   DWORD* pDataLen);

}  // namespace merro::crypto
