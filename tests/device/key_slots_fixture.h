// The fixture of the key-slot tests against the daemon (two tokens, RSA keys
// shared through the simulator's key cache): both tokens prepared, the
// device object initialised over them, the scripted UI installed (no test
// here expects a prompt), the trace records collected. Containers are made
// with the token API on the object's own contexts, then the lists are
// refreshed; no PIN dialog is involved. A creation reclaims every
// unfinished container of its token, so a test makes the next container
// only when it is done with the last unfinished one.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "device/device_handle.h"
#include "tests/device/device_daemon_fixture.h"
#include "tests/device/support/device_bench.h"
#include "tests/device/support/key_material.h"
#include "tests/device/support/scripted_user_interface.h"
#include "tests/tokenapi/api/api_test_support.h"
#include "tokenapi/api/token_api.h"

namespace merro::testing {

using Bytes = std::vector<std::uint8_t>;

// A buffer the device object handed out, taken over and freed.
inline Bytes Take(BYTE* p, DWORD n) {
  const std::unique_ptr<BYTE[]> owner(p);
  return p != nullptr ? Bytes(p, p + n) : Bytes();
}

// Wine's crypt32 as the judge of a DER RSAPublicKey: the modulus (big-endian,
// as long as the key), the exponent and the bit length it decodes to; an
// empty modulus when it does not decode.
struct DecodedRsaKey {
  Bytes n;
  DWORD exponent = 0;
  DWORD bits = 0;
};
inline DecodedRsaKey DecodeRsaPublicKey(const Bytes& der) {
  DecodedRsaKey out;
  BYTE* blob = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, der.data(),
                           static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &blob,
                           &size)) {
    return out;
  }
  const auto* pub = reinterpret_cast<const RSAPUBKEY*>(blob + sizeof(BLOBHEADER));
  out.exponent = pub->pubexp;
  out.bits = pub->bitlen;
  const BYTE* modulus = blob + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
  out.n.assign(modulus, modulus + pub->bitlen / 8);  // little-endian in the blob
  std::reverse(out.n.begin(), out.n.end());
  LocalFree(blob);
  return out;
}

// One call of a table of refused calls: what it was, the result it must
// give and the result it gave.
struct RefusedCall {
  const char* what;
  HRESULT result;
  HRESULT got;
};
inline void ExpectResults(std::initializer_list<RefusedCall> calls) {
  for (const RefusedCall& call : calls) {
    EXPECT_EQ(call.got, call.result) << call.what;
  }
}

class KeySlots : public ::testing::Test {
 protected:
  static constexpr int kTokens = 2;

  void SetUp() override {
    ASSERT_NE(std::getenv("MERRO_TOKEN_SIM"), nullptr) << "run under run-with-tokensim";
    for (int i = 0; i < kTokens; ++i) {
      DeviceBench::Insert(i);
      DeviceBench::Control("fault " + std::to_string(i) + " clear");
      ASSERT_TRUE(DeviceBench::Prepare(i));
      m_dev[i] = DeviceBench::DeviceName(i);
    }
    m_providerName = TestProviderName(L"keys");
    m_settings = DefaultProviderSettings(FALSE);
    m_settings.pwszProviderName = m_providerName.c_str();
    ASSERT_EQ(m_handle.Initialize(m_settings), S_OK);
    ASSERT_EQ(m_handle.m_vtrDeviceSet.size(), static_cast<size_t>(kTokens));
  }
  void TearDown() override {
    m_handle.UnInitialize();
    for (int i = 0; i < kTokens; ++i) {
      DeviceBench::Insert(i);
      DeviceBench::Control("fault " + std::to_string(i) + " clear");
    }
    EXPECT_TRUE(m_ui->Transcript().empty()) << "a prompt was shown";
  }

  DEV_CTX* Context(int token) {
    DEV_CTX* ctx = nullptr;
    EXPECT_EQ(m_handle.GetDevCtx(m_dev[token].c_str(), &ctx), S_OK);
    return ctx;
  }
  // A new container on the token (the token's unfinished ones reclaimed),
  // then the lists refreshed.
  ::testing::AssertionResult Create(int token, const std::string& name) {
    CONTAINER_RECORD record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(record.szContainerName, name.data(), std::min<size_t>(name.size(), 64));
    const HRESULT hr = CreateContainer(Context(token), &record);
    if (hr != S_OK) {
      return ::testing::AssertionFailure() << "CreateContainer " << name << ": " << std::hex << hr;
    }
    if (m_handle.UpdateContainer() != S_OK) {
      return ::testing::AssertionFailure() << "UpdateContainer";
    }
    return ::testing::AssertionSuccess();
  }
  // The token's record of the container, read through the object's context.
  CONTAINER_RECORD TokenRecord(int token, const std::string& name) {
    CONTAINER_RECORD record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(record.szContainerName, name.data(), std::min<size_t>(name.size(), 64));
    EXPECT_EQ(ReadContainer(Context(token), &record), S_OK) << name;
    return record;
  }
  // The container list's copy of the record.
  CONTAINER_RECORD ListedRecord(int token, const std::string& name) {
    DWORD index = 0;
    EXPECT_EQ(m_handle.CheckContainerExist(m_dev[token].c_str(), name.c_str(), &index), S_OK);
    return *m_handle.m_vtrContainerSet.at(index).pstContainer();
  }
  // The list's copy equals the token's record.
  void ExpectListAgrees(int token, const std::string& name) {
    const CONTAINER_RECORD listed = ListedRecord(token, name);
    const CONTAINER_RECORD stored = TokenRecord(token, name);
    EXPECT_EQ(std::memcmp(&listed, &stored, sizeof listed), 0) << name;
  }
  // The commands the token received since the last call (log cleared).
  static std::vector<BYTE> Commands(int token) { return DeviceBench::CommandLog(token, true); }

  // The public key in two parts; both empty on failure.
  HRESULT ExportParts(int token, const std::string& name, DWORD keySpec, Bytes* first,
                      Bytes* second) {
    BYTE* p1 = nullptr;
    BYTE* p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    const HRESULT hr =
        m_handle.ExportPubKey(m_dev[token].c_str(), name.c_str(), keySpec, &p1, &n1, &p2, &n2);
    *first = Take(p1, n1);
    *second = Take(p2, n2);
    return hr;
  }
  // The public key in one buffer and the key-set algorithm.
  HRESULT ExportOne(int token, const std::string& name, DWORD keySpec, Bytes* key,
                    DWORD* keySet) {
    BYTE* p = nullptr;
    DWORD n = 0;
    const HRESULT hr =
        m_handle.ExportPubKey(m_dev[token].c_str(), name.c_str(), keySpec, keySet, &p, &n);
    *key = Take(p, n);
    return hr;
  }
  HRESULT Generate(int token, const std::string& name, DWORD keySpec, DWORD bits) {
    return m_handle.GenKeyPair(m_dev[token].c_str(), name.c_str(), keySpec,
                               bits == 256 ? KEYSETALGORITHM_SM2 : KEYSETALGORITHM_RSA, bits);
  }

  std::string m_dev[kTokens];
  std::wstring m_providerName;
  ProviderSettings m_settings{};
  ScopedScriptedUi m_ui;
  apitest::TraceLines m_trace;
  device::DeviceHandle m_handle;
};

}  // namespace merro::testing
