#include "tests/tokenapi/support/frame_log_transport.h"

namespace merro::testing {

std::vector<Bytes> FrameLogTransport::Frames() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_frames;
}

void FrameLogTransport::ClearFrames() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_frames.clear();
}

void FrameLogTransport::FailNextClose(HRESULT hr) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_failClose = hr;
}

int FrameLogTransport::ClosesPassed() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_closes;
}

HRESULT FrameLogTransport::Enumerate(std::vector<merro::transport::DeviceEntry>* pDevices) {
  return m_inner->Enumerate(pDevices);
}

HRESULT FrameLogTransport::Open(const char* pszPath, HANDLE* phDevice) {
  return m_inner->Open(pszPath, phDevice);
}

HRESULT FrameLogTransport::Close(HANDLE hDevice) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_failClose != 0) {
      const HRESULT hr = m_failClose;
      m_failClose = 0;
      return hr;
    }
    ++m_closes;
  }
  return m_inner->Close(hDevice);
}

HRESULT FrameLogTransport::SendFrame(HANDLE hDevice, const BYTE* pFrame, DWORD nFrameLen,
                                     DWORD nTimeoutSec) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_frames.emplace_back(pFrame, pFrame + nFrameLen);
  }
  return m_inner->SendFrame(hDevice, pFrame, nFrameLen, nTimeoutSec);
}

HRESULT FrameLogTransport::ReceiveReply(HANDLE hDevice,
                                        BYTE (&reply)[merro::transport::kReplyTransferLen],
                                        DWORD nTimeoutSec) {
  return m_inner->ReceiveReply(hDevice, reply, nTimeoutSec);
}

}  // namespace merro::testing
