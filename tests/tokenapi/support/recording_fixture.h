// A GoogleTest fixture with a RecordingTransport installed as the transport
// and a device context that it accepts.
//
//   class MyFrames : public merro::testing::RecordingTest {};
//   TEST_F(MyFrames, X) { m_transport->QueueReply(0x9000); mr_X(&m_ctx); Frames()... }
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>

#include "tests/tokenapi/support/recording_transport.h"

namespace merro::testing {

// n bytes counting up from start (wrapping at 0xFF): payloads whose every
// byte tells where it came from.
inline Bytes Sequence(size_t n, BYTE start = 0) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<BYTE>(start + i);
  }
  return b;
}

class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_transport = std::make_shared<RecordingTransport>();
    merro::transport::SetTransportOverride(m_transport);
    m_ctx = RecordingTransport::Context();
  }
  void TearDown() override { merro::transport::SetTransportOverride(nullptr); }

  const std::vector<Bytes>& Frames() const { return m_transport->Frames(); }

  std::shared_ptr<RecordingTransport> m_transport;
  DEV_CTX m_ctx{};
};

}  // namespace merro::testing
