// Owners for Windows handles, COM interfaces and system-allocated memory, and
// the folding of a failed Win32 call's last error.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <utility>

#include "foundation/result.h"

namespace merro::win {

// The folded last error of a Win32 call that failed; `fallback` when the
// call left no error, so that a failure never folds into success.
inline HRESULT FailedCallResult(DWORD fallback) {
  const DWORD error = ::GetLastError();
  return FoldWin32Error(static_cast<LONG>(error != 0 ? error : fallback));
}

// A kernel handle, closed once.
class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  HANDLE Get() const { return m_h; }
  bool Valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
  void Reset() {
    if (Valid()) {
      ::CloseHandle(m_h);
    }
    m_h = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE m_h;
};

// One reference to a COM interface.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  // For out-parameters: releases what is held first.
  T** Put() {
    Reset();
    return &m_p;
  }
  T* Detach() { return std::exchange(m_p, nullptr); }
  void Reset() {
    if (m_p != nullptr) {
      std::exchange(m_p, nullptr)->Release();
    }
  }

 private:
  T* m_p = nullptr;
};

// COM for the thread while the scope lasts (single-threaded apartment, as
// CoInitialize gives it). Only a successful initialisation is undone: a
// thread already in the multithreaded apartment (RPC_E_CHANGED_MODE) keeps
// it, and COM stays usable there.
class ComScope {
 public:
  ComScope() : m_hr(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(m_hr)) {
      ::CoUninitialize();
    }
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool Usable() const { return SUCCEEDED(m_hr) || m_hr == RPC_E_CHANGED_MODE; }
  HRESULT Result() const { return m_hr; }

 private:
  HRESULT m_hr;
};

// A BSTR, freed with SysFreeString.
class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(BSTR b) : m_b(b) {}
  ~UniqueBstr() { ::SysFreeString(m_b); }
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  BSTR Get() const { return m_b; }
  BSTR* Put() {
    ::SysFreeString(m_b);
    m_b = nullptr;
    return &m_b;
  }
  // The text, or an empty one for a null BSTR.
  const wchar_t* Text() const { return m_b != nullptr ? m_b : L""; }

 private:
  BSTR m_b = nullptr;
};

// A loaded module reference, released with FreeLibrary unless handed back.
class ModuleRef {
 public:
  explicit ModuleRef(HMODULE h) : m_h(h) {}
  ~ModuleRef() {
    if (m_h != nullptr) {
      ::FreeLibrary(m_h);
    }
  }
  ModuleRef(const ModuleRef&) = delete;
  ModuleRef& operator=(const ModuleRef&) = delete;
  HMODULE Get() const { return m_h; }
  HMODULE Release() { return std::exchange(m_h, nullptr); }

 private:
  HMODULE m_h;
};

}  // namespace merro::win
