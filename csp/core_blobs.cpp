// Key blobs.
#include <cstring>
#include <memory>
#include <vector>

#include "csp/core_call.h"
#include "csp/core_names.h"
#include "csp/cp_core.h"
#include "csp/handle_checks.h"
#include "csp/public_key_blob.h"
#include "csp/registries.h"
#include "provider/key_handle.h"

namespace {

// Blob types CryptoAPI defines beyond the three basic ones: plain-text,
// opaque, extended public and symmetric-wrapped blobs.
constexpr DWORD kFirstFurtherBlobType = PLAINTEXTKEYBLOB;     // 8
constexpr DWORD kLastFurtherBlobType = SYMMETRICWRAPKEYBLOB;  // 11

// Only PUBLICKEYBLOB is exported; private keys never leave the token.
bool CheckBlobType(CoreCall& call, DWORD dwBlobType) {
  if (dwBlobType == PUBLICKEYBLOB) {
    return true;
  }
  if (dwBlobType == PRIVATEKEYBLOB) {
    return call.Check(false, L"Unsupported dwBlobType", NTE_NOT_SUPPORTED);
  }
  if (dwBlobType == SIMPLEBLOB ||
      (dwBlobType >= kFirstFurtherBlobType && dwBlobType <= kLastFurtherBlobType)) {
    return call.Check(false, L"Unsupported dwBlobType", NTE_BAD_TYPE);
  }
  return call.Check(false, L"Undefined dwBlobType", NTE_BAD_TYPE);
}

}  // namespace

// Only public keys leave the provider: the PUBLICKEYBLOB of a container
// key, read from its token.
BOOL CPCoreExportKey(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey, DWORD dwBlobType,
                     DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen) {
  CoreCall call("CPCoreExportKey");
  TraceCoreArguments(CoreArguments::kExportKey, {dwBlobType, dwFlags, LengthAt(pdwDataLen)});
  if (!call.Check(hProv != 0 && hKey != 0 && pdwDataLen != nullptr, L"Check parameters",
                  ERROR_INVALID_PARAMETER)) {
    return call.Finish();
  }
  // Every failure before the size is known leaves the length 0.
  const DWORD dwGiven = *pdwDataLen;
  *pdwDataLen = 0;
  KeyHandle* pKey =
      LookUpOwned(call, merro::csp::g_vtrProvHandleSet, merro::csp::g_vtrKeyHandleSet, hProv, hKey,
                  {L"Check container handle", NTE_BAD_UID, L"Check key handle", NTE_BAD_UID,
                   L"Is the key handle belong to the provider?", NTE_BAD_UID});
  if (pKey == nullptr || !CheckBlobType(call, dwBlobType) ||
      !call.Check(hPubKey == 0, L"Check parameter(hPubKey)", ERROR_INVALID_PARAMETER)) {
    return call.Finish();
  }

  BYTE* pbyXorN = nullptr;
  BYTE* pbyYorE = nullptr;
  DWORD dwXorNSize = 0;
  DWORD dwYorESize = 0;
  const HRESULT hExport = pKey->ExportPublicKey(&pbyXorN, &dwXorNSize, &pbyYorE, &dwYorESize);
  const std::unique_ptr<BYTE[]> spXorN(pbyXorN);
  const std::unique_ptr<BYTE[]> spYorE(pbyYorE);
  if (!call.CheckResult(hExport, L"ExportPublicKey")) {
    return call.Finish();
  }
  std::vector<BYTE> blob;
  if (!call.CheckResult(
          merro::csp::BuildPublicKeyBlob(pKey->m_uAlgID, pKey->m_dwKeyType, pKey->m_dwModulusBits,
                                         pbyXorN, dwXorNSize, pbyYorE, dwYorESize, &blob),
          L"Check public key")) {
    return call.Finish();
  }

  const DWORD dwNeeded = static_cast<DWORD>(blob.size());
  *pdwDataLen = dwNeeded;
  if (pbData != nullptr && call.Check(dwGiven >= dwNeeded, L"Check buffer size", ERROR_MORE_DATA)) {
    std::memcpy(pbData, blob.data(), dwNeeded);
  }
  return call.Finish();
}
