#include "tests/tokenapi/support/recording_transport.h"

#include <algorithm>
#include <cstring>

namespace merro::testing {
namespace {
HANDLE const kHandle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x5151));
}  // namespace

DEV_CTX RecordingTransport::Context() {
  DEV_CTX ctx{};
  ctx.hDevice = kHandle;
  return ctx;
}

void RecordingTransport::QueueReply(std::uint16_t sw, Bytes data) {
  Bytes transfer(merro::transport::kReplyTransferLen, 0);
  transfer[0] = static_cast<std::uint8_t>(sw >> 8);
  transfer[1] = static_cast<std::uint8_t>(sw);
  transfer[2] = static_cast<std::uint8_t>(data.size());
  std::copy(data.begin(), data.end(), transfer.begin() + 3);
  m_replies.push_back(std::move(transfer));
}

void RecordingTransport::QueueRawReply(Bytes transfer) {
  transfer.resize(merro::transport::kReplyTransferLen, 0);
  m_replies.push_back(std::move(transfer));
}

HRESULT RecordingTransport::Enumerate(std::vector<merro::transport::DeviceEntry>* pDevices) {
  *pDevices = devices;
  return S_OK;
}

HRESULT RecordingTransport::Open(const char*, HANDLE* phDevice) {
  *phDevice = kHandle;
  return S_OK;
}

HRESULT RecordingTransport::Close(HANDLE hDevice) {
  return hDevice == kHandle ? S_OK : static_cast<HRESULT>(0x80070006);
}

HRESULT RecordingTransport::SendFrame(HANDLE, const BYTE* pFrame, DWORD nFrameLen, DWORD nTimeoutSec) {
  if (m_failSend != 0) {
    const HRESULT hr = m_failSend;
    m_failSend = 0;
    return hr;
  }
  m_frames.emplace_back(pFrame, pFrame + nFrameLen);
  m_timeouts.push_back(nTimeoutSec);
  return S_OK;
}

HRESULT RecordingTransport::ReceiveReply(HANDLE, BYTE (&reply)[merro::transport::kReplyTransferLen],
                                         DWORD) {
  if (m_failReceive != 0) {
    const HRESULT hr = m_failReceive;
    m_failReceive = 0;
    return hr;
  }
  if (m_replies.empty()) {
    QueueReply(0x9000);
  }
  std::memcpy(reply, m_replies.front().data(), sizeof reply);
  m_replies.pop_front();
  return S_OK;
}

}  // namespace merro::testing
