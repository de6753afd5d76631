// One token's sequence lock (merro::transport::TokenSequenceLock), for the
// layers above the token API that run a sequence of token operations.
#pragma once

#include "tokenapi/transport/token_sequence_lock.h"
