// Adding web sites to the current user's trusted-sites zone (zone 2) through
// the system's Internet security and zone managers.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The calls of the two managers that adding a site needs; the system's
// managers stand behind it, or a fake in tests.
class TrustZoneManagers {
 public:
  virtual ~TrustZoneManagers() = default;
  virtual HRESULT GetZoneAttributes(DWORD dwZone, ZONEATTRIBUTES* pAttributes) = 0;
  virtual HRESULT SetZoneAttributes(DWORD dwZone, ZONEATTRIBUTES* pAttributes) = 0;
  virtual HRESULT SetZoneMapping(DWORD dwZone, LPCWSTR wszPattern, DWORD dwFlags) = 0;
};

// The system's managers (in-process COM servers); the thread must have COM.
HRESULT CreateSystemTrustZoneManagers(std::unique_ptr<TrustZoneManagers>* ppManagers);

// Maps the site (a pattern the security manager accepts, e.g.
// "https://*.bank.example") into the trusted zone. When the zone requires
// server verification, the requirement is lifted for the mapping and set
// again afterwards, whatever the mapping gave. An existing mapping
// (0x80070050) counts as success.
HRESULT AddTrustSite(LPCWSTR wszSite, TrustZoneManagers& managers);
// The same with the system's managers, COM initialised for the call.
HRESULT AddTrustSite(LPCWSTR wszSite);

// Appends to *pPieces the pieces of the text between separators, from the
// start; the first empty piece (two separators in a row, a separator at the
// start, an empty text) ends the splitting.
void SplitStrings(const std::wstring& text, const std::wstring& separator,
                  std::vector<std::wstring>* pPieces);

// Adds every site of the "|"-separated list in string-table entry uStringId
// of hInstance (at most 1023 characters), in order; the first failure ends
// it. The second argument is not used.
HRESULT AddTrustSites(HINSTANCE hInstance, LPVOID pReserved, UINT uStringId);
// The same with the given managers for every site.
HRESULT AddTrustSites(HINSTANCE hInstance, LPVOID pReserved, UINT uStringId,
                      TrustZoneManagers& managers);
