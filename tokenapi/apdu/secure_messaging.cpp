// Secure messaging of class 0xB4 frames under the session key.
//
// Placeholder: the SM4 session cipher is not built yet. Both calls fail
// closed (0x80070206, cipher set-up), so no protected command ever leaves
// in clear and no reply is taken unchecked.
#include "tokenapi/apdu/secure_messaging.h"

namespace merro::apdu {

namespace {
constexpr HRESULT kCipherSetupFailed = static_cast<HRESULT>(0x80070206);
}  // namespace

HRESULT WrapCommand(DEV_CTX*, const BYTE*, DWORD, std::vector<BYTE>* pProtected) {
  pProtected->clear();
  return kCipherSetupFailed;
}

HRESULT UnwrapReply(DEV_CTX*, const BYTE*, DWORD, std::vector<BYTE>* pPlain) {
  pPlain->clear();
  return kCipherSetupFailed;
}

}  // namespace merro::apdu
