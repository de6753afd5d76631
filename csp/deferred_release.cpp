#include "csp/deferred_release.h"

#include <windows.h>

#include <deque>
#include <utility>

namespace merro::csp {
namespace {

struct Queued {
  void* object;
  void (*destroy)(void*);
};

unsigned g_uRunningCalls = 0;

std::deque<Queued>& Queue() {
  static std::deque<Queued> queue;
  return queue;
}

// Destroys in the order the objects left their registries (a provider
// handle's keys and hashes before its container). A destructor that
// releases another object finds no call running and destroys it at once.
void DestroyQueued() {
  const DWORD dwError = ::GetLastError();
  std::deque<Queued>& queue = Queue();
  while (!queue.empty()) {
    const Queued next = queue.front();
    queue.pop_front();
    next.destroy(next.object);
  }
  ::SetLastError(dwError);
}

}  // namespace

RunningCoreCall::RunningCoreCall() { ++g_uRunningCalls; }

RunningCoreCall::~RunningCoreCall() {
  if (--g_uRunningCalls == 0) {
    DestroyQueued();
  }
}

bool CoreCallRunning() { return g_uRunningCalls != 0; }

void ReleaseObject(void* object, void (*destroy)(void*)) {
  if (object == nullptr) {
    return;
  }
  if (g_uRunningCalls == 0) {
    destroy(object);
    return;
  }
  // On no memory for the queue the object is left alive (a leak), never
  // freed under a caller that may still use it.
  try {
    Queue().push_back(Queued{object, destroy});
  } catch (...) {
  }
}

unsigned QueuedObjectCount() { return static_cast<unsigned>(Queue().size()); }

}  // namespace merro::csp
