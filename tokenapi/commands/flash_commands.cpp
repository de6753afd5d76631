#include "tokenapi/commands/flash_commands.h"

#include <cstring>

#include "foundation/result.h"
#include "tokenapi/commands/command_exchange.h"
#include "tokenapi/commands/piece_transfer.h"

using merro::apdu::Apdu;
using merro::commands::Advance;
using merro::commands::Exchange;
using merro::commands::FitsPositionRange;

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070001);
constexpr HRESULT kLengthLimit = static_cast<HRESULT>(0x80070004);
constexpr DWORD kHalfLen = MR_FLASH_PAGE_LEN / 2;

}  // namespace

HRESULT mr_EraseFlash(DEV_CTX* pDevCtx) {
  MR_TRACE("mr_EraseFlash");
  const Apdu cmd{MR_CLA_PLAIN, 0x70, 0x00, 0x00, 0x00, nullptr, 0};
  return Exchange(mrTraceScope_, pDevCtx, cmd, nullptr, nullptr, MR_TIMEOUT_ERASE_FLASH);
}

HRESULT mr_WriteFlash(DEV_CTX* pDevCtx, WORD wStartPage, const BYTE* pIn, DWORD nInLen) {
  MR_TRACE("mr_WriteFlash");
  MR_FAIL_IF(nInLen > MR_FLASH_SIZE, L"CHECK nInLen", kLengthLimit);
  MR_FAIL_IF(!FitsPositionRange(wStartPage, nInLen, Advance::ByOne, MR_FLASH_PAGE_LEN),
             L"CHECK nInLen", kLengthLimit);
  MR_FAIL_IF(pIn == nullptr && nInLen != 0, L"CHECK pIn", kBadArgument);
  DWORD page = wStartPage;
  for (DWORD done = 0; done < nInLen; done += MR_FLASH_PAGE_LEN, ++page) {
    BYTE pageData[MR_FLASH_PAGE_LEN];
    std::memset(pageData, 0xFF, sizeof pageData);
    const DWORD take = nInLen - done < MR_FLASH_PAGE_LEN ? nInLen - done : MR_FLASH_PAGE_LEN;
    std::memcpy(pageData, pIn + done, take);
    for (BYTE half = 0; half < 2; ++half) {
      BYTE data[1 + kHalfLen];
      data[0] = half;
      std::memcpy(data + 1, pageData + half * kHalfLen, kHalfLen);
      const Apdu cmd{MR_CLA_PLAIN, 0x71, merro::commands::HighByte(static_cast<WORD>(page)),
                     merro::commands::LowByte(static_cast<WORD>(page)), 0x00, data, sizeof data};
      const HRESULT hr = Exchange(mrTraceScope_, pDevCtx, cmd, nullptr, nullptr, MR_TIMEOUT_DEFAULT);
      if (FAILED(hr)) {
        return hr;
      }
    }
  }
  return S_OK;
}

HRESULT mr_ReadFlash(DEV_CTX* pDevCtx, WORD wStartUnit, BYTE* pOut, DWORD nOutLen) {
  MR_TRACE("mr_ReadFlash");
  MR_FAIL_IF(nOutLen > MR_FLASH_SIZE, L"CHECK *pOutlen SIZE", kLengthLimit);
  MR_FAIL_IF(!FitsPositionRange(wStartUnit, nOutLen, Advance::ByOne, MR_FLASH_UNIT_LEN),
             L"CHECK *pOutlen SIZE", kLengthLimit);
  MR_FAIL_IF(pOut == nullptr && nOutLen != 0, L"CHECK pOut", kBadArgument);
  DWORD total = 0;
  return merro::commands::ReadInPieces(mrTraceScope_, pDevCtx, 0x72, wStartUnit, Advance::ByOne,
                                       pOut, nOutLen, &total);
}
