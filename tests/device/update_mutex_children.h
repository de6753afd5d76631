// The child modes of the device daemon test program: the same program
// started again holds the device-update mutex or signals an event.
#pragma once

namespace merro::testing {

inline constexpr char kChildHoldMutex[] = "--child-hold-update-mutex";
inline constexpr char kChildSetEvent[] = "--child-set-event";

// Runs the child mode the arguments name and returns its exit code; -1 when
// they name none (the tests run then).
int RunUpdateMutexChild(int argc, char** argv);

}  // namespace merro::testing
