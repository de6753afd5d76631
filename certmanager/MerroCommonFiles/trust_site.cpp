#include "certmanager/MerroCommonFiles/trust_site.h"

#include "foundation/trace/trace.h"
#include "foundation/win/win_resource.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "TrustSite"

namespace {

constexpr HRESULT kMappingExists = static_cast<HRESULT>(0x80070050);
constexpr size_t kSiteListChars = 1023;

using merro::win::ComPtr;

class SystemTrustZoneManagers : public TrustZoneManagers {
 public:
  HRESULT Create(const char* function) {
    MR_TRACE_UNDER(function);
    HRESULT hr = ::CoCreateInstance(CLSID_InternetSecurityManager, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IInternetSecurityManager,
                                    reinterpret_cast<void**>(m_security.Put()));
    if (FAILED(hr)) {
      MR_LOG_FAIL(L"CoCreateInstance - Security Manager", L"FAILED(hResult)", hr);
      return hr;
    }
    hr = ::CoCreateInstance(CLSID_InternetZoneManager, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IInternetZoneManager, reinterpret_cast<void**>(m_zones.Put()));
    if (FAILED(hr)) {
      MR_LOG_FAIL(L"CoCreateInstance - Zone Manager", L"FAILED(hResult)", hr);
    }
    return hr;
  }
  HRESULT GetZoneAttributes(DWORD dwZone, ZONEATTRIBUTES* pAttributes) override {
    return m_zones->GetZoneAttributes(dwZone, pAttributes);
  }
  HRESULT SetZoneAttributes(DWORD dwZone, ZONEATTRIBUTES* pAttributes) override {
    return m_zones->SetZoneAttributes(dwZone, pAttributes);
  }
  HRESULT SetZoneMapping(DWORD dwZone, LPCWSTR wszPattern, DWORD dwFlags) override {
    return m_security->SetZoneMapping(dwZone, wszPattern, dwFlags);
  }

 private:
  ComPtr<IInternetSecurityManager> m_security;
  ComPtr<IInternetZoneManager> m_zones;
};

HRESULT MapSite(TrustZoneManagers& managers, LPCWSTR wszSite) {
  const HRESULT hr = managers.SetZoneMapping(URLZONE_TRUSTED, wszSite, SZM_CREATE);
  return hr == kMappingExists ? S_OK : hr;
}

// Loads the site list and hands each site to addSite, in order.
HRESULT ForEachListedSite(const char* function, HINSTANCE hInstance, UINT uStringId,
                          const std::function<HRESULT(LPCWSTR)>& addSite) {
  MR_TRACE_UNDER(function);
  wchar_t text[kSiteListChars + 1] = {};
  ::SetLastError(0);
  if (::LoadStringW(hInstance, uStringId, text, static_cast<int>(kSiteListChars + 1)) <= 0) {
    const DWORD error = ::GetLastError();
    if (error != 0) {
      const HRESULT hr = merro::FoldWin32Error(static_cast<LONG>(error));
      MR_LOG_FAIL(L"LoadStringW", L"GetLastError() != 0", hr);
      return hr;
    }
  }
  std::vector<std::wstring> sites;
  SplitStrings(text, L"|", &sites);
  for (const std::wstring& site : sites) {
    const HRESULT hr = addSite(site.c_str());
    if (FAILED(hr)) {
      MR_LOG_FAIL(L"AddTrustSite", L"FAILED(hResult)", hr);
      return hr;
    }
  }
  return S_OK;
}

}  // namespace

HRESULT CreateSystemTrustZoneManagers(std::unique_ptr<TrustZoneManagers>* ppManagers) {
  MR_TRACE("CreateSystemTrustZoneManagers");
  MR_FAIL_IF(ppManagers == nullptr, L"Check parameters", E_INVALIDARG);
  auto managers = std::make_unique<SystemTrustZoneManagers>();
  const HRESULT hr = managers->Create(MR_TRACE_FUNCTION);
  if (SUCCEEDED(hr)) {
    *ppManagers = std::move(managers);
  }
  return hr;
}

HRESULT AddTrustSite(LPCWSTR wszSite, TrustZoneManagers& managers) {
  MR_TRACE("AddTrustSite");
  MR_FAIL_IF(wszSite == nullptr, L"Check parameters", E_INVALIDARG);
  ZONEATTRIBUTES attributes{};
  attributes.cbSize = sizeof attributes;
  HRESULT hr = managers.GetZoneAttributes(URLZONE_TRUSTED, &attributes);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"GetZoneAttributes", L"FAILED(hResult)", hr);
    return hr;
  }
  if ((attributes.dwFlags & ZAFLAGS_REQUIRE_VERIFICATION) == 0) {
    hr = MapSite(managers, wszSite);
    if (FAILED(hr)) {
      MR_LOG_FAIL(L"SetZoneMapping", L"FAILED(hResult)", hr);
    }
    return hr;
  }

  attributes.dwFlags &= ~static_cast<DWORD>(ZAFLAGS_REQUIRE_VERIFICATION);
  hr = managers.SetZoneAttributes(URLZONE_TRUSTED, &attributes);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"SetZoneAttributes", L"FAILED(hResult)", hr);
    return hr;
  }
  const HRESULT mapped = MapSite(managers, wszSite);
  if (FAILED(mapped)) {
    MR_LOG_FAIL(L"SetZoneMapping", L"FAILED(hResult)", mapped);
  }
  // The zone keeps its setting whatever the mapping gave.
  attributes.dwFlags |= ZAFLAGS_REQUIRE_VERIFICATION;
  const HRESULT restored = managers.SetZoneAttributes(URLZONE_TRUSTED, &attributes);
  if (FAILED(restored)) {
    MR_LOG_FAIL(L"SetZoneAttributes", L"FAILED(hResult)", restored);
  }
  return FAILED(mapped) ? mapped : restored;
}

HRESULT AddTrustSite(LPCWSTR wszSite) {
  MR_TRACE("AddTrustSite");
  // Undoes only a successful initialisation: a thread in the multithreaded
  // apartment keeps its COM.
  merro::win::ComScope com;
  std::unique_ptr<TrustZoneManagers> managers;
  const HRESULT hr = CreateSystemTrustZoneManagers(&managers);
  if (FAILED(hr)) {
    return hr;
  }
  return AddTrustSite(wszSite, *managers);
}

void SplitStrings(const std::wstring& text, const std::wstring& separator,
                  std::vector<std::wstring>* pPieces) {
  if (pPieces == nullptr) {
    return;
  }
  size_t pos = 0;
  while (pos <= text.size()) {
    const size_t next = separator.empty() ? std::wstring::npos : text.find(separator, pos);
    const std::wstring piece =
        text.substr(pos, next == std::wstring::npos ? std::wstring::npos : next - pos);
    if (piece.empty()) {
      return;
    }
    pPieces->push_back(piece);
    if (next == std::wstring::npos) {
      return;
    }
    pos = next + separator.size();
  }
}

HRESULT AddTrustSites(HINSTANCE hInstance, LPVOID, UINT uStringId) {
  MR_TRACE("AddTrustSites");
  return ForEachListedSite(MR_TRACE_FUNCTION, hInstance, uStringId,
                           [](LPCWSTR site) { return AddTrustSite(site); });
}

HRESULT AddTrustSites(HINSTANCE hInstance, LPVOID, UINT uStringId, TrustZoneManagers& managers) {
  MR_TRACE("AddTrustSites");
  return ForEachListedSite(MR_TRACE_FUNCTION, hInstance, uStringId,
                           [&managers](LPCWSTR site) { return AddTrustSite(site, managers); });
}
