// The shipping merrocsp.dll through advapi32, registered in a prefix of its
// own, in an environment that offers it every switch of the test builds: a
// simulator with a prepared token (MERRO_TOKEN_SIM), a start failure on
// demand (MERRO_CSP_START_FAILURE) and a trace file (MERRO_TRACE). It obeys
// none of them: it finds no token, refuses promptly with its "no token" code
// and no dialog, sends the simulated token nothing and writes no trace.
// Its resources and version information are those of the test build.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/csp/cryptoapi_fixture.h"
#include "tests/support/ui/window_robot.h"

namespace {

using merro::testing::DeviceBench;
using merro::testing::Outcome;
using merro::testing::csp::AcquireWithin;
using merro::testing::csp::Provider;

class ShippingProvider : public ::testing::Test {
 protected:
  void SetUp() override {
    // The environment is as tempting as a test build could want.
    ASSERT_NE(std::getenv("MERRO_CSP_START_FAILURE"), nullptr);
    const char* trace = std::getenv("MERRO_TRACE");
    ASSERT_NE(trace, nullptr);
    m_trace = trace;
    std::remove(m_trace.c_str());
    ASSERT_TRUE(DeviceBench::Prepare(0));
    ASSERT_EQ(DeviceBench::ListedNames().size(), 1u) << "the simulator's token is listed here";
    DeviceBench::CommandLog(0, /*clear=*/true);
  }

  std::string m_trace;
};

TEST_F(ShippingProvider, AcquiresFailPromptlyWithTheNoTokenCode) {
  struct Case {
    const char* name;
    DWORD flags;
  } const cases[] = {
      {nullptr, CRYPT_VERIFYCONTEXT},
      {nullptr, CRYPT_VERIFYCONTEXT | CRYPT_SILENT},
      {"merro-shipping", 0},
      {"merro-shipping", CRYPT_VERIFYCONTEXT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name != nullptr ? c.name : "(none)") + " flags " +
                 std::to_string(c.flags));
    Provider p;
    // A dialog would stop the call: the bound fails the test instead.
    const Outcome o = AcquireWithin(std::chrono::seconds(60), &p, c.name, c.flags);
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.error, static_cast<DWORD>(NTE_NO_KEY)) << std::hex << o.error;
    EXPECT_EQ(p.h, 0u);
  }
  EXPECT_TRUE(DeviceBench::CommandLog(0).empty()) << "the simulated token was reached";
  FILE* trace = std::fopen(m_trace.c_str(), "r");
  EXPECT_EQ(trace, nullptr) << "a trace file was written";
  if (trace != nullptr) {
    std::fclose(trace);
  }
}

// Every resource of a module (type, name and language) with its bytes.
std::map<std::wstring, std::string> ResourcesOf(const std::wstring& path) {
  std::map<std::wstring, std::string> resources;
  HMODULE module =
      ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) {
    ADD_FAILURE() << "cannot load " << merro::test::Utf8(path) << ": " << ::GetLastError();
    return resources;
  }
  struct Walk {
    HMODULE module;
    std::map<std::wstring, std::string>* out;
    static std::wstring Id(LPCWSTR id) {
      return IS_INTRESOURCE(id) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(id))
                                : std::wstring(id);
    }
    static BOOL CALLBACK Language(HMODULE m, LPCWSTR type, LPCWSTR name, WORD lang, LONG_PTR p) {
      auto* walk = reinterpret_cast<Walk*>(p);
      HRSRC found = ::FindResourceExW(m, type, name, lang);
      HGLOBAL loaded = found != nullptr ? ::LoadResource(m, found) : nullptr;
      const char* bytes = loaded != nullptr ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
      (*walk->out)[Id(type) + L"/" + Id(name) + L"/" + std::to_wstring(lang)] =
          bytes != nullptr ? std::string(bytes, ::SizeofResource(m, found)) : std::string();
      return TRUE;
    }
    static BOOL CALLBACK Name(HMODULE m, LPCWSTR type, LPWSTR name, LONG_PTR p) {
      ::EnumResourceLanguagesW(m, type, name, &Language, p);
      return TRUE;
    }
    static BOOL CALLBACK Type(HMODULE m, LPWSTR type, LONG_PTR p) {
      ::EnumResourceNamesW(m, type, &Name, p);
      return TRUE;
    }
  } walk{module, &resources};
  ::EnumResourceTypesW(module, &Walk::Type, reinterpret_cast<LONG_PTR>(&walk));
  ::FreeLibrary(module);
  return resources;
}

// The shipping tree builds the same resource scripts: dialogs, string
// tables in the three languages, pictures and the version information.
TEST(ShippingResources, AreThoseOfTheTestBuild) {
  for (const char* pair : {"CSP", "CERTMANAGER"}) {
    SCOPED_TRACE(pair);
    const std::wstring shipping =
        merro::test::PathFromEnvironment((std::string("MERRO_SHIPPING_") + pair).c_str());
    const std::wstring test =
        merro::test::PathFromEnvironment((std::string("MERRO_TEST_") + pair).c_str());
    ASSERT_FALSE(shipping.empty());
    ASSERT_FALSE(test.empty());
    const std::map<std::wstring, std::string> expected = ResourcesOf(test);
    const std::map<std::wstring, std::string> actual = ResourcesOf(shipping);
    EXPECT_FALSE(expected.empty());
    std::vector<std::string> differing;
    for (const auto& [key, bytes] : expected) {
      const auto it = actual.find(key);
      if (it == actual.end() || it->second != bytes) {
        differing.push_back(merro::test::Utf8(key));
      }
    }
    EXPECT_TRUE(differing.empty()) << differing.size() << " differ, first " << differing.front();
    EXPECT_EQ(actual.size(), expected.size());
  }
}

}  // namespace
