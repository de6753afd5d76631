#include "tokenapi/api/crypto_api.h"

#include "tokenapi/api/entry_frame.h"
#include "tokenapi/commands/symkey_commands.h"

using merro::api::DeviceMutex;
using merro::api::RunEntryPoint;

HRESULT HashInit(DEV_CTX* pDevCtx, BYTE nHashType, HASH_HANDLE** ppHashCtx) {
  return RunEntryPoint(
      "HashInit",
      {{L"CHECK ppHashCtx", ppHashCtx != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_HashInit",
      [&] { return mr_HashInit(pDevCtx, nHashType, ppHashCtx); });
}

HRESULT HashUpdate(HASH_HANDLE* pHashCtx, const BYTE* pInbuf, DWORD nInlen) {
  return RunEntryPoint(
      "HashUpdate",
      {{L"CHECK pHashCtx", pHashCtx != nullptr}, {L"CHECK pInbuf", pInbuf != nullptr}},
      L"mr_HashUpdate", [&] { return mr_HashUpdate(pHashCtx, pInbuf, nInlen); });
}

HRESULT HashFinal(HASH_HANDLE* pHashCtx, BYTE* pOutbuf, DWORD* pOutlen) {
  return RunEntryPoint("HashFinal",
                       {{L"CHECK pHashCtx", pHashCtx != nullptr},
                        {L"CHECK pOutbuf", pOutbuf != nullptr},
                        {L"CHECK pOutlen", pOutlen != nullptr}},
                       L"mr_HashFinal", [&] { return mr_HashFinal(pHashCtx, pOutbuf, pOutlen); });
}

HRESULT SymKeyInit(DEV_CTX* pDevCtx, BYTE nAlgType, BYTE nCryptFlag, BYTE nMode, const BYTE* pKey,
                   const BYTE* pIV, SYMKEY_HANDLE** ppKeyCtx) {
  return RunEntryPoint(
      "SymKeyInit",
      {{L"CHECK pKey", pKey != nullptr},
       {L"CHECK ppKeyCtx", ppKeyCtx != nullptr},
       {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_SymKeyInit",
      [&] { return mr_SymKeyInit(pDevCtx, nAlgType, nCryptFlag, nMode, pKey, pIV, ppKeyCtx); });
}

HRESULT SymKeyUpdate(SYMKEY_HANDLE* pKeyCtx, const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf,
                     DWORD* pOutlen) {
  return RunEntryPoint("SymKeyUpdate",
                       {{L"CHECK pKeyCtx", pKeyCtx != nullptr},
                        {L"CHECK pInbuf", pInbuf != nullptr},
                        {L"CHECK pOutbuf", pOutbuf != nullptr},
                        {L"CHECK pOutlen", pOutlen != nullptr}},
                       L"mr_SymKeyUpdate",
                       [&] { return mr_SymKeyUpdate(pKeyCtx, pInbuf, nInlen, pOutbuf, pOutlen); });
}

HRESULT SymKeyFinal(SYMKEY_HANDLE* pKeyCtx, BYTE* pOutbuf, DWORD* pOutlen) {
  // The last block is written through both outputs: tested like the
  // update's.
  return RunEntryPoint("SymKeyFinal",
                       {{L"CHECK pKeyCtx", pKeyCtx != nullptr},
                        {L"CHECK pOutbuf", pOutbuf != nullptr},
                        {L"CHECK pOutlen", pOutlen != nullptr}},
                       L"mr_SymKeyFinal",
                       [&] { return mr_SymKeyFinal(pKeyCtx, pOutbuf, pOutlen); });
}

HRESULT HWSymKeyCrypto(DEV_CTX* pDevCtx, BYTE nAlgType, BYTE nMode, const BYTE* pKey,
                       const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutlen) {
  // The key is checked under the step text "CHECK pKeyCtx", and the line of
  // the routine reads "mk_PrikeyDec": the texts the system's logs carry.
  return RunEntryPoint("HWSymKeyCrypto",
                       {{L"CHECK pKeyCtx", pKey != nullptr},
                        {L"CHECK pInbuf", pInbuf != nullptr},
                        {L"CHECK pOutbuf", pOutbuf != nullptr},
                        {L"CHECK pOutlen", pOutlen != nullptr},
                        {L"CHECK pDevCtx", pDevCtx != nullptr}},
                       DeviceMutex::Wait, pDevCtx, L"mk_PrikeyDec", [&] {
                         return mr_HWSymKeyCrypto(pDevCtx, nAlgType, nMode, pKey, pInbuf, nInlen,
                                                  pOutbuf, pOutlen);
                       });
}
