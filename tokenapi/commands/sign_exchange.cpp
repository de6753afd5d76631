#include "tokenapi/commands/sign_exchange.h"

#include <algorithm>
#include <cstring>

#include "foundation/secure_wipe.h"
#include "tokenapi/commands/command_exchange.h"
#include "tokenapi/commands/routine_steps.h"
#include "tokenapi/crypto/sm2/sm2_z.h"

namespace merro::commands {

HRESULT SendPieces(const TraceHelper& scope, const wchar_t* step, DEV_CTX* pDevCtx, BYTE ins,
                   BYTE byP1, const BYTE* pData, DWORD nLen, DWORD nPieceLen,
                   PiecePosition position) {
  for (DWORD offset = 0; offset < nLen;) {
    const DWORD piece = std::min(nLen - offset, nPieceLen);
    const BYTE p2 = position == PiecePosition::OffsetP2 ? static_cast<BYTE>(offset) : 0;
    const merro::apdu::Apdu cmd{MR_CLA_PROTECTED, ins, byP1, p2, 0x00, pData + offset, piece};
    const HRESULT hr = Exchange(scope, step, pDevCtx, cmd, nullptr, nullptr, MR_TIMEOUT_DEFAULT);
    if (FAILED(hr)) {
      return hr;
    }
    offset += piece;
  }
  return S_OK;
}

HRESULT ExchangeExact(const TraceHelper& scope, const wchar_t* step, DEV_CTX* pDevCtx,
                      const merro::apdu::Apdu& cmd, BYTE* pOut, DWORD nLen) {
  DWORD received = nLen;
  const HRESULT hr = Exchange(scope, step, pDevCtx, cmd, pOut, &received, MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  return CheckReplyLength(scope, pOut, received, nLen);
}

HRESULT CheckReplyLength(const TraceHelper& scope, BYTE* pOut, DWORD received, DWORD nLen) {
  if (received == nLen) {
    return S_OK;
  }
  merro::SecureWipe(pOut, received);
  merro::trace::LogStep(scope.Name(), L"CHECK reply length", kResultBadReply);
  return kResultBadReply;
}

void Sm2StartData(WORD wKeyFID, BYTE (&data)[kSm2StartDataLen]) {
  data[0] = LowByte(wKeyFID);
  data[1] = HighByte(wKeyFID);
  static_assert(sizeof merro::crypto::kSm2DefaultId == kSm2StartDataLen - 2);
  std::memcpy(data + 2, merro::crypto::kSm2DefaultId, sizeof merro::crypto::kSm2DefaultId);
}

}  // namespace merro::commands
