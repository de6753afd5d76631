// The platform seam on Windows: the named mutex is a kernel mutex.
#include "foundation/platform.h"

#include <vector>

namespace merro::platform {
namespace {

class WinNamedMutex final : public NamedMutex {
 public:
  explicit WinNamedMutex(HANDLE h) : m_hMutex(h) {}
  ~WinNamedMutex() override { ::CloseHandle(m_hMutex); }

  WaitResult Wait(DWORD dwTimeoutMs) override {
    switch (::WaitForSingleObject(m_hMutex, dwTimeoutMs)) {
      case WAIT_OBJECT_0:
        return WaitResult::Acquired;
      case WAIT_ABANDONED:
        return WaitResult::Abandoned;
      case WAIT_TIMEOUT:
        ::SetLastError(ERROR_TIMEOUT);
        return WaitResult::Timeout;
      default:
        return WaitResult::Failed;
    }
  }

  bool Release() override { return ::ReleaseMutex(m_hMutex) != FALSE; }

 private:
  HANDLE m_hMutex;
};

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name) {
  HANDLE h = ::CreateMutexA(nullptr, FALSE, name.c_str());
  if (h == nullptr) {
    return nullptr;
  }
  return std::make_unique<WinNamedMutex>(h);
}

std::unique_ptr<NamedMutex> NamedMutex::Open(const std::string& name) {
  HANDLE h = ::OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
  if (h == nullptr) {
    return nullptr;
  }
  return std::make_unique<WinNamedMutex>(h);
}

std::string ModuleDirectory() {
  // The module that holds this code: the program, or the provider DLL.
  HMODULE hModule = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ModuleDirectory), &hModule);
  std::vector<char> path(MAX_PATH * 4, '\0');
  const DWORD n = ::GetModuleFileNameA(hModule, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) {
    return ".\\";
  }
  std::string full(path.data(), n);
  const size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".\\") : full.substr(0, slash + 1);
}

}  // namespace merro::platform
