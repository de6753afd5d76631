// Fuzz target for the ASN.1 decoder. For every input:
// - the memory decoder either refuses it or yields a tree whose lengths and
//   offsets are consistent and lie within the input;
// - within the domain where the engine's rules are X.690's, it agrees with
//   OpenSSL's parser;
// - the stream decoder agrees with the memory decoder;
// - a decoded tree re-encodes to DER that decodes to the same shape.
// Any disagreement aborts, so that the fuzzer reports it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "foundation/asn1/asn1_node.h"
#include "tests/foundation/asn1_reference.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "asn1 fuzz: %s\n", what);
    std::abort();
  }
}

void CheckNode(const ASN1Node& node, std::uint64_t size) {
  Require(node.m_wIndefinite == 0, "an unmeasured node was handed out");
  Require(node.m_dwTotalLength == 1 + node.m_dwLengthOctets + node.m_dwContentLength,
          "total length is not 1 + length octets + content");
  Require(node.m_ullContentOffset + node.m_dwContentLength <= size, "content past the input");
  std::uint64_t position = node.m_ullContentOffset;
  for (const auto& child : node.m_vtrChildren) {
    Require(child->m_pParent == &node, "wrong parent");
    Require(child->m_ullContentOffset == position + 1 + child->m_dwLengthOctets,
            "child offset does not follow its siblings");
    position += child->m_dwTotalLength;
    CheckNode(*child, size);
  }
  Require(position <= node.m_ullContentOffset + node.m_dwContentLength, "children past parent");
}

// Tags and the content of leaves, in pre-order: what survives re-encoding.
void Shape(const ASN1Node& node, const std::uint8_t* source, std::vector<std::uint8_t>* out) {
  out->push_back(node.m_byTag);
  if (node.m_vtrChildren.empty()) {
    out->insert(out->end(), source + node.m_ullContentOffset,
                source + node.m_ullContentOffset + node.m_dwContentLength);
  }
  out->push_back(static_cast<std::uint8_t>(node.m_vtrChildren.size()));
  for (const auto& child : node.m_vtrChildren) {
    Shape(*child, source, out);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size > 1 << 20) {
    return 0;
  }
  std::unique_ptr<ASN1Node> root;
  const int r = DecodeASN1FromMemory(data, static_cast<int>(size), &root);
  Require((r == 0) == (root != nullptr), "result and tree disagree");

  std::vector<merro::test::Element> reference;
  const merro::test::Verdict verdict = merro::test::ReferenceDecode(data, size, &reference);
  if (verdict != merro::test::Verdict::OutOfDomain) {
    Require((r == 0) == (verdict == merro::test::Verdict::Accept), "verdict differs from OpenSSL");
    if (r == 0) {
      Require(merro::test::Flatten(*root) == reference, "elements differ from OpenSSL");
    }
  }

  if (size < 4096) {
    FILE* f = std::tmpfile();
    if (f != nullptr) {
      if (size != 0) {
        std::fwrite(data, 1, size, f);
      }
      std::rewind(f);
      std::unique_ptr<ASN1Node> fromStream;
      if (DecodeASN1FromFile(f, &fromStream) == 0 && r == 0) {
        Require(merro::test::Flatten(*fromStream) == merro::test::Flatten(*root),
                "stream and memory trees differ");
      }
      std::fclose(f);
    }
  }

  if (r != 0) {
    return 0;
  }
  CheckNode(*root, size);

  BYTE* encoded = nullptr;
  DWORD encodedSize = 0;
  if (EncodeASN1ToMemory(root.get(), &encoded, &encodedSize, nullptr) != 0) {
    Require(encoded == nullptr, "buffer handed out on failure");
    return 0;
  }
  const std::unique_ptr<BYTE[]> owner(encoded);
  std::unique_ptr<ASN1Node> again;
  if (encodedSize >= 3) {
    Require(DecodeASN1FromMemory(encoded, static_cast<int>(encodedSize), &again) == 0,
            "re-encoding does not decode");
    Require(again->m_dwTotalLength == encodedSize, "re-encoding has stray octets");
    std::vector<std::uint8_t> before;
    std::vector<std::uint8_t> after;
    Shape(*root, data, &before);
    Shape(*again, encoded, &after);
    Require(before == after, "re-encoding changed the tree");
  }
  return 0;
}
