// The public token API end to end against the merro-tokensim daemon,
// natively and from the Windows build under Wine: the token is reached
// through the entry points only, over the transport that MERRO_TOKEN_SIM
// selects. Run by run-with-tokensim, which starts the daemon with two
// tokens. The control channel only provisions the token (what the factory
// would have done).
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_certificates.h"
#include "tests/tokenapi/support/file_description.h"
#include "tests/tokenapi/support/key_blobs.h"
#include "tokenapi/api/token_api.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/crypto/sm2/sm2_api.h"
#include "tokenapi/transport/sim/sim_transport.h"

namespace {

using Bytes = std::vector<BYTE>;
using merro::testing::CertificateSpec;
using merro::testing::FileDescription;
using merro::testing::TestCa;
using merro::testing::TestKey;

constexpr char kFactoryPin[] = "905172";
constexpr WORD kScratchFile = 0x0B01;

std::string Control(const std::string& command) {
  std::string answer;
  const char* sim = std::getenv("MERRO_TOKEN_SIM");
  EXPECT_EQ(merro::sim::SimControl(merro::sim::TcpChannelFactory(sim != nullptr ? sim : ""),
                                   command, &answer),
            0)
      << command << ": " << answer;
  return answer;
}

// The names in a packed list: each name and its zero byte, then a zero.
std::vector<std::string> Names(const Bytes& list) {
  std::vector<std::string> names;
  for (size_t at = 0; at < list.size() && list[at] != 0;) {
    names.emplace_back(reinterpret_cast<const char*>(&list[at]));
    at += names.back().size() + 1;
  }
  return names;
}

Bytes EvpDigest(const EVP_MD* md, const Bytes& data) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned len = 0;
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), out.data(), &len, md, nullptr), 1);
  out.resize(len);
  return out;
}

template <class T, void (*F)(T*)>
struct Freer {
  void operator()(T* p) const { F(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;

// An OpenSSL key from an RSA public key as the token exports it.
PkeyPtr RsaPublicKey(const RSA_KEY& pub) {
  BIGNUM* n = BN_bin2bn(pub.n, static_cast<int>(pub.nLen), nullptr);
  BIGNUM* e = BN_bin2bn(pub.e, static_cast<int>(pub.eLen), nullptr);
  OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, n);
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, e);
  OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* key = nullptr;
  const bool ok = ctx && EVP_PKEY_fromdata_init(ctx.get()) == 1 &&
                  EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) == 1;
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(bld);
  BN_free(n);
  BN_free(e);
  return ok ? PkeyPtr(key) : nullptr;
}

// r || s (32 bytes each) as the DER signature OpenSSL verifies.
Bytes DerSignature(const BYTE* rs) {
  ECDSA_SIG* sig = ECDSA_SIG_new();
  ECDSA_SIG_set0(sig, BN_bin2bn(rs, 32, nullptr), BN_bin2bn(rs + 32, 32, nullptr));
  unsigned char* der = nullptr;
  const int len = i2d_ECDSA_SIG(sig, &der);
  Bytes out(der, der + (len > 0 ? len : 0));
  OPENSSL_free(der);
  ECDSA_SIG_free(sig);
  return out;
}

// OpenSSL's SM2 verification of a signature over a digest e.
bool OpenSslVerifiesSm2Digest(EVP_PKEY* key, const BYTE* e, const BYTE* rs) {
  const Bytes der = DerSignature(rs);
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
  return ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
         EVP_PKEY_verify(ctx.get(), der.data(), der.size(), e, 32) == 1;
}

// OpenSSL's SM2 verification of a signature over a message, with the
// default identity.
bool OpenSslVerifiesSm2Message(EVP_PKEY* key, const Bytes& message, const BYTE* rs) {
  const Bytes der = DerSignature(rs);
  MdCtxPtr md(EVP_MD_CTX_new());
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
  if (!md || !ctx || EVP_PKEY_CTX_set1_id(ctx.get(), "1234567812345678", 16) != 1) {
    return false;
  }
  EVP_MD_CTX_set_pkey_ctx(md.get(), ctx.get());
  return EVP_DigestVerifyInit(md.get(), nullptr, EVP_sm3(), nullptr, key) == 1 &&
         EVP_DigestVerify(md.get(), der.data(), der.size(), message.data(), message.size()) == 1;
}

bool OpenSslVerifiesRsa(EVP_PKEY* key, const EVP_MD* md, const Bytes& message, const Bytes& sig) {
  MdCtxPtr ctx(EVP_MD_CTX_new());
  return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) == 1 &&
         EVP_DigestVerify(ctx.get(), sig.data(), sig.size(), message.data(), message.size()) == 1;
}

class ApiDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("MERRO_TOKEN_SIM"), nullptr) << "run under run-with-tokensim";
    DWORD len = 0;
    ASSERT_EQ(EnumDevice(nullptr, &len), 0);  // size query
    ASSERT_GT(len, 0u);
    Bytes list(len);
    ASSERT_EQ(EnumDevice(list.data(), &len), 0);
    m_names = Names(list);
    ASSERT_EQ(m_names.size(), 2u);
    Control("provision 0");
    ASSERT_EQ(OpenDevice(m_names[0].c_str(), &m_ctx), 0);
    ASSERT_NE(m_ctx, nullptr);
  }
  void TearDown() override {
    if (m_ctx != nullptr) {
      EXPECT_EQ(CloseDevice(m_ctx), 0);
    }
  }

  Bytes ReadFile(WORD id, DWORD len) {
    BYTE info[MR_FILE_INFO_LEN];
    EXPECT_EQ(SelectFile(m_ctx, MR_SELECT_BY_ID, id, info), 0);
    Bytes data(len);
    EXPECT_EQ(ReadCosFile(m_ctx, 0, data.data(), &len), 0);
    data.resize(len);
    return data;
  }

  std::vector<std::string> m_names;
  DEV_CTX* m_ctx = nullptr;
};

// A token without keys cannot be opened, and no context is handed out.
TEST_F(ApiDaemon, UnprovisionedTokenIsNotOpened) {
  DEV_CTX* other = reinterpret_cast<DEV_CTX*>(this);
  EXPECT_LT(OpenDevice(m_names[1].c_str(), &other), 0);
  EXPECT_EQ(other, nullptr);
}

TEST_F(ApiDaemon, DeviceInformationAndSerialNumbers) {
  DEVICE_INFO info{};
  info.Mask = MR_DEVINFO_PART01 | MR_DEVINFO_PART02 | MR_DEVINFO_COS_VERSION | MR_DEVINFO_PART08 |
              MR_DEVINFO_PART10;
  ASSERT_EQ(GetDeviceInfo(m_ctx, &info), 0);
  EXPECT_EQ(info.dwPart01Len, 4u);
  EXPECT_STRNE(info.szCosVersion, "");

  BYTE sn[MR_CHIP_SN_LEN + 1];
  DWORD snLen = sizeof sn;
  ASSERT_EQ(GetChipSN(m_ctx, sn, &snLen), 0);
  EXPECT_EQ(snLen, MR_CHIP_SN_LEN);
  // The same command as a raw frame.
  const BYTE frame[6] = {0xB0, 0x93, 0x00, 0x00, 0x00, 0x08};
  BYTE reply[256];
  DWORD replyLen = sizeof reply;
  ASSERT_EQ(SendAPDUCommand(m_ctx, frame, sizeof frame, reply, &replyLen), 0);
  EXPECT_EQ(Bytes(reply, reply + replyLen), Bytes(sn, sn + MR_CHIP_SN_LEN));

  const BYTE label[] = {'T', 'o', 'k', 'e', 'n', '-', '1'};
  ASSERT_EQ(SetDevLabel(m_ctx, label, sizeof label), 0);
  BYTE back[MR_TOKEN_SN_MAX + 1];
  DWORD backLen = sizeof back;
  ASSERT_EQ(GetTokenSN(m_ctx, back, &backLen), 0);
  EXPECT_EQ(Bytes(back, back + backLen), Bytes(label, label + sizeof label));
  EXPECT_EQ(ResetDevice(m_ctx), 0);
  EXPECT_EQ(ExternalAuth(m_ctx, 0x33), 0);
}

// Two bytes of name come back as the two bytes and 30 spaces in the file;
// bytes 32-159 stay as they were.
TEST_F(ApiDaemon, TokenName) {
  // Initialisation makes the file; on a token without it, make it here.
  const Bytes desc = FileDescription(MR_TOKEN_INFO_FID, 512);
  const HRESULT created = CreateCosFile(m_ctx, desc.data());
  ASSERT_TRUE(created == 0 || created == static_cast<HRESULT>(0x80006A89)) << std::hex << created;
  Bytes pattern(MR_TOKEN_INFO_LEN);
  for (size_t i = 0; i < pattern.size(); ++i) {
    pattern[i] = static_cast<BYTE>(i * 3 + 1);
  }
  BYTE info[MR_FILE_INFO_LEN];
  ASSERT_EQ(SelectFile(m_ctx, MR_SELECT_BY_ID, MR_TOKEN_INFO_FID, info), 0);
  ASSERT_EQ(WriteCosFile(m_ctx, 0, pattern.data(), MR_TOKEN_INFO_LEN), 0);

  const BYTE name[] = {'Q', 'x'};
  ASSERT_EQ(SetTokenName(m_ctx, name, sizeof name), 0);
  DWORD len = 0;
  ASSERT_EQ(GetTokenName(m_ctx, nullptr, &len), 0);
  EXPECT_EQ(len, 2u);
  BYTE out[MR_TOKEN_NAME_MAX];
  len = sizeof out;
  ASSERT_EQ(GetTokenName(m_ctx, out, &len), 0);
  EXPECT_EQ(Bytes(out, out + len), Bytes(name, name + 2));

  Bytes expected = pattern;
  std::memset(expected.data(), ' ', MR_TOKEN_NAME_MAX);
  std::memcpy(expected.data(), name, sizeof name);
  EXPECT_EQ(ReadFile(MR_TOKEN_INFO_FID, MR_TOKEN_INFO_LEN), expected);

  const Bytes tooLong(33, 'L');
  EXPECT_EQ(static_cast<std::uint32_t>(SetTokenName(m_ctx, tooLong.data(), 33)), 0x80070004u);
  EXPECT_EQ(ReadFile(MR_TOKEN_INFO_FID, MR_TOKEN_INFO_LEN), expected);
}

TEST_F(ApiDaemon, PinAndSessionKey) {
  const BYTE* pin = reinterpret_cast<const BYTE*>(kFactoryPin);
  EXPECT_EQ(static_cast<std::uint32_t>(VerifyPIN(m_ctx, 1, pin, 5)), 0x80070001u);
  ASSERT_EQ(SetSessionKey(m_ctx), 0);
  ASSERT_EQ(VerifyPIN(m_ctx, 1, pin, 6), 0);
  BYTE times = 0, status = 0, modified = 0;
  ASSERT_EQ(GetPINStatus(m_ctx, 1, &times, &status, &modified), 0);
  EXPECT_EQ(status, 0x11);
}

TEST_F(ApiDaemon, RandomBytes) {
  BYTE token[128];
  BYTE soft[128];
  ASSERT_EQ(GenerateRandom(m_ctx, RANDOM_FLAG_KEY, 128, token), 0);
  ASSERT_EQ(GenerateRandom(m_ctx, RANDOM_FLAG_SOFT, 128, soft), 0);
  EXPECT_NE(std::memcmp(token, soft, sizeof token), 0);
  EXPECT_EQ(static_cast<std::uint32_t>(GenerateRandom(m_ctx, RANDOM_FLAG_KEY, 129, token)),
            0x80070001u);
}

// Hashes and ciphers on the host through their contexts, against OpenSSL.
TEST_F(ApiDaemon, HashAndSymmetricContexts) {
  Bytes data(1000);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<BYTE>(i);
  }
  struct {
    BYTE type;
    const EVP_MD* md;
  } const hashes[] = {
      {MR_ALG_SHA256, EVP_sha256()}, {MR_ALG_SM3, EVP_sm3()}, {MR_ALG_MD5, EVP_md5()}};
  for (const auto& h : hashes) {
    HASH_HANDLE* hash = nullptr;
    ASSERT_EQ(HashInit(m_ctx, h.type, &hash), 0);
    ASSERT_EQ(HashUpdate(hash, data.data(), 333), 0);
    ASSERT_EQ(HashUpdate(hash, data.data() + 333, 667), 0);
    BYTE digest[64];
    DWORD digestLen = sizeof digest;
    ASSERT_EQ(HashFinal(hash, digest, &digestLen), 0);
    EXPECT_EQ(Bytes(digest, digest + digestLen), EvpDigest(h.md, data)) << int(h.type);
  }

  BYTE key[16];
  BYTE iv[16];
  ASSERT_EQ(GenerateRandom(m_ctx, RANDOM_FLAG_SOFT, 16, key), 0);
  ASSERT_EQ(GenerateRandom(m_ctx, RANDOM_FLAG_SOFT, 16, iv), 0);
  Bytes cipher(data.size() + 16);
  DWORD cipherLen = 0;
  {
    SYMKEY_HANDLE* enc = nullptr;
    ASSERT_EQ(SymKeyInit(m_ctx, MR_ALG_SM4, MR_CRYPTO_ENC, MR_MODE_CBC, key, iv, &enc), 0);
    DWORD n = static_cast<DWORD>(cipher.size());
    ASSERT_EQ(SymKeyUpdate(enc, data.data(), static_cast<DWORD>(data.size()), cipher.data(), &n),
              0);
    DWORD last = static_cast<DWORD>(cipher.size()) - n;
    ASSERT_EQ(SymKeyFinal(enc, cipher.data() + n, &last), 0);
    cipherLen = n + last;
  }
  EXPECT_EQ(cipherLen, 1008u);
  // OpenSSL decrypts it (PKCS#7 padding).
  {
    EVP_CIPHER_CTX* evp = EVP_CIPHER_CTX_new();
    ASSERT_EQ(EVP_DecryptInit_ex(evp, EVP_sm4_cbc(), nullptr, key, iv), 1);
    Bytes plain(cipherLen + 16);
    int n = 0, last = 0;
    ASSERT_EQ(EVP_DecryptUpdate(evp, plain.data(), &n, cipher.data(), static_cast<int>(cipherLen)),
              1);
    ASSERT_EQ(EVP_DecryptFinal_ex(evp, plain.data() + n, &last), 1);
    plain.resize(n + last);
    EVP_CIPHER_CTX_free(evp);
    EXPECT_EQ(plain, data);
  }
  // And back through the API.
  SYMKEY_HANDLE* dec = nullptr;
  ASSERT_EQ(SymKeyInit(m_ctx, MR_ALG_SM4, MR_CRYPTO_DEC, MR_MODE_CBC, key, iv, &dec), 0);
  Bytes plain(cipherLen + 16);
  DWORD n = static_cast<DWORD>(plain.size());
  ASSERT_EQ(SymKeyUpdate(dec, cipher.data(), cipherLen, plain.data(), &n), 0);
  DWORD last = static_cast<DWORD>(plain.size()) - n;
  ASSERT_EQ(SymKeyFinal(dec, plain.data() + n, &last), 0);
  plain.resize(n + last);
  EXPECT_EQ(plain, data);
}

TEST_F(ApiDaemon, FlashAndFiles) {
  Bytes page(600);
  for (size_t i = 0; i < page.size(); ++i) {
    page[i] = static_cast<BYTE>(i * 5);
  }
  // Pages of 256 bytes from page 4; units of 128 bytes from unit 8 (the
  // same position).
  ASSERT_EQ(WriteFlash(m_ctx, 4, page.data(), static_cast<DWORD>(page.size())), 0);
  Bytes back(page.size());
  ASSERT_EQ(ReadFlash(m_ctx, 8, back.data(), static_cast<DWORD>(back.size())), 0);
  EXPECT_EQ(back, page);
  ASSERT_EQ(EraseFlash(m_ctx), 0);
  ASSERT_EQ(ReadFlash(m_ctx, 8, back.data(), 16), 0);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 16), Bytes(16, 0xFF));

  const Bytes desc = FileDescription(kScratchFile, 300);
  ASSERT_EQ(CreateCosFile(m_ctx, desc.data()), 0);
  BYTE info[MR_FILE_INFO_LEN];
  ASSERT_EQ(SelectFile(m_ctx, MR_SELECT_BY_ID, kScratchFile, info), 0);
  EXPECT_EQ(Bytes(info, info + MR_FILE_INFO_LEN), desc);
  const Bytes content(page.begin(), page.begin() + 300);
  ASSERT_EQ(WriteCosFile(m_ctx, 0, content.data(), 300), 0);
  EXPECT_EQ(ReadFile(kScratchFile, 300), content);
  ASSERT_EQ(EraseCosFile(m_ctx, MR_SELECT_BY_ID, kScratchFile), 0);
  EXPECT_EQ(ReadFile(kScratchFile, 16), Bytes(16, 0xFF));
  ASSERT_EQ(DeleteCosFile(m_ctx, 0x00, kScratchFile), 0);
  EXPECT_LT(SelectFile(m_ctx, MR_SELECT_BY_ID, kScratchFile, info), 0);
}

// The token initialised through the API, a container with an SM2 and an
// RSA key pair generated on the token, a certificate in and out, signatures
// made on the token and verified on the host and by OpenSSL, encryption on
// the host and decryption on the token.
// SM2 pairs in both forms a producer above the library makes for the
// token's key file 0x0012 (wrapped under an SM4 key, or encrypted whole)
// import through the API and land as given.
TEST_F(ApiDaemon, WrappedAndEncryptedSm2PairsImport) {
  ASSERT_EQ(EraseMF(m_ctx), 0);
  ASSERT_EQ(InitTokenFile(m_ctx), 0);
  CONTAINER_RECORD record{};
  std::strcpy(record.szContainerName, "api-import");
  ASSERT_EQ(CreateContainer(m_ctx, &record), 0);
  BYTE tokenPublic[64];
  ASSERT_EQ(merro::testing::TokenWrapPublicKey(m_ctx, tokenPublic), 0);
  BYTE sm4Key[16];
  ASSERT_EQ(GenerateRandom(m_ctx, RANDOM_FLAG_SOFT, sizeof sm4Key, sm4Key), 0);
  for (const WORD fid : {record.ExchangeKeyFID, record.SignKeyFID}) {
    BYTE xyd[96];
    ASSERT_EQ(merro::crypto::SM2_GenKey(xyd), 0);
    SM2_KEY pair;
    std::memcpy(pair.x, xyd, 32);
    std::memcpy(pair.y, xyd + 32, 32);
    std::memcpy(pair.d, xyd + 64, 32);
    const Bytes blob = fid == record.ExchangeKeyFID
                           ? merro::testing::WrappedSm2Pair(tokenPublic, sm4Key, pair)
                           : merro::testing::EncryptedSm2Pair(tokenPublic, pair);
    ASSERT_EQ(ImportKeyPair(m_ctx, MR_ALG_SM2, fid, blob.data(), static_cast<DWORD>(blob.size()), nullptr), 0)
        << blob.size();
    BYTE exported[64];
    ASSERT_EQ(ExportPublicKey(m_ctx, MR_ALG_SM2, fid, exported), 0);
    EXPECT_EQ(Bytes(exported, exported + 64), Bytes(pair.x, pair.x + 64));
  }
}

TEST_F(ApiDaemon, ContainersKeysCertificatesAndSigning) {
  ASSERT_EQ(EraseMF(m_ctx), 0);
  ASSERT_EQ(InitTokenFile(m_ctx), 0);
  const BYTE* pin = reinterpret_cast<const BYTE*>(kFactoryPin);
  ASSERT_EQ(SetSessionKey(m_ctx), 0);
  ASSERT_EQ(VerifyPIN(m_ctx, 1, pin, 6), 0);

  // A container with an SM2 key pair and its certificate, made available;
  // a half-built container would be reclaimed by the next creation.
  CONTAINER_RECORD sm2{};
  std::strcpy(sm2.szContainerName, "api-e2e-sm2");
  ASSERT_EQ(CreateContainer(m_ctx, &sm2), 0);
  BYTE sm2Pub[64];
  ASSERT_EQ(GenerateKeyPair(m_ctx, MR_ALG_SM2, sm2.SignKeyFID, sm2Pub), 0);
  BYTE exported[64];
  ASSERT_EQ(ExportPublicKey(m_ctx, MR_ALG_SM2, sm2.SignKeyFID, exported), 0);
  EXPECT_EQ(Bytes(exported, exported + 64), Bytes(sm2Pub, sm2Pub + 64));
  const TestKey sm2Key = TestKey::FromSm2Point(Bytes(sm2Pub, sm2Pub + 64));
  ASSERT_TRUE(sm2Key);
  CertificateSpec spec;
  spec.subjectKey = sm2Key;
  const Bytes cert = TestCa::Shared().Issue(spec);
  ASSERT_FALSE(cert.empty());
  ASSERT_EQ(ImportCert(m_ctx, sm2.SignCertFID, cert.data(), static_cast<DWORD>(cert.size())), 0);
  Bytes certBack(MR_CERT_MAX_LEN);
  DWORD certLen = MR_CERT_MAX_LEN;
  ASSERT_EQ(ExportCert(m_ctx, sm2.SignCertFID, certBack.data(), &certLen), 0);
  certBack.resize(certLen);
  EXPECT_EQ(certBack, cert);
  ASSERT_EQ(EnableContainer(m_ctx, "api-e2e-sm2", 11), 0);
  CONTAINER_RECORD read{};
  std::strcpy(read.szContainerName, "api-e2e-sm2");
  ASSERT_EQ(ReadContainer(m_ctx, &read), 0);
  EXPECT_EQ(read.byFlag, MR_CTNR_AVL);

  // A second container with an RSA-1024 key pair.
  CONTAINER_RECORD rsa{};
  std::strcpy(rsa.szContainerName, "api-e2e-rsa");
  ASSERT_EQ(CreateContainer(m_ctx, &rsa), 0);
  auto rsaPub = std::make_unique<RSA_KEY>();
  ASSERT_EQ(GenerateKeyPair(m_ctx, MR_ALG_RSA1024, rsa.SignKeyFID, rsaPub.get()), 0);
  EXPECT_EQ(rsaPub->nLen, 128u);
  ASSERT_EQ(EnableContainer(m_ctx, "api-e2e-rsa", 11), 0);
  CONTAINER_RECORD list[4];
  DWORD count = 4;
  ASSERT_EQ(EnumContainer(m_ctx, list, &count), 0);
  EXPECT_EQ(count, 2u);
  // Without an array: the number of containers alone.
  count = 0;
  ASSERT_EQ(EnumContainer(m_ctx, nullptr, &count), 0);
  EXPECT_EQ(count, 2u);

  // SM2: a digest signed on the token.
  void* key = nullptr;
  ASSERT_EQ(AsymKeyInit(m_ctx, MR_ALG_SM2, sm2.SignKeyFID, &key), 0);
  EXPECT_EQ(AsymKeyDevCtx(key), m_ctx) << "a key context names the token context it was made on";
  EXPECT_EQ(AsymKeyDevCtx(nullptr), nullptr);
  BYTE e[32];
  ASSERT_EQ(GenerateRandom(m_ctx, RANDOM_FLAG_SOFT, 32, e), 0);
  BYTE sig[64];
  DWORD sigLen = sizeof sig;
  ASSERT_EQ(SignDigest(key, e, 32, sig, &sigLen), 0);
  ASSERT_EQ(sigLen, 64u);
  EXPECT_EQ(VerifySignature(key, 0, e, 32, sig, 64), 0);
  EXPECT_TRUE(OpenSslVerifiesSm2Digest(sm2Key.Get(), e, sig));
  sig[5] ^= 1;
  EXPECT_LT(VerifySignature(key, 0, e, 32, sig, 64), 0);

  // SM2: a message hashed on the token (Z with the default identity).
  Bytes message(300);
  for (size_t i = 0; i < message.size(); ++i) {
    message[i] = static_cast<BYTE>('a' + i % 26);
  }
  ASSERT_EQ(DigestInit(key, MR_ALG_SM3), 0);
  ASSERT_EQ(DigestUpdate(key, message.data(), 100), 0);
  ASSERT_EQ(DigestUpdate(key, message.data() + 100, 200), 0);
  BYTE digest[32];
  DWORD digestLen = sizeof digest;
  ASSERT_EQ(DigestFinal(key, digest, &digestLen), 0);
  sigLen = sizeof sig;
  ASSERT_EQ(SignDataResult(key, sig, &sigLen), 0);
  EXPECT_EQ(VerifySignature(key, MR_ALG_SM3, digest, digestLen, sig, sigLen), 0);
  EXPECT_TRUE(OpenSslVerifiesSm2Message(sm2Key.Get(), message, sig));

  // SM2: encryption on the host, decryption on the token.
  const Bytes secret(20, 0x5A);
  BYTE cipher[20 + 97];
  DWORD cipherLen = sizeof cipher;
  ASSERT_EQ(PubkeyEnc(key, secret.data(), 20, cipher, &cipherLen), 0);
  BYTE plain[64];
  DWORD plainLen = sizeof plain;
  ASSERT_EQ(PrikeyDec(key, cipher, cipherLen, plain, &plainLen), 0);
  EXPECT_EQ(Bytes(plain, plain + plainLen), secret);

  // SM2: display signing, confirmed and refused on the token's buttons.
  Control("button 0 ok");
  sigLen = sizeof sig;
  EXPECT_EQ(SignXML(key, MR_ALG_SM3, message.data(), 64, sig, &sigLen), 0);
  Control("button 0 cancel");
  sigLen = sizeof sig;
  EXPECT_EQ(static_cast<std::uint32_t>(SignXML(key, MR_ALG_SM3, message.data(), 64, sig, &sigLen)),
            0x8000FF06u);
  EXPECT_EQ(AsymKeyFinal(key), 0);

  // RSA-1024: a message hashed on the token (SHA-1), PKCS#1 v1.5.
  ASSERT_EQ(SetSessionKey(m_ctx), 0);
  ASSERT_EQ(VerifyPIN(m_ctx, 1, pin, 6), 0);
  void* rsaKey = nullptr;
  ASSERT_EQ(AsymKeyInit(m_ctx, MR_ALG_RSA1024, rsa.SignKeyFID, &rsaKey), 0);
  ASSERT_EQ(DigestInit(rsaKey, MR_ALG_SHA1), 0);
  ASSERT_EQ(DigestUpdate(rsaKey, message.data(), static_cast<DWORD>(message.size())), 0);
  BYTE sha1[20];
  DWORD sha1Len = sizeof sha1;
  ASSERT_EQ(DigestFinal(rsaKey, sha1, &sha1Len), 0);
  EXPECT_EQ(Bytes(sha1, sha1 + sha1Len), EvpDigest(EVP_sha1(), message));
  Bytes rsaSig(128);
  DWORD rsaSigLen = 128;
  ASSERT_EQ(SignDataResult(rsaKey, rsaSig.data(), &rsaSigLen), 0);
  ASSERT_EQ(rsaSigLen, 128u);
  EXPECT_EQ(VerifySignature(rsaKey, MR_ALG_SHA1, sha1, sha1Len, rsaSig.data(), 128), 0);
  const PkeyPtr rsaOssl = RsaPublicKey(*rsaPub);
  ASSERT_TRUE(rsaOssl);
  EXPECT_TRUE(OpenSslVerifiesRsa(rsaOssl.get(), EVP_sha1(), message, rsaSig));
  EXPECT_EQ(AsymKeyFinal(rsaKey), 0);

  // Deleting needs the verified PIN, which the token still holds.
  ASSERT_EQ(DeleteContainer(m_ctx, "api-e2e-rsa", 11), 0);
  count = 4;
  ASSERT_EQ(EnumContainer(m_ctx, list, &count), 0);
  EXPECT_EQ(count, 1u);
}

}  // namespace
