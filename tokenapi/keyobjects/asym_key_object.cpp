#include "tokenapi/keyobjects/asym_key_object.h"

#include <memory>
#include <new>

#include "foundation/trace/trace.h"
#include "tokenapi/keyobjects/key_op_step.h"
#include "tokenapi/keyobjects/rsa_dev_obj.h"
#include "tokenapi/keyobjects/sm2_dev_obj.h"
#include "tokenapi/transport/device_mutex_hold.h"

using merro::keyobjects::StepResult;
using merro::keyobjects::kResultBadAlgorithm;
using merro::keyobjects::kResultBadArgument;
using merro::keyobjects::kResultBufferTooSmall;

namespace {

constexpr HRESULT kNoMemory = static_cast<HRESULT>(0x80070008);

// The frame of every static wrapper: the key object, the device mutex held
// for the check and the operation, the operation's result folded and
// logged under slotStep. The mutex is released only when the wait took it.
// check() returns 0 or its own (already logged) failure.
template <class Check, class Operation>
HRESULT RunLocked(const TraceHelper& scope, void* pKeyCtx, const wchar_t* slotStep, Check check,
                  Operation operation) {
  if (pKeyCtx == nullptr) {
    return StepResult(scope, L"CHECK pKeyCtx", kResultBadArgument);
  }
  CAsymKeyObject* key = static_cast<CAsymKeyObject*>(pKeyCtx);
  if (key->GetDevCtx() == nullptr) {
    return StepResult(scope, L"CHECK pDevCtx", kResultBadArgument);
  }
  merro::transport::DevMutexHold hold;
  HRESULT hr = StepResult(scope, L"MerroWaitDevMutex", hold.Wait(key->GetDevCtx()->szMutexName));
  if (FAILED(hr)) {
    return hr;
  }
  hr = check(*key);
  if (FAILED(hr)) {
    return hr;
  }
  return StepResult(scope, slotStep, operation(*key));
}

// A check that always passes.
HRESULT NoCheck(CAsymKeyObject&) { return S_OK; }

}  // namespace

// Base-class operations: an object of this class alone supports nothing.
bool CAsymKeyObject::SetKeyType(BYTE) { return true; }
DWORD CAsymKeyObject::GetOutLen(BYTE, DWORD) { return static_cast<DWORD>(ASYMKEY_NOT_SUPPORTED); }
HRESULT CAsymKeyObject::Decrypt(const BYTE*, DWORD, BYTE*, DWORD*) { return ASYMKEY_NOT_SUPPORTED; }
HRESULT CAsymKeyObject::SignDataInit(BYTE) { return ASYMKEY_NOT_SUPPORTED; }
HRESULT CAsymKeyObject::SignDataUpdate(const BYTE*, DWORD) { return ASYMKEY_NOT_SUPPORTED; }
HRESULT CAsymKeyObject::SignDataFinal(BYTE*, DWORD*) { return ASYMKEY_NOT_SUPPORTED; }
HRESULT CAsymKeyObject::SignDataResult(BYTE*, DWORD*) { return ASYMKEY_NOT_SUPPORTED; }
HRESULT CAsymKeyObject::SignXML(BYTE, const BYTE*, DWORD, BYTE*, DWORD*) {
  return ASYMKEY_NOT_SUPPORTED;
}
HRESULT CAsymKeyObject::SignDigest(const BYTE*, DWORD, BYTE*, DWORD*) {
  return ASYMKEY_NOT_SUPPORTED;
}
HRESULT CAsymKeyObject::Encrypt(const BYTE*, DWORD, BYTE*, DWORD*) { return ASYMKEY_NOT_SUPPORTED; }
HRESULT CAsymKeyObject::Verify(BYTE, const BYTE*, DWORD, const BYTE*, DWORD) {
  return ASYMKEY_NOT_SUPPORTED;
}

HRESULT CAsymKeyObject::AsymKeyInit(DEV_CTX* pDevCtx, BYTE nKeyType, WORD wKeyFID,
                                    void** ppKeyCtx) {
  MR_TRACE("CAsymKeyObject::AsymKeyInit");
  MR_FAIL_IF(ppKeyCtx == nullptr, L"CHECK ppKeyCtx", kResultBadArgument);
  std::unique_ptr<CAsymKeyObject> key;
  switch (nKeyType) {
    case MR_ALG_RSA1024:
    case MR_ALG_RSA2048:
      key.reset(new (std::nothrow) CRSADevObj());
      break;
    case MR_ALG_SM2:
      key.reset(new (std::nothrow) CSM2DevObj());
      break;
    default:
      MR_LOG_FAIL(L"CHECK nKeyType", L"not an RSA or SM2 key type", kResultBadAlgorithm);
      return kResultBadAlgorithm;
  }
  if (!key) {
    MR_LOG_FAIL(L"new CAsymKeyObject", L"out of memory", kNoMemory);
    return kNoMemory;
  }
  MR_LOG_STEP(L"new CAsymKeyObject");
  key->m_pDevCtx = pDevCtx;
  key->m_wKeyFID = wKeyFID;
  key->SetKeyType(nKeyType);
  *ppKeyCtx = key.release();
  return S_OK;
}

HRESULT CAsymKeyObject::AsymKeyFinal(void* pKeyCtx) {
  MR_TRACE("CAsymKeyObject::AsymKeyFinal");
  delete static_cast<CAsymKeyObject*>(pKeyCtx);
  return S_OK;
}

HRESULT CAsymKeyObject::PubkeyEnc(void* pKeyCtx, const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf,
                                  DWORD* pOutLen) {
  MR_TRACE("CAsymKeyObject::PubkeyEnc");
  MR_FAIL_IF(pOutLen == nullptr, L"CHECK pOutLen", kResultBadArgument);
  // The length the caller needs, also when the call fails (0 when the
  // mutex could not be waited for).
  DWORD outLen = 0;
  const HRESULT hr = RunLocked(
      mrTraceScope_, pKeyCtx, L"pAsymKey->Encrypt",
      [&](CAsymKeyObject& key) {
        outLen = key.GetOutLen(ASYMKEY_OP_ENCRYPT, nInlen);
        return *pOutLen < outLen ? StepResult(mrTraceScope_, L"CHECK *pOutLen SIZE", kResultBufferTooSmall)
                                 : S_OK;
      },
      [&](CAsymKeyObject& key) { return key.Encrypt(pInbuf, nInlen, pOutbuf, pOutLen); });
  *pOutLen = outLen;
  return hr;
}

HRESULT CAsymKeyObject::PubkeyVerify(void* pKeyCtx, BYTE nHashType, const BYTE* pDigestbuf,
                                     DWORD nHashlen, const BYTE* pSignbuf, DWORD nSignlen) {
  MR_TRACE("CAsymKeyObject::PubkeyVerify");
  return RunLocked(
      mrTraceScope_, pKeyCtx, L"pAsymKey->Verify",
      [&](CAsymKeyObject& key) {
        return nSignlen != key.GetOutLen(ASYMKEY_OP_VERIFY, nSignlen)
                   ? StepResult(mrTraceScope_, L"CHECK nSignlen", kResultBadArgument)
                   : S_OK;
      },
      [&](CAsymKeyObject& key) {
        return key.Verify(nHashType, pDigestbuf, nHashlen, pSignbuf, nSignlen);
      });
}

HRESULT CAsymKeyObject::PrikeySignDataInit(void* pKeyCtx, BYTE nHashType) {
  MR_TRACE("CAsymKeyObject::PrikeySignDataInit");
  return RunLocked(mrTraceScope_, pKeyCtx, L"pAsymKey->SignDataInit", NoCheck,
                   [&](CAsymKeyObject& key) { return key.SignDataInit(nHashType); });
}

HRESULT CAsymKeyObject::PrikeySignDataUpdate(void* pKeyCtx, const BYTE* pInbuf, DWORD nInlen) {
  MR_TRACE("CAsymKeyObject::PrikeySignDataUpdate");
  return RunLocked(mrTraceScope_, pKeyCtx, L"pAsymKey->SignDataUpdate", NoCheck,
                   [&](CAsymKeyObject& key) { return key.SignDataUpdate(pInbuf, nInlen); });
}

HRESULT CAsymKeyObject::PrikeySignDataFinal(void* pKeyCtx, BYTE* pDigestbuf, DWORD* pDigestlen) {
  MR_TRACE("CAsymKeyObject::PrikeySignDataFinal");
  MR_FAIL_IF(pDigestlen == nullptr, L"CHECK pDigestlen", kResultBadArgument);
  return RunLocked(mrTraceScope_, pKeyCtx, L"pAsymKey->SignDataFinal", NoCheck,
                   [&](CAsymKeyObject& key) { return key.SignDataFinal(pDigestbuf, pDigestlen); });
}

HRESULT CAsymKeyObject::PrikeySignDataResult(void* pKeyCtx, BYTE* pSignbuf, DWORD* pSignlen) {
  MR_TRACE("CAsymKeyObject::PrikeySignDataResult");
  MR_FAIL_IF(pSignlen == nullptr, L"CHECK pSignlen", kResultBadArgument);
  return RunLocked(
      mrTraceScope_, pKeyCtx, L"pAsymKey->SignDataResult",
      [&](CAsymKeyObject& key) {
        return *pSignlen < key.GetOutLen(ASYMKEY_OP_SIGN, 0)
                   ? StepResult(mrTraceScope_, L"CHECK *pSignlen SIZE", kResultBufferTooSmall)
                   : S_OK;
      },
      [&](CAsymKeyObject& key) { return key.SignDataResult(pSignbuf, pSignlen); });
}

HRESULT CAsymKeyObject::PrikeySign(void* pKeyCtx, DWORD dwDisplay, BYTE nHashType,
                                   const BYTE* pInbuf, DWORD nInlen, BYTE* pSignbuf,
                                   DWORD* pSignlen) {
  MR_TRACE("CAsymKeyObject::PrikeySign");
  MR_FAIL_IF(pSignlen == nullptr, L"CHECK pSignlen", kResultBadArgument);
  const bool display = dwDisplay == ASYMKEY_SIGN_DISPLAY;
  return RunLocked(
      mrTraceScope_, pKeyCtx, display ? L"pAsymKey->SignDisp" : L"pAsymKey->Sign",
      [&](CAsymKeyObject& key) {
        return *pSignlen < key.GetOutLen(ASYMKEY_OP_SIGN, nInlen)
                   ? StepResult(mrTraceScope_, L"CHECK *pOutLen SIZE", kResultBufferTooSmall)
                   : S_OK;
      },
      [&](CAsymKeyObject& key) {
        return display ? key.SignXML(nHashType, pInbuf, nInlen, pSignbuf, pSignlen)
                       : key.SignDigest(pInbuf, nInlen, pSignbuf, pSignlen);
      });
}

HRESULT CAsymKeyObject::PrikeyDec(void* pKeyCtx, const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf,
                                  DWORD* pOutLen) {
  MR_TRACE("CAsymKeyObject::PrikeyDec");
  MR_FAIL_IF(pOutLen == nullptr, L"CHECK pOutLen", kResultBadArgument);
  return RunLocked(
      mrTraceScope_, pKeyCtx, L"pAsymKey->Decrypt",
      [&](CAsymKeyObject& key) {
        return *pOutLen < key.GetOutLen(ASYMKEY_OP_DECRYPT, nInlen)
                   ? StepResult(mrTraceScope_, L"CHECK *pOutLen SIZE", kResultBufferTooSmall)
                   : S_OK;
      },
      [&](CAsymKeyObject& key) { return key.Decrypt(pInbuf, nInlen, pOutbuf, pOutLen); });
}
