// Result codes of the key objects' own checks and host-side operations.
// Token commands and host routines are called through StepResult of
// tokenapi/commands/routine_steps.h, which folds the callee's result and
// logs it under the callee's name; a failed check is logged the same way.
#pragma once

#include "tokenapi/commands/routine_steps.h"

namespace merro::keyobjects {

using merro::commands::kResultBadArgument;
using merro::commands::kResultBadLength;
using merro::commands::kResultBufferTooSmall;
using merro::commands::StepResult;

constexpr HRESULT kResultBadAlgorithm = static_cast<HRESULT>(0x80070209);
constexpr HRESULT kResultHostEncryptFailed = static_cast<HRESULT>(0x80070207);
constexpr HRESULT kResultSm2VerifyFailed = static_cast<HRESULT>(0x80070212);

}  // namespace merro::keyobjects
