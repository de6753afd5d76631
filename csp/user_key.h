// The key objects of a container's two key pairs. CPCoreGetUserKey asks the
// token whether the key pair is there (it reads the public key); a
// signature takes the container's record in the device object's list as
// the answer, which needs no command (the token still refuses a key that is
// not there when it is asked to sign).
#pragma once

#include <windows.h>

#include <wincrypt.h>

namespace merro::csp {

enum class KeyPresence { AskToken, FromRecord };

// A new key object for the key pair dwKeySpec of hProv's container,
// registered under hProv, with the shape and codes of a core function
// traced as `function`.
BOOL NewUserKey(const char* function, HCRYPTPROV hProv, DWORD dwKeySpec, KeyPresence presence,
                HCRYPTKEY* phUserKey);

}  // namespace merro::csp
