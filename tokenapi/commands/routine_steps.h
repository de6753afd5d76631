// Steps the container, certificate, key and initialisation routines share:
// a call's folded result logged as a step of the routine, and selection of
// a file by id.
#pragma once

#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/transport/device_ctx.h"

namespace merro::commands {

constexpr HRESULT kResultBadArgument = static_cast<HRESULT>(0x80070001);
constexpr HRESULT kResultBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kResultBadLength = static_cast<HRESULT>(0x80070004);
constexpr HRESULT kResultBadReply = static_cast<HRESULT>(0x8007000D);

// Folds result, logs it as step `step` of the routine `scope` (an error line
// when it failed) and returns it.
inline HRESULT StepResult(const TraceHelper& scope, const wchar_t* step, HRESULT result) {
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(result);
  merro::trace::LogStep(scope.Name(), step, hr);
  return hr;
}

// Selects file wFileId (mode 0x20, a 16-byte reply area) as step `step`.
HRESULT SelectStep(const TraceHelper& scope, const wchar_t* step, DEV_CTX* pDevCtx, WORD wFileId);

}  // namespace merro::commands
