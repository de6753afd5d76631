// Core functions that do what the test tells them, behind the real exports
// and the real call lock: every one records its call and the last error it
// found, runs the test's action and answers the test's result and code.
#include "tests/csp/fake_core.h"

#include "csp/cp_core.h"
#include "csp/token_layer.h"

namespace merro::testing::fake {

Behaviour g_behaviour;
std::vector<std::string> g_calls;
DWORD g_errorOnEntry = 0;

BOOL Core(const char* name) {
  g_calls.push_back(name);
  g_errorOnEntry = ::GetLastError();
  if (g_behaviour.action) {
    g_behaviour.action();
  }
  ::SetLastError(g_behaviour.error);
  return g_behaviour.result;
}

}  // namespace merro::testing::fake

BOOL CPCoreAcquireContext(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwFlags,
                          PVTableProvStruc pVTable) {
  return merro::testing::fake::Core("CPCoreAcquireContext");
}

BOOL CPCoreCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                      HCRYPTHASH* phHash) {
  return merro::testing::fake::Core("CPCoreCreateHash");
}

BOOL CPCoreDecrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal, DWORD dwFlags,
                   BYTE* pbData, DWORD* pdwDataLen) {
  return merro::testing::fake::Core("CPCoreDecrypt");
}

BOOL CPCoreDeriveKey(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTHASH hBaseData, DWORD dwFlags,
                     HCRYPTKEY* phKey) {
  return merro::testing::fake::Core("CPCoreDeriveKey");
}

BOOL CPCoreDestroyHash(HCRYPTPROV hProv, HCRYPTHASH hHash) {
  return merro::testing::fake::Core("CPCoreDestroyHash");
}

BOOL CPCoreDestroyKey(HCRYPTPROV hProv, HCRYPTKEY hKey) {
  return merro::testing::fake::Core("CPCoreDestroyKey");
}

BOOL CPCoreDuplicateHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD* pdwReserved, DWORD dwFlags,
                         HCRYPTHASH* phHash) {
  return merro::testing::fake::Core("CPCoreDuplicateHash");
}

BOOL CPCoreDuplicateKey(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD* pdwReserved, DWORD dwFlags,
                        HCRYPTKEY* phKey) {
  return merro::testing::fake::Core("CPCoreDuplicateKey");
}

BOOL CPCoreEncrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal, DWORD dwFlags,
                   BYTE* pbData, DWORD* pdwDataLen, DWORD dwBufLen) {
  return merro::testing::fake::Core("CPCoreEncrypt");
}

BOOL CPCoreExportKey(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey, DWORD dwBlobType,
                     DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen) {
  return merro::testing::fake::Core("CPCoreExportKey");
}

BOOL CPCoreGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
  return merro::testing::fake::Core("CPCoreGenKey");
}

BOOL CPCoreGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
  return merro::testing::fake::Core("CPCoreGenRandom");
}

BOOL CPCoreGetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData,
                        DWORD* pdwDataLen, DWORD dwFlags) {
  return merro::testing::fake::Core("CPCoreGetHashParam");
}

BOOL CPCoreGetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData,
                       DWORD* pdwDataLen, DWORD dwFlags) {
  return merro::testing::fake::Core("CPCoreGetKeyParam");
}

BOOL CPCoreGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                        DWORD dwFlags) {
  return merro::testing::fake::Core("CPCoreGetProvParam");
}

BOOL CPCoreGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
  return merro::testing::fake::Core("CPCoreGetUserKey");
}

BOOL CPCoreHashData(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen,
                    DWORD dwFlags) {
  return merro::testing::fake::Core("CPCoreHashData");
}

BOOL CPCoreHashSessionKey(HCRYPTPROV hProv, HCRYPTHASH hHash, HCRYPTKEY hKey, DWORD dwFlags) {
  return merro::testing::fake::Core("CPCoreHashSessionKey");
}

BOOL CPCoreImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                     DWORD dwFlags, HCRYPTKEY* phKey) {
  return merro::testing::fake::Core("CPCoreImportKey");
}

BOOL CPCoreReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  return merro::testing::fake::Core("CPCoreReleaseContext");
}

BOOL CPCoreSetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData,
                        DWORD dwFlags) {
  return merro::testing::fake::Core("CPCoreSetHashParam");
}

BOOL CPCoreSetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData,
                       DWORD dwFlags) {
  return merro::testing::fake::Core("CPCoreSetKeyParam");
}

BOOL CPCoreSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  return merro::testing::fake::Core("CPCoreSetProvParam");
}

BOOL CPCoreSignHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR szDescription,
                    DWORD dwFlags, BYTE* pbSignature, DWORD* pdwSigLen) {
  return merro::testing::fake::Core("CPCoreSignHash");
}

BOOL CPCoreVerifySignature(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbSignature,
                           DWORD dwSigLen, HCRYPTKEY hPubKey, LPCWSTR szDescription,
                           DWORD dwFlags) {
  return merro::testing::fake::Core("CPCoreVerifySignature");
}

namespace merro::csp {

// The exports start the token layer at each call; behind the fake core
// there is none to start.
HRESULT EnsureTokenLayerStarted() { return S_OK; }
void StopTokenLayerAfterLastRelease() {}

}  // namespace merro::csp
