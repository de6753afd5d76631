// Key pairs generated in the container through the key object, their public
// keys as the token exports them (judged by OpenSSL), the certificate of a
// key, and random data from the token.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/provider/key_handle_bench.h"
#include "tests/support/test_certificates.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"

namespace merro::testing {
namespace {

using provider::KeyHandle;

struct PublicKey {
  HRESULT hr = E_FAIL;
  Bytes first;   // X or N
  Bytes second;  // Y or E
};

PublicKey Export(KeyHandle& key) {
  PublicKey out;
  BYTE* first = nullptr;
  BYTE* second = nullptr;
  DWORD firstSize = 0;
  DWORD secondSize = 0;
  out.hr = key.ExportPublicKey(&first, &firstSize, &second, &secondSize);
  if (out.hr == S_OK) {
    out.first.assign(first, first + firstSize);
    out.second.assign(second, second + secondSize);
  }
  delete[] first;
  delete[] second;
  return out;
}

DWORD KeyLength(KeyHandle& key) {
  DWORD bits = 0;
  DWORD length = sizeof bits;
  EXPECT_EQ(key.ExportKeyLength(&bits, &length), S_OK);
  return bits;
}

class KeyGeneration : public KeyHandleBench {
 protected:
  // Generates a pair through the key object; the PIN is typed once.
  void Generate(KeyHandle& key) {
    m_ui->Push(std::string("pin ") + ProviderBench::kUserPin);
    ASSERT_EQ(g_pDeviceHandle->ResetKey(m_dev.c_str()), S_OK);
    ASSERT_EQ(key.GenerateKey(), S_OK);
  }
};

TEST_F(KeyGeneration, PairsOfEachKindAndTheirPublicKeys) {
  const struct {
    const char* name;
    ALG_ID algId;
    DWORD bits;      // as the provider core sets them before generating
    DWORD keyBits;   // KP_KEYLEN afterwards
    size_t firstSize;
    UINT keySetAlgorithm;
  } cases[] = {
      {"RSA-1024", CALG_RSA_SIGN, 1024, 1024, 128, provider::Container::KEYSETALGORITHM_RSA},
      {"RSA-2048", CALG_RSA_KEYX, 2048, 2048, 256, provider::Container::KEYSETALGORITHM_RSA},
      // An SM2 key's length is the curve's, not what the object held.
      {"SM2", CALG_SM2_SIGN, 1024, 256, 32, provider::Container::KEYSETALGORITHM_SM2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PrepareToken();
    auto key = Key(c.algId, c.bits);
    const size_t promptsBefore = Prompts("pin").size();
    Generate(*key);
    EXPECT_EQ(Prompts("pin").size(), promptsBefore + 1);
    EXPECT_EQ(KeyLength(*key), c.keyBits);
    EXPECT_EQ(m_container->GetKeySetAlgorithm(), c.keySetAlgorithm);

    const PublicKey pub = Export(*key);
    ASSERT_EQ(pub.hr, S_OK);
    ASSERT_EQ(pub.first.size(), c.firstSize);
    if (c.keySetAlgorithm == provider::Container::KEYSETALGORITHM_SM2) {
      ASSERT_EQ(pub.second.size(), 32u);
      Bytes xy = pub.first;
      xy.insert(xy.end(), pub.second.begin(), pub.second.end());
      EXPECT_TRUE(Sm2PublicKey(xy)) << "a point of the SM2 curve";
    } else {
      EXPECT_EQ(pub.second, (Bytes{0x01, 0x00, 0x01}));
      const PkeyPtr rsa = RsaPublicKey(pub.first, pub.second);
      ASSERT_TRUE(rsa);
      EXPECT_EQ(EVP_PKEY_get_bits(rsa.get()), static_cast<int>(c.bits));
    }
    // The other key specification of the container holds nothing yet.
    auto other = Key(c.algId == CALG_RSA_KEYX ? AT_SIGNATURE : AT_KEYEXCHANGE);
    EXPECT_NE(Export(*other).hr, S_OK);
  }
}

TEST_F(KeyGeneration, WhatCannotBeGenerated) {
  // A session key: refused before the PIN is asked or verified.
  auto session = Key(CALG_3DES);
  ASSERT_EQ(g_pDeviceHandle->ResetKey(m_dev.c_str()), S_OK);
  EXPECT_EQ(session->GenerateKey(), NTE_BAD_TYPE);
  EXPECT_EQ(Prompts("pin").size(), 0u);
  EXPECT_NE(Info().status, 0x11u);

  // A container no token holds: refused before any PIN.
  provider::Container gone(m_dev.c_str(), "no such container", TRUE, FALSE, TRUE, FALSE);
  auto key = Key(CALG_SM2_SIGN);
  key->m_pContainer = &gone;
  EXPECT_EQ(key->GenerateKey(), NTE_BAD_KEY);
  EXPECT_EQ(Prompts("pin").size(), 0u);

  // The holder cancels the PIN: the generation does not happen.
  auto sm2 = Key(CALG_SM2_SIGN);
  ASSERT_EQ(g_pDeviceHandle->ResetKey(m_dev.c_str()), S_OK);
  g_pDeviceHandle->ClearKeptPIN(m_dev.c_str());
  m_ui->Push("cancel");
  EXPECT_EQ(sm2->GenerateKey(), SCARD_W_CANCELLED_BY_USER);
  EXPECT_NE(Export(*sm2).hr, S_OK);
}

TEST_F(KeyGeneration, CertificateOfAKey) {
  auto key = Key(CALG_SM2_SIGN);
  Generate(*key);
  const PublicKey pub = Export(*key);
  ASSERT_EQ(pub.hr, S_OK);
  Bytes xy = pub.first;
  xy.insert(xy.end(), pub.second.begin(), pub.second.end());
  CertificateSpec spec;
  spec.subjectKey = TestKey::FromSm2Point(xy);
  const CertBytes der = TestCa::Shared().Issue(spec);
  ASSERT_EQ(g_pDeviceHandle->ImportCertificate(m_dev.c_str(), kContainerName, AT_SIGNATURE,
                                               der.data(), static_cast<DWORD>(der.size())),
            S_OK);

  DWORD length = 0;
  EXPECT_EQ(key->ExportCertificate(nullptr, &length), S_OK);
  EXPECT_EQ(length, der.size());
  Bytes buffer(der.size() + 8, 0xCC);
  length = static_cast<DWORD>(der.size() - 1);
  EXPECT_EQ(key->ExportCertificate(buffer.data(), &length), HRESULT_FROM_WIN32(ERROR_MORE_DATA));
  EXPECT_EQ(length, der.size());
  EXPECT_EQ(buffer, Bytes(der.size() + 8, 0xCC));
  length = static_cast<DWORD>(buffer.size());
  EXPECT_EQ(key->ExportCertificate(buffer.data(), &length), S_OK);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + length), Bytes(der.begin(), der.end()));

  // A size query reads the token: a read that breaks fails it.
  DeviceBench::Control("fault 0 sw 6A82 ins 36");
  length = 0;
  EXPECT_LT(key->ExportCertificate(nullptr, &length), 0);
  EXPECT_EQ(length, 0u);
  DeviceBench::Control("fault 0 clear");

  // The exchange slot holds no certificate.
  auto exchange = Key(CALG_SM2_KEYX);
  length = 0;
  EXPECT_LT(exchange->ExportCertificate(nullptr, &length), 0);
}

TEST_F(KeyGeneration, KeysOfAContainerOnNoToken) {
  provider::Container ephemeral("", "{ephemeral}.default", TRUE, FALSE, TRUE, TRUE);
  auto key = Key(CALG_RSA_SIGN, 1024);
  key->m_pContainer = &ephemeral;
  DWORD length = 0;
  EXPECT_EQ(key->ExportCertificate(nullptr, &length), NTE_BAD_PROV_TYPE);
  EXPECT_EQ(Export(*key).hr, NTE_BAD_PROV_TYPE);

  // A session key has no key specification.
  auto session = Key(CALG_DES);
  EXPECT_EQ(session->ExportCertificate(nullptr, &length), NTE_BAD_TYPE);
  EXPECT_EQ(Export(*session).hr, NTE_BAD_TYPE);
  BYTE* p = nullptr;
  DWORD n = 0;
  EXPECT_EQ(key->ExportPublicKey(nullptr, &n, &p, &n), E_INVALIDARG);
  EXPECT_EQ(key->ExportPublicKey(&p, &n, nullptr, &n), E_INVALIDARG);
}

TEST_F(KeyGeneration, RandomDataOfAnyLength) {
  for (DWORD size : {32u, 128u, 129u, 1000u}) {
    SCOPED_TRACE(size);
    Bytes first(size + 1, 0);
    Bytes second(size + 1, 0);
    first[size] = second[size] = 0xCC;
    ASSERT_EQ(KeyHandle::GenRandomData(m_dev.c_str(), first.data(), size), S_OK);
    ASSERT_EQ(KeyHandle::GenRandomData(m_dev.c_str(), second.data(), size), S_OK);
    EXPECT_EQ(first[size], 0xCC) << "nothing past the length";
    EXPECT_NE(first, second);
    // Every 128-byte piece was filled (none is left all zero).
    for (DWORD at = 0; at < size; at += 128) {
      const DWORD end = std::min<DWORD>(at + 128, size);
      EXPECT_NE(Bytes(first.begin() + at, first.begin() + end), Bytes(end - at, 0)) << at;
    }
  }
  BYTE b = 0;
  EXPECT_EQ(KeyHandle::GenRandomData(m_dev.c_str(), &b, 0), E_INVALIDARG);
  EXPECT_EQ(KeyHandle::GenRandomData(m_dev.c_str(), nullptr, 1), E_INVALIDARG);
  EXPECT_EQ(KeyHandle::GenRandomData(nullptr, &b, 1), E_INVALIDARG);
  EXPECT_LT(KeyHandle::GenRandomData("no such token", &b, 1), 0);
}

}  // namespace
}  // namespace merro::testing
