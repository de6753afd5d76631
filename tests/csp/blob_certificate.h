// A certificate of the tests' CA for the public key in a PUBLICKEYBLOB the
// provider exported (RSA or SM2), for tests that write certificates to
// token containers through CryptoAPI.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <cstring>

#include "foundation/alg_ids.h"
#include "tests/support/test_certificates.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"

namespace merro::testing::csp {

// A certificate of the tests' CA for the key in a PUBLICKEYBLOB, or for a
// key of the same kind that is not the token's.
inline CertBytes CertificateFor(const Bytes& blob, bool otherKey = false) {
  ALG_ID algId = 0;
  std::memcpy(&algId, blob.data() + 4, 4);
  const bool sm2 = algId == CALG_SM2_SIGN || algId == CALG_SM2_KEYX;
  merro::testing::CertificateSpec spec;
  if (otherKey) {
    spec.subjectKey =
        sm2 ? merro::testing::TestKey::GenerateSm2() : merro::testing::TestKey::GenerateRsa(1024);
  } else if (sm2) {
    Bytes xy(blob.begin() + 12, blob.begin() + 44);
    std::reverse(xy.begin(), xy.end());
    Bytes y(blob.begin() + 76, blob.begin() + 108);
    std::reverse(y.begin(), y.end());
    xy.insert(xy.end(), y.begin(), y.end());
    spec.subjectKey = merro::testing::TestKey::FromSm2Point(xy);
  } else {
    Bytes n(blob.begin() + 20, blob.end());
    std::reverse(n.begin(), n.end());
    spec.subjectKey = merro::testing::TestKey::FromRsaComponents(n, Bytes{0x01, 0x00, 0x01});
  }
  return merro::testing::TestCa::Shared().Issue(spec);
}

}  // namespace merro::testing::csp
