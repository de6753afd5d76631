// The public key in a PUBLICKEYBLOB of the provider, for OpenSSL as the
// judge of what the key signs or what the blob holds.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <cstring>

#include "foundation/alg_ids.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"

namespace merro::testing::csp {

// The public key in a PUBLICKEYBLOB, for OpenSSL: the modulus and exponent
// of an RSA blob, X and Y of an SM2 blob onto the SM2 curve, each reversed
// into the most significant byte first.
inline PkeyPtr KeyFromBlob(const Bytes& blob) {
  if (blob.size() < 12 || blob[0] != PUBLICKEYBLOB || blob[1] != CUR_BLOB_VERSION) {
    return nullptr;
  }
  ALG_ID algId = 0;
  std::memcpy(&algId, blob.data() + 4, 4);
  if (algId == CALG_SM2_SIGN || algId == CALG_SM2_KEYX) {
    if (blob.size() != 140) {
      return nullptr;
    }
    Bytes xy(blob.begin() + 12, blob.begin() + 44);
    std::reverse(xy.begin(), xy.end());
    Bytes y(blob.begin() + 76, blob.begin() + 108);
    std::reverse(y.begin(), y.end());
    xy.insert(xy.end(), y.begin(), y.end());
    return merro::testing::Sm2PublicKey(xy);
  }
  DWORD magic = 0;
  DWORD bits = 0;
  DWORD exponent = 0;
  std::memcpy(&magic, blob.data() + 8, 4);
  std::memcpy(&bits, blob.data() + 12, 4);
  std::memcpy(&exponent, blob.data() + 16, 4);
  if (magic != 0x31415352 || blob.size() != 20 + bits / 8) {
    return nullptr;
  }
  Bytes n(blob.begin() + 20, blob.end());
  std::reverse(n.begin(), n.end());
  Bytes e;
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (!e.empty() || (exponent >> shift) != 0) {
      e.push_back(static_cast<std::uint8_t>(exponent >> shift));
    }
  }
  return merro::testing::RsaPublicKey(n, e);
}

}  // namespace merro::testing::csp
