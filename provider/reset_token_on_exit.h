// The reset of a token's security state after a private-key operation
// (signature or decryption), run on every way out of it.
#pragma once

#include "device/device_handle.h"
#include "provider/container.h"

namespace merro::provider {

// Resets the token's security state when the operation ends, whatever its
// result, so that the verified PIN does not outlive it. Declare it after the
// operation's OperationSequence, so that the reset still runs under the
// sequence lock.
class ResetTokenOnExit {
 public:
  explicit ResetTokenOnExit(const Container* pContainer) : m_pContainer(pContainer) {}
  ~ResetTokenOnExit() {
    if (g_pDeviceHandle != nullptr && m_pContainer != nullptr) {
      g_pDeviceHandle->ResetKey(m_pContainer->m_szDeviceName);
    }
  }
  ResetTokenOnExit(const ResetTokenOnExit&) = delete;
  ResetTokenOnExit& operator=(const ResetTokenOnExit&) = delete;

 private:
  const Container* m_pContainer;
};

}  // namespace merro::provider
