// Encryption, decryption and random data.
#include "csp/core_call.h"
#include "csp/cp_core.h"

using merro::csp::CoreNotBuiltYet;

// Built with KeyHandle and the Container's device.
BOOL CPCoreEncrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal, DWORD dwFlags,
                   BYTE* pbData, DWORD* pdwDataLen, DWORD dwBufLen) {
  return CoreNotBuiltYet("CPCoreEncrypt");
}

BOOL CPCoreDecrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal, DWORD dwFlags,
                   BYTE* pbData, DWORD* pdwDataLen) {
  return CoreNotBuiltYet("CPCoreDecrypt");
}

BOOL CPCoreGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
  return CoreNotBuiltYet("CPCoreGenRandom");
}
