// Result codes of the cipher and hash contexts.
#pragma once

#include "foundation/platform.h"

namespace merro::crypto {

constexpr HRESULT kResultInvalidArg = static_cast<HRESULT>(0x80070057);     // null argument
constexpr HRESULT kResultNoMemory = static_cast<HRESULT>(0x80070008);       // allocation failed
constexpr HRESULT kResultBufferTooSmall = static_cast<HRESULT>(0x80070003); // output room short
constexpr HRESULT kResultBadAlgorithm = static_cast<HRESULT>(0x80090029);   // not supported
constexpr HRESULT kResultSetupFailed = static_cast<HRESULT>(0x80070206);    // key set-up, hash init
constexpr HRESULT kResultUpdateFailed = static_cast<HRESULT>(0x80070207);   // cipher update
constexpr HRESULT kResultFinalFailed = static_cast<HRESULT>(0x800700EA);    // cipher or hash final
constexpr HRESULT kResultHashUpdateFailed = static_cast<HRESULT>(0x80071770);
constexpr HRESULT kResultBadCryptFlag = static_cast<HRESULT>(0x80070209);   // handle direction, HW alg

}  // namespace merro::crypto
