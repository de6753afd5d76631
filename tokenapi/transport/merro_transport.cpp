// Enumeration, identification, open/close and the command exchange.
#include "tokenapi/transport/merro_transport.h"

#include <cstring>

#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/wiped_bytes.h"
#include "tokenapi/transport/device_names.h"
#include "tokenapi/transport/transport.h"

using merro::transport::ActiveTransport;
using merro::transport::DeviceEntry;

namespace {

constexpr HRESULT kNoDeviceSet = static_cast<HRESULT>(0x80070205);
constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kBadReply = static_cast<HRESULT>(0x8007000D);  // ERROR_INVALID_DATA
// A 256-byte data-in transfer carries SW1, SW2, N and at most 253 data bytes.
constexpr DWORD kMaxReplyData = merro::transport::kReplyTransferLen - 3;

}  // namespace

HRESULT MerroEnumDevice(WORD wVendorId, WORD wProductId, BYTE* pBuf, DWORD* pLen) {
  MR_TRACE("MerroEnumDevice");
  MR_FAIL_IF(pLen == nullptr, L"CHECK pLen", kBadArgument);
  std::vector<DeviceEntry> devices;
  const HRESULT hr = ActiveTransport().Enumerate(&devices);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"SetupDiGetClassDevs", L"the device list cannot be obtained", kNoDeviceSet);
    return kNoDeviceSet;
  }
  if (*pLen == 0 || pBuf == nullptr) {
    *pLen = 0;
    return S_OK;
  }
  std::vector<std::string> names;
  for (const DeviceEntry& device : devices) {
    WORD vid = 0, pid = 0;
    if (merro::transport::ParseParentUsbIds(device.parentInstanceId, &vid, &pid) &&
        vid == wVendorId && pid == wProductId) {
      names.push_back(device.path);
    }
  }
  *pLen = merro::transport::PackDeviceNames(names, pBuf, *pLen);
  return S_OK;
}

HRESULT MerroGetDeviceID(const char* pszPath, DWORD* pVendorId, DWORD* pProductId) {
  MR_TRACE("MerroGetDeviceID");
  MR_FAIL_IF(pszPath == nullptr || pVendorId == nullptr || pProductId == nullptr,
             L"CHECK pszPath", kBadArgument);
  std::vector<DeviceEntry> devices;
  if (FAILED(ActiveTransport().Enumerate(&devices))) {
    MR_LOG_FAIL(L"SetupDiGetClassDevs", L"the device list cannot be obtained", kNoDeviceSet);
    return kNoDeviceSet;
  }
  for (const DeviceEntry& device : devices) {
    WORD vid = 0, pid = 0;
    if (device.path == pszPath &&
        merro::transport::ParseParentUsbIds(device.parentInstanceId, &vid, &pid)) {
      *pVendorId = vid;
      *pProductId = pid;
    }
  }
  return S_OK;
}

HRESULT MerroOpenDevice(const char* pszPath, DEV_CTX* pDevCtx) {
  MR_TRACE("MerroOpenDevice");
  MR_FAIL_IF(pszPath == nullptr || pDevCtx == nullptr, L"CHECK pDevCtx", kBadArgument);
  HANDLE hDevice = nullptr;
  const HRESULT hr = ActiveTransport().Open(pszPath, &hDevice);
  merro::trace::LogStep(mrTraceScope_.Name(), L"CreateFile", hr);
  if (SUCCEEDED(hr)) {
    pDevCtx->hDevice = hDevice;
  }
  return hr;
}

HRESULT MerroCloseDevice(HANDLE hDevice) {
  MR_TRACE("MerroCloseDevice");
  if (hDevice == nullptr) {
    return S_OK;
  }
  if (FAILED(ActiveTransport().Close(hDevice))) {
    const HRESULT hr = static_cast<HRESULT>(0x80070202);
    merro::trace::LogStep(mrTraceScope_.Name(), L"CloseHandle", hr);
    return hr;
  }
  return S_OK;
}

HRESULT MerroSendCommand(HANDLE hDevice, const BYTE* pCmd, DWORD nCmdLen, BYTE* pReply,
                         DWORD* pReplyLen, DWORD nTimeoutSec) {
  MR_TRACE("MerroSendCommand");
  MR_FAIL_IF(hDevice == nullptr, L"CHECK pDevCtx", kNoDeviceSet);
  MR_FAIL_IF(pCmd == nullptr || pReply == nullptr || pReplyLen == nullptr, L"CHECK pCmd",
             kBadArgument);
  MR_FAIL_IF(nCmdLen == 0 || nCmdLen > merro::transport::kCommandTransferMax, L"CHECK nCmdLen",
             kBadArgument);
  merro::transport::Transport& transport = ActiveTransport();
  HRESULT hr = transport.SendFrame(hDevice, pCmd, nCmdLen, nTimeoutSec);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"SEND COMMAND", L"data-out transfer failed", hr);
    return hr;
  }
  // Wiped on the way out: the reply may carry key material.
  merro::WipedBytes<merro::transport::kReplyTransferLen> transfer;
  BYTE(&reply)[merro::transport::kReplyTransferLen] = transfer.bytes;
  hr = transport.ReceiveReply(hDevice, reply, nTimeoutSec);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"RECV REPLAY", L"data-in transfer failed", hr);
    return hr;
  }
  const DWORD n = reply[2];
  MR_FAIL_IF(n > kMaxReplyData, L"CHECK reply length", kBadReply);
  std::memcpy(pReply, reply, n + 3);
  *pReplyLen = n + 3;
  return S_OK;
}
