// Keys and key parameters.
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "csp/core_call.h"
#include "csp/core_names.h"
#include "csp/cp_core.h"
#include "csp/handle_checks.h"
#include "csp/registries.h"
#include "csp/signature_pin.h"
#include "csp/user_key.h"
#include "foundation/owned_bytes.h"
#include "provider/container.h"
#include "provider/key_handle.h"

namespace {

// Flags of a key generation this provider does not offer, in the order they
// are tested.
constexpr DWORD kRefusedGenKeyFlags[] = {CRYPT_CREATE_IV, CRYPT_DATA_KEY, CRYPT_PREGEN,
                                         CRYPT_ONLINE,    CRYPT_NO_SALT,  CRYPT_SF,
                                         CRYPT_SGCKEY,    CRYPT_VOLATILE};

// Key sizes a key pair may be asked for in the upper word of the flags; 0
// asks for the default.
constexpr DWORD kDefaultKeyBits = 1024;
constexpr DWORD kAcceptedKeyBits[] = {256, 1024, 2048, 4096};

// KP_PERMISSIONS takes no bit from 0x200 up.
constexpr DWORD kPermissionsLimit = 0x200;
// KP_ALGID with an algorithm no key of this provider can have.
constexpr HRESULT kUnsupportedKeyAlgorithm = static_cast<HRESULT>(0x803400BB);

bool IsContainerKey(const KeyHandle& key) {
  return key.m_dwKeySpec == AT_KEYEXCHANGE || key.m_dwKeySpec == AT_SIGNATURE;
}

DWORD ReadDword(const BYTE* pbData) {
  DWORD dwValue = 0;
  std::memcpy(&dwValue, pbData, sizeof dwValue);
  return dwValue;
}

// The key size of a CPGenKey request, or 0 when the provider has none of
// that size.
DWORD RequestedKeyBits(DWORD dwFlags) {
  const DWORD dwBits = dwFlags >> 16;
  if (dwBits == 0) {
    return kDefaultKeyBits;
  }
  for (const DWORD dwAccepted : kAcceptedKeyBits) {
    if (dwBits == dwAccepted) {
      return dwBits;
    }
  }
  return 0;
}

// KP_ALGID: a container key may move between the signature and exchange
// kinds of its own family (the pair on the token stays what it is); a
// session key takes only its own algorithm, which changes nothing (its key
// bytes and a running cipher stay). Any other change would make a key of
// the wrong family or a session key of zeros: refused, the key unchanged.
bool SetAlgID(KeyHandle* pKey, ALG_ID uAlgID) {
  struct ContainerKind {
    ALG_ID uAlgID;
    DWORD dwKeySpec;
    DWORD dwKeyType;
  };
  static constexpr ContainerKind kContainerKinds[] = {
      {CALG_RSA_KEYX, AT_KEYEXCHANGE, Container::KEYSETALGORITHM_RSA},
      {CALG_SM2_KEYX, AT_KEYEXCHANGE, Container::KEYSETALGORITHM_SM2},
      {CALG_RSA_SIGN, AT_SIGNATURE, Container::KEYSETALGORITHM_RSA},
      {CALG_SM2_SIGN, AT_SIGNATURE, Container::KEYSETALGORITHM_SM2},
  };
  if (pKey->m_dwKeyType == merro::provider::KEY_TYPE_SESSION) {
    return uAlgID == pKey->m_uAlgID;
  }
  if (!IsContainerKey(*pKey)) {
    return false;
  }
  for (const ContainerKind& kind : kContainerKinds) {
    if (kind.uAlgID == uAlgID && kind.dwKeyType == pKey->m_dwKeyType) {
      pKey->m_uAlgID = kind.uAlgID;
      pKey->m_dwKeySpec = kind.dwKeySpec;
      return true;
    }
  }
  return false;
}

// The parameters every key object holds in its members; *pbServed tells
// whether dwParam is one of them.
HRESULT ExportMemberParam(KeyHandle* pKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                          bool* pbServed) {
  *pbServed = true;
  // The DWORD readers take the caller's bytes as they are: CryptoAPI gives
  // no alignment for pbData.
  DWORD dwValue = 0;
  DWORD* pdwValue = pbData != nullptr ? &dwValue : nullptr;
  HRESULT hResult = S_OK;
  switch (dwParam) {
    case KP_IV:
      return pKey->ExportIV(pbData, pdwDataLen);
    case KP_PERMISSIONS:
      hResult = pKey->ExportPermissions(pdwValue, pdwDataLen);
      break;
    case KP_ALGID:
      hResult = pKey->ExportAlgID(pdwValue, pdwDataLen);
      break;
    case KP_BLOCKLEN:
      hResult = pKey->ExportBlockLength(pdwValue, pdwDataLen);
      break;
    case KP_KEYLEN:
      hResult = pKey->ExportKeyLength(pdwValue, pdwDataLen);
      break;
    default:
      *pbServed = false;
      return S_OK;
  }
  if (hResult == S_OK && pbData != nullptr) {
    std::memcpy(pbData, &dwValue, sizeof dwValue);
  }
  return hResult;
}

// The key of a key-parameter call, after the provider and key look-ups the
// two parameter functions share; the ownership step is each one's own.
KeyHandle* LookUpParamKey(CoreCall& call, HCRYPTPROV hProv, HCRYPTKEY hKey,
                          const wchar_t* ownerStep) {
  return LookUpOwned(
      call, merro::csp::g_vtrProvHandleSet, merro::csp::g_vtrKeyHandleSet, hProv, hKey,
      {L"Check validity of provider handle", ERROR_INVALID_PARAMETER,
       L"Check validity of key handle", ERROR_INVALID_PARAMETER, ownerStep, NTE_BAD_UID});
}

}  // namespace

// A key pair of the container's, made on its token. Session keys cannot be
// generated: the key object refuses them.
BOOL CPCoreGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
  CoreCall call("CPCoreGenKey");
  TraceCoreArguments(CoreArguments::kGenKey, {Algid, dwFlags});
  if (!call.Check(hProv != 0, L"check parameter", ERROR_INVALID_HANDLE) ||
      !call.Check(phKey != nullptr, L"check parameter", ERROR_INVALID_PARAMETER)) {
    return call.Finish();
  }
  *phKey = 0;
  if (!call.Check(merro::csp::IsKnownProvHandle(hProv), L"Check validity of provider handle",
                  ERROR_INVALID_PARAMETER)) {
    return call.Finish();
  }
  Container* pContainer = merro::csp::g_vtrProvHandleSet.Lookup(hProv);
  std::unique_ptr<KeyHandle> spKey(new (std::nothrow) KeyHandle());
  if (!call.Check(spKey != nullptr, L"new KeyHandle", NTE_NO_MEMORY)) {
    return call.Finish();
  }
  bool bFlagsServed = true;
  for (const DWORD dwRefused : kRefusedGenKeyFlags) {
    bFlagsServed = bFlagsServed && (dwFlags & dwRefused) == 0;
  }
  if (!call.Check(bFlagsServed, L"doesn't use this flag", NTE_BAD_FLAGS)) {
    return call.Finish();
  }
  if ((dwFlags & CRYPT_USER_PROTECTED) != 0 &&
      !call.Check(pContainer->IsAllowUI() != FALSE, L"set user pin", NTE_SILENT_CONTEXT)) {
    return call.Finish();
  }
  spKey->m_dwPermissions = CRYPT_DECRYPT;
  call.Passed(L"crypt pregen flag");

  const HRESULT hInit = spKey->InitKeyHandle(Algid, dwFlags);
  if (!call.Check(SUCCEEDED(hInit), L"InitKeyHandle", hInit)) {
    return call.Finish();
  }
  if (spKey->m_dwKeyType != merro::provider::KEY_TYPE_SESSION) {
    const DWORD dwBits = RequestedKeyBits(dwFlags);
    if (!call.Check(dwBits != 0, L"Invalid key length", ERROR_INVALID_PARAMETER)) {
      return call.Finish();
    }
    spKey->m_dwModulusBits = dwBits;
    spKey->m_dwBlockBits = dwBits;
  }
  spKey->m_pContainer = pContainer;
  if (!call.CheckResult(spKey->GenerateKey(), L"pKey->GenerateKey")) {
    return call.Finish();
  }
  *phKey = merro::csp::AddKeyHandle(std::move(spKey));
  return call.Finish();
}

// Key derivation is not offered, whatever the arguments.
BOOL CPCoreDeriveKey(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTHASH hBaseData, DWORD dwFlags,
                     HCRYPTKEY* phKey) {
  CoreCall call("CPCoreDeriveKey");
  TraceCoreArguments(CoreArguments::kDeriveKey, {Algid, dwFlags});
  call.Check(false, L"Not support DeriveKey", NTE_NOT_SUPPORTED);
  return call.Finish();
}

BOOL CPCoreDestroyKey(HCRYPTPROV hProv, HCRYPTKEY hKey) {
  CoreCall call("CPCoreDestroyKey");
  TraceCoreArguments(CoreArguments::kDestroyKey, {});
  // A null handle is never registered, so the look-up refuses it.
  if (LookUpOwned(call, merro::csp::g_vtrProvHandleSet, merro::csp::g_vtrKeyHandleSet, hProv, hKey,
                  {L"Check validity of provider handle", ERROR_INVALID_PARAMETER,
                   L"Check validity of key handle(1)", ERROR_INVALID_PARAMETER,
                   L"check validity of key handle(2)", NTE_BAD_UID}) != nullptr) {
    merro::csp::RemoveKeyHandle(hKey);
  }
  return call.FinishKeepingCallerError();
}

BOOL CPCoreSetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData,
                       DWORD dwFlags) {
  CoreCall call("CPCoreSetKeyParam");
  TraceCoreArguments(CoreArguments::kSetKeyParam, {dwParam, dwFlags});
  if (!call.Check(hProv != 0, L"check parameter", ERROR_INVALID_PARAMETER) ||
      !call.Check(hKey != 0, L"check parameter2", ERROR_INVALID_PARAMETER) ||
      !call.Check(pbData != nullptr, L"SetKeyParameter", ERROR_INVALID_PARAMETER)) {
    return call.Finish();
  }
  KeyHandle* pKey = LookUpParamKey(call, hProv, hKey, L"SetKeyParameter");
  if (pKey == nullptr) {
    return call.Finish();
  }
  switch (dwParam) {
    case KP_IV:
      // A key without an IV takes none; no more than its IV is read.
      if (pKey->m_pbyIV != nullptr && pKey->m_dwIVBits != 0) {
        std::memcpy(pKey->m_pbyIV, pbData, pKey->m_dwIVBits / 8);
      }
      call.Passed(L"SetKeyParameter");
      break;
    case KP_MODE:
      pKey->m_dwMode = ReadDword(pbData);
      call.Passed(L"SetKeyParameter");
      break;
    case KP_PERMISSIONS: {
      const DWORD dwPermissions = ReadDword(pbData);
      if (call.Check(dwPermissions < kPermissionsLimit, L"Flag is Error", NTE_BAD_FLAGS)) {
        // Bits are added, never taken away.
        pKey->m_dwPermissions |= dwPermissions;
      }
      break;
    }
    case KP_ALGID:
      call.Check(SetAlgID(pKey, ReadDword(pbData)), L"Check the key can have the algorithm",
                 kUnsupportedKeyAlgorithm);
      break;
    case KP_CERTIFICATE:
      call.CheckResult(pKey->ImportCertificate(pbData), L"ImportCertificate");
      break;
    case KP_SIGNATURE_PIN:
      merro::csp::SetSignaturePIN(call, pKey->m_pContainer, pbData);
      break;
    default:
      call.Check(false, L"SetKeyParameter", ERROR_NOT_SUPPORTED);
      break;
  }
  return call.Finish();
}

// Container keys answer all six parameters; session keys those they hold in
// memory (a certificate belongs only to a container key).
BOOL CPCoreGetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData,
                       DWORD* pdwDataLen, DWORD dwFlags) {
  CoreCall call("CPCoreGetKeyParam");
  TraceCoreArguments(CoreArguments::kGetKeyParam, {dwParam, LengthAt(pdwDataLen), dwFlags});
  if (!call.Check(hProv != 0, L"check parameter1", ERROR_INVALID_PARAMETER) ||
      !call.Check(hKey != 0, L"check parameter2", ERROR_INVALID_PARAMETER) ||
      !call.Check(pdwDataLen != nullptr, L"check parameter3", ERROR_INVALID_PARAMETER)) {
    return call.Finish();
  }
  KeyHandle* pKey = LookUpParamKey(call, hProv, hKey, L"Check Parameter");
  if (pKey == nullptr) {
    return call.Finish();
  }
  bool bServed = false;
  HRESULT hResult = ExportMemberParam(pKey, dwParam, pbData, pdwDataLen, &bServed);
  if (!bServed && dwParam == KP_CERTIFICATE && IsContainerKey(*pKey)) {
    bServed = true;
    hResult = pKey->ExportCertificate(pbData, pdwDataLen);
  }
  if (!call.Check(bServed, L"GetKeyParameter", NTE_BAD_TYPE)) {
    return call.Finish();
  }
  // A short buffer gets ERROR_MORE_DATA with the needed length, which is
  // what callers retry on; any other failure (the token's included) is the
  // provider's.
  call.Check(hResult == S_OK, L"GetKeyParameter",
             hResult == HRESULT_FROM_WIN32(ERROR_MORE_DATA) ? ERROR_MORE_DATA : NTE_FAIL);
  return call.Finish();
}

// A new key object for one of the container's two key pairs; each call
// gives a handle of its own, after the token has shown the key pair is there.
BOOL CPCoreGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
  TraceCoreArguments(CoreArguments::kGetUserKey, {dwKeySpec});
  return merro::csp::NewUserKey("CPCoreGetUserKey", hProv, dwKeySpec,
                                merro::csp::KeyPresence::AskToken, phUserKey);
}

// An independent copy of a key object: a container key refers to the same
// key pair on the token, a session key carries its key bytes and IV along.
BOOL CPCoreDuplicateKey(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD* pdwReserved, DWORD dwFlags,
                        HCRYPTKEY* phKey) {
  CoreCall call("CPCoreDuplicateKey");
  TraceCoreArguments(CoreArguments::kDuplicateKey, {dwFlags});
  if (!call.Check(hProv != 0, L"check parameter1", ERROR_INVALID_HANDLE) ||
      !call.Check(hKey != 0, L"check parameter2", ERROR_INVALID_HANDLE) ||
      !call.Check(phKey != nullptr, L"check parameter3", ERROR_INVALID_HANDLE)) {
    return call.Finish();
  }
  *phKey = 0;
  const KeyHandle* pSource =
      LookUpOwned(call, merro::csp::g_vtrProvHandleSet, merro::csp::g_vtrKeyHandleSet, hProv, hKey,
                  {L"hProv is unKnown", ERROR_INVALID_HANDLE, L"Check validity of key handle",
                   ERROR_INVALID_PARAMETER, L"check validity of the key handle", NTE_BAD_UID});
  if (pSource == nullptr) {
    return call.Finish();
  }
  std::unique_ptr<KeyHandle> spKey(new (std::nothrow) KeyHandle());
  if (!call.Check(spKey != nullptr, L"New KeyHandle", NTE_NO_MEMORY) ||
      !call.Check(SUCCEEDED(spKey->InitKeyHandle(pSource->m_uAlgID, 0)), L"InitKeyHandle",
                  NTE_FAIL)) {
    return call.Finish();
  }
  spKey->m_uAlgID = pSource->m_uAlgID;
  spKey->m_dwPermissions = pSource->m_dwPermissions;
  spKey->m_dwModulusBits = pSource->m_dwModulusBits;
  spKey->m_dwKeySpec = pSource->m_dwKeySpec;
  spKey->m_dwBlockBits = pSource->m_dwBlockBits;
  spKey->m_dwMode = pSource->m_dwMode;
  if (pSource->m_dwIVBits != 0 && pSource->m_pbyIV != nullptr) {
    // The copy gets an IV buffer of the source's size: its own may be of
    // another size, or missing, when KP_ALGID changed the source's kind
    // after its IV was made.
    const DWORD dwIVBytes = pSource->m_dwIVBits / 8;
    merro::OwnedBytes spIV = merro::OwnedBytes::CopyOf(pSource->m_pbyIV, dwIVBytes);
    if (!call.Check(spIV != nullptr, L"New buffer", NTE_NO_MEMORY)) {
      return call.Finish();
    }
    merro::OwnedBytes::Release(spKey->m_pbyIV, spKey->m_dwIVBits / 8);
    spIV.HandOut(&spKey->m_pbyIV);
    spKey->m_dwIVBits = pSource->m_dwIVBits;
  }
  // Key bytes come along from every source that has them: a session key
  // copied without them would encrypt under an all-zero key.
  if (!call.CheckResult(spKey->DuplicateKey(*pSource), L"DuplicateKey")) {
    return call.Finish();
  }
  spKey->m_pContainer = pSource->m_pContainer;
  *phKey = merro::csp::AddKeyHandle(std::move(spKey));
  return call.Finish();
}
