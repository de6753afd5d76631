// HashHandle against the daemon's token: the digests against OpenSSL's, the
// kept source data, duplicates, an SM3 hash whose data stays on the host
// until the token digests it in one sequence, and the digest streamed to
// the token beyond that bound when a refresh retires its context or
// another digest starts.
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "tests/provider/signing_bench.h"

namespace merro::testing {
namespace {

using provider::HashHandle;
using provider::HASH_SOURCE_DATA_MAX;

class HashHandleTest : public SigningBench {
 protected:
  // An SM3 hash over data whose digest streams to the token from its first
  // byte on (its host bound set to nothing), as a hash beyond the bound.
  std::unique_ptr<HashHandle> StreamedSm3(const Bytes& data) {
    auto hash = NewHash(Sm2(), CALG_SM3);
    hash->m_dwHostDigestMax = 0;
    EXPECT_EQ(hash->Update(data.data(), static_cast<DWORD>(data.size())), S_OK);
    EXPECT_TRUE(hash->DigestStreamsToToken());
    return hash;
  }
};

Bytes Pattern(size_t n, BYTE seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<BYTE>(seed + i * 7);
  }
  return b;
}

Bytes Value(const HashHandle& hash) { return Bytes(hash.m_pHashData, hash.m_pHashData + hash.m_dwHashLen); }

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

// OpenSSL's digest of the software algorithms; SSL3's is SHA-1 then MD5.
Bytes OpenSslDigest(ALG_ID uAlgID, const Bytes& data) {
  switch (uAlgID) {
    case CALG_MD5:
      return Digest(EVP_md5(), data);
    case CALG_SHA1:
      return Digest(EVP_sha1(), data);
    case CALG_SHA_256:
      return Digest(EVP_sha256(), data);
    case CALG_SSL3_SHAMD5:
      return Concat(Digest(EVP_sha1(), data), Digest(EVP_md5(), data));
    default:
      return {};
  }
}

// The token's SM3 digest commands (SM2 key).
constexpr BYTE kInsSm2Digest = 0x81;

bool SentDigestCommand(const std::vector<BYTE>& ins) {
  return std::find(ins.begin(), ins.end(), kInsSm2Digest) != ins.end();
}

TEST_F(HashHandleTest, DigestsEqualOpenSsl) {
  const Bytes data = Pattern(1000);
  struct Case {
    ALG_ID alg;
    DWORD length;
  };
  for (const Case c : {Case{CALG_MD5, 16}, Case{CALG_SHA1, 20}, Case{CALG_SSL3_SHAMD5, 36},
                       Case{CALG_SHA_256, 32}}) {
    SCOPED_TRACE(c.alg);
    auto hash = NewHash(Rsa(), c.alg);
    // In three pieces, one of them empty.
    ASSERT_EQ(hash->Update(data.data(), 300), S_OK);
    ASSERT_EQ(hash->Update(data.data() + 300, 0), S_OK);
    ASSERT_EQ(hash->Update(data.data() + 300, 700), S_OK);
    ASSERT_EQ(hash->Final(), S_OK);
    EXPECT_EQ(hash->m_dwHashLen, c.length);
    EXPECT_EQ(Value(*hash), OpenSslDigest(c.alg, data));
  }
  // SM3 in the token: SM3(Z || M) for the container's signature key.
  auto sm3 = HashOf(Sm2(), CALG_SM3, data);
  ASSERT_EQ(sm3->Final(), S_OK);
  EXPECT_EQ(Value(*sm3), Sm2Digest(data));
}

TEST_F(HashHandleTest, OnlyTheFiveDigestsAreOffered) {
  for (const ALG_ID alg : {ALG_ID{CALG_SHA_512}, ALG_ID{CALG_MD2}, ALG_ID{CALG_MD4},
                           ALG_ID{CALG_MAC}, ALG_ID{CALG_HMAC}}) {
    auto hash = std::make_unique<HashHandle>();
    hash->m_pContainer = &Rsa();
    EXPECT_EQ(hash->Init(alg), NTE_BAD_ALGID) << std::hex << alg;
  }
  EXPECT_TRUE(TakeCommandLog().empty());
}

TEST_F(HashHandleTest, EvenASoftwareDigestNeedsTheTokensAuthentication) {
  DeviceBench::Control("fault 0 sw 6983 ins 82");
  auto hash = std::make_unique<HashHandle>();
  hash->m_pContainer = &Rsa();
  EXPECT_EQ(hash->Init(CALG_MD5), static_cast<HRESULT>(0x80006983));
  EXPECT_EQ(m_trace.Entries("AsymKeyFinal"), 1u);  // the key context made for it went
}

TEST_F(HashHandleTest, AFailedInitLeavesTheRunningDigestAsItWas) {
  const Bytes data = Pattern(64);
  auto hash = HashOf(Rsa(), CALG_SHA1, data);
  DeviceBench::Control("fault 0 sw 6983 ins 82");
  EXPECT_NE(hash->Init(CALG_SHA_256), S_OK);
  DeviceBench::Control("fault 0 clear");
  EXPECT_EQ(hash->m_uAlgID, static_cast<ALG_ID>(CALG_SHA1));
  EXPECT_EQ(hash->m_dwHashLen, 20u);
  ASSERT_EQ(hash->Final(), S_OK);
  EXPECT_EQ(Value(*hash), OpenSslDigest(CALG_SHA1, data));
}

TEST_F(HashHandleTest, TheSourceDataIsKeptWhileItAllFits) {
  const Bytes data = Pattern(HASH_SOURCE_DATA_MAX + 1);
  auto hash = NewHash(Rsa(), CALG_SHA1);
  DWORD at = 0;
  for (const DWORD piece : {1u, 4095u, 10000u, 10480u}) {  // 24576 in all
    ASSERT_EQ(hash->Update(data.data() + at, piece), S_OK);
    at += piece;
  }
  EXPECT_TRUE(hash->m_bSourceDataComplete);
  EXPECT_EQ(hash->m_dwCurrentSourceDataSize, HASH_SOURCE_DATA_MAX);
  EXPECT_EQ(std::memcmp(hash->m_bySourceData, data.data(), HASH_SOURCE_DATA_MAX), 0);

  ASSERT_EQ(hash->Update(data.data() + at, 1), S_OK);
  EXPECT_FALSE(hash->m_bSourceDataComplete);
  EXPECT_EQ(hash->m_dwCurrentSourceDataSize, HASH_SOURCE_DATA_MAX + 1);
  EXPECT_EQ(std::memcmp(hash->m_bySourceData, data.data(), HASH_SOURCE_DATA_MAX), 0);
  ASSERT_EQ(hash->Final(), S_OK);
  EXPECT_EQ(Value(*hash), OpenSslDigest(CALG_SHA1, data));

  // One piece too large is hashed and counted, not copied.
  const Bytes large = Pattern(30000, 9);
  auto single = HashOf(Rsa(), CALG_SHA1, large);
  EXPECT_FALSE(single->m_bSourceDataComplete);
  EXPECT_EQ(single->m_dwCurrentSourceDataSize, 30000u);
  EXPECT_EQ(single->m_bySourceData[0], 0);
  EXPECT_EQ(single->m_bySourceData[HASH_SOURCE_DATA_MAX - 1], 0);
}

TEST_F(HashHandleTest, TheCountSaturatesInsteadOfWrapping) {
  // A count near the top of 32 bits: a 32-bit sum would wrap to a small
  // "complete" size and copy the piece far outside the buffer.
  auto hash = NewHash(Rsa(), CALG_MD5);
  hash->m_dwCurrentSourceDataSize = 0xFFFFFFF0u;
  const Bytes piece = Pattern(32);
  ASSERT_EQ(hash->Update(piece.data(), 32), S_OK);
  EXPECT_EQ(hash->m_dwCurrentSourceDataSize, 0xFFFFFFFFu);
  EXPECT_FALSE(hash->m_bSourceDataComplete);
}

TEST_F(HashHandleTest, FinalOnceOnly) {
  auto hash = HashOf(Rsa(), CALG_SHA_256, Pattern(10));
  ASSERT_EQ(hash->Final(), S_OK);
  const Bytes value = Value(*hash);
  EXPECT_EQ(hash->Final(), NTE_BAD_HASH_STATE);
  EXPECT_EQ(Value(*hash), value);

  auto sm3 = HashOf(Sm2(), CALG_SM3, Pattern(10));
  ASSERT_EQ(sm3->Final(), S_OK);
  TakeCommandLog();
  EXPECT_EQ(sm3->Final(), NTE_BAD_HASH_STATE);
  EXPECT_TRUE(TakeCommandLog().empty());
}

TEST_F(HashHandleTest, SetHashValueTakesTheDigestsLength) {
  auto hash = NewHash(Rsa(), CALG_SSL3_SHAMD5);
  const Bytes value = Pattern(40, 3);
  ASSERT_EQ(hash->SetHashValue(value.data()), S_OK);
  EXPECT_TRUE(hash->m_bFinal);
  EXPECT_TRUE(hash->m_bHashValueSet);
  EXPECT_EQ(Value(*hash), Bytes(value.begin(), value.begin() + 36));
  EXPECT_EQ(hash->SetHashValue(nullptr), E_INVALIDARG);
}

TEST_F(HashHandleTest, ASoftwareContextGoesWithAnUnfinishedHash) {
  auto hash = HashOf(Rsa(), CALG_SHA1, Pattern(10));
  m_trace.Clear();
  hash.reset();
  EXPECT_EQ(m_trace.Entries("HashFinal"), 1u);
  EXPECT_EQ(m_trace.Entries("AsymKeyFinal"), 1u);

  // Finished: HashFinal released it once, the destructor does not again.
  hash = HashOf(Rsa(), CALG_SHA1, Pattern(10));
  ASSERT_EQ(hash->Final(), S_OK);
  m_trace.Clear();
  hash.reset();
  EXPECT_EQ(m_trace.Entries("HashFinal"), 0u);
}

TEST_F(HashHandleTest, ADuplicateOfAFinishedHashHasItsValueOnly) {
  auto source = HashOf(Rsa(), CALG_SHA1, ToBytes(kTavrMessage));
  ASSERT_EQ(source->Final(), S_OK);
  auto copy = NewHash(Rsa(), CALG_SHA1);
  ASSERT_EQ(source->Duplicate(copy.get()), S_OK);
  EXPECT_EQ(Value(*copy), Value(*source));
  EXPECT_TRUE(copy->m_bFinal);
  EXPECT_FALSE(copy->m_bHashValueSet);
  EXPECT_EQ(copy->m_dwCurrentSourceDataSize, 0u);
  EXPECT_EQ(copy->m_pDigestKeyCtx, source->m_pDigestKeyCtx);
  EXPECT_EQ(source->Duplicate(nullptr), E_INVALIDARG);
}

TEST_F(HashHandleTest, ADuplicateOfAnUnfinishedHashCarriesTheEarlierData) {
  const Bytes first = Pattern(100), more = Pattern(50, 77);
  auto source = HashOf(Rsa(), CALG_SHA1, first);
  auto copy = NewHash(Rsa(), CALG_SHA1);
  ASSERT_EQ(source->Duplicate(copy.get()), S_OK);
  EXPECT_FALSE(copy->m_bFinal);
  for (HashHandle* hash : {source.get(), copy.get()}) {
    ASSERT_EQ(hash->Update(more.data(), 50), S_OK);
    ASSERT_EQ(hash->Final(), S_OK);
    EXPECT_EQ(Value(*hash), OpenSslDigest(CALG_SHA1, Concat(first, more)));
  }
}

TEST_F(HashHandleTest, AnUnfinishedHashWhoseDataDidNotFitIsNotDuplicated) {
  auto source = HashOf(Rsa(), CALG_SHA_256, Pattern(HASH_SOURCE_DATA_MAX + 1));
  auto copy = NewHash(Rsa(), CALG_SHA_256);
  EXPECT_EQ(source->Duplicate(copy.get()), NTE_BAD_HASH_STATE);
  // Refused before anything was shared; another algorithm is refused too.
  EXPECT_NE(copy->m_pDigestKeyCtx, source->m_pDigestKeyCtx);
  auto other = NewHash(Rsa(), CALG_MD5);
  EXPECT_EQ(HashOf(Rsa(), CALG_SHA1, Pattern(5))->Duplicate(other.get()), E_INVALIDARG);
}

// Until its value is asked, an SM3 hash sends the token no digest command:
// the token digests the kept data in one sequence then, and the value is
// SM3(Z || M) as before, for data in any number of pieces.
TEST_F(HashHandleTest, AnSm3HashSendsNoDigestCommandUntilItsValueIsAsked) {
  const Bytes data = Pattern(HASH_SOURCE_DATA_MAX + 1000);
  TakeCommandLog();
  auto hash = NewHash(Sm2(), CALG_SM3);
  ASSERT_EQ(hash->Update(data.data(), 1), S_OK);
  ASSERT_EQ(hash->Update(data.data() + 1, 0), S_OK);
  ASSERT_EQ(hash->Update(data.data() + 1, static_cast<DWORD>(data.size() - 1)), S_OK);
  EXPECT_FALSE(SentDigestCommand(TakeCommandLog()));
  EXPECT_TRUE(hash->DigestKeptOnHost());
  EXPECT_EQ(hash->m_pDigestKeyCtx, nullptr);  // no key context held between calls
  EXPECT_EQ(hash->m_dwCurrentSourceDataSize, data.size());
  EXPECT_FALSE(hash->m_bSourceDataComplete);  // the transaction rules' copy is full

  ASSERT_EQ(hash->Final(), S_OK);
  EXPECT_TRUE(SentDigestCommand(TakeCommandLog()));
  EXPECT_EQ(Value(*hash), Sm2Digest(data));
}

// Past the host bound the hash streams to the token: the kept data first,
// then each piece as it comes. A switch that fails leaves the hash as it
// was, so the same piece can be given again.
TEST_F(HashHandleTest, BeyondTheBoundTheDigestStreamsToTheToken) {
  const Bytes first = Pattern(40), more = Pattern(40, 9);
  auto hash = NewHash(Sm2(), CALG_SM3);
  hash->m_dwHostDigestMax = 64;
  ASSERT_EQ(hash->Update(first.data(), 40), S_OK);
  TakeCommandLog();

  DeviceBench::Control("fault 0 sw 6983 ins 82");  // the external authentication
  EXPECT_NE(hash->Update(more.data(), 40), S_OK);
  DeviceBench::Control("fault 0 clear");
  EXPECT_TRUE(hash->DigestKeptOnHost());
  EXPECT_EQ(hash->m_vHostDigestData, first);
  EXPECT_EQ(hash->m_dwCurrentSourceDataSize, 40u);

  ASSERT_EQ(hash->Update(more.data(), 40), S_OK);
  EXPECT_TRUE(SentDigestCommand(TakeCommandLog()));
  EXPECT_TRUE(hash->DigestStreamsToToken());
  EXPECT_TRUE(hash->m_vHostDigestData.empty());
  ASSERT_EQ(hash->Final(), S_OK);
  EXPECT_EQ(Value(*hash), Sm2Digest(Concat(first, more)));
}

// A duplicate of an SM3 hash kept on the host has its own copy of the
// data: the two go on independently, also past what the transaction rules
// keep, and neither holds a key context.
TEST_F(HashHandleTest, AnSm3DuplicateGoesOnWithItsOwnCopy) {
  for (const size_t size : {size_t{100}, size_t{HASH_SOURCE_DATA_MAX + 1}}) {
    SCOPED_TRACE(size);
    const Bytes first = Pattern(size), toSource = Pattern(50, 77), toCopy = Pattern(30, 5);
    auto source = HashOf(Sm2(), CALG_SM3, first);
    auto copy = NewHash(Sm2(), CALG_SM3);
    TakeCommandLog();
    ASSERT_EQ(source->Duplicate(copy.get()), S_OK);
    EXPECT_TRUE(TakeCommandLog().empty());
    EXPECT_FALSE(copy->m_bFinal);
    ASSERT_EQ(copy->Update(toCopy.data(), 30), S_OK);
    ASSERT_EQ(source->Update(toSource.data(), 50), S_OK);
    ASSERT_EQ(copy->Final(), S_OK);
    ASSERT_EQ(source->Final(), S_OK);
    EXPECT_EQ(Value(*source), Sm2Digest(Concat(first, toSource)));
    EXPECT_EQ(Value(*copy), Sm2Digest(Concat(first, toCopy)));
    EXPECT_EQ(copy->m_pDigestKeyCtx, nullptr);
  }
}

TEST_F(HashHandleTest, AStreamedSm3DuplicateSharesTheTokensDigestAndReleasesItOnce) {
  const Bytes first = Pattern(100), more = Pattern(50, 77);
  for (const bool sourceFirst : {true, false}) {
    SCOPED_TRACE(sourceFirst ? "source destroyed first" : "duplicate destroyed first");
    auto source = StreamedSm3(first);
    auto copy = NewHash(Sm2(), CALG_SM3);
    m_trace.Clear();
    ASSERT_EQ(source->Duplicate(copy.get()), S_OK);
    EXPECT_EQ(m_trace.Entries("AsymKeyFinal"), 0u);  // the duplicate held none of its own
    // Both drive the one digest on the token, which still holds the data
    // hashed before the duplicate started.
    ASSERT_EQ(copy->Update(more.data(), 50), S_OK);
    ASSERT_EQ(source->Final(), S_OK);
    EXPECT_EQ(Value(*source), Sm2Digest(Concat(first, more)));

    m_trace.Clear();
    (sourceFirst ? source : copy).reset();
    EXPECT_EQ(m_trace.Entries("AsymKeyFinal"), 0u);
    (sourceFirst ? copy : source).reset();
    EXPECT_EQ(m_trace.Entries("AsymKeyFinal"), 1u);
  }
}

// A refresh of the device list between calls: a hash kept on the host goes
// on (it holds no token context); a streamed one has lost its digest with
// the retired context and fails cleanly without a command.
TEST_F(HashHandleTest, ARefreshRetiresOnlyAStreamedDigest) {
  const Bytes data = Pattern(20), more = Pattern(20, 5);
  auto kept = HashOf(Sm2(), CALG_SM3, data);
  auto streamed = StreamedSm3(data);
  ASSERT_EQ(g_pDeviceHandle->UpdateContainer(), S_OK);
  m_trace.Clear();
  TakeCommandLog();
  EXPECT_EQ(streamed->Update(more.data(), 20), NTE_BAD_HASH_STATE);
  EXPECT_EQ(streamed->Final(), NTE_BAD_HASH_STATE);
  EXPECT_TRUE(TakeCommandLog().empty());
  EXPECT_EQ(m_trace.Entries("mr_CloseDevice"), 0u);  // the hash still holds the old context
  streamed.reset();
  EXPECT_EQ(m_trace.Entries("AsymKeyFinal"), 1u);
  EXPECT_EQ(m_trace.Entries("mr_CloseDevice"), 1u);

  ASSERT_EQ(kept->Update(more.data(), 20), S_OK);
  ASSERT_EQ(kept->Final(), S_OK);
  EXPECT_EQ(Value(*kept), Sm2Digest(Concat(data, more)));
}

// Two SM3 hashes open at once on one token (hash A, hash B, sign A, sign
// B): kept on the host, both sign their own data. Streamed, the token
// holds one digest: once B is signed, A fails with a clear code and
// writes nothing.
TEST_F(HashHandleTest, TwoSm3HashesOpenAtOnce) {
  const Bytes dataA = Pattern(40), dataB = Pattern(40, 99);
  for (const bool streamed : {false, true}) {
    SCOPED_TRACE(streamed ? "streamed" : "kept on the host");
    auto hashA = streamed ? StreamedSm3(dataA) : HashOf(Sm2(), CALG_SM3, dataA);
    auto hashB = streamed ? StreamedSm3(dataB) : HashOf(Sm2(), CALG_SM3, dataB);
    auto key = SignatureKey(Sm2());
    Bytes signatureA(64, 0xAB), signatureB(64, 0xAB);
    const auto sign = [&](HashHandle* hash, Bytes* signature) {
      DWORD length = 64;
      m_ui->Push("pin 47193628");
      return key->SignHashData(hash, signature->data(), &length);
    };
    HRESULT hrA = S_OK;
    if (!streamed) {
      hrA = sign(hashA.get(), &signatureA);
    }
    ASSERT_EQ(sign(hashB.get(), &signatureB), S_OK);
    EXPECT_TRUE(Sm2Verifies(dataB, signatureB));
    if (streamed) {
      hrA = sign(hashA.get(), &signatureA);
      EXPECT_TRUE(FAILED(hrA)) << std::hex << hrA;
      EXPECT_EQ(signatureA, Bytes(64, 0xAB));
      continue;
    }
    ASSERT_EQ(hrA, S_OK);
    EXPECT_TRUE(Sm2Verifies(dataA, signatureA));
    EXPECT_EQ(Value(*hashA), Sm2Digest(dataA));
    EXPECT_EQ(Value(*hashB), Sm2Digest(dataB));
  }
}

}  // namespace
}  // namespace merro::testing
