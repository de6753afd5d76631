// Opening and closing a token: the device context of one token, its device
// mutex, the reset of the token's security state and the host's external
// authentication.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

// Opens the token named pDeviceName (a device-interface path as listed by
// mr_EnumDevice): allocates a zero-filled context, opens the device, creates
// the device mutex named after the path's instance part, and under that
// mutex resets the token (GET DEVICE INFO, P1 = 1) and authenticates with
// MR_KEY_EXTERN. 0 and *ppDevCtx set, with secure messaging off.
//
// On any failure nothing stays open or allocated and *ppDevCtx is null:
// 0x80070057 for a name without "rev_" and the two "#" after it, else the
// folded result of the step that failed.
HRESULT mr_OpenDevice(const char* pDeviceName, DEV_CTX** ppDevCtx);

// Closes the device and the mutex handle under the device mutex and frees
// the context (its session key wiped). A null context is 0. When closing
// fails the context stays allocated, the device mutex is released, and a
// later call goes on from the step that failed.
HRESULT mr_CloseDevice(DEV_CTX* pDevCtx);
