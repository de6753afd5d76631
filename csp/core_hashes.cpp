// Hashes, signing and verification.
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <utility>

#include "csp/core_call.h"
#include "csp/core_names.h"
#include "csp/cp_core.h"
#include "csp/handle_checks.h"
#include "csp/registries.h"
#include "csp/user_key.h"
#include "foundation/alg_ids.h"
#include "provider/container.h"
#include "provider/hash_handle.h"
#include "provider/key_handle.h"

namespace {

constexpr DWORD kSM2SignatureLength = 64;

// The checks of the hash functions that do not involve a key.
const merro::csp::OwnedHandleChecks kHashChecks{
    L"Check hProv IsKnown",      ERROR_INVALID_HANDLE, L"Check hHash IsKnown", ERROR_INVALID_HANDLE,
    L"Check hash->m_pContainer", ERROR_INVALID_HANDLE};

// The checks of a hash in signing and verification.
const merro::csp::OwnedHandleChecks kSignatureHashChecks{
    L"Check if it's valid container.", NTE_BAD_UID, L"Check if it's valid hash.", NTE_BAD_HASH,
    L"Is the hash handle belong to the provider?", NTE_BAD_HASH};

// A further argument that must be given (not null, not zero): its check
// and step text; each fails with 87.
struct ArgumentCheck {
  bool given;
  const wchar_t* step;
};

// The argument checks that come first in the hash functions: hProv, hHash,
// then the function's own further arguments in their order.
bool ArgumentsGiven(CoreCall& call, HCRYPTPROV hProv, HCRYPTHASH hHash,
                    std::initializer_list<ArgumentCheck> more) {
  if (!call.Check(hProv != 0, L"Check parameter hProv", ERROR_INVALID_PARAMETER) ||
      !call.Check(hHash != 0, L"Check parameter hHash", ERROR_INVALID_PARAMETER)) {
    return false;
  }
  for (const ArgumentCheck& c : more) {
    if (!call.Check(c.given, c.step, ERROR_INVALID_PARAMETER)) {
      return false;
    }
  }
  return true;
}

// The hash after those argument checks and the three handle checks; null
// when one failed.
HashHandle* CheckedHash(CoreCall& call, HCRYPTPROV hProv, HCRYPTHASH hHash,
                        std::initializer_list<ArgumentCheck> more = {}) {
  return ArgumentsGiven(call, hProv, hHash, more)
             ? LookUpOwned(call, g_vtrProvHandleSet, g_vtrHashHandleSet, hProv, hHash, kHashChecks)
             : nullptr;
}

// Both objects after the provider, hash and key checks (LookUpOwnedPair).
bool LookUpHashAndKey(CoreCall& call, HCRYPTPROV hProv, HCRYPTHASH hHash, HCRYPTKEY hKey,
                      const merro::csp::OwnedHandleChecks& hashChecks,
                      const merro::csp::OwnedHandleChecks& keyChecks, HashHandle** ppHash,
                      KeyHandle** ppKey) {
  return merro::csp::LookUpOwnedPair(call, g_vtrProvHandleSet, g_vtrHashHandleSet,
                                     g_vtrKeyHandleSet, hProv, hHash, hKey, hashChecks, keyChecks,
                                     ppHash, ppKey);
}

// A new hash of the provider handle, initialised for the algorithm; null
// when that failed (the failing check is the call's).
std::unique_ptr<HashHandle> NewInitialisedHash(CoreCall& call, HCRYPTPROV hProv, ALG_ID uAlgID,
                                               const wchar_t* newStep, const wchar_t* initStep) {
  std::unique_ptr<HashHandle> spHash(new (std::nothrow) HashHandle());
  if (!call.Check(spHash != nullptr, newStep, NTE_NO_MEMORY)) {
    return nullptr;
  }
  spHash->m_pContainer = g_vtrProvHandleSet.Lookup(hProv);
  if (!call.CheckResult(spHash->Init(uAlgID), initStep)) {
    return nullptr;
  }
  return spHash;
}

// The length of the signatures a container key makes: the modulus length
// for RSA; r and s of 32 bytes each for SM2, whose curve has one size
// whatever length a key object was given; 0 for a session key.
DWORD SignatureLength(const KeyHandle& key) {
  switch (key.m_dwKeyType) {
    case Container::KEYSETALGORITHM_RSA:
      return key.m_dwModulusBits / 8;
    case Container::KEYSETALGORITHM_SM2:
      return kSM2SignatureLength;
    default:
      return 0;
  }
}

// The checks and the signature of CPCoreSignHash; *pdwSigLen becomes the
// signature length as far as it was worked out.
void SignWithTemporaryKey(CoreCall& call, HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec,
                          BYTE* pbSignature, const DWORD* pdwCapacity, merro::csp::ScopedUserKey& key,
                          DWORD* pdwSigLen) {
  HashHandle* pHash = LookUpOwned(call, g_vtrProvHandleSet, g_vtrHashHandleSet, hProv, hHash,
                                  kSignatureHashChecks);
  if (pHash == nullptr ||
      !call.Check(merro::csp::NewUserKey("CPCoreGetUserKey", hProv, dwKeySpec,
                                         merro::csp::KeyPresence::FromRecord, key.Out()) != FALSE,
                  L"CPCoreGetUserKey", NTE_NO_KEY)) {
    return;
  }
  if (!merro::csp::IsKnownAndOwned(call, g_vtrKeyHandleSet, hProv, key.Get(),
                                   {nullptr, S_OK, L"Check if it's valid key.", NTE_BAD_UID,
                                    L"Is the key handle belong to the provider?", NTE_BAD_KEY})) {
    return;
  }
  KeyHandle* pKey = key.Object();
  *pdwSigLen = SignatureLength(*pKey);
  // Without a buffer the call asks for the length only.
  if (pbSignature == nullptr ||
      !call.Check(*pdwCapacity >= *pdwSigLen, L"Check pdwSigLen", ERROR_MORE_DATA)) {
    return;
  }
  DWORD dwWritten = *pdwCapacity;
  const HRESULT hResult = pKey->SignHashData(pHash, pbSignature, &dwWritten);
  if (call.Check(SUCCEEDED(hResult), L"SignHashData", hResult)) {
    *pdwSigLen = dwWritten;
  }
}

}  // namespace

BOOL CPCoreCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                      HCRYPTHASH* phHash) {
  CoreCall call("CPCoreCreateHash");
  TraceCoreArguments(CoreArguments::kCreateHash, {Algid, dwFlags});
  if (!call.Check(hProv != 0, L"Check parameter hProv", ERROR_INVALID_PARAMETER) ||
      !call.Check(phHash != nullptr, L"Check parameter phHash", ERROR_INVALID_PARAMETER) ||
      !call.Check(merro::csp::IsKnownProvHandle(hProv), L"Check hProv IsKnown",
                  ERROR_INVALID_PARAMETER)) {
    return call.Finish();
  }
  std::unique_ptr<HashHandle> spHash =
      NewInitialisedHash(call, hProv, Algid, L"new HashHandle", L"pHashHandle->Init");
  if (spHash != nullptr) {
    *phHash = merro::csp::AddHashHandle(std::move(spHash));
  }
  return call.Finish();
}

BOOL CPCoreHashData(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen,
                    DWORD dwFlags) {
  CoreCall call("CPCoreHashData");
  TraceCoreArguments(CoreArguments::kHashData, {dwDataLen, dwFlags});
  HashHandle* pHash = CheckedHash(call, hProv, hHash,
                                  {{dwDataLen != 0, L"Check parameter cbDataLen"},
                                   {pbData != nullptr, L"Check parameter pbData"}});
  if (pHash != nullptr &&
      call.Check(pHash->m_bFinal == FALSE, L"Check HCtx->bFinal", NTE_BAD_HASH_STATE)) {
    call.CheckResult(pHash->Update(pbData, dwDataLen), L"Check TK_HashCtxUpdate");
  }
  return call.Finish();
}

// Hashes the bytes of a triple-DES session key.
BOOL CPCoreHashSessionKey(HCRYPTPROV hProv, HCRYPTHASH hHash, HCRYPTKEY hKey, DWORD dwFlags) {
  CoreCall call("CPCoreHashSessionKey");
  TraceCoreArguments(CoreArguments::kHashSessionKey, {dwFlags});
  HashHandle* pHash = nullptr;
  KeyHandle* pKey = nullptr;
  if (!ArgumentsGiven(call, hProv, hHash, {{hKey != 0, L"Check parameter hKey"}}) ||
      !LookUpHashAndKey(call, hProv, hHash, hKey, kHashChecks,
                        {nullptr, S_OK, L"Check hKey IsKnown", ERROR_INVALID_HANDLE,
                         L"Check key->m_pContainer", ERROR_INVALID_HANDLE},
                        &pHash, &pKey) ||
      !call.Check(pHash->m_bFinal == FALSE, L"Check HCtx->bFinal", NTE_BAD_HASH_STATE) ||
      !call.Check(pKey->m_uAlgID != CALG_DES && pKey->m_uAlgID != CALG_RC4,
                  L"Unsupported algorithm", NTE_NOT_SUPPORTED) ||
      !call.Check(pKey->m_uAlgID == CALG_RC2 || pKey->m_uAlgID == CALG_3DES ||
                      pKey->m_uAlgID == CALG_3DES_112,
                  L"Only for session key", NTE_BAD_KEY)) {
    return call.Finish();
  }
  call.CheckResult(pHash->Update(pKey->m_stSymKey.pbData, pKey->m_stSymKey.cbData),
                   L"Check TK_HashCtxUpdate");
  return call.Finish();
}

// HP_ALGID, HP_HASHVAL (which finishes the hash) and HP_HASHSIZE; a null
// buffer asks for the size.
BOOL CPCoreGetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData,
                        DWORD* pdwDataLen, DWORD dwFlags) {
  CoreCall call("CPCoreGetHashParam");
  TraceCoreArguments(CoreArguments::kGetHashParam, {dwParam, LengthAt(pdwDataLen), dwFlags});
  HashHandle* pHash =
      CheckedHash(call, hProv, hHash, {{pdwDataLen != nullptr, L"Check parameter pdwDataLen"}});
  if (pHash == nullptr ||
      !call.Check(dwParam == HP_ALGID || dwParam == HP_HASHVAL || dwParam == HP_HASHSIZE,
                  L"Bad hash type", NTE_BAD_TYPE)) {
    return call.Finish();
  }
  DWORD dwNumber = 0;
  const BYTE* pbyValue = reinterpret_cast<const BYTE*>(&dwNumber);
  DWORD dwValueLen = sizeof dwNumber;
  if (dwParam == HP_HASHVAL) {
    if (pHash->m_bFinal == FALSE && !call.CheckResult(pHash->Final(), L"Check HashCtxFinal")) {
      return call.Finish();
    }
    pbyValue = pHash->m_pHashData;
    dwValueLen = pHash->m_dwHashLen;
  } else {
    dwNumber = dwParam == HP_ALGID ? pHash->m_uAlgID : pHash->m_dwHashLen;
  }
  if (pbData != nullptr) {
    if (!call.Check(*pdwDataLen >= dwValueLen, L"Check pcbDataLen", ERROR_INVALID_PARAMETER)) {
      return call.Finish();
    }
    std::memcpy(pbData, pbyValue, dwValueLen);
  }
  *pdwDataLen = dwValueLen;
  return call.Finish();
}

// Only the hash value can be set; it finishes the hash.
BOOL CPCoreSetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData,
                        DWORD dwFlags) {
  CoreCall call("CPCoreSetHashParam");
  TraceCoreArguments(CoreArguments::kSetHashParam, {dwParam, dwFlags});
  HashHandle* pHash =
      CheckedHash(call, hProv, hHash, {{pbData != nullptr, L"Check parameter pbData"}});
  if (pHash != nullptr && call.Check(dwParam == HP_HASHVAL, L"Not support", ERROR_NOT_SUPPORTED) &&
      call.Check(pHash->m_bFinal == FALSE, L"Check hash state", NTE_BAD_HASH_STATE)) {
    call.CheckResult(pHash->SetHashValue(pbData), L"SetHashData");
  }
  return call.Finish();
}

// The copy carries the value of a finished hash; an unfinished one is
// rebuilt from the source's kept data by HashHandle::Duplicate, or refused
// when that data did not all fit.
BOOL CPCoreDuplicateHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD* pdwReserved, DWORD dwFlags,
                         HCRYPTHASH* phHash) {
  CoreCall call("CPCoreDuplicateHash");
  TraceCoreArguments(CoreArguments::kDuplicateHash, {dwFlags});
  HashHandle* pSource =
      CheckedHash(call, hProv, hHash, {{phHash != nullptr, L"Check parameter phHash"}});
  if (pSource == nullptr) {
    return call.Finish();
  }
  std::unique_ptr<HashHandle> spCopy =
      NewInitialisedHash(call, hProv, pSource->m_uAlgID,
                         L"new HashHandle for phDupHashHandle failed", L"HashHandleInit");
  if (spCopy != nullptr &&
      call.CheckResult(pSource->Duplicate(spCopy.get()), L"TK_HashCtxDuplicate")) {
    *phHash = merro::csp::AddHashHandle(std::move(spCopy));
  }
  return call.Finish();
}

BOOL CPCoreDestroyHash(HCRYPTPROV hProv, HCRYPTHASH hHash) {
  CoreCall call("CPCoreDestroyHash");
  TraceCoreArguments(CoreArguments::kDestroyHash, {});
  if (CheckedHash(call, hProv, hHash) != nullptr) {
    merro::csp::RemoveHashHandle(hHash);
  }
  return call.FinishKeepingCallerError();
}

// Signs the hash with the container's key of that specification, through a
// temporary key object. A null buffer asks for the signature's length; a
// buffer too small for it gets ERROR_MORE_DATA and the length before the
// PIN or the token is asked anything.
BOOL CPCoreSignHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR szDescription,
                    DWORD dwFlags, BYTE* pbSignature, DWORD* pdwSigLen) {
  CoreCall call("CPCoreSignHash");
  TraceCoreArguments(CoreArguments::kSignHash, {dwKeySpec, dwFlags, LengthAt(pdwSigLen)});
  merro::csp::ScopedUserKey key(hProv);
  DWORD dwSigLen = 0;
  if (call.Check(hProv != 0 && hHash != 0 && pdwSigLen != nullptr, L"Check parameters",
                 ERROR_INVALID_PARAMETER) &&
      call.Check(dwKeySpec == AT_KEYEXCHANGE || dwKeySpec == AT_SIGNATURE, L"Check parameters",
                 ERROR_INVALID_PARAMETER)) {
    SignWithTemporaryKey(call, hProv, hHash, dwKeySpec, pbSignature, pdwSigLen, key, &dwSigLen);
  }
  if (pdwSigLen != nullptr) {
    *pdwSigLen = dwSigLen;
  }
  key.Release();
  return call.Finish();
}

// Verifies with the container's public key on the token; the caller's
// signature buffer is only read, and it must be of the key's signature
// length.
BOOL CPCoreVerifySignature(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbSignature,
                           DWORD dwSigLen, HCRYPTKEY hPubKey, LPCWSTR szDescription,
                           DWORD dwFlags) {
  CoreCall call("CPCoreVerifySignature");
  TraceCoreArguments(CoreArguments::kVerifySignature, {dwSigLen, dwFlags});
  HashHandle* pHash = nullptr;
  KeyHandle* pKey = nullptr;
  if (!call.Check(hProv != 0 && hHash != 0 && hPubKey != 0 && pbSignature != nullptr &&
                      dwSigLen != 0,
                  L"Check parameters", ERROR_INVALID_PARAMETER) ||
      !LookUpHashAndKey(call, hProv, hHash, hPubKey, kSignatureHashChecks,
                        {nullptr, S_OK, L"Check if it's valid key.", NTE_BAD_KEY,
                         L"Is the key handle belong to the provider?", NTE_BAD_KEY},
                        &pHash, &pKey)) {
    return call.Finish();
  }
  // Only a container key verifies, and only a signature of its length.
  const DWORD dwKeySigLen = SignatureLength(*pKey);
  if (!call.Check(dwKeySigLen != 0, L"Check key type", NTE_BAD_KEY) ||
      !call.Check(dwSigLen == dwKeySigLen, L"Check cbSigLen", NTE_BAD_SIGNATURE)) {
    return call.Finish();
  }
  DWORD dwHashSize = 0;
  DWORD dwLength = sizeof dwHashSize;
  if (!call.Check(CPCoreGetHashParam(hProv, hHash, HP_HASHSIZE,
                                     reinterpret_cast<BYTE*>(&dwHashSize), &dwLength, 0) != FALSE,
                  L"CPCoreGetHashParam(HP_HASHSIZE)", NTE_BAD_HASH)) {
    return call.Finish();
  }
  std::unique_ptr<BYTE[]> spHashValue(new (std::nothrow) BYTE[dwHashSize]);
  dwLength = dwHashSize;
  if (call.Check(spHashValue != nullptr, L"New buffer", E_OUTOFMEMORY) &&
      call.Check(CPCoreGetHashParam(hProv, hHash, HP_HASHVAL, spHashValue.get(), &dwLength, 0) !=
                     FALSE,
                 L"CPCoreGetHashParam(HP_HASHVAL)", NTE_BAD_HASH)) {
    const HRESULT hResult =
        pKey->VerifyData(pHash->m_uAlgID, spHashValue.get(), dwLength, pbSignature, dwSigLen);
    call.Check(SUCCEEDED(hResult), L"VerifyData", hResult);
  }
  return call.Finish();
}
