#include "tokenapi/commands/symkey_commands.h"

#include <algorithm>

#include "foundation/result.h"
#include "tokenapi/commands/command_exchange.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/result_codes.h"

using merro::apdu::Apdu;
using merro::commands::Exchange;
using namespace merro::crypto;

namespace {

constexpr BYTE kInsTokenSym = 0x23;
constexpr BYTE kInsSm4 = 0x24;
constexpr DWORD kTokenSymKeyLen = 32;
constexpr DWORD kSm4KeyLen = 16;
constexpr BYTE kP1Key = 0x00;
constexpr BYTE kP1Data = 0x01;
constexpr DWORD kPieceLen = 128;
constexpr HRESULT kResultBadReply = static_cast<HRESULT>(0x8007000D);  // ERROR_INVALID_DATA

}  // namespace

HRESULT mr_SymKeyCrypto(DEV_CTX* pDevCtx, BYTE nAlgType, BYTE nMode, const BYTE* pKey,
                        const BYTE* pInData, DWORD nInLen, BYTE* pOutData, DWORD* pOutLen) {
  MR_TRACE("mr_SymKeyCrypto");
  BYTE ins = 0;
  DWORD keyLen = 0;
  if (nAlgType == MR_ALG_TOKEN_SYM) {
    ins = kInsTokenSym;
    keyLen = kTokenSymKeyLen;
  } else if (nAlgType == MR_ALG_SM4) {
    ins = kInsSm4;
    keyLen = kSm4KeyLen;
  }
  MR_FAIL_IF(ins == 0, L"CHECK nAlgType", kResultBadCryptFlag);
  MR_FAIL_IF(pKey == nullptr, L"CHECK pKey", kResultInvalidArg);
  MR_FAIL_IF(pInData == nullptr && nInLen != 0, L"CHECK pInData", kResultInvalidArg);
  MR_FAIL_IF(pOutData == nullptr || pOutLen == nullptr, L"CHECK pOutData", kResultInvalidArg);
  if (*pOutLen < nInLen) {
    *pOutLen = nInLen;
    MR_LOG_FAIL(L"CHECK pOutLen", L"*pOutLen < nInLen", kResultBufferTooSmall);
    return kResultBufferTooSmall;
  }

  const Apdu key{MR_CLA_PROTECTED, ins, kP1Key, 0x00, 0x00, pKey, keyLen};
  HRESULT hr = Exchange(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x00)", pDevCtx, key, nullptr, nullptr,
                        MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  for (DWORD done = 0; done < nInLen;) {
    const DWORD piece = std::min(nInLen - done, kPieceLen);
    const Apdu data{MR_CLA_PROTECTED, ins,           kP1Data, nMode, static_cast<BYTE>(piece),
                    pInData + done,   piece};
    DWORD received = piece;
    hr = Exchange(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x01)", pDevCtx, data, pOutData + done,
                  &received, MR_TIMEOUT_DEFAULT);
    if (FAILED(hr)) {
      return hr;
    }
    // A short reply would leave output bytes that the token never wrote.
    MR_FAIL_IF(received != piece, L"CHECK reply length (P1=0x01)", kResultBadReply);
    done += piece;
  }
  *pOutLen = nInLen;
  return S_OK;
}

HRESULT mr_HWSymKeyCrypto(DEV_CTX* pDevCtx, BYTE nAlgType, BYTE nMode, const BYTE* pKey,
                          const BYTE* pInData, DWORD nInLen, BYTE* pOutData, DWORD* pOutLen) {
  MR_TRACE("mr_HWSymKeyCrypto");
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(
      mr_SymKeyCrypto(pDevCtx, nAlgType, nMode, pKey, pInData, nInLen, pOutData, pOutLen));
  merro::trace::LogStep(mrTraceScope_.Name(), L"mr_SymKeyCrypto", hr);
  return hr;
}
