// KeyHandle: construction, destruction and the algorithm table that sets a
// key object up for its ALG_ID.
#include "provider/key_handle.h"

#include <memory>
#include <new>

#include "foundation/alg_ids.h"
#include "foundation/secure_wipe.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/crypto_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "KeyHandle"

namespace merro::provider {
namespace {

// A field the row leaves as it is.
constexpr DWORD kKeep = 0xFFFFFFFF;
// What SymKeyFinal may write of a last block.
constexpr DWORD kFinalScratchBytes = 128;

// One row per ALG_ID the provider's keys can have. 1 and 2 stand for the
// RSA exchange and signature keys (CryptoAPI's AT_ values as ALG_IDs). The
// length of an RSA key comes from its caller, that of an SM2 key from its
// generation or the container's record.
struct AlgorithmRow {
  ALG_ID uGiven;
  ALG_ID uAlgID;
  DWORD dwKeySpec;
  DWORD dwKeyType;
  DWORD dwModulusBits;
  DWORD dwBlockBits;
  DWORD dwMode;
  DWORD dwIVBits;
};

constexpr AlgorithmRow kAlgorithms[] = {
    {AT_KEYEXCHANGE, CALG_RSA_KEYX, AT_KEYEXCHANGE, KEYSETALGORITHM_RSA, kKeep, kKeep, kKeep, kKeep},
    {AT_SIGNATURE, CALG_RSA_SIGN, AT_SIGNATURE, KEYSETALGORITHM_RSA, kKeep, kKeep, kKeep, kKeep},
    {CALG_RSA_SIGN, CALG_RSA_SIGN, AT_SIGNATURE, KEYSETALGORITHM_RSA, kKeep, kKeep, kKeep, kKeep},
    {CALG_RSA_KEYX, CALG_RSA_KEYX, AT_KEYEXCHANGE, KEYSETALGORITHM_RSA, kKeep, kKeep, kKeep, kKeep},
    {CALG_SM2_SIGN, CALG_SM2_SIGN, AT_SIGNATURE, KEYSETALGORITHM_SM2, kKeep, kKeep, kKeep, kKeep},
    {CALG_SM2_KEYX, CALG_SM2_KEYX, AT_KEYEXCHANGE, KEYSETALGORITHM_SM2, kKeep, kKeep, kKeep, kKeep},
    {CALG_DES, CALG_DES, kKeep, KEY_TYPE_SESSION, 64, 64, CRYPT_MODE_CBC, 64},
    {CALG_3DES_112, CALG_3DES_112, kKeep, KEY_TYPE_SESSION, 128, 64, CRYPT_MODE_CBC, 64},
    {CALG_3DES, CALG_3DES, kKeep, KEY_TYPE_SESSION, 192, 64, CRYPT_MODE_CBC, 64},
    {CALG_RC4, CALG_RC4, kKeep, KEY_TYPE_SESSION, 128, 8, 0, 0},
};

DWORD Pick(DWORD dwRowValue, DWORD dwCurrent) { return dwRowValue == kKeep ? dwCurrent : dwRowValue; }

}  // namespace

KeyHandle::KeyHandle() { MR_TRACE("KeyHandle::KeyHandle"); }

KeyHandle::~KeyHandle() {
  MR_TRACE("KeyHandle::~KeyHandle");
  SecretBytes::Release(m_stSymKey.pbData, m_stSymKey.cbData);
  m_stSymKey.cbData = 0;
  SecretBytes::Release(m_pbyIV, m_dwIVBits / 8);
  if (m_pEvpCtx != nullptr) {
    MR_LOG_STEP(L"SymKeyFinal", EndRunningCipher());
  }
}

HRESULT KeyHandle::EndRunningCipher() {
  if (m_pEvpCtx == nullptr) {
    return S_OK;
  }
  // The token API frees the context in Final, on every path, whatever it
  // answers; the last block goes into scratch memory that is wiped.
  BYTE abyScratch[kFinalScratchBytes] = {};
  DWORD dwScratchLength = sizeof abyScratch;
  const HRESULT hResult = ::SymKeyFinal(m_pEvpCtx, abyScratch, &dwScratchLength);
  SecureWipe(abyScratch, sizeof abyScratch);
  m_pEvpCtx = nullptr;
  return hResult;
}

HRESULT KeyHandle::InitKeyHandle(ALG_ID uAlgID, DWORD /*dwFlags*/) {
  MR_TRACE("KeyHandle::InitKeyHandle");
  const AlgorithmRow* pRow = nullptr;
  for (const AlgorithmRow& row : kAlgorithms) {
    if (row.uGiven == uAlgID) {
      pRow = &row;
      break;
    }
  }
  MR_FAIL_IF(pRow == nullptr, L"Unsupported algorithm", HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));

  const DWORD dwKeyType = pRow->dwKeyType;
  const DWORD dwModulusBits = Pick(pRow->dwModulusBits, m_dwModulusBits);
  const DWORD dwIVBits = Pick(pRow->dwIVBits, m_dwIVBits);
  // The new buffers first, so that running out of memory changes nothing.
  SecretBytes pbyIV;
  if (dwIVBits != 0) {
    pbyIV = SecretBytes::Zeroed(dwIVBits / 8);
    MR_FAIL_IF(!pbyIV, L"New buffer", E_OUTOFMEMORY);
  }
  SecretBytes pbyKey;
  const DWORD dwKeyBytes = dwModulusBits / 8;
  if (dwKeyType == KEY_TYPE_SESSION) {
    pbyKey = SecretBytes::Zeroed(dwKeyBytes);
    MR_FAIL_IF(!pbyKey, L"New buffer", E_OUTOFMEMORY);
  }

  m_uAlgID = pRow->uAlgID;
  m_dwKeySpec = Pick(pRow->dwKeySpec, m_dwKeySpec);
  m_dwKeyType = dwKeyType;
  m_dwModulusBits = dwModulusBits;
  m_dwBlockBits = Pick(pRow->dwBlockBits, m_dwBlockBits);
  m_dwMode = Pick(pRow->dwMode, m_dwMode);
  // An algorithm without an IV (RC4) keeps no stale one either.
  SecretBytes::Release(m_pbyIV, m_dwIVBits / 8);
  m_dwIVBits = dwIVBits;
  pbyIV.HandOut(&m_pbyIV);
  if (dwKeyType == KEY_TYPE_SESSION) {
    SecretBytes::Release(m_stSymKey.pbData, m_stSymKey.cbData);
    pbyKey.HandOut(&m_stSymKey.pbData, &m_stSymKey.cbData);
  }
  MR_LOG_STEP(L"InitKeyHandle");
  return S_OK;
}

}  // namespace merro::provider
