// DeviceHandle: the other operations with a container's key pair. The token
// decrypts with its private key; verification and encryption run on the host
// with the public key the token API reads from the token.
#include "device/container_key.h"
#include "device/device_handle.h"
#include "device/key_pair_arguments.h"
#include "device/token_access.h"
#include "foundation/alg_ids.h"
#include "foundation/misc/key_type.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/wiped_bytes.h"
#include "tokenapi/api/asym_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

// The room the token API is given for a result; a longer one is its error.
constexpr DWORD kWorkBufferSize = 2048;

// The key specification check, the container's key and a key context on it.
HRESULT OpenKeyPair(DeviceHandle& handle, const char* pszDevName, const char* pszContainerName,
                    DWORD dwKeySpec, const char* function, ContainerKey* pKey,
                    ScopedKeyContext* pKeyCtx) {
  MR_TRACE_UNDER(function);
  if (dwKeySpec != AT_SIGNATURE && dwKeySpec != AT_KEYEXCHANGE) {
    MR_LOG_FAIL(L"Check dwKeySpec", L"dwKeySpec is not 1 or 2", E_INVALIDARG);
    return E_INVALIDARG;
  }
  return OpenContainerKey(handle, pszDevName, pszContainerName, dwKeySpec, E_FAIL, function, pKey,
                          pKeyCtx);
}

// PrikeyDec or PubkeyEnc: the key context, the input, and the output with
// its capacity in and its length out.
using BufferOperation = HRESULT (*)(void*, const BYTE*, DWORD, BYTE*, DWORD*);

// Runs the operation into the work buffer and hands its result out in a
// new buffer. The work buffer may hold plain data: it is wiped on return.
HRESULT RunIntoWorkBuffer(BufferOperation pfnOperation, void* pKeyCtx, const BYTE* pbyIn,
                          DWORD dwInSize, BYTE** ppbyOut, DWORD* pdwOutSize, const wchar_t* step,
                          const char* function) {
  MR_TRACE_UNDER(function);
  merro::WipedBytes<kWorkBufferSize> work;
  DWORD dwOutSize = kWorkBufferSize;
  const HRESULT nRet = pfnOperation(pKeyCtx, pbyIn, dwInSize, work.bytes, &dwOutSize);
  HRESULT hResult = nRet != 0 ? HRESULT_FROM_TOKEN_ERROR(nRet) : S_OK;
  if (hResult == S_OK && dwOutSize > kWorkBufferSize) {
    hResult = NTE_BAD_LEN;
  }
  if (hResult != S_OK) {
    MR_LOG_FAIL(step, L"nRet != 0", hResult);
    return hResult;
  }
  return HandOutCopy(work.bytes, dwOutSize, ppbyOut, pdwOutSize, function);
}

// A cipher with a container's key pair: the operation, its name in the
// failure line, whether it runs under the token's sequence lock and session
// (the token's private-key work does; the host's public-key work does not),
// and the names of its buffer arguments.
struct KeyPairCipher {
  BufferOperation pfnOperation;
  const wchar_t* step;
  bool bTokenSession;
  KeyPairArgumentNames names;
};

const KeyPairCipher kPrivateKeyDecryption{
    &PrikeyDec,
    L"PrikeyDec",
    true,
    {L"pbyEncryptedData", L"dwEncryptedDataSize", L"ppbyPlainData", L"pdwPlainDataSize"}};
const KeyPairCipher kPublicKeyEncryption{
    &PubkeyEnc,
    L"PubkeyEnc",
    false,
    {L"pbyPlainData", L"dwPlainDataSize", L"ppbyEncryptedData", L"pdwEncryptedDataSize"}};

// The argument checks, the container's key with a key context on it, the
// token's session when the cipher needs one, then the cipher into the work
// buffer with its result handed out. Failures are logged under `function`.
HRESULT RunKeyPairCipher(DeviceHandle& handle, const char* function, const KeyPairCipher& cipher,
                         const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec,
                         const BYTE* pbyIn, DWORD dwInSize, BYTE** ppbyOut, DWORD* pdwOutSize) {
  HRESULT hResult = CheckKeyPairArguments(function, pszDevName, pszContainerName, pbyIn,
                                          dwInSize, ppbyOut, pdwOutSize, cipher.names);
  if (FAILED(hResult)) {
    return hResult;
  }
  ContainerKey key;
  ScopedKeyContext keyCtx;
  hResult = OpenKeyPair(handle, pszDevName, pszContainerName, dwKeySpec, function, &key, &keyCtx);
  if (FAILED(hResult)) {
    return hResult;
  }
  merro::transport::TokenSequenceLock sequence;  // held only for a token session
  if (cipher.bTokenSession) {
    hResult = LockedTokenSession(key.pDevCtx, &sequence, function);
    if (hResult != 0) {
      return HRESULT_FROM_TOKEN_ERROR(hResult);
    }
  }
  return RunIntoWorkBuffer(cipher.pfnOperation, keyCtx.get(), pbyIn, dwInSize, ppbyOut,
                           pdwOutSize, cipher.step, function);
}

}  // namespace

HRESULT DeviceHandle::PubKeyVerifyHash(const char* pszDevName, const char* pszContainerName,
                                       DWORD dwKeySpec, ALG_ID uHashAlg,
                                       const BYTE* pbySourceHashData, DWORD dwSourceHashDataSize,
                                       const BYTE* pbySignatureValue, DWORD dwSignatureValueSize) {
  MR_TRACE("DeviceHandle::PubKeyVerifyHash");
  MR_FAIL_IF(pszDevName == NULL, L"Check pszDevName", E_INVALIDARG);
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  MR_FAIL_IF(pbySourceHashData == NULL, L"Check pbySourceHashData", E_INVALIDARG);
  MR_FAIL_IF(dwSourceHashDataSize <= 0, L"Check dwSourceHashDataSize", E_INVALIDARG);
  MR_FAIL_IF(pbySignatureValue == NULL, L"Check pbySignatureValue", E_INVALIDARG);
  MR_FAIL_IF(dwSignatureValueSize <= 0, L"Check dwSignatureValueSize", E_INVALIDARG);
  ContainerKey key;
  ScopedKeyContext keyCtx;
  HRESULT hResult =
      OpenKeyPair(*this, pszDevName, pszContainerName, dwKeySpec, MR_TRACE_FUNCTION, &key, &keyCtx);
  if (FAILED(hResult)) {
    return hResult;
  }
  BYTE byHashType = 0;
  hResult = GetKeyHashType(uHashAlg, &byHashType);
  MR_FAIL_IF(hResult != S_OK, L"GetKeyHashType", E_INVALIDARG);
  const HRESULT nRet = VerifySignature(keyCtx.get(), byHashType, pbySourceHashData,
                                       dwSourceHashDataSize, pbySignatureValue,
                                       dwSignatureValueSize);
  MR_FAIL_IF(nRet != 0, L"VerifySignature", HRESULT_FROM_TOKEN_ERROR(nRet));
  return S_OK;
}

HRESULT DeviceHandle::DecryptByDevice(const char* pszDevName, const char* pszContainerName,
                                      DWORD dwKeySpec, const BYTE* pbyEncryptedData,
                                      DWORD dwEncryptedDataSize, BYTE** ppbyPlainData,
                                      DWORD* pdwPlainDataSize) {
  MR_TRACE("DeviceHandle::DecryptByDevice");
  return RunKeyPairCipher(*this, MR_TRACE_FUNCTION, kPrivateKeyDecryption, pszDevName,
                          pszContainerName, dwKeySpec, pbyEncryptedData, dwEncryptedDataSize,
                          ppbyPlainData, pdwPlainDataSize);
}

HRESULT DeviceHandle::PubKeyEncrypt(const char* pszDevName, const char* pszContainerName,
                                    DWORD dwKeySpec, const BYTE* pbyPlainData,
                                    DWORD dwPlainDataSize, BYTE** ppbyEncryptedData,
                                    DWORD* pdwEncryptedDataSize) {
  MR_TRACE("DeviceHandle::PubKeyEncrypt");
  return RunKeyPairCipher(*this, MR_TRACE_FUNCTION, kPublicKeyEncryption, pszDevName,
                          pszContainerName, dwKeySpec, pbyPlainData, dwPlainDataSize,
                          ppbyEncryptedData, pdwEncryptedDataSize);
}

}  // namespace merro::device
