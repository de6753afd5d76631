// The PUBLICKEYBLOB the provider exports for a container key, built from
// the two public-key parts as the token gives them (most significant byte
// first). All numbers in the blob are little-endian.
//
// SM2 (140 bytes): BLOBHEADER, bit length 256, X, 32 zero bytes, Y, 32 zero
// bytes. RSA (modulus bytes + 20): BLOBHEADER, "RSA1", bit length, public
// exponent, modulus.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <vector>

namespace merro::csp {

constexpr DWORD kSm2PublicKeyBlobSize = 140;

// The blob's size for a key of that type (Container::KEYSETALGORITHM_RSA
// counts as RSA, any other type as SM2) and length.
DWORD PublicKeyBlobSize(DWORD dwKeyType, DWORD dwModulusBits);

// The blob of a key with that ALG_ID, type and length: for SM2 the parts are
// X and Y, for RSA the modulus and the public exponent. Leading zero bytes
// of a part do not count. NTE_BAD_KEY when a part does not fit its field:
// a coordinate longer than 32 bytes, a modulus longer than the key's length,
// an exponent wider than 4 bytes.
HRESULT BuildPublicKeyBlob(ALG_ID uAlgID, DWORD dwKeyType, DWORD dwModulusBits, const BYTE* pbyXorN,
                           DWORD dwXorNSize, const BYTE* pbyYorE, DWORD dwYorESize,
                           std::vector<BYTE>* pBlob);

}  // namespace merro::csp
