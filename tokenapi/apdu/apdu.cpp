#include "tokenapi/apdu/apdu.h"

#include <cstring>

#include "foundation/secure_wipe.h"
#include "foundation/trace/trace.h"
#include "tokenapi/apdu/send_apdu.h"

namespace merro::apdu {

HRESULT BuildFrame(const Apdu& cmd, Frame* frame, DWORD* pLen) {
  MR_TRACE("BuildFrame");
  if (cmd.lc > MR_APDU_MAX_DATA) {
    return static_cast<HRESULT>(0x80070004);
  }
  if (cmd.lc != 0 && cmd.data == nullptr) {
    return static_cast<HRESULT>(0x80070001);
  }
  frame->fill(0);
  (*frame)[MR_APDU_CLA] = cmd.cla;
  (*frame)[MR_APDU_INS] = cmd.ins;
  (*frame)[MR_APDU_P1] = cmd.p1;
  (*frame)[MR_APDU_P2] = cmd.p2;
  (*frame)[MR_APDU_LC] = static_cast<BYTE>(cmd.lc);
  (*frame)[MR_APDU_LE] = cmd.le;
  if (cmd.lc != 0) {
    std::memcpy(frame->data() + MR_APDU_HEADER_LEN, cmd.data, cmd.lc);
  }
  *pLen = MR_APDU_HEADER_LEN + cmd.lc;
  return S_OK;
}

bool IsWellFormedFrame(const BYTE* pFrame, DWORD nLen) {
  MR_TRACE("IsWellFormedFrame");
  return pFrame != nullptr && nLen >= MR_APDU_HEADER_LEN && nLen <= MR_APDU_MAX_FRAME &&
         pFrame[MR_APDU_LC] == nLen - MR_APDU_HEADER_LEN;
}

HRESULT Transmit(DEV_CTX* pDevCtx, const Apdu& cmd, BYTE* pRecv, DWORD* pRecvLen,
                 DWORD nTimeoutSec) {
  MR_TRACE("Transmit");
  Frame frame;
  DWORD frameLen = 0;
  const HRESULT hr = BuildFrame(cmd, &frame, &frameLen);
  if (FAILED(hr)) {
    return hr;
  }
  DWORD noData = 0;
  const HRESULT sent = mr_SendAPDUCmd(pDevCtx, frame.data(), frameLen, pRecv,
                                      pRecvLen ? pRecvLen : &noData, nTimeoutSec);
  // The frame may carry a PIN digest or a key.
  merro::SecureWipe(frame.data(), frame.size());
  return sent;
}

}  // namespace merro::apdu
