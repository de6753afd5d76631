// What the tracer needs of the platform: where records go when no sink is
// installed, and how tracing is registered.
#pragma once

#include "foundation/trace/trace.h"

namespace merro::trace::backend {

void Send(const Record& record);
// Looks up the platform's trace-message functions ahead of the first record.
void LoadTraceMessage();
void Register();
void Unregister();

// Control-block state, shared with the platform's control callback.
void MarkRegistered(bool registered);

}  // namespace merro::trace::backend
