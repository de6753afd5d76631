// The key kinds the signature-path benchmark runs and the rows it reports
// for each: every CryptoAPI call of a signature, a verification, a named
// acquire with its release and a decryption, each beside the same work done
// directly through the token API (the floor).
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <string>

#include "benchmarks/signature_path/sample_stats.h"

namespace merro::bench {

struct KeyKind {
  const char* name;    // as the table shows it
  ALG_ID signAlg;      // CryptGenKey's algorithm for the signature key
  ALG_ID exchangeAlg;  // and for the exchange key
  DWORD genFlags;      // the key length in the upper 16 bits
  ALG_ID hashAlg;      // the hash the signature is made over
  BYTE tokenKeyType;   // the token's key type (MR_ALG_*)
  BYTE tokenHashType;  // the token API's hash type for the same hash
  DWORD signatureLen;
};

struct PathRows {
  // One signature, call by call, and all of it.
  StepSamples createHash;
  StepSamples hashData;
  StepSamples signHash;
  StepSamples destroyHash;
  StepSamples signature;
  // Create hash, hash data, verify signature and destroy the hash.
  StepSamples verification;
  StepSamples acquireRelease;
  StepSamples decryption;
  // The floor of the last four rows.
  StepSamples floorSignature;
  StepSamples floorVerification;
  StepSamples floorAcquireRelease;
  StepSamples floorDecryption;
};

class StepMeter;

// The measured pieces of work, done one way (through CryptoAPI, or through
// the token API as the floor). Each adds one run to its rows; false with
// *pError on a failure.
class PathWork {
 public:
  virtual ~PathWork() = default;
  virtual bool SetUp(std::string* pError) = 0;
  virtual bool Sign(StepMeter& meter, PathRows* pRows, std::string* pError) = 0;
  virtual bool Verify(StepMeter& meter, PathRows* pRows, std::string* pError) = 0;
  virtual bool AcquireAndRelease(StepMeter& meter, PathRows* pRows, std::string* pError) = 0;
  virtual bool Decrypt(StepMeter& meter, PathRows* pRows, std::string* pError) = 0;
};

// The data signed in every run: 100 bytes that are no transaction message,
// so that they are signed as their hash value.
inline constexpr DWORD kSignedDataLen = 100;
// The secret encrypted once and decrypted in every run.
inline constexpr DWORD kSecretLen = 16;

}  // namespace merro::bench
