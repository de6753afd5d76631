// CryptoAPI handles of the demo, each released or destroyed with its object.
#pragma once

#include <windows.h>

#include <wincrypt.h>

namespace merro::demo {

// A provider, key or hash handle; Free is the call that ends it.
template <typename Handle, BOOL(WINAPI* Free)(Handle)>
class CryptObject {
 public:
  CryptObject() = default;
  ~CryptObject() {
    if (m_h != 0) {
      Free(m_h);
    }
  }
  CryptObject(const CryptObject&) = delete;
  CryptObject& operator=(const CryptObject&) = delete;
  Handle* Put() { return &m_h; }
  Handle get() const { return m_h; }

 private:
  Handle m_h = 0;
};

inline BOOL WINAPI ReleaseProvider(HCRYPTPROV hProv) { return ::CryptReleaseContext(hProv, 0); }

using CryptProvider = CryptObject<HCRYPTPROV, ReleaseProvider>;
using CryptKey = CryptObject<HCRYPTKEY, ::CryptDestroyKey>;
using CryptHash = CryptObject<HCRYPTHASH, ::CryptDestroyHash>;

}  // namespace merro::demo
