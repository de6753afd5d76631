// The provider parameters a Container answers: the algorithm table and the
// three enumerations on the device object's shared cursors, the names, the
// fixed values, the key-set security descriptor, the client window and the
// PIN prompt.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "provider/container.h"
#include "tests/provider/support/provider_bench.h"

namespace merro::testing {
namespace {

using merro::provider::Container;

constexpr HRESULT kMoreData = HRESULT_FROM_WIN32(ERROR_MORE_DATA);         // 0x800700EA
constexpr HRESULT kNoMoreItems = HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);  // 0x80070103
constexpr HRESULT kNotEnoughRoom = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);  // 0x80070008

struct AlgRow {
  ALG_ID algId;
  const char* name;
  DWORD defaultLen, minLen, maxLen, protocols;
  const char* longName;
};
const AlgRow kTable[] = {
    {0x6602, "RC2", 128, 40, 128, 0, "RSA Data Security's RC2"},
    {0x6801, "RC4", 128, 40, 128, 0, "RSA Data Security's RC4"},
    {0x6601, "DES", 56, 56, 56, 0, "Data Encryption Standard (DES)"},
    {0x6609, "3DES TWO KEY", 112, 112, 112, 0, "Two Key Triple DES"},
    {0x6603, "3DES", 168, 168, 168, 0, "Three Key Triple DES"},
    {0x8004, "SHA-1", 160, 160, 160, 0x20, "Secure Hash Algorithm (SHA-1)"},
    {0x8001, "MD2", 128, 128, 128, 0x20, "Message Digest 2 (MD2)"},
    {0x8002, "MD4", 128, 128, 128, 0x20, "Message Digest 4 (MD4)"},
    {0x8003, "MD5", 128, 128, 128, 0x20, "Message Digest 5 (MD5)"},
    {0x8008, "SSL3 SHAMD5", 288, 288, 288, 0, "SSL3 SHAMD5"},
    {0x8005, "MAC", 0, 0, 0, 0, "Message Authentication Code"},
    {0x2400, "RSA_SIGN", 1024, 384, 16384, 0x30, "RSA Signature"},
    {0xA400, "RSA_KEYX", 1024, 384, 16384, 0x30, "RSA Key Exchange"},
    {0x8009, "HMAC", 0, 0, 0, 0, "Kavro's MAC (HMAC)"},
};

// A name field as the caller receives it: the text, then zeros to the end.
void ExpectNameField(const char* field, size_t size, DWORD reportedLength, const char* text) {
  EXPECT_EQ(reportedLength, std::strlen(text) + 1) << text;
  EXPECT_STREQ(field, text);
  for (size_t at = std::strlen(text); at < size; ++at) {
    ASSERT_EQ(field[at], 0) << text << " at " << at;
  }
}

class ParamsTest : public ProviderBench {
 protected:
  void SetUp() override {
    ProviderBench::SetUp();
    ASSERT_TRUE(StartTokenLayer());
  }
  // One PROV_ENUMALGS call with a buffer of `room` bytes (0: none).
  HRESULT EnumAlgs(DWORD flags, PROV_ENUMALGS* out, DWORD room = sizeof(PROV_ENUMALGS)) {
    DWORD length = room;
    std::memset(out, 0xCC, sizeof *out);
    const HRESULT hr = Container::EnumAlgorithm(room != 0 ? reinterpret_cast<BYTE*>(out) : nullptr,
                                                &length, flags);
    if (hr == S_OK) {
      EXPECT_EQ(length, 32u);
    }
    return hr;
  }
  // PP_ENUMCONTAINERS the usual way: a size query with CRYPT_FIRST, then the
  // names until the enumeration ends.
  std::vector<std::string> AllContainerNames(DWORD* pSize) {
    std::vector<std::string> names;
    DWORD size = 0;
    if (Container::EnumContainerName(nullptr, &size, CRYPT_FIRST) != S_OK) {
      return names;
    }
    *pSize = size;
    std::vector<BYTE> buffer(size);
    DWORD flags = CRYPT_FIRST;
    for (;;) {
      DWORD length = size;
      const HRESULT hr = Container::EnumContainerName(buffer.data(), &length, flags);
      if (hr != S_OK) {
        EXPECT_EQ(hr, kNoMoreItems);
        break;
      }
      EXPECT_EQ(length, size);
      names.emplace_back(reinterpret_cast<const char*>(buffer.data()));
      flags = 0;
    }
    return names;
  }
};

TEST_F(ParamsTest, TheAlgorithmTableInBothForms) {
  // A fresh device object's cursors stand before the first row: a first call
  // without CRYPT_FIRST moves on to the second.
  PROV_ENUMALGS row = {};
  ASSERT_EQ(EnumAlgs(0, &row), S_OK);
  EXPECT_STREQ(row.szName, "RC4");

  for (size_t i = 0; i < std::size(kTable); ++i) {
    const AlgRow& expected = kTable[i];
    SCOPED_TRACE(expected.name);
    const DWORD flags = i == 0 ? CRYPT_FIRST : 0;
    ASSERT_EQ(EnumAlgs(flags, &row), S_OK);
    EXPECT_EQ(row.aiAlgid, expected.algId);
    EXPECT_EQ(row.dwBitLen, expected.defaultLen);
    ExpectNameField(row.szName, sizeof row.szName, row.dwNameLen, expected.name);

    PROV_ENUMALGS_EX ex;
    std::memset(&ex, 0xCC, sizeof ex);
    DWORD length = sizeof ex;
    ASSERT_EQ(Container::EnumAlgorithmEx(reinterpret_cast<BYTE*>(&ex), &length, flags), S_OK);
    EXPECT_EQ(length, 88u);
    EXPECT_EQ(ex.aiAlgid, expected.algId);
    EXPECT_EQ(ex.dwDefaultLen, expected.defaultLen);
    EXPECT_EQ(ex.dwMinLen, expected.minLen);
    EXPECT_EQ(ex.dwMaxLen, expected.maxLen);
    EXPECT_EQ(ex.dwProtocols, expected.protocols);
    ExpectNameField(ex.szName, sizeof ex.szName, ex.dwNameLen, expected.name);
    ExpectNameField(ex.szLongName, sizeof ex.szLongName, ex.dwLongNameLen, expected.longName);
  }
  // Past the last row: no more items, call after call, until CRYPT_FIRST.
  for (int extra = 0; extra < 3; ++extra) {
    EXPECT_EQ(EnumAlgs(0, &row), kNoMoreItems);
    DWORD length = 88;
    PROV_ENUMALGS_EX ex = {};
    EXPECT_EQ(Container::EnumAlgorithmEx(reinterpret_cast<BYTE*>(&ex), &length, 0), kNoMoreItems);
  }
  ASSERT_EQ(EnumAlgs(CRYPT_FIRST, &row), S_OK);
  EXPECT_STREQ(row.szName, "RC2");
}

TEST_F(ParamsTest, AShortBufferKeepsTheCursorAndASizeQueryMovesIt) {
  PROV_ENUMALGS row = {};
  ASSERT_EQ(EnumAlgs(CRYPT_FIRST, &row), S_OK);  // RC2
  DWORD length = 31;
  EXPECT_EQ(Container::EnumAlgorithm(reinterpret_cast<BYTE*>(&row), &length, 0), kMoreData);
  EXPECT_EQ(length, 31u);
  ASSERT_EQ(EnumAlgs(0, &row), S_OK);
  EXPECT_STREQ(row.szName, "RC4");  // not skipped by the short buffer
  length = 0;
  EXPECT_EQ(Container::EnumAlgorithm(nullptr, &length, 0), S_OK);  // DES, not given
  EXPECT_EQ(length, 32u);
  ASSERT_EQ(EnumAlgs(0, &row), S_OK);
  EXPECT_STREQ(row.szName, "3DES TWO KEY");

  length = 87;
  PROV_ENUMALGS_EX ex = {};
  EXPECT_EQ(Container::EnumAlgorithmEx(reinterpret_cast<BYTE*>(&ex), &length, CRYPT_FIRST),
            kMoreData);
}

// The cursors grow with every call past the end; at the top of their range
// they stop instead of wrapping to a negative row.
TEST_F(ParamsTest, TheCursorsStopAtTheTopOfTheirRange) {
  PROV_ENUMALGS row = {};
  g_pDeviceHandle->m_nCurrentEnumAlgIndex = INT_MAX - 1;
  g_pDeviceHandle->m_nCurrentEnumAlgExIndex = INT_MAX;
  for (int call = 0; call < 3; ++call) {
    EXPECT_EQ(EnumAlgs(0, &row), kNoMoreItems);
    DWORD length = 0;
    EXPECT_EQ(Container::EnumAlgorithmEx(nullptr, &length, 0), kNoMoreItems);
  }
  EXPECT_EQ(g_pDeviceHandle->m_nCurrentEnumAlgIndex, INT_MAX);
  EXPECT_EQ(g_pDeviceHandle->m_nCurrentEnumAlgExIndex, INT_MAX);
  ASSERT_EQ(EnumAlgs(CRYPT_FIRST, &row), S_OK);
  EXPECT_STREQ(row.szName, "RC2");

  // The container cursor cannot run past its list either, whatever it holds.
  g_pDeviceHandle->m_nCurrentEnumContainerIndex = INT_MAX;
  DWORD length = 0;
  EXPECT_EQ(Container::EnumContainerName(nullptr, &length, 0), kNoMoreItems);
  g_pDeviceHandle->m_nCurrentEnumContainerIndex = INT_MIN;
  EXPECT_EQ(Container::EnumContainerName(nullptr, &length, 0), kNoMoreItems);
}

TEST_F(ParamsTest, ContainerNamesComeInListOrderWithRoomForTheLongest) {
  // No containers on any token: nothing to start with.
  DWORD size = 0;
  EXPECT_EQ(Container::EnumContainerName(nullptr, &size, CRYPT_FIRST), kNoMoreItems);

  StopTokenLayer();
  ASSERT_TRUE(DeviceBench::CreateContainers(0, {"a", "eleven-char"}));
  ASSERT_TRUE(StartTokenLayer());
  EXPECT_EQ(AllContainerNames(&size), (std::vector<std::string>{"a", "eleven-char"}));
  EXPECT_EQ(size, 12u);

  // A buffer that cannot hold the name: refused, the length kept, the
  // cursor moved all the same.
  BYTE small[11] = {};
  DWORD length = sizeof small;
  EXPECT_EQ(Container::EnumContainerName(small, &length, CRYPT_FIRST), S_OK);
  EXPECT_STREQ(reinterpret_cast<char*>(small), "a");
  length = sizeof small;
  EXPECT_EQ(Container::EnumContainerName(small, &length, 0), kNotEnoughRoom);
  EXPECT_EQ(length, sizeof small);
  EXPECT_EQ(Container::EnumContainerName(nullptr, &length, 0), kNoMoreItems);
}

// A name that fills the record's 64-byte field has no terminator there: it
// is read as 64 characters, and handed out with a terminator.
TEST_F(ParamsTest, AFullNameFieldGivesSixtyFourCharactersAndATerminator) {
  StopTokenLayer();
  const std::string full(64, 'F');
  ASSERT_TRUE(DeviceBench::CreateContainers(0, {full, "b"}));
  ASSERT_TRUE(StartTokenLayer());
  DWORD size = 0;
  EXPECT_EQ(AllContainerNames(&size), (std::vector<std::string>{full, "b"}));
  EXPECT_EQ(size, 65u);
  std::vector<BYTE> buffer(80, 0xEE);
  DWORD length = 80;
  ASSERT_EQ(Container::EnumContainerName(buffer.data(), &length, CRYPT_FIRST), S_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()), 64), full);
  EXPECT_EQ(buffer[64], 0);
  EXPECT_EQ(buffer[65], 0xEE);
  length = 64;
  EXPECT_EQ(Container::EnumContainerName(buffer.data(), &length, CRYPT_FIRST), kNotEnoughRoom);
}

TEST_F(ParamsTest, FixedValuesAndTheirLengths) {
  Container user("dev", "name", TRUE, FALSE, TRUE, FALSE);
  Container machine("dev", "name", TRUE, TRUE, TRUE, FALSE);
  struct Case {
    const char* what;
    std::function<void(BYTE*, DWORD*)> get;
    DWORD expected;
  } const cases[] = {
      {"implementation type", Container::GetImplementType, CRYPT_IMPL_HARDWARE},
      {"version", Container::GetCSPVersion, 0x300},
      {"key specifications", Container::GetKeySpec, AT_KEYEXCHANGE | AT_SIGNATURE},
      {"keys to range", Container::GetKeysToRage, 1},
      {"user key set", [&](BYTE* p, DWORD* n) { user.GetComputerKeySet(p, n); }, 0},
      {"machine key set", [&](BYTE* p, DWORD* n) { machine.GetComputerKeySet(p, n); },
       CRYPT_MACHINE_KEYSET},
      {"provider type",
       [](BYTE* p, DWORD* n) { EXPECT_EQ(Container::GetProviderType(p, n), S_OK); },
       PROV_RSA_FULL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BYTE buffer[8];
    std::memset(buffer, 0xCC, sizeof buffer);
    DWORD length = sizeof buffer;
    c.get(buffer + 1, &length);  // an unaligned buffer
    EXPECT_EQ(length, 4u);
    DWORD value = 0;
    std::memcpy(&value, buffer + 1, 4);
    EXPECT_EQ(value, c.expected);
    EXPECT_EQ(buffer[5], 0xCC);
    length = 0;
    c.get(nullptr, &length);
    EXPECT_EQ(length, 4u);
  }
  // Too short: nothing written; only the provider type says so.
  BYTE three[3] = {0xCC, 0xCC, 0xCC};
  DWORD length = 3;
  Container::GetCSPVersion(three, &length);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(three[0], 0xCC);
  length = 3;
  EXPECT_EQ(Container::GetProviderType(three, &length), kMoreData);
  EXPECT_EQ(three[0], 0xCC);
}

TEST_F(ParamsTest, TheSecurityDescriptorGrantsEveryone) {
  DWORD length = 0;
  ASSERT_EQ(Container::GetKeysetSecurityDescriptor(nullptr, &length), S_OK);
  EXPECT_EQ(length, sizeof(SECURITY_DESCRIPTOR));
  EXPECT_EQ(length, 40u);
  std::vector<BYTE> buffer(length + 1, 0xCC);
  length = 39;
  EXPECT_EQ(Container::GetKeysetSecurityDescriptor(buffer.data(), &length), kMoreData);
  EXPECT_EQ(buffer[0], 0xCC);

  length = 40;
  ASSERT_EQ(Container::GetKeysetSecurityDescriptor(buffer.data() + 1, &length), S_OK);
  alignas(SECURITY_DESCRIPTOR) BYTE aligned[sizeof(SECURITY_DESCRIPTOR)];
  std::memcpy(aligned, buffer.data() + 1, sizeof aligned);
  auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(aligned);
  EXPECT_TRUE(::IsValidSecurityDescriptor(descriptor));
  BOOL present = FALSE, defaulted = TRUE;
  PACL dacl = reinterpret_cast<PACL>(1);
  ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_EQ(dacl, nullptr);  // no DACL: everyone has access
  EXPECT_FALSE(defaulted);
}

// Lengths count what is written: the UTF-8 bytes of the provider name,
// which outside ASCII are more than its UTF-16 characters.
TEST_F(ParamsTest, NamesAreSizedByTheBytesWritten) {
  StopTokenLayer();
  const std::wstring name = L"Merro \u6d4b\u8bd5 " + std::to_wstring(::GetCurrentProcessId());
  m_settings.pwszProviderName = name.c_str();
  ASSERT_TRUE(StartTokenLayer());
  std::string utf8 = "Merro \xE6\xB5\x8B\xE8\xAF\x95 " + std::to_string(::GetCurrentProcessId());

  DWORD length = 0;
  Container::GetCSPName(nullptr, &length);
  EXPECT_EQ(length, utf8.size() + 1);
  std::vector<BYTE> buffer(utf8.size() + 8, 0xCC);
  length = static_cast<DWORD>(name.size() + 1);  // characters, not bytes: too short
  Container::GetCSPName(buffer.data(), &length);
  EXPECT_EQ(length, utf8.size() + 1);
  EXPECT_EQ(buffer[0], 0xCC);
  length = static_cast<DWORD>(utf8.size() + 1);
  Container::GetCSPName(buffer.data(), &length);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data())), utf8);
  EXPECT_EQ(buffer[utf8.size() + 1], 0xCC);

  Container c("\\\\?\\token", "a container", TRUE, FALSE, TRUE, FALSE);
  struct Case {
    void (Container::*get)(BYTE*, DWORD*) const;
    std::string text;
  } const cases[] = {{&Container::GetContainerName, "a container"},
                     {&Container::GetDeviceName, "\\\\?\\token"}};
  for (const Case& k : cases) {
    length = 0;
    (c.*k.get)(nullptr, &length);
    EXPECT_EQ(length, k.text.size() + 1);
    std::vector<BYTE> out(k.text.size() + 1, 0xCC);
    length = static_cast<DWORD>(k.text.size());
    (c.*k.get)(out.data(), &length);
    EXPECT_EQ(out[0], 0xCC) << k.text;
    length = static_cast<DWORD>(out.size());
    (c.*k.get)(out.data(), &length);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data())), k.text);
  }
  // Names over the field are cut to 259 bytes with a terminator.
  const std::string longName(300, 'x');
  Container cut(longName.c_str(), longName.c_str(), TRUE, FALSE, TRUE, FALSE);
  length = 0;
  cut.GetContainerName(nullptr, &length);
  EXPECT_EQ(length, 260u);
}

TEST_F(ParamsTest, TheClientWindowAndThePromptBelongToTheContainer) {
  Container c("dev", "name", TRUE, FALSE, TRUE, FALSE);
  EXPECT_EQ(c.SetClientWindow(reinterpret_cast<HWND>(0x1234)), S_OK);
  EXPECT_EQ(c.GetOwnerWindow(), nullptr);
  HWND window = ::CreateWindowExW(0, L"STATIC", L"owner", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(c.SetClientWindow(window), S_OK);
  EXPECT_EQ(c.GetOwnerWindow(), window);
  ::DestroyWindow(window);
  EXPECT_EQ(c.GetOwnerWindow(), nullptr);

  wchar_t* prompt = nullptr;
  DWORD promptLength = 77;
  c.GetCustomPinPrompt(&prompt, &promptLength);
  EXPECT_EQ(prompt, nullptr);
  EXPECT_EQ(promptLength, 77u);
  EXPECT_EQ(c.SetPINPromptString(L"Enter the PIN of the bank key"), S_OK);
  EXPECT_EQ(c.SetPINPromptString(nullptr), S_OK);  // ignored
  c.GetCustomPinPrompt(&prompt, &promptLength);
  ASSERT_NE(prompt, nullptr);
  EXPECT_STREQ(prompt, L"Enter the PIN of the bank key");
  EXPECT_EQ(promptLength, 29u);
  delete[] prompt;
}

TEST_F(ParamsTest, EnumerationsNeedTheDeviceObject) {
  StopTokenLayer();
  DWORD length = 0;
  EXPECT_EQ(Container::EnumAlgorithm(nullptr, &length, CRYPT_FIRST), NTE_BAD_KEYSET);
  EXPECT_EQ(Container::EnumAlgorithmEx(nullptr, &length, CRYPT_FIRST), NTE_BAD_KEYSET);
  EXPECT_EQ(Container::EnumContainerName(nullptr, &length, CRYPT_FIRST), NTE_BAD_KEYSET);
  // The name is the product's own then.
  Container::GetCSPName(nullptr, &length);
  EXPECT_EQ(length, std::wcslen(MR_PROVIDER_NAME) + 1);
}

}  // namespace
}  // namespace merro::testing
