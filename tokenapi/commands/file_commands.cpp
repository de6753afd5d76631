#include "tokenapi/commands/file_commands.h"

#include <algorithm>

#include "foundation/result.h"
#include "tokenapi/commands/command_exchange.h"
#include "tokenapi/commands/piece_transfer.h"

using merro::apdu::Apdu;
using merro::commands::Advance;
using merro::commands::Exchange;
using merro::commands::FileIdBytes;
using merro::commands::FitsPositionRange;

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070001);
constexpr HRESULT kLengthLimit = static_cast<HRESULT>(0x80070004);

HRESULT SendFileId(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE ins, BYTE p1, WORD wFileId) {
  const FileIdBytes fid(wFileId);
  const Apdu cmd{MR_CLA_PLAIN, ins, p1, 0x00, 0x00, fid.bytes, sizeof fid.bytes};
  return Exchange(scope, pDevCtx, cmd, nullptr, nullptr, MR_TIMEOUT_DEFAULT);
}

}  // namespace

HRESULT mr_SelectFile(DEV_CTX* pDevCtx, BYTE byP1, WORD wFileId, BYTE* pOut, DWORD* pOutLen) {
  MR_TRACE("mr_SelectFile");
  MR_FAIL_IF(pOut == nullptr || pOutLen == nullptr, L"CHECK pOut", kBadArgument);
  MR_FAIL_IF(*pOutLen < MR_FILE_INFO_LEN, L"CHECK *pOutLen SIZE", kLengthLimit);
  const FileIdBytes fid(wFileId);
  const Apdu cmd{MR_CLA_PLAIN, 0xA4, byP1, 0x00, MR_FILE_INFO_LEN, fid.bytes, sizeof fid.bytes};
  return Exchange(mrTraceScope_, pDevCtx, cmd, pOut, pOutLen, MR_TIMEOUT_DEFAULT);
}

HRESULT mr_CreateFile(DEV_CTX* pDevCtx, const BYTE* pFileInfo) {
  MR_TRACE("mr_CreateFile");
  MR_FAIL_IF(pFileInfo == nullptr, L"CHECK pFileInfo", kBadArgument);
  const Apdu cmd{MR_CLA_PLAIN, 0xE0, 0x00, 0x00, 0x00, pFileInfo, MR_FILE_INFO_LEN};
  return Exchange(mrTraceScope_, pDevCtx, cmd, nullptr, nullptr, MR_TIMEOUT_DEFAULT);
}

HRESULT mr_WriteFile(DEV_CTX* pDevCtx, WORD wOffset, const BYTE* pIn, DWORD nInLen) {
  MR_TRACE("mr_WriteFile");
  MR_FAIL_IF(nInLen > MR_FILE_MAX_LEN, L"CHECK nInLen", kLengthLimit);
  // The offset travels in 16 bits: a write past 0xFFFF would wrap to 0.
  MR_FAIL_IF(!FitsPositionRange(wOffset, nInLen, Advance::ByBytes, MR_FILE_PIECE_LEN),
             L"CHECK nInLen", kLengthLimit);
  MR_FAIL_IF(pIn == nullptr && nInLen != 0, L"CHECK pIn", kBadArgument);
  DWORD offset = wOffset;
  for (DWORD done = 0; done < nInLen;) {
    const DWORD piece = std::min(nInLen - done, MR_FILE_PIECE_LEN);
    const Apdu cmd{MR_CLA_PLAIN, 0x33, merro::commands::HighByte(static_cast<WORD>(offset)),
                   merro::commands::LowByte(static_cast<WORD>(offset)), 0x00, pIn + done, piece};
    const HRESULT hr = Exchange(mrTraceScope_, pDevCtx, cmd, nullptr, nullptr, MR_TIMEOUT_DEFAULT);
    if (FAILED(hr)) {
      return hr;
    }
    done += piece;
    offset += piece;
  }
  return S_OK;
}

HRESULT mr_ReadFile(DEV_CTX* pDevCtx, WORD wOffset, BYTE* pOut, DWORD* pOutLen) {
  MR_TRACE("mr_ReadFile");
  MR_FAIL_IF(pOutLen == nullptr, L"CHECK pOutlen", kBadArgument);
  if (*pOutLen > MR_FILE_MAX_LEN ||
      !FitsPositionRange(wOffset, *pOutLen, Advance::ByBytes, MR_FILE_PIECE_LEN)) {
    *pOutLen = 0;
    MR_LOG_FAIL(L"CHECK (*pOutlen > 0x10000)", L"length beyond the file range", kLengthLimit);
    return kLengthLimit;
  }
  MR_FAIL_IF(pOut == nullptr && *pOutLen != 0, L"CHECK pOutbuf", kBadArgument);
  const DWORD wanted = *pOutLen;
  return merro::commands::ReadInPieces(mrTraceScope_, pDevCtx, 0x36, wOffset, Advance::ByBytes,
                                       pOut, wanted, pOutLen);
}

HRESULT mr_EraseFile(DEV_CTX* pDevCtx, BYTE byP1, WORD wFileId) {
  MR_TRACE("mr_EraseFile");
  return SendFileId(mrTraceScope_, pDevCtx, 0x64, byP1, wFileId);
}

HRESULT mr_DeleteFile(DEV_CTX* pDevCtx, BYTE byP1, WORD wFileId) {
  MR_TRACE("mr_DeleteFile");
  return SendFileId(mrTraceScope_, pDevCtx, 0x65, byP1, wFileId);
}
