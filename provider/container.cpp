// Container: the object, its three factories, the synchronisation with the
// token, key-pair generation, the key information of a key specification,
// and the container's PIN check and change.
#include "provider/container.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "device/ui/user_interface.h"
#include "foundation/alg_ids.h"
#include "foundation/misc/guid_string.h"
#include "foundation/result.h"
#include "foundation/secure_wipe.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/pin_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Container"

namespace merro::provider {
namespace {

constexpr char kGeneratedNameSuffix[] = ".default";
// Tries the device object shows before it knows the token's count.
constexpr int kAssumedTries = 6;

// Copies at most nRoom - 1 bytes of a zero-terminated name and terminates
// the copy; a null name gives an empty one.
void CopyName(char* pszDest, size_t nRoom, const char* pszSource) {
  std::memset(pszDest, 0, nRoom);
  if (pszSource != nullptr) {
    std::memcpy(pszDest, pszSource, strnlen(pszSource, nRoom - 1));
  }
}

// A fresh "{GUID}.default" in pszName (kNameChars bytes).
HRESULT MakeGeneratedName(char* pszName) {
  UTF16CHAR wszGuid[kGUIDStringCapacity] = {};
  const HRESULT hResult = CreateGUIDString(wszGuid);
  if (FAILED(hResult)) {
    return hResult;
  }
  char szGuid[kGUIDStringCapacity] = {};
  if (::WideCharToMultiByte(CP_ACP, 0, wszGuid, -1, szGuid, sizeof szGuid, nullptr, nullptr) ==
      0) {
    return LastErrorResult();
  }
  std::snprintf(pszName, Container::kNameChars, "%s%s", szGuid, kGeneratedNameSuffix);
  return S_OK;
}

// A buffer the device object handed out (array new).
using DeviceBuffer = std::unique_ptr<char[]>;
using DeviceBytes = std::unique_ptr<BYTE[]>;

// The bits a key of that algorithm may have.
bool IsSupportedKeyBits(DWORD dwKeyAlg, DWORD dwKeyBits) {
  if (dwKeyAlg == Container::KEYSETALGORITHM_SM2) {
    return dwKeyBits == MR_SM2_KEY_BITS;
  }
  return dwKeyBits == 1024 || dwKeyBits == 2048;
}

}  // namespace

void ProtectedPIN::Replace(BYTE* pbyBlob, DWORD dwBlobLength) {
  merro::SecureWipe(pbyData.get(), dwLength);
  pbyData.reset(pbyBlob);
  dwLength = pbyBlob != nullptr ? dwBlobLength : 0;
}

Container::Container(const char* pszDeviceName, const char* pszContainerName, BOOL bAllowUI,
                     BOOL bMachineKeySet, BOOL bThirdFlag, BOOL bEphemeral)
    : m_bAllowUI(bAllowUI),
      m_bMachineKeySet(bMachineKeySet),
      m_bThirdFlag(bThirdFlag),
      m_bEphemeral(bEphemeral),
      m_uKeySetAlgorithm(0),
      m_hClientWnd(nullptr),
      m_stSignKey{AT_SIGNATURE, 0, 0},
      m_stExchKey{AT_KEYEXCHANGE, 0, 0} {
  CopyName(m_szContainerName, kNameChars, pszContainerName);
  CopyName(m_szDeviceName, kNameChars, pszDeviceName);
}

Container::~Container() {
  MR_TRACE("Container::~Container");
  // An ephemeral container's name was made for this handle, so a token
  // holds it only if the device object already lists it. Looking it up with
  // a fresh list would reopen and reset every token, and retire the token
  // contexts that the process's other handles are using.
  if (m_bEphemeral == TRUE && g_pDeviceHandle != nullptr &&
      g_pDeviceHandle->CheckContainerExist(m_szContainerName) == S_OK) {
    const HRESULT hResult = RemoveCertFromBrowser(m_szContainerName, m_bAllowUI, m_bMachineKeySet);
    if (FAILED(hResult)) {
      MR_LOG_FAIL(L"RemoveCertFromBrowser", L"FAILED(hResult)", hResult);
    }
  }
}

KeySlot* Container::SlotOf(DWORD dwKeySpec) {
  if (dwKeySpec == AT_SIGNATURE) {
    return &m_stSignKey;
  }
  return dwKeySpec == AT_KEYEXCHANGE ? &m_stExchKey : nullptr;
}

std::unique_ptr<Container> Container::CreateNewContainer(const char* szContainer, BOOL bAllowUI,
                                                         BOOL bMachineKeySet, BOOL bThirdFlag,
                                                         HRESULT* phResult) {
  MR_TRACE("Container::CreateNewContainer");
  HRESULT hIgnored = S_OK;
  HRESULT& hResult = phResult != nullptr ? *phResult : hIgnored;
  hResult = E_FAIL;
  if (g_pDeviceHandle == nullptr) {
    MR_LOG_FAIL(L"Check g_pDeviceHandle", L"g_pDeviceHandle == NULL", hResult);
    return nullptr;
  }

  char szName[kNameChars] = {};
  if (szContainer != nullptr) {
    // A name that does not fit is refused whole: a cut name would create a
    // container the caller never asked for.
    if (strnlen(szContainer, kNameChars) >= kNameChars) {
      hResult = E_INVALIDARG;
      MR_LOG_FAIL(L"Check szContainer", L"strlen(szContainer) >= MAX_PATH", hResult);
      return nullptr;
    }
    CopyName(szName, kNameChars, szContainer);
  } else {
    hResult = MakeGeneratedName(szName);
    if (FAILED(hResult)) {
      MR_LOG_FAIL(L"CreateGUIDString", L"FAILED(hResult)", hResult);
      return nullptr;
    }
  }

  char* pszDevName = nullptr;
  {
    // Without user interface neither the token selection nor the PIN dialog
    // may show: only the factory PIN can open the token then.
    const ui::SilentScope silent(bAllowUI);
    hResult = g_pDeviceHandle->MerroCreateContainer(szName, &pszDevName);
  }
  DeviceBuffer spDevName(pszDevName);
  if (hResult != S_OK) {
    hResult = HRESULT_FROM_TOKEN_ERROR(hResult);
    MR_LOG_FAIL(L"CreateContainer", L"hResult != S_OK", hResult);
    return nullptr;
  }
  MR_LOG_STEP(L"CreateContainer");

  std::unique_ptr<Container> spContainer(new (std::nothrow) Container(
      spDevName.get(), szName, bAllowUI, bMachineKeySet, bThirdFlag, FALSE));
  if (!spContainer) {
    hResult = E_OUTOFMEMORY;
    MR_LOG_FAIL(L"Create container object", L"KeyContainer == NULL", hResult);
    return nullptr;
  }
  hResult = S_OK;
  return spContainer;
}

std::unique_ptr<Container> Container::CreateRegisteredContainer(const char* szContainer,
                                                                BOOL bAllowUI,
                                                                BOOL bMachineKeySet) {
  MR_TRACE("Container::CreateRegisteredContainer");
  if (szContainer == nullptr) {
    MR_LOG_FAIL(L"Check parameter", L"szContainer == NULL", E_INVALIDARG);
    return nullptr;
  }
  if (g_pDeviceHandle == nullptr) {
    MR_LOG_FAIL(L"Check g_pDeviceHandle", L"g_pDeviceHandle == NULL", E_FAIL);
    return nullptr;
  }
  if (g_pDeviceHandle->UpdateContainer() != S_OK) {
    MR_LOG_FAIL(L"UpdateContainer", L"hResult != S_OK", NTE_BAD_KEYSET);
    return nullptr;
  }
  char* pszDevName = nullptr;
  const HRESULT hResult = g_pDeviceHandle->CheckContainerExist(szContainer, &pszDevName);
  DeviceBuffer spDevName(pszDevName);
  if (hResult != S_OK || !spDevName) {
    MR_LOG_FAIL(L"CreateRegisteredContainer CheckContainerExist", L"hResult != S_OK", NTE_NO_KEY);
    return nullptr;
  }

  std::unique_ptr<Container> spContainer(new (std::nothrow) Container(
      spDevName.get(), szContainer, bAllowUI, bMachineKeySet, TRUE, FALSE));
  if (!spContainer) {
    MR_LOG_FAIL(L"Create container object", L"KeyContainer == NULL", E_OUTOFMEMORY);
    return nullptr;
  }
  const HRESULT hSyn = spContainer->SynToContainer();
  if (FAILED(hSyn)) {
    MR_LOG_FAIL(L"SynToContainer", L"FAILED(hResult)", hSyn);
    return nullptr;
  }
  return spContainer;
}

std::unique_ptr<Container> Container::CreateEphemeralContainer(BOOL bAllowUI, BOOL bMachineKeySet,
                                                               BOOL bThirdFlag) {
  MR_TRACE("Container::CreateEphemeralContainer");
  if (g_pDeviceHandle == nullptr) {
    MR_LOG_FAIL(L"Check g_pDeviceHandle", L"g_pDeviceHandle == NULL", E_FAIL);
    return nullptr;
  }
  if (g_pDeviceHandle->CheckKeyInsert() != S_OK) {
    MR_LOG_FAIL(L"CheckKeyInsert", L"hResult != S_OK", NTE_NO_KEY);
    return nullptr;
  }
  char szName[kNameChars] = {};
  const HRESULT hResult = MakeGeneratedName(szName);
  if (FAILED(hResult)) {
    MR_LOG_FAIL(L"CreateGUIDString", L"FAILED(hResult)", hResult);
    return nullptr;
  }
  std::unique_ptr<Container> spContainer(
      new (std::nothrow) Container("", szName, bAllowUI, bMachineKeySet, bThirdFlag, TRUE));
  if (!spContainer) {
    MR_LOG_FAIL(L"Create container object", L"KeyContainer == NULL", E_OUTOFMEMORY);
  }
  return spContainer;
}

HRESULT Container::SynToContainer() {
  MR_TRACE("Container::SynToContainer");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  HRESULT hResult = g_pDeviceHandle->CheckContainerExist(m_szDeviceName, m_szContainerName);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", SCARD_E_NO_KEY_CONTAINER);

  DWORD dwKeyAlg = 0, dwSignBits = 0, dwExchBits = 0;
  hResult = g_pDeviceHandle->GetContainerInfo(m_szDeviceName, m_szContainerName, &dwKeyAlg,
                                              &dwSignBits, &dwExchBits);
  MR_FAIL_IF(hResult != S_OK, L"GetContainerInfo", HRESULT_FROM_TOKEN_ERROR(hResult));
  if (dwKeyAlg != 0) {
    m_uKeySetAlgorithm = dwKeyAlg;
    m_stSignKey = KeySlot{AT_SIGNATURE, dwKeyAlg, dwSignBits};
    m_stExchKey = KeySlot{AT_KEYEXCHANGE, dwKeyAlg, dwExchBits};
  }
  MR_LOG_STEP(L"SynToContainer");
  return S_OK;
}

HRESULT Container::CheckNewKeyPair(DWORD dwKeySpec, DWORD dwKeyAlg, DWORD dwKeyBits) const {
  MR_TRACE("Container::CheckNewKeyPair");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  MR_FAIL_IF((dwKeySpec != AT_SIGNATURE) && (dwKeySpec != AT_KEYEXCHANGE), L"Check dwKeySpec",
             E_INVALIDARG);
  MR_FAIL_IF((dwKeyAlg != Container::KEYSETALGORITHM_RSA) &&
                 (dwKeyAlg != Container::KEYSETALGORITHM_SM2),
             L"Check dwKeyAlg", E_INVALIDARG);
  // The token knows RSA-1024, RSA-2048 and SM2 only: any other length would
  // be stored under the wrong length code (RSA-256 as SM2).
  MR_FAIL_IF(!IsSupportedKeyBits(dwKeyAlg, dwKeyBits), L"Check dwKeyBits", E_INVALIDARG);
  MR_FAIL_IF(m_bEphemeral == TRUE, L"Check is Ephemeral", NTE_BAD_PROV_TYPE);
  HRESULT hResult = g_pDeviceHandle->CheckContainerExist(m_szDeviceName, m_szContainerName);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", SCARD_E_NO_KEY_CONTAINER);
  hResult = g_pDeviceHandle->CheckContainerTakesNewKey(m_szDeviceName, m_szContainerName);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerTakesNewKey", hResult);

  // The token's record has one algorithm for both slots: a pair of the other
  // family would overwrite it and lose the keys the container holds.
  BOOL bEmpty = FALSE;
  hResult = g_pDeviceHandle->IsContainerEmpty(m_szDeviceName, m_szContainerName, &bEmpty);
  MR_FAIL_IF(hResult != S_OK, L"IsContainerEmpty", NTE_BAD_KEY);
  if (bEmpty) {
    return S_OK;
  }
  DWORD dwHeldAlg = 0, dwSignBits = 0;
  hResult = g_pDeviceHandle->GetContainerInfo(m_szDeviceName, m_szContainerName, &dwHeldAlg,
                                              &dwSignBits, nullptr);
  MR_FAIL_IF(hResult != S_OK, L"GetContainerInfo", NTE_BAD_KEY);
  MR_FAIL_IF(dwHeldAlg != dwKeyAlg, L"Check the container's key-set algorithm", NTE_BAD_KEY);
  MR_FAIL_IF(m_uKeySetAlgorithm != 0 && m_uKeySetAlgorithm != dwKeyAlg,
             L"Check m_uKeySetAlgorithm", NTE_BAD_KEY);
  return S_OK;
}

HRESULT Container::GenerateKeyPair(DWORD dwKeySpec, DWORD dwKeyAlg, DWORD dwKeyBits) {
  MR_TRACE("Container::GenerateKeyPair");
  HRESULT hResult = CheckNewKeyPair(dwKeySpec, dwKeyAlg, dwKeyBits);
  if (hResult != S_OK) {
    return hResult;
  }
  hResult = g_pDeviceHandle->GenKeyPair(m_szDeviceName, m_szContainerName, dwKeySpec, dwKeyAlg,
                                        dwKeyBits);
  MR_FAIL_IF(hResult != S_OK, L"g_pDeviceHandle->GenerateKeyPair",
             HRESULT_FROM_TOKEN_ERROR(hResult));
  KeySlot* pSlot = SlotOf(dwKeySpec);
  pSlot->dwKeyAlg = dwKeyAlg;
  pSlot->dwKeyBits = dwKeyBits;
  MR_LOG_STEP(L"GenerateKeyPair");
  return S_OK;
}

HRESULT Container::GetContainerInfo(DWORD dwKeySpec, ALG_ID* puAlgID, DWORD* pdwKeyBits) {
  MR_TRACE("Container::GetContainerInfo");
  return KeyInfo(dwKeySpec, true, puAlgID, pdwKeyBits);
}

HRESULT Container::GetRecordedKeyInfo(DWORD dwKeySpec, ALG_ID* puAlgID, DWORD* pdwKeyBits) {
  MR_TRACE("Container::GetRecordedKeyInfo");
  return KeyInfo(dwKeySpec, false, puAlgID, pdwKeyBits);
}

HRESULT Container::KeyInfo(DWORD dwKeySpec, bool bAskToken, ALG_ID* puAlgID, DWORD* pdwKeyBits) {
  MR_TRACE("Container::KeyInfo");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  MR_FAIL_IF((dwKeySpec != AT_SIGNATURE) && (dwKeySpec != AT_KEYEXCHANGE), L"Check dwKeySpec",
             E_INVALIDARG);
  MR_FAIL_IF(puAlgID == NULL, L"Check puAlgID", E_INVALIDARG);
  MR_FAIL_IF(pdwKeyBits == NULL, L"Check pdwKeyBits", E_INVALIDARG);
  HRESULT hResult = g_pDeviceHandle->CheckContainerExist(m_szDeviceName, m_szContainerName);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", SCARD_E_NO_KEY_CONTAINER);

  // Whether the container holds a key of that specification at all.
  if (bAskToken) {
    BYTE* pbyXorN = nullptr;
    BYTE* pbyYorE = nullptr;
    DWORD dwXorNSize = 0, dwYorESize = 0;
    hResult = g_pDeviceHandle->ExportPubKey(m_szDeviceName, m_szContainerName, dwKeySpec, &pbyXorN,
                                            &dwXorNSize, &pbyYorE, &dwYorESize);
    DeviceBytes spXorN(pbyXorN), spYorE(pbyYorE);
    MR_FAIL_IF(hResult != S_OK, L"ExportPubKey", HRESULT_FROM_TOKEN_ERROR(hResult));
  } else {
    // The record's length code of the slot: 0 bits when it names no key.
    DWORD dwSlotBits = 0;
    hResult = g_pDeviceHandle->GetKeyLength(m_szDeviceName, m_szContainerName, dwKeySpec,
                                            &dwSlotBits);
    MR_FAIL_IF(hResult != S_OK, L"GetKeyLength", HRESULT_FROM_TOKEN_ERROR(hResult));
    MR_FAIL_IF(dwSlotBits == 0, L"Check the record holds the key", NTE_NO_KEY);
  }

  DWORD dwKeyAlg = 0, dwSignBits = 0, dwExchBits = 0;
  hResult = g_pDeviceHandle->GetContainerInfo(m_szDeviceName, m_szContainerName, &dwKeyAlg,
                                              &dwSignBits, &dwExchBits);
  MR_FAIL_IF(hResult != S_OK, L"GetContainerInfo", HRESULT_FROM_TOKEN_ERROR(hResult));
  MR_FAIL_IF((dwKeyAlg != KEYSETALGORITHM_RSA) && (dwKeyAlg != KEYSETALGORITHM_SM2),
             L"Check dwKeyAlg", E_INVALIDARG);
  const bool bSm2 = dwKeyAlg == KEYSETALGORITHM_SM2;
  if (dwKeySpec == AT_SIGNATURE) {
    *puAlgID = bSm2 ? CALG_SM2_SIGN : CALG_RSA_SIGN;
    *pdwKeyBits = dwSignBits;
  } else {
    *puAlgID = bSm2 ? CALG_SM2_KEYX : CALG_RSA_KEYX;
    *pdwKeyBits = dwExchBits;
  }
  return S_OK;
}

HRESULT Container::CheckPIN(const BYTE* pbyPIN, DWORD dwPINLength) {
  MR_TRACE("Container::CheckPIN");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  const HRESULT hResult =
      g_pDeviceHandle->CheckPIN(m_szDeviceName, MR_PIN_USER, reinterpret_cast<const char*>(pbyPIN),
                                dwPINLength, kAssumedTries, 0);
  MR_FAIL_IF(hResult != S_OK, L"g_pDeviceHandle->CheckPIN", HRESULT_FROM_TOKEN_ERROR(hResult));
  return S_OK;
}

HRESULT Container::ChangePIN(const BYTE* pbyOldPIN, DWORD dwOldPINLength, const BYTE* pbyNewPIN,
                             DWORD dwNewPINLength) {
  MR_TRACE("Container::ChangePIN");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  HRESULT hResult = g_pDeviceHandle->CheckDeviceExist(m_szDeviceName);
  MR_FAIL_IF(hResult != S_OK, L"CheckDeviceExist", NTE_BAD_KEYSET);
  hResult = g_pDeviceHandle->ModifyPIN(
      m_szDeviceName, MR_PIN_USER, reinterpret_cast<const char*>(pbyOldPIN), dwOldPINLength,
      reinterpret_cast<const char*>(pbyNewPIN), dwNewPINLength, kAssumedTries, 0);
  MR_FAIL_IF(hResult != S_OK, L"g_pDeviceHandle->ChangePIN", HRESULT_FROM_TOKEN_ERROR(hResult));
  return S_OK;
}

}  // namespace merro::provider
