// Algorithm identifiers shared by the foundation and the layers above it:
// the CryptoAPI ALG_IDs and key pair kinds (AT_SIGNATURE, AT_KEYEXCHANGE)
// the system maps, and the token's key types and digest numbers.
#pragma once

#include "foundation/platform.h"

#ifdef _WIN32
#include <wincrypt.h>
#else
#define CALG_MD5 0x00008003u
#define CALG_SHA1 0x00008004u
#define CALG_SSL3_SHAMD5 0x00008008u
#define CALG_SHA_256 0x0000800Cu
#define CALG_SHA_384 0x0000800Du
#define CALG_SHA_512 0x0000800Eu
#define AT_KEYEXCHANGE 1u
#define AT_SIGNATURE 2u
#endif

// SM3 has no CryptoAPI identifier of its own; the system uses the next free
// hash identifier after SHA-512.
#ifndef CALG_SM3
#define CALG_SM3 0x0000800Fu
#endif
// SM2 key pairs, in the signature class (0x2000) and the key-exchange class
// (0xA000) with type bits 0x1E00, where RSA has 0x0400.
#ifndef CALG_SM2_SIGN
#define CALG_SM2_SIGN 0x00003E00u
#endif
#ifndef CALG_SM2_KEYX
#define CALG_SM2_KEYX 0x0000BE00u
#endif

// Key-set algorithms of a container, as the device object reports them.
// Constants, not macros: the container object declares members of the same
// names.
inline constexpr DWORD KEYSETALGORITHM_RSA = 1;
inline constexpr DWORD KEYSETALGORITHM_SM2 = 2;

// Every SM2 key has the length of its curve.
inline constexpr DWORD MR_SM2_KEY_BITS = 256;

// The token's key types and digest numbers (one byte each; the cipher
// numbers are in tokenapi/crypto/algorithms.h).
#ifndef MR_ALG_RSA1024
#define MR_ALG_RSA1024 1
#endif
#ifndef MR_ALG_RSA2048
#define MR_ALG_RSA2048 7
#endif
#ifndef MR_ALG_SM2
#define MR_ALG_SM2 0x11
#endif
#ifndef MR_ALG_MD5
#define MR_ALG_MD5 10
#endif
#ifndef MR_ALG_SHA1
#define MR_ALG_SHA1 11
#endif
#ifndef MR_ALG_SHA256
#define MR_ALG_SHA256 12
#endif
#ifndef MR_ALG_SHA512
#define MR_ALG_SHA512 13
#endif
#ifndef MR_ALG_SHA1_MD5
#define MR_ALG_SHA1_MD5 14  // SHA-1 digest followed by the MD5 digest
#endif
#ifndef MR_ALG_SM3
#define MR_ALG_SM3 18
#endif
