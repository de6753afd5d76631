// Token initialisation: builds the file system of an empty token (as after
// mr_EraseMF). The PINs come from PinFile.ini in the folder of the running
// program: sections "User", "Manager", "Unlock", keys "pin" (at most 15
// characters, default "905172") and "retry" (default 6, passed on as one
// byte). Every operation returns 0 or the code of its first failed step;
// nothing done before a failure is undone.
#pragma once

#include <string>

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

constexpr DWORD MR_PIN_INI_MAX = 15;        // characters of a PIN read from PinFile.ini
constexpr BYTE MR_PIN_DEFAULT_RETRY = 6;
constexpr char MR_PIN_DEFAULT[] = "905172";
constexpr char MR_PIN_INI_NAME[] = "PinFile.ini";

// The whole initialisation: clock, PIN file, authentication keys, CONFIG,
// TOKEN_INFO, OBJECT_HEADER, the token's SM2 key pair in 0x0012, the
// container record file and the container index.
HRESULT mr_InitTokenFile(DEV_CTX* pDevCtx);

// Creates and selects the PIN file and writes the three PINs.
HRESULT mr_CreatePinFile(DEV_CTX* pDevCtx);
// Writes MR_KEY_EXTERN_CFG, authenticates with it, derives MR_KEY_EXTERN
// from the chip serial number, writes it and authenticates with it. Writes
// into the selected file (the PIN file).
HRESULT mr_CreateMainKey(DEV_CTX* pDevCtx);
HRESULT mr_CreateConfigFile(DEV_CTX* pDevCtx);
HRESULT mr_CreateTokenInfoFile(DEV_CTX* pDevCtx);
HRESULT mr_CreateDataObjectRecordFile(DEV_CTX* pDevCtx);
// Creates CTNR_FID and CTNR_INDEX.
HRESULT mr_CreateContainerFile(DEV_CTX* pDevCtx);

namespace merro::commands {

// One section of PinFile.ini as initialisation reads it.
struct PinSetting {
  char szPin[MR_PIN_INI_MAX + 1];  // at most 15 characters, zero-terminated
  DWORD nPinLen;
  BYTE byRetry;
};

// Reads section pszSection of the profile file pszIniPath (defaults when the
// file, the section or a key is missing). The PIN text is wiped by the
// caller when done.
void ReadPinSetting(const char* pszIniPath, const char* pszSection, PinSetting* pSetting);

// The path of PinFile.ini in the folder of the running program.
std::string PinFilePath();

}  // namespace merro::commands
