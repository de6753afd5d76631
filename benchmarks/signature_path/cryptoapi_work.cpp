#include "benchmarks/signature_path/cryptoapi_work.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "foundation/alg_ids.h"

namespace merro::bench {
namespace {

constexpr wchar_t kProviderName[] = L"Tolvane Merro CSP For TAVR V1.0";

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string Failed(const char* what) {
  char text[160] = {};
  std::snprintf(text, sizeof text, "%s failed: 0x%08lX", what,
                static_cast<unsigned long>(::GetLastError()));
  return text;
}

// The sum of one run's calls, as the signature row.
void AddSum(StepSamples* pSum, std::initializer_list<const StepSamples*> parts) {
  double ms = 0;
  size_t commands = 0;
  for (const StepSamples* p : parts) {
    ms += p->LastMs();
    commands += p->LastCommands();
  }
  pSum->Add(ms, commands);
}

}  // namespace

bool CryptoApiWork::SetUp(std::string* pError) {
  const std::wstring name = Wide(m_name);
  // A new key set: with C:\windows\TAVR.flag its handle keeps the factory
  // PIN, so no prompt stops the key generations or the measured calls.
  if (!::CryptAcquireContextW(m_provider.Put(), name.c_str(), kProviderName, PROV_RSA_FULL,
                              CRYPT_NEWKEYSET)) {
    *pError = Failed("CryptAcquireContext(CRYPT_NEWKEYSET)");
    return false;
  }
  merro::demo::CryptKey generated;
  if (!::CryptGenKey(m_provider.get(), m_kind.signAlg, m_kind.genFlags, generated.Put())) {
    *pError = Failed("CryptGenKey of the signature key");
    return false;
  }
  if (!::CryptGenKey(m_provider.get(), m_kind.exchangeAlg, m_kind.genFlags, m_exchangeKey.Put())) {
    *pError = Failed("CryptGenKey of the exchange key");
    return false;
  }
  if (!::CryptGetUserKey(m_provider.get(), AT_SIGNATURE, m_signKey.Put())) {
    *pError = Failed("CryptGetUserKey of the signature key");
    return false;
  }
  m_data.resize(kSignedDataLen);
  for (DWORD i = 0; i < kSignedDataLen; ++i) {
    m_data[i] = static_cast<BYTE>('a' + i % 26);
  }
  // Encrypted on the host with the exchange key's public half.
  DWORD length = kSecretLen;
  if (!::CryptEncrypt(m_exchangeKey.get(), 0, TRUE, 0, nullptr, &length, 0)) {
    *pError = Failed("CryptEncrypt (length)");
    return false;
  }
  m_ciphertext.assign(length, 0);
  std::memset(m_ciphertext.data(), 0x5A, kSecretLen);
  length = kSecretLen;
  if (!::CryptEncrypt(m_exchangeKey.get(), 0, TRUE, 0, m_ciphertext.data(), &length,
                      static_cast<DWORD>(m_ciphertext.size()))) {
    *pError = Failed("CryptEncrypt");
    return false;
  }
  m_ciphertext.resize(length);
  // CryptEncrypt gives an SM2 ciphertext in the token's form (0x04, x, y,
  // C2, C3); CryptDecrypt tries the form without the 0x04 first, as other
  // programs hand it over, and that is the decryption measured.
  if (m_kind.exchangeAlg == CALG_SM2_KEYX && !m_ciphertext.empty() && m_ciphertext[0] == 0x04) {
    m_ciphertext.erase(m_ciphertext.begin());
  }
  return true;
}

bool CryptoApiWork::Sign(StepMeter& meter, PathRows* pRows, std::string* pError) {
  HCRYPTHASH hHash = 0;
  if (!meter.Measure("CryptCreateHash", &pRows->createHash, pError, [&] {
        return ::CryptCreateHash(m_provider.get(), m_kind.hashAlg, 0, 0, &hHash) != FALSE;
      })) {
    return false;
  }
  // Destroyed by its own measured step, or here on the way out.
  struct HashGuard {
    HCRYPTHASH* p;
    ~HashGuard() {
      if (*p != 0) {
        ::CryptDestroyHash(*p);
      }
    }
  } guard{&hHash};
  std::vector<BYTE> signature(m_kind.signatureLen);
  DWORD length = static_cast<DWORD>(signature.size());
  const bool worked = meter.Measure("CryptHashData", &pRows->hashData, pError, [&] {
    return ::CryptHashData(hHash, m_data.data(), kSignedDataLen, 0) != FALSE;
  }) && meter.Measure("CryptSignHash", &pRows->signHash, pError, [&] {
    return ::CryptSignHashW(hHash, AT_SIGNATURE, nullptr, 0, signature.data(), &length) != FALSE;
  }) && meter.Measure("CryptDestroyHash", &pRows->destroyHash, pError, [&] {
    const BOOL ok = ::CryptDestroyHash(hHash);
    hHash = 0;
    return ok != FALSE;
  });
  if (!worked) {
    return false;
  }
  signature.resize(length);
  m_signature = signature;
  AddSum(&pRows->signature,
         {&pRows->createHash, &pRows->hashData, &pRows->signHash, &pRows->destroyHash});
  return true;
}

bool CryptoApiWork::Verify(StepMeter& meter, PathRows* pRows, std::string* pError) {
  return meter.Measure("verification", &pRows->verification, pError, [&] {
    merro::demo::CryptHash hash;
    return ::CryptCreateHash(m_provider.get(), m_kind.hashAlg, 0, 0, hash.Put()) &&
           ::CryptHashData(hash.get(), m_data.data(), kSignedDataLen, 0) &&
           ::CryptVerifySignatureW(hash.get(), m_signature.data(),
                                   static_cast<DWORD>(m_signature.size()), m_signKey.get(), nullptr,
                                   0);
  });
}

bool CryptoApiWork::AcquireAndRelease(StepMeter& meter, PathRows* pRows, std::string* pError) {
  const std::wstring name = Wide(m_name);
  return meter.Measure("named acquire + release", &pRows->acquireRelease, pError, [&] {
    HCRYPTPROV hProv = 0;
    return ::CryptAcquireContextW(&hProv, name.c_str(), kProviderName, PROV_RSA_FULL, 0) &&
           ::CryptReleaseContext(hProv, 0);
  });
}

bool CryptoApiWork::Decrypt(StepMeter& meter, PathRows* pRows, std::string* pError) {
  std::vector<BYTE> buffer = m_ciphertext;
  DWORD length = static_cast<DWORD>(buffer.size());
  if (!meter.Measure("CryptDecrypt", &pRows->decryption, pError, [&] {
        return ::CryptDecrypt(m_exchangeKey.get(), 0, TRUE, 0, buffer.data(), &length) != FALSE;
      })) {
    return false;
  }
  if (length != kSecretLen || buffer[0] != 0x5A || buffer[kSecretLen - 1] != 0x5A) {
    *pError = "CryptDecrypt gave back something else than the secret";
    return false;
  }
  return true;
}

}  // namespace merro::bench
