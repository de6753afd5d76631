// The key functions of the provider core called directly, on containers and
// key objects made in this process without a token layer: their check
// tables, the parameters of session keys, the copy of a key, and the public
// key blob.
#include <gtest/gtest.h>

#include <windows.h>

#include <wincrypt.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "csp/core_trace.h"
#include "csp/cp_core.h"
#include "csp/public_key_blob.h"
#include "csp/registries.h"
#include "foundation/alg_ids.h"
#include "provider/container.h"
#include "provider/key_handle.h"
#include "tests/support/captured_trace.h"

namespace {

using merro::provider::Container;
using merro::provider::KeyHandle;
using merro::testing::CapturedTrace;
using merro::testing::Utf16Text;
using merro::trace::Deliverable;
using Bytes = std::vector<BYTE>;

constexpr DWORD kNoSuchHandle = 0x12340;
constexpr DWORD Code(HRESULT hr) { return static_cast<DWORD>(hr); }

struct Result {
  BOOL ok;
  DWORD error;
};

Result Call(const std::function<BOOL()>& call) {
  ::SetLastError(0xdeadbeef);
  const BOOL ok = call();
  return {ok, ::GetLastError()};
}

std::vector<std::string> CoreLines(const CapturedTrace& t) {
  std::vector<std::string> lines;
  for (const auto& r : t.records) {
    if (r.number == merro::trace::kMsgCoreStepLine) {
      lines.push_back(Utf16Text(r.args.at(0)));
    }
  }
  return lines;
}

// Two provider handles on containers no token holds (the token layer is not
// started), one of them acquired silently, and key objects registered under
// the first.
class CoreKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    m_hProv = merro::csp::AddProvHandle(
        std::make_unique<Container>("dev", "c1", TRUE, FALSE, TRUE, FALSE));
    m_hSilent = merro::csp::AddProvHandle(
        std::make_unique<Container>("dev", "c2", FALSE, FALSE, TRUE, FALSE));
  }
  void TearDown() override {
    merro::csp::RemoveProvHandleWithItsObjects(m_hProv);
    merro::csp::RemoveProvHandleWithItsObjects(m_hSilent);
  }

  Container* Of(HCRYPTPROV hProv) { return merro::csp::g_vtrProvHandleSet.Lookup(hProv); }

  // A session key of the algorithm with these key bytes (none: zeros).
  HCRYPTKEY SessionKey(ALG_ID uAlgID, const Bytes& key = {}) {
    auto spKey = std::make_unique<KeyHandle>();
    EXPECT_EQ(spKey->InitKeyHandle(uAlgID, 0), S_OK);
    EXPECT_TRUE(key.empty() || key.size() == spKey->m_stSymKey.cbData);
    if (!key.empty()) {
      std::memcpy(spKey->m_stSymKey.pbData, key.data(), key.size());
    }
    spKey->m_pContainer = Of(m_hProv);
    return merro::csp::AddKeyHandle(std::move(spKey));
  }
  // A container key as CPGetUserKey makes it.
  HCRYPTKEY ContainerKey(HCRYPTPROV hProv, ALG_ID uAlgID, DWORD dwBits) {
    auto spKey = std::make_unique<KeyHandle>();
    EXPECT_EQ(spKey->InitKeyHandle(uAlgID, 0), S_OK);
    spKey->m_dwModulusBits = dwBits;
    spKey->m_dwPermissions = CRYPT_DECRYPT;
    spKey->m_pContainer = Of(hProv);
    return merro::csp::AddKeyHandle(std::move(spKey));
  }
  static KeyHandle* Key(HCRYPTKEY hKey) { return merro::csp::g_vtrKeyHandleSet.Lookup(hKey); }
  static size_t KeyCount() { return merro::csp::g_vtrKeyHandleSet.Handles().size(); }

  Result GetDword(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, DWORD* pdwValue) {
    DWORD dwLength = sizeof *pdwValue;
    return Call([&] {
      return CPCoreGetKeyParam(hProv, hKey, dwParam, reinterpret_cast<BYTE*>(pdwValue), &dwLength,
                               0);
    });
  }
  Result SetDword(HCRYPTKEY hKey, DWORD dwParam, DWORD dwValue) {
    return Call([&] {
      return CPCoreSetKeyParam(m_hProv, hKey, dwParam, reinterpret_cast<const BYTE*>(&dwValue), 0);
    });
  }

  HCRYPTPROV m_hProv = 0;
  HCRYPTPROV m_hSilent = 0;
};

// Every refusal of CPGenKey comes before a key pair is asked for, and no
// key handle is left behind. Without a token layer a request that passes all
// checks fails in the key object (no device object).
TEST_F(CoreKeys, GenKeyRefusesInItsOrder) {
  struct Case {
    const char* what;
    HCRYPTPROV hProv;
    ALG_ID algId;
    DWORD flags;
    bool out;
    DWORD code;
  } const cases[] = {
      {"no provider handle", 0, AT_SIGNATURE, 0, true, ERROR_INVALID_HANDLE},
      {"no out-pointer", m_hProv, AT_SIGNATURE, 0, false, ERROR_INVALID_PARAMETER},
      {"unknown provider", kNoSuchHandle, AT_SIGNATURE, 0, true, ERROR_INVALID_PARAMETER},
      {"CRYPT_CREATE_IV", m_hProv, AT_SIGNATURE, CRYPT_CREATE_IV, true, Code(NTE_BAD_FLAGS)},
      {"CRYPT_DATA_KEY", m_hProv, AT_SIGNATURE, CRYPT_DATA_KEY, true, Code(NTE_BAD_FLAGS)},
      {"CRYPT_PREGEN", m_hProv, AT_SIGNATURE, CRYPT_PREGEN, true, Code(NTE_BAD_FLAGS)},
      {"CRYPT_ONLINE", m_hProv, AT_SIGNATURE, CRYPT_ONLINE, true, Code(NTE_BAD_FLAGS)},
      {"CRYPT_NO_SALT", m_hProv, AT_SIGNATURE, CRYPT_NO_SALT, true, Code(NTE_BAD_FLAGS)},
      {"CRYPT_SF", m_hProv, AT_SIGNATURE, CRYPT_SF, true, Code(NTE_BAD_FLAGS)},
      {"CRYPT_SGCKEY", m_hProv, AT_SIGNATURE, CRYPT_SGCKEY, true, Code(NTE_BAD_FLAGS)},
      {"CRYPT_VOLATILE", m_hProv, AT_SIGNATURE, CRYPT_VOLATILE, true, Code(NTE_BAD_FLAGS)},
      {"user protected, silent", m_hSilent, AT_SIGNATURE, CRYPT_USER_PROTECTED, true,
       Code(NTE_SILENT_CONTEXT)},
      {"a hash algorithm", m_hProv, CALG_SHA1, 0, true,
       Code(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED))},
      {"512 bits", m_hProv, AT_SIGNATURE, 512u << 16, true, ERROR_INVALID_PARAMETER},
      {"768 bits", m_hProv, CALG_RSA_KEYX, 768u << 16, true, ERROR_INVALID_PARAMETER},
      // What passes the checks: the flags without effect, the silent handle
      // without CRYPT_USER_PROTECTED, a session key (its size is the
      // algorithm's).
      {"accepted flags", m_hProv, AT_SIGNATURE,
       CRYPT_EXPORTABLE | CRYPT_CREATE_SALT | CRYPT_UPDATE_KEY | CRYPT_KEK | CRYPT_ARCHIVABLE |
           CRYPT_USER_PROTECTED | (2048u << 16),
       true, Code(E_FAIL)},
      {"silent handle", m_hSilent, CALG_SM2_SIGN, 256u << 16, true, Code(E_FAIL)},
      {"session key", m_hProv, CALG_3DES, 512u << 16, true, Code(E_FAIL)},
  };
  for (const Case& c : cases) {
    HCRYPTKEY hKey = 0x55;
    const Result r =
        Call([&] { return CPCoreGenKey(c.hProv, c.algId, c.flags, c.out ? &hKey : nullptr); });
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.error, c.code) << c.what;
    if (c.out && c.hProv != 0) {
      EXPECT_EQ(hKey, 0u) << c.what;
    }
    EXPECT_EQ(KeyCount(), 0u) << c.what;
  }

  CapturedTrace t(Deliverable::Provider, merro::csp::TRACE_FLAG_CSPCORE);
  HCRYPTKEY hKey = 0;
  CPCoreGenKey(m_hProv, AT_SIGNATURE, CRYPT_VOLATILE, &hKey);
  EXPECT_EQ(CoreLines(t),
            (std::vector<std::string>{
                "CPCoreGenKey - check parameter SUCCESS", "CPCoreGenKey - check parameter SUCCESS",
                "CPCoreGenKey - Check validity of provider handle SUCCESS",
                "CPCoreGenKey - new KeyHandle SUCCESS",
                "CPCoreGenKey - doesn't use this flag (Error code: 0x80090009)"}));
}

TEST_F(CoreKeys, GetUserKeyRefusesInItsOrder) {
  struct Case {
    const char* what;
    HCRYPTPROV hProv;
    DWORD keySpec;
    bool out;
    DWORD code;
  } const cases[] = {
      {"no provider handle", 0, AT_SIGNATURE, true, ERROR_INVALID_PARAMETER},
      {"no out-pointer", m_hProv, AT_SIGNATURE, false, ERROR_INVALID_PARAMETER},
      {"key spec 3", m_hProv, 3, true, Code(NTE_NO_KEY)},
      {"unknown provider", kNoSuchHandle, AT_KEYEXCHANGE, true, Code(NTE_BAD_UID)},
      // The container cannot say what it holds without a device object.
      {"no token layer", m_hProv, AT_KEYEXCHANGE, true, Code(E_FAIL)},
  };
  for (const Case& c : cases) {
    HCRYPTKEY hKey = 0;
    const Result r =
        Call([&] { return CPCoreGetUserKey(c.hProv, c.keySpec, c.out ? &hKey : nullptr); });
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.error, c.code) << c.what;
    EXPECT_EQ(KeyCount(), 0u) << c.what;
  }
}

// Session keys answer the parameters they hold, as container keys do; a
// certificate or a salt they do not have.
TEST_F(CoreKeys, SessionKeysAnswerTheirParameters) {
  const HCRYPTKEY h3des = SessionKey(CALG_3DES);
  const HCRYPTKEY hRc4 = SessionKey(CALG_RC4);
  const Bytes iv = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(CPCoreSetKeyParam(m_hProv, h3des, KP_IV, iv.data(), 0));
  ASSERT_TRUE(SetDword(h3des, KP_PERMISSIONS, CRYPT_ENCRYPT).ok);

  struct Case {
    HCRYPTKEY hKey;
    DWORD param;
    DWORD value;
  } const cases[] = {
      {h3des, KP_ALGID, CALG_3DES}, {h3des, KP_KEYLEN, 192},
      {h3des, KP_BLOCKLEN, 64},     {h3des, KP_PERMISSIONS, CRYPT_ENCRYPT},
      {hRc4, KP_ALGID, CALG_RC4},   {hRc4, KP_KEYLEN, 128},
      {hRc4, KP_BLOCKLEN, 8},
  };
  for (const Case& c : cases) {
    DWORD value = 0xdeadbeef;
    const Result r = GetDword(m_hProv, c.hKey, c.param, &value);
    EXPECT_TRUE(r.ok) << c.param;
    EXPECT_EQ(r.error, 0u) << c.param;
    EXPECT_EQ(value, c.value) << c.param;
  }

  BYTE buffer[16] = {};
  DWORD length = 0;
  EXPECT_TRUE(CPCoreGetKeyParam(m_hProv, h3des, KP_IV, nullptr, &length, 0));
  EXPECT_EQ(length, 8u);
  EXPECT_TRUE(CPCoreGetKeyParam(m_hProv, h3des, KP_IV, buffer, &length, 0));
  EXPECT_EQ(Bytes(buffer, buffer + length), iv);
  EXPECT_TRUE(CPCoreGetKeyParam(m_hProv, hRc4, KP_IV, nullptr, &length, 0));
  EXPECT_EQ(length, 0u);

  // A short buffer gets ERROR_MORE_DATA and the needed length, for the
  // DWORD readers and the IV alike.
  struct Short {
    DWORD param;
    DWORD given;
    DWORD needed;
  } const shorts[] = {{KP_ALGID, 3, 4}, {KP_KEYLEN, 0, 4}, {KP_IV, 7, 8}};
  Result r{};
  for (const Short& s : shorts) {
    length = s.given;
    r = Call([&] { return CPCoreGetKeyParam(m_hProv, h3des, s.param, buffer, &length, 0); });
    EXPECT_FALSE(r.ok) << s.param;
    EXPECT_EQ(r.error, DWORD{ERROR_MORE_DATA}) << s.param;
    EXPECT_EQ(length, s.needed) << s.param;
  }

  for (const DWORD param : {DWORD{KP_CERTIFICATE}, DWORD{KP_SALT}, DWORD{KP_MODE}}) {
    length = sizeof buffer;
    r = Call([&] { return CPCoreGetKeyParam(m_hProv, h3des, param, buffer, &length, 0); });
    EXPECT_FALSE(r.ok) << param;
    EXPECT_EQ(r.error, Code(NTE_BAD_TYPE)) << param;
  }
}

TEST_F(CoreKeys, GetKeyParamRefusesInItsOrder) {
  const HCRYPTKEY hKey = ContainerKey(m_hProv, CALG_RSA_SIGN, 2048);
  const HCRYPTKEY hOther = ContainerKey(m_hSilent, CALG_SM2_SIGN, 256);
  DWORD value = 0;
  DWORD length = sizeof value;
  BYTE* data = reinterpret_cast<BYTE*>(&value);
  struct Case {
    const char* what;
    std::function<BOOL()> call;
    DWORD code;
  } const cases[] = {
      {"no provider", [&] { return CPCoreGetKeyParam(0, hKey, KP_KEYLEN, data, &length, 0); },
       ERROR_INVALID_PARAMETER},
      {"no key", [&] { return CPCoreGetKeyParam(m_hProv, 0, KP_KEYLEN, data, &length, 0); },
       ERROR_INVALID_PARAMETER},
      {"no length", [&] { return CPCoreGetKeyParam(m_hProv, hKey, KP_KEYLEN, data, nullptr, 0); },
       ERROR_INVALID_PARAMETER},
      {"unknown provider",
       [&] { return CPCoreGetKeyParam(kNoSuchHandle, hKey, KP_KEYLEN, data, &length, 0); },
       ERROR_INVALID_PARAMETER},
      {"unknown key",
       [&] { return CPCoreGetKeyParam(m_hProv, kNoSuchHandle, KP_KEYLEN, data, &length, 0); },
       ERROR_INVALID_PARAMETER},
      {"another provider's key",
       [&] { return CPCoreGetKeyParam(m_hProv, hOther, KP_KEYLEN, data, &length, 0); },
       Code(NTE_BAD_UID)},
      {"KP_SALT", [&] { return CPCoreGetKeyParam(m_hProv, hKey, KP_SALT, data, &length, 0); },
       Code(NTE_BAD_TYPE)},
      // Read from the token, which is not there.
      {"KP_CERTIFICATE",
       [&] { return CPCoreGetKeyParam(m_hProv, hKey, KP_CERTIFICATE, nullptr, &length, 0); },
       Code(NTE_FAIL)},
  };
  for (const Case& c : cases) {
    const Result r = Call(c.call);
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.error, c.code) << c.what;
  }
  EXPECT_TRUE(GetDword(m_hProv, hKey, KP_KEYLEN, &value).ok);
  EXPECT_EQ(value, 2048u);
}

TEST_F(CoreKeys, SetKeyParamChecksAndEffects) {
  const HCRYPTKEY hKey = ContainerKey(m_hProv, CALG_RSA_SIGN, 1024);
  const HCRYPTKEY hOther = ContainerKey(m_hSilent, CALG_RSA_SIGN, 1024);
  const HCRYPTKEY hSession = SessionKey(CALG_3DES);
  const DWORD one = 1;
  const BYTE* data = reinterpret_cast<const BYTE*>(&one);
  const BYTE certificate[] = {0x30, 0x82, 0x00, 0x00};
  struct Case {
    const char* what;
    std::function<BOOL()> call;
    DWORD code;
  } const cases[] = {
      {"no provider", [&] { return CPCoreSetKeyParam(0, hKey, KP_MODE, data, 0); },
       ERROR_INVALID_PARAMETER},
      {"no key", [&] { return CPCoreSetKeyParam(m_hProv, 0, KP_MODE, data, 0); },
       ERROR_INVALID_PARAMETER},
      {"no data", [&] { return CPCoreSetKeyParam(m_hProv, hKey, KP_MODE, nullptr, 0); },
       ERROR_INVALID_PARAMETER},
      {"unknown provider", [&] { return CPCoreSetKeyParam(kNoSuchHandle, hKey, KP_MODE, data, 0); },
       ERROR_INVALID_PARAMETER},
      {"unknown key", [&] { return CPCoreSetKeyParam(m_hProv, kNoSuchHandle, KP_MODE, data, 0); },
       ERROR_INVALID_PARAMETER},
      {"another provider's key",
       [&] { return CPCoreSetKeyParam(m_hProv, hOther, KP_MODE, data, 0); }, Code(NTE_BAD_UID)},
      {"KP_SALT", [&] { return CPCoreSetKeyParam(m_hProv, hKey, KP_SALT, data, 0); },
       ERROR_NOT_SUPPORTED},
      {"KP_PERMISSIONS 0x200", [&] { return SetDword(hKey, KP_PERMISSIONS, 0x200).ok; },
       Code(NTE_BAD_FLAGS)},
      {"KP_ALGID CALG_SHA1", [&] { return SetDword(hKey, KP_ALGID, CALG_SHA1).ok; }, 0x803400BB},
      // A certificate belongs to a key pair of the container only.
      {"KP_CERTIFICATE of a session key",
       [&] { return CPCoreSetKeyParam(m_hProv, hSession, KP_CERTIFICATE, certificate, 0); },
       Code(NTE_BAD_TYPE)},
      // The key object's answer passes through: here, no device object.
      {"KP_CERTIFICATE without a token layer",
       [&] { return CPCoreSetKeyParam(m_hProv, hKey, KP_CERTIFICATE, certificate, 0); },
       Code(E_FAIL)},
  };
  for (const Case& c : cases) {
    const Result r = Call(c.call);
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.error, c.code) << c.what;
  }

  // Permission bits are only ever added.
  ASSERT_TRUE(SetDword(hKey, KP_PERMISSIONS, CRYPT_WRITE).ok);
  ASSERT_TRUE(SetDword(hKey, KP_PERMISSIONS, CRYPT_ENCRYPT).ok);
  EXPECT_EQ(Key(hKey)->m_dwPermissions, DWORD{CRYPT_DECRYPT | CRYPT_WRITE | CRYPT_ENCRYPT});
  ASSERT_TRUE(SetDword(hKey, KP_MODE, CRYPT_MODE_ECB).ok);
  EXPECT_EQ(Key(hKey)->m_dwMode, DWORD{CRYPT_MODE_ECB});

  // KP_ALGID moves a container key between the kinds of its own family;
  // another family or a session algorithm is refused and changes nothing.
  ASSERT_TRUE(SetDword(hKey, KP_ALGID, CALG_RSA_KEYX).ok);
  EXPECT_EQ(Key(hKey)->m_uAlgID, ALG_ID{CALG_RSA_KEYX});
  EXPECT_EQ(Key(hKey)->m_dwKeySpec, DWORD{AT_KEYEXCHANGE});
  for (const ALG_ID refused : {ALG_ID{CALG_SM2_KEYX}, ALG_ID{CALG_SM2_SIGN}, ALG_ID{CALG_DES}}) {
    const Result r = SetDword(hKey, KP_ALGID, refused);
    EXPECT_FALSE(r.ok) << refused;
    EXPECT_EQ(r.error, 0x803400BBu) << refused;
    EXPECT_EQ(Key(hKey)->m_uAlgID, ALG_ID{CALG_RSA_KEYX}) << refused;
    EXPECT_EQ(Key(hKey)->m_dwKeySpec, DWORD{AT_KEYEXCHANGE}) << refused;
    EXPECT_EQ(Key(hKey)->m_dwKeyType, DWORD{Container::KEYSETALGORITHM_RSA}) << refused;
    EXPECT_EQ(Key(hKey)->m_stSymKey.pbData, nullptr) << refused;
  }

  // A PIN is read only up to its bound; an RC4 key takes no IV.
  const Bytes unterminated(300, '7');
  Result r = Call(
      [&] { return CPCoreSetKeyParam(m_hProv, hKey, KP_SIGNATURE_PIN, unterminated.data(), 0); });
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, ERROR_INVALID_PARAMETER);
  r = Call([&] {
    return CPCoreSetKeyParam(m_hProv, hKey, KP_SIGNATURE_PIN,
                             reinterpret_cast<const BYTE*>("47193628"), 0);
  });
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.error, 0u);
  const HCRYPTKEY hRc4 = SessionKey(CALG_RC4);
  const BYTE ivByte = 0;
  EXPECT_TRUE(CPCoreSetKeyParam(m_hProv, hRc4, KP_IV, &ivByte, 0));
}

// A copy carries the key bytes and the IV: a copied session key encrypts
// under the same key, not under zeros. It outlives its source.
TEST_F(CoreKeys, DuplicateKeyCopiesSessionKeyBytesAndIV) {
  const Bytes key = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE, 0xDC, 0xBA, 0x98,
                     0x76, 0x54, 0x32, 0x10, 0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78};
  const HCRYPTKEY hSource = SessionKey(CALG_3DES, key);
  const Bytes iv = {8, 7, 6, 5, 4, 3, 2, 1};
  ASSERT_TRUE(CPCoreSetKeyParam(m_hProv, hSource, KP_IV, iv.data(), 0));
  ASSERT_TRUE(SetDword(hSource, KP_MODE, CRYPT_MODE_ECB).ok);

  HCRYPTKEY hCopy = 0;
  Result r = Call([&] { return CPCoreDuplicateKey(m_hProv, hSource, nullptr, 0, &hCopy); });
  ASSERT_TRUE(r.ok) << std::hex << r.error;
  EXPECT_EQ(r.error, 0u);
  ASSERT_NE(hCopy, hSource);
  ASSERT_TRUE(CPCoreDestroyKey(m_hProv, hSource));

  const KeyHandle* pCopy = Key(hCopy);
  ASSERT_NE(pCopy, nullptr);
  EXPECT_EQ(Bytes(pCopy->m_stSymKey.pbData, pCopy->m_stSymKey.pbData + pCopy->m_stSymKey.cbData),
            key);
  EXPECT_EQ(Bytes(pCopy->m_pbyIV, pCopy->m_pbyIV + pCopy->m_dwIVBits / 8), iv);
  EXPECT_EQ(pCopy->m_dwMode, DWORD{CRYPT_MODE_ECB});
  EXPECT_EQ(pCopy->m_uAlgID, ALG_ID{CALG_3DES});
  EXPECT_EQ(pCopy->m_pContainer, Of(m_hProv));

  // KP_ALGID cannot turn a session key into another kind, so a copy has
  // the source's kind and IV.
  const HCRYPTKEY hDes = SessionKey(CALG_DES);
  ASSERT_TRUE(CPCoreSetKeyParam(m_hProv, hDes, KP_IV, iv.data(), 0));
  EXPECT_FALSE(SetDword(hDes, KP_ALGID, CALG_RSA_KEYX).ok);
  r = Call([&] { return CPCoreDuplicateKey(m_hProv, hDes, nullptr, 0, &hCopy); });
  ASSERT_TRUE(r.ok) << std::hex << r.error;
  EXPECT_EQ(Key(hCopy)->m_uAlgID, ALG_ID{CALG_DES});
  EXPECT_EQ(Key(hCopy)->m_dwIVBits, 64u);
  EXPECT_EQ(Bytes(Key(hCopy)->m_pbyIV, Key(hCopy)->m_pbyIV + 8), iv);
}

TEST_F(CoreKeys, DuplicateKeyRefusesInItsOrder) {
  const HCRYPTKEY hKey = ContainerKey(m_hProv, CALG_SM2_SIGN, 256);
  const HCRYPTKEY hOther = ContainerKey(m_hSilent, CALG_SM2_SIGN, 256);
  HCRYPTKEY hCopy = 0x55;
  struct Case {
    const char* what;
    HCRYPTPROV hProv;
    HCRYPTKEY hKey;
    bool out;
    DWORD code;
  } const cases[] = {
      {"no provider", 0, hKey, true, ERROR_INVALID_HANDLE},
      {"no key", m_hProv, 0, true, ERROR_INVALID_HANDLE},
      {"no out-pointer", m_hProv, hKey, false, ERROR_INVALID_HANDLE},
      {"unknown provider", kNoSuchHandle, hKey, true, ERROR_INVALID_HANDLE},
      {"unknown key", m_hProv, kNoSuchHandle, true, ERROR_INVALID_PARAMETER},
      {"another provider's key", m_hProv, hOther, true, Code(NTE_BAD_UID)},
  };
  for (const Case& c : cases) {
    const Result r = Call(
        [&] { return CPCoreDuplicateKey(c.hProv, c.hKey, nullptr, 0, c.out ? &hCopy : nullptr); });
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.error, c.code) << c.what;
  }
  EXPECT_EQ(KeyCount(), 2u);

  // A container key's copy names the same pair.
  ASSERT_TRUE(CPCoreDuplicateKey(m_hProv, hKey, nullptr, 0, &hCopy));
  EXPECT_EQ(Key(hCopy)->m_dwKeySpec, DWORD{AT_SIGNATURE});
  EXPECT_EQ(Key(hCopy)->m_dwKeyType, DWORD{Container::KEYSETALGORITHM_SM2});
  EXPECT_EQ(Key(hCopy)->m_dwModulusBits, 256u);
  EXPECT_EQ(Key(hCopy)->m_dwPermissions, DWORD{CRYPT_DECRYPT});
}

// Refusals of CPExportKey before the token is asked; the length says 0
// after each.
TEST_F(CoreKeys, ExportKeyRefusesInItsOrder) {
  const HCRYPTKEY hKey = ContainerKey(m_hProv, CALG_RSA_SIGN, 1024);
  const HCRYPTKEY hOther = ContainerKey(m_hSilent, CALG_RSA_SIGN, 1024);
  const HCRYPTKEY hSession = SessionKey(CALG_RC4);
  struct Case {
    const char* what;
    HCRYPTPROV hProv;
    HCRYPTKEY hKey;
    HCRYPTKEY hPubKey;
    DWORD blobType;
    DWORD code;
  } const cases[] = {
      {"no provider", 0, hKey, 0, PUBLICKEYBLOB, ERROR_INVALID_PARAMETER},
      {"no key", m_hProv, 0, 0, PUBLICKEYBLOB, ERROR_INVALID_PARAMETER},
      {"unknown provider", kNoSuchHandle, hKey, 0, PUBLICKEYBLOB, Code(NTE_BAD_UID)},
      {"unknown key", m_hProv, kNoSuchHandle, 0, PUBLICKEYBLOB, Code(NTE_BAD_UID)},
      {"another provider's key", m_hProv, hOther, 0, PUBLICKEYBLOB, Code(NTE_BAD_UID)},
      {"PRIVATEKEYBLOB", m_hProv, hKey, 0, PRIVATEKEYBLOB, Code(NTE_NOT_SUPPORTED)},
      {"SIMPLEBLOB", m_hProv, hKey, 0, SIMPLEBLOB, Code(NTE_BAD_TYPE)},
      {"PLAINTEXTKEYBLOB", m_hProv, hKey, 0, PLAINTEXTKEYBLOB, Code(NTE_BAD_TYPE)},
      {"SYMMETRICWRAPKEYBLOB", m_hProv, hKey, 0, SYMMETRICWRAPKEYBLOB, Code(NTE_BAD_TYPE)},
      {"blob type 12", m_hProv, hKey, 0, 12, Code(NTE_BAD_TYPE)},
      {"blob type 0", m_hProv, hKey, 0, 0, Code(NTE_BAD_TYPE)},
      {"an exporting key", m_hProv, hKey, hSession, PUBLICKEYBLOB, ERROR_INVALID_PARAMETER},
      // The key object refuses a key that is no key pair of the container.
      {"a session key", m_hProv, hSession, 0, PUBLICKEYBLOB, Code(NTE_BAD_TYPE)},
      {"no token layer", m_hProv, hKey, 0, PUBLICKEYBLOB, Code(E_FAIL)},
  };
  for (const Case& c : cases) {
    BYTE blob[300] = {};
    DWORD length = sizeof blob;
    const Result r = Call(
        [&] { return CPCoreExportKey(c.hProv, c.hKey, c.hPubKey, c.blobType, 0, blob, &length); });
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.error, c.code) << c.what;
    EXPECT_EQ(length, c.code == ERROR_INVALID_PARAMETER && c.hPubKey == 0 ? sizeof blob : 0u)
        << c.what;
  }
  const Result r =
      Call([&] { return CPCoreExportKey(m_hProv, hKey, 0, PUBLICKEYBLOB, 0, nullptr, nullptr); });
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, ERROR_INVALID_PARAMETER);
}

// The blob's layout from the parts the token gives (most significant byte
// first): the token's own exponent, numbers reversed into their fields,
// parts that do not fit refused.
TEST(PublicKeyBlob, LayoutAndTheTokensExponent) {
  Bytes modulus(128);
  for (size_t i = 0; i < modulus.size(); ++i) {
    modulus[i] = static_cast<BYTE>(0x80 + i);
  }
  struct Case {
    const char* what;
    Bytes exponent;
    HRESULT hr;
    DWORD field;
  } const cases[] = {
      {"65537", {0x01, 0x00, 0x01}, S_OK, 65537},
      {"3", {0x03}, S_OK, 3},
      {"leading zeros", {0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01}, S_OK, 65537},
      {"four bytes", {0xFF, 0xFF, 0xFF, 0xFF}, S_OK, 0xFFFFFFFF},
      {"five bytes", {0x01, 0x00, 0x00, 0x00, 0x01}, NTE_BAD_KEY, 0},
  };
  for (const Case& c : cases) {
    Bytes blob;
    EXPECT_EQ(merro::csp::BuildPublicKeyBlob(CALG_RSA_SIGN, KEYSETALGORITHM_RSA, 1024,
                                             modulus.data(), 128, c.exponent.data(),
                                             static_cast<DWORD>(c.exponent.size()), &blob),
              c.hr)
        << c.what;
    if (c.hr != S_OK) {
      EXPECT_TRUE(blob.empty()) << c.what;
      continue;
    }
    ASSERT_EQ(blob.size(), 148u);
    EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 16),
              (Bytes{PUBLICKEYBLOB, 2, 0, 0, 0x00, 0x24, 0, 0, 'R', 'S', 'A', '1', 0, 4, 0, 0}));
    DWORD field = 0;
    std::memcpy(&field, blob.data() + 16, 4);
    EXPECT_EQ(field, c.field) << c.what;
    EXPECT_EQ(Bytes(blob.begin() + 20, blob.end()), Bytes(modulus.rbegin(), modulus.rend()));
  }
  EXPECT_EQ(merro::csp::PublicKeyBlobSize(KEYSETALGORITHM_RSA, 2048), 276u);

  // A modulus longer than the key's length would run past the blob.
  Bytes blob;
  const BYTE e[] = {1, 0, 1};
  EXPECT_EQ(merro::csp::BuildPublicKeyBlob(CALG_RSA_SIGN, KEYSETALGORITHM_RSA, 512, modulus.data(),
                                           128, e, 3, &blob),
            NTE_BAD_KEY);

  // SM2: X and Y reversed each into 64-byte fields, whose upper halves stay 0.
  Bytes x(32), y(32);
  for (int i = 0; i < 32; ++i) {
    x[i] = static_cast<BYTE>(i + 1);
    y[i] = static_cast<BYTE>(0xA0 + i);
  }
  ASSERT_EQ(merro::csp::BuildPublicKeyBlob(CALG_SM2_KEYX, KEYSETALGORITHM_SM2, 256, x.data(), 32,
                                           y.data(), 32, &blob),
            S_OK);
  ASSERT_EQ(blob.size(), merro::csp::kSm2PublicKeyBlobSize);
  EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 12),
            (Bytes{PUBLICKEYBLOB, 2, 0, 0, 0x00, 0xBE, 0, 0, 0, 1, 0, 0}));
  EXPECT_EQ(Bytes(blob.begin() + 12, blob.begin() + 44), Bytes(x.rbegin(), x.rend()));
  EXPECT_EQ(Bytes(blob.begin() + 44, blob.begin() + 76), Bytes(32, 0));
  EXPECT_EQ(Bytes(blob.begin() + 76, blob.begin() + 108), Bytes(y.rbegin(), y.rend()));
  EXPECT_EQ(Bytes(blob.begin() + 108, blob.end()), Bytes(32, 0));
  const Bytes longX(33, 1);
  EXPECT_EQ(merro::csp::BuildPublicKeyBlob(CALG_SM2_KEYX, KEYSETALGORITHM_SM2, 256, longX.data(),
                                           33, y.data(), 32, &blob),
            NTE_BAD_KEY);
}

}  // namespace
