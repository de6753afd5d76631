// HashHandle: the object behind a hash handle of the provider. It computes
// one digest for one Container: MD5, SHA-1, SHA-1+MD5 and SHA-256 in software
// through the token API's hash front end, SM3 inside the token through the
// container key's context, so the token can later sign exactly what it
// hashed. Beside the digest it keeps the first 24576 bytes of the hashed data:
// the transaction-message signing rules must see the source text itself.
//
// Made with new only (it is over 24 KB). Calling order: set m_pContainer,
// Init; Update while m_bFinal is clear; Final (or SetHashValue instead of
// both); read the fields; delete.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>

#include "device/dev_ctx_lease.h"
#include "tokenapi/transport/device_ctx.h"

struct HASH_HANDLE;

namespace merro::provider {

class Container;

constexpr DWORD HASH_SOURCE_DATA_MAX = 24576;

// The token key context a digest runs on, with the lease on its token's
// context. A duplicate of a hash shares it with its source; the last holder
// releases it (AsymKeyFinal) exactly once.
class DigestKeyContext {
 public:
  DigestKeyContext(merro::device::DevCtxLease lease, void* pKeyCtx) noexcept
      : m_lease(std::move(lease)), m_pKeyCtx(pKeyCtx) {}
  ~DigestKeyContext();
  DigestKeyContext(const DigestKeyContext&) = delete;
  DigestKeyContext& operator=(const DigestKeyContext&) = delete;

  void* get() const { return m_pKeyCtx; }
  const merro::device::DevCtxLease& lease() const { return m_lease; }
  // Whether the token context the digest runs in is still its token's
  // current one; a retired one must not be sent a command.
  bool IsCurrent() const { return m_lease.IsCurrent(); }
  // Counts what changed the token's digest (data fed, a restart). A hash
  // that shares the context and did not make the latest change holds a
  // digest that another hash fed too.
  ULONGLONG NoteChange() { return ++m_ullChanges; }
  ULONGLONG Changes() const { return m_ullChanges; }

 private:
  merro::device::DevCtxLease m_lease;
  void* m_pKeyCtx;
  ULONGLONG m_ullChanges = 0;
};

// A shared holder of a context InitDigestKeyCtx made; null when memory ran
// out, the context then released at once.
std::shared_ptr<DigestKeyContext> MakeDigestKeyContext(merro::device::DevCtxLease lease,
                                                       void* pKeyCtx) noexcept;

class HashHandle {
 public:
  HashHandle();
  virtual ~HashHandle();
  HashHandle(const HashHandle&) = delete;
  HashHandle& operator=(const HashHandle&) = delete;

  HRESULT Init(ALG_ID uAlgID);
  HRESULT Update(const BYTE* pData, DWORD dwDataLen);
  HRESULT Final();
  // Takes m_dwHashLen bytes as the finished digest.
  HRESULT SetHashValue(const BYTE* pData);
  // Copies this hash into a handle the caller initialised with the same
  // algorithm: value, length, final flag and the digest key context.
  HRESULT Duplicate(HashHandle* pDstHashHandle);
  HRESULT DuplicateContext(HashHandle* pOutHashHandle);
  // Whether m_bySourceData is everything this hash's digest was fed, so
  // that the kept text may stand for the digest (a transaction message is
  // shown and signed as that text). Not so for data beyond the kept limit,
  // a duplicate whose digest holds its source's data, or an SM3 digest
  // another hash sharing it has fed since.
  bool SourceDataIsAllHashed() const;
  // Whether the digest was fed any data, the kept copy's or other.
  bool HoldsHashedData() const {
    return m_dwCurrentSourceDataSize != 0 || m_bDigestBeyondSourceData;
  }
  // Releases a digest key context with AsymKeyFinal when not null; S_OK.
  static HRESULT DestroyContext(void* pKeyCtx);
  // One-shot MD5 on a token context: a new 16-byte buffer (array-new).
  static HRESULT MD5Data(DEV_CTX* pDevCtx, const BYTE* pbyData, DWORD dwDataSize,
                         BYTE** ppbyHashData, DWORD* pdwHashDataSize);

  // The provider handle this hash belongs to; not owned.
  Container* m_pContainer = nullptr;
  ALG_ID m_uAlgID = 0;
  DWORD m_dwHashLen = 0;
  // The digest value, m_dwHashLen bytes (array-new).
  BYTE* m_pHashData = nullptr;
  BOOL m_bFinal = FALSE;
  // The digest was given whole: no source data stands behind it.
  BOOL m_bHashValueSet = FALSE;
  // A prefix of the hashed data, complete exactly while
  // m_bSourceDataComplete is TRUE.
  BYTE m_bySourceData[HASH_SOURCE_DATA_MAX] = {};
  // Bytes hashed since Init, counted beyond the buffer too.
  DWORD m_dwCurrentSourceDataSize = 0;
  BOOL m_bSourceDataComplete = FALSE;
  // The digest holds data that was not hashed through this handle's Update
  // (a duplicate's digest holds its source's): m_bySourceData is not all of
  // it.
  BOOL m_bDigestBeyondSourceData = FALSE;
  // The container key's context: drives the SM3 digest on the token and its
  // signature. Shared with duplicates.
  std::shared_ptr<DigestKeyContext> m_pDigestKeyCtx;
  // The context's change count after this hash last changed the SM3
  // digest itself.
  ULONGLONG m_ullDigestChange = 0;
  // The software hash context of the other algorithms; released by Final
  // (HashFinal) or by the destructor.
  HASH_HANDLE* m_pHashCtx = nullptr;

 private:
  // Copies data into m_bySourceData while it all fits, and counts it.
  void RecordSourceData(const BYTE* pData, DWORD dwDataLen);
  // S_OK while the on-token digest may be sent a command;
  // NTE_BAD_HASH_STATE when it has no context or a refresh retired it.
  HRESULT CheckTokenDigest() const;
  // Hashes data into this handle's software context.
  HRESULT FeedSoftwareHash(const BYTE* pData, DWORD dwDataLen);
  // Starts the token's digest again and feeds it the kept source data.
  HRESULT RestartTokenDigest();
  // Ends a software hash context that no Final consumed (HashFinal into a
  // scratch buffer) and clears the pointer.
  static void ReleaseSoftwareHash(HASH_HANDLE** ppHashCtx);
};

}  // namespace merro::provider
