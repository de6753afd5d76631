#include "tokenapi/api/token_name.h"

#include <array>
#include <cstring>

#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/entry_frame.h"
#include "tokenapi/api/file_api.h"
#include "tokenapi/commands/file_commands.h"

using merro::api::DeviceMutex;
using merro::api::kResultBadArgument;
using merro::api::RunEntryPoint;

namespace {

constexpr HRESULT kResultBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kResultBadLength = static_cast<HRESULT>(0x80070004);
constexpr HRESULT kResultShortRead = static_cast<HRESULT>(0x8007000D);
constexpr BYTE kPad = 0x20;

using TokenInfo = std::array<BYTE, MR_TOKEN_INFO_LEN>;

// Selects the token-information file and reads its first 160 bytes into
// *pInfo; *pInfoLen receives the count read. Fewer bytes than the name
// field would leave the name to whatever the buffer held before: refused.
HRESULT ReadTokenInfo(const TraceHelper& scope, DEV_CTX* pDevCtx, TokenInfo* pInfo,
                      DWORD* pInfoLen) {
  std::array<BYTE, MR_FILE_INFO_LEN> fileInfo{};
  HRESULT hr = HRESULT_FROM_TOKEN_ERROR(
      SelectFile(pDevCtx, MR_SELECT_BY_ID, MR_TOKEN_INFO_FID, fileInfo.data()));
  if (hr != 0) {
    merro::trace::LogStep(scope.Name(), L"SelectFile", hr);
    return hr;
  }
  *pInfoLen = MR_TOKEN_INFO_LEN;
  hr = HRESULT_FROM_TOKEN_ERROR(ReadCosFile(pDevCtx, 0, pInfo->data(), pInfoLen));
  if (hr == 0 && *pInfoLen < MR_TOKEN_NAME_MAX) {
    hr = kResultShortRead;
  }
  if (hr != 0) {
    merro::trace::LogStep(scope.Name(), L"ReadCosFile", hr);
    return hr;
  }
  return 0;
}

// Length of the name in bytes 0-31: without its trailing spaces.
DWORD NameLength(const TokenInfo& info) {
  DWORD len = MR_TOKEN_NAME_MAX;
  while (len > 0 && info[len - 1] == kPad) {
    --len;
  }
  return len;
}

}  // namespace

HRESULT mr_SetTokenName(DEV_CTX* pDevCtx, const BYTE* pLabel, DWORD nLabelLen) {
  MR_TRACE("mr_SetTokenName");
  MR_FAIL_IF(pLabel == nullptr, L"CHECK pLabel", kResultBadArgument);
  // The name field holds 32 bytes: a longer label would overrun it.
  MR_FAIL_IF(nLabelLen > MR_TOKEN_NAME_MAX, L"CHECK nLabelLen", kResultBadLength);
  TokenInfo info{};
  DWORD infoLen = 0;
  HRESULT hr = ReadTokenInfo(mrTraceScope_, pDevCtx, &info, &infoLen);
  if (hr != 0) {
    return hr;
  }
  std::memset(info.data(), kPad, MR_TOKEN_NAME_MAX);
  std::memcpy(info.data(), pLabel, nLabelLen);
  hr = HRESULT_FROM_TOKEN_ERROR(WriteCosFile(pDevCtx, 0, info.data(), infoLen));
  merro::trace::LogStep(mrTraceScope_.Name(), L"WriteCosFile", hr);
  return hr;
}

HRESULT mr_GetTokenName(DEV_CTX* pDevCtx, BYTE* pLabel, DWORD* pLabelLen) {
  MR_TRACE("mr_GetTokenName");
  MR_FAIL_IF(pLabelLen == nullptr, L"CHECK pLabelLen", kResultBadArgument);
  TokenInfo info{};
  DWORD infoLen = 0;
  const HRESULT hr = ReadTokenInfo(mrTraceScope_, pDevCtx, &info, &infoLen);
  if (hr != 0) {
    *pLabelLen = 0;
    return hr;
  }
  const DWORD nameLen = NameLength(info);
  if (pLabel == nullptr) {
    *pLabelLen = nameLen;
    MR_LOG_STEP(L"Check pLabel is Null");
    return 0;
  }
  if (*pLabelLen < nameLen) {
    *pLabelLen = nameLen;
    MR_LOG_FAIL(L"Check *pLabelLen", L"*pLabelLen < nameLen", kResultBufferTooSmall);
    return kResultBufferTooSmall;
  }
  std::memcpy(pLabel, info.data(), nameLen);
  *pLabelLen = nameLen;
  return 0;
}

HRESULT SetTokenName(DEV_CTX* pDevCtx, const BYTE* pLabel, DWORD nLabelLen) {
  return RunEntryPoint(
      "SetTokenName",
      {{L"CHECK pLabel", pLabel != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_SetTokenName",
      [&] { return mr_SetTokenName(pDevCtx, pLabel, nLabelLen); });
}

HRESULT GetTokenName(DEV_CTX* pDevCtx, BYTE* pLabel, DWORD* pLabelLen) {
  return RunEntryPoint("GetTokenName", {{L"CHECK pDevCtx", pDevCtx != nullptr}}, DeviceMutex::Wait,
                       pDevCtx, L"mr_GetTokenName",
                       [&] { return mr_GetTokenName(pDevCtx, pLabel, pLabelLen); });
}
