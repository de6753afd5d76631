#include "tokenapi/commands/sm2_private_commands.h"

#include "tokenapi/commands/command_exchange.h"
#include "tokenapi/commands/routine_steps.h"
#include "tokenapi/commands/sign_exchange.h"

namespace {

using merro::commands::kResultBadArgument;
using merro::commands::kResultBadLength;
using merro::commands::kResultBufferTooSmall;

using merro::apdu::Apdu;
using merro::commands::HighByte;
using merro::commands::LowByte;


constexpr BYTE kInsDecrypt = 0x55;
constexpr BYTE kInsSignDigest = 0x54;
constexpr BYTE kInsSignData = 0x81;

// The longest ciphertext one frame carries: Lc and Le are single bytes and a
// protected frame needs room for its padding.
DWORD CiphertextLimit(const DEV_CTX* pDevCtx) {
  return pDevCtx->bySMState == MR_SM_STATE_SESSION_KEY ? MR_SM2_CIPHER_MAX_PROTECTED
                                                       : MR_SM2_CIPHER_MAX_CLEAR;
}

}  // namespace

HRESULT mr_SM2Decrypt(DEV_CTX* pDevCtx, WORD wKeyFID, const BYTE* pInbuf, DWORD nInlen,
                      BYTE* pOutbuf, DWORD* pOutLen) {
  MR_TRACE("mr_SM2Decrypt");
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kResultBadArgument);
  MR_FAIL_IF(pInbuf == nullptr, L"CHECK pInbuf", kResultBadArgument);
  MR_FAIL_IF(pOutbuf == nullptr, L"CHECK pOutbuf", kResultBadArgument);
  MR_FAIL_IF(pOutLen == nullptr, L"CHECK pOutLen", kResultBadArgument);
  // At least one plaintext byte; no more than the frame carries (a longer
  // ciphertext would wrap Lc and Le).
  MR_FAIL_IF(nInlen <= MR_SM2_CIPHER_OVERHEAD || nInlen > CiphertextLimit(pDevCtx),
             L"CHECK nInlen", kResultBadLength);

  // Le asks for one byte more than the plaintext; the reply may not exceed
  // the caller's capacity.
  const BYTE le = static_cast<BYTE>(nInlen - 0x60);
  DWORD received = *pOutLen < le ? *pOutLen : le;
  const Apdu cmd{MR_CLA_PROTECTED, kInsDecrypt, HighByte(wKeyFID), LowByte(wKeyFID), le, pInbuf,
                 nInlen};
  HRESULT hr = merro::commands::Exchange(mrTraceScope_, pDevCtx, cmd, pOutbuf, &received,
                                         MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  // The plaintext is exactly as long as C2: any other reply is not it.
  hr = merro::commands::CheckReplyLength(mrTraceScope_, pOutbuf, received,
                                         nInlen - MR_SM2_CIPHER_OVERHEAD);
  if (SUCCEEDED(hr)) {
    *pOutLen = received;
  }
  return hr;
}

HRESULT mr_SM2SignDigest(DEV_CTX* pDevCtx, WORD wKeyFID, const BYTE* pInbuf, DWORD nInlen,
                         BYTE* pSignbuf, DWORD* pSignlen) {
  MR_TRACE("mr_SM2SignDigest");
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kResultBadArgument);
  MR_FAIL_IF(pInbuf == nullptr, L"CHECK pInbuf", kResultBadArgument);
  MR_FAIL_IF(pSignbuf == nullptr, L"CHECK pSignbuf", kResultBadArgument);
  MR_FAIL_IF(pSignlen == nullptr, L"CHECK pSignlen", kResultBadArgument);
  MR_FAIL_IF(nInlen != MR_SM2_DIGEST_LEN, L"CHECK nInlen", kResultBadLength);
  MR_FAIL_IF(*pSignlen < MR_SM2_SIGNATURE_LEN, L"CHECK *pSignlen SIZE", kResultBufferTooSmall);

  const Apdu cmd{MR_CLA_PROTECTED, kInsSignDigest, HighByte(wKeyFID), LowByte(wKeyFID),
                 static_cast<BYTE>(MR_SM2_SIGNATURE_LEN), pInbuf, MR_SM2_DIGEST_LEN};
  // r || s is always 64 bytes: a shorter reply is no signature.
  const HRESULT hr = merro::commands::ExchangeExact(mrTraceScope_, L"mr_SendAPDUCmd", pDevCtx, cmd,
                                                    pSignbuf, MR_SM2_SIGNATURE_LEN);
  if (SUCCEEDED(hr)) {
    *pSignlen = MR_SM2_SIGNATURE_LEN;
  }
  return hr;
}

HRESULT mr_SM2SignDataInit(DEV_CTX* pDevCtx, WORD wKeyFID) {
  MR_TRACE("mr_SM2SignDataInit");
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kResultBadArgument);
  BYTE start[merro::commands::kSm2StartDataLen];
  merro::commands::Sm2StartData(wKeyFID, start);
  const Apdu cmd{MR_CLA_PROTECTED, kInsSignData, 0x00, 0x00, 0x00, start, sizeof start};
  return merro::commands::Exchange(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x00)", pDevCtx, cmd,
                                   nullptr, nullptr, MR_TIMEOUT_DEFAULT);
}

HRESULT mr_SM2SignDataUpdate(DEV_CTX* pDevCtx, const BYTE* pInbuf, DWORD nInlen) {
  MR_TRACE("mr_SM2SignDataUpdate");
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kResultBadArgument);
  MR_FAIL_IF(pInbuf == nullptr && nInlen != 0, L"CHECK pInbuf", kResultBadArgument);
  return merro::commands::SendPieces(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x01)", pDevCtx,
                                     kInsSignData, 0x01, pInbuf, nInlen, MR_SIGN_PIECE_LEN,
                                     merro::commands::PiecePosition::None);
}

HRESULT mr_SM2SignDataFinal(DEV_CTX* pDevCtx, BYTE* pDigestbuf, DWORD* pDigestlen) {
  MR_TRACE("mr_SM2SignDataFinal");
  MR_FAIL_IF(pDigestlen == nullptr, L"CHECK pDigestlen", kResultBadArgument);
  const DWORD capacity = *pDigestlen;
  *pDigestlen = MR_SM2_DIGEST_LEN;
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kResultBadArgument);
  MR_FAIL_IF(pDigestbuf == nullptr, L"CHECK pDigestbuf", kResultBadArgument);
  MR_FAIL_IF(capacity < MR_SM2_DIGEST_LEN, L"CHECK *pDigestlen SIZE", kResultBufferTooSmall);
  const Apdu cmd{MR_CLA_PROTECTED, kInsSignData, 0x02, 0x00, static_cast<BYTE>(MR_SM2_DIGEST_LEN),
                 nullptr, 0};
  return merro::commands::ExchangeExact(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x02)", pDevCtx, cmd,
                                        pDigestbuf, MR_SM2_DIGEST_LEN);
}

HRESULT mr_SM2SignDataResult(DEV_CTX* pDevCtx, BYTE* pSignbuf, DWORD* pSignlen) {
  MR_TRACE("mr_SM2SignDataResult");
  MR_FAIL_IF(pSignlen == nullptr, L"CHECK pSignlen", kResultBadArgument);
  const DWORD capacity = *pSignlen;
  *pSignlen = MR_SM2_SIGNATURE_LEN;
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kResultBadArgument);
  MR_FAIL_IF(pSignbuf == nullptr, L"CHECK pSignbuf", kResultBadArgument);
  MR_FAIL_IF(capacity < MR_SM2_SIGNATURE_LEN, L"CHECK *pSignlen SIZE", kResultBufferTooSmall);
  const Apdu cmd{MR_CLA_PROTECTED, kInsSignData, 0x03, 0x00,
                 static_cast<BYTE>(MR_SM2_SIGNATURE_LEN), nullptr, 0};
  // *pSignlen stays 64: r || s is never shorter.
  return merro::commands::ExchangeExact(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x03)", pDevCtx, cmd,
                                        pSignbuf, MR_SM2_SIGNATURE_LEN);
}
