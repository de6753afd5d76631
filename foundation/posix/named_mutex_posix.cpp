// Named mutex for POSIX hosts: a robust, recursive, process-shared pthread
// mutex in a POSIX shared-memory object named after the mutex. The object
// appears under its name only once it is whole (see CreatePublished).
#include "foundation/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
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

// Shared-memory objects are the files of this tmpfs (as shm_open makes
// them); working on the paths allows the atomic rename below.
std::string ShmPath(const std::string& name) { return "/dev/shm" + ShmName(name); }

// Maps the block of an object that was published whole; null (last error
// ERROR_INVALID_HANDLE) for an object of another kind, which only a foreign
// writer can have put under the name.
SharedBlock* MapPublished(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(SharedBlock))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* mem = mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mem == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* block = static_cast<SharedBlock*>(mem);
  if (block->ready.load(std::memory_order_acquire) != kReadyMagic) {
    munmap(mem, sizeof(SharedBlock));
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return block;
}

// The temporary object a process builds the block of path in: path, this
// mark and the process id.
constexpr char kTemporaryMark[] = ".tmp.";
std::string TemporaryPath(const std::string& path, pid_t pid) {
  return path + kTemporaryMark + std::to_string(pid);
}

// Removes the temporary objects of path that creators left when they died
// before publishing.
void RemoveDeadCreatorsTemporaries(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = path.substr(0, slash);
  const std::string stem = path.substr(slash + 1) + kTemporaryMark;
  const std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), &closedir);
  if (!d) {
    return;
  }
  while (const dirent* entry = readdir(d.get())) {
    const std::string file = entry->d_name;
    if (file.compare(0, stem.size(), stem) != 0) {
      continue;
    }
    char* end = nullptr;
    const long pid = std::strtol(file.c_str() + stem.size(), &end, 10);
    if (*end == '\0' && pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      unlink((dir + "/" + file).c_str());
    }
  }
}

// Creation, all-or-nothing as other processes see it: the block is sized and
// initialised in a temporary object of this process, then renamed to path
// in one step that fails when path exists. A creator killed at any point
// leaves either no object under path or a whole one. Null when path exists
// (*pExists true) or creation failed (last error set).
SharedBlock* CreatePublished(const std::string& path, bool* pExists) {
  *pExists = false;
  RemoveDeadCreatorsTemporaries(path);
  const std::string temporary = TemporaryPath(path, getpid());
  unlink(temporary.c_str());  // left by an earlier process of this id
  const int fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  void* mem = MAP_FAILED;
  if (ftruncate(fd, sizeof(SharedBlock)) == 0) {
    mem = mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  close(fd);
  auto* block = mem == MAP_FAILED ? nullptr : static_cast<SharedBlock*>(mem);
  if (block == nullptr || !InitialiseBlock(block)) {
    SetLastError(block == nullptr ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_HANDLE);
  } else if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
    return block;
  } else {
    *pExists = errno == EEXIST;
    SetLastError(ERROR_ACCESS_DENIED);
  }
  if (block != nullptr) {
    munmap(block, sizeof(SharedBlock));
  }
  unlink(temporary.c_str());
  return nullptr;
}

// Mappings stay for the life of the process, one per name: the kernel can
// mark a mutex abandoned when its owner dies only while the owner still has
// it mapped, and an owner may well close its handle before dying.
std::mutex g_mappingsLock;
std::map<std::string, SharedBlock*> g_mappings;  // guarded by g_mappingsLock

std::unique_ptr<NamedMutex> OpenBlock(const std::string& name, bool create) {
  const std::string path = ShmPath(name);
  std::lock_guard<std::mutex> lock(g_mappingsLock);
  const auto known = g_mappings.find(path);
  if (known != g_mappings.end()) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return std::make_unique<PosixNamedMutex>(known->second);
  }
  // Objects under the name are always whole, so an existing one is used at
  // once; a creator that loses the race to another opens the winner's.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
      SharedBlock* block = MapPublished(fd);
      close(fd);
      if (block == nullptr) {
        return nullptr;
      }
      g_mappings.emplace(path, block);
      SetLastError(ERROR_ALREADY_EXISTS);
      return std::make_unique<PosixNamedMutex>(block);
    }
    if (errno != ENOENT || !create) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    bool exists = false;
    SharedBlock* block = CreatePublished(path, &exists);
    if (block != nullptr) {
      g_mappings.emplace(path, block);
      SetLastError(ERROR_SUCCESS);
      return std::make_unique<PosixNamedMutex>(block);
    }
    if (!exists) {
      return nullptr;
    }
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name) {
  return OpenBlock(name, true);
}

std::unique_ptr<NamedMutex> NamedMutex::Open(const std::string& name) {
  return OpenBlock(name, false);
}

}  // namespace merro::platform
