// Encryption, decryption and random data.
//
// A session key's cipher runs across calls: the first call with the key
// starts it, every call feeds it, a call with Final ends it (a block cipher
// adds its padding block then). An encryption knows its exact output length
// before it ciphers, so a buffer that is too short is refused before the
// cipher or a hash has taken anything, and a call without a buffer (pbData
// null) is answered with that length. A decryption call without Final takes
// whole blocks only, so that its plaintext fits its buffer. The key's
// SessionCipherBlocks (provider/session_cipher_blocks.h) keeps the block
// counts across the calls and explains the split blocks.
//
// RSA data crosses the CryptoAPI boundary least significant byte first,
// while the key objects work most significant byte first; SM2 and session
// ciphertexts cross as they are.
#include <climits>
#include <cstring>

#include "csp/core_call.h"
#include "csp/core_names.h"
#include "csp/cp_core.h"
#include "csp/handle_checks.h"
#include "csp/registries.h"
#include "foundation/alg_ids.h"
#include "foundation/misc/byte_order.h"
#include "foundation/secret_bytes.h"
#include "provider/container.h"
#include "provider/hash_handle.h"
#include "provider/key_handle.h"

using merro::SecretBytes;
using merro::provider::kSm2CipherOverhead;
using merro::provider::SessionCipherBlocks;

namespace {

bool IsSessionAlgorithm(ALG_ID uAlgID) {
  return uAlgID == CALG_DES || uAlgID == CALG_3DES || uAlgID == CALG_3DES_112 ||
         uAlgID == CALG_RC4;
}

bool IsCipherAlgorithm(ALG_ID uAlgID) {
  return IsSessionAlgorithm(uAlgID) || uAlgID == CALG_RSA_SIGN || uAlgID == CALG_RSA_KEYX ||
         uAlgID == CALG_SM2_SIGN || uAlgID == CALG_SM2_KEYX;
}

// The key of a cipher call: registered, of hProv, of an algorithm that
// ciphers. Null when a check failed.
KeyHandle* LookUpCipherKey(CoreCall& call, HCRYPTPROV hProv, HCRYPTKEY hKey) {
  KeyHandle* pKey =
      LookUpOwned(call, g_vtrProvHandleSet, g_vtrKeyHandleSet, hProv, hKey,
                  {L"Check hProv IsKnown", ERROR_INVALID_HANDLE, L"Check hKey IsKnown",
                   ERROR_INVALID_HANDLE, L"Check key->m_pContainer", ERROR_INVALID_HANDLE});
  if (pKey == nullptr ||
      !call.Check(pKey->m_uAlgID != CALG_RC2, L"Unsupported RC2 algorithm", NTE_NOT_SUPPORTED) ||
      !call.Check(IsCipherAlgorithm(pKey->m_uAlgID), L"Unsupported algorithm", NTE_BAD_ALGID)) {
    return nullptr;
  }
  return pKey;
}

// The hash a cipher call feeds: registered, of hProv (so that it is not
// refused only after the data was ciphered), not finished.
bool CheckFedHash(CoreCall& call, HCRYPTPROV hProv, HCRYPTHASH hHash) {
  return merro::csp::IsKnownAndOwned(call, g_vtrHashHandleSet, hProv, hHash,
                                     {nullptr, S_OK, L"Check hHash IsKnown", ERROR_INVALID_HANDLE,
                                      L"Check hash->m_pContainer", ERROR_INVALID_HANDLE}) &&
         call.Check(!g_vtrHashHandleSet.Lookup(hHash)->m_bFinal, L"Check hHash state",
                    NTE_BAD_HASH_STATE);
}

// The checks of both directions, in order: the handles given, the data
// argument (each direction's own test), the key, then the hash when given.
// The key when all passed, else null.
KeyHandle* CheckCipherCall(CoreCall& call, HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash,
                           bool bDataGiven, const wchar_t* dataStep) {
  if (!call.Check(hProv != 0, L"Check parameter hProv", ERROR_INVALID_PARAMETER) ||
      !call.Check(hKey != 0, L"Check parameter hKey", ERROR_INVALID_PARAMETER) ||
      !call.Check(bDataGiven, dataStep, ERROR_INVALID_PARAMETER)) {
    return nullptr;
  }
  KeyHandle* pKey = LookUpCipherKey(call, hProv, hKey);
  if (pKey == nullptr || (hHash != 0 && !CheckFedHash(call, hProv, hHash))) {
    return nullptr;
  }
  return pKey;
}

// Feeds data to the hash; a failure fails the call with the code the hash
// call left.
bool FeedHash(CoreCall& call, HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbData,
              DWORD dwDataLen) {
  const BOOL bHashed = CPCoreHashData(hProv, hHash, pbData, dwDataLen, 0);
  const HRESULT hHashCode = static_cast<HRESULT>(::GetLastError());
  return call.Check(bHashed != FALSE, L"Check CPCoreHashData", hHashCode);
}

DWORD BlockBytes(const KeyHandle& key) { return key.m_dwBlockBits / 8; }

// What an encryption with this key writes for dwDataLen input bytes.
ULONGLONG EncryptedLength(const KeyHandle& key, DWORD dwDataLen, BOOL bFinal) {
  if (!IsSessionAlgorithm(key.m_uAlgID)) {
    return key.m_dwKeyType == Container::KEYSETALGORITHM_RSA ? key.m_dwModulusBits / 8
                                                             : dwDataLen + ULONGLONG{kSm2CipherOverhead};
  }
  return key.m_cipherBlocks.EncryptedLength(BlockBytes(key), dwDataLen, bFinal != FALSE,
                                            key.m_pEvpCtx != nullptr);
}

// The session key's cipher in one direction: started when none runs, fed,
// ended with Final; the outputs joined in *pOut.
struct SessionSteps {
  HRESULT (KeyHandle::*init)();
  HRESULT (KeyHandle::*update)(const BYTE*, DWORD, BYTE**, DWORD*);
  HRESULT (KeyHandle::*final)(BYTE**, DWORD*);
  const wchar_t* initStep;
  const wchar_t* updateStep;
  const wchar_t* finalStep;
  // Whether the cipher holds its last whole block back (decryption).
  bool bHoldsLastBlock;
};
constexpr SessionSteps kEncryptSteps{&KeyHandle::SymEncryptInit,  &KeyHandle::SymEncryptUpdate,
                                     &KeyHandle::SymEncryptFinal, L"Key->SymEncryptInit",
                                     L"key->SymEncryptUpdate",    L"key->SymEncryptFinal",
                                     false};
constexpr SessionSteps kDecryptSteps{&KeyHandle::SymDecryptInit,  &KeyHandle::SymDecryptUpdate,
                                     &KeyHandle::SymDecryptFinal, L"Key->SymDecryptInit",
                                     L"key->SymDecryptUpdate",    L"key->SymDecryptFinal",
                                     true};

// Whether the call feeds a block cipher that holds its last block back a
// copy of that block after the data.
bool FeedsSpareBlock(const SessionSteps& steps, const KeyHandle& key, BOOL bFinal) {
  return SessionCipherBlocks::FeedsSpareBlock(steps.bHoldsLastBlock, BlockBytes(key),
                                              bFinal != FALSE);
}

bool RunSessionCipher(CoreCall& call, const SessionSteps& steps, KeyHandle& key,
                      const BYTE* pbData, DWORD dwDataLen, BOOL bFinal, SecretBytes* pOut) {
  if (key.m_pEvpCtx == nullptr) {
    const HRESULT hInit = (key.*steps.init)();
    if (!call.Check(SUCCEEDED(hInit), steps.initStep, hInit)) {
      return false;
    }
    key.m_cipherBlocks.Reset();
  }
  const DWORD dwBlock = BlockBytes(key);
  // The caller checked that the data is whole blocks, so its last block is
  // there to copy.
  SecretBytes fed;
  const BYTE* pbyFed = pbData;
  DWORD dwFed = dwDataLen;
  const bool bSpareBlock = FeedsSpareBlock(steps, key, bFinal);
  if (bSpareBlock) {
    if (!call.Check(SessionCipherBlocks::WithSpareBlock(pbData, dwDataLen, dwBlock, &fed),
                    L"New buffer", E_OUTOFMEMORY)) {
      return false;
    }
    pbyFed = fed.get();
    dwFed = fed.size();
  }
  SecretBytes updated;
  const HRESULT hUpdate = (key.*steps.update)(pbyFed, dwFed, updated.Out(), updated.Length());
  if (!call.Check(SUCCEEDED(hUpdate), steps.updateStep, hUpdate)) {
    return false;
  }
  // What the copy fed by the call before gave comes first; it is dropped.
  const DWORD dwDropped =
      key.m_cipherBlocks.InputFed(dwBlock, dwDataLen, bSpareBlock, updated.size());
  SecretBytes last;
  if (bFinal) {
    const HRESULT hFinal = (key.*steps.final)(last.Out(), last.Length());
    key.m_cipherBlocks.Reset();  // the cipher has ended, whatever it answered
    if (!call.Check(SUCCEEDED(hFinal), steps.finalStep, hFinal)) {
      return false;
    }
  }
  const DWORD dwUpdated = updated.size() - dwDropped;
  const ULONGLONG ullJoined = ULONGLONG{dwUpdated} + last.size();
  if (!call.Check(ullJoined <= ULONG_MAX && pOut->Allocate(static_cast<DWORD>(ullJoined)),
                  L"New buffer", E_OUTOFMEMORY)) {
    return false;
  }
  if (dwUpdated != 0) {
    std::memcpy(pOut->get(), updated.get() + dwDropped, dwUpdated);
  }
  if (last.size() != 0) {
    std::memcpy(pOut->get() + dwUpdated, last.get(), last.size());
  }
  return true;
}

void Encrypt(CoreCall& call, HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL bFinal,
             BYTE* pbData, DWORD* pdwDataLen, DWORD dwBufLen) {
  KeyHandle* pKey = CheckCipherCall(call, hProv, hKey, hHash,
                                    pdwDataLen != nullptr && *pdwDataLen != 0,
                                    L"Check *pcbDataLen");
  if (pKey == nullptr) {
    return;
  }

  const DWORD dwDataLen = *pdwDataLen;
  const bool bSession = IsSessionAlgorithm(pKey->m_uAlgID);
  const ULONGLONG ullOutLen = EncryptedLength(*pKey, dwDataLen, bFinal);
  if (pbData == nullptr) {
    // A size query: the length only; nothing is ciphered or hashed.
    if (call.Check(ullOutLen <= ULONG_MAX, L"Check dwEncryptDataLen", ERROR_INVALID_PARAMETER)) {
      *pdwDataLen = static_cast<DWORD>(ullOutLen);
    }
    return;
  }
  if (!call.Check(ullOutLen <= dwBufLen,
                  bSession ? L"Check cbBufLen <\u00A1\u00A1dwBlockSize"
                           : L"Check cbBufLen <\u00A1\u00A1dwEncryptDataLen",
                  ERROR_INVALID_PARAMETER)) {
    return;
  }

  SecretBytes output;
  if (bSession) {
    if (!RunSessionCipher(call, kEncryptSteps, *pKey, pbData, dwDataLen, bFinal, &output)) {
      return;
    }
  } else {
    const HRESULT hEncrypt =
        pKey->AsymEncrypt(pbData, dwDataLen, output.Out(), output.Length());
    if (!call.Check(SUCCEEDED(hEncrypt), L"key->AsymEncrypt", hEncrypt)) {
      return;
    }
    if (pKey->m_dwKeyType == Container::KEYSETALGORITHM_RSA) {
      SwapByteOrder(output.get(), output.size());
    }
  }
  // The hash takes the plaintext, still in the caller's buffer, once the
  // cipher has taken it: an encryption the cipher refuses leaves the hash as
  // it was, so that the call can be repeated.
  if (call.Check(output.size() <= dwBufLen, L"Check cbBufLen <\u00A1\u00A1dwEncryptDataLen",
                 ERROR_INVALID_PARAMETER) &&
      (hHash == 0 || FeedHash(call, hProv, hHash, pbData, dwDataLen))) {
    if (output.size() != 0) {
      std::memcpy(pbData, output.get(), output.size());
    }
    *pdwDataLen = output.size();
  }
}

void Decrypt(CoreCall& call, HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL bFinal,
             BYTE* pbData, DWORD* pdwDataLen) {
  // The buffer is read and written whatever the key: it must be there.
  KeyHandle* pKey = CheckCipherCall(call, hProv, hKey, hHash,
                                    pbData != nullptr && pdwDataLen != nullptr,
                                    L"Check parameter pbData");
  if (pKey == nullptr) {
    return;
  }

  const DWORD dwDataLen = *pdwDataLen;
  SecretBytes plain;
  if (IsSessionAlgorithm(pKey->m_uAlgID)) {
    if (FeedsSpareBlock(kDecryptSteps, *pKey, bFinal) &&
        !call.Check(dwDataLen != 0 && dwDataLen % BlockBytes(*pKey) == 0,
                    L"Check the data is whole blocks", NTE_BAD_DATA)) {
      return;
    }
    if (!RunSessionCipher(call, kDecryptSteps, *pKey, pbData, dwDataLen, bFinal, &plain)) {
      return;
    }
  } else {
    // The key object reads a copy, so that the caller's ciphertext stays as
    // it was when the decryption fails (a refused PIN among other things).
    SecretBytes ciphertext;
    if (!call.Check(ciphertext.Allocate(dwDataLen), L"New buffer", E_OUTOFMEMORY)) {
      return;
    }
    if (dwDataLen != 0) {
      std::memcpy(ciphertext.get(), pbData, dwDataLen);
    }
    if (pKey->m_dwKeyType == Container::KEYSETALGORITHM_RSA) {
      SwapByteOrder(ciphertext.get(), dwDataLen);
    }
    const HRESULT hDecrypt =
        pKey->AsymDecrypt(ciphertext.get(), dwDataLen, plain.Out(), plain.Length());
    if (!call.Check(SUCCEEDED(hDecrypt), L"key->AsymDecrypt", hDecrypt)) {
      return;
    }
  }
  // The caller's buffer holds the ciphertext, no more: a block cipher that
  // gives back bytes it held from earlier calls may have more to write.
  if (!call.Check(plain.size() <= dwDataLen, L"Check the plaintext fits pbData",
                  ERROR_INVALID_PARAMETER)) {
    return;
  }
  // The hash takes the plaintext before the caller's buffer does, so that a
  // hash that refuses it leaves the ciphertext and its length as they were.
  // An empty plaintext (a last block of padding only) has nothing to hash.
  if (hHash != 0 && plain.size() != 0 &&
      !FeedHash(call, hProv, hHash, plain.get(), plain.size())) {
    return;
  }
  if (plain.size() != 0) {
    std::memcpy(pbData, plain.get(), plain.size());
  }
  *pdwDataLen = plain.size();
}

}  // namespace

BOOL CPCoreEncrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal, DWORD dwFlags,
                   BYTE* pbData, DWORD* pdwDataLen, DWORD dwBufLen) {
  CoreCall call("CPCoreEncrypt");
  TraceCoreArguments(CoreArguments::kEncrypt,
                     {static_cast<DWORD>(fFinal), dwFlags, LengthAt(pdwDataLen), dwBufLen});
  Encrypt(call, hProv, hKey, hHash, fFinal, pbData, pdwDataLen, dwBufLen);
  return call.Finish();
}

BOOL CPCoreDecrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal, DWORD dwFlags,
                   BYTE* pbData, DWORD* pdwDataLen) {
  CoreCall call("CPCoreDecrypt");
  TraceCoreArguments(CoreArguments::kDecrypt,
                     {static_cast<DWORD>(fFinal), dwFlags, LengthAt(pdwDataLen)});
  Decrypt(call, hProv, hKey, hHash, fFinal, pbData, pdwDataLen);
  return call.Finish();
}

// Random bytes from the host's generator, through the token of the
// provider handle's container (a verification context names none).
BOOL CPCoreGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
  CoreCall call("CPCoreGenRandom");
  TraceCoreArguments(CoreArguments::kGenRandom, {dwLen});
  if (call.Check(hProv != 0, L"Check parameter hProv", ERROR_INVALID_PARAMETER) &&
      call.Check(pbBuffer != nullptr, L"Check parameter pbBuffer", ERROR_INVALID_PARAMETER) &&
      call.Check(dwLen != 0, L"Check parameter cbLen", ERROR_INVALID_PARAMETER) &&
      call.Check(merro::csp::IsKnownProvHandle(hProv), L"Check hProv IsKnown",
                 ERROR_INVALID_HANDLE)) {
    const Container* pContainer = g_vtrProvHandleSet.Lookup(hProv);
    call.CheckResult(KeyHandle::GenRandomData(pContainer->m_szDeviceName, pbBuffer, dwLen),
                     L"KeyHandle::GenRandomData");
  }
  return call.Finish();
}
