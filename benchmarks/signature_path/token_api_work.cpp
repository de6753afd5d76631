#include "benchmarks/signature_path/token_api_work.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "foundation/alg_ids.h"
#include "tokenapi/api/token_api.h"
#include "tokenapi/commands/extern_auth_keys.h"

namespace merro::bench {
namespace {

constexpr BYTE kUserPin = 1;

// A key context on the token, finished when it goes.
struct KeyContextCloser {
  void operator()(void* pKeyCtx) const { AsymKeyFinal(pKeyCtx); }
};
using KeyContext = std::unique_ptr<void, KeyContextCloser>;

HRESULT OpenKey(DEV_CTX* pDevCtx, BYTE keyType, WORD fid, KeyContext* pKey) {
  void* pKeyCtx = nullptr;
  const HRESULT hr = AsymKeyInit(pDevCtx, keyType, fid, &pKeyCtx);
  pKey->reset(pKeyCtx);
  return hr;
}

// A step's result as the meter reads it: true, or false with the result
// as the last error.
bool Worked(HRESULT hr) {
  if (hr != S_OK) {
    ::SetLastError(static_cast<DWORD>(hr));
    return false;
  }
  return true;
}

std::string Failed(const char* what, HRESULT hr) {
  char text[160] = {};
  std::snprintf(text, sizeof text, "%s failed: 0x%08lX", what, static_cast<unsigned long>(hr));
  return text;
}

}  // namespace

HRESULT TokenApiWork::OpenSession() {
  HRESULT hr = ExternalAuth(m_token.get(), MR_KEY_EXTERN);
  if (hr == S_OK) {
    hr = SetSessionKey(m_token.get());
  }
  if (hr == S_OK) {
    hr = VerifyPIN(m_token.get(), kUserPin, reinterpret_cast<const BYTE*>(m_pin.data()),
                   static_cast<BYTE>(m_pin.size()));
  }
  return hr;
}

bool TokenApiWork::SetUp(std::string* pError) {
  DEV_CTX* pDevCtx = nullptr;
  HRESULT hr = OpenDevice(m_device.c_str(), &pDevCtx);
  m_token.reset(pDevCtx);
  if (hr != S_OK) {
    *pError = Failed("OpenDevice", hr);
    return false;
  }
  hr = OpenSession();
  if (hr == S_OK) {
    hr = EnableContainer(m_token.get(), m_name.c_str(), static_cast<DWORD>(m_name.size()));
  }
  const HRESULT reset = ResetDevice(m_token.get());
  if (hr != S_OK || reset != S_OK) {
    *pError = Failed("EnableContainer", hr != S_OK ? hr : reset);
    return false;
  }
  std::strncpy(m_record.szContainerName, m_name.c_str(), sizeof m_record.szContainerName - 1);
  hr = ReadContainer(m_token.get(), &m_record);
  if (hr != S_OK) {
    *pError = Failed("ReadContainer", hr);
    return false;
  }
  m_data.resize(kSignedDataLen);
  for (DWORD i = 0; i < kSignedDataLen; ++i) {
    m_data[i] = static_cast<BYTE>('a' + i % 26);
  }
  KeyContext key;
  hr = OpenKey(m_token.get(), m_kind.tokenKeyType, m_record.ExchangeKeyFID, &key);
  const std::vector<BYTE> secret(kSecretLen, 0x5A);
  m_ciphertext.assign(1024, 0);
  DWORD length = static_cast<DWORD>(m_ciphertext.size());
  if (hr == S_OK) {
    hr = PubkeyEnc(key.get(), secret.data(), kSecretLen, m_ciphertext.data(), &length);
  }
  if (hr != S_OK) {
    *pError = Failed("PubkeyEnc", hr);
    return false;
  }
  m_ciphertext.resize(length);
  return true;
}

bool TokenApiWork::Sign(StepMeter& meter, PathRows* pRows, std::string* pError) {
  std::vector<BYTE> digest(64);
  std::vector<BYTE> signature(m_kind.signatureLen);
  DWORD digestLen = static_cast<DWORD>(digest.size());
  DWORD signatureLen = static_cast<DWORD>(signature.size());
  const bool worked = meter.Measure("token API signature", &pRows->floorSignature, pError, [&] {
    KeyContext key;
    HRESULT hr = OpenSession();
    if (hr == S_OK) {
      hr = OpenKey(m_token.get(), m_kind.tokenKeyType, m_record.SignKeyFID, &key);
    }
    if (hr == S_OK) {
      hr = DigestInit(key.get(), m_kind.tokenHashType);
    }
    if (hr == S_OK) {
      hr = DigestUpdate(key.get(), m_data.data(), kSignedDataLen);
    }
    if (hr == S_OK) {
      hr = DigestFinal(key.get(), digest.data(), &digestLen);
    }
    if (hr == S_OK) {
      hr = SignDataResult(key.get(), signature.data(), &signatureLen);
    }
    key.reset();
    // The security state goes back to locked after every signature.
    const HRESULT reset = ResetDevice(m_token.get());
    return Worked(hr != S_OK ? hr : reset);
  });
  if (worked) {
    m_digest.assign(digest.begin(), digest.begin() + digestLen);
    m_signature.assign(signature.begin(), signature.begin() + signatureLen);
  }
  return worked;
}

bool TokenApiWork::Verify(StepMeter& meter, PathRows* pRows, std::string* pError) {
  return meter.Measure("token API verification", &pRows->floorVerification, pError, [&] {
    KeyContext key;
    HRESULT hr = OpenKey(m_token.get(), m_kind.tokenKeyType, m_record.SignKeyFID, &key);
    if (hr == S_OK) {
      hr = VerifySignature(key.get(), m_kind.tokenHashType, m_digest.data(),
                           static_cast<DWORD>(m_digest.size()), m_signature.data(),
                           static_cast<DWORD>(m_signature.size()));
    }
    return Worked(hr);
  });
}

bool TokenApiWork::AcquireAndRelease(StepMeter& meter, PathRows* pRows, std::string* pError) {
  return meter.Measure("token API open + close", &pRows->floorAcquireRelease, pError, [&] {
    DWORD size = 0;
    HRESULT hr = EnumDevice(nullptr, &size);
    std::vector<BYTE> names(size + 1, 0);
    if (hr == S_OK) {
      hr = EnumDevice(names.data(), &size);
    }
    DEV_CTX* pDevCtx = nullptr;
    if (hr == S_OK) {
      hr = OpenDevice(m_device.c_str(), &pDevCtx);
    }
    merro::testing::OpenToken opened(pDevCtx);
    CONTAINER_RECORD records[MR_CTNR_SLOT_COUNT] = {};
    DWORD count = MR_CTNR_SLOT_COUNT;
    if (hr == S_OK) {
      hr = EnumContainer(opened.get(), records, &count);
    }
    if (hr == S_OK) {
      hr = CloseDevice(opened.release());
    }
    return Worked(hr);
  });
}

bool TokenApiWork::Decrypt(StepMeter& meter, PathRows* pRows, std::string* pError) {
  std::vector<BYTE> plain(1024);
  DWORD plainLen = static_cast<DWORD>(plain.size());
  if (!meter.Measure("token API decryption", &pRows->floorDecryption, pError, [&] {
        KeyContext key;
        HRESULT hr = OpenSession();
        if (hr == S_OK) {
          hr = OpenKey(m_token.get(), m_kind.tokenKeyType, m_record.ExchangeKeyFID, &key);
        }
        if (hr == S_OK) {
          hr = PrikeyDec(key.get(), m_ciphertext.data(), static_cast<DWORD>(m_ciphertext.size()),
                         plain.data(), &plainLen);
        }
        key.reset();
        const HRESULT reset = ResetDevice(m_token.get());
        return Worked(hr != S_OK ? hr : reset);
      })) {
    return false;
  }
  // RSA gives back the whole block of the raw operation, the secret at its
  // end; SM2 the secret alone.
  if (plainLen < kSecretLen || plainLen > plain.size() ||
      std::vector<BYTE>(plain.begin() + (plainLen - kSecretLen), plain.begin() + plainLen) !=
          std::vector<BYTE>(kSecretLen, 0x5A)) {
    *pError = "PrikeyDec gave back something else than the secret";
    return false;
  }
  return true;
}

}  // namespace merro::bench
