#include "tokenapi/commands/device_commands.h"

#include <cstring>

#include "foundation/result.h"
#include "tokenapi/commands/command_exchange.h"

using merro::apdu::Apdu;
using merro::commands::Exchange;

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070001);
constexpr HRESULT kBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kLengthLimit = static_cast<HRESULT>(0x80070004);
constexpr HRESULT kBadReply = static_cast<HRESULT>(0x8007000D);

// The size-query read shared by chip serial number, COS version and label.
struct SizedRead {
  BYTE ins;
  DWORD capacity;           // Le and reply capacity
  bool terminate;           // a zero byte after the data when there is room
  const wchar_t* bufStep;   // "CHECK pChipSN"
  const wchar_t* sizeStep;  // "CHECK *pSNLen SIZE"
};

HRESULT ReadSized(const TraceHelper& scope, DEV_CTX* pDevCtx, const SizedRead& what, BYTE* pOut,
                  DWORD* pLen) {
  if (pLen == nullptr) {
    merro::trace::LogStep(scope.Name(), what.sizeStep, kBadArgument);
    return kBadArgument;
  }
  BYTE data[MR_TOKEN_SN_MAX] = {};
  DWORD dataLen = what.capacity;
  const Apdu cmd{MR_CLA_PLAIN, what.ins, 0x00, 0x00, static_cast<BYTE>(what.capacity), nullptr, 0};
  const HRESULT hr = Exchange(scope, pDevCtx, cmd, data, &dataLen, MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    *pLen = dataLen;
    return hr;
  }
  if (pOut == nullptr) {
    merro::trace::LogStep(scope.Name(), what.bufStep, 0);
    *pLen = dataLen;
    return S_OK;
  }
  if (*pLen < dataLen) {
    merro::trace::LogStep(scope.Name(), what.sizeStep, kBufferTooSmall);
    *pLen = dataLen;
    return kBufferTooSmall;
  }
  std::memcpy(pOut, data, dataLen);
  if (what.terminate && *pLen > dataLen) {
    pOut[dataLen] = 0;
  }
  *pLen = dataLen;
  return S_OK;
}

HRESULT SendPlain(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE ins, BYTE p1, DWORD nTimeoutSec) {
  const Apdu cmd{MR_CLA_PLAIN, ins, p1, 0x00, 0x00, nullptr, 0};
  return Exchange(scope, pDevCtx, cmd, nullptr, nullptr, nTimeoutSec);
}

}  // namespace

HRESULT mr_GetDevInfo(DEV_CTX* pDevCtx, BYTE byP1, DEVICE_INFO* pDevInfo) {
  MR_TRACE("mr_GetDevInfo");
  BYTE reply[MR_DEVINFO_REPLY_LEN] = {};
  DWORD replyLen = sizeof reply;
  const Apdu cmd{MR_CLA_PLAIN, 0x12, byP1, 0x00, MR_DEVINFO_REPLY_LEN, nullptr, 0};
  const HRESULT hr = Exchange(mrTraceScope_, pDevCtx, cmd, reply, &replyLen, MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  if (pDevInfo == nullptr) {
    MR_LOG_STEP(L"CHECK pDevInfo");
    return S_OK;
  }
  const BYTE mask = pDevInfo->Mask;
  // A short reply would leave the selected parts zero-filled: refuse it.
  MR_FAIL_IF(mask != 0 && replyLen < MR_DEVINFO_REPLY_LEN, L"CHECK reply length", kBadReply);
  if (mask & MR_DEVINFO_PART02) {
    std::memcpy(pDevInfo->abyPart02, reply + 2, 5);
    pDevInfo->dwPart02Len = 5;
  }
  if (mask & MR_DEVINFO_COS_VERSION) {
    std::memcpy(pDevInfo->szCosVersion, reply + 7, 5);
    pDevInfo->szCosVersion[5] = '\0';
  }
  if (mask & MR_DEVINFO_PART01) {
    std::memcpy(pDevInfo->abyPart01, reply + 12, 4);
    pDevInfo->dwPart01Len = 4;
  }
  if (mask & MR_DEVINFO_PART08) {
    pDevInfo->wPart08 = static_cast<WORD>(reply[16] | (reply[17] << 8));
  }
  if (mask & MR_DEVINFO_PART10) {
    pDevInfo->wPart10 = static_cast<WORD>(reply[18] | (reply[19] << 8));
  }
  return S_OK;
}

HRESULT mr_GetChipSN(DEV_CTX* pDevCtx, BYTE* pChipSN, DWORD* pSNLen) {
  MR_TRACE("mr_GetChipSN");
  return ReadSized(mrTraceScope_, pDevCtx,
                   {0x93, MR_CHIP_SN_LEN, true, L"CHECK pChipSN", L"CHECK *pSNLen SIZE"}, pChipSN,
                   pSNLen);
}

HRESULT mr_GetCosVersion(DEV_CTX* pDevCtx, BYTE* pCosVer, DWORD* pVerLen) {
  MR_TRACE("mr_GetCosVersion");
  return ReadSized(mrTraceScope_, pDevCtx,
                   {0x62, MR_COS_VERSION_LEN, true, L"CHECK pCosVer", L"CHECK *pVerLen SIZE"},
                   pCosVer, pVerLen);
}

HRESULT mr_GetTokenSN(DEV_CTX* pDevCtx, BYTE* pLabel, DWORD* pLabelLen) {
  MR_TRACE("mr_GetTokenSN");
  return ReadSized(mrTraceScope_, pDevCtx,
                   {0x7D, MR_TOKEN_SN_MAX, false, L"CHECK pLabel", L"CHECK *pLabelLen SIZE"}, pLabel,
                   pLabelLen);
}

HRESULT mr_SetTokenSN(DEV_CTX* pDevCtx, const BYTE* pLabel, DWORD nLabelLen) {
  MR_TRACE("mr_SetTokenSN");
  MR_FAIL_IF(nLabelLen > 255, L"CHECK nLabelLen", kLengthLimit);
  MR_FAIL_IF(pLabel == nullptr && nLabelLen != 0, L"CHECK pLabel", kBadArgument);
  const Apdu cmd{MR_CLA_PLAIN, 0x7C, 0x00, 0x00, 0x00, pLabel, nLabelLen};
  return Exchange(mrTraceScope_, pDevCtx, cmd, nullptr, nullptr, MR_TIMEOUT_DEFAULT);
}

HRESULT mr_EraseMF(DEV_CTX* pDevCtx) {
  MR_TRACE("mr_EraseMF");
  return SendPlain(mrTraceScope_, pDevCtx, 0x63, 0x00, MR_TIMEOUT_ERASE_MF);
}

HRESULT mr_EraseCOS(DEV_CTX* pDevCtx) {
  MR_TRACE("mr_EraseCOS");
  return SendPlain(mrTraceScope_, pDevCtx, 0x90, 0x00, MR_TIMEOUT_ERASE_COS);
}

HRESULT mr_AdjustClock(DEV_CTX* pDevCtx) {
  MR_TRACE("mr_AdjustClock");
  return SendPlain(mrTraceScope_, pDevCtx, 0x99, 0x00, MR_TIMEOUT_DEFAULT);
}

HRESULT mr_DispImportCert(DEV_CTX* pDevCtx, BYTE byP1) {
  MR_TRACE("mr_DispImportCert");
  return SendPlain(mrTraceScope_, pDevCtx, 0x92, byP1, MR_TIMEOUT_DEFAULT);
}
