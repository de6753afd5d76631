// merro-cryptoapi-demo.exe: what a bank's program does with the token
// through CryptoAPI and the registered provider "Tolvane Merro CSP For
// TAVR V1.0". For an RSA-2048 and an SM2 key, each in a new container:
// acquire the container (CRYPT_NEWKEYSET), generate the signature key,
// hash a transaction message (SHA-1 for RSA, SM3 for SM2), sign it, export
// the public key (PUBLICKEYBLOB) and let OpenSSL verify the signature.
// Each step is printed with its result; the exit status is 0 only when
// every step succeeded.
//
// The SM2 signature of a transaction message goes to the token's display
// and waits for its holder's OK (a simulated token answers as its
// simulator was told). The PIN is not asked when the token's user PIN is
// the factory one, never changed, and C:\windows\TAVR.flag exists.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <string>

#include "device/provider_settings.h"
#include "foundation/alg_ids.h"
#include "tools/cryptoapi_demo/crypt_handles.h"
#include "tools/cryptoapi_demo/signature_judge.h"
#include "tools/cryptoapi_demo/step_report.h"

namespace {

using merro::demo::Bytes;
using merro::demo::CryptHash;
using merro::demo::CryptKey;
using merro::demo::CryptProvider;
using merro::demo::Outcome;
using merro::demo::Run;
using merro::demo::StepReport;

// A transfer as the bank's page hands it over for signing.
constexpr char kMessage[] =
    "<SignData><KeyType>1</KeyType><Fields>Transfer 100.00 CNY to account 6222 0200 "
    "1234 5678</Fields></SignData>";

struct KeyDemo {
  const char* title;
  const wchar_t* container;
  ALG_ID keyAlg;
  const char* keyAlgName;
  DWORD bits;
  ALG_ID hashAlg;
  const char* hashAlgName;
  const char* signNote;  // what happens on the token while it signs
};

// Run one after the other, each to its end: a container with keys and no
// certificate counts as unfinished, and the next creation reclaims it.
const KeyDemo kDemos[] = {
    {"RSA-2048 key, SHA-1", L"merro-demo-rsa", CALG_RSA_SIGN, "CALG_RSA_SIGN", 2048, CALG_SHA1,
     "CALG_SHA1", "signed as a hash value"},
    {"SM2 key, SM3", L"merro-demo-sm2", CALG_SM2_SIGN, "CALG_SM2_SIGN", 256, CALG_SM3, "CALG_SM3",
     "confirmed on the token's display"},
};

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; *text != L'\0'; ++text) {
    out += static_cast<char>(*text);
  }
  return out;
}

// A DWORD key parameter; 0 when it cannot be read.
DWORD KeyParam(HCRYPTKEY hKey, DWORD param) {
  DWORD value = 0;
  DWORD length = sizeof value;
  return ::CryptGetKeyParam(hKey, param, reinterpret_cast<BYTE*>(&value), &length, 0) ? value : 0;
}

// One key's road. The provider handle goes to the caller, who keeps it
// open to the end of the run.
bool RunKeyDemo(const KeyDemo& demo, CryptProvider* pProvider, StepReport* pReport) {
  StepReport& report = *pReport;
  report.Section(demo.title);
  const std::string container = Narrow(demo.container);
  Outcome o = Run([&] {
    return ::CryptAcquireContextW(pProvider->Put(), demo.container, MR_PROVIDER_NAME,
                                  PROV_RSA_FULL, CRYPT_NEWKEYSET);
  });
  if (!report.Step("CryptAcquireContext(\"" + container + "\", CRYPT_NEWKEYSET)", o,
                   "new container")) {
    return false;
  }

  CryptKey key;
  o = Run([&] { return ::CryptGenKey(pProvider->get(), demo.keyAlg, demo.bits << 16, key.Put()); });
  if (!report.Step("CryptGenKey(" + std::string(demo.keyAlgName) + ", " +
                       std::to_string(demo.bits) + " bits)",
                   o, o.ok ? "KP_KEYLEN " + std::to_string(KeyParam(key.get(), KP_KEYLEN)) : "")) {
    return false;
  }

  CryptHash hash;
  o = Run([&] { return ::CryptCreateHash(pProvider->get(), demo.hashAlg, 0, 0, hash.Put()); });
  if (!report.Step("CryptCreateHash(" + std::string(demo.hashAlgName) + ")", o)) {
    return false;
  }
  const DWORD messageLength = sizeof kMessage - 1;
  o = Run([&] {
    return ::CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(kMessage), messageLength, 0);
  });
  if (!report.Step("CryptHashData(the transaction message)", o,
                   std::to_string(messageLength) + " bytes")) {
    return false;
  }

  DWORD signatureLength = 0;
  o = Run([&] {
    return ::CryptSignHashW(hash.get(), AT_SIGNATURE, nullptr, 0, nullptr, &signatureLength);
  });
  if (!report.Step("CryptSignHash(AT_SIGNATURE), size", o,
                   std::to_string(signatureLength) + " bytes")) {
    return false;
  }
  Bytes signature(signatureLength);
  o = Run([&] {
    return ::CryptSignHashW(hash.get(), AT_SIGNATURE, nullptr, 0, signature.data(),
                            &signatureLength);
  });
  if (!report.Step("CryptSignHash(AT_SIGNATURE)", o,
                   std::string(demo.signNote) + ", " + std::to_string(signatureLength) +
                       " bytes")) {
    return false;
  }
  signature.resize(signatureLength);

  DWORD blobLength = 0;
  o = Run([&] { return ::CryptExportKey(key.get(), 0, PUBLICKEYBLOB, 0, nullptr, &blobLength); });
  if (!report.Step("CryptExportKey(PUBLICKEYBLOB), size", o,
                   std::to_string(blobLength) + " bytes")) {
    return false;
  }
  Bytes blob(blobLength);
  o = Run([&] {
    return ::CryptExportKey(key.get(), 0, PUBLICKEYBLOB, 0, blob.data(), &blobLength);
  });
  if (!report.Step("CryptExportKey(PUBLICKEYBLOB)", o, std::to_string(blobLength) + " bytes")) {
    return false;
  }
  blob.resize(blobLength);

  std::string keyText;
  const merro::demo::PkeyPtr publicKey = merro::demo::KeyOfBlob(blob, &keyText);
  if (!report.Check("public key from the blob", publicKey != nullptr, keyText)) {
    return false;
  }
  const bool verified = merro::demo::VerifySignature(publicKey.get(), kMessage, signature);
  return report.Check(
      "OpenSSL verifies the signature (" + merro::demo::VerificationName(publicKey.get()) + ")",
      verified, verified ? "valid" : "refused");
}

}  // namespace

int main() {
  std::printf("merro-cryptoapi-demo: signing through the provider \"%s\"\n",
              Narrow(MR_PROVIDER_NAME).c_str());
  std::printf("message: %s\n", kMessage);
  StepReport report;
  // Every provider handle stays open to the end: advapi32 unloads the
  // provider at the last release, and the PIN it keeps goes with it.
  CryptProvider providers[sizeof kDemos / sizeof kDemos[0]];
  for (size_t i = 0; i < sizeof kDemos / sizeof kDemos[0]; ++i) {
    RunKeyDemo(kDemos[i], &providers[i], &report);
  }
  if (report.Failures() != 0) {
    std::printf("merro-cryptoapi-demo: %d step(s) failed\n", report.Failures());
    return 1;
  }
  std::printf("merro-cryptoapi-demo: every signature verified\n");
  return 0;
}
