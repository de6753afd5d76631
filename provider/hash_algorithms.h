// The digests a HashHandle computes: their CryptoAPI identifiers, lengths,
// the token API's hash types and where they run.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "foundation/alg_ids.h"

namespace merro::provider {

struct HashAlgorithm {
  ALG_ID uAlgID;
  DWORD dwHashLen;
  BYTE byTokenType;  // the token API's hash type
  bool bOnToken;     // hashed inside the token on the container key's context
};

inline constexpr HashAlgorithm kHashAlgorithms[] = {
    {CALG_MD5, 16, MR_ALG_MD5, false},
    {CALG_SHA1, 20, MR_ALG_SHA1, false},
    {CALG_SSL3_SHAMD5, 36, MR_ALG_SHA1_MD5, false},  // SHA-1 then MD5
    {CALG_SHA_256, 32, MR_ALG_SHA256, false},
    {CALG_SM3, 32, MR_ALG_SM3, true},
};

// The row of uAlgID, or null: any other digest (SHA-512, MD2, MD4, MAC,
// HMAC, ...) is not offered.
inline const HashAlgorithm* FindHashAlgorithm(ALG_ID uAlgID) {
  for (const HashAlgorithm& row : kHashAlgorithms) {
    if (row.uAlgID == uAlgID) {
      return &row;
    }
  }
  return nullptr;
}

}  // namespace merro::provider
