// The names the provider core's files use unqualified: the core call and
// its argument records, the handle registries and the provider objects the
// handles stand for. For those files alone: it brings the names into the
// global namespace.
#pragma once

#include "csp/core_call.h"
#include "csp/core_trace.h"
#include "csp/registries.h"
#include "provider/container.h"
#include "provider/hash_handle.h"
#include "provider/key_handle.h"

using merro::csp::CoreArguments;
using merro::csp::CoreCall;
using merro::csp::g_vtrHashHandleSet;
using merro::csp::g_vtrKeyHandleSet;
using merro::csp::g_vtrProvHandleSet;
using merro::csp::LengthAt;
using merro::csp::TraceCoreArguments;
using merro::provider::Container;
using merro::provider::HashHandle;
using merro::provider::KeyHandle;
