#include "tokenapi/crypto/contexts/hash.h"

#include <new>

#include "foundation/trace/trace.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/result_codes.h"

namespace merro::crypto {

void Sm3StateDeleter::operator()(SM3_CTX* state) const {
  // The SM3 final wipes and frees its state on every path, a null digest
  // included.
  SM3Final(state, nullptr);
}

DWORD HashDigestLength(BYTE hashType) {
  switch (hashType) {
    case MR_ALG_MD5:
      return kMd5DigestBytes;
    case MR_ALG_SHA1:
      return kSha1DigestBytes;
    case MR_ALG_SHA256:
      return kSha256DigestBytes;
    case MR_ALG_SHA512:
      return kSha512DigestBytes;
    case MR_ALG_SHA1_MD5:
      return kSha1DigestBytes + kMd5DigestBytes;
    case MR_ALG_SM3:
      return kSm3DigestBytes;
    default:
      return 0;
  }
}

namespace {

// Runs an init adapter into an owner; the adapter's name is the step text.
template <class State, class Owner>
bool InitInto(int (*init)(State**), Owner& owner) {
  State* state = nullptr;
  if (init(&state) != 1) {
    return false;
  }
  owner.reset(state);
  return true;
}

}  // namespace

HRESULT Hash_Init(HASH_CTX** ppHashCtx, BYTE nHashAlgid) {
  MR_TRACE("Hash_Init");
  MR_FAIL_IF(ppHashCtx == nullptr, L"CHECK ppHashCtx", kResultInvalidArg);
  std::unique_ptr<HASH_CTX> ctx(new (std::nothrow) HASH_CTX);
  MR_FAIL_IF(!ctx, L"new HASH_CTX", kResultNoMemory);
  switch (nHashAlgid) {
    case MR_ALG_MD5:
      MR_FAIL_IF(!InitInto(MD5Init, ctx->pMD5State), L"MD5Init", kResultSetupFailed);
      MR_LOG_STEP(L"MD5Init");
      break;
    case MR_ALG_SHA1:
    case MR_ALG_SHA1_MD5:
      MR_FAIL_IF(!InitInto(SHA1Init, ctx->pHashState), L"SHA1Init", kResultSetupFailed);
      MR_LOG_STEP(L"SHA1Init");
      if (nHashAlgid == MR_ALG_SHA1_MD5) {
        MR_FAIL_IF(!InitInto(MD5Init, ctx->pMD5State), L"MD5Init", kResultSetupFailed);
        MR_LOG_STEP(L"MD5Init");
      }
      break;
    case MR_ALG_SHA256:
      MR_FAIL_IF(!InitInto(SHA256Init, ctx->pHashState), L"SHA256Init", kResultSetupFailed);
      MR_LOG_STEP(L"SHA256Init");
      break;
    case MR_ALG_SHA512:
      MR_FAIL_IF(!InitInto(SHA512Init, ctx->pHashState), L"SHA512Init", kResultSetupFailed);
      MR_LOG_STEP(L"SHA512Init");
      break;
    case MR_ALG_SM3:
      MR_FAIL_IF(!InitInto(SM3Init, ctx->pSM3State), L"SM3Init", kResultSetupFailed);
      MR_LOG_STEP(L"SM3Init");
      break;
    default:
      MR_LOG_FAIL(L"CHECK nHashAlgid", L"hash type not supported", kResultBadAlgorithm);
      return kResultBadAlgorithm;
  }
  ctx->hashtype = nHashAlgid;
  *ppHashCtx = ctx.release();
  return S_OK;
}

HRESULT Hash_Update(HASH_CTX* pHashCtx, const BYTE* pData, DWORD nLen) {
  MR_TRACE("Hash_Update");
  MR_FAIL_IF(pHashCtx == nullptr, L"CHECK pHashCtx", kResultInvalidArg);
  MR_FAIL_IF(pData == nullptr, L"CHECK pData", kResultInvalidArg);
  MR_LOG_STEP(L"CHECK nLen");  // a zero length is accepted
  switch (pHashCtx->hashtype) {
    case MR_ALG_MD5:
      MR_FAIL_IF(MD5Update(pHashCtx->pMD5State.get(), pData, nLen) != 1, L"MD5Update",
                 kResultHashUpdateFailed);
      break;
    case MR_ALG_SHA1:
    case MR_ALG_SHA1_MD5:
      MR_FAIL_IF(SHA1Update(pHashCtx->pHashState.get(), pData, nLen) != 1, L"SHA1Update",
                 kResultHashUpdateFailed);
      if (pHashCtx->hashtype == MR_ALG_SHA1_MD5) {
        MR_FAIL_IF(MD5Update(pHashCtx->pMD5State.get(), pData, nLen) != 1, L"MD5Update",
                   kResultHashUpdateFailed);
      }
      break;
    case MR_ALG_SHA256:
      MR_FAIL_IF(SHA256Update(pHashCtx->pHashState.get(), pData, nLen) != 1, L"SHA256Update",
                 kResultHashUpdateFailed);
      break;
    case MR_ALG_SHA512:
      MR_FAIL_IF(SHA512Update(pHashCtx->pHashState.get(), pData, nLen) != 1, L"SHA512Update",
                 kResultHashUpdateFailed);
      break;
    case MR_ALG_SM3:
      MR_FAIL_IF(SM3Update(pHashCtx->pSM3State.get(), pData, nLen) != 1, L"SM3Update",
                 kResultHashUpdateFailed);
      break;
    default:
      MR_LOG_FAIL(L"CHECK pHashCtx->hashtype", L"hash type not supported", kResultBadAlgorithm);
      return kResultBadAlgorithm;
  }
  return S_OK;
}

HRESULT Hash_Final(HASH_CTX* pHashCtx, BYTE* pDigest, DWORD* pnDigestLen) {
  MR_TRACE("Hash_Final");
  MR_FAIL_IF(pHashCtx == nullptr, L"CHECK pHashCtx", kResultInvalidArg);
  MR_FAIL_IF(pDigest == nullptr, L"CHECK pDigest", kResultInvalidArg);
  MR_FAIL_IF(pnDigestLen == nullptr, L"CHECK pnDigestLen", kResultInvalidArg);
  const DWORD needed = HashDigestLength(pHashCtx->hashtype);
  if (needed != 0 && *pnDigestLen < needed) {
    *pnDigestLen = needed;
    MR_LOG_FAIL(L"CHECK pnDigestLen", L"*pnDigestLen < digest length", kResultBufferTooSmall);
    return kResultBufferTooSmall;
  }

  // From here on the context ends whatever happens; each final consumes the
  // state it is given.
  std::unique_ptr<HASH_CTX> ctx(pHashCtx);
  switch (ctx->hashtype) {
    case MR_ALG_MD5:
      *pnDigestLen = kMd5DigestBytes;
      MR_FAIL_IF(MD5Final(ctx->pMD5State.release(), pDigest) != 1, L"MD5Final",
                 kResultFinalFailed);
      MR_LOG_STEP(L"MD5Final");
      break;
    case MR_ALG_SHA1:
    case MR_ALG_SHA1_MD5:
      *pnDigestLen = kSha1DigestBytes;
      MR_FAIL_IF(SHA1Final(ctx->pHashState.release(), pDigest) != 1, L"SHA1Final",
                 kResultFinalFailed);
      MR_LOG_STEP(L"SHA1Final");
      if (ctx->hashtype == MR_ALG_SHA1_MD5) {
        *pnDigestLen = kSha1DigestBytes + kMd5DigestBytes;
        MR_FAIL_IF(MD5Final(ctx->pMD5State.release(), pDigest + kSha1DigestBytes) != 1,
                   L"MD5Final", kResultFinalFailed);
        MR_LOG_STEP(L"MD5Final");
      }
      break;
    case MR_ALG_SHA256:
      *pnDigestLen = kSha256DigestBytes;
      MR_FAIL_IF(SHA256Final(ctx->pHashState.release(), pDigest) != 1, L"SHA256Final",
                 kResultFinalFailed);
      MR_LOG_STEP(L"SHA256Final");
      break;
    case MR_ALG_SHA512:
      *pnDigestLen = kSha512DigestBytes;
      MR_FAIL_IF(SHA512Final(ctx->pHashState.release(), pDigest) != 1, L"SHA512Final",
                 kResultFinalFailed);
      MR_LOG_STEP(L"SHA512Final");
      break;
    case MR_ALG_SM3:
      *pnDigestLen = kSm3DigestBytes;
      MR_FAIL_IF(SM3Final(ctx->pSM3State.release(), pDigest) != 1, L"SM3Final",
                 kResultFinalFailed);
      MR_LOG_STEP(L"SM3Final");
      break;
    default:
      MR_LOG_FAIL(L"CHECK pHashCtx->hashtype", L"hash type not supported", kResultBadAlgorithm);
      return kResultBadAlgorithm;
  }
  return S_OK;
}

void Hash_Free(HASH_CTX* pHashCtx) {
  MR_TRACE("Hash_Free");
  delete pHashCtx;
}

HRESULT Hash_Digest(BYTE nHashAlgid, const BYTE* pIndata, DWORD nInlen, BYTE* pOutdata,
                    DWORD* pOutlen) {
  MR_TRACE("Hash_Digest");
  MR_FAIL_IF(pIndata == nullptr, L"CHECK pIndata", kResultInvalidArg);
  MR_FAIL_IF(pOutdata == nullptr, L"CHECK pOutdata", kResultInvalidArg);
  MR_LOG_STEP(L"CHECK nInlen");  // any length is accepted
  MR_FAIL_IF(pOutlen == nullptr, L"CHECK pOutlen", kResultInvalidArg);
  MR_FAIL_IF(nHashAlgid != MR_ALG_MD5, L"CHECK nHashAlgid", kResultBadAlgorithm);
  MD5Digest(pIndata, nInlen, pOutdata);
  *pOutlen = kMd5DigestBytes;
  return S_OK;
}

}  // namespace merro::crypto
