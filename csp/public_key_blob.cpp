#include "csp/public_key_blob.h"

#include <cstring>
#include <utility>

#include "foundation/alg_ids.h"
#include "foundation/misc/byte_order.h"

namespace merro::csp {
namespace {

constexpr DWORD kBlobHeaderSize = 8;
constexpr DWORD kSm2CoordinateSize = 32;
// "RSA1", the magic of an RSA public key.
constexpr DWORD kRsaPublicMagic = 0x31415352;
constexpr DWORD kRsaFieldsSize = 12;  // magic, bit length, exponent

void PutDword(BYTE* pbyAt, DWORD dwValue) {
  for (int i = 0; i < 4; ++i) {
    pbyAt[i] = static_cast<BYTE>(dwValue >> (8 * i));
  }
}

// Writes a most-significant-first number, its leading zeros dropped, least
// significant byte first into a zeroed field of dwField bytes. False when it
// does not fit.
bool PutNumber(BYTE* pbyField, DWORD dwField, const BYTE* pbyNumber, DWORD dwSize) {
  while (dwSize > 0 && *pbyNumber == 0) {
    ++pbyNumber;
    --dwSize;
  }
  if (dwSize > dwField) {
    return false;
  }
  if (dwSize != 0) {
    std::memcpy(pbyField, pbyNumber, dwSize);
  }
  SwapByteOrder(pbyField, dwSize);
  return true;
}

}  // namespace

DWORD PublicKeyBlobSize(DWORD dwKeyType, DWORD dwModulusBits) {
  return dwKeyType == KEYSETALGORITHM_RSA ? dwModulusBits / 8 + kBlobHeaderSize + kRsaFieldsSize
                                          : kSm2PublicKeyBlobSize;
}

HRESULT BuildPublicKeyBlob(ALG_ID uAlgID, DWORD dwKeyType, DWORD dwModulusBits, const BYTE* pbyXorN,
                           DWORD dwXorNSize, const BYTE* pbyYorE, DWORD dwYorESize,
                           std::vector<BYTE>* pBlob) {
  std::vector<BYTE> blob(PublicKeyBlobSize(dwKeyType, dwModulusBits), 0);
  BYTE* const p = blob.data();
  p[0] = PUBLICKEYBLOB;
  p[1] = CUR_BLOB_VERSION;
  PutDword(p + 4, uAlgID);
  if (dwKeyType == KEYSETALGORITHM_RSA) {
    PutDword(p + 8, kRsaPublicMagic);
    PutDword(p + 12, dwModulusBits);
    // The token's own exponent: keys imported from elsewhere need not have
    // 65537.
    if (!PutNumber(p + 16, 4, pbyYorE, dwYorESize) ||
        !PutNumber(p + kBlobHeaderSize + kRsaFieldsSize, dwModulusBits / 8, pbyXorN, dwXorNSize)) {
      return NTE_BAD_KEY;
    }
  } else {
    PutDword(p + 8, MR_SM2_KEY_BITS);
    BYTE* const pbyX = p + 12;
    BYTE* const pbyY = pbyX + 2 * kSm2CoordinateSize;
    if (!PutNumber(pbyX, kSm2CoordinateSize, pbyXorN, dwXorNSize) ||
        !PutNumber(pbyY, kSm2CoordinateSize, pbyYorE, dwYorESize)) {
      return NTE_BAD_KEY;
    }
  }
  *pBlob = std::move(blob);
  return S_OK;
}

}  // namespace merro::csp
