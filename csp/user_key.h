// The key objects of a container's two key pairs. CPCoreGetUserKey asks the
// token whether the key pair is there (it reads the public key); a
// signature takes the container's record in the device object's list as
// the answer, which needs no command (the token still refuses a key that is
// not there when it is asked to sign).
#pragma once

#include <windows.h>

#include <wincrypt.h>

namespace merro::provider {
class KeyHandle;
}

namespace merro::csp {

enum class KeyPresence { AskToken, FromRecord };

// A new key object for the key pair dwKeySpec of hProv's container,
// registered under hProv, with the shape and codes of a core function
// traced as `function`.
BOOL NewUserKey(const char* function, HCRYPTPROV hProv, DWORD dwKeySpec, KeyPresence presence,
                HCRYPTKEY* phUserKey);

// A key handle of hProv that one call makes for itself (NewUserKey or
// CPCoreGetUserKey writes it through Out()): destroyed through
// CPCoreDestroyKey, which sets a last error of its own, at Release or when
// the scope ends, unless kept.
class ScopedUserKey {
 public:
  explicit ScopedUserKey(HCRYPTPROV hProv) : m_hProv(hProv) {}
  ~ScopedUserKey() { Release(); }
  ScopedUserKey(const ScopedUserKey&) = delete;
  ScopedUserKey& operator=(const ScopedUserKey&) = delete;

  HCRYPTKEY* Out() { return &m_hKey; }
  HCRYPTKEY Get() const { return m_hKey; }
  // The registered key object; null when there is none.
  provider::KeyHandle* Object() const;
  // Hands the handle on: it is no longer destroyed here.
  HCRYPTKEY Keep();
  void Release();

 private:
  HCRYPTPROV m_hProv;
  HCRYPTKEY m_hKey = 0;
};

}  // namespace merro::csp
