#include "tokenapi/crypto/random/soft_random.h"

#include <openssl/rand.h>

#include "foundation/trace/trace.h"
#include "tokenapi/crypto/common/bytes.h"
#include "tokenapi/crypto/common/result_codes.h"

namespace merro::crypto {

namespace {
constexpr std::size_t kDrawBytes = 64;
}  // namespace

HRESULT GenSoftRandom(DWORD count, BYTE* output) {
  MR_TRACE("GenSoftRandom");
  MR_FAIL_IF(output == nullptr && count != 0, L"CHECK pRandom", kResultInvalidArg);
  // Bytes outside 1..254 are dropped, so every accepted value is equally
  // likely.
  BYTE draw[kDrawBytes];
  DWORD filled = 0;
  while (filled < count) {
    if (RAND_priv_bytes(draw, sizeof(draw)) != 1) {
      SecureWipe(draw, sizeof(draw));
      SecureWipe(output, count);
      MR_LOG_FAIL(L"RAND_priv_bytes", L"RAND_priv_bytes != 1", kResultRandomFailed);
      return kResultRandomFailed;
    }
    for (std::size_t i = 0; i < sizeof(draw) && filled < count; ++i) {
      if (draw[i] != 0x00 && draw[i] != 0xFF) {
        output[filled++] = draw[i];
      }
    }
  }
  SecureWipe(draw, sizeof(draw));
  return S_OK;
}

}  // namespace merro::crypto
