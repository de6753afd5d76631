// A buffer handed from one function to another with array new, held by the
// one that owns it now. It may hold plaintext or a padded block, so it is
// wiped before it is freed.
//
//   OwnedBytes out;
//   HRESULT hr = key.SymEncryptUpdate(pbIn, dwIn, out.Out(), out.Length());
//   ... out.get(), out.size() ...
#pragma once

#include <new>

#include "foundation/platform.h"
#include "foundation/secure_wipe.h"

namespace merro {

class OwnedBytes {
 public:
  OwnedBytes() = default;
  ~OwnedBytes() { Reset(); }
  OwnedBytes(const OwnedBytes&) = delete;
  OwnedBytes& operator=(const OwnedBytes&) = delete;

  // Where a callee writes a new buffer and its length; what was held before
  // is released first.
  BYTE** Out() {
    Reset();
    return &m_pbyData;
  }
  DWORD* Length() { return &m_dwLength; }
  // A new zeroed buffer of dwLength bytes; false when memory ran out.
  bool Allocate(DWORD dwLength) {
    Reset();
    m_pbyData = new (std::nothrow) BYTE[dwLength > 0 ? dwLength : 1]();
    m_dwLength = m_pbyData != nullptr ? dwLength : 0;
    return m_pbyData != nullptr;
  }
  BYTE* get() const { return m_pbyData; }
  // 0 while no buffer is held, whatever a callee wrote as its length.
  DWORD size() const { return m_pbyData != nullptr ? m_dwLength : 0; }
  // Hands the buffer and its length to the caller.
  void HandOut(BYTE** ppbyData, DWORD* pdwLength) {
    *ppbyData = m_pbyData;
    if (pdwLength != nullptr) {
      *pdwLength = m_dwLength;
    }
    m_pbyData = nullptr;
    m_dwLength = 0;
  }
  void Reset() {
    if (m_pbyData != nullptr) {
      SecureWipe(m_pbyData, m_dwLength);
      delete[] m_pbyData;
    }
    m_pbyData = nullptr;
    m_dwLength = 0;
  }

 private:
  BYTE* m_pbyData = nullptr;
  DWORD m_dwLength = 0;
};

}  // namespace merro
