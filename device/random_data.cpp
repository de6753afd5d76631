// DeviceHandle::GenerateRandomData: random bytes for the provider's random
// call, which serves any length. The token API gives at most 128 bytes per
// call, so the buffer is filled piece by piece.
#include <algorithm>

#include "device/device_handle.h"
#include "device/token_access.h"
#include "foundation/secure_wipe.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/device_api.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {

HRESULT DeviceHandle::GenerateRandomData(const char* pszDevName, int /*nFlag*/, int nRandomSize,
                                         BYTE* pbyRandomBuffer) {
  MR_TRACE("DeviceHandle::GenerateRandomData");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(nRandomSize <= 0, L"Check nRandomSize", E_INVALIDARG);
  MR_FAIL_IF(pbyRandomBuffer == NULL, L"Check pbyRandomBuffer", E_INVALIDARG);
  DEV_CTX* pDevCtx = nullptr;
  const HRESULT hResult = FindListedToken(*this, pszDevName, MR_TRACE_FUNCTION, &pDevCtx);
  if (FAILED(hResult)) {
    return hResult;
  }

  // The host's generator, whatever source the caller named: the provider
  // asks for it too.
  const RandomSource pfnRandom = m_pfnRandom != nullptr ? m_pfnRandom : ::GenerateRandom;
  const size_t nTotal = static_cast<size_t>(nRandomSize);
  for (size_t nDone = 0; nDone < nTotal;) {
    const BYTE nPiece = static_cast<BYTE>(std::min<size_t>(nTotal - nDone, MR_RANDOM_MAX));
    const HRESULT nRet = pfnRandom(pDevCtx, RANDOM_FLAG_SOFT, nPiece, pbyRandomBuffer + nDone);
    if (nRet != 0x00) {
      // No half-filled buffer is handed back as random data.
      SecureWipe(pbyRandomBuffer, nTotal);
      MR_LOG_FAIL(L"GenerateRandom", L"nRet != 0x00", E_FAIL);
      return E_FAIL;
    }
    nDone += nPiece;
  }
  MR_LOG_STEP(L"GenerateRandom");
  return S_OK;
}

}  // namespace merro::device
