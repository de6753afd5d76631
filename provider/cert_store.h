// The personal certificate store ("MY") entries of this provider: the one
// place of the system that reads, writes and deletes them. An entry is a
// certificate with a key-provider property (CERT_KEY_PROV_INFO_PROP_ID) that
// names the provider and the token container holding the private key.
//
// Rules of the platform that shape these functions (seen under Wine 8, and
// harmless on Windows):
// - a deletion from a system store persists only after the store is
//   committed (CERT_STORE_CTRL_COMMIT), so every change is committed;
// - a new key-provider property on a certificate that is already in the
//   store does not persist (neither through replace-existing nor when set on
//   the store's context), so an entry is written as delete, commit, add,
//   commit, which on Windows gives what replace-existing gives;
// - deleting a duplicate of the context an enumeration stands on makes the
//   enumeration yield that certificate again forever, so matching entries
//   are collected first and deleted after the enumeration has ended.
// Under Wine the current user's "MY" also shows the local machine's entries
// (and deleting one there deletes it from the machine store); on Windows the
// two stores are apart.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <utility>
#include <vector>

namespace merro::provider {

// The provider's registered name and type, as every entry of ours names them.
inline constexpr wchar_t kProviderName[] = L"Tolvane Merro CSP For TAVR V1.0";
inline constexpr DWORD kProviderType = PROV_RSA_FULL;

// X.509 and PKCS #7 encodings, as the system creates and decodes certificates.
inline constexpr DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Which "MY" store: the current user's, or the local machine's (a container
// of a machine key set).
enum class StoreLocation { CurrentUser, LocalMachine };

inline StoreLocation StoreLocationFor(BOOL bMachineKeySet) {
  return bMachineKeySet ? StoreLocation::LocalMachine : StoreLocation::CurrentUser;
}

// One reference to a certificate context. Copying takes another reference
// (CertDuplicateCertificateContext), destruction gives one back
// (CertFreeCertificateContext); the context lives while any copy does.
class CertContext {
 public:
  CertContext() = default;
  // Takes over one reference the caller holds.
  explicit CertContext(PCCERT_CONTEXT adopted) : m_p(adopted) {}
  ~CertContext() { Reset(); }
  CertContext(const CertContext& o) : m_p(o.m_p ? ::CertDuplicateCertificateContext(o.m_p) : nullptr) {}
  CertContext& operator=(const CertContext& o) {
    if (this != &o) {
      CertContext copy(o);
      std::swap(m_p, copy.m_p);
    }
    return *this;
  }
  CertContext(CertContext&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  CertContext& operator=(CertContext&& o) noexcept {
    if (this != &o) {
      Reset();
      m_p = std::exchange(o.m_p, nullptr);
    }
    return *this;
  }

  // A new context decoded from DER bytes; empty when they do not decode
  // (the thread's last error says why).
  static CertContext FromEncoded(const BYTE* pbEncoded, DWORD cbEncoded);

  PCCERT_CONTEXT Get() const { return m_p; }
  PCCERT_CONTEXT operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  // Hands the reference to the caller.
  PCCERT_CONTEXT Release() { return std::exchange(m_p, nullptr); }
  void Reset() {
    if (m_p != nullptr) {
      ::CertFreeCertificateContext(std::exchange(m_p, nullptr));
    }
  }

 private:
  PCCERT_CONTEXT m_p = nullptr;
};

using CertContextList = std::vector<CertContext>;

// An open certificate store, closed once (CertCloseStore without flags:
// contexts still referenced keep their store alive until they are freed).
class CertStore {
 public:
  CertStore() = default;
  ~CertStore() { Close(); }
  CertStore(const CertStore&) = delete;
  CertStore& operator=(const CertStore&) = delete;
  CertStore(CertStore&& o) noexcept : m_h(std::exchange(o.m_h, nullptr)) {}
  CertStore& operator=(CertStore&& o) noexcept {
    if (this != &o) {
      Close();
      m_h = std::exchange(o.m_h, nullptr);
    }
    return *this;
  }

  // Opens the system store "MY" of the location.
  static HRESULT OpenMy(StoreLocation location, CertStore* pStore);

  HCERTSTORE Get() const { return m_h; }
  explicit operator bool() const { return m_h != nullptr; }
  // Writes the store's pending changes (deletions) to where it keeps them.
  HRESULT Commit() const;
  void Close() {
    if (m_h != nullptr) {
      ::CertCloseStore(std::exchange(m_h, nullptr), 0);
    }
  }

 private:
  HCERTSTORE m_h = nullptr;
};

// Whether two encodings are the same certificate: equal lengths and equal
// bytes (neither is read past its own length).
bool EncodedEquals(const BYTE* pbA, DWORD cbA, const BYTE* pbB, DWORD cbB);

// The key-provider record of an entry as stored.
struct StoreEntryInfo {
  std::wstring wstrContainerName;
  std::wstring wstrProviderName;
  DWORD dwProvType = 0;
  DWORD dwFlags = 0;
  DWORD dwProvParamCount = 0;
  DWORD dwKeySpec = 0;
};

// Reads the certificate's key-provider property. A certificate without one
// gives CRYPT_E_NOT_FOUND (0x80092004); names of any length are read whole.
HRESULT ReadStoreEntryInfo(PCCERT_CONTEXT pCert, StoreEntryInfo* pInfo);

// Appends to *pEntries a reference to every certificate of the store whose
// key-provider property names a provider that begins with wszProviderPrefix
// (case-sensitive; a longer name counts, a shorter one does not). Entries
// without the property are passed over. On failure *pEntries is unchanged.
HRESULT FindProviderEntries(StoreLocation location, const wchar_t* wszProviderPrefix,
                            CertContextList* pEntries);

// Deletes the first certificate of the store with exactly these encoded
// bytes and commits the store. No such certificate: S_OK, nothing changes.
// pbDeleted (optional) tells whether one was deleted.
HRESULT DeleteEntry(StoreLocation location, const BYTE* pbEncoded, DWORD cbEncoded,
                    bool* pbDeleted = nullptr);

// Writes the certificate as an entry of the provider: any entry with the same
// bytes is deleted first, then the certificate is added with the key-provider
// record {container name, provider name, PROV_RSA_FULL, CRYPT_MACHINE_KEYSET
// for the machine store else 0, no provider parameters, key spec}. The
// container name is UTF-16 text, or in the second form the token's UTF-8 name.
HRESULT WriteEntry(StoreLocation location, const BYTE* pbEncoded, DWORD cbEncoded,
                   const wchar_t* wszContainerName, DWORD dwKeySpec,
                   const wchar_t* wszProviderName = kProviderName);
HRESULT WriteEntry(StoreLocation location, const BYTE* pbEncoded, DWORD cbEncoded,
                   const char* szContainerNameUtf8, DWORD dwKeySpec,
                   const wchar_t* wszProviderName = kProviderName);

// The marker that lets SM2 certificates into the store:
// %APPDATA%\Tolvane\Merro\sm2browser.spt (the folder is never created).
HRESULT Sm2BrowserMarkerPath(std::wstring* pPath);
bool Sm2BrowserMarkerExists();

}  // namespace merro::provider
