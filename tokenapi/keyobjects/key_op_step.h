// The step every key-object operation makes when it calls a token command or
// a host routine: fold the callee's result and log it under the callee's
// name.
#pragma once

#include "foundation/result.h"
#include "foundation/trace/trace.h"

namespace merro::keyobjects {

inline HRESULT FoldedStep(const TraceHelper& scope, const wchar_t* step, HRESULT result) {
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(result);
  merro::trace::LogStep(scope.Name(), step, hr);
  return hr;
}

// A failed check of the operation: logged, and its code returned.
inline HRESULT CheckFailed(const TraceHelper& scope, const wchar_t* step, HRESULT hr) {
  merro::trace::LogStep(scope.Name(), step, hr);
  return hr;
}

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070001);
constexpr HRESULT kBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kBadLength = static_cast<HRESULT>(0x80070004);
constexpr HRESULT kBadAlgorithm = static_cast<HRESULT>(0x80070209);
constexpr HRESULT kHostEncryptFailed = static_cast<HRESULT>(0x80070207);
constexpr HRESULT kSm2VerifyFailed = static_cast<HRESULT>(0x80070212);

}  // namespace merro::keyobjects
