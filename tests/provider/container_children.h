// Child runs of the Container test program, for what a test process can do
// only once: a token layer whose start failed stays failed for the life of
// its process.
#pragma once

namespace merro::testing {

// "--token-layer-closed-port": the token layer started with the simulator's
// port closed, started again, and stopped. The exit code is 0 when the
// first start failed without a device object, the second answered S_OK
// without one and the stop answered E_FAIL; otherwise the number of the
// first step that went wrong. True when this was such a run.
bool RunContainerChild(int argc, char** argv, int* pExitCode);

inline constexpr char kClosedPortChildFlag[] = "--token-layer-closed-port";

}  // namespace merro::testing
