#include "tokenapi/api/key_api.h"

#include "tokenapi/api/entry_frame.h"

using merro::api::DeviceMutex;
using merro::api::RunEntryPoint;

HRESULT GenerateKeyPair(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, void* pPubKey) {
  return RunEntryPoint(
      "GenerateKeyPair",
      {{L"CHECK pPubKey", pPubKey != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mk_GenerateKeyPair",
      [&] { return mr_GenerateKeyPair(pDevCtx, nAlgType, wKeyFID, pPubKey); });
}

HRESULT ImportKeyPair(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, const BYTE* pKey,
                      DWORD nKeyLen, const BYTE* pSymKey) {
  return RunEntryPoint(
      "ImportKeyPair", {{L"CHECK pKey", pKey != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_ImportKeyPair",
      [&] { return mr_ImportKeyPair(pDevCtx, nAlgType, wKeyFID, pKey, nKeyLen, pSymKey); });
}

HRESULT ImportKeyPairEx(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, const void* pKey) {
  // Logged under the plain import's step text.
  return RunEntryPoint("ImportKeyPairEx",
                       {{L"CHECK pKey", pKey != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
                       DeviceMutex::Wait, pDevCtx, L"mr_ImportKeyPair",
                       [&] { return mr_ImportKeyPairEx(pDevCtx, nAlgType, wKeyFID, pKey); });
}

HRESULT ExportPublicKey(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, void* pKey) {
  return RunEntryPoint("ExportPublicKey",
                       {{L"CHECK pKey", pKey != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
                       DeviceMutex::Wait, pDevCtx, L"mr_ExportPublicKey",
                       [&] { return mr_ExportPublicKey(pDevCtx, nAlgType, wKeyFID, pKey); });
}

HRESULT ImportCert(DEV_CTX* pDevCtx, WORD CertFID, const BYTE* pInbuf, DWORD nInlen) {
  return RunEntryPoint(
      "ImportCert", {{L"CHECK pInbuf", pInbuf != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_WriteCert",
      [&] { return mr_WriteCert(pDevCtx, CertFID, pInbuf, nInlen); });
}

HRESULT ExportCert(DEV_CTX* pDevCtx, WORD CertFID, BYTE* pOutbuf, DWORD* pOutlen) {
  return RunEntryPoint("ExportCert",
                       {{L"CHECK pOutbuf", pOutbuf != nullptr},
                        {L"CHECK pOutlen", pOutlen != nullptr},
                        {L"CHECK pDevCtx", pDevCtx != nullptr}},
                       DeviceMutex::Wait, pDevCtx, L"mr_ReadCert",
                       [&] { return mr_ReadCert(pDevCtx, CertFID, pOutbuf, pOutlen); });
}
