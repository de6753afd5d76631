// Certificate texts of the manager's tree, over certificates from the test CA.
#include "certmanager/MerroCommonFiles/cert_text.h"

#include <gtest/gtest.h>

#include <optional>

#include "certmanager_string_ids.h"
#include "tests/support/test_certificates.h"

namespace {

using merro::provider::CertContext;
using merro::provider::ContainerInformation;
using merro::testing::CertBytes;
using namespace merro::testing;  // key-usage bits

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kNteFail = static_cast<HRESULT>(0x80090020);
constexpr DWORD kSimpleReversed =
    CERT_SIMPLE_NAME_STR | CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG;

CertContext Issue(const TestKey& key, std::optional<unsigned> usage, bool countryCN) {
  CertificateSpec spec;
  spec.subjectKey = key;
  spec.keyUsage = usage;
  spec.countryCN = countryCN;
  const CertBytes der = TestCa::Shared().Issue(spec);
  return CertContext::FromEncoded(der.data(), static_cast<DWORD>(der.size()));
}

// One RSA and one SM2 key serve every certificate (only the container's
// recorded key length decides the text).
const TestKey& RsaKey() {
  static const TestKey key = TestKey::GenerateRsa(1024);
  return key;
}
const TestKey& Sm2Key() {
  static const TestKey key = TestKey::GenerateSm2();
  return key;
}

std::wstring String(UINT id) {
  wchar_t text[260] = {};
  ::LoadStringW(::GetModuleHandleW(nullptr), id, text, 260);
  return text;
}

// A string-table entry in one language, read from the resource itself
// (LoadStringW follows the process's language only).
std::wstring StringIn(UINT id, LANGID language) {
  HRSRC res = ::FindResourceExW(nullptr, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
  const auto* p = res ? static_cast<const WCHAR*>(::LockResource(::LoadResource(nullptr, res)))
                      : nullptr;
  if (p == nullptr) {
    return std::wstring();
  }
  for (UINT i = 0; i < id % 16; ++i) {
    p += 1 + *p;
  }
  return std::wstring(p + 1, *p);
}

TEST(CertText, TheDescriptionStringsInThreeLanguages) {
  const std::pair<UINT, const wchar_t*> english[] = {
      {116, L"RSA-1024 Sign Certificate"},    {117, L"RSA-1024 Encrypt Certificate"},
      {118, L"RSA-2048 Sign Certificate"},    {119, L"RSA-2048 Encrypt Certificate"},
      {120, L"RSA-4096 Sign Certificate"},    {121, L"RSA-4096 Encrypt Certificate"},
      {122, L"SM2 Sign Certificate"},         {123, L"SM2 Encrypt Certificate"},
  };
  for (const auto& [id, text] : english) {
    SCOPED_TRACE(id);
    EXPECT_EQ(StringIn(id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), text);
    for (LANGID chinese : {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED),
                           MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL)}) {
      const std::wstring translated = StringIn(id, chinese);
      EXPECT_FALSE(translated.empty());
      EXPECT_NE(translated, text);
      EXPECT_EQ(translated.substr(0, 3), std::wstring(text).substr(0, 3));  // "RSA" or "SM2"
    }
  }
  // Simplified and traditional differ: 证书 / 憑證.
  EXPECT_NE(StringIn(IDS_SM2_SIGN_CERT, MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)),
            StringIn(IDS_SM2_SIGN_CERT, MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL)));
}

TEST(CertText, SubjectNameAndKeyUsage) {
  const CertContext withCountry = Issue(RsaKey(), kKeyUsageKeyEncipherment, true);
  const CertContext withoutCountry =
      Issue(RsaKey(), kKeyUsageDigitalSignature | kKeyUsageNonRepudiation, false);
  const CertContext noUsage = Issue(RsaKey(), std::nullopt, true);
  std::wstring subject;
  ASSERT_EQ(GetCertSubject(withCountry.Get(), kSimpleReversed, &subject), S_OK);
  EXPECT_EQ(subject, L"Zhang San 01, Probe Bank, CN");
  ASSERT_EQ(GetCertSubject(withoutCountry.Get(), kSimpleReversed, &subject), S_OK);
  EXPECT_EQ(subject, L"Zhang San 01, Probe Bank");

  BYTE usage = 0;
  ASSERT_EQ(GetCertKeyUsage(withCountry.Get(), &usage), S_OK);
  EXPECT_EQ(usage, kKeyUsageKeyEncipherment);
  ASSERT_EQ(GetCertKeyUsage(withoutCountry.Get(), &usage), S_OK);
  EXPECT_EQ(usage, kKeyUsageDigitalSignature | kKeyUsageNonRepudiation);
  EXPECT_EQ(GetCertKeyUsage(noUsage.Get(), &usage), CRYPT_E_NOT_FOUND);
  EXPECT_EQ(GetCertKeyUsage(nullptr, &usage), kBadArgument);
}

TEST(CertText, NamePartOfTheSubject) {
  const struct {
    std::wstring subject;
    std::wstring namePart;
  } cases[] = {
      {L"Zhang San 01, Probe Bank, CN", L"(CN=Zhang San 01, Probe Bank)"},
      {L"Zhang San 01, Probe Bank", L""},
      {L"Zhang San 01, CN", L"(CN=Zhang San 01)"},
      {L"", L""},
  };
  for (const auto& c : cases) {
    std::wstring namePart = L"stale";
    GetCNFromSubject(c.subject, &namePart);
    EXPECT_EQ(namePart, c.namePart);
  }
  // A name too long for the tree's buffer is cut, the bracket kept.
  std::wstring namePart;
  GetCNFromSubject(std::wstring(400, L'z') + L", CN", &namePart);
  EXPECT_EQ(namePart.size(), kTreeItemDescMaxChars);
  EXPECT_EQ(namePart.back(), L')');
}

TEST(CertText, TreeItemDescriptions) {
  const CertContext keyEnc = Issue(RsaKey(), kKeyUsageKeyEncipherment, true);
  const CertContext digSig = Issue(RsaKey(), kKeyUsageDigitalSignature, true);
  const CertContext both = Issue(RsaKey(), kKeyUsageDigitalSignature | kKeyUsageKeyEncipherment, true);
  const CertContext plainName = Issue(RsaKey(), kKeyUsageDigitalSignature, false);
  const CertContext noUsage = Issue(RsaKey(), std::nullopt, true);
  const CertContext sm2Sig = Issue(Sm2Key(), kKeyUsageDigitalSignature, true);
  const CertContext sm2Enc = Issue(Sm2Key(), kKeyUsageKeyEncipherment, true);
  const std::wstring name = L"(CN=Zhang San 01, Probe Bank)";
  const DWORD kSig = kTreeItemSignatureCert;
  const DWORD kExch = kTreeItemExchangeCert;
  const DWORD kRsa = KEYSETALGORITHM_RSA;
  const DWORD kSm2 = KEYSETALGORITHM_SM2;
  const struct Case {
    const char* what;
    DWORD algorithm;
    DWORD kind;
    LONG bits;
    const CertContext* cert;
    HRESULT result;
    UINT id;
    std::wstring namePart;
  } cases[] = {
      {"signature slot, key encipherment", kRsa, kSig, 2048, &keyEnc, S_OK, 119, name},
      {"exchange slot, digital signature", kRsa, kExch, 1024, &digSig, S_OK, 116, name},
      {"signature slot, digital signature", kRsa, kSig, 1024, &digSig, S_OK, 116, name},
      {"exchange slot, key encipherment", kRsa, kExch, 2048, &keyEnc, S_OK, 119, name},
      {"signature slot, both bits", kRsa, kSig, 4096, &both, S_OK, 121, name},
      {"exchange slot, both bits", kRsa, kExch, 4096, &both, S_OK, 120, name},
      {"SM2 signing", kSm2, kSig, 256, &sm2Sig, S_OK, 122, name},
      {"SM2 encrypting", kSm2, kSig, 256, &sm2Enc, S_OK, 123, name},
      {"SM2 exchange slot signing", kSm2, kExch, 256, &sm2Sig, S_OK, 122, name},
      {"SM2 exchange slot encrypting", kSm2, kExch, 0, &sm2Enc, S_OK, 123, name},
      {"subject without C=CN", kRsa, kSig, 1024, &plainName, S_OK, 116, L""},
      {"RSA-3072", kRsa, kSig, 3072, &digSig, kNteFail, 0, L""},
      {"RSA of no length", kRsa, kExch, 0, &digSig, kNteFail, 0, L""},
      {"no key usage", kRsa, kSig, 2048, &noUsage, CRYPT_E_NOT_FOUND, 0, L""},
      {"no certificate in the slot", kRsa, kExch, 2048, nullptr, kBadArgument, 0, L""},
      {"a token item", kRsa, 1, 2048, &digSig, kBadArgument, 0, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ContainerInformation container;
    container.dwKeySetAlgorithm = c.algorithm;
    (c.kind == kExch ? container.lExchangeKeyLength : container.lSignatureKeyLength) = c.bits;
    if (c.cert != nullptr) {
      (c.kind == kExch ? container.exchangeCert : container.signatureCert) = *c.cert;
    }
    std::wstring description = L"unchanged";
    EXPECT_EQ(GetTreeItemDesc(container, c.kind, &description), c.result);
    if (c.result == S_OK) {
      EXPECT_EQ(description, String(c.id) + c.namePart);
    } else {
      EXPECT_EQ(description, L"unchanged");
    }
  }
}

}  // namespace
