#include "tests/foundation/asn1_reference.h"

#include <openssl/asn1.h>

namespace merro::test {
namespace {

bool LeafByEngineRule(int identifier) {
  return identifier <= 0x1F || (identifier >= 0x80 && identifier <= 0x8F);
}

bool InDomainIdentifier(int identifier) {
  if ((identifier & 0x1F) == 0x1F) {
    return false;  // high tag number form
  }
  const bool primitive = (identifier & 0x20) == 0;
  const int cls = identifier & 0xC0;
  // Primitive tags that the engine reads as constructed.
  return !(primitive && (cls == 0x40 || cls == 0xC0 || (cls == 0x80 && identifier >= 0x90)));
}

class Walker {
 public:
  Walker(const std::uint8_t* data, std::vector<Element>* out) : m_data(data), m_out(out) {}

  // Parses one element at offset, within limit octets; returns its total size.
  Verdict Element(std::uint64_t offset, std::uint64_t limit, int depth, std::uint64_t* total) {
    const std::uint8_t* p = m_data + offset;
    const int identifier = p[0];
    if (!InDomainIdentifier(identifier)) {
      return Verdict::OutOfDomain;
    }
    if (limit >= 2) {
      const std::uint8_t first = p[1];
      if (first == 0x80 || first > 0x84) {
        return Verdict::OutOfDomain;  // indefinite, or more than four length octets
      }
      // OpenSSL wants one more octet after long-form length octets, even
      // for empty content that ends exactly at the bound.
      if (first > 0x80 && 2u + (first & 0x7F) == limit) {
        return Verdict::OutOfDomain;
      }
    }
    if (++m_nodes > MAX_ASN1_NODE_COUNT) {
      return Verdict::Reject;
    }
    const unsigned char* q = p;
    long length = 0;
    int tag = 0;
    int cls = 0;
    const int ret = ASN1_get_object(&q, &length, &tag, &cls, static_cast<long>(limit));
    if ((ret & 0x80) != 0) {
      return Verdict::Reject;
    }
    const std::uint64_t header = static_cast<std::uint64_t>(q - p);
    const std::uint64_t content = static_cast<std::uint64_t>(length);
    m_out->push_back({identifier, offset, header, content, depth});
    *total = header + content;
    if (LeafByEngineRule(identifier)) {
      return Verdict::Accept;
    }
    std::uint64_t consumed = 0;
    while (consumed < content) {
      std::uint64_t childTotal = 0;
      const Verdict v =
          Element(offset + header + consumed, content - consumed, depth + 1, &childTotal);
      if (v != Verdict::Accept) {
        return v;
      }
      consumed += childTotal;
    }
    return Verdict::Accept;
  }

 private:
  const std::uint8_t* m_data;
  std::vector<struct Element>* m_out;
  DWORD m_nodes = 0;
};

void FlattenInto(const ASN1Node& node, int depth, std::vector<Element>* out) {
  out->push_back({node.m_byTag, node.m_ullContentOffset - 1 - node.m_dwLengthOctets,
                  1 + static_cast<std::uint64_t>(node.m_dwLengthOctets), node.m_dwContentLength,
                  depth});
  for (const auto& child : node.m_vtrChildren) {
    FlattenInto(*child, depth + 1, out);
  }
}

}  // namespace

Verdict ReferenceDecode(const std::uint8_t* data, size_t size, std::vector<Element>* elements) {
  elements->clear();
  if (size < 3) {
    return Verdict::OutOfDomain;
  }
  Walker walker(data, elements);
  std::uint64_t total = 0;
  return walker.Element(0, size, 0, &total);
}

std::vector<Element> Flatten(const ASN1Node& root) {
  std::vector<Element> out;
  FlattenInto(root, 0, &out);
  return out;
}

}  // namespace merro::test
