// The host's copy of a signature sequence with the hashing on the token.
//
// The token keeps one hashing state, and the device mutex is held per
// command, not per sequence: another process's sequence on the same token
// can replace the data between two of this key context's commands. The
// shadow hashes on the host what this context fed (SM2: SM3 over Z, then
// the data; RSA: the sequence's hash over the data), so the key objects
// can hold the token's digest and signature against it and refuse any
// that are over other data (MR_E_SIGN_DATA_MISMATCH).
#pragma once

#include <memory>

#include "foundation/platform.h"
#include "foundation/trace/trace.h"
#include "tokenapi/crypto/contexts/hash.h"

namespace merro::keyobjects {

class SignShadow {
 public:
  // Starts a sequence of the hash type; prefix (may be empty) is hashed
  // first. 0, or the failure of the host's hash context.
  HRESULT Start(BYTE hashType, const BYTE* prefix, DWORD prefixLen);
  // After the token was sent data: on success the shadow takes it too; on
  // a failure the token may hold an unknown part of it, and nothing it
  // answers for this sequence can be vouched for any more. Returns
  // tokenResult.
  HRESULT Fed(HRESULT tokenResult, const BYTE* data, DWORD len);
  // The digest of what was fed (the hash ends at the first call); false
  // when no sequence was started or it was lost.
  bool Digest(const BYTE** ppDigest, DWORD* pLen);
  // The token's digest (*pLen bytes in pDigest, capacity the room of the
  // caller's buffer) against the shadow's: 0 when they are equal, else
  // RefuseForeignResult's refusal.
  HRESULT CheckDigest(const TraceHelper& scope, BYTE* pDigest, DWORD capacity, DWORD* pLen);
  BYTE HashType() const { return m_hashType; }
  // The sequence is over: back to none.
  void End();

 private:
  struct HashFree {
    void operator()(merro::crypto::HASH_CTX* ctx) const { merro::crypto::Hash_Free(ctx); }
  };
  std::unique_ptr<merro::crypto::HASH_CTX, HashFree> m_hash;
  BYTE m_hashType = 0;
  bool m_finished = false;
  BYTE m_digest[64] = {};
  DWORD m_digestLen = 0;
};

// A token answer that is not over this context's data: wipes the output
// (capacity bytes), claims no length, logs step and returns
// MR_E_SIGN_DATA_MISMATCH.
HRESULT RefuseForeignResult(const TraceHelper& scope, const wchar_t* step, BYTE* pOut,
                            DWORD capacity, DWORD* pOutLen);

}  // namespace merro::keyobjects
