#include "tokenapi/commands/token_files.h"

#include <cstring>

#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/routine_steps.h"

namespace merro::commands {

void BuildFileDescription(WORD wFileId, WORD wSize, const FileConditions& conditions,
                          BYTE* pDescription) {
  MR_TRACE("BuildFileDescription");
  std::memset(pDescription, 0, MR_FILE_INFO_LEN);
  pDescription[0] = static_cast<BYTE>(wFileId & 0xFF);
  pDescription[1] = static_cast<BYTE>(wFileId >> 8);
  pDescription[2] = static_cast<BYTE>(wSize & 0xFF);
  pDescription[3] = static_cast<BYTE>(wSize >> 8);
  pDescription[4] = MR_FILE_TYPE_BYTE;
  std::memcpy(pDescription + 8, conditions.bytes, MR_FILE_CONDITION_LEN);
}

}  // namespace merro::commands

namespace {

// The token's own key files 0x0010 to 0x0012 and container key files.
constexpr merro::commands::FileConditions kTokenKeyFile{{0xFF, 0x01, 0x01, 0x01, 0x11}};
constexpr merro::commands::FileConditions kContainerKeyFile{{0xFF, 0x01, 0x11, 0x11, 0x11}};
constexpr merro::commands::FileConditions kCertFile{{0x00, 0x01, 0x11, 0x01, 0x21}};

HRESULT CreateWith(const TraceHelper& scope, const wchar_t* step, DEV_CTX* pDevCtx, WORD wFileId,
                   WORD wSize, const merro::commands::FileConditions& conditions) {
  MR_TRACE("CreateWith");
  BYTE description[MR_FILE_INFO_LEN];
  merro::commands::BuildFileDescription(wFileId, wSize, conditions, description);
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(mr_CreateFile(pDevCtx, description));
  if (FAILED(hr)) {
    merro::trace::LogStep(scope.Name(), step, hr);
  }
  return hr;
}

}  // namespace

HRESULT mr_CreateKeyFile(DEV_CTX* pDevCtx, WORD wFileId) {
  MR_TRACE("mr_CreateKeyFile");
  const bool tokenKey = wFileId >= 0x0010 && wFileId <= 0x0012;
  return CreateWith(mrTraceScope_, L"mr_CreateFile(KEY)", pDevCtx, wFileId, MR_KEY_FILE_SIZE,
                    tokenKey ? kTokenKeyFile : kContainerKeyFile);
}

HRESULT mr_CreateCertFile(DEV_CTX* pDevCtx, WORD wFileId) {
  MR_TRACE("mr_CreateCertFile");
  return CreateWith(mrTraceScope_, L"mr_CreateFile(CERT)", pDevCtx, wFileId, MR_CERT_FILE_SIZE,
                    kCertFile);
}
