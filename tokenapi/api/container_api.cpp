#include "tokenapi/api/container_api.h"

#include "tokenapi/api/entry_frame.h"
#include "tokenapi/commands/container_commands.h"
#include "tokenapi/commands/init_commands.h"

using merro::api::DeviceMutex;
using merro::api::RunEntryPoint;
using merro::api::RunOnDevice;

HRESULT EnumContainer(DEV_CTX* pDevCtx, CONTAINER_RECORD* pEnumContainer, DWORD* pCount) {
  // A null array asks for the number of containers alone.
  return RunEntryPoint("EnumContainer",
                       {{L"CHECK pCount", pCount != nullptr},
                        {L"CHECK pDevCtx", pDevCtx != nullptr}},
                       DeviceMutex::Wait, pDevCtx, L"mr_EnumContainer",
                       [&] { return mr_EnumContainer(pDevCtx, pEnumContainer, pCount); });
}

HRESULT CreateContainer(DEV_CTX* pDevCtx, CONTAINER_RECORD* pContainer) {
  return RunEntryPoint(
      "CreateContainer",
      {{L"CHECK pContainer", pContainer != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_CreateContainer",
      [&] { return mr_CreateContainer(pDevCtx, pContainer); });
}

HRESULT DeleteContainer(DEV_CTX* pDevCtx, const char* pContainer, DWORD nNameLen) {
  return RunEntryPoint(
      "DeleteContainer",
      {{L"CHECK pContainer", pContainer != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_DeleteContainer",
      [&] { return mr_DeleteContainer(pDevCtx, pContainer, nNameLen); });
}

HRESULT ReadContainer(DEV_CTX* pDevCtx, CONTAINER_RECORD* pContainer) {
  return RunEntryPoint(
      "ReadContainer",
      {{L"CHECK pContainer", pContainer != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_ReadContainer",
      [&] { return mr_ReadContainer(pDevCtx, pContainer); });
}

HRESULT WriteContainer(DEV_CTX* pDevCtx, const CONTAINER_RECORD* pContainer) {
  return RunEntryPoint(
      "WriteContainer",
      {{L"CHECK pContainer", pContainer != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_WriteContainer",
      [&] { return mr_WriteContainer(pDevCtx, pContainer); });
}

HRESULT EnableContainer(DEV_CTX* pDevCtx, const char* pContainerName, DWORD nNameLen) {
  return RunEntryPoint("EnableContainer",
                       {{L"CHECK pContainerName", pContainerName != nullptr},
                        {L"CHECK pDevCtx", pDevCtx != nullptr}},
                       DeviceMutex::Wait, pDevCtx, L"mr_EnableContainer",
                       [&] { return mr_EnableContainer(pDevCtx, pContainerName, nNameLen); });
}

HRESULT InitTokenFile(DEV_CTX* pDevCtx) {
  return RunOnDevice("InitTokenFile", pDevCtx, L"mr_InitTokenFile",
                     [&] { return mr_InitTokenFile(pDevCtx); });
}
