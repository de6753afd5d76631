// Buffers made with array new and held by one owner: the form in which the
// device object, the key objects and the provider hand bytes to each other
// (a BYTE** and a DWORD*, freed by the receiver with delete[]).
//
//   SecretBytes out;
//   HRESULT hr = key.SymEncryptUpdate(pbIn, dwIn, out.Out(), out.Length());
//   ... out.data(), out.size() ...
//
// Build every output of a call first and hand them out last, with HandOut,
// so that a failure hands out nothing. The secret kinds (keys, PINs,
// plaintext) are wiped whenever their bytes are released.
#pragma once

#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "foundation/platform.h"
#include "foundation/secure_wipe.h"

namespace merro {

template <typename Unit, bool kWipe>
class BasicOwnedBytes {
  static_assert(sizeof(Unit) == 1, "a buffer of bytes or narrow characters");

 public:
  BasicOwnedBytes() = default;
  ~BasicOwnedBytes() { Clear(); }
  BasicOwnedBytes(const BasicOwnedBytes&) = delete;
  BasicOwnedBytes& operator=(const BasicOwnedBytes&) = delete;
  BasicOwnedBytes(BasicOwnedBytes&& other) noexcept
      : m_pData(other.m_pData), m_dwLength(other.m_dwLength) {
    other.m_pData = nullptr;
    other.m_dwLength = 0;
  }
  BasicOwnedBytes& operator=(BasicOwnedBytes&& other) noexcept {
    if (this != &other) {
      Clear();
      m_pData = other.m_pData;
      m_dwLength = other.m_dwLength;
      other.m_pData = nullptr;
      other.m_dwLength = 0;
    }
    return *this;
  }

  // Where a callee writes a new buffer and its length; what was held before
  // is released first.
  Unit** Out() {
    Clear();
    return &m_pData;
  }
  DWORD* Length() { return &m_dwLength; }

  // A new zeroed buffer of dwLength units (never a null one, even for 0);
  // false, holding nothing, when memory ran out.
  [[nodiscard]] bool Allocate(DWORD dwLength) {
    Clear();
    m_pData = new (std::nothrow) Unit[dwLength > 0 ? dwLength : 1]();
    m_dwLength = m_pData != nullptr ? dwLength : 0;
    return m_pData != nullptr;
  }
  // A copy of p[0..n) in a new zeroed buffer of `room` units (one more than
  // n leaves a terminating zero). What was held before is released first;
  // false, holding nothing, when memory ran out or when n does not fit in
  // room or room in a DWORD length.
  [[nodiscard]] bool Assign(const void* p, std::size_t n, std::size_t room) {
    if (n > room || room > std::numeric_limits<DWORD>::max()) {
      Clear();
      return false;
    }
    if (!Allocate(static_cast<DWORD>(room))) {
      return false;
    }
    if (n != 0) {
      std::memcpy(m_pData, p, n);
    }
    return true;
  }
  [[nodiscard]] bool Assign(const void* p, std::size_t n) { return Assign(p, n, n); }
  // Allocate and Assign as new buffers: empty (== nullptr) when memory ran
  // out.
  static BasicOwnedBytes Zeroed(DWORD dwLength) {
    BasicOwnedBytes buffer;
    static_cast<void>(buffer.Allocate(dwLength));
    return buffer;
  }
  static BasicOwnedBytes CopyOf(const void* p, std::size_t n, std::size_t room) {
    BasicOwnedBytes copy;
    static_cast<void>(copy.Assign(p, n, room));
    return copy;
  }
  static BasicOwnedBytes CopyOf(const void* p, std::size_t n) { return CopyOf(p, n, n); }
  // Takes over a buffer of dwLength units that a callee handed out with
  // array new (null: nothing).
  static BasicOwnedBytes Adopt(Unit* pData, DWORD dwLength) {
    BasicOwnedBytes owner;
    owner.m_pData = pData;
    owner.m_dwLength = pData != nullptr ? dwLength : 0;
    return owner;
  }
  // Frees the buffer of dwLength units that a raw pointer of a given
  // interface holds (wiped first for the secret kinds), and clears it.
  static void Release(Unit*& pData, DWORD dwLength) {
    Adopt(std::exchange(pData, nullptr), dwLength).Clear();
  }

  // The same pointer under both names: get() for code that holds the buffer
  // as an owned pointer, data() for code that reads it as a run of bytes.
  Unit* get() const { return m_pData; }
  Unit* data() const { return m_pData; }
  // 0 while no buffer is held, whatever a callee wrote as its length.
  DWORD size() const { return m_pData != nullptr ? m_dwLength : 0; }
  bool empty() const { return size() == 0; }
  // Whether a buffer is held, as for a pointer.
  explicit operator bool() const { return m_pData != nullptr; }
  friend bool operator==(const BasicOwnedBytes& bytes, std::nullptr_t) { return !bytes; }
  friend bool operator!=(const BasicOwnedBytes& bytes, std::nullptr_t) { return !!bytes; }

  // Hands the buffer to the caller, who frees it with delete[]; the length
  // goes to *pdwLength when one is asked for. Nothing is held afterwards.
  void HandOut(Unit** ppData, DWORD* pdwLength = nullptr) {
    *ppData = m_pData;
    if (pdwLength != nullptr) {
      *pdwLength = m_dwLength;
    }
    m_pData = nullptr;
    m_dwLength = 0;
  }
  // Releases the buffer (wiped first for the secret kinds).
  void Clear() {
    if (m_pData != nullptr) {
      if (kWipe) {
        SecureWipe(m_pData, m_dwLength);
      }
      delete[] m_pData;
    }
    m_pData = nullptr;
    m_dwLength = 0;
  }

 private:
  Unit* m_pData = nullptr;
  DWORD m_dwLength = 0;
};

// Bytes that are no secret: certificates, public keys, signatures, names.
using OwnedBytes = BasicOwnedBytes<BYTE, false>;
using OwnedText = BasicOwnedBytes<char, false>;

}  // namespace merro
