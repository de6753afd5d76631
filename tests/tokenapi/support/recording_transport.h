// A transport for tests of the command layer: records every frame sent and
// answers from a queue of scripted replies (9000 with no data when the
// queue is empty).
//
//   auto t = std::make_shared<RecordingTransport>();
//   merro::transport::SetTransportOverride(t);
//   DEV_CTX ctx = RecordingTransport::Context();
//   t->QueueReply(0x9000, {1, 2, 3});
//   mr_GetChipSN(&ctx, ...);
//   EXPECT_EQ(t->Frames()[0], (Bytes{0xB0, 0x93, 0, 0, 0, 8}));
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "tokenapi/transport/transport.h"

namespace merro::testing {

using Bytes = std::vector<std::uint8_t>;

class RecordingTransport : public merro::transport::Transport {
 public:
  // A context whose device handle this transport accepts.
  static DEV_CTX Context();

  void QueueReply(std::uint16_t sw, Bytes data = {});
  // The next data-in transfer, exactly as given (for malformed replies).
  void QueueRawReply(Bytes transfer);
  // The next SendFrame / ReceiveReply fails with this result.
  void FailNextSend(HRESULT hr) { m_failSend = hr; }
  void FailNextReceive(HRESULT hr) { m_failReceive = hr; }

  const std::vector<Bytes>& Frames() const { return m_frames; }
  std::vector<DWORD> Timeouts() const { return m_timeouts; }
  // Forgets the frames sent and the replies still queued.
  void Clear() {
    m_frames.clear();
    m_timeouts.clear();
    m_replies.clear();
  }

  HRESULT Enumerate(std::vector<merro::transport::DeviceEntry>* pDevices) override;
  HRESULT Open(const char* pszPath, HANDLE* phDevice) override;
  HRESULT Close(HANDLE hDevice) override;
  HRESULT SendFrame(HANDLE hDevice, const BYTE* pFrame, DWORD nFrameLen, DWORD nTimeoutSec) override;
  HRESULT ReceiveReply(HANDLE hDevice, BYTE (&reply)[merro::transport::kReplyTransferLen],
                       DWORD nTimeoutSec) override;

  // What Enumerate lists.
  std::vector<merro::transport::DeviceEntry> devices;

 private:
  std::vector<Bytes> m_frames;
  std::vector<DWORD> m_timeouts;
  std::deque<Bytes> m_replies;
  HRESULT m_failSend = 0;
  HRESULT m_failReceive = 0;
};

}  // namespace merro::testing
