// Whether another thread can take a named mutex right now: the check that a
// routine left a token's device mutex free (the owner thread itself could
// always take it again).
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "foundation/platform.h"

namespace merro::testing {

inline bool OtherThreadAcquires(const std::string& name) {
  bool acquired = false;
  std::thread([&] {
    const std::unique_ptr<merro::platform::NamedMutex> mutex = merro::platform::NamedMutex::Create(name);
    acquired = mutex && mutex->Wait(0) == merro::platform::WaitResult::Acquired;
    if (acquired) {
      mutex->Release();
    }
  }).join();
  return acquired;
}

}  // namespace merro::testing
