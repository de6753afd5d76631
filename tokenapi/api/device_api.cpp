#include "tokenapi/api/device_api.h"

#include "tokenapi/apdu/apdu.h"
#include "tokenapi/apdu/send_apdu.h"
#include "tokenapi/apdu/timeouts.h"
#include "tokenapi/api/entry_frame.h"
#include "tokenapi/commands/pin_commands.h"
#include "tokenapi/crypto/random/soft_random.h"
#include "tokenapi/commands/device_open.h"
#include "tokenapi/transport/merro_transport.h"

using merro::api::DeviceMutex;
using merro::api::RunEntryPoint;
using merro::api::RunOnDevice;

namespace {

// P1 of GET DEVICE INFO.
constexpr BYTE kDevInfoRead = 0;
constexpr BYTE kDevInfoReset = 1;

}  // namespace

HRESULT EnumDevice(BYTE* pDevName, DWORD* pCounter) {
  return RunEntryPoint("EnumDevice", {{L"CHECK pCounter", pCounter != nullptr}}, L"mr_EnumDevice",
                       [&] { return mr_EnumDevice(pDevName, pCounter); });
}

HRESULT OpenDevice(const char* pDevName, DEV_CTX** ppDevCtx) {
  // The routine takes the device mutex itself, once the context exists.
  return RunEntryPoint(
      "OpenDevice",
      {{L"CHECK pDevName", pDevName != nullptr}, {L"CHECK ppDevCtx", ppDevCtx != nullptr}},
      L"mr_OpenDevice", [&] { return mr_OpenDevice(pDevName, ppDevCtx); });
}

HRESULT CloseDevice(DEV_CTX* pDevCtx) {
  // The routine waits for the device mutex itself before it closes.
  return RunEntryPoint("CloseDevice", {}, L"mr_CloseDevice",
                       [&] { return mr_CloseDevice(pDevCtx); });
}

HRESULT ResetDevice(DEV_CTX* pDevCtx) {
  return RunOnDevice("ResetDevice", pDevCtx, L"mr_GetDevInfo",
                     [&] { return mr_GetDevInfo(pDevCtx, kDevInfoReset, nullptr); });
}

HRESULT GetDeviceInfo(DEV_CTX* pDevCtx, DEVICE_INFO* pDevInfo) {
  return RunEntryPoint("GetDeviceInfo",
                       {{L"CHECK pDevInfo", pDevInfo != nullptr},
                        {L"CHECK pDevInfo->Mask", pDevInfo != nullptr && pDevInfo->Mask != 0},
                        {L"CHECK pDevCtx", pDevCtx != nullptr}},
                       DeviceMutex::Wait, pDevCtx, L"mr_GetDevInfo",
                       [&] { return mr_GetDevInfo(pDevCtx, kDevInfoRead, pDevInfo); });
}

HRESULT GetChipSN(DEV_CTX* pDevCtx, BYTE* pChipSN, DWORD* pSNLen) {
  // The routine writes the length through pSNLen: tested here too.
  return RunEntryPoint(
      "GetChipSN", {{L"CHECK pSNLen", pSNLen != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_GetChipSN",
      [&] { return mr_GetChipSN(pDevCtx, pChipSN, pSNLen); });
}

HRESULT SetTokenSN(DEV_CTX* pDevCtx, const BYTE* pLabel, DWORD nLabelLen) {
  return RunEntryPoint(
      "SetTokenSN", {{L"CHECK pLabel", pLabel != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_SetDevLabel",
      [&] { return mr_SetTokenSN(pDevCtx, pLabel, nLabelLen); });
}

HRESULT GetTokenSN(DEV_CTX* pDevCtx, BYTE* pLabel, DWORD* pLabelLen) {
  // The routine writes the length through pLabelLen: tested here too.
  return RunEntryPoint(
      "GetTokenSN",
      {{L"CHECK pLabelLen", pLabelLen != nullptr}, {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_GetDevLabel",
      [&] { return mr_GetTokenSN(pDevCtx, pLabel, pLabelLen); });
}

HRESULT SetDevLabel(DEV_CTX* pDevCtx, const BYTE* pLabel, DWORD nLabelLen) {
  return SetTokenSN(pDevCtx, pLabel, nLabelLen);
}

HRESULT GetDevLabel(DEV_CTX* pDevCtx, BYTE* pLabel, DWORD* pLabelLen) {
  return GetTokenSN(pDevCtx, pLabel, pLabelLen);
}

HRESULT GenerateRandom(DEV_CTX* pDevCtx, BYTE nFlag, BYTE nRandlen, BYTE* pRandom) {
  // Both sources run under the device mutex and log under one step text.
  return RunEntryPoint("GenerateRandom",
                       {{L"CHECK nRandlen", nRandlen != 0},
                        {L"CHECK nRandlen", nRandlen <= MR_RANDOM_MAX},
                        {L"CHECK pRandom", pRandom != nullptr},
                        {L"CHECK pDevCtx", pDevCtx != nullptr}},
                       DeviceMutex::Wait, pDevCtx, L"mr_GenRandom", [&] {
                         return nFlag == RANDOM_FLAG_KEY
                                    ? mr_GenRandom(pDevCtx, nRandlen, pRandom)
                                    : merro::crypto::GenSoftRandom(nRandlen, pRandom);
                       });
}

HRESULT SendAPDUCommand(DEV_CTX* pDevCtx, const BYTE* pCmdbuf, DWORD nCmdlen, BYTE* pRepbuf,
                        DWORD* pReplen) {
  // The frame is the caller's: its length and Lc are checked before it is
  // read any further.
  return RunEntryPoint(
      "SendAPDUCommand",
      {{L"CHECK pCmdbuf", pCmdbuf != nullptr},
       {L"CHECK nCmdlen", pCmdbuf != nullptr && merro::apdu::IsWellFormedFrame(pCmdbuf, nCmdlen)},
       {L"CHECK pRepbuf", pRepbuf != nullptr},
       {L"CHECK pReplen", pReplen != nullptr},
       {L"CHECK pDevCtx", pDevCtx != nullptr}},
      DeviceMutex::Wait, pDevCtx, L"mr_SendAPDUCmd", [&] {
        return mr_SendAPDUCmd(pDevCtx, pCmdbuf, nCmdlen, pRepbuf, pReplen, MR_TIMEOUT_DEFAULT);
      });
}

HRESULT EraseMF(DEV_CTX* pDevCtx) {
  return RunOnDevice("EraseMF", pDevCtx, L"mr_EraseMF", [&] { return mr_EraseMF(pDevCtx); });
}

HRESULT EraseCOS(DEV_CTX* pDevCtx) {
  return RunOnDevice("EraseCOS", pDevCtx, L"mr_EraseCOS", [&] { return mr_EraseCOS(pDevCtx); });
}

HRESULT AdjustClock(DEV_CTX* pDevCtx) {
  return RunOnDevice("AdjustClock", pDevCtx, L"mr_AdjustClock",
                     [&] { return mr_AdjustClock(pDevCtx); });
}

HRESULT DispImportCert(DEV_CTX* pDevCtx, BYTE nFlag) {
  return RunOnDevice("DispImportCert", pDevCtx, L"mr_DispImportCert",
                     [&] { return mr_DispImportCert(pDevCtx, nFlag); });
}
