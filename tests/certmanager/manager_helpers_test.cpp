// Device-interface names, the file version, and the trusted-sites helper
// (with a fake pair of managers, and once with Wine's own).
#include <gtest/gtest.h>

#include <thread>

#include "certmanager/MerroCommonFiles/device_interface_name.h"
#include "certmanager/MerroCommonFiles/file_version.h"
#include "certmanager/MerroCommonFiles/trust_site.h"

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kMappingExists = static_cast<HRESULT>(0x80070050);

TEST(DeviceInterfaceName, VendorAndProductIds) {
  const struct {
    const wchar_t* name;
    HRESULT result;
    const wchar_t* pid;
    const wchar_t* vid;
  } cases[] = {
      {L"\\\\?\\USB#VID_2F3D&PID_0301#0123#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", S_OK, L"0301",
       L"2F3D"},
      {L"\\\\?\\usb#vid_2f3d&pid_0301#0123#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", S_OK, L"0301",
       L"2f3d"},
      {L"\\\\?\\USB#Pid_0301&Vid_2F3D#0", S_OK, L"0301", L"2F3D"},
      {L"\\\\?\\USB#VID_2F3D&PID_0301", kBadArgument, nullptr, nullptr},  // 4 after PID_
      {L"\\\\?\\USB#PID_0301&VID_2F3D", kBadArgument, nullptr, nullptr},  // 4 after VID_
      {L"\\\\?\\USB#VID_2F3D#0123", kBadArgument, nullptr, nullptr},      // no PID_
      {L"\\\\?\\HID#0123", kBadArgument, nullptr, nullptr},
      {L"", kBadArgument, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<const void*>(c.name));
    std::wstring pid = L"x";
    std::wstring vid = L"y";
    EXPECT_EQ(GetVidAndPidFromDBCCName(c.name, &pid, &vid), c.result);
    if (c.result == S_OK) {
      EXPECT_EQ(pid, c.pid);
      EXPECT_EQ(vid, c.vid);
    } else {
      EXPECT_EQ(pid, L"x");
      EXPECT_EQ(vid, L"y");
    }
  }
  std::wstring id;
  EXPECT_EQ(GetVidAndPidFromDBCCName(nullptr, &id, &id), kBadArgument);
  EXPECT_EQ(GetVidAndPidFromDBCCName(L"VID_2F3D&PID_0301#", nullptr, &id), kBadArgument);
}

std::wstring SelfPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

TEST(FileVersion, ReadsTheFileVersionText) {
  wchar_t text[128] = {};
  ASSERT_EQ(ReadFileVersion(SelfPath().c_str(), text, 128), S_OK);
  EXPECT_STREQ(text, L"4.3.2.1 (test)");
  wchar_t shortText[4] = {};
  ASSERT_EQ(ReadFileVersion(SelfPath().c_str(), shortText, 4), S_OK);
  EXPECT_STREQ(shortText, L"4.3");

  wchar_t untouched[8] = L"keep";
  EXPECT_TRUE(FAILED(ReadFileVersion(L"C:\\no\\such\\file.exe", untouched, 8)));
  EXPECT_STREQ(untouched, L"keep");
  EXPECT_EQ(ReadFileVersion(SelfPath().c_str(), untouched, 0), kBadArgument);
  EXPECT_EQ(ReadFileVersion(nullptr, untouched, 8), kBadArgument);
}

TEST(TrustSite, SplitStrings) {
  const struct {
    const wchar_t* text;
    std::vector<std::wstring> pieces;
  } cases[] = {
      {L"a|b|c", {L"a", L"b", L"c"}},
      {L"a||b", {L"a"}},
      {L"|a", {}},
      {L"a|", {L"a"}},
      {L"", {}},
      {L"https://a.example", {L"https://a.example"}},
  };
  for (const auto& c : cases) {
    std::vector<std::wstring> pieces{L"kept"};
    SplitStrings(c.text, L"|", &pieces);
    std::vector<std::wstring> expected{L"kept"};
    expected.insert(expected.end(), c.pieces.begin(), c.pieces.end());
    EXPECT_EQ(pieces, expected);
  }
  std::vector<std::wstring> pieces;
  SplitStrings(L"a::b:c", L"::", &pieces);
  EXPECT_EQ(pieces, (std::vector<std::wstring>{L"a", L"b:c"}));
}

// Records the calls; answers as configured.
class FakeManagers : public TrustZoneManagers {
 public:
  DWORD flags = 0;
  HRESULT getResult = S_OK;
  std::vector<HRESULT> setResults;  // per SetZoneAttributes call; S_OK when used up
  HRESULT mapResult = S_OK;
  std::vector<std::wstring> calls;

  HRESULT GetZoneAttributes(DWORD zone, ZONEATTRIBUTES* attributes) override {
    calls.push_back(L"get " + std::to_wstring(zone));
    attributes->dwFlags = flags;
    return getResult;
  }
  HRESULT SetZoneAttributes(DWORD zone, ZONEATTRIBUTES* attributes) override {
    calls.push_back(L"set " + std::to_wstring(zone) + L" " + std::to_wstring(attributes->dwFlags));
    HRESULT hr = S_OK;
    if (!setResults.empty()) {
      hr = setResults.front();
      setResults.erase(setResults.begin());
    }
    if (SUCCEEDED(hr)) {
      flags = attributes->dwFlags;
    }
    return hr;
  }
  HRESULT SetZoneMapping(DWORD zone, LPCWSTR pattern, DWORD mode) override {
    calls.push_back(L"map " + std::to_wstring(zone) + L" " + pattern + L" " + std::to_wstring(mode));
    return mapResult;
  }
};

TEST(TrustSite, AddTrustSiteSteps) {
  const std::wstring site = L"https://*.bank.example";
  const std::wstring map = L"map 2 " + site + L" " + std::to_wstring(SZM_CREATE);
  const DWORD verify = ZAFLAGS_REQUIRE_VERIFICATION;
  const DWORD other = 0x43;  // flags that stay as they are
  const struct Case {
    const char* what;
    DWORD flags;
    HRESULT getResult;
    std::vector<HRESULT> setResults;
    HRESULT mapResult;
    HRESULT result;
    std::vector<std::wstring> calls;
    DWORD flagsAfter;
  } cases[] = {
      {"no verification required: mapped directly", other, S_OK, {}, S_OK, S_OK,
       {L"get 2", map}, other},
      {"an existing mapping counts as success", other, S_OK, {}, kMappingExists, S_OK,
       {L"get 2", map}, other},
      {"verification lifted for the mapping and required again", other | verify, S_OK, {}, S_OK,
       S_OK, {L"get 2", L"set 2 67", map, L"set 2 71"}, other | verify},
      {"a failed mapping still requires verification again", other | verify, S_OK, {}, E_NOTIMPL,
       E_NOTIMPL, {L"get 2", L"set 2 67", map, L"set 2 71"}, other | verify},
      {"a failed restore is reported", other | verify, S_OK, {S_OK, E_ACCESSDENIED}, S_OK,
       E_ACCESSDENIED, {L"get 2", L"set 2 67", map, L"set 2 71"}, other},
      {"the zone cannot be read", other, E_FAIL, {}, S_OK, E_FAIL, {L"get 2"}, other},
      {"verification cannot be lifted: nothing mapped", other | verify, S_OK, {E_ACCESSDENIED},
       S_OK, E_ACCESSDENIED, {L"get 2", L"set 2 67"}, other | verify},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeManagers fake;
    fake.flags = c.flags;
    fake.getResult = c.getResult;
    fake.setResults = c.setResults;
    fake.mapResult = c.mapResult;
    EXPECT_EQ(AddTrustSite(site.c_str(), fake), c.result);
    EXPECT_EQ(fake.calls, c.calls);
    EXPECT_EQ(fake.flags, c.flagsAfter);
  }
  FakeManagers fake;
  EXPECT_EQ(AddTrustSite(nullptr, fake), kBadArgument);
  EXPECT_TRUE(fake.calls.empty());
}

TEST(TrustSite, AddTrustSitesFromAStringTable) {
  const HINSTANCE self = ::GetModuleHandleW(nullptr);
  const auto maps = [](const FakeManagers& fake) {
    std::vector<std::wstring> out;
    for (const std::wstring& call : fake.calls) {
      if (call.rfind(L"map ", 0) == 0) {
        out.push_back(call.substr(6, call.rfind(L' ') - 6));
      }
    }
    return out;
  };
  FakeManagers three;
  ASSERT_EQ(AddTrustSites(self, nullptr, 60001, three), S_OK);
  EXPECT_EQ(maps(three), (std::vector<std::wstring>{L"https://a.bank.example",
                                                    L"https://b.bank.example",
                                                    L"https://c.bank.example"}));
  FakeManagers doubled;
  ASSERT_EQ(AddTrustSites(self, nullptr, 60002, doubled), S_OK);
  EXPECT_EQ(maps(doubled), std::vector<std::wstring>{L"https://a.bank.example"});
  FakeManagers trailing;
  ASSERT_EQ(AddTrustSites(self, nullptr, 60003, trailing), S_OK);
  EXPECT_EQ(maps(trailing), std::vector<std::wstring>{L"https://a.bank.example"});

  FakeManagers failing;
  failing.mapResult = E_FAIL;
  EXPECT_EQ(AddTrustSites(self, nullptr, 60001, failing), E_FAIL);
  EXPECT_EQ(maps(failing).size(), 1u);  // the first failure ends it

  FakeManagers missing;
  const HRESULT hr = AddTrustSites(self, nullptr, 60099, missing);
  EXPECT_TRUE(maps(missing).empty());
  EXPECT_TRUE(hr == S_OK || (hr & 0xFFFF0000) == 0x80070000) << std::hex << hr;
}

DWORD TrustedZoneFlags() {
  std::unique_ptr<TrustZoneManagers> managers;
  EXPECT_EQ(CreateSystemTrustZoneManagers(&managers), S_OK);
  ZONEATTRIBUTES attributes{};
  attributes.cbSize = sizeof attributes;
  EXPECT_EQ(managers->GetZoneAttributes(URLZONE_TRUSTED, &attributes), S_OK);
  return attributes.dwFlags;
}

void SetTrustedZoneFlags(DWORD flags) {
  std::unique_ptr<TrustZoneManagers> managers;
  ASSERT_EQ(CreateSystemTrustZoneManagers(&managers), S_OK);
  ZONEATTRIBUTES attributes{};
  attributes.cbSize = sizeof attributes;
  ASSERT_EQ(managers->GetZoneAttributes(URLZONE_TRUSTED, &attributes), S_OK);
  attributes.dwFlags = flags;
  ASSERT_EQ(managers->SetZoneAttributes(URLZONE_TRUSTED, &attributes), S_OK);
}

// Wine's security manager cannot map sites (E_NOTIMPL); a zone that required
// server verification still requires it afterwards, one that did not still
// does not.
TEST(TrustSite, WithTheSystemManagersTheZoneKeepsItsSetting) {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  const DWORD original = TrustedZoneFlags();
  SetTrustedZoneFlags(original | ZAFLAGS_REQUIRE_VERIFICATION);
  EXPECT_EQ(AddTrustSite(L"https://*.bank.example"), E_NOTIMPL);
  EXPECT_NE(TrustedZoneFlags() & ZAFLAGS_REQUIRE_VERIFICATION, 0u);
  SetTrustedZoneFlags(original & ~static_cast<DWORD>(ZAFLAGS_REQUIRE_VERIFICATION));
  EXPECT_EQ(AddTrustSite(L"https://*.bank.example"), E_NOTIMPL);
  EXPECT_EQ(TrustedZoneFlags() & ZAFLAGS_REQUIRE_VERIFICATION, 0u);
  SetTrustedZoneFlags(original);
  ::CoUninitialize();
}

// A thread in the multithreaded apartment cannot take CoInitialize's
// apartment; the call must leave that thread's COM as it was.
TEST(TrustSite, AThreadKeepsItsMultithreadedApartment) {
  std::thread worker([] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(AddTrustSite(L"https://*.bank.example"), E_NOTIMPL);
    EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE)
        << "the thread's COM was uninitialised";
    ::CoUninitialize();
    ::CoUninitialize();
  });
  worker.join();
}

}  // namespace
