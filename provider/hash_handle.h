// HashHandle: the object behind a hash handle of the provider. It computes
// one digest for one Container: MD5, SHA-1, SHA-1+MD5 and SHA-256 in software
// through the token API's hash front end, SM3 inside the token with the
// container's key, so the token signs exactly what it hashed. Beside the
// digest it keeps the first 24576 bytes of the hashed data: the
// transaction-message signing rules must see the source text itself.
//
// The token has one digest for every process that uses it, so an SM3 hash
// keeps all its data on the host and has the token digest it (and sign it)
// in one sequence when the value or the signature is asked for. Only data
// beyond a generous bound is streamed into the token's digest as it comes,
// on a key context the hash holds across calls.
//
// Made with new only (it is over 24 KB). Calling order: set m_pContainer,
// Init; Update while m_bFinal is clear; Final (or SetHashValue instead of
// both); read the fields; delete.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <vector>

#include "device/dev_ctx_lease.h"
#include "tokenapi/api/token_types.h"

struct HASH_HANDLE;

namespace merro::provider {

class Container;

constexpr DWORD HASH_SOURCE_DATA_MAX = 24576;
// How much of an SM3 hash's data is kept on the host for the token to
// digest in one sequence; beyond it the digest streams to the token.
constexpr DWORD HASH_HOST_DIGEST_MAX = 4u * 1024 * 1024;

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
  // An SM3 hash whose data is all in m_vHostDigestData: the token digests
  // it when the value or a signature is asked for.
  bool DigestKeptOnHost() const;
  // An SM3 hash whose digest runs on the token across calls.
  bool DigestStreamsToToken() const;
  // Takes the digest the token computed over m_vHostDigestData: an
  // unfinished hash is finished with it; a finished one must hold that
  // value already (NTE_BAD_HASH otherwise: a signature over it would not
  // be over the value the caller read).
  HRESULT TakeTokenDigest(const BYTE* pbyDigest, DWORD dwDigestSize);
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
  // Everything an SM3 hash was fed (a duplicate's, its source's too),
  // while it is within m_dwHostDigestMax bytes.
  std::vector<BYTE> m_vHostDigestData;
  DWORD m_dwHostDigestMax = HASH_HOST_DIGEST_MAX;
  // The container key's context: drives a streamed SM3 digest on the token
  // and its signature. Shared with duplicates. A software hash holds the
  // one its Init made; an SM3 hash only while its digest streams.
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
  // The container key's context with the token's authentication and a
  // fresh session key done on its token context.
  HRESULT OpenDigestKeyContext(std::shared_ptr<DigestKeyContext>* pspKeyCtx) const;
  // Adds data to m_vHostDigestData; E_OUTOFMEMORY leaves it as it was.
  HRESULT KeepHostDigestData(const BYTE* pData, DWORD dwDataLen);
  // Data that does not fit the host bound: starts the token's digest over
  // the kept data on a context the hash then holds, and empties the copy.
  HRESULT StreamKeptDataToToken();
  // Ends a software hash context that no Final consumed (HashFinal into a
  // scratch buffer) and clears the pointer.
  static void ReleaseSoftwareHash(HASH_HANDLE** ppHashCtx);
};

}  // namespace merro::provider
