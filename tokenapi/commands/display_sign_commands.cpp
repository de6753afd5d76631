#include "tokenapi/commands/display_sign_commands.h"

#include <mutex>
#include <utility>

#include "foundation/alg_ids.h"
#include "foundation/result.h"
#include "tokenapi/commands/command_exchange.h"
#include "tokenapi/commands/routine_steps.h"
#include "tokenapi/commands/rsa_private_commands.h"
#include "tokenapi/commands/sign_exchange.h"

namespace {

using merro::commands::kResultBadArgument;
using merro::commands::kResultBufferTooSmall;

using merro::apdu::Apdu;


constexpr BYTE kInsSm2Display = 0x59;
constexpr BYTE kInsRsaDisplay = 0x40;

std::mutex g_sleepLock;
std::function<void(DWORD)> g_sleep;

void PauseBeforePoll() {
  std::function<void(DWORD)> sleep;
  {
    std::lock_guard<std::mutex> lock(g_sleepLock);
    sleep = g_sleep;
  }
  if (sleep) {
    sleep(merro::commands::kResultPollIntervalMs);
  } else {
    ::Sleep(merro::commands::kResultPollIntervalMs);
  }
}

// The token's answers while the user has not decided yet.
bool IsWaiting(HRESULT hr) {
  switch (static_cast<DWORD>(hr)) {
    case 0x8000FF05:
    case 0x8000FF11:
    case 0x8000FF12:
    case 0x8000FF13:
      return true;
    default:
      return false;
  }
}

// Asks for the signature every 100 ms, the first time included, until the
// token stops answering that it waits, or kMaxResultPolls rounds are over.
// The waiting answers are not logged one by one; the final result is.
HRESULT PollResult(const TraceHelper& scope, DEV_CTX* pDevCtx, const Apdu& poll, BYTE* pOut,
                   DWORD* pOutLen) {
  for (DWORD round = 0; round < merro::commands::kMaxResultPolls; ++round) {
    PauseBeforePoll();
    DWORD received = *pOutLen;
    const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(
        merro::apdu::Transmit(pDevCtx, poll, pOut, &received, MR_TIMEOUT_DEFAULT));
    if (!IsWaiting(hr)) {
      if (SUCCEEDED(hr)) {
        *pOutLen = received;
      }
      merro::trace::LogStep(scope.Name(), L"mr_SendAPDUCmd(P1=0x03)", hr);
      return hr;
    }
  }
  merro::trace::LogFailure(MR_TRACE_SOURCE, __LINE__, scope.Name(), L"mr_SendAPDUCmd(P1=0x03)",
                           L"the token is still waiting for the user", MR_E_KEY_TIMEOUT);
  return MR_E_KEY_TIMEOUT;
}

// Start frame, message pieces and end-of-data frame of a display signature.
HRESULT SendMessage(const TraceHelper& scope, DEV_CTX* pDevCtx, const Apdu& start,
                    const BYTE* pDispbuf, DWORD nDisplen, const Apdu& end, BYTE* pEndReply,
                    DWORD nEndReplyLen) {
  HRESULT hr = merro::commands::Exchange(scope, L"mr_SendAPDUCmd(P1=0x00)", pDevCtx, start,
                                         nullptr, nullptr, MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  hr = merro::commands::SendPieces(scope, L"mr_SendAPDUCmd(P1=0x01)", pDevCtx, start.ins, 0x01,
                                   pDispbuf, nDisplen, MR_SIGN_PIECE_LEN,
                                   merro::commands::PiecePosition::None);
  if (FAILED(hr)) {
    return hr;
  }
  if (nEndReplyLen == 0) {
    return merro::commands::Exchange(scope, L"mr_SendAPDUCmd(P1=0x02)", pDevCtx, end, nullptr,
                                     nullptr, MR_TIMEOUT_DEFAULT);
  }
  return merro::commands::ExchangeExact(scope, L"mr_SendAPDUCmd(P1=0x02)", pDevCtx, end,
                                        pEndReply, nEndReplyLen);
}

}  // namespace

namespace merro::commands {

void SetResultPollSleep(std::function<void(DWORD)> sleep) {
  std::lock_guard<std::mutex> lock(g_sleepLock);
  g_sleep = std::move(sleep);
}

}  // namespace merro::commands

HRESULT mr_SM2SignXML(DEV_CTX* pDevCtx, WORD wKeyFID, const BYTE* pDispbuf, DWORD nDisplen,
                      BYTE* pSignbuf, DWORD* pSignlen) {
  MR_TRACE("mr_SM2SignXML");
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kResultBadArgument);
  MR_FAIL_IF(pDispbuf == nullptr && nDisplen != 0, L"CHECK pDispbuf", kResultBadArgument);
  MR_FAIL_IF(pSignbuf == nullptr, L"CHECK pSignbuf", kResultBadArgument);
  MR_FAIL_IF(pSignlen == nullptr, L"CHECK pSignlen", kResultBadArgument);
  // Checked before the user is asked: a signature the buffer cannot take
  // would be lost after the confirmation.
  MR_FAIL_IF(*pSignlen < MR_SM2_SIGNATURE_LEN, L"CHECK *pSignlen SIZE", kResultBufferTooSmall);

  BYTE start[merro::commands::kSm2StartDataLen];
  merro::commands::Sm2StartData(wKeyFID, start);
  BYTE digest[MR_SM2_DIGEST_LEN];  // the token's e, not used
  HRESULT hr = SendMessage(
      mrTraceScope_, pDevCtx, Apdu{MR_CLA_PROTECTED, kInsSm2Display, 0x00, 0x00, 0x00, start, sizeof start},
      pDispbuf, nDisplen,
      Apdu{MR_CLA_PROTECTED, kInsSm2Display, 0x02, 0x00, static_cast<BYTE>(MR_SM2_DIGEST_LEN), nullptr, 0},
      digest, sizeof digest);
  if (FAILED(hr)) {
    return hr;
  }
  DWORD received = MR_SM2_SIGNATURE_LEN;
  hr = PollResult(mrTraceScope_, pDevCtx,
                  Apdu{MR_CLA_PROTECTED, kInsSm2Display, 0x03, 0x00,
                       static_cast<BYTE>(MR_SM2_SIGNATURE_LEN), nullptr, 0},
                  pSignbuf, &received);
  if (SUCCEEDED(hr)) {
    hr = merro::commands::CheckReplyLength(mrTraceScope_, pSignbuf, received,
                                           MR_SM2_SIGNATURE_LEN);
  }
  if (SUCCEEDED(hr)) {
    *pSignlen = received;
  }
  return hr;
}

HRESULT mr_RSASignXML(DEV_CTX* pDevCtx, WORD wKeyFID, BYTE byKeyType, BYTE byHashType,
                      const BYTE* pDispbuf, DWORD nDisplen, BYTE* pSignbuf, DWORD* pSignlen) {
  MR_TRACE("mr_RSASignXML");
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kResultBadArgument);
  MR_FAIL_IF(pDispbuf == nullptr && nDisplen != 0, L"CHECK pDispbuf", kResultBadArgument);
  MR_FAIL_IF(pSignbuf == nullptr, L"CHECK pSignbuf", kResultBadArgument);
  MR_FAIL_IF(pSignlen == nullptr, L"CHECK pSignlen", kResultBadArgument);
  merro::commands::TokenHashCode hash{};
  if (byHashType != MR_ALG_SHA256 || !merro::commands::LookupTokenHash(byHashType, false, &hash)) {
    MR_LOG_FAIL(L"Invalid Hash Type", L"display signing takes SHA-256 only", MR_E_INVALID_HASH_TYPE);
    return MR_E_INVALID_HASH_TYPE;
  }
  MR_FAIL_IF(*pSignlen < merro::commands::ModulusLenOf(byKeyType), L"CHECK *pSignlen SIZE",
             kResultBufferTooSmall);

  const merro::commands::FileIdBytes fid(wKeyFID);
  const BYTE start[3] = {fid.bytes[0], fid.bytes[1], hash.code};
  HRESULT hr = SendMessage(
      mrTraceScope_, pDevCtx,
      Apdu{MR_CLA_PROTECTED, kInsRsaDisplay, 0x00, merro::commands::KeySizeFlag(byKeyType), 0x00, start, sizeof start},
      pDispbuf, nDisplen, Apdu{MR_CLA_PROTECTED, kInsRsaDisplay, 0x02, 0x00, 0x00, nullptr, 0},
      nullptr, 0);
  if (FAILED(hr)) {
    return hr;
  }
  DWORD received = 128;
  hr = PollResult(mrTraceScope_, pDevCtx,
                  Apdu{MR_CLA_PROTECTED, kInsRsaDisplay, 0x03, 0x00, 0x80, nullptr, 0}, pSignbuf,
                  &received);
  if (FAILED(hr)) {
    return hr;
  }
  hr = merro::commands::CheckReplyLength(mrTraceScope_, pSignbuf, received, 128);
  if (FAILED(hr)) {
    return hr;
  }
  return merro::commands::FinishRsaResult(mrTraceScope_, pDevCtx, kInsRsaDisplay, byKeyType,
                                          pSignbuf, pSignlen);
}
