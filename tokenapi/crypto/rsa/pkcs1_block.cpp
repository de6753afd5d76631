#include "tokenapi/crypto/rsa/pkcs1_block.h"

#include <cstdint>
#include <cstring>

#include "foundation/alg_ids.h"
#include "foundation/secure_wipe.h"
#include "tokenapi/crypto/common/result_codes.h"
#include "tokenapi/crypto/random/soft_random.h"

namespace merro::crypto {
namespace {

// The DER DigestInfo prefixes of RFC 8017, 9.2, note 1.
constexpr BYTE kMd5Prefix[] = {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48,
                               0x86, 0xf7, 0x0d, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
constexpr BYTE kSha1Prefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
constexpr BYTE kSha256Prefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                  0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
constexpr BYTE kSha512Prefix[] = {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                  0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};

constexpr Pkcs1DigestInfo kDigestInfos[] = {
    {MR_ALG_MD5, kMd5Prefix, sizeof(kMd5Prefix), 16},
    {MR_ALG_SHA1, kSha1Prefix, sizeof(kSha1Prefix), 20},
    {MR_ALG_SHA256, kSha256Prefix, sizeof(kSha256Prefix), 32},
    {MR_ALG_SHA512, kSha512Prefix, sizeof(kSha512Prefix), 64},
    {MR_ALG_SHA1_MD5, nullptr, 0, 36},  // SSL3: SHA-1 then MD5, signed bare
};

// All ones when v is 0, else 0; no branch on v.
std::uint32_t ZeroMask(std::uint32_t v) { return ((v | (0u - v)) >> 31) - 1u; }
// All ones when a < b (both below 2^31), else 0.
std::uint32_t LessMask(std::uint32_t a, std::uint32_t b) { return 0u - ((a - b) >> 31); }

}  // namespace

const Pkcs1DigestInfo* FindPkcs1DigestInfo(DWORD dwHashType) {
  for (const Pkcs1DigestInfo& info : kDigestInfos) {
    if (info.byHashType == dwHashType) {
      return &info;
    }
  }
  return nullptr;
}

HRESULT BuildPkcs1SignatureBlock(const Pkcs1DigestInfo& info, const BYTE* digest, BYTE* block,
                                 DWORD k) {
  if (digest == nullptr || block == nullptr) {
    return kResultInvalidArg;
  }
  if (k < Pkcs1SignatureBlockMin(info)) {
    return kResultBadLength;
  }
  const DWORD tailLen = info.dwPrefixLen + info.dwDigestLen;
  block[0] = 0x00;
  block[1] = 0x01;
  std::memset(block + 2, 0xFF, k - 3 - tailLen);
  block[k - tailLen - 1] = 0x00;
  if (info.dwPrefixLen != 0) {
    std::memcpy(block + k - tailLen, info.pPrefix, info.dwPrefixLen);
  }
  std::memcpy(block + k - info.dwDigestLen, digest, info.dwDigestLen);
  return S_OK;
}

HRESULT BuildPkcs1EncryptionBlock(const BYTE* data, DWORD dataLen, BYTE* block, DWORD k) {
  if ((data == nullptr && dataLen != 0) || block == nullptr) {
    return kResultInvalidArg;
  }
  if (k < kPkcs1Overhead || dataLen > k - kPkcs1Overhead) {
    return kResultBadLength;
  }
  const DWORD psLen = k - dataLen - 3;
  block[0] = 0x00;
  block[1] = 0x02;
  // GenSoftRandom draws no zero byte: the first zero after the padding is
  // the separator.
  const HRESULT hr = GenSoftRandom(psLen, block + 2);
  if (hr != S_OK) {
    SecureWipe(block, k);
    return hr;
  }
  block[2 + psLen] = 0x00;
  if (dataLen != 0) {
    std::memcpy(block + k - dataLen, data, dataLen);
  }
  return S_OK;
}

HRESULT RemovePkcs1EncryptionBlock(const BYTE* block, DWORD k, DWORD* pDataOffset,
                                   DWORD* pDataLen) {
  if (block == nullptr || pDataOffset == nullptr || pDataLen == nullptr) {
    return kResultInvalidArg;
  }
  // The modulus length is public; the block's contents are not.
  if (k < kPkcs1Overhead || k > 0x7FFFFFFFu) {
    return kResultBadKey;
  }
  std::uint32_t good = ZeroMask(block[0]) & ZeroMask(block[1] ^ 0x02u);
  std::uint32_t found = 0;
  std::uint32_t separator = 0;
  for (DWORD i = 2; i < k; ++i) {
    const std::uint32_t isZero = ZeroMask(block[i]);
    separator |= ~found & isZero & i;
    found |= isZero;
  }
  good &= found;
  good &= ~LessMask(separator, 2 + kPkcs1MinPadding);
  if (good == 0) {
    return kResultBadKey;
  }
  *pDataOffset = separator + 1;
  *pDataLen = k - separator - 1;
  return S_OK;
}

}  // namespace merro::crypto
