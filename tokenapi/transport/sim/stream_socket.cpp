// The whole-buffer loops of StreamSocket; the platform parts are in
// posix/ and win/.
#include "tokenapi/transport/sim/stream_socket.h"

#include <chrono>

#include "foundation/result.h"

namespace merro::sim {

namespace {
constexpr LONG kErrorSemTimeout = 121;
constexpr LONG kErrorConnectionAborted = 1236;
}  // namespace

template <class Io>
HRESULT StreamSocket::Loop(bool readable, size_t n, DWORD nTimeoutMs, Io io) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
  size_t done = 0;
  while (done < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return FoldWin32Error(kErrorSemTimeout);
    }
    const HRESULT hr = WaitReady(readable, static_cast<DWORD>(left.count()));
    if (FAILED(hr)) {
      return hr;
    }
    const long moved = io(done);
    if (moved == kBroken) {
      return FoldWin32Error(kErrorConnectionAborted);
    }
    if (moved > 0) {
      done += static_cast<size_t>(moved);
    }
  }
  return S_OK;
}

HRESULT StreamSocket::SendAll(const std::uint8_t* p, size_t n, DWORD nTimeoutMs) {
  return Loop(false, n, nTimeoutMs, [&](size_t done) { return SendSome(p + done, n - done); });
}

HRESULT StreamSocket::RecvAll(std::uint8_t* p, size_t n, DWORD nTimeoutMs) {
  return Loop(true, n, nTimeoutMs, [&](size_t done) { return RecvSome(p + done, n - done); });
}

}  // namespace merro::sim
