#include "foundation/misc/key_type.h"

#include "foundation/trace/trace.h"
#include "foundation/container_record.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "FunctionInterface"

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kNoKey = static_cast<HRESULT>(0x8009000D);  // NTE_NO_KEY

constexpr KeyLengthCode kKeyLengthCodes[] = {
    {0x00, MR_ALG_SM2, 256},
    {0x01, MR_ALG_RSA1024, 1024},
    {0x02, MR_ALG_RSA2048, 2048},
};

struct HashMapping {
  ALG_ID algId;
  BYTE byHashType;
};
constexpr HashMapping kHashTypes[] = {
    {CALG_MD5, MR_ALG_MD5},
    {CALG_SHA1, MR_ALG_SHA1},
    {CALG_SHA_256, MR_ALG_SHA256},
    {CALG_SSL3_SHAMD5, MR_ALG_SHA1_MD5},
    {CALG_SM3, MR_ALG_SM3},
};

}  // namespace

const KeyLengthCode* FindKeyLengthCode(BYTE byCode) {
  for (const KeyLengthCode& code : kKeyLengthCodes) {
    if (code.byCode == byCode) {
      return &code;
    }
  }
  return nullptr;
}

const KeyLengthCode* FindKeyLengthCodeForBits(DWORD dwKeyBits) {
  for (const KeyLengthCode& code : kKeyLengthCodes) {
    if (code.dwKeyBits == dwKeyBits) {
      return &code;
    }
  }
  return nullptr;
}

HRESULT GetKeyType(const CONTAINER_RECORD* pstContainer, DWORD dwAlgType, BYTE* pbyKeyType,
                   DWORD* pdwKeyBits) {
  MR_TRACE("GetKeyType");
  MR_FAIL_IF(pstContainer == NULL, L"Check pstContainer", kBadArgument);
  MR_FAIL_IF(dwAlgType != AT_SIGNATURE && dwAlgType != AT_KEYEXCHANGE, L"Check dwAlgType",
             kBadArgument);
  MR_FAIL_IF(pbyKeyType == NULL, L"Check pbyKeyType", kBadArgument);

  const BYTE byKeyLength =
      dwAlgType == AT_SIGNATURE ? pstContainer->SignKeyLen : pstContainer->ExchKeyLen;
  if (const KeyLengthCode* code = FindKeyLengthCode(byKeyLength)) {
    *pbyKeyType = code->byKeyType;
    if (pdwKeyBits != nullptr) {
      *pdwKeyBits = code->dwKeyBits;
    }
    return S_OK;
  }
  MR_LOG_FAIL(L"Check byKeyLength", L"TRUE", kNoKey);
  return kNoKey;
}

HRESULT GetKeyHashType(ALG_ID ulHashAlg, BYTE* pbyHashType) {
  MR_TRACE("GetKeyHashType");
  MR_FAIL_IF(pbyHashType == NULL, L"Check pbyHashType", kBadArgument);
  for (const HashMapping& m : kHashTypes) {
    if (m.algId == ulHashAlg) {
      *pbyHashType = m.byHashType;
      return S_OK;
    }
  }
  MR_LOG_FAIL(L"Check ulHashAlg", L"true", kBadArgument);
  return kBadArgument;
}
