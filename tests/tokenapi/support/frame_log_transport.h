// A transport that passes everything to another one and keeps a log of the
// command frames as they went on the wire (after secure messaging), so that
// tests see what a token received. It can also make the next Close fail
// (the device handle then stays open) and counts the Close calls that
// reached the inner transport.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "tests/tokenapi/support/recording_transport.h"
#include "tokenapi/transport/transport.h"

namespace merro::testing {

class FrameLogTransport : public merro::transport::Transport {
 public:
  explicit FrameLogTransport(std::shared_ptr<merro::transport::Transport> inner)
      : m_inner(std::move(inner)) {}

  std::vector<Bytes> Frames() const;
  void ClearFrames();
  void FailNextClose(HRESULT hr);
  int ClosesPassed() const;

  HRESULT Enumerate(std::vector<merro::transport::DeviceEntry>* pDevices) override;
  HRESULT Open(const char* pszPath, HANDLE* phDevice) override;
  HRESULT Close(HANDLE hDevice) override;
  HRESULT SendFrame(HANDLE hDevice, const BYTE* pFrame, DWORD nFrameLen, DWORD nTimeoutSec) override;
  HRESULT ReceiveReply(HANDLE hDevice, BYTE (&reply)[merro::transport::kReplyTransferLen],
                       DWORD nTimeoutSec) override;

 private:
  std::shared_ptr<merro::transport::Transport> m_inner;
  mutable std::mutex m_lock;
  std::vector<Bytes> m_frames;
  HRESULT m_failClose = 0;
  int m_closes = 0;
};

}  // namespace merro::testing
