// The provider's algorithm table: the 14 algorithms that PP_ENUMALGS and
// PP_ENUMALGS_EX report, in their order. (The SM2, SM3 and SM4 algorithms
// and SHA-256 are accepted elsewhere but not listed.)
#pragma once

#include <windows.h>
#include <wincrypt.h>

namespace merro::provider {

struct ProvAlgorithm {
  ALG_ID uAlgID;
  const char* pszName;      // at most 19 characters (PROV_ENUMALGS::szName)
  DWORD dwDefaultLen;       // also PROV_ENUMALGS::dwBitLen
  DWORD dwMinLen;
  DWORD dwMaxLen;
  DWORD dwProtocols;
  const char* pszLongName;  // at most 39 characters
};

inline constexpr size_t kProvAlgorithmCount = 14;
extern const ProvAlgorithm stProvAlgsTable[kProvAlgorithmCount];

}  // namespace merro::provider
