// The device context: one per open token, handed to every command as pDevCtx.
#pragma once

#include "foundation/platform.h"

#ifndef _WIN32
// An opaque handle, as on Windows. The portable core never looks inside one.
using HANDLE = void*;
#endif

// Length of the device mutex name field, terminator included.
constexpr DWORD MR_MUTEX_NAME_LEN = 260;
// Length of the session key field.
constexpr DWORD MR_SESSION_KEY_LEN = 34;

// Secure-messaging states of a context.
constexpr BYTE MR_SM_STATE_NONE = 0;
constexpr BYTE MR_SM_STATE_SESSION_KEY = 2;

// Lengths of what a context keeps of its token (see MR_TOKEN_FACTS).
constexpr DWORD MR_FACTS_CHIP_SN_LEN = 8;
constexpr DWORD MR_FACTS_TEMP_PUBKEY_LEN = 64;

// What a token never changes while it stays plugged in: its chip serial
// number (from which its external-authentication key is derived) and the
// public half of its temporary SM2 key (under which the session key is
// asked for). The first session set-up of a context reads them, later ones
// use them; a new context (a new plug-in, a refresh) starts without them.
// Neither is secret.
struct MR_TOKEN_FACTS {
  bool fChipSNKnown = false;
  DWORD dwChipSNLen = 0;
  BYTE byChipSN[MR_FACTS_CHIP_SN_LEN] = {};
  bool fTempPubKeyKnown = false;
  BYTE byTempPubKey[MR_FACTS_TEMP_PUBKEY_LEN] = {};  // x then y
};

struct DEV_CTX {
  HANDLE hDevice;                        // the open device; the transport's only target
  HANDLE hMutex;                         // keeps the device mutex in existence while open
  char szMutexName[MR_MUTEX_NAME_LEN];   // name of the device mutex, zero-terminated
  BYTE bySMState;                        // MR_SM_STATE_NONE or MR_SM_STATE_SESSION_KEY
  BYTE bySessionKey[MR_SESSION_KEY_LEN]; // session key (SM4 uses the first 16 bytes)
  DWORD dwSessionKeyLen;                 // length of the session key in bytes
  MR_TOKEN_FACTS stFacts;                // read once per context
};
