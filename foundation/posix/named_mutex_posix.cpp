// Named mutex for POSIX hosts: a robust, recursive, process-shared pthread
// mutex in a POSIX shared-memory object named after the mutex.
#include "foundation/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>

namespace merro::platform {
namespace {

constexpr std::uint32_t kReadyMagic = 0x4D52584Du;  // "MRXM"

struct SharedBlock {
  std::atomic<std::uint32_t> ready;
  pthread_mutex_t mutex;
};

// Shared-memory object names allow one leading '/' and no other; keep them
// short, and keep distinct long names distinct by appending a hash.
std::string ShmName(const std::string& name) {
  std::string clean;
  for (const char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
    clean += plain ? c : '_';
  }
  if (clean.size() > 180) {
    clean = clean.substr(0, 160) + "_" + std::to_string(std::hash<std::string>{}(name));
  }
  return "/merro-mutex-" + std::to_string(getuid()) + "-" + clean;
}

class PosixNamedMutex final : public NamedMutex {
 public:
  explicit PosixNamedMutex(SharedBlock* block) : m_block(block) {}

  WaitResult Wait(DWORD dwTimeoutMs) override {
    int rc;
    if (dwTimeoutMs == INFINITE) {
      rc = pthread_mutex_lock(&m_block->mutex);
    } else {
      timespec deadline{};
      clock_gettime(CLOCK_REALTIME, &deadline);
      deadline.tv_sec += dwTimeoutMs / 1000;
      deadline.tv_nsec += static_cast<long>(dwTimeoutMs % 1000) * 1000000L;
      if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
      }
      rc = pthread_mutex_timedlock(&m_block->mutex, &deadline);
    }
    switch (rc) {
      case 0:
        return WaitResult::Acquired;
      case EOWNERDEAD:
        pthread_mutex_consistent(&m_block->mutex);
        return WaitResult::Abandoned;
      case ETIMEDOUT:
        SetLastError(ERROR_TIMEOUT);
        return WaitResult::Timeout;
      default:
        SetLastError(ERROR_INVALID_HANDLE);
        return WaitResult::Failed;
    }
  }

  bool Release() override {
    if (pthread_mutex_unlock(&m_block->mutex) != 0) {
      SetLastError(ERROR_NOT_OWNER);
      return false;
    }
    return true;
  }

 private:
  SharedBlock* m_block;
};

bool InitialiseBlock(SharedBlock* block) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) {
    return false;
  }
  const bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
                  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
                  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                  pthread_mutex_init(&block->mutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  if (ok) {
    block->ready.store(kReadyMagic, std::memory_order_release);
  }
  return ok;
}

// Waits up to two seconds, as for the ready mark below, until the object
// behind fd is large enough for the block.
bool WaitForSize(int fd) {
  for (int i = 0;; ++i) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
      return false;
    }
    if (st.st_size >= static_cast<off_t>(sizeof(SharedBlock))) {
      return true;
    }
    if (i == 2000) {
      return false;
    }
    usleep(1000);
  }
}

// Mappings stay for the life of the process, one per name: the kernel can
// mark a mutex abandoned when its owner dies only while the owner still has
// it mapped, and an owner may well close its handle before dying.
std::mutex g_mappingsLock;
std::map<std::string, SharedBlock*> g_mappings;  // guarded by g_mappingsLock

std::unique_ptr<NamedMutex> OpenBlock(const std::string& name, bool create) {
  const std::string shm = ShmName(name);
  std::lock_guard<std::mutex> lock(g_mappingsLock);
  const auto known = g_mappings.find(shm);
  if (known != g_mappings.end()) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return std::make_unique<PosixNamedMutex>(known->second);
  }
  bool creator = false;
  int fd = -1;
  if (create) {
    fd = shm_open(shm.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    creator = fd >= 0;
  }
  if (fd < 0) {
    fd = shm_open(shm.c_str(), O_RDWR, 0600);
  }
  if (fd < 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (creator && ftruncate(fd, sizeof(SharedBlock)) != 0) {
    close(fd);
    shm_unlink(shm.c_str());
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Another process may have created the object and not sized it yet:
  // touching a mapping beyond the object's end would kill this process.
  if (!creator && !WaitForSize(fd)) {
    close(fd);
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* mem = mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (mem == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* block = static_cast<SharedBlock*>(mem);
  if (creator) {
    if (!InitialiseBlock(block)) {
      munmap(mem, sizeof(SharedBlock));
      shm_unlink(shm.c_str());
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
  } else {
    // Another process may still be initialising the block it just created.
    for (int i = 0; block->ready.load(std::memory_order_acquire) != kReadyMagic; ++i) {
      if (i == 2000) {
        munmap(mem, sizeof(SharedBlock));
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      usleep(1000);
    }
  }
  g_mappings.emplace(shm, block);
  SetLastError(creator ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
  return std::make_unique<PosixNamedMutex>(block);
}

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name) {
  return OpenBlock(name, true);
}

std::unique_ptr<NamedMutex> NamedMutex::Open(const std::string& name) {
  return OpenBlock(name, false);
}

}  // namespace merro::platform
