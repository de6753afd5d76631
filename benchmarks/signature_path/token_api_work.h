// The floor of the benchmark: the same work as through CryptoAPI, done
// directly through the token API on a context of the benchmark's own, with
// the fewest calls the token needs (session, PIN verification, the
// private-key operation, the security-state reset).
#pragma once

#include <string>
#include <vector>

#include "benchmarks/signature_path/path_rows.h"
#include "benchmarks/signature_path/step_meter.h"
#include "foundation/container_record.h"
#include "tests/device/support/bench_steps.h"

namespace merro::bench {

class TokenApiWork final : public PathWork {
 public:
  TokenApiWork(const KeyKind& kind, std::string container, std::string deviceName,
               std::string userPin)
      : m_kind(kind),
        m_name(std::move(container)),
        m_device(std::move(deviceName)),
        m_pin(std::move(userPin)) {}

  // Opens the token, marks the container (made through CryptoAPI) available,
  // so that the next creation does not take it back as unfinished, reads its
  // record and encrypts the secret that the decryptions recover.
  bool SetUp(std::string* pError) override;

  bool Sign(StepMeter& meter, PathRows* pRows, std::string* pError) override;
  bool Verify(StepMeter& meter, PathRows* pRows, std::string* pError) override;
  bool AcquireAndRelease(StepMeter& meter, PathRows* pRows, std::string* pError) override;
  bool Decrypt(StepMeter& meter, PathRows* pRows, std::string* pError) override;

 private:
  // External authentication, session key and the user PIN.
  HRESULT OpenSession();

  const KeyKind& m_kind;
  std::string m_name;
  std::string m_device;
  std::string m_pin;
  merro::testing::OpenToken m_token;
  CONTAINER_RECORD m_record{};
  std::vector<BYTE> m_data;
  std::vector<BYTE> m_digest;     // of the latest signature
  std::vector<BYTE> m_signature;  // the latest signature
  std::vector<BYTE> m_ciphertext;
};

}  // namespace merro::bench
