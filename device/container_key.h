// How the device object's key operations reach one of a container's key
// pairs: the container found by name, the key file and token key type of a
// key specification, a key context on it that is always released, and the
// new buffer an operation hands its result out in.
#pragma once

#include "device/dev_ctx_lease.h"
#include "foundation/platform.h"
#include "tokenapi/api/token_types.h"

namespace merro::device {

class DeviceHandle;

// Not a key specification but a sentinel in its place (0, which is neither
// AT_KEYEXCHANGE nor AT_SIGNATURE): "the digest's own key", which the
// container's record decides: the signature key, or the exchange key of a
// container that has no signature key.
inline constexpr DWORD kNoKeySpecForDigest = 0;

// A container's key pair as the token API addresses it.
struct ContainerKey {
  DEV_CTX* pDevCtx = nullptr;  // the token's current context, or the lease's
  DWORD dwKeySpec = 0;         // AT_SIGNATURE or AT_KEYEXCHANGE
  WORD wKeyFID = 0;            // SignKeyFID for AT_SIGNATURE, else ExchangeKeyFID
  BYTE byKeyType = 0;          // MR_ALG_SM2, MR_ALG_RSA1024, MR_ALG_RSA2048
  DWORD dwKeyBits = 0;
};

// Finds the container and its key of dwKeySpec (kNoKeySpecForDigest: the
// signature key unless the record names none). With a lease, the token's
// context is lent to it and the key uses that. Failures are logged under
// `function`: the container not listed gives notFound; the key type the
// folded result of GetKeyType (0x80070057 for a key specification other
// than 1 or 2, 0x8009000D for a record that names no such key).
HRESULT FindContainerKey(DeviceHandle& handle, const char* pszDevName,
                         const char* pszContainerName, DWORD dwKeySpec, HRESULT notFound,
                         const char* function, ContainerKey* pKey, DevCtxLease* pLease = nullptr);

// A key context of the token API, released with AsymKeyFinal when it goes
// unless released or handed on before.
class ScopedKeyContext {
 public:
  ScopedKeyContext() = default;
  ~ScopedKeyContext();
  ScopedKeyContext(const ScopedKeyContext&) = delete;
  ScopedKeyContext& operator=(const ScopedKeyContext&) = delete;

  // AsymKeyInit on the key; a context it returned with a failure is
  // released too. The folded result, logged under `function`.
  HRESULT Open(const ContainerKey& key, const char* function);
  void* get() const { return m_pKeyCtx; }
  // Hands the context on: the caller releases it from now on.
  void* release();

 private:
  void* m_pKeyCtx = nullptr;
};

// FindContainerKey, then pKeyCtx->Open on the key: the first failure. The
// lease, when given, must outlive the key context.
HRESULT OpenContainerKey(DeviceHandle& handle, const char* pszDevName,
                         const char* pszContainerName, DWORD dwKeySpec, HRESULT notFound,
                         const char* function, ContainerKey* pKey, ScopedKeyContext* pKeyCtx,
                         DevCtxLease* pLease = nullptr);

// The first `length` bytes of `data` in a new buffer (array new) for the
// caller, who frees it: 0x8007000E when none can be had; the out-parameters
// are written only on success.
HRESULT HandOutCopy(const BYTE* data, DWORD length, BYTE** ppbyOut, DWORD* pdwOutSize,
                    const char* function);

}  // namespace merro::device
