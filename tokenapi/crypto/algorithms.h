// Algorithm numbers, modes and directions of the token library's cipher and
// hash contexts (one byte each, the numbering of the whole token API).
// Macros with guards, as the foundation's list of the digest numbers.
#pragma once

#include "foundation/alg_ids.h"

// Ciphers.
#ifndef MR_ALG_DES
#define MR_ALG_DES 2
#endif
#ifndef MR_ALG_3DES_2KEY
#define MR_ALG_3DES_2KEY 3
#endif
#ifndef MR_ALG_3DES
#define MR_ALG_3DES 4
#endif
#ifndef MR_ALG_RC4
#define MR_ALG_RC4 8
#endif
#ifndef MR_ALG_SM4
#define MR_ALG_SM4 19
#endif
// A symmetric algorithm that only the token runs (32-byte key).
#ifndef MR_ALG_TOKEN_SYM
#define MR_ALG_TOKEN_SYM 16
#endif

// Digests (MR_ALG_MD5 ... MR_ALG_SM3) and key types come from the foundation.

// Block-cipher modes: 1 is ECB, every other value runs CBC.
#ifndef MR_MODE_ECB
#define MR_MODE_ECB 1
#endif
#ifndef MR_MODE_CBC
#define MR_MODE_CBC 2
#endif

// Directions of the device-level symmetric handle.
#ifndef MR_CRYPTO_ENC
#define MR_CRYPTO_ENC 1
#endif
#ifndef MR_CRYPTO_DEC
#define MR_CRYPTO_DEC 2
#endif
