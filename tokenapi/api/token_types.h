// The shared types and values of the public token API, for the layers above
// it: a token's context (DEV_CTX), the token's USB identity and the RSA key
// record.
#pragma once

#include "tokenapi/crypto/rsa/rsa_key.h"
#include "tokenapi/transport/device_ctx.h"
#include "tokenapi/transport/usb_ids.h"
