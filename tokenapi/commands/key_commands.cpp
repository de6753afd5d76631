// Key-pair generation and public-key export.
#include "tokenapi/commands/key_commands.h"

#include <cstring>

#include "tokenapi/commands/command_exchange.h"
#include "foundation/container_record.h"
#include "tokenapi/commands/record_commands.h"
#include "tokenapi/commands/routine_steps.h"

using merro::apdu::Apdu;
using merro::commands::Exchange;
using merro::commands::FileIdBytes;
using merro::commands::HighByte;
using merro::commands::kResultBadArgument;
using merro::commands::kResultBadReply;
using merro::commands::LowByte;
using merro::commands::SelectStep;
using merro::commands::StepResult;

namespace {

constexpr HRESULT kBadAlgorithm = static_cast<HRESULT>(0x80070209);
constexpr BYTE kInsGenerateRsa = 0x34;
constexpr BYTE kInsReadRsaPublic = 0x35;
constexpr BYTE kInsGenerateSm2 = 0x50;
constexpr BYTE kInsReadSm2Public = 0x53;
constexpr DWORD kSm2PublicLen = 2 * MR_SM2_COORD_LEN;
constexpr DWORD kRsaExponentMax = 4;

bool IsRsa(BYTE alg) { return alg == MR_ALG_RSA1024 || alg == MR_ALG_RSA2048; }

HRESULT ExportSm2(const TraceHelper& scope, DEV_CTX* pDevCtx, WORD wKeyFID, BYTE* pPubKey) {
  MR_TRACE("ExportSm2");
  BYTE xy[kSm2PublicLen];
  DWORD len = sizeof xy;
  const Apdu cmd{MR_CLA_PLAIN,
                 kInsReadSm2Public,
                 HighByte(wKeyFID),
                 LowByte(wKeyFID),
                 static_cast<BYTE>(kSm2PublicLen),
                 nullptr,
                 0};
  const HRESULT hr = Exchange(scope, pDevCtx, cmd, xy, &len, MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  if (len != kSm2PublicLen) {
    merro::trace::LogStep(scope.Name(), L"CHECK public key length", kResultBadReply);
    return kResultBadReply;
  }
  std::memcpy(pPubKey, xy, sizeof xy);
  return S_OK;
}

// One modulus half: 128 bytes at n + 128 x half.
HRESULT ReadModulusHalf(const TraceHelper& scope, const wchar_t* step, DEV_CTX* pDevCtx, DWORD half,
                        RSA_KEY* pKey) {
  MR_TRACE("ReadModulusHalf");
  BYTE part[MR_RSA1024_LEN];
  DWORD len = sizeof part;
  const Apdu cmd{MR_CLA_PLAIN,
                 kInsReadRsaPublic,
                 0x02,
                 static_cast<BYTE>(half * 0x80),
                 static_cast<BYTE>(MR_RSA1024_LEN),
                 nullptr,
                 0};
  const HRESULT hr = Exchange(scope, step, pDevCtx, cmd, part, &len, MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  // A short half would leave a gap in the modulus.
  if (len != MR_RSA1024_LEN) {
    merro::trace::LogStep(scope.Name(), L"CHECK modulus length", kResultBadReply);
    return kResultBadReply;
  }
  std::memcpy(pKey->n + half * MR_RSA1024_LEN, part, len);
  pKey->nLen = half == 0 ? len : pKey->nLen + len;
  return S_OK;
}

HRESULT ExportRsa(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE nAlgType, RSA_KEY* pKey) {
  MR_TRACE("ExportRsa");
  BYTE lengthReply[2];
  DWORD len = sizeof lengthReply;
  const Apdu lengthCmd{MR_CLA_PLAIN, kInsReadRsaPublic, 0x00, 0x00, 0x02, nullptr, 0};
  HRESULT hr = Exchange(scope, L"mr_SendAPDUCmd(len)", pDevCtx, lengthCmd, lengthReply, &len,
                        MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  BYTE e[kRsaExponentMax];
  len = sizeof e;
  const Apdu exponentCmd{MR_CLA_PLAIN, kInsReadRsaPublic, 0x01, 0x00, kRsaExponentMax, nullptr, 0};
  hr = Exchange(scope, L"mr_SendAPDUCmd(e)", pDevCtx, exponentCmd, e, &len, MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  if (len == 0) {
    merro::trace::LogStep(scope.Name(), L"CHECK exponent length", kResultBadReply);
    return kResultBadReply;
  }
  std::memcpy(pKey->e, e, len);
  pKey->eLen = len;
  hr = ReadModulusHalf(scope, L"mr_SendAPDUCmd(n)", pDevCtx, 0, pKey);
  if (FAILED(hr) || nAlgType != MR_ALG_RSA2048) {
    return hr;
  }
  return ReadModulusHalf(scope, L"mr_SendAPDUCmd(n)2048", pDevCtx, 1, pKey);
}

}  // namespace

HRESULT mr_ExportPublicKey(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, void* pPubKey) {
  MR_TRACE("mr_ExportPublicKey");
  MR_FAIL_IF(pPubKey == nullptr, L"CHECK pPubKey", kResultBadArgument);
  const HRESULT hr = SelectStep(mrTraceScope_, L"mr_SelectFile(KEYFID)", pDevCtx, wKeyFID);
  if (FAILED(hr)) {
    return hr;
  }
  if (nAlgType == MR_ALG_SM2) {
    return ExportSm2(mrTraceScope_, pDevCtx, wKeyFID, static_cast<BYTE*>(pPubKey));
  }
  MR_FAIL_IF(!IsRsa(nAlgType), L"CHECK nAlgType", kBadAlgorithm);
  return ExportRsa(mrTraceScope_, pDevCtx, nAlgType, static_cast<RSA_KEY*>(pPubKey));
}

HRESULT mr_GenerateKeyPair(DEV_CTX* pDevCtx, BYTE nAlgType, WORD wKeyFID, void* pPubKey) {
  MR_TRACE("mr_GenerateKeyPair");
  HRESULT hr = S_OK;
  if (IsRsa(nAlgType)) {
    const FileIdBytes fid(wKeyFID);
    const BYTE data[6] = {fid.bytes[0], fid.bytes[1], 0x00, 0x01, 0x00, 0x01};
    const Apdu cmd{
        MR_CLA_PLAIN, kInsGenerateRsa, static_cast<BYTE>(nAlgType == MR_ALG_RSA2048), 0x00, 0x00,
        data,         sizeof data};
    hr = Exchange(mrTraceScope_, pDevCtx, cmd, nullptr, nullptr, MR_TIMEOUT_GEN_RSA_KEY);
  } else if (nAlgType == MR_ALG_SM2) {
    const Apdu cmd{
        MR_CLA_PLAIN, kInsGenerateSm2, HighByte(wKeyFID), LowByte(wKeyFID), 0x00, nullptr, 0};
    hr = Exchange(mrTraceScope_, pDevCtx, cmd, nullptr, nullptr, MR_TIMEOUT_DEFAULT);
  } else {
    MR_LOG_FAIL(L"CHECK nAlgType", L"not RSA-1024, RSA-2048 or SM2", kBadAlgorithm);
    return kBadAlgorithm;
  }
  if (FAILED(hr)) {
    return hr;
  }
  if (pPubKey == nullptr) {
    MR_LOG_STEP(L"CHECK pPubKey");
    return S_OK;
  }
  hr = StepResult(mrTraceScope_, L"mr_ExportPublicKey",
                  mr_ExportPublicKey(pDevCtx, nAlgType, wKeyFID, pPubKey));
  if (FAILED(hr)) {
    return hr;
  }
  return merro::commands::MarkContainerFile(mrTraceScope_, pDevCtx, wKeyFID, MR_CTNR_SIGN_KEY);
}
