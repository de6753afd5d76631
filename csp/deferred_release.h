// When the provider objects taken out of their registries are destroyed.
//
// The call lock lets its holding thread in again, and the PIN and
// confirmation dialogs run a modal loop on the caller's thread: a window
// procedure of the host program can destroy a hash or key, or release a
// provider handle, while an outer call of the same thread still works with
// those objects through raw pointers. So while any provider core function is
// running, an object that leaves its registry is only queued: its handle is
// unknown at once, and the object is destroyed when the outermost core
// function ends (still under the call lock). With no core function running
// an object is destroyed at once.
//
// Like the registries, this is used only under the provider's call lock (or
// on one thread), so it takes no lock of its own.
#pragma once

namespace merro::csp {

// Marks one provider core function as running, for as long as it lives;
// the end of the outermost one destroys what was queued, keeping the
// thread's last error.
class RunningCoreCall {
 public:
  RunningCoreCall();
  ~RunningCoreCall();
  RunningCoreCall(const RunningCoreCall&) = delete;
  RunningCoreCall& operator=(const RunningCoreCall&) = delete;
};

// Destroys object with destroy now, or queues it while a core function runs.
void ReleaseObject(void* object, void (*destroy)(void*));

// The number of objects waiting for the outermost call to end.
unsigned QueuedObjectCount();

// Whether a provider core function runs on the thread that holds the call
// lock (a call made from inside it, by a window procedure in a dialog's
// modal loop, sees the outer one).
bool CoreCallRunning();

}  // namespace merro::csp
