// Key import: a session key wrapped under the container's RSA exchange key
// (SIMPLEBLOB), and a private key for the container's exchange slot
// (PRIVATEKEYBLOB: the plain RSA-1024 form, and two forms of this provider's
// own that name key data elsewhere in the caller's memory).
//
// Every length a blob's header implies is checked against the blob before
// anything is read past it, and everything that can be refused from the
// blob alone is refused before a key object is made or the token is asked.
//
// The by-reference forms carry the address of the key data in the calling
// process. The provider cannot tell whether that memory is readable: making
// sure it is, for the length the blob gives, is the caller's duty. The
// provider refuses a null address and lengths no key import can take.
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "csp/core_call.h"
#include "csp/core_names.h"
#include "csp/cp_core.h"
#include "csp/handle_checks.h"
#include "csp/registries.h"
#include "csp/user_key.h"
#include "foundation/alg_ids.h"
#include "foundation/misc/byte_order.h"
#include "foundation/secret_bytes.h"
#include "provider/container.h"
#include "provider/key_handle.h"

using merro::SecretBytes;
using merro::provider::KEY_TYPE_SESSION;

namespace {

constexpr DWORD kBlobHeaderLen = 8;  // sizeof(BLOBHEADER)
constexpr BYTE kCurBlobVersion = 2;

// SIMPLEBLOB: the wrapping key's ALG_ID, then the wrapped key.
constexpr DWORD kSimpleAlgOffset = 8;
constexpr DWORD kSimpleKeyOffset = 12;

// PRIVATEKEYBLOB, plain RSA form: RSAPUBKEY (magic, bit length, exponent),
// then nine parts of n/16 bytes.
constexpr DWORD kRsaPubKeyOffset = 8;
constexpr DWORD kRsaPubKeyLen = 12;
constexpr DWORD kRsaBitLenOffset = 12;
constexpr DWORD kRsaPartsOffset = 20;
constexpr DWORD kRsa2Magic = 0x32415352;  // "RSA2"
// The only key the plain form can carry to the token.
constexpr DWORD kPlainRsaBits = 1024;

// By-reference RSA form: modulus bits, key data bits, address.
constexpr DWORD kRefRsaModulusBitsOffset = 12;
constexpr DWORD kRefRsaDataBitsOffset = 16;
constexpr DWORD kRefRsaAddressOffset = 24;
constexpr DWORD kRefRsaBlobLen = 32;
// By-reference SM2 form: key data bits, address.
constexpr DWORD kRefSm2DataBitsOffset = 12;
constexpr DWORD kRefSm2AddressOffset = 16;
constexpr DWORD kRefSm2BlobLen = 24;
// The most key data each import can take: the token's SM2 key import
// carries 254 bytes of material; the RSA envelope (a 128-byte key block and
// a 640-byte pair inside DER) stays far below 2048.
constexpr DWORD kRefSm2DataMax = 254;
constexpr DWORD kRefRsaDataMax = 2048;

DWORD ReadDword(const BYTE* pbData, DWORD dwOffset) {
  DWORD dwValue = 0;
  std::memcpy(&dwValue, pbData + dwOffset, sizeof dwValue);
  return dwValue;
}

// An address as the by-reference forms carry it: 8 bytes, in this process.
const BYTE* ReadAddress(const BYTE* pbData, DWORD dwOffset) {
  std::uint64_t ullAddress = 0;
  std::memcpy(&ullAddress, pbData + dwOffset, sizeof ullAddress);
  return reinterpret_cast<const BYTE*>(static_cast<std::uintptr_t>(ullAddress));
}

bool IsRsaExchangeKey(const KeyHandle& key) {
  return key.m_uAlgID == CALG_RSA_KEYX && key.m_dwKeyType == Container::KEYSETALGORITHM_RSA;
}

// The container's exchange key into userKey; false when there is none.
bool GetExchangeKey(HCRYPTPROV hProv, merro::csp::ScopedUserKey& userKey) {
  return CPCoreGetUserKey(hProv, AT_KEYEXCHANGE, userKey.Out()) != FALSE;
}

// A session key unwrapped with the container's RSA exchange key (or with
// hPubKey, an RSA exchange key of hProv).
void ImportSimpleBlob(CoreCall& call, HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen,
                      HCRYPTKEY hPubKey, ALG_ID uSessionAlgID, HCRYPTKEY* phKey) {
  if (!call.Check(dwDataLen >= kSimpleKeyOffset, L"Check SIMPLEBLOB length", NTE_BAD_DATA) ||
      !call.Check(ReadDword(pbData, kSimpleAlgOffset) == CALG_RSA_KEYX,
                  L"check alg is CALG_RSA_KEX", 1)) {
    return;
  }

  merro::csp::ScopedUserKey userKey(hProv);
  KeyHandle* pUnwrapKey = nullptr;
  if (hPubKey != 0) {
    if (!merro::csp::IsKnownAndOwned(call, merro::csp::g_vtrKeyHandleSet, hProv, hPubKey,
                                     {nullptr, S_OK, L"Check hPubKey", NTE_BAD_KEY,
                                      L"Check hPubKey", NTE_BAD_KEY})) {
      return;
    }
    pUnwrapKey = merro::csp::g_vtrKeyHandleSet.Lookup(hPubKey);
  } else {
    if (!call.Check(GetExchangeKey(hProv, userKey), L"CPCoreGetUserKey", NTE_NO_KEY)) {
      return;
    }
    pUnwrapKey = userKey.Object();
  }
  // The blob names an RSA exchange key as its wrapper; an SM2 key would
  // read the wrapped bytes as something else entirely.
  const DWORD dwWrappedLen = dwDataLen - kSimpleKeyOffset;
  if (!call.Check(pUnwrapKey != nullptr && IsRsaExchangeKey(*pUnwrapKey),
                  L"Check the unwrapping key", NTE_BAD_KEY) ||
      !call.Check(dwWrappedLen == pUnwrapKey->m_dwModulusBits / 8, L"Check wrapped key length",
                  NTE_BAD_DATA)) {
    return;
  }

  // The token works most significant byte first.
  SecretBytes wrapped;
  if (!call.Check(wrapped.Allocate(dwWrappedLen), L"New buffer", E_OUTOFMEMORY)) {
    return;
  }
  std::memcpy(wrapped.get(), pbData + kSimpleKeyOffset, dwWrappedLen);
  SwapByteOrder(wrapped.get(), dwWrappedLen);
  SecretBytes keyBytes;
  const HRESULT hDecrypt =
      pUnwrapKey->AsymDecrypt(wrapped.get(), dwWrappedLen, keyBytes.Out(), keyBytes.Length());
  if (!call.Check(SUCCEEDED(hDecrypt), L"Check AsymDecrypt", hDecrypt)) {
    return;
  }

  std::unique_ptr<KeyHandle> spKey(new (std::nothrow) KeyHandle());
  if (!call.Check(spKey != nullptr, L"new KeyHandle", NTE_NO_MEMORY)) {
    return;
  }
  spKey->m_pContainer = merro::csp::g_vtrProvHandleSet.Lookup(hProv);
  const HRESULT hInit = spKey->InitKeyHandle(uSessionAlgID, 0);
  // A SIMPLEBLOB carries a session key, and the cipher reads as many key
  // bytes as its algorithm has: a block of any other length is no key of it.
  if (!call.Check(SUCCEEDED(hInit), L"InitKeyHandle(CALG_3DES)", hInit) ||
      !call.Check(spKey->m_dwKeyType == KEY_TYPE_SESSION, L"Check session key algorithm",
                  NTE_BAD_ALGID) ||
      !call.Check(keyBytes.size() == spKey->m_stSymKey.cbData, L"Check unwrapped key length",
                  NTE_BAD_DATA)) {
    return;
  }
  std::memcpy(spKey->m_stSymKey.pbData, keyBytes.get(), keyBytes.size());
  *phKey = merro::csp::AddKeyHandle(std::move(spKey));
}

// A by-reference form: the blob holds its fields, and names key data of a
// length the import can take at an address that is not null.
bool CheckReferenceForm(CoreCall& call, const BYTE* pbData, DWORD dwDataLen, DWORD dwBlobLen,
                        DWORD dwBitsOffset, DWORD dwAddressOffset, DWORD dwMaxLen) {
  if (!call.Check(dwDataLen >= dwBlobLen, L"Check PRIVATEKEYBLOB length", NTE_BAD_DATA)) {
    return false;
  }
  const DWORD dwLen = ReadDword(pbData, dwBitsOffset) / 8;
  return call.Check(ReadAddress(pbData, dwAddressOffset) != nullptr && dwLen != 0 &&
                        dwLen <= dwMaxLen,
                    L"Check the referenced key data", NTE_BAD_DATA);
}

// The blob's own form checks: what it must hold for the form it names.
bool CheckPrivateKeyBlobForm(CoreCall& call, const BYTE* pbData, DWORD dwDataLen, ALG_ID uAlgID,
                             WORD wReserved) {
  if (uAlgID == CALG_SM2_KEYX) {
    return CheckReferenceForm(call, pbData, dwDataLen, kRefSm2BlobLen, kRefSm2DataBitsOffset,
                              kRefSm2AddressOffset, kRefSm2DataMax);
  }
  if (wReserved != 0) {
    return CheckReferenceForm(call, pbData, dwDataLen, kRefRsaBlobLen, kRefRsaDataBitsOffset,
                              kRefRsaAddressOffset, kRefRsaDataMax);
  }
  // The plain form goes to the token as an RSA-1024 key: a key of any other
  // length would be written garbled.
  return call.Check(dwDataLen >= kRsaPartsOffset, L"Check PRIVATEKEYBLOB length", NTE_BAD_DATA) &&
         call.Check(ReadDword(pbData, kRsaPubKeyOffset) == kRsa2Magic &&
                        ReadDword(pbData, kRsaBitLenOffset) == kPlainRsaBits,
                    L"Check RSA2 1024-bit key", NTE_BAD_DATA) &&
         call.Check(dwDataLen >= kRsaPartsOffset + kPlainRsaBits * 9 / 16,
                    L"Check PRIVATEKEYBLOB length", NTE_BAD_DATA);
}

// A private key into the container's exchange slot, through the exchange
// key object, which becomes the new handle.
void ImportPrivateKeyBlob(CoreCall& call, HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen,
                          DWORD dwFlags, HCRYPTKEY* phKey) {
  const BYTE byVersion = pbData[1];
  WORD wReserved = 0;
  std::memcpy(&wReserved, pbData + 2, sizeof wReserved);
  const ALG_ID uAlgID = ReadDword(pbData, 4);
  if (!call.Check(byVersion == kCurBlobVersion, L"Check key BLOB version.", NTE_BAD_VER) ||
      !call.Check(uAlgID == CALG_SM2_KEYX || uAlgID == CALG_RSA_KEYX, L"Unsupported BLOB type",
                  NTE_BAD_TYPE) ||
      !CheckPrivateKeyBlobForm(call, pbData, dwDataLen, uAlgID, wReserved)) {
    return;
  }

  merro::csp::ScopedUserKey userKey(hProv);
  if (!call.Check(GetExchangeKey(hProv, userKey), L"CPCoreGetUserKey", NTE_NO_KEY)) {
    return;
  }
  KeyHandle* pKey = userKey.Object();
  pKey->m_dwPermissions |= dwFlags & CRYPT_EXPORTABLE;

  HRESULT hResult = S_OK;
  if (uAlgID == CALG_RSA_KEYX) {
    if (!call.Check(pKey->m_uAlgID == CALG_RSA_KEYX, L"Check the algid is CALG_RSA_KEYX",
                    NTE_BAD_ALGID) ||
        !call.Check(pKey->m_dwKeyType == Container::KEYSETALGORITHM_RSA,
                    L"Check m_dwKeyType is KEYSETALGORITHM_RSA", NTE_BAD_ALGID)) {
      return;
    }
    if (wReserved == 0) {
      pKey->m_dwKeySpec = AT_KEYEXCHANGE;
      SecretBytes body;
      if (!body.Assign(pbData + kRsaPubKeyOffset, kRsaPubKeyLen + kPlainRsaBits * 9 / 16)) {
        call.Check(false, L"New buffer", E_OUTOFMEMORY);
        return;
      }
      hResult = pKey->ImportPrivateKey(body.data(), body.size(), kPlainRsaBits);
    } else {
      pKey->m_dwModulusBits = ReadDword(pbData, kRefRsaModulusBitsOffset);
      hResult = pKey->ImportPrivateKey(ReadAddress(pbData, kRefRsaAddressOffset),
                                       ReadDword(pbData, kRefRsaDataBitsOffset) / 8,
                                       pKey->m_dwModulusBits);
    }
  } else {
    if (!call.Check(pKey->m_uAlgID == CALG_SM2_KEYX, L"Check the algid is CALG_SM2_KEYX",
                    NTE_BAD_ALGID) ||
        !call.Check(pKey->m_dwKeyType == Container::KEYSETALGORITHM_SM2,
                    L"Check m_dwKeyType is KEYSETALGORITHM_SM2", NTE_BAD_ALGID)) {
      return;
    }
    hResult = pKey->ImportPrivateKey(ReadAddress(pbData, kRefSm2AddressOffset),
                                     ReadDword(pbData, kRefSm2DataBitsOffset) / 8, MR_SM2_KEY_BITS);
  }
  if (call.CheckResult(hResult, L"ImportPrivateKey")) {
    *phKey = userKey.Keep();
  }
}

}  // namespace

BOOL CPCoreImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                     DWORD dwFlags, HCRYPTKEY* phKey) {
  CoreCall call("CPCoreImportKey");
  TraceCoreArguments(CoreArguments::kImportKey, {dwDataLen, dwFlags});
  if (!call.Check(hProv != 0 && pbData != nullptr && dwDataLen != 0 && phKey != nullptr,
                  L"Check parameters", ERROR_INVALID_PARAMETER) ||
      !call.Check(merro::csp::IsKnownProvHandle(hProv), L"Check container handle", NTE_BAD_UID) ||
      !call.Check(dwDataLen >= kBlobHeaderLen, L"Check BLOB length", NTE_BAD_DATA)) {
    return call.Finish();
  }

  // The helpers end before the call does: the temporary keys they destroy
  // set the thread's last error, which the call's own code then replaces.
  const BYTE byType = pbData[0];
  switch (byType) {
    case SIMPLEBLOB:
      ImportSimpleBlob(call, hProv, pbData, dwDataLen, hPubKey, ReadDword(pbData, 4), phKey);
      break;
    case PUBLICKEYBLOB:
      call.Check(false, L"PUBLICKEYBLOB is not supported now", NTE_NOT_SUPPORTED);
      break;
    case PRIVATEKEYBLOB:
      ImportPrivateKeyBlob(call, hProv, pbData, dwDataLen, dwFlags, phKey);
      break;
    case PLAINTEXTKEYBLOB:
    case OPAQUEKEYBLOB:
    case PUBLICKEYBLOBEX:
    case SYMMETRICWRAPKEYBLOB:
      call.Check(false, L"Unsupported BLOB type", NTE_BAD_TYPE);
      break;
    default:
      call.Check(false, L"Undefined BLOB type", NTE_BAD_TYPE);
      break;
  }
  return call.Finish();
}
