#include "tokenapi/api/asym_api.h"

#include "tokenapi/api/entry_frame.h"
#include "tokenapi/keyobjects/asym_key_object.h"

using merro::api::DeviceMutex;
using merro::api::RunEntryPoint;

namespace {

// Display flag of PrikeySign for a finished digest.
constexpr DWORD kSignDigestOnly = 0;

}  // namespace

HRESULT AsymKeyInit(DEV_CTX* pDevCtx, BYTE nKeyType, WORD wKeyFID, void** ppKeyCtx) {
  return RunEntryPoint(
      "AsymKeyInit",
      {{L"CHECK ppKeyCtx", ppKeyCtx != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"CAsymKeyObject::AsymKeyInit",
      [&] { return CAsymKeyObject::AsymKeyInit(pDevCtx, nKeyType, wKeyFID, ppKeyCtx); });
}

HRESULT AsymKeyFinal(void* pKeyCtx) {
  return RunEntryPoint("AsymKeyFinal", {{L"CHECK pKeyCtx", pKeyCtx != nullptr}},
                       L"CAsymKeyObject::AsymKeyFinal",
                       [&] { return CAsymKeyObject::AsymKeyFinal(pKeyCtx); });
}

const DEV_CTX* AsymKeyDevCtx(const void* pKeyCtx) {
  return pKeyCtx != nullptr ? static_cast<const CAsymKeyObject*>(pKeyCtx)->GetDevCtx() : nullptr;
}

HRESULT SignXML(void* pKeyCtx, BYTE nHashType, const BYTE* pDispbuf, DWORD nDisplen, BYTE* pSignbuf,
                DWORD* pSignlen) {
  return RunEntryPoint("SignXML",
                       {{L"CHECK pKeyCtx", pKeyCtx != nullptr},
                        {L"CHECK pDispbuf", pDispbuf != nullptr},
                        {L"CHECK pSignbuf", pSignbuf != nullptr},
                        {L"CHECK pSignlen", pSignlen != nullptr}},
                       L"CAsymKeyObject::PrikeySign", [&] {
                         return CAsymKeyObject::PrikeySign(pKeyCtx, ASYMKEY_SIGN_DISPLAY, nHashType,
                                                           pDispbuf, nDisplen, pSignbuf, pSignlen);
                       });
}

HRESULT DigestInit(void* pKeyCtx, BYTE nHashType) {
  return RunEntryPoint("DigestInit", {{L"CHECK pKeyCtx", pKeyCtx != nullptr}},
                       L"CAsymKeyObject::PrikeySignDataInit",
                       [&] { return CAsymKeyObject::PrikeySignDataInit(pKeyCtx, nHashType); });
}

HRESULT DigestUpdate(void* pKeyCtx, const BYTE* pInbuf, DWORD nInlen) {
  return RunEntryPoint(
      "DigestUpdate",
      {{L"CHECK pKeyCtx", pKeyCtx != nullptr}, {L"CHECK pInbuf", pInbuf != nullptr}},
      L"CAsymKeyObject::PrikeySignDataUpdate",
      [&] { return CAsymKeyObject::PrikeySignDataUpdate(pKeyCtx, pInbuf, nInlen); });
}

HRESULT DigestFinal(void* pKeyCtx, BYTE* pDigestbuf, DWORD* pDigestlen) {
  return RunEntryPoint(
      "DigestFinal",
      {{L"CHECK pKeyCtx", pKeyCtx != nullptr},
       {L"CHECK pDigestbuf", pDigestbuf != nullptr},
       {L"CHECK pDigestlen", pDigestlen != nullptr}},
      L"CAsymKeyObject::PrikeySignDataFinal",
      [&] { return CAsymKeyObject::PrikeySignDataFinal(pKeyCtx, pDigestbuf, pDigestlen); });
}

HRESULT SignDataResult(void* pKeyCtx, BYTE* pSignbuf, DWORD* pSignlen) {
  return RunEntryPoint("SignDataResult",
                       {{L"CHECK pKeyCtx", pKeyCtx != nullptr},
                        {L"CHECK pSignbuf", pSignbuf != nullptr},
                        {L"CHECK pSignlen", pSignlen != nullptr}},
                       L"CAsymKeyObject::PrikeySignDataResult", [&] {
                         return CAsymKeyObject::PrikeySignDataResult(pKeyCtx, pSignbuf, pSignlen);
                       });
}

HRESULT SignDigest(void* pKeyCtx, const BYTE* pDigest, DWORD nDigestLen, BYTE* pSignbuf,
                   DWORD* pSignlen) {
  // The routine uses the key object at once: checked as SignXML checks.
  return RunEntryPoint("SignDigest",
                       {{L"CHECK pKeyCtx", pKeyCtx != nullptr},
                        {L"CHECK pDigest", pDigest != nullptr},
                        {L"CHECK pSignbuf", pSignbuf != nullptr},
                        {L"CHECK pSignlen", pSignlen != nullptr}},
                       L"mk_PrikeySign", [&] {
                         return CAsymKeyObject::PrikeySign(pKeyCtx, kSignDigestOnly, 0, pDigest,
                                                           nDigestLen, pSignbuf, pSignlen);
                       });
}

HRESULT PrikeyDec(void* pKeyCtx, const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutlen) {
  return RunEntryPoint(
      "PrikeyDec",
      {{L"CHECK pKeyCtx", pKeyCtx != nullptr},
       {L"CHECK pInbuf", pInbuf != nullptr},
       {L"CHECK pOutbuf", pOutbuf != nullptr},
       {L"CHECK pOutlen", pOutlen != nullptr}},
      L"mk_PrikeyDec",
      [&] { return CAsymKeyObject::PrikeyDec(pKeyCtx, pInbuf, nInlen, pOutbuf, pOutlen); });
}

HRESULT VerifySignature(void* pKeyCtx, BYTE nHashType, const BYTE* pDigestbuf, DWORD nDigestLen,
                        const BYTE* pSignbuf, DWORD nSignlen) {
  return RunEntryPoint("VerifySignature",
                       {{L"CHECK pKeyCtx", pKeyCtx != nullptr},
                        {L"CHECK pDigestbuf", pDigestbuf != nullptr},
                        {L"CHECK pSignbuf", pSignbuf != nullptr}},
                       L"mk_PubkeyVerify", [&] {
                         return CAsymKeyObject::PubkeyVerify(pKeyCtx, nHashType, pDigestbuf,
                                                             nDigestLen, pSignbuf, nSignlen);
                       });
}

HRESULT PubkeyEnc(void* pKeyCtx, const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutlen) {
  return RunEntryPoint(
      "PubkeyEnc",
      {{L"CHECK pKeyCtx", pKeyCtx != nullptr},
       {L"CHECK pInbuf", pInbuf != nullptr},
       {L"CHECK pOutbuf", pOutbuf != nullptr},
       {L"CHECK pOutlen", pOutlen != nullptr}},
      L"mk_PubkeyEnc",
      [&] { return CAsymKeyObject::PubkeyEnc(pKeyCtx, pInbuf, nInlen, pOutbuf, pOutlen); });
}
