#include "tokenapi/api/file_api.h"

#include "tokenapi/api/entry_frame.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/flash_commands.h"

using merro::api::DeviceMutex;
using merro::api::RunEntryPoint;
using merro::api::RunOnDevice;

HRESULT WriteFlash(DEV_CTX* pDevCtx, WORD nOffset, const BYTE* pInbuf, DWORD nInlen) {
  return RunEntryPoint(
      "WriteFlash", {{L"CHECK pInbuf", pInbuf != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_WriteFlash",
      [&] { return mr_WriteFlash(pDevCtx, nOffset, pInbuf, nInlen); });
}

HRESULT ReadFlash(DEV_CTX* pDevCtx, WORD nOffset, BYTE* pOutbuf, DWORD nOutlen) {
  return RunEntryPoint(
      "ReadFlash", {{L"CHECK pOutbuf", pOutbuf != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_ReadFlash",
      [&] { return mr_ReadFlash(pDevCtx, nOffset, pOutbuf, nOutlen); });
}

HRESULT EraseFlash(DEV_CTX* pDevCtx) {
  return RunOnDevice("EraseFlash", pDevCtx, L"mr_EraseFlash",
                     [&] { return mr_EraseFlash(pDevCtx); });
}

HRESULT SelectFile(DEV_CTX* pDevCtx, BYTE byP1, WORD wFileID, BYTE* pFileInfo) {
  return RunEntryPoint(
      "SelectFile",
      {{L"CHECK pFileInfo", pFileInfo != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_SelectFile", [&] {
        // The caller's buffer holds the file information
        // and no more; the length is not reported.
        DWORD nInfoLen = MR_FILE_INFO_LEN;
        return mr_SelectFile(pDevCtx, byP1, wFileID, pFileInfo, &nInfoLen);
      });
}

HRESULT CreateCosFile(DEV_CTX* pDevCtx, const BYTE* pFileInfo) {
  return RunEntryPoint(
      "CreateCosFile",
      {{L"CHECK pFileInfo", pFileInfo != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_CreateFile",
      [&] { return mr_CreateFile(pDevCtx, pFileInfo); });
}

HRESULT WriteCosFile(DEV_CTX* pDevCtx, WORD nOffset, const BYTE* pInbuf, DWORD nInlen) {
  return RunEntryPoint(
      "WriteCosFile",
      {{L"CHECK pInbuf", pInbuf != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_WriteFile",
      [&] { return mr_WriteFile(pDevCtx, nOffset, pInbuf, nInlen); });
}

HRESULT ReadCosFile(DEV_CTX* pDevCtx, WORD nOffset, BYTE* pOutbuf, DWORD* pOutlen) {
  return RunEntryPoint("ReadCosFile",
                       {{L"CHECK pOutbuf", pOutbuf != nullptr},
                        {L"CHECK pOutlen", pOutlen != nullptr},
                        {L"CHECK pDevCtx", pDevCtx != nullptr}},
                       DeviceMutex::Wait, pDevCtx, L"mr_ReadFile",
                       [&] { return mr_ReadFile(pDevCtx, nOffset, pOutbuf, pOutlen); });
}

HRESULT EraseCosFile(DEV_CTX* pDevCtx, BYTE byP1, WORD wFileID) {
  return RunOnDevice("EraseCosFile", pDevCtx, L"mr_EraseFile",
                     [&] { return mr_EraseFile(pDevCtx, byP1, wFileID); });
}

HRESULT DeleteCosFile(DEV_CTX* pDevCtx, BYTE byP1, WORD wFileID) {
  // DELETE FILE; its line carries the step text of the erase routine.
  return RunOnDevice("DeleteCosFile", pDevCtx, L"mr_EraseFile",
                     [&] { return mr_DeleteFile(pDevCtx, byP1, wFileID); });
}
