// An independent view of an encoding, for differential checks of the ASN.1
// engine: OpenSSL's header parser (ASN1_get_object) walked over the same
// input, and the same view taken of an ASN1Node tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/asn1/asn1_node.h"

namespace merro::test {

// One element, in pre-order.
struct Element {
  int identifier;              // the identifier octet
  std::uint64_t headerOffset;  // position of the identifier octet
  std::uint64_t headerLength;  // identifier + length octets
  std::uint64_t contentLength;
  int depth;
  bool operator==(const Element& o) const {
    return identifier == o.identifier && headerOffset == o.headerOffset &&
           headerLength == o.headerLength && contentLength == o.contentLength && depth == o.depth;
  }
};

enum class Verdict { Accept, Reject, OutOfDomain };

// Walks the first element of the input with OpenSSL's parser. Inputs where
// the engine's declared rules differ from X.690 on purpose are reported as
// OutOfDomain: fewer than three octets, a high tag number, an indefinite
// length, more than four length octets, and primitive application, private
// or high context tags (which the engine reads as constructed). The node
// limit of the engine is applied as well.
Verdict ReferenceDecode(const std::uint8_t* data, size_t size, std::vector<Element>* elements);

// The same view of a decoded tree.
std::vector<Element> Flatten(const ASN1Node& root);

}  // namespace merro::test
