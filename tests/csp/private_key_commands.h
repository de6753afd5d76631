// The token commands that use a private key or the user PIN, by their INS
// byte: a call that only works out lengths or verifies must send none.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

namespace merro::testing::csp {

inline bool SentPrivateKeyCommand(const std::vector<BYTE>& ins) {
  // RSA raw private operation and signature, SM2 digest and data
  // signatures and decryption, the two display signatures, PIN verification.
  static const BYTE kPrivate[] = {0x38, 0x80, 0x54, 0x81, 0x55, 0x59, 0x40, 0x20};
  return std::any_of(ins.begin(), ins.end(), [](BYTE b) {
    return std::find(std::begin(kPrivate), std::end(kPrivate), b) != std::end(kPrivate);
  });
}

// VERIFY PIN: the user PIN was sent to the token.
inline bool SentPinVerification(const std::vector<BYTE>& ins) {
  return std::find(ins.begin(), ins.end(), BYTE{0x20}) != ins.end();
}

}  // namespace merro::testing::csp
