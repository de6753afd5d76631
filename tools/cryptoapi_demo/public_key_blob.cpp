#include "tools/cryptoapi_demo/public_key_blob.h"

#include <algorithm>

namespace merro::demo {
namespace {

constexpr std::uint8_t kPublicKeyBlob = 6;
constexpr std::uint8_t kBlobVersion = 2;
constexpr std::size_t kHeaderSize = 8;
constexpr std::uint32_t kRsaMagic = 0x31415352;  // "RSA1"
constexpr std::size_t kRsaFixedSize = kHeaderSize + 12;
constexpr std::uint32_t kSm2Bits = 256;
constexpr std::size_t kSm2Coordinate = 32;
constexpr std::size_t kSm2BlobSize = kHeaderSize + 4 + 4 * kSm2Coordinate;
// The ALG_ID class and type bits of the two key kinds (signature or
// exchange class alike).
constexpr std::uint32_t kAlgTypeMask = 0x1E00;
constexpr std::uint32_t kRsaAlgType = 0x0400;
constexpr std::uint32_t kSm2AlgType = 0x1E00;

std::uint32_t LittleEndian32(const Bytes& blob, std::size_t at) {
  return static_cast<std::uint32_t>(blob[at]) | static_cast<std::uint32_t>(blob[at + 1]) << 8 |
         static_cast<std::uint32_t>(blob[at + 2]) << 16 |
         static_cast<std::uint32_t>(blob[at + 3]) << 24;
}

// `length` little-endian bytes from `at`, most significant first.
Bytes BigEndian(const Bytes& blob, std::size_t at, std::size_t length) {
  Bytes value(blob.begin() + static_cast<std::ptrdiff_t>(at),
              blob.begin() + static_cast<std::ptrdiff_t>(at + length));
  std::reverse(value.begin(), value.end());
  return value;
}

bool Fail(std::string* pWhy, const std::string& why) {
  *pWhy = why;
  return false;
}

bool ReadRsa(const Bytes& blob, PublicKey* pKey, std::string* pWhy) {
  if (blob.size() < kRsaFixedSize || LittleEndian32(blob, kHeaderSize) != kRsaMagic) {
    return Fail(pWhy, "no \"RSA1\" public key");
  }
  pKey->bits = LittleEndian32(blob, kHeaderSize + 4);
  if (pKey->bits == 0 || pKey->bits % 8 != 0 || blob.size() != kRsaFixedSize + pKey->bits / 8) {
    return Fail(pWhy, std::to_string(blob.size()) + " bytes for a " + std::to_string(pKey->bits) +
                          "-bit modulus");
  }
  pKey->n = BigEndian(blob, kRsaFixedSize, pKey->bits / 8);
  const std::uint32_t exponent = LittleEndian32(blob, kHeaderSize + 8);
  if (exponent == 0) {
    return Fail(pWhy, "public exponent 0");
  }
  pKey->e.clear();
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto byte = static_cast<std::uint8_t>(exponent >> shift);
    if (byte != 0 || !pKey->e.empty()) {
      pKey->e.push_back(byte);
    }
  }
  pKey->kind = PublicKey::Kind::Rsa;
  return true;
}

bool ReadSm2(const Bytes& blob, PublicKey* pKey, std::string* pWhy) {
  if (blob.size() != kSm2BlobSize) {
    return Fail(pWhy, std::to_string(blob.size()) + " bytes for an SM2 key, not " +
                          std::to_string(kSm2BlobSize));
  }
  pKey->bits = LittleEndian32(blob, kHeaderSize);
  if (pKey->bits != kSm2Bits) {
    return Fail(pWhy, "SM2 bit length " + std::to_string(pKey->bits));
  }
  const std::size_t x = kHeaderSize + 4;
  const std::size_t y = x + 2 * kSm2Coordinate;
  const auto zero = [&blob](std::size_t at) {
    return std::all_of(blob.begin() + static_cast<std::ptrdiff_t>(at),
                       blob.begin() + static_cast<std::ptrdiff_t>(at + kSm2Coordinate),
                       [](std::uint8_t b) { return b == 0; });
  };
  if (!zero(x + kSm2Coordinate) || !zero(y + kSm2Coordinate)) {
    return Fail(pWhy, "SM2 coordinates wider than 32 bytes");
  }
  pKey->xy = BigEndian(blob, x, kSm2Coordinate);
  const Bytes yValue = BigEndian(blob, y, kSm2Coordinate);
  pKey->xy.insert(pKey->xy.end(), yValue.begin(), yValue.end());
  pKey->kind = PublicKey::Kind::Sm2;
  return true;
}

}  // namespace

bool ReadPublicKeyBlob(const Bytes& blob, PublicKey* pKey, std::string* pWhy) {
  if (blob.size() < kHeaderSize || blob[0] != kPublicKeyBlob || blob[1] != kBlobVersion) {
    return Fail(pWhy, "no PUBLICKEYBLOB header");
  }
  pKey->algId = LittleEndian32(blob, 4);
  switch (pKey->algId & kAlgTypeMask) {
    case kRsaAlgType:
      return ReadRsa(blob, pKey, pWhy);
    case kSm2AlgType:
      return ReadSm2(blob, pKey, pWhy);
    default:
      return Fail(pWhy, "key algorithm " + std::to_string(pKey->algId));
  }
}

}  // namespace merro::demo
