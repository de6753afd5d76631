#include "tokenapi/apdu/send_apdu.h"

#include <cstring>
#include <vector>

#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/wiped_bytes.h"
#include "tokenapi/apdu/apdu.h"
#include "tokenapi/apdu/secure_messaging.h"
#include "tokenapi/apdu/status_words.h"
#include "tokenapi/transport/merro_transport.h"
#include "tokenapi/transport/transport.h"

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070001);
constexpr HRESULT kBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kBadLength = static_cast<HRESULT>(0x80070004);

// A frame travels protected only with a session key in force, class 0xB4
// and something to protect (command data or an expected reply).
bool TakesProtectedPath(const DEV_CTX* pDevCtx, const BYTE* pCmd) {
  return pDevCtx->bySMState == MR_SM_STATE_SESSION_KEY && pCmd[MR_APDU_CLA] == MR_CLA_PROTECTED &&
         (pCmd[MR_APDU_LC] != 0 || pCmd[MR_APDU_LE] != 0);
}

}  // namespace

HRESULT SW1SW2ToResult(const BYTE* pReply) {
  MR_TRACE("SW1SW2ToResult");
  if (pReply == nullptr) {
    return kBadArgument;
  }
  return MrStatusWordResult(static_cast<WORD>((pReply[0] << 8) | pReply[1]));
}

HRESULT mr_SendAPDUCmd(DEV_CTX* pDevCtx, const BYTE* pCmd, DWORD nCmdLen, BYTE* pRecv,
                       DWORD* pRecvLen, DWORD nTimeoutSec) {
  MR_TRACE("mr_SendAPDUCmd");
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kBadArgument);
  MR_FAIL_IF(pCmd == nullptr, L"CHECK pCmd", kBadArgument);
  MR_FAIL_IF(pRecvLen == nullptr, L"CHECK pRecvLen", kBadArgument);
  MR_FAIL_IF(!merro::apdu::IsWellFormedFrame(pCmd, nCmdLen), L"CHECK nCmdLen", kBadLength);

  const bool bProtected = TakesProtectedPath(pDevCtx, pCmd);
  // The copies of the frame and of the reply are wiped on every way out:
  // they may hold PIN digests, keys or decrypted reply data.
  std::vector<BYTE> send;
  const merro::WipeOnExit wipeSend(send);
  if (bProtected) {
    const HRESULT hr = merro::apdu::WrapCommand(pDevCtx, pCmd, nCmdLen, &send);
    if (FAILED(hr)) {
      MR_LOG_FAIL(L"GetCryptByte", L"protecting the command failed", hr);
      return hr;
    }
  } else {
    send.assign(pCmd, pCmd + nCmdLen);
    if (send[MR_APDU_CLA] == MR_CLA_PROTECTED) {
      send[MR_APDU_CLA] = MR_CLA_PLAIN;
    }
  }

  merro::WipedBytes<merro::transport::kReplyTransferLen> replyCopy;
  BYTE* const reply = replyCopy.bytes;
  DWORD replyLen = 0;
  HRESULT hr = HRESULT_FROM_TOKEN_ERROR(MerroSendCommand(pDevCtx->hDevice, send.data(),
                                                         static_cast<DWORD>(send.size()), reply,
                                                         &replyLen, nTimeoutSec));
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"MerroSendCommand", L"exchange failed", hr);
    return hr;
  }
  hr = SW1SW2ToResult(reply);
  if (hr != 0) {
    const WORD sw = static_cast<WORD>((reply[0] << 8) | reply[1]);
    MR_LOG_FAIL(L"CHECK SW1SW2", merro::apdu::StatusWordText(sw), hr);
    return hr;
  }

  const BYTE* data = reply + 3;
  DWORD dataLen = replyLen - 3;
  std::vector<BYTE> plain;
  const merro::WipeOnExit wipePlain(plain);
  if (bProtected && dataLen > 0) {
    hr = merro::apdu::UnwrapReply(pDevCtx, data, dataLen, &plain);
    if (FAILED(hr)) {
      MR_LOG_FAIL(L"GetPlainByte", L"the reply cannot be decrypted", hr);
      return hr;
    }
    data = plain.data();
    dataLen = static_cast<DWORD>(plain.size());
  }
  if (*pRecvLen < dataLen) {
    MR_LOG_FAIL(L"CHECK *pRecvLen SIZE", L"*pRecvLen < reply length", kBufferTooSmall);
    return kBufferTooSmall;
  }
  MR_FAIL_IF(dataLen > 0 && pRecv == nullptr, L"CHECK pRecv", kBadArgument);
  if (dataLen > 0) {
    std::memcpy(pRecv, data, dataLen);
  }
  *pRecvLen = dataLen;
  return S_OK;
}
