#include "csp/user_key.h"

#include <memory>
#include <new>
#include <utility>

#include "csp/core_call.h"
#include "csp/cp_core.h"
#include "csp/registries.h"
#include "foundation/alg_ids.h"
#include "provider/container.h"
#include "provider/key_handle.h"

using merro::provider::Container;
using merro::provider::KeyHandle;

namespace merro::csp {

BOOL NewUserKey(const char* function, HCRYPTPROV hProv, DWORD dwKeySpec, KeyPresence presence,
                HCRYPTKEY* phUserKey) {
  CoreCall call(function);
  if (!call.Check(hProv != 0 && phUserKey != nullptr, L"Check parameters",
                  ERROR_INVALID_PARAMETER) ||
      !call.Check(dwKeySpec == AT_SIGNATURE || dwKeySpec == AT_KEYEXCHANGE, L"Check parameters",
                  NTE_NO_KEY) ||
      !call.Check(IsKnownProvHandle(hProv), L"Check if it's valid container", NTE_BAD_UID)) {
    return call.Finish();
  }
  Container* pContainer = g_vtrProvHandleSet.Lookup(hProv);
  std::unique_ptr<KeyHandle> spKey(new (std::nothrow) KeyHandle());
  if (!call.Check(spKey != nullptr, L"new KeyHandle()", NTE_NO_MEMORY)) {
    return call.Finish();
  }
  ALG_ID uAlgID = 0;
  DWORD dwKeyBits = 0;
  const bool known =
      presence == KeyPresence::AskToken
          ? call.CheckResult(pContainer->GetContainerInfo(dwKeySpec, &uAlgID, &dwKeyBits),
                             L"GetContainerInfo")
          : call.CheckResult(pContainer->GetRecordedKeyInfo(dwKeySpec, &uAlgID, &dwKeyBits),
                             L"GetRecordedKeyInfo");
  if (!known) {
    return call.Finish();
  }
  spKey->m_pContainer = pContainer;
  spKey->m_uAlgID = uAlgID;
  spKey->m_dwPermissions = CRYPT_DECRYPT;
  spKey->m_dwKeySpec = dwKeySpec;
  // The container reports its key-set algorithm through the key's ALG_ID.
  spKey->m_dwKeyType = (uAlgID == CALG_SM2_SIGN || uAlgID == CALG_SM2_KEYX)
                           ? Container::KEYSETALGORITHM_SM2
                           : Container::KEYSETALGORITHM_RSA;
  spKey->m_dwModulusBits = dwKeyBits;
  *phUserKey = AddKeyHandle(std::move(spKey));
  return call.Finish();
}

KeyHandle* ScopedUserKey::Object() const { return g_vtrKeyHandleSet.Lookup(m_hKey); }

HCRYPTKEY ScopedUserKey::Keep() {
  const HCRYPTKEY hKey = m_hKey;
  m_hKey = 0;
  return hKey;
}

void ScopedUserKey::Release() {
  if (m_hKey != 0) {
    CPCoreDestroyKey(m_hProv, m_hKey);
    m_hKey = 0;
  }
}

}  // namespace merro::csp
