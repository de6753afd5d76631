#include "certmanager/MerroCommonFiles/cert_text.h"

#include <algorithm>

#include "certmanager_string_ids.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"
#include "foundation/win/win_resource.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MerroManagerFunction"

namespace {

constexpr DWORD kKeyUsageDigitalSignature = 0x80;
constexpr DWORD kKeyUsageKeyEncipherment = 0x20;

// What CryptDecodeObjectEx allocated for the caller, freed once.
struct LocalMemory {
  void* p = nullptr;
  ~LocalMemory() { ::LocalFree(p); }
};

// The string for an RSA key length: the signing text, the encrypting one is
// the next identifier.
UINT RsaSignStringId(LONG bits) {
  switch (bits) {
    case 1024:
      return IDS_RSA1024_SIGN_CERT;
    case 2048:
      return IDS_RSA2048_SIGN_CERT;
    case 4096:
      return IDS_RSA4096_SIGN_CERT;
    default:
      return 0;
  }
}

}  // namespace

HRESULT GetCertSubject(PCCERT_CONTEXT pCert, DWORD dwStrType, std::wstring* pSubject) {
  MR_TRACE("GetCertSubject");
  MR_FAIL_IF(pCert == nullptr || pSubject == nullptr, L"Check parameters", E_INVALIDARG);
  CERT_NAME_BLOB* name = &pCert->pCertInfo->Subject;
  const DWORD chars = ::CertNameToStrW(merro::provider::kCertEncoding, name, dwStrType, nullptr, 0);
  MR_FAIL_IF(chars <= 1, L"CertNameToStrW", CRYPT_E_NOT_FOUND);
  std::wstring text(chars, L'\0');
  const DWORD written =
      ::CertNameToStrW(merro::provider::kCertEncoding, name, dwStrType, &text[0], chars);
  MR_FAIL_IF(written <= 1 || written > chars, L"CertNameToStrW", CRYPT_E_NOT_FOUND);
  text.resize(written - 1);
  *pSubject = std::move(text);
  return S_OK;
}

void GetCNFromSubject(const std::wstring& subject, std::wstring* pNamePart) {
  MR_TRACE("GetCNFromSubject");
  if (pNamePart == nullptr) {
    return;
  }
  pNamePart->clear();
  const size_t at = subject.find(L", CN");
  if (at == std::wstring::npos) {
    return;
  }
  // Room for "(CN=" and ")" within the limit.
  const size_t room = kTreeItemDescMaxChars - 5;
  *pNamePart = L"(CN=" + subject.substr(0, std::min(at, room)) + L")";
}

HRESULT GetCertKeyUsage(PCCERT_CONTEXT pCert, BYTE* pbyKeyUsage) {
  MR_TRACE("GetCertKeyUsage");
  MR_FAIL_IF(pCert == nullptr || pbyKeyUsage == nullptr, L"Check parameters", E_INVALIDARG);
  const CERT_INFO* info = pCert->pCertInfo;
  const CERT_EXTENSION* ext = ::CertFindExtension(szOID_KEY_USAGE, info->cExtension,
                                                  info->rgExtension);
  // Wine leaves no error code when the extension is missing.
  MR_FAIL_IF(ext == nullptr, L"CertFindExtension", CRYPT_E_NOT_FOUND);
  LocalMemory decoded;
  DWORD cb = 0;
  if (!::CryptDecodeObjectEx(merro::provider::kCertEncoding, X509_KEY_USAGE, ext->Value.pbData,
                             ext->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded.p,
                             &cb)) {
    const HRESULT hr = merro::win::FailedCallResult(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
    MR_LOG_FAIL(L"CryptDecodeObjectEx", L"bRetCode == FALSE", hr);
    return hr;
  }
  const auto* bits = static_cast<const CRYPT_BIT_BLOB*>(decoded.p);
  *pbyKeyUsage = bits->cbData > 0 ? bits->pbData[0] : 0;
  return S_OK;
}

HRESULT GetTreeItemDesc(const merro::provider::ContainerInformation& container, DWORD dwKind,
                        std::wstring* pDescription) {
  MR_TRACE("GetTreeItemDesc");
  MR_FAIL_IF(pDescription == nullptr, L"Check parameters", E_INVALIDARG);
  MR_FAIL_IF(dwKind != kTreeItemSignatureCert && dwKind != kTreeItemExchangeCert, L"Check kind",
             E_INVALIDARG);
  const bool signatureSlot = dwKind == kTreeItemSignatureCert;
  const merro::provider::CertContext& cert =
      signatureSlot ? container.signatureCert : container.exchangeCert;
  MR_FAIL_IF(!cert, L"Check certificate", E_INVALIDARG);

  std::wstring subject;
  HRESULT hr = GetCertSubject(cert.Get(),
                              CERT_SIMPLE_NAME_STR | CERT_NAME_STR_REVERSE_FLAG |
                                  CERT_NAME_STR_NO_QUOTING_FLAG,
                              &subject);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"GetCertSubject", L"S_OK != hResult", hr);
    return hr;
  }
  BYTE usage = 0;
  hr = GetCertKeyUsage(cert.Get(), &usage);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"GetCertKeyUsage", L"S_OK != hResult", hr);
    return hr;
  }
  // A signature-slot certificate encrypts when it allows key encipherment;
  // an exchange-slot one signs when it allows digital signatures.
  const bool encrypts = signatureSlot ? (usage & kKeyUsageKeyEncipherment) != 0
                                      : (usage & kKeyUsageDigitalSignature) == 0;
  UINT id = 0;
  if (container.dwKeySetAlgorithm == KEYSETALGORITHM_SM2) {
    id = IDS_SM2_SIGN_CERT;
  } else {
    id = RsaSignStringId(signatureSlot ? container.lSignatureKeyLength
                                       : container.lExchangeKeyLength);
    MR_FAIL_IF(id == 0, L"Check key length", NTE_FAIL);
  }
  id += encrypts ? 1 : 0;

  wchar_t text[kTreeItemDescMaxChars + 1] = {};
  if (::LoadStringW(merro::win::ThisModule(), id, text, static_cast<int>(kTreeItemDescMaxChars + 1)) <= 0) {
    hr = merro::win::FailedCallResult(ERROR_RESOURCE_NAME_NOT_FOUND);
    MR_LOG_FAIL(L"LoadStringW", L"dwLength == 0", hr);
    return hr;
  }
  std::wstring namePart;
  GetCNFromSubject(subject, &namePart);
  std::wstring description = std::wstring(text) + namePart;
  if (description.size() > kTreeItemDescMaxChars) {
    description.resize(kTreeItemDescMaxChars);
  }
  *pDescription = std::move(description);
  return S_OK;
}
