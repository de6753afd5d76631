// Container: the provider parameters other than the enumerations (names,
// fixed values, the key-set security descriptor), the client window and PIN
// prompt, and the rule by which a container's key-set algorithm is set.
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "provider/container.h"
#include "foundation/misc/text_convert.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Container"

namespace merro::provider {
namespace {

constexpr DWORD kImplementType = CRYPT_IMPL_HARDWARE;
constexpr DWORD kCSPVersion = 0x300;
constexpr DWORD kKeySpecs = AT_KEYEXCHANGE | AT_SIGNATURE;
constexpr DWORD kKeysToRage = 1;

// Writes a 32-bit value when the buffer holds it; the length is always 4.
void PutFixedValue(DWORD dwValue, BYTE* pbData, DWORD* pdwDataLen) {
  if (pdwDataLen == nullptr) {
    return;
  }
  if (pbData != nullptr && *pdwDataLen >= sizeof(DWORD)) {
    std::memcpy(pbData, &dwValue, sizeof dwValue);
  }
  *pdwDataLen = sizeof(DWORD);
}

// Writes a text with its terminator when the buffer holds both; the length
// is always the text's bytes plus one.
void PutText(const char* pszText, size_t nLength, BYTE* pbData, DWORD* pdwDataLen) {
  if (pdwDataLen == nullptr) {
    return;
  }
  const DWORD dwNeeded = static_cast<DWORD>(nLength + 1);
  if (pbData != nullptr && *pdwDataLen >= dwNeeded) {
    std::memcpy(pbData, pszText, nLength);
    pbData[nLength] = 0;
  }
  *pdwDataLen = dwNeeded;
}

}  // namespace

void Container::GetCSPName(BYTE* pbData, DWORD* pdwDataLen) {
  MR_TRACE("Container::GetCSPName");
  const wchar_t* pwszName =
      g_pDeviceHandle != nullptr && g_pDeviceHandle->m_wszProviderName[0] != L'\0'
          ? g_pDeviceHandle->m_wszProviderName
          : MR_PROVIDER_NAME;
  // The room is counted in the UTF-8 bytes that are written, not in UTF-16
  // characters: a name outside ASCII takes more bytes than characters.
  std::string strName;
  if (FAILED(UTF16ToUTF8Text(pwszName, &strName))) {
    MR_LOG_FAIL(L"UTF16ToUTF8", L"FAILED(hResult)", E_OUTOFMEMORY);
    return;
  }
  PutText(strName.c_str(), strName.size(), pbData, pdwDataLen);
}

void Container::GetContainerName(BYTE* pbData, DWORD* pdwDataLen) const {
  PutText(m_szContainerName, strnlen(m_szContainerName, kNameChars - 1), pbData, pdwDataLen);
}

void Container::GetDeviceName(BYTE* pbData, DWORD* pdwDataLen) const {
  PutText(m_szDeviceName, strnlen(m_szDeviceName, kNameChars - 1), pbData, pdwDataLen);
}

HRESULT Container::GetKeysetSecurityDescriptor(BYTE* pbData, DWORD* pdwDataLen) {
  MR_TRACE("Container::GetKeysetSecurityDescriptor");
  MR_FAIL_IF(pdwDataLen == NULL, L"Check pdwDescriptorSize", E_INVALIDARG);
  const BYTE* pstSecurityDescriptor = pbData;
  DWORD* pdwDescriptorSize = pdwDataLen;
  MR_FAIL_IF(pstSecurityDescriptor != NULL && *pdwDescriptorSize < sizeof(SECURITY_DESCRIPTOR),
             L"Check buffer size", HRESULT_FROM_WIN32(ERROR_MORE_DATA));
  if (pbData != nullptr) {
    // Built in an aligned record, then copied: the caller's buffer need not
    // be aligned. A present, null DACL holds no pointer.
    SECURITY_DESCRIPTOR stDescriptor = {};
    BOOL bRetCode = ::InitializeSecurityDescriptor(&stDescriptor, SECURITY_DESCRIPTOR_REVISION);
    MR_FAIL_IF(bRetCode == FALSE, L"InitializeSecurityDescriptor", LastErrorResult());
    bRetCode = ::SetSecurityDescriptorDacl(&stDescriptor, TRUE, nullptr, FALSE);
    MR_FAIL_IF(bRetCode == FALSE, L"SetSecurityDescriptorDacl", LastErrorResult());
    std::memcpy(pbData, &stDescriptor, sizeof stDescriptor);
  }
  *pdwDataLen = sizeof(SECURITY_DESCRIPTOR);
  return S_OK;
}

HRESULT Container::GetProviderType(BYTE* pbData, DWORD* pdwDataLen) {
  MR_TRACE("Container::GetProviderType");
  MR_FAIL_IF(pdwDataLen == NULL, L"Check pdwProvTypeSize", E_INVALIDARG);
  const BYTE* pdwProvType = pbData;
  DWORD* pdwProvTypeSize = pdwDataLen;
  MR_FAIL_IF(pdwProvType != NULL && *pdwProvTypeSize < sizeof(DWORD), L"Check buffer size",
             HRESULT_FROM_WIN32(ERROR_MORE_DATA));
  PutFixedValue(PROV_RSA_FULL, pbData, pdwDataLen);
  return S_OK;
}

void Container::GetImplementType(BYTE* pbData, DWORD* pdwDataLen) {
  PutFixedValue(kImplementType, pbData, pdwDataLen);
}

void Container::GetCSPVersion(BYTE* pbData, DWORD* pdwDataLen) {
  PutFixedValue(kCSPVersion, pbData, pdwDataLen);
}

void Container::GetKeySpec(BYTE* pbData, DWORD* pdwDataLen) {
  PutFixedValue(kKeySpecs, pbData, pdwDataLen);
}

void Container::GetComputerKeySet(BYTE* pbData, DWORD* pdwDataLen) const {
  PutFixedValue(m_bMachineKeySet ? CRYPT_MACHINE_KEYSET : 0, pbData, pdwDataLen);
}

void Container::GetKeysToRage(BYTE* pbData, DWORD* pdwDataLen) {
  PutFixedValue(kKeysToRage, pbData, pdwDataLen);
}

HRESULT Container::SetClientWindow(HWND hWnd) {
  MR_TRACE("Container::SetClientWindow");
  if (::IsWindow(hWnd) == FALSE) {
    MR_LOG_FAIL(L"Check hWnd", L"::IsWindow(hWnd) == FALSE",
                HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE));
    return S_OK;
  }
  m_hClientWnd = hWnd;
  return S_OK;
}

HWND Container::GetOwnerWindow() const {
  return ::IsWindow(m_hClientWnd) ? m_hClientWnd : nullptr;
}

HRESULT Container::SetPINPromptString(const wchar_t* lpwPromptString) {
  MR_TRACE("Container::SetPINPromptString");
  if (lpwPromptString == nullptr) {
    MR_LOG_FAIL(L"Check lpwPromptString", L"lpwPromptString == NULL", E_INVALIDARG);
    return S_OK;
  }
  const size_t nLength = std::wcslen(lpwPromptString);
  std::unique_ptr<wchar_t[]> spNewPrompt(new (std::nothrow) wchar_t[nLength + 1]());
  if (!spNewPrompt) {
    MR_LOG_FAIL(L"New buffer", L"!_lpwPromptString", E_OUTOFMEMORY);
    return S_OK;
  }
  std::wmemcpy(spNewPrompt.get(), lpwPromptString, nLength);
  m_lpwPromptString = std::move(spNewPrompt);
  return S_OK;
}

void Container::GetCustomPinPrompt(wchar_t** ppwszPrompt, DWORD* pdwPromptLength) const {
  if (!m_lpwPromptString || ppwszPrompt == nullptr || pdwPromptLength == nullptr) {
    return;
  }
  const size_t nLength = std::wcslen(m_lpwPromptString.get());
  wchar_t* pwszCopy = new (std::nothrow) wchar_t[nLength + 1]();
  if (pwszCopy == nullptr) {
    return;
  }
  std::wmemcpy(pwszCopy, m_lpwPromptString.get(), nLength);
  *ppwszPrompt = pwszCopy;
  *pdwPromptLength = static_cast<DWORD>(nLength);
}

BOOL Container::SetKeySetAlgorithm(UINT uKeySetAlgorithm) {
  MR_TRACE("Container::SetKeySetAlgorithm");
  if (g_pDeviceHandle == nullptr) {
    MR_LOG_FAIL(L"Check g_pDeviceHandle", L"g_pDeviceHandle == NULL", E_FAIL);
    return FALSE;
  }
  BOOL bEmpty = FALSE;
  if (g_pDeviceHandle->IsContainerEmpty(m_szDeviceName, m_szContainerName, &bEmpty) != S_OK) {
    // On no token (an ephemeral container): nothing to keep consistent.
    return TRUE;
  }
  if (bEmpty) {
    m_uKeySetAlgorithm = uKeySetAlgorithm;
    return TRUE;
  }
  // A container that holds keys keeps their algorithm.
  if (uKeySetAlgorithm == 0) {
    return FALSE;
  }
  if (m_uKeySetAlgorithm == 0) {
    m_uKeySetAlgorithm = uKeySetAlgorithm;
    return TRUE;
  }
  return m_uKeySetAlgorithm == uKeySetAlgorithm ? TRUE : FALSE;
}

}  // namespace merro::provider
