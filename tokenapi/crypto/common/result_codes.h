// Result codes of the host cryptography (contexts, RSA, random).
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
constexpr HRESULT kResultBadKey = static_cast<HRESULT>(0x80090003);         // key record unusable
constexpr HRESULT kResultBadLength = static_cast<HRESULT>(0x80090004);      // data too long for the key
constexpr HRESULT kResultPublicOpFailed = static_cast<HRESULT>(0x80071770);
constexpr HRESULT kResultRawOpRefused = static_cast<HRESULT>(0x80071771);
constexpr HRESULT kResultSignatureMismatch = static_cast<HRESULT>(0x80072025);
constexpr HRESULT kResultRandomFailed = static_cast<HRESULT>(0x80090020);   // generator failed

}  // namespace merro::crypto
