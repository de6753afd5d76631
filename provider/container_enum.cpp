// Container: the provider's algorithm table and the three enumerations
// (PP_ENUMALGS, PP_ENUMALGS_EX, PP_ENUMCONTAINERS). Their cursors are
// members of the device object, shared by every provider handle of the
// process; only a call with exactly CRYPT_FIRST restarts one.
#include <climits>
#include <cstring>

#include "provider/container.h"
#include "provider/container_algorithms.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Container"

namespace merro::provider {

const ProvAlgorithm stProvAlgsTable[kProvAlgorithmCount] = {
    {CALG_RC2, "RC2", 128, 40, 128, 0, "RSA Data Security's RC2"},
    {CALG_RC4, "RC4", 128, 40, 128, 0, "RSA Data Security's RC4"},
    {CALG_DES, "DES", 56, 56, 56, 0, "Data Encryption Standard (DES)"},
    {CALG_3DES_112, "3DES TWO KEY", 112, 112, 112, 0, "Two Key Triple DES"},
    {CALG_3DES, "3DES", 168, 168, 168, 0, "Three Key Triple DES"},
    {CALG_SHA1, "SHA-1", 160, 160, 160, CRYPT_FLAG_SIGNING, "Secure Hash Algorithm (SHA-1)"},
    {CALG_MD2, "MD2", 128, 128, 128, CRYPT_FLAG_SIGNING, "Message Digest 2 (MD2)"},
    {CALG_MD4, "MD4", 128, 128, 128, CRYPT_FLAG_SIGNING, "Message Digest 4 (MD4)"},
    {CALG_MD5, "MD5", 128, 128, 128, CRYPT_FLAG_SIGNING, "Message Digest 5 (MD5)"},
    {CALG_SSL3_SHAMD5, "SSL3 SHAMD5", 288, 288, 288, 0, "SSL3 SHAMD5"},
    {CALG_MAC, "MAC", 0, 0, 0, 0, "Message Authentication Code"},
    {CALG_RSA_SIGN, "RSA_SIGN", 1024, 384, 16384, CRYPT_FLAG_IPSEC | CRYPT_FLAG_SIGNING,
     "RSA Signature"},
    {CALG_RSA_KEYX, "RSA_KEYX", 1024, 384, 16384, CRYPT_FLAG_IPSEC | CRYPT_FLAG_SIGNING,
     "RSA Key Exchange"},
    {CALG_HMAC, "HMAC", 0, 0, 0, 0, "Kavro's MAC (HMAC)"},
};

namespace {

// Copies a text into a fixed field (zero-filled) and gives its length with
// the terminator.
template <size_t N>
DWORD FillName(CHAR (&szField)[N], const char* pszText) {
  std::memset(szField, 0, N);
  const size_t nLength = strnlen(pszText, N - 1);
  std::memcpy(szField, pszText, nLength);
  return static_cast<DWORD>(nLength + 1);
}

PROV_ENUMALGS ToEnumAlgs(const ProvAlgorithm& stRow) {
  PROV_ENUMALGS stRecord = {};
  stRecord.aiAlgid = stRow.uAlgID;
  stRecord.dwBitLen = stRow.dwDefaultLen;
  stRecord.dwNameLen = FillName(stRecord.szName, stRow.pszName);
  return stRecord;
}

PROV_ENUMALGS_EX ToEnumAlgsEx(const ProvAlgorithm& stRow) {
  PROV_ENUMALGS_EX stRecord = {};
  stRecord.aiAlgid = stRow.uAlgID;
  stRecord.dwDefaultLen = stRow.dwDefaultLen;
  stRecord.dwMinLen = stRow.dwMinLen;
  stRecord.dwMaxLen = stRow.dwMaxLen;
  stRecord.dwProtocols = stRow.dwProtocols;
  stRecord.dwNameLen = FillName(stRecord.szName, stRow.pszName);
  stRecord.dwLongNameLen = FillName(stRecord.szLongName, stRow.pszLongName);
  return stRecord;
}

// Moves an algorithm cursor: CRYPT_FIRST restarts it, any other flags move
// it on by one. It stops at INT_MAX rather than wrapping into negative rows.
// Whether it now stands on a row.
bool MoveAlgorithmCursor(int* pnCursor, DWORD dwFlags) {
  if (dwFlags == CRYPT_FIRST) {
    *pnCursor = 0;
  } else if (*pnCursor < INT_MAX) {
    ++*pnCursor;
  }
  return *pnCursor >= 0 && *pnCursor < static_cast<int>(kProvAlgorithmCount);
}

// The container name of a list item: at most the record's 64 bytes.
size_t ItemNameLength(const merro::device::ContainerItem& stItem) {
  return stItem.pstContainer() != nullptr
             ? strnlen(stItem.pstContainer()->szContainerName,
                       sizeof stItem.pstContainer()->szContainerName)
             : 0;
}

// One step of an algorithm enumeration: the record of the row the cursor
// moves to, written as Record (PROV_ENUMALGS or PROV_ENUMALGS_EX).
template <typename Record, Record (*ToRecord)(const ProvAlgorithm&)>
HRESULT EnumAlgorithmRows(const char* function, int* pnCursor, BYTE* pbData, DWORD* pdwDataLen,
                          DWORD dwFlags) {
  MR_TRACE_UNDER(function);
  MR_FAIL_IF(pdwDataLen == NULL, L"Check pdwDataLen", E_INVALIDARG);
  MR_FAIL_IF(pbData != NULL && *pdwDataLen < sizeof(Record), L"Check buffer size",
             HRESULT_FROM_WIN32(ERROR_MORE_DATA));
  MR_FAIL_IF(!MoveAlgorithmCursor(pnCursor, dwFlags), L"Check algorithm index",
             HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS));
  if (pbData != nullptr) {
    const Record stRecord = ToRecord(stProvAlgsTable[*pnCursor]);
    std::memcpy(pbData, &stRecord, sizeof stRecord);
  }
  *pdwDataLen = sizeof(Record);
  return S_OK;
}

}  // namespace

HRESULT Container::EnumAlgorithm(BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
  MR_TRACE("Container::EnumAlgorithm");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", NTE_BAD_KEYSET);
  return EnumAlgorithmRows<PROV_ENUMALGS, ToEnumAlgs>(
      MR_TRACE_FUNCTION, &g_pDeviceHandle->m_nCurrentEnumAlgIndex, pbData, pdwDataLen, dwFlags);
}

HRESULT Container::EnumAlgorithmEx(BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
  MR_TRACE("Container::EnumAlgorithmEx");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", NTE_BAD_KEYSET);
  return EnumAlgorithmRows<PROV_ENUMALGS_EX, ToEnumAlgsEx>(
      MR_TRACE_FUNCTION, &g_pDeviceHandle->m_nCurrentEnumAlgExIndex, pbData, pdwDataLen, dwFlags);
}

HRESULT Container::EnumContainerName(BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
  MR_TRACE("Container::EnumContainerName");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", NTE_BAD_KEYSET);
  MR_FAIL_IF(pdwDataLen == NULL, L"Check pdwNameLen", E_INVALIDARG);
  const std::vector<merro::device::ContainerItem>& vecItems = g_pDeviceHandle->m_vtrContainerSet;
  int& nCursor = g_pDeviceHandle->m_nCurrentEnumContainerIndex;
  const long long llCount = static_cast<long long>(vecItems.size());
  if (dwFlags == CRYPT_FIRST) {
    MR_FAIL_IF(llCount <= 0, L"Check m_vtrContainerSet.size() > 0",
               HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS));
    nCursor = 0;
  } else {
    // In 64 bits: the cursor plus one cannot wrap.
    MR_FAIL_IF(static_cast<long long>(nCursor) + 1 >= llCount || nCursor < -1,
               L"m_nCurrentEnumContainerIndex + 1 >= m_vtrContainerSet.size()",
               HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS));
    ++nCursor;
  }

  const merro::device::ContainerItem& stItem = vecItems[static_cast<size_t>(nCursor)];
  const size_t nNameLength = ItemNameLength(stItem);
  if (pbData != nullptr) {
    MR_FAIL_IF(*pdwDataLen <= nNameLength, L"Check container name length",
               HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
    if (nNameLength != 0) {
      std::memcpy(pbData, stItem.pstContainer()->szContainerName, nNameLength);
    }
    pbData[nNameLength] = 0;
  }
  size_t nLongest = 0;
  for (const merro::device::ContainerItem& stOther : vecItems) {
    const size_t nLength = ItemNameLength(stOther);
    nLongest = nLength > nLongest ? nLength : nLongest;
  }
  *pdwDataLen = static_cast<DWORD>(nLongest + 1);
  return S_OK;
}

}  // namespace merro::provider
