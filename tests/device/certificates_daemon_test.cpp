// Certificates in a container's key slots through the device object: what
// is imported is exported unchanged and decodes with crypt32; the RSA key
// in one buffer is the certificate's own public key; containers become
// available when their certificates complete them; a slot's public key in
// one buffer follows the slot's key type in a container of both kinds; an
// empty slot hands out nothing.
#include <string>
#include <vector>

#include "tests/device/key_slots_fixture.h"
#include "tests/support/test_certificates.h"

namespace merro::testing {
namespace {

class Certificates : public KeySlots {
 protected:
  // A certificate over the slot's public key, issued by the tests' CA.
  CertBytes CertificateFor(int token, const std::string& name, DWORD keySpec) {
    Bytes key;
    DWORD keySet = 0;
    EXPECT_EQ(ExportOne(token, name, keySpec, &key, &keySet), S_OK);
    CertificateSpec spec;
    spec.subjectKey = keySet == KEYSETALGORITHM_SM2 ? TestKey::FromSm2Point(key)
                                                     : TestKey::FromRsaPublicDer(key);
    const CertBytes der = TestCa::Shared().Issue(spec);
    EXPECT_FALSE(der.empty());
    return der;
  }
  HRESULT Import(int token, const std::string& name, DWORD keySpec, const CertBytes& der) {
    return m_handle.ImportCertificate(m_dev[token].c_str(), name.c_str(), keySpec, der.data(),
                                      static_cast<DWORD>(der.size()));
  }
  HRESULT Export(int token, const std::string& name, DWORD keySpec, Bytes* der) {
    BYTE* p = nullptr;
    DWORD n = 0;
    const HRESULT hr = m_handle.ExportCertificate(m_dev[token].c_str(), name.c_str(), keySpec, &p, &n);
    *der = Take(p, n);
    return hr;
  }
  // Generates both pairs, SM2, and imports both certificates.
  void CompleteOnTheToken(int token, const std::string& name) {
    ASSERT_EQ(Generate(token, name, AT_SIGNATURE, 256), S_OK);
    ASSERT_EQ(Generate(token, name, AT_KEYEXCHANGE, 256), S_OK);
    ASSERT_EQ(Import(token, name, AT_SIGNATURE, CertificateFor(token, name, AT_SIGNATURE)), S_OK);
    ASSERT_EQ(Import(token, name, AT_KEYEXCHANGE, CertificateFor(token, name, AT_KEYEXCHANGE)),
              S_OK);
  }
};

TEST_F(Certificates, WhatIsImportedIsExported) {
  const struct {
    DWORD bits;
    DWORD keySpec;
  } rows[] = {{256, AT_SIGNATURE}, {2048, AT_SIGNATURE}, {1024, AT_KEYEXCHANGE}};
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.bits << " bits, key specification " << r.keySpec);
    ASSERT_TRUE(Create(0, "cert"));
    ASSERT_EQ(Generate(0, "cert", r.keySpec, r.bits), S_OK);
    const CertBytes der = CertificateFor(0, "cert", r.keySpec);
    ASSERT_EQ(Import(0, "cert", r.keySpec, der), S_OK);
    Bytes exported;
    ASSERT_EQ(Export(0, "cert", r.keySpec, &exported), S_OK);
    EXPECT_EQ(exported, der);

    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, exported.data(),
                                                       static_cast<DWORD>(exported.size()));
    ASSERT_NE(cert, nullptr);
    const CRYPT_BIT_BLOB& certKey = cert->pCertInfo->SubjectPublicKeyInfo.PublicKey;
    Bytes key;
    DWORD keySet = 0;
    EXPECT_EQ(ExportOne(0, "cert", r.keySpec, &key, &keySet), S_OK);
    if (r.bits != 256) {
      // The DER RSAPublicKey is the certificate's public key, byte for byte.
      EXPECT_EQ(key, Bytes(certKey.pbData, certKey.pbData + certKey.cbData));
    }
    CertFreeCertificateContext(cert);
    // The certificate's bit in the token's record and in the list's copy.
    const BYTE bit = r.keySpec == AT_SIGNATURE ? MR_CTNR_SIGN_CERT : MR_CTNR_EXCH_CERT;
    EXPECT_EQ(ListedRecord(0, "cert").byFlag & bit, bit);
    ExpectListAgrees(0, "cert");
  }
}

TEST_F(Certificates, AnExchangeOnlyContainerBecomesAvailable) {
  ASSERT_TRUE(Create(0, "exch"));
  ASSERT_EQ(Generate(0, "exch", AT_KEYEXCHANGE, 1024), S_OK);
  ASSERT_EQ(Import(0, "exch", AT_KEYEXCHANGE, CertificateFor(0, "exch", AT_KEYEXCHANGE)), S_OK);
  EXPECT_EQ(TokenRecord(0, "exch").byFlag, MR_CTNR_AVL_SINGLE);
  EXPECT_EQ(ListedRecord(0, "exch").byFlag, MR_CTNR_AVL_SINGLE);
}

// Both pairs generated on the token: the token layer marks neither the
// exchange key nor, therefore, the container; the second certificate makes
// it available, so the next creation keeps it, keys and certificates.
TEST_F(Certificates, BothPairsGeneratedOnTheTokenMakeAnAvailableContainer) {
  ASSERT_TRUE(Create(0, "both"));
  CompleteOnTheToken(0, "both");
  EXPECT_EQ(TokenRecord(0, "both").byFlag, MR_CTNR_AVL);
  ExpectListAgrees(0, "both");

  ASSERT_TRUE(Create(0, "next"));
  EXPECT_EQ(TokenRecord(0, "both").byFlag, MR_CTNR_AVL);
  Bytes der;
  EXPECT_EQ(Export(0, "both", AT_SIGNATURE, &der), S_OK);
  EXPECT_EQ(Export(0, "both", AT_KEYEXCHANGE, &der), S_OK);
  Bytes first, second;
  EXPECT_EQ(ExportParts(0, "both", AT_KEYEXCHANGE, &first, &second), S_OK);
}

// AlgType follows the signature key; the exchange key's public key is still
// given in its own form.
TEST_F(Certificates, APublicKeyInOneBufferFollowsItsSlot) {
  const struct {
    DWORD signBits, exchBits;
    BYTE algType;
  } rows[] = {{256, 1024, MR_ALG_SM2}, {2048, 256, MR_ALG_RSA2048}};
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.signBits << " and " << r.exchBits);
    ASSERT_TRUE(Create(0, "mixed"));
    ASSERT_EQ(Generate(0, "mixed", AT_SIGNATURE, r.signBits), S_OK);
    ASSERT_EQ(Generate(0, "mixed", AT_KEYEXCHANGE, r.exchBits), S_OK);
    ASSERT_EQ(ListedRecord(0, "mixed").AlgType, r.algType);
    for (DWORD keySpec : {AT_SIGNATURE, AT_KEYEXCHANGE}) {
      const DWORD bits = keySpec == AT_SIGNATURE ? r.signBits : r.exchBits;
      Bytes first, second, one;
      DWORD keySet = 0;
      ASSERT_EQ(ExportParts(0, "mixed", keySpec, &first, &second), S_OK);
      ASSERT_EQ(ExportOne(0, "mixed", keySpec, &one, &keySet), S_OK);
      if (bits == 256) {
        EXPECT_EQ(keySet, static_cast<DWORD>(KEYSETALGORITHM_SM2));
        first.insert(first.end(), second.begin(), second.end());
        EXPECT_EQ(one, first);
      } else {
        EXPECT_EQ(keySet, static_cast<DWORD>(KEYSETALGORITHM_RSA));
        EXPECT_EQ(DecodeRsaPublicKey(one).n, first);
      }
    }
  }
}

// The last frame of WRITE RSA PUBLIC KEY: a 128-byte modulus.
Bytes ModulusFrame(const Bytes& n) {
  Bytes frame = {0xB0, 0x30, 0x02, 0x00, 0x80, 0x00};
  frame.insert(frame.end(), n.begin(), n.end());
  return frame;
}

// A public exponent other than 65537 written straight to the key file:
// the two parts give it as stored, the DER form always 65537.

TEST_F(Certificates, TheOneBufferFormStates65537) {
  ASSERT_TRUE(Create(0, "e3"));
  ASSERT_EQ(Generate(0, "e3", AT_SIGNATURE, 1024), S_OK);
  Bytes n, e;
  ASSERT_EQ(ExportParts(0, "e3", AT_SIGNATURE, &n, &e), S_OK);
  ASSERT_EQ(n.size(), 128u);
  // WRITE RSA PUBLIC KEY: the header (file id low byte first, 128-byte
  // modulus), the exponent 3, the modulus.
  const WORD fid = ListedRecord(0, "e3").SignKeyFID;
  const Bytes frames[] = {
      {0xB0, 0x30, 0x00, 0x00, 0x02, 0x00, static_cast<BYTE>(fid & 0xFF),
       static_cast<BYTE>(fid >> 8)},
      {0xB0, 0x30, 0x01, 0x00, 0x01, 0x00, 0x03},
      ModulusFrame(n)};
  for (const Bytes& frame : frames) {
    BYTE reply[16];
    DWORD replyLen = sizeof reply;
    ASSERT_EQ(SendAPDUCommand(Context(0), frame.data(), static_cast<DWORD>(frame.size()), reply,
                              &replyLen),
              S_OK);
  }
  Bytes n2, e2;
  ASSERT_EQ(ExportParts(0, "e3", AT_SIGNATURE, &n2, &e2), S_OK);
  EXPECT_EQ(n2, n);
  EXPECT_EQ(e2, (Bytes{0x03}));
  Bytes one;
  DWORD keySet = 0;
  ASSERT_EQ(ExportOne(0, "e3", AT_SIGNATURE, &one, &keySet), S_OK);
  const DecodedRsaKey decoded = DecodeRsaPublicKey(one);
  EXPECT_EQ(decoded.n, n);
  EXPECT_EQ(decoded.exponent, 65537u);
}

TEST_F(Certificates, AnEmptySlotHandsOutNothing) {
  ASSERT_TRUE(Create(0, "empty"));
  ASSERT_EQ(Generate(0, "empty", AT_SIGNATURE, 256), S_OK);
  BYTE sentinel = 0;
  BYTE* p = &sentinel;
  DWORD n = 0xDEAD;
  EXPECT_EQ(m_handle.ExportCertificate(m_dev[0].c_str(), "empty", AT_SIGNATURE, &p, &n),
            static_cast<HRESULT>(0x80006A80));
  EXPECT_EQ(p, &sentinel);
  EXPECT_EQ(n, 0xDEADu);
  // No key in the slot: its key length code names none.
  BYTE* q = &sentinel;
  DWORD keySet = 0xDEAD;
  EXPECT_EQ(m_handle.ExportPubKey(m_dev[0].c_str(), "empty", AT_KEYEXCHANGE, &keySet, &q, &n),
            NTE_NO_KEY);
  EXPECT_EQ(q, &sentinel);
  EXPECT_EQ(keySet, 0xDEADu);
}

TEST_F(Certificates, BadArgumentsSendNothing) {
  ASSERT_TRUE(Create(0, "args"));
  ASSERT_EQ(Generate(0, "args", AT_SIGNATURE, 256), S_OK);
  const CertBytes der = CertificateFor(0, "args", AT_SIGNATURE);
  const char* dev = m_dev[0].c_str();
  BYTE* p = nullptr;
  DWORD n = 0;
  BYTE* q = nullptr;
  DWORD m = 0;
  DWORD keySet = 0;
  Commands(0);
  ExpectResults({
      {"export, key specification 0", E_INVALIDARG,
       m_handle.ExportCertificate(dev, "args", 0, &p, &n)},
      {"export, key specification 3", E_INVALIDARG,
       m_handle.ExportCertificate(dev, "args", 3, &p, &n)},
      {"export, no buffer pointer", E_INVALIDARG,
       m_handle.ExportCertificate(dev, "args", AT_SIGNATURE, nullptr, &n)},
      {"export, no length pointer", E_INVALIDARG,
       m_handle.ExportCertificate(dev, "args", AT_SIGNATURE, &p, nullptr)},
      {"export, no device", E_INVALIDARG,
       m_handle.ExportCertificate(nullptr, "args", AT_SIGNATURE, &p, &n)},
      {"export, unknown container", E_FAIL,
       m_handle.ExportCertificate(dev, "missing", AT_SIGNATURE, &p, &n)},
      {"import, key specification 3", E_INVALIDARG,
       m_handle.ImportCertificate(dev, "args", 3, der.data(), static_cast<DWORD>(der.size()))},
      {"import, no certificate", E_INVALIDARG,
       m_handle.ImportCertificate(dev, "args", AT_SIGNATURE, nullptr, 100)},
      {"import, length 0", E_INVALIDARG,
       m_handle.ImportCertificate(dev, "args", AT_SIGNATURE, der.data(), 0)},
      {"import, unknown container", E_FAIL,
       m_handle.ImportCertificate(dev, "missing", AT_SIGNATURE, der.data(),
                                  static_cast<DWORD>(der.size()))},
      {"parts, key specification 0", E_INVALIDARG,
       m_handle.ExportPubKey(dev, "args", 0, &p, &n, &q, &m)},
      {"parts, no second length", E_INVALIDARG,
       m_handle.ExportPubKey(dev, "args", AT_SIGNATURE, &p, &n, &q, nullptr)},
      {"one buffer, key specification 3", E_INVALIDARG,
       m_handle.ExportPubKey(dev, "args", 3, &keySet, &p, &n)},
      {"one buffer, no key-set pointer", E_INVALIDARG,
       m_handle.ExportPubKey(dev, "args", AT_SIGNATURE, nullptr, &p, &n)},
      {"one buffer, no buffer pointer", E_INVALIDARG,
       m_handle.ExportPubKey(dev, "args", AT_SIGNATURE, &keySet, nullptr, &n)},
  });
  EXPECT_TRUE(Commands(0).empty());
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(q, nullptr);
}

}  // namespace
}  // namespace merro::testing
