// Software hash contexts: one init / update / final discipline over MD5,
// SHA-1, SHA-256, SHA-512, SHA-1+MD5 (36 bytes) and SM3, chosen by hash type
// (algorithms.h), and the one-shot MD5 digest.
#pragma once

#include <memory>

#include "foundation/platform.h"
#include "tokenapi/crypto/digest/sha.h"
#include "tokenapi/crypto/md5/md5.h"
#include "tokenapi/crypto/sm3/sm3.h"

namespace merro::crypto {

struct Sm3StateDeleter {
  void operator()(SM3_CTX* state) const;
};
using Sm3StatePtr = std::unique_ptr<SM3_CTX, Sm3StateDeleter>;

// The states of one hash: SHA-1/256/512 in pHashState (type 14: its SHA-1
// half), MD5 in pMD5State (types 10 and 14), SM3 in pSM3State. Whatever a
// final has not consumed is freed with the context.
struct HASH_CTX {
  ShaStatePtr pHashState;
  Md5Ptr pMD5State;
  Sm3StatePtr pSM3State;
  BYTE hashtype = 0;
};

// Digest length of a hash type; 0 for an unknown type.
DWORD HashDigestLength(BYTE hashType);

// Makes a context for hash type 10, 11, 12, 13, 14 or 18 and stores it in
// *ppHashCtx; on failure nothing is stored.
HRESULT Hash_Init(HASH_CTX** ppHashCtx, BYTE nHashAlgid);
HRESULT Hash_Update(HASH_CTX* pHashCtx, const BYTE* pData, DWORD nLen);
// Writes the digest. *pnDigestLen holds the room of pDigest on entry and
// the digest length on return. A null context, digest or length pointer, or
// short room (0x80070003, needed length in *pnDigestLen) ends nothing; past
// these checks the context is freed on every path.
HRESULT Hash_Final(HASH_CTX* pHashCtx, BYTE* pDigest, DWORD* pnDigestLen);
// Frees a context that did not reach its final.
void Hash_Free(HASH_CTX* pHashCtx);

// One-shot MD5 of pIndata into pOutdata (16 bytes); *pOutlen = 16. Hash
// types other than MD5 are refused (0x80090029).
HRESULT Hash_Digest(BYTE nHashAlgid, const BYTE* pIndata, DWORD nInlen, BYTE* pOutdata,
                    DWORD* pOutlen);

}  // namespace merro::crypto
