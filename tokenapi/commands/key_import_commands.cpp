// Key-pair import: in clear (private and public halves) and wrapped.
#include <cstring>

#include "foundation/wiped_bytes.h"
#include "tokenapi/commands/command_exchange.h"
#include "foundation/container_record.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/commands/record_commands.h"
#include "tokenapi/commands/routine_steps.h"

using merro::apdu::Apdu;
using merro::commands::Exchange;
using merro::commands::FileIdBytes;
using merro::commands::HighByte;
using merro::commands::kResultBadArgument;
using merro::commands::LowByte;
using merro::commands::SelectStep;
using merro::commands::StepResult;

namespace {

constexpr HRESULT kBadAlgorithm = static_cast<HRESULT>(0x80070209);
constexpr HRESULT kBadKey = static_cast<HRESULT>(0x80070210);
constexpr BYTE kInsWriteRsaPublic = 0x30;
constexpr BYTE kInsWriteRsaPrivate = 0x31;
constexpr BYTE kInsImportWrappedRsa = 0x32;
constexpr BYTE kInsImportWrappingKey = 0x39;
constexpr BYTE kInsImportSm2Pair = 0x49;
constexpr BYTE kInsWriteSm2Public = 0x51;
constexpr BYTE kInsWriteSm2Private = 0x52;
constexpr DWORD kPartLen = MR_RSA1024_LEN;
constexpr DWORD kWrappedBlocks = MR_WRAPPED_RSA_KEYPAIR_LEN / kPartLen;  // 5
constexpr DWORD kExponent65537 = 65537;

bool IsRsa(BYTE alg) { return alg == MR_ALG_RSA1024 || alg == MR_ALG_RSA2048; }
bool IsKeyType(BYTE alg) { return IsRsa(alg) || alg == MR_ALG_SM2; }

HRESULT Send(const TraceHelper& scope, const wchar_t* step, DEV_CTX* pDevCtx, BYTE ins, BYTE p1,
             BYTE p2, const BYTE* data, DWORD len) {
  MR_TRACE("Send");
  const Apdu cmd{MR_CLA_PLAIN, ins, p1, p2, 0x00, data, len};
  return Exchange(scope, step, pDevCtx, cmd, nullptr, nullptr, MR_TIMEOUT_DEFAULT);
}

// The RSA header: the key file id, P2 0 for a 128-byte and 1 for a 256-byte
// modulus.
HRESULT SendRsaHeader(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE ins, WORD wKeyFID,
                      DWORD nLen) {
  MR_TRACE("SendRsaHeader");
  const FileIdBytes fid(wKeyFID);
  return Send(scope, L"mr_SendAPDUCmd(KEYFID)", pDevCtx, ins, 0x00,
              static_cast<BYTE>(nLen == MR_RSA2048_LEN), fid.bytes, sizeof fid.bytes);
}

// A value of nLen bytes in 128-byte parts with P1 p1, P2 0x00 then 0x80.
HRESULT SendRsaParts(const TraceHelper& scope, const wchar_t* step, DEV_CTX* pDevCtx, BYTE ins,
                     BYTE p1, const BYTE* value, DWORD nLen) {
  MR_TRACE("SendRsaParts");
  for (DWORD done = 0; done < nLen; done += kPartLen) {
    const HRESULT hr = Send(scope, step, pDevCtx, ins, p1,
                            static_cast<BYTE>(done == 0 ? 0x00 : 0x80), value + done, kPartLen);
    if (FAILED(hr)) {
      return hr;
    }
  }
  return S_OK;
}

// The value of a big-endian exponent of eLen bytes, when it fits 32 bits.
bool ExponentValue(const RSA_KEY& key, DWORD* pValue) {
  if (key.eLen == 0 || key.eLen > MR_RSA_MAX_LEN) {
    return false;
  }
  DWORD value = 0;
  for (DWORD i = 0; i < key.eLen; ++i) {
    if (value > 0xFFFFFF) {
      return false;
    }
    value = value << 8 | key.e[i];
  }
  *pValue = value;
  return true;
}

// The exchange-key bit of a container key file.
HRESULT MarkExchangeKey(const TraceHelper& scope, DEV_CTX* pDevCtx, WORD wKeyFID) {
  MR_TRACE("MarkExchangeKey");
  return merro::commands::MarkContainerFile(scope, pDevCtx, wKeyFID, MR_CTNR_EXCH_KEY);
}

HRESULT ImportWrappedRsa(const TraceHelper& scope, DEV_CTX* pDevCtx, WORD wKeyFID, const BYTE* pKey,
                         const BYTE* pSymKey) {
  MR_TRACE("ImportWrappedRsa");
  const FileIdBytes fid(wKeyFID);
  HRESULT hr = Send(scope, L"mr_SendAPDUCmd(SymKey,P1=0x00)", pDevCtx, kInsImportWrappingKey, 0x00,
                    0x00, pSymKey, MR_WRAPPED_RSA_SYMKEY_LEN);
  if (FAILED(hr)) {
    return hr;
  }
  const BYTE symTarget[3] = {fid.bytes[0], fid.bytes[1], 0x00};
  hr = Send(scope, L"mr_SendAPDUCmd(SymKey,P1=0x01)", pDevCtx, kInsImportWrappingKey, 0x01, 0x00,
            symTarget, sizeof symTarget);
  for (DWORD k = 0; SUCCEEDED(hr) && k < kWrappedBlocks; ++k) {
    hr = Send(scope, L"mr_SendAPDUCmd(P1=0x00)", pDevCtx, kInsImportWrappedRsa, 0x00,
              static_cast<BYTE>(k), pKey + k * kPartLen, kPartLen);
  }
  if (FAILED(hr)) {
    return hr;
  }
  const BYTE pairTarget[3] = {fid.bytes[0], fid.bytes[1], 0x01};
  return Send(scope, L"mr_SendAPDUCmd(P1=0x01)", pDevCtx, kInsImportWrappedRsa, 0x01, 0x01,
              pairTarget, sizeof pairTarget);
}

HRESULT ImportWrappedSm2(const TraceHelper& scope, DEV_CTX* pDevCtx, WORD wKeyFID, const BYTE* pKey,
                         DWORD nKeyLen) {
  MR_TRACE("ImportWrappedSm2");
  const HRESULT hr = Send(scope, L"mr_SendAPDUCmd(P1=0x00)", pDevCtx, kInsImportSm2Pair, 0x00, 0x00,
                          pKey, nKeyLen);
  if (FAILED(hr)) {
    return hr;
  }
  const FileIdBytes fid(wKeyFID);
  return Send(scope, L"mr_SendAPDUCmd(P1=0x01)", pDevCtx, kInsImportSm2Pair, 0x01, 0x00, fid.bytes,
              sizeof fid.bytes);
}

}  // namespace

HRESULT mr_ImportPrivateKey(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, const void* pKey) {
  MR_TRACE("mr_ImportPrivateKey");
  MR_FAIL_IF(pKey == nullptr, L"CHECK pKey", kResultBadArgument);
  HRESULT hr = SelectStep(mrTraceScope_, L"mr_SelectFile(KEYFID)", pDevCtx, wKeyFID);
  if (FAILED(hr)) {
    return hr;
  }
  if (nAlgType == MR_ALG_SM2) {
    const SM2_KEY* key = static_cast<const SM2_KEY*>(pKey);
    hr = Send(mrTraceScope_, L"mr_SendAPDUCmd", pDevCtx, kInsWriteSm2Private, HighByte(wKeyFID),
              LowByte(wKeyFID), key->d, sizeof key->d);
  } else {
    MR_FAIL_IF(!IsRsa(nAlgType), L"CHECK nAlgType", kBadKey);
    const RSA_KEY* key = static_cast<const RSA_KEY*>(pKey);
    MR_FAIL_IF(key->nLen != MR_RSA1024_LEN && key->nLen != MR_RSA2048_LEN, L"CHECK pRSAPri->nLen",
               kBadKey);
    // d goes to the token as long as the modulus: a shorter d is sent
    // right-aligned, so the token never keeps half a private exponent.
    MR_FAIL_IF(key->dLen == 0 || key->dLen > key->nLen, L"CHECK pRSAPri->dLen", kBadKey);
    merro::WipedBytes<MR_RSA_MAX_LEN> d;
    std::memcpy(d.bytes + (key->nLen - key->dLen), key->d, key->dLen);
    hr = SendRsaHeader(mrTraceScope_, pDevCtx, kInsWriteRsaPrivate, wKeyFID, key->nLen);
    if (SUCCEEDED(hr)) {
      hr = SendRsaParts(mrTraceScope_, L"mr_SendAPDUCmd(d)", pDevCtx, kInsWriteRsaPrivate, 0x01,
                        d.bytes, key->nLen);
    }
    if (SUCCEEDED(hr)) {
      hr = SendRsaParts(mrTraceScope_, L"mr_SendAPDUCmd(n)", pDevCtx, kInsWriteRsaPrivate, 0x02,
                        key->n, key->nLen);
    }
  }
  if (FAILED(hr)) {
    return hr;
  }
  return MarkExchangeKey(mrTraceScope_, pDevCtx, wKeyFID);
}

HRESULT mr_ImportPublicKey(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, const void* pKey) {
  MR_TRACE("mr_ImportPublicKey");
  MR_FAIL_IF(pKey == nullptr, L"CHECK pKey", kResultBadArgument);
  HRESULT hr = S_OK;
  if (nAlgType == MR_ALG_SM2) {
    hr = SelectStep(mrTraceScope_, L"mr_SelectFile(KEYFID)", pDevCtx, wKeyFID);
    if (FAILED(hr)) {
      return hr;
    }
    const SM2_KEY* key = static_cast<const SM2_KEY*>(pKey);
    BYTE xy[2 * MR_SM2_COORD_LEN];
    std::memcpy(xy, key->x, MR_SM2_COORD_LEN);
    std::memcpy(xy + MR_SM2_COORD_LEN, key->y, MR_SM2_COORD_LEN);
    return Send(mrTraceScope_, L"mr_SendAPDUCmd(x)", pDevCtx, kInsWriteSm2Public, HighByte(wKeyFID),
                LowByte(wKeyFID), xy, sizeof xy);
  }
  hr = SelectStep(mrTraceScope_, L"k_SelectFile(KEYFID)", pDevCtx, wKeyFID);
  if (FAILED(hr)) {
    return hr;
  }
  MR_FAIL_IF(!IsRsa(nAlgType), L"CHECK nAlgType", kBadKey);
  const RSA_KEY* key = static_cast<const RSA_KEY*>(pKey);
  MR_FAIL_IF(key->nLen != MR_RSA1024_LEN && key->nLen != MR_RSA2048_LEN, L"CHECK pRSAPub->nLen",
             kBadKey);
  // The token stores the exponent 65537 whatever it is sent: a key with
  // another exponent would be stored as a different key.
  DWORD exponent = 0;
  MR_FAIL_IF(!ExponentValue(*key, &exponent) || exponent != kExponent65537, L"CHECK pRSAPub->e",
             kBadKey);
  hr = SendRsaHeader(mrTraceScope_, pDevCtx, kInsWriteRsaPublic, wKeyFID, key->nLen);
  if (FAILED(hr)) {
    return hr;
  }
  const BYTE e[4] = {0x00, 0x01, 0x00, 0x01};
  hr = Send(mrTraceScope_, L"mr_SendAPDUCmd(e)", pDevCtx, kInsWriteRsaPublic, 0x01, 0x00, e,
            sizeof e);
  if (FAILED(hr)) {
    return hr;
  }
  return SendRsaParts(mrTraceScope_, L"mr_SendAPDUCmd(n)", pDevCtx, kInsWriteRsaPublic, 0x02,
                      key->n, key->nLen);
}

HRESULT mr_ImportKeyPairEx(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, const void* pKey) {
  MR_TRACE("mr_ImportKeyPairEx");
  MR_FAIL_IF(pKey == nullptr, L"CHECK pKey", kResultBadArgument);
  HRESULT hr = SelectStep(mrTraceScope_, L"mr_SelectFile(KEYFID)", pDevCtx, wKeyFID);
  if (FAILED(hr)) {
    return hr;
  }
  MR_FAIL_IF(!IsKeyType(nAlgType), L"CHECK nAlgType", kBadAlgorithm);
  hr = StepResult(mrTraceScope_, L"mr_ImportPrivateKey",
                  mr_ImportPrivateKey(pDevCtx, nAlgType, wKeyFID, pKey));
  if (FAILED(hr)) {
    return hr;
  }
  hr = StepResult(mrTraceScope_, L"mr_ImportPublicKey",
                  mr_ImportPublicKey(pDevCtx, nAlgType, wKeyFID, pKey));
  if (FAILED(hr)) {
    return hr;
  }
  return MarkExchangeKey(mrTraceScope_, pDevCtx, wKeyFID);
}

HRESULT mr_ImportKeyPair(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, const BYTE* pKey,
                         DWORD nKeyLen, const BYTE* pSymKey) {
  MR_TRACE("mr_ImportKeyPair");
  MR_FAIL_IF(pKey == nullptr, L"CHECK pKey", kResultBadArgument);
  HRESULT hr = SelectStep(mrTraceScope_, L"mr_SelectFile(KeyFID)", pDevCtx, wKeyFID);
  if (FAILED(hr)) {
    return hr;
  }
  if (nAlgType == MR_ALG_RSA1024) {
    hr = StepResult(mrTraceScope_, L"mr_ImportPrivateKey",
                    mr_ImportPrivateKey(pDevCtx, nAlgType, wKeyFID, pKey));
    if (SUCCEEDED(hr)) {
      hr = StepResult(mrTraceScope_, L"mr_ImportPublicKey",
                      mr_ImportPublicKey(pDevCtx, nAlgType, wKeyFID, pKey));
    }
  } else if (nAlgType == MR_ALG_RSA2048) {
    MR_FAIL_IF(pSymKey == nullptr, L"CHECK pSymKey", kResultBadArgument);
    MR_FAIL_IF(nKeyLen != MR_WRAPPED_RSA_KEYPAIR_LEN, L"CHECK nKeyLen", kBadKey);
    hr = ImportWrappedRsa(mrTraceScope_, pDevCtx, wKeyFID, pKey, pSymKey);
  } else if (nAlgType == MR_ALG_SM2) {
    // One command carries the blob: its length travels in one byte.
    MR_FAIL_IF(nKeyLen == 0 || nKeyLen > MR_APDU_MAX_DATA, L"CHECK nKeyLen", kBadKey);
    hr = ImportWrappedSm2(mrTraceScope_, pDevCtx, wKeyFID, pKey, nKeyLen);
  } else {
    MR_LOG_FAIL(L"CHECK nAlgType", L"not RSA-1024, RSA-2048 or SM2", kBadAlgorithm);
    return kBadAlgorithm;
  }
  if (FAILED(hr)) {
    return hr;
  }
  return MarkExchangeKey(mrTraceScope_, pDevCtx, wKeyFID);
}
