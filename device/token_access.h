// How the device object's token members reach a listed token: its current
// context by name, and the secure-messaging session set up before PIN
// commands (external authentication with the per-token key 0x33, then a
// fresh session key).
#pragma once

#include <memory>
#include <vector>

#include "device/update_mutex_hold.h"
#include "foundation/platform.h"
#include "tokenapi/api/token_sequence_lock.h"
#include "tokenapi/api/token_types.h"

namespace merro::device {

class DeviceHandle;

inline constexpr BYTE kSessionAuthKey = 0x33;

// The listed token's current context; 0x80090016 when the token is not
// listed. `function` names the caller in the failure line.
HRESULT FindListedToken(DeviceHandle& handle, const char* pszDevName, const char* function,
                        DEV_CTX** ppDevCtx);

// ExternalAuth, then SetSessionKey. 0, or the first non-zero result as the
// token API gave it; `function` names the caller in the failure line.
HRESULT SetUpTokenSession(DEV_CTX* pDevCtx, const char* function);

// The token's sequence lock taken into *pLock (held until the caller's
// commands under the session are done), then SetUpTokenSession: the first
// failure, as those give it.
HRESULT LockedTokenSession(DEV_CTX* pDevCtx, merro::transport::TokenSequenceLock* pLock,
                           const char* function);

// FindListedToken, then LockedTokenSession on the context found.
HRESULT OpenTokenSession(DeviceHandle& handle, const char* pszDevName, const char* function,
                         merro::transport::TokenSequenceLock* pLock, DEV_CTX** ppDevCtx);

// What a refresh that must not wait holds: the device-update mutex, then
// the sequence lock of every attached token (released in the other order).
struct RefreshHold {
  std::unique_ptr<UpdateMutexHold> update;
  std::vector<std::unique_ptr<merro::transport::TokenSequenceLock>> tokens;
};

// Takes into *pHold the device-update mutex and the sequence lock of every
// attached token, each within dwWaitMs: S_OK when all are held (until
// *pHold goes); kTokenBusy, with nothing held, when another process
// refreshes or a sequence of another thread or process still runs on a
// token. The manager's refresh holds them, and tries again later instead
// of stalling its window.
HRESULT HoldTokensForRefresh(const DeviceHandle& handle, DWORD dwWaitMs, RefreshHold* pHold);

}  // namespace merro::device
