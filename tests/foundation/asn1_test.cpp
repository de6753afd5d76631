// The ASN.1 engine: decoding rules and limits, DER building, tree encoding,
// and agreement with OpenSSL.
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/asn1/asn1_compose.h"
#include "foundation/asn1/asn1_node.h"
#include "foundation/result.h"
#include "tests/foundation/asn1_reference.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using merro::test::Element;
using merro::test::Verdict;

Bytes Hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

// Takes ownership of an engine buffer.
Bytes Adopt(BYTE* p, DWORD n) {
  const std::unique_ptr<BYTE[]> owner(p);
  return Bytes(p, p + n);
}

int Decode(const Bytes& in, std::unique_ptr<ASN1Node>* root) {
  return DecodeASN1FromMemory(in.data(), static_cast<int>(in.size()), root);
}

// A stream holding the octets, positioned at its start.
struct TempStream {
  explicit TempStream(const Bytes& content) : file(std::tmpfile()) {
    if (file != nullptr && !content.empty()) {
      std::fwrite(content.data(), 1, content.size(), file);
    }
    if (file != nullptr) {
      std::rewind(file);
    }
  }
  ~TempStream() {
    if (file != nullptr) {
      std::fclose(file);
    }
  }
  FILE* file;
};

HRESULT EncodeTree(const ASN1Node& node, Bytes* out, DWORD* counter = nullptr) {
  BYTE* p = nullptr;
  DWORD n = 0;
  const HRESULT hr = EncodeASN1ToMemory(&node, &p, &n, counter);
  if (hr == S_OK) {
    *out = Adopt(p, n);
  } else {
    EXPECT_EQ(p, nullptr);
  }
  return hr;
}

Bytes Repeat(const Bytes& unit, size_t count) {
  Bytes out;
  for (size_t i = 0; i < count; ++i) {
    out.insert(out.end(), unit.begin(), unit.end());
  }
  return out;
}

// SEQUENCE of `count` NULL values, with a definite DER length.
Bytes SequenceOfNulls(size_t count) {
  const Bytes content = Repeat(Hex("05 00"), count);
  BYTE* p = nullptr;
  DWORD n = 0;
  EXPECT_EQ(ASN1Encode(0x30, content.data(), static_cast<int>(content.size()), &p, &n), S_OK);
  return Adopt(p, n);
}

// `depth` SEQUENCEs nested in one another around a NULL.
Bytes NestedSequences(size_t depth) {
  Bytes inner = Hex("05 00");
  for (size_t i = 0; i < depth; ++i) {
    BYTE* p = nullptr;
    DWORD n = 0;
    EXPECT_EQ(ASN1Encode(0x30, inner.data(), static_cast<int>(inner.size()), &p, &n), S_OK);
    inner = Adopt(p, n);
  }
  return inner;
}

// ---- decoding -------------------------------------------------------------

struct DecodeCase {
  const char* name;
  Bytes input;
  bool ok;
  int tag;
  DWORD lengthOctets, contentLength, totalLength;
  std::uint64_t contentOffset;
  size_t children;
};

TEST(Asn1Decode, MemoryCases) {
  const Bytes long256 = Concat({Hex("04 82 01 00"), Bytes(256, 0xAB)});
  const DecodeCase cases[] = {
      {"two octets", Hex("05 00"), false},
      {"leaf", Hex("02 01 05"), true, 0x02, 1, 1, 3, 2, 0},
      {"indefinite sequence", Hex("30 80 02 01 05 00 00"), true, 0x30, 1, 5, 7, 2, 1},
      {"long form 256", long256, true, 0x04, 3, 256, 260, 4, 0},
      {"non-minimal long form", Hex("04 81 02 AA BB"), true, 0x04, 2, 2, 5, 3, 0},
      {"application tag read as constructed", Hex("40 03 02 01 05"), true, 0x40, 1, 3, 5, 2, 1},
      {"application tag with no valid children", Hex("40 02 41 42"), false},
      {"end-of-contents first is a child", Hex("30 80 00 00 00 00"), true, 0x30, 1, 4, 6, 2, 1},
      {"indefinite leaf", Hex("04 80 01 00 00"), true, 0x04, 1, 3, 5, 2, 0},
      {"empty sequence", Hex("30 00 FF"), true, 0x30, 1, 0, 2, 2, 0},
      {"trailing octets ignored", Hex("02 01 05 FF FF"), true, 0x02, 1, 1, 3, 2, 0},
      // Inputs that must be refused.
      {"five length octets", Hex("04 85 00 00 00 00 01 AA"), false},
      {"127 length octets", Hex("04 FF 00 00 00"), false},
      {"length 0xFFFFFFFF", Hex("04 84 FF FF FF FF 00"), false},
      {"length past the block", Hex("04 05 01 02"), false},
      {"length octets past the block", Hex("04 84 00 00"), false},
      {"child past its parent", Hex("30 03 02 02 05 06"), false},
      {"indefinite sequence never closed", Hex("30 80 02 01 05"), false},
      {"indefinite leaf never closed", Hex("04 80 01 02 03"), false},
      {"half an end-of-contents", Hex("30 80 02 01 05 00"), false},
      {"nested indefinite past its parent", Hex("30 04 30 80 05 00 00 00"), false},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<ASN1Node> root;
    const int r = Decode(c.input, &root);
    if (!c.ok) {
      EXPECT_EQ(r, -1);
      EXPECT_EQ(root, nullptr);
      EXPECT_LT(HRESULT_FROM_TOKEN_ERROR(r), 0) << "a refusal must never fold into success";
      continue;
    }
    ASSERT_EQ(r, 0);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->m_byTag, c.tag);
    EXPECT_EQ(root->m_dwLengthOctets, c.lengthOctets);
    EXPECT_EQ(root->m_dwContentLength, c.contentLength);
    EXPECT_EQ(root->m_dwTotalLength, c.totalLength);
    EXPECT_EQ(root->m_ullContentOffset, c.contentOffset);
    EXPECT_EQ(root->m_vtrChildren.size(), c.children);
    EXPECT_EQ(root->m_wIndefinite, 0);
    EXPECT_EQ(root->m_pbyMemory, c.input.data());
    for (const auto& child : root->m_vtrChildren) {
      EXPECT_EQ(child->m_pParent, root.get());
    }
  }
}

TEST(Asn1Decode, BadArgumentsAndMalformedInputFoldToDistinctErrors) {
  const Bytes ok = Hex("02 01 05");
  std::unique_ptr<ASN1Node> root;
  ::SetLastError(0);
  EXPECT_EQ(DecodeASN1FromMemory(nullptr, 3, &root), -1);
  EXPECT_EQ(HRESULT_FROM_TOKEN_ERROR(-1), static_cast<HRESULT>(0x80070057));
  EXPECT_EQ(DecodeASN1FromMemory(ok.data(), 0, &root), -1);
  EXPECT_EQ(DecodeASN1FromMemory(ok.data(), -5, &root), -1);
  EXPECT_EQ(DecodeASN1FromMemory(ok.data(), 3, nullptr), -1);
  EXPECT_EQ(DecodeASN1FromFile(nullptr, &root), -1);
  EXPECT_EQ(root, nullptr);
  ::SetLastError(0);
  EXPECT_EQ(Decode(Hex("04 05 01 02"), &root), -1);
  EXPECT_EQ(HRESULT_FROM_TOKEN_ERROR(-1), static_cast<HRESULT>(0x8007000D));
}

TEST(Asn1Decode, NodeLimitCountsTheWholeTreeAndBoundsNesting) {
  struct Case {
    const char* name;
    Bytes input;
    bool ok;
  } const cases[] = {
      {"255 nodes, flat", SequenceOfNulls(254), true},
      {"256 nodes, flat", SequenceOfNulls(255), false},
      {"255 nodes, nested", NestedSequences(254), true},
      {"256 nodes, nested", NestedSequences(255), false},
      {"deep nesting", NestedSequences(600), false},
  };
  for (const Case& c : cases) {
    std::unique_ptr<ASN1Node> root;
    EXPECT_EQ(Decode(c.input, &root) == 0, c.ok) << c.name;
  }
  // Indefinite lengths nested far deeper than the limit stop at the limit.
  Bytes deep;
  for (int i = 0; i < 100000; ++i) {
    deep.push_back(0x30);
    deep.push_back(0x80);
  }
  std::unique_ptr<ASN1Node> root;
  EXPECT_EQ(Decode(deep, &root), -1);
}

TEST(Asn1Decode, StreamMatchesMemoryAndRefusesWhatItCannotBound) {
  const Bytes nested = Hex("30 0D 02 01 05 30 08 04 02 AA BB A0 02 05 00");
  std::unique_ptr<ASN1Node> fromMemory;
  ASSERT_EQ(Decode(nested, &fromMemory), 0);
  {
    TempStream s(nested);
    ASSERT_NE(s.file, nullptr);
    std::unique_ptr<ASN1Node> fromStream;
    ASSERT_EQ(DecodeASN1FromFile(s.file, &fromStream), 0);
    EXPECT_EQ(merro::test::Flatten(*fromStream), merro::test::Flatten(*fromMemory));
    EXPECT_EQ(fromStream->m_pFile, s.file);
    EXPECT_EQ(fromStream->m_pbyMemory, nullptr);
    EXPECT_EQ(fromStream->m_dwSourceLimit, nested.size());
    EXPECT_EQ(fromStream->m_vtrChildren[1]->m_dwSourceLimit, nested.size());
    // Re-encoding reads the leaves back from the stream.
    Bytes again;
    ASSERT_EQ(EncodeTree(*fromStream, &again), S_OK);
    EXPECT_EQ(again, nested);
  }
  struct Case {
    const char* name;
    Bytes input;
    bool ok;
  } const cases[] = {
      {"two octets are enough from a stream", Hex("05 00"), true},
      {"indefinite sequence", Hex("30 80 02 01 05 00 00"), false},
      {"indefinite leaf", Hex("04 80 01 00 00"), true},
      {"indefinite leaf never closed", Hex("04 80 01 02 03"), false},
      {"truncated content", Hex("04 05 01 02"), false},
      {"truncated length octets", Hex("04 82 01"), false},
      {"empty stream", Bytes{}, false},
  };
  for (const Case& c : cases) {
    TempStream s(c.input);
    std::unique_ptr<ASN1Node> root;
    EXPECT_EQ(DecodeASN1FromFile(s.file, &root) == 0, c.ok) << c.name;
  }
}

// ---- DER building -----------------------------------------------------------

TEST(Asn1Encode, LengthOctetsFollowX690AndRoundTrip) {
  const struct {
    std::int64_t length;
    Bytes octets;
  } cases[] = {
      {0, Hex("00")},
      {127, Hex("7F")},
      {128, Hex("81 80")},
      {255, Hex("81 FF")},
      {256, Hex("82 01 00")},
      {65535, Hex("82 FF FF")},
      {65536, Hex("83 01 00 00")},
      {1 << 24, Hex("84 01 00 00 00")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    BYTE* p = nullptr;
    const int n = EncodeASN1Length(c.length, &p);
    ASSERT_GT(n, 0);
    EXPECT_EQ(Adopt(p, static_cast<DWORD>(n)), c.octets);
    EXPECT_EQ(EncodeASN1Length(c.length, nullptr), n);

    const Bytes content(static_cast<size_t>(c.length), 0x5A);
    BYTE* encoded = nullptr;
    DWORD encodedLen = 0;
    ASSERT_EQ(ASN1Encode(0x04, content.data(), static_cast<int>(content.size()), &encoded,
                         &encodedLen),
              S_OK);
    const Bytes tlv = Adopt(encoded, encodedLen);
    ASSERT_EQ(tlv.size(), 1 + c.octets.size() + content.size());
    EXPECT_TRUE(std::equal(c.octets.begin(), c.octets.end(), tlv.begin() + 1));
    std::unique_ptr<ASN1Node> root;
    if (tlv.size() >= 3) {
      ASSERT_EQ(Decode(tlv, &root), 0);
      EXPECT_EQ(root->m_dwContentLength, c.length);
      EXPECT_EQ(root->m_dwLengthOctets, c.octets.size());
      EXPECT_EQ(GetASN1EncodedSize(root.get()), tlv.size());
    }
  }
  EXPECT_EQ(EncodeASN1Length(-1, nullptr), -1);
  BYTE* p = nullptr;
  EXPECT_EQ(EncodeASN1Length(-200, &p), -1);
  EXPECT_EQ(p, nullptr);
}

TEST(Asn1Encode, ASN1EncodeRefusesBadArguments) {
  const BYTE content[] = {1, 2};
  BYTE* out = nullptr;
  DWORD len = 0;
  const HRESULT bad = static_cast<HRESULT>(0x80070057);
  EXPECT_EQ(ASN1Encode(0x04, content, -1, &out, &len), bad);
  EXPECT_EQ(ASN1Encode(0x04, nullptr, 2, &out, &len), bad);
  EXPECT_EQ(ASN1Encode(0x04, content, 2, nullptr, &len), bad);
  EXPECT_EQ(ASN1Encode(0x04, content, 2, &out, nullptr), bad);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(ASN1Encode(0x05, nullptr, 0, &out, &len), S_OK);
  EXPECT_EQ(Adopt(out, len), Hex("05 00"));
}

TEST(Asn1Compose, IntegerAndBitString) {
  using Fn = HRESULT (*)(const BYTE*, DWORD, BYTE**, DWORD*);
  const struct {
    const char* name;
    Fn fn;
    Bytes in;
    Bytes out;
  } cases[] = {
      {"top bit set gets a zero octet", ComposeInteger, Hex("80"), Hex("02 02 00 80")},
      {"top bit clear", ComposeInteger, Hex("7F"), Hex("02 01 7F")},
      {"existing leading zero kept", ComposeInteger, Hex("00 7F"), Hex("02 02 00 7F")},
      {"two zero octets kept", ComposeInteger, Hex("00 00"), Hex("02 02 00 00")},
      {"bit string", ComposeBITString, Hex("AB CD"), Hex("03 03 00 AB CD")},
      {"long integer", ComposeInteger, Bytes(200, 0xC3),
       Concat({Hex("02 81 C9 00"), Bytes(200, 0xC3)})},
  };
  for (const auto& c : cases) {
    BYTE* out = nullptr;
    DWORD len = 0;
    ASSERT_EQ(c.fn(c.in.data(), static_cast<DWORD>(c.in.size()), &out, &len), S_OK) << c.name;
    EXPECT_EQ(Adopt(out, len), c.out) << c.name;
  }
  const BYTE one = 1;
  const HRESULT bad = static_cast<HRESULT>(0x80070057);
  for (Fn fn : {Fn{ComposeInteger}, Fn{ComposeBITString}}) {
    BYTE sentinel = 0;
    BYTE* out = &sentinel;  // must stay untouched
    DWORD len = 77;
    EXPECT_EQ(fn(nullptr, 1, &out, &len), bad);
    EXPECT_EQ(fn(&one, 0, &out, &len), bad);
    EXPECT_EQ(fn(&one, 0xFFFFFFFF, &out, &len), bad);
    EXPECT_EQ(fn(&one, 1, nullptr, &len), bad);
    EXPECT_EQ(fn(&one, 1, &out, nullptr), bad);
    EXPECT_EQ(out, &sentinel);
    EXPECT_EQ(len, 77u);
  }
}

// The RSA public key the device layer exports, against OpenSSL's own
// RSAPublicKey encoding of the same key.
TEST(Asn1Compose, RsaPublicKeyMatchesOpenSsl) {
  const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_RSA_gen(2048), EVP_PKEY_free);
  ASSERT_NE(key, nullptr);
  const auto bytesOf = [&key](const char* param) {
    BIGNUM* bn = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(key.get(), param, &bn), 1);
    Bytes out(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    BN_free(bn);
    return out;
  };
  const Bytes n = bytesOf(OSSL_PKEY_PARAM_RSA_N);
  const Bytes e = bytesOf(OSSL_PKEY_PARAM_RSA_E);

  unsigned char* der = nullptr;
  const int derLen = i2d_PublicKey(key.get(), &der);  // PKCS#1 RSAPublicKey
  ASSERT_GT(derLen, 0);
  const Bytes expected(der, der + derLen);
  OPENSSL_free(der);

  BYTE* p = nullptr;
  DWORD len = 0;
  ASSERT_EQ(ComposeInteger(n.data(), static_cast<DWORD>(n.size()), &p, &len), S_OK);
  const Bytes intN = Adopt(p, len);
  ASSERT_EQ(ComposeInteger(e.data(), static_cast<DWORD>(e.size()), &p, &len), S_OK);
  const Bytes intE = Adopt(p, len);
  const Bytes content = Concat({intN, intE});
  ASSERT_EQ(ASN1Encode(0x30, content.data(), static_cast<int>(content.size()), &p, &len), S_OK);
  EXPECT_EQ(Adopt(p, len), expected);

  // The same through the tree builder, and back through the decoder.
  ASN1Node sequence;
  sequence.m_byTag = 0x30;
  for (const Bytes* integer : {&intN, &intE}) {
    std::unique_ptr<ASN1Node> decoded;
    ASSERT_EQ(Decode(*integer, &decoded), 0);
    auto leaf = std::make_unique<ASN1Node>();
    leaf->m_byTag = 0x02;
    leaf->m_pbyData = integer->data() + decoded->m_ullContentOffset;
    leaf->m_dwDataLength = decoded->m_dwContentLength;
    leaf->m_dwContentLength = decoded->m_dwContentLength;
    AddASN1Child(&sequence, std::move(leaf));
  }
  Bytes built;
  ASSERT_EQ(EncodeTree(sequence, &built), S_OK);
  EXPECT_EQ(built, expected);
  EXPECT_EQ(GetASN1EncodedSize(&sequence), expected.size());
  EXPECT_EQ(GetASN1RequiredSize(&sequence), expected.size());
  std::unique_ptr<ASN1Node> root;
  ASSERT_EQ(Decode(expected, &root), 0);
  ASSERT_EQ(root->m_vtrChildren.size(), 2u);
  const ASN1Node& modulus = *root->m_vtrChildren[0];
  EXPECT_EQ(modulus.m_dwContentLength, 257u);  // leading zero + 256 octets
  EXPECT_TRUE(std::equal(n.begin(), n.end(), expected.begin() + modulus.m_ullContentOffset + 1));
}

// ---- tree encoding ------------------------------------------------------------

TEST(Asn1EncodeTree, DecodedTreesReencodeWithLengthsThatMatchTheirContent) {
  const struct {
    const char* name;
    Bytes in;
    Bytes out;
  } cases[] = {
      {"DER is unchanged", Hex("30 0D 02 01 05 30 08 04 02 AA BB A0 02 05 00"),
       Hex("30 0D 02 01 05 30 08 04 02 AA BB A0 02 05 00")},
      {"indefinite becomes definite", Hex("30 80 02 01 05 00 00"), Hex("30 03 02 01 05")},
      {"nested indefinite", Hex("30 80 30 80 02 01 05 00 00 00 00"), Hex("30 05 30 03 02 01 05")},
      {"non-minimal length", Hex("04 81 03 01 02 03"), Hex("04 03 01 02 03")},
      {"long content", Concat({Hex("04 82 01 00"), Bytes(256, 7)}),
       Concat({Hex("04 82 01 00"), Bytes(256, 7)})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<ASN1Node> root;
    ASSERT_EQ(Decode(c.in, &root), 0);
    // A decoded tree keeps no data lengths: sizing from them alone would
    // give a buffer too small for what is written.
    EXPECT_EQ(root->m_dwDataLength, 0u);
    Bytes out;
    ASSERT_EQ(EncodeTree(*root, &out), S_OK);
    EXPECT_EQ(out, c.out);
    std::unique_ptr<ASN1Node> again;
    ASSERT_EQ(Decode(out, &again), 0);
    EXPECT_EQ(GetASN1EncodedSize(again.get()), out.size());
  }
}

TEST(Asn1EncodeTree, BuiltLeafWritesItsDataAndStatesItsLength) {
  const Bytes data = Hex("01 02 03 04");
  ASN1Node leaf;
  leaf.m_byTag = 0x04;
  leaf.m_pbyData = data.data();
  leaf.m_dwDataLength = 4;
  leaf.m_dwContentLength = 2;  // disagrees with the data: the header follows what is written
  Bytes out;
  ASSERT_EQ(EncodeTree(leaf, &out), S_OK);
  EXPECT_EQ(out, Hex("04 04 01 02 03 04"));

  ASN1Node empty;
  empty.m_byTag = 0x05;
  ASSERT_EQ(EncodeTree(empty, &out), S_OK);
  EXPECT_EQ(out, Hex("05 00"));

  ASN1Node noSource;
  noSource.m_byTag = 0x04;
  noSource.m_dwContentLength = 3;
  EXPECT_EQ(EncodeTree(noSource, &out), static_cast<HRESULT>(0x80004005));
}

TEST(Asn1EncodeTree, NodeCountAndSizeLimits) {
  const HRESULT tooMany = static_cast<HRESULT>(0xA0071102);
  const HRESULT tooLarge = static_cast<HRESULT>(0xA0071101);
  for (const size_t nulls : {255u, 256u}) {
    std::unique_ptr<ASN1Node> root;
    const Bytes in = SequenceOfNulls(nulls);
    // Decoding stops at 255 nodes: build the tree by hand instead.
    ASN1Node sequence;
    sequence.m_byTag = 0x30;
    for (size_t i = 0; i < nulls; ++i) {
      auto leaf = std::make_unique<ASN1Node>();
      leaf->m_byTag = 0x05;
      AddASN1Child(&sequence, std::move(leaf));
    }
    DWORD counter = 0;
    Bytes out;
    const HRESULT hr = EncodeTree(sequence, &out, &counter);
    if (nulls + 1 <= 256) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(counter, nulls + 1);
      EXPECT_EQ(out, in);
    } else {
      EXPECT_EQ(hr, tooMany);
    }
    EXPECT_EQ(EncodeTree(sequence, &out), S_OK) << "without a counter there is no node limit";
  }

  // Exactly MAX_ASN1_DATA_MEMORY_SIZE octets are allowed, one more is not.
  const DWORD content = MAX_ASN1_DATA_MEMORY_SIZE - 6;  // tag + 84 xx xx xx xx
  const std::unique_ptr<BYTE[]> data(new BYTE[content + 1]());
  ASN1Node big;
  big.m_byTag = 0x04;
  big.m_pbyData = data.get();
  big.m_dwDataLength = content;
  big.m_dwContentLength = content;
  BYTE* p = nullptr;
  DWORD n = 0;
  ASSERT_EQ(EncodeASN1ToMemory(&big, &p, &n, nullptr), S_OK);
  EXPECT_EQ(n, MAX_ASN1_DATA_MEMORY_SIZE);
  delete[] p;
  p = nullptr;
  big.m_dwDataLength = content + 1;
  big.m_dwContentLength = content + 1;
  EXPECT_EQ(EncodeASN1ToMemory(&big, &p, &n, nullptr), tooLarge);
  EXPECT_EQ(p, nullptr);
}

TEST(Asn1EncodeTree, RefusesMissingArgumentsAndAStartedBuffer) {
  ASN1Node node;
  node.m_byTag = 0x05;
  BYTE* p = nullptr;
  DWORD n = 0;
  const HRESULT fail = static_cast<HRESULT>(0x80004005);
  EXPECT_EQ(EncodeASN1ToMemory(nullptr, &p, &n, nullptr), fail);
  EXPECT_EQ(EncodeASN1ToMemory(&node, nullptr, &n, nullptr), fail);
  EXPECT_EQ(EncodeASN1ToMemory(&node, &p, nullptr, nullptr), fail);
  BYTE existing[4];
  p = existing;
  EXPECT_EQ(EncodeASN1ToMemory(&node, &p, &n, nullptr), fail);
  EXPECT_EQ(p, existing);
}

// ---- agreement with OpenSSL -------------------------------------------------

// Random DER-shaped encodings (some lengths in non-minimal long form), then
// random damage; every case within the common domain must decode to the same
// elements as OpenSSL's parser sees, or be refused by both.
class RandomEncodings {
 public:
  explicit RandomEncodings(unsigned seed) : m_rng(seed) {}

  Bytes Element(int depth) {
    static const int kLeafTags[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0C, 0x13, 0x17, 0x80, 0x83};
    static const int kConstructedTags[] = {0x30, 0x31, 0xA0, 0xA3, 0x60, 0xE1};
    Bytes content;
    int tag;
    if (depth < 4 && Pick(3) == 0) {
      tag = kConstructedTags[Pick(6)];
      const int children = static_cast<int>(Pick(4));
      for (int i = 0; i < children; ++i) {
        const Bytes child = Element(depth + 1);
        content.insert(content.end(), child.begin(), child.end());
      }
    } else {
      tag = kLeafTags[Pick(11)];
      content.resize(Pick(3) == 0 ? Pick(300) : Pick(8));
      for (auto& b : content) {
        b = static_cast<std::uint8_t>(Pick(256));
      }
    }
    Bytes out{static_cast<std::uint8_t>(tag)};
    const size_t n = content.size();
    if (n < 128 && Pick(5) != 0) {
      out.push_back(static_cast<std::uint8_t>(n));
    } else {
      const int octets = n < 256 ? 1 + static_cast<int>(Pick(2)) : 2 + static_cast<int>(Pick(2));
      out.push_back(static_cast<std::uint8_t>(0x80 | octets));
      for (int i = octets - 1; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
      }
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
  }

  void Damage(Bytes* b) {
    const int kinds = static_cast<int>(Pick(4));
    for (int k = 0; k < kinds && !b->empty(); ++k) {
      const size_t at = Pick(b->size());
      switch (Pick(4)) {
        case 0:
          (*b)[at] = static_cast<std::uint8_t>(Pick(256));
          break;
        case 1:
          b->erase(b->begin() + static_cast<std::ptrdiff_t>(at));
          break;
        case 2:
          b->insert(b->begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(Pick(256)));
          break;
        default:
          b->resize(at);
          break;
      }
    }
  }

 private:
  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(m_rng); }
  std::mt19937 m_rng;
};

TEST(Asn1Differential, AgreesWithOpenSslParser) {
  RandomEncodings gen(20240611);
  int compared = 0;
  int accepted = 0;
  for (int i = 0; i < 20000; ++i) {
    Bytes input = gen.Element(0);
    if (i % 2 == 1) {
      gen.Damage(&input);
    }
    std::vector<Element> reference;
    const Verdict verdict = merro::test::ReferenceDecode(input.data(), input.size(), &reference);
    std::unique_ptr<ASN1Node> root;
    const int r = input.empty() ? -1 : Decode(input, &root);
    if (verdict == Verdict::OutOfDomain) {
      continue;
    }
    ++compared;
    ASSERT_EQ(r == 0, verdict == Verdict::Accept) << "case " << i << ": " << [&input] {
      std::string h;
      for (auto b : input) { char t[4]; std::snprintf(t, sizeof t, "%02X ", b); h += t; }
      return h;
    }();
    if (r == 0) {
      ++accepted;
      ASSERT_EQ(merro::test::Flatten(*root), reference) << "case " << i;
    }
  }
  EXPECT_GT(compared, 15000);
  EXPECT_GT(accepted, 9000);
}

}  // namespace
