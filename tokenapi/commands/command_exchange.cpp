#include "tokenapi/commands/command_exchange.h"

#include "foundation/result.h"
#include "foundation/trace/trace.h"

namespace merro::commands {

HRESULT Exchange(const TraceHelper& scope, DEV_CTX* pDevCtx, const merro::apdu::Apdu& cmd,
                 BYTE* pRecv, DWORD* pRecvLen, DWORD nTimeoutSec) {
  MR_TRACE("Exchange");
  return Exchange(scope, L"mr_SendAPDUCmd", pDevCtx, cmd, pRecv, pRecvLen, nTimeoutSec);
}

HRESULT Exchange(const TraceHelper& scope, const wchar_t* step, DEV_CTX* pDevCtx,
                 const merro::apdu::Apdu& cmd, BYTE* pRecv, DWORD* pRecvLen, DWORD nTimeoutSec) {
  const HRESULT hr =
      HRESULT_FROM_TOKEN_ERROR(merro::apdu::Transmit(pDevCtx, cmd, pRecv, pRecvLen, nTimeoutSec));
  merro::trace::LogStep(scope.Name(), step, hr);
  return hr;
}

}  // namespace merro::commands
