#include "tokenapi/crypto/contexts/symkey.h"

#include <new>

#include "foundation/trace/trace.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/result_codes.h"

namespace merro::crypto {

namespace {

// The routines of one software cipher, with the names they are logged by.
struct CipherEntry {
  BYTE algorithm;
  void (*make)(SymKeyState& state);
  const wchar_t* setupName;
  int (*setup)(SymKeyState& state, bool encrypt, BYTE mode, const BYTE* key, const BYTE* iv);
  const wchar_t* updateName;
  int (*update)(SymKeyState& state, const BYTE* in, DWORD len, BYTE* out, DWORD* pOutLen);
  const wchar_t* finalName;
  int (*final)(SymKeyState& state, BYTE* out, DWORD* pOutLen);
};

template <class State>
void Make(SymKeyState& state) {
  state.emplace<State>();
}

// The DES context takes direction 0 for encryption, SM4 direction 1.
constexpr DWORD DesDirection(bool encrypt) { return encrypt ? kDesEncrypt : kDesDecrypt; }

int DesUpdate(SymKeyState& s, const BYTE* in, DWORD len, BYTE* out, DWORD* pOutLen) {
  return desupdate(std::get_if<MR_DES_CTX>(&s), in, len, out, pOutLen);
}
int Des3Update(SymKeyState& s, const BYTE* in, DWORD len, BYTE* out, DWORD* pOutLen) {
  return des3update(std::get_if<MR_DES_CTX>(&s), in, len, out, pOutLen);
}
int Des3Final(SymKeyState& s, BYTE* out, DWORD* pOutLen) {
  return des3final(std::get_if<MR_DES_CTX>(&s), out, pOutLen);
}

const CipherEntry kCiphers[] = {
    {MR_ALG_DES, Make<MR_DES_CTX>, L"deskey",
     [](SymKeyState& s, bool enc, BYTE mode, const BYTE* key, const BYTE* iv) {
       return deskey(std::get_if<MR_DES_CTX>(&s), DesDirection(enc), key, mode, iv);
     },
     L"desupdate", DesUpdate, L"desfinal",
     [](SymKeyState& s, BYTE* out, DWORD* pOutLen) {
       return desfinal(std::get_if<MR_DES_CTX>(&s), out, pOutLen);
     }},
    {MR_ALG_3DES_2KEY, Make<MR_DES_CTX>, L"des2key",
     [](SymKeyState& s, bool enc, BYTE mode, const BYTE* key, const BYTE* iv) {
       return des2key(std::get_if<MR_DES_CTX>(&s), DesDirection(enc), key, mode, iv);
     },
     L"des3update", Des3Update, L"des3final", Des3Final},
    {MR_ALG_3DES, Make<MR_DES_CTX>, L"des3key",
     [](SymKeyState& s, bool enc, BYTE mode, const BYTE* key, const BYTE* iv) {
       return des3key(std::get_if<MR_DES_CTX>(&s), DesDirection(enc), key, mode, iv);
     },
     L"des3update", Des3Update, L"des3final", Des3Final},
    // RC4 ignores mode and IV and reads exactly 16 key bytes.
    {MR_ALG_RC4, Make<MR_RC4_KEY>, L"rc4key",
     [](SymKeyState& s, bool, BYTE, const BYTE* key, const BYTE*) {
       return rc4key(key, kRc4KeyBytes, std::get_if<MR_RC4_KEY>(&s));
     },
     L"rc4update",
     [](SymKeyState& s, const BYTE* in, DWORD len, BYTE* out, DWORD* pOutLen) {
       return rc4update(std::get_if<MR_RC4_KEY>(&s), in, len, out, pOutLen);
     },
     L"rc4final",
     [](SymKeyState& s, BYTE*, DWORD* pOutLen) {
       return rc4final(std::get_if<MR_RC4_KEY>(&s), pOutLen);
     }},
    {MR_ALG_SM4, Make<SM4_CTX>, L"sm4key",
     [](SymKeyState& s, bool enc, BYTE mode, const BYTE* key, const BYTE* iv) {
       return sm4key(std::get_if<SM4_CTX>(&s), enc ? kSm4Encrypt : kSm4Decrypt, key, iv, mode);
     },
     L"sm4update",
     [](SymKeyState& s, const BYTE* in, DWORD len, BYTE* out, DWORD* pOutLen) {
       return sm4update(std::get_if<SM4_CTX>(&s), in, len, out, pOutLen);
     },
     L"sm4final",
     [](SymKeyState& s, BYTE* out, DWORD* pOutLen) {
       return sm4final(std::get_if<SM4_CTX>(&s), out, pOutLen);
     }},
};

const CipherEntry* FindCipher(BYTE algorithm) {
  for (const auto& entry : kCiphers) {
    if (entry.algorithm == algorithm) {
      return &entry;
    }
  }
  return nullptr;
}

// The result of an update or final adapter: a short output buffer leaves
// the needed length, above the room that was offered.
HRESULT Conclude(const TraceHelper& scope, int ok, DWORD room, DWORD reported,
                 const wchar_t* step, HRESULT failure) {
  if (ok == 1) {
    trace::LogStep(scope.Name(), step);
    return S_OK;
  }
  const HRESULT hr = reported > room ? kResultBufferTooSmall : failure;
  trace::LogFailure(__FILE__, __LINE__, scope.Name(), step, L"adapter != 1", hr);
  return hr;
}

HRESULT SymInit(const char* traceName, SYMKEY_CTX** ppCipherCtx, BYTE algorithm, BYTE nMode,
                const BYTE* pKey, const BYTE* pIV, bool encrypt) {
  MR_TRACE(traceName);
  MR_FAIL_IF(ppCipherCtx == nullptr, L"CHECK ppCipherCtx", kResultInvalidArg);
  MR_FAIL_IF(pKey == nullptr, L"CHECK pKey", kResultInvalidArg);
  std::unique_ptr<SYMKEY_CTX> ctx(new (std::nothrow) SYMKEY_CTX);
  MR_FAIL_IF(!ctx, L"new SYMKEY_CTX", kResultNoMemory);
  const CipherEntry* cipher = FindCipher(algorithm);
  MR_FAIL_IF(cipher == nullptr, L"CHECK AlgID", kResultBadAlgorithm);
  ctx->pKeyState = NewSymKey(algorithm);
  MR_FAIL_IF(!ctx->pKeyState, L"NewSymKey", kResultNoMemory);
  ctx->algtype = algorithm;
  MR_FAIL_IF(cipher->setup(*ctx->pKeyState, encrypt, nMode, pKey, pIV) != 1, cipher->setupName,
             kResultSetupFailed);
  *ppCipherCtx = ctx.release();
  MR_LOG_STEP(cipher->setupName);
  return S_OK;
}

}  // namespace

std::unique_ptr<SymKeyState> NewSymKey(BYTE algorithm) {
  MR_TRACE("NewSymKey");
  const CipherEntry* cipher = FindCipher(algorithm);
  if (cipher == nullptr) {
    return nullptr;
  }
  std::unique_ptr<SymKeyState> state(new (std::nothrow) SymKeyState);
  if (state) {
    cipher->make(*state);
  }
  return state;
}

HRESULT SymEncryptInit(SYMKEY_CTX** ppCipherCtx, BYTE algorithm, BYTE nMode, const BYTE* pKey,
                       const BYTE* pIV) {
  return SymInit("SymEncryptInit", ppCipherCtx, algorithm, nMode, pKey, pIV, true);
}

HRESULT SymDecryptInit(SYMKEY_CTX** ppCipherCtx, BYTE algorithm, BYTE nMode, const BYTE* pKey,
                       const BYTE* pIV) {
  return SymInit("SymDecryptInit", ppCipherCtx, algorithm, nMode, pKey, pIV, false);
}

HRESULT SymEncryptUpdate(SYMKEY_CTX* pCipherCtx, const BYTE* pSourceData, DWORD dwSourceDataLen,
                         BYTE* pOutData, DWORD* pdwOutDataLen) {
  MR_TRACE("SymEncryptUpdate");
  return SymCipherUpdate(pCipherCtx, pSourceData, dwSourceDataLen, pOutData, pdwOutDataLen);
}

HRESULT SymDecryptUpdate(SYMKEY_CTX* pCipherCtx, const BYTE* pSourceData, DWORD dwSourceDataLen,
                         BYTE* pOutData, DWORD* pdwOutDataLen) {
  MR_TRACE("SymDecryptUpdate");
  return SymCipherUpdate(pCipherCtx, pSourceData, dwSourceDataLen, pOutData, pdwOutDataLen);
}

HRESULT SymCipherUpdate(SYMKEY_CTX* pCipherCtx, const BYTE* pSourceData, DWORD dwSourceDataLen,
                        BYTE* pOutData, DWORD* pdwOutDataLen) {
  MR_TRACE("SymKeyUpdate");
  MR_FAIL_IF(pCipherCtx == nullptr, L"CHECK pCipherCtx", kResultInvalidArg);
  MR_FAIL_IF(pSourceData == nullptr, L"Check pSourceData", kResultInvalidArg);
  MR_FAIL_IF(pOutData == nullptr, L"Check pOutData", kResultInvalidArg);
  MR_LOG_STEP(L"Check dwSourceDataLen");  // a zero length is accepted
  MR_FAIL_IF(pdwOutDataLen == nullptr, L"Check pdwOutDataLen", kResultInvalidArg);
  const CipherEntry* cipher = FindCipher(pCipherCtx->algtype);
  MR_FAIL_IF(cipher == nullptr, L"CHECK pCipherCtx->algtype", kResultBadAlgorithm);
  const DWORD room = *pdwOutDataLen;
  int ok = 0;
  if (pCipherCtx->pKeyState) {
    ok = cipher->update(*pCipherCtx->pKeyState, pSourceData, dwSourceDataLen, pOutData,
                        pdwOutDataLen);
  } else {
    *pdwOutDataLen = 0;
  }
  return Conclude(mrTraceScope_, ok, room, *pdwOutDataLen, cipher->updateName,
                  kResultUpdateFailed);
}

HRESULT SymEncryptFinal(SYMKEY_CTX* pCipherCtx, BYTE* pOutData, DWORD* pdwOutDataLen) {
  MR_TRACE("SymEncryptFinal");
  return SymCipherFinal(pCipherCtx, pOutData, pdwOutDataLen);
}

HRESULT SymDecryptFinal(SYMKEY_CTX* pCipherCtx, BYTE* pOutData, DWORD* pdwOutDataLen) {
  MR_TRACE("SymDecryptFinal");
  return SymCipherFinal(pCipherCtx, pOutData, pdwOutDataLen);
}

HRESULT SymCipherFinal(SYMKEY_CTX* pCipherCtx, BYTE* pOutData, DWORD* pdwOutDataLen) {
  MR_TRACE("SymKeyFinal");
  // The context ends here whatever happens.
  const std::unique_ptr<SYMKEY_CTX> owner(pCipherCtx);
  MR_FAIL_IF(pCipherCtx == nullptr, L"CHECK pCipherCtx", kResultInvalidArg);
  MR_FAIL_IF(pdwOutDataLen == nullptr, L"CHECK pdwOutDataLen", kResultInvalidArg);
  const CipherEntry* cipher = FindCipher(pCipherCtx->algtype);
  MR_FAIL_IF(cipher == nullptr, L"CHECK pCipherCtx->algtype", kResultBadAlgorithm);
  const DWORD room = *pdwOutDataLen;
  int ok = 0;
  if (pCipherCtx->pKeyState) {
    ok = cipher->final(*pCipherCtx->pKeyState, pOutData, pdwOutDataLen);
  } else {
    *pdwOutDataLen = 0;
  }
  return Conclude(mrTraceScope_, ok, room, *pdwOutDataLen, cipher->finalName, kResultFinalFailed);
}

}  // namespace merro::crypto
