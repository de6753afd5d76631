#include "tests/device/support/key_containers.h"

#include <cstring>
#include <memory>
#include <sstream>

#include "foundation/alg_ids.h"
#include "foundation/container_record.h"
#include "foundation/secure_wipe.h"
#include "tokenapi/api/token_api.h"

namespace merro::testing {
namespace {

// The record's key length code of a key type.
BYTE LengthCode(BYTE keyType) {
  switch (keyType) {
    case MR_ALG_SM2:
      return 0;
    case MR_ALG_RSA1024:
      return 1;
    case MR_ALG_RSA2048:
      return 2;
    default:
      return MR_CTNR_NONE;
  }
}

::testing::AssertionResult Step(HRESULT hr, const char* what, const std::string& name) {
  if (hr == S_OK) {
    return ::testing::AssertionSuccess();
  }
  std::ostringstream out;
  out << what << " for " << name << ": 0x" << std::hex << static_cast<std::uint32_t>(hr);
  return ::testing::AssertionFailure() << out.str();
}

TokenPublicKey FromRsaKey(BYTE keyType, const RSA_KEY& key) {
  TokenPublicKey pub;
  pub.keyType = keyType;
  pub.n.assign(key.n, key.n + key.nLen);
  pub.e.assign(key.e, key.e + key.eLen);
  return pub;
}

// Generates (or imports) the key pair of keyType in fid.
::testing::AssertionResult PutKey(DEV_CTX* ctx, BYTE keyType, WORD fid, const RSA_KEY* import,
                                  const std::string& name, TokenPublicKey* pOut) {
  if (import != nullptr) {
    RSA_KEY copy = *import;
    const HRESULT hr = ImportKeyPair(ctx, keyType, fid, reinterpret_cast<const BYTE*>(&copy),
                                     sizeof copy, nullptr);
    merro::SecureWipe(&copy, sizeof copy);
    *pOut = FromRsaKey(keyType, *import);
    return Step(hr, "ImportKeyPair", name);
  }
  if (keyType == MR_ALG_SM2) {
    BYTE xy[64] = {};
    *pOut = TokenPublicKey{};
    pOut->keyType = keyType;
    const HRESULT hr = GenerateKeyPair(ctx, keyType, fid, xy);
    pOut->xy.assign(xy, xy + 64);
    return Step(hr, "GenerateKeyPair", name);
  }
  RSA_KEY pub{};
  const HRESULT hr = GenerateKeyPair(ctx, keyType, fid, &pub);
  *pOut = FromRsaKey(keyType, pub);
  return Step(hr, "GenerateKeyPair", name);
}

}  // namespace

::testing::AssertionResult MakeKeyContainer(int i, const KeyContainerSpec& spec, KeyContainer* pOut,
                                            const std::string& userPin) {
  DEV_CTX* raw = nullptr;
  if (auto opened = Step(OpenDevice(DeviceBench::DeviceName(i).c_str(), &raw), "OpenDevice", spec.name);
      !opened) {
    return opened;
  }
  OpenToken token(raw);
  if (auto s = Step(SetSessionKey(token.get()), "SetSessionKey", spec.name); !s) {
    return s;
  }
  if (auto s = Step(VerifyPIN(token.get(), 1, reinterpret_cast<const BYTE*>(userPin.data()),
                              static_cast<BYTE>(userPin.size())),
                    "VerifyPIN", spec.name);
      !s) {
    return s;
  }
  CONTAINER_RECORD record;
  std::memset(&record, 0, sizeof record);
  std::strncpy(record.szContainerName, spec.name.c_str(), sizeof record.szContainerName);
  if (auto s = Step(CreateContainer(token.get(), &record), "CreateContainer", spec.name); !s) {
    return s;
  }
  record.AlgType = spec.signType != 0 ? spec.signType : spec.exchType;
  record.SignKeyLen = LengthCode(spec.signType);
  record.ExchKeyLen = LengthCode(spec.exchType);
  if (auto s = Step(WriteContainer(token.get(), &record), "WriteContainer", spec.name); !s) {
    return s;
  }
  KeyContainer made;
  made.name = spec.name;
  if (spec.signType != 0) {
    if (auto s = PutKey(token.get(), spec.signType, record.SignKeyFID, nullptr, spec.name, &made.sign);
        !s) {
      return s;
    }
  }
  if (spec.exchType != 0) {
    if (auto s = PutKey(token.get(), spec.exchType, record.ExchangeKeyFID, spec.exchImport,
                        spec.name, &made.exch);
        !s) {
      return s;
    }
  }
  // Certificates go in before the container is made available: the token
  // changes no record of an available container.
  const struct {
    const CertificateFor* issue;
    const TokenPublicKey* key;
    WORD fid;
    std::vector<std::uint8_t>* out;
  } certificates[] = {
      {&spec.signCertificate, &made.sign, record.SignCertFID, &made.signCert},
      {&spec.exchCertificate, &made.exch, record.ExchangeCertFID, &made.exchCert},
  };
  for (const auto& cert : certificates) {
    if (!*cert.issue || cert.key->keyType == 0) {
      continue;
    }
    *cert.out = (*cert.issue)(*cert.key);
    if (cert.out->empty()) {
      return ::testing::AssertionFailure() << "no certificate issued for " << spec.name;
    }
    if (auto s = Step(ImportCert(token.get(), cert.fid, cert.out->data(),
                                 static_cast<DWORD>(cert.out->size())),
                      "ImportCert", spec.name);
        !s) {
      return s;
    }
  }
  if (auto s = Step(EnableContainer(token.get(), spec.name.c_str(),
                                    static_cast<DWORD>(spec.name.size())),
                    "EnableContainer", spec.name);
      !s) {
    return s;
  }
  if (auto s = Step(ResetDevice(token.get()), "ResetDevice", spec.name); !s) {
    return s;
  }
  *pOut = made;
  return ::testing::AssertionSuccess();
}

}  // namespace merro::testing
