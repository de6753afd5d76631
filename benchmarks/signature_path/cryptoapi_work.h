// The benchmark's work through the real CryptoAPI: one container of the
// registered provider with a signature and an exchange key, kept open for
// the whole run (advapi32 unloads the provider at its last release).
#pragma once

#include <string>
#include <vector>

#include "benchmarks/signature_path/path_rows.h"
#include "benchmarks/signature_path/step_meter.h"
#include "tools/cryptoapi_demo/crypt_handles.h"

namespace merro::bench {

class CryptoApiWork final : public PathWork {
 public:
  CryptoApiWork(const KeyKind& kind, std::string container)
      : m_kind(kind), m_name(std::move(container)) {}

  // Creates the container, generates both keys and encrypts the secret
  // that the decryptions recover.
  bool SetUp(std::string* pError) override;

  // One run of each measured piece; false with *pError on a failure.
  bool Sign(StepMeter& meter, PathRows* pRows, std::string* pError) override;
  bool Verify(StepMeter& meter, PathRows* pRows, std::string* pError) override;
  bool AcquireAndRelease(StepMeter& meter, PathRows* pRows, std::string* pError) override;
  bool Decrypt(StepMeter& meter, PathRows* pRows, std::string* pError) override;

 private:
  const KeyKind& m_kind;
  std::string m_name;
  merro::demo::CryptProvider m_provider;
  merro::demo::CryptKey m_signKey;      // the signature key's public half, for verification
  merro::demo::CryptKey m_exchangeKey;  // the exchange key, for decryption
  std::vector<BYTE> m_data;
  std::vector<BYTE> m_signature;  // the latest signature
  std::vector<BYTE> m_ciphertext;
};

}  // namespace merro::bench
