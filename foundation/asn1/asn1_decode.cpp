// Decoding of BER/DER encodings into ASN1Node trees.
#include <algorithm>
#include <cstring>
#include <new>

#include "foundation/asn1/asn1_node.h"

namespace {

constexpr DWORD kInvalidData = 13;      // ERROR_INVALID_DATA
constexpr DWORD kInvalidParameter = 87; // ERROR_INVALID_PARAMETER
constexpr DWORD kNoMemory = 8;          // ERROR_NOT_ENOUGH_MEMORY
constexpr DWORD kMaxLengthOctets = 4;
constexpr size_t kScanChunk = 4096;

int Fail(DWORD dwError) {
  ::SetLastError(dwError);
  return -1;
}

bool SeekTo(FILE* pFile, std::uint64_t ullPosition) {
#ifdef _WIN32
  return ::_fseeki64(pFile, static_cast<__int64>(ullPosition), SEEK_SET) == 0;
#else
  return ::fseeko(pFile, static_cast<off_t>(ullPosition), SEEK_SET) == 0;
#endif
}

// Reads n octets at ullPosition of the source; false when any is missing.
// Callers have bounded the range already.
bool ReadAt(const BYTE* pbyMemory, FILE* pFile, std::uint64_t ullPosition, BYTE* out, size_t n) {
  if (pbyMemory != nullptr) {
    std::memcpy(out, pbyMemory + ullPosition, n);
    return true;
  }
  return pFile != nullptr && SeekTo(pFile, ullPosition) && std::fread(out, 1, n, pFile) == n;
}

bool IsLeafTag(BYTE byTag) { return byTag <= 0x1F || (byTag >= 0x80 && byTag <= 0x8F); }

// The stream's size in octets, leaving it positioned at its start.
bool StreamSize(FILE* pFile, std::uint64_t* pullSize) {
#ifdef _WIN32
  if (::_fseeki64(pFile, 0, SEEK_END) != 0) {
    return false;
  }
  const __int64 end = ::_ftelli64(pFile);
#else
  if (::fseeko(pFile, 0, SEEK_END) != 0) {
    return false;
  }
  const off_t end = ::ftello(pFile);
#endif
  if (end < 0 || !SeekTo(pFile, 0)) {
    return false;
  }
  *pullSize = static_cast<std::uint64_t>(end);
  return true;
}

void SetFromHeader(ASN1Node* pNode, const ASN1Header& h) {
  pNode->m_byTag = h.byTag;
  pNode->m_dwLengthOctets = h.dwLengthOctets;
  pNode->m_dwContentLength = h.dwContentLength;
  pNode->m_ullContentOffset = h.ullContentOffset;
  pNode->m_wIndefinite = h.wIndefinite;
  pNode->m_dwTotalLength =
      h.wIndefinite != 0 ? ASN1_LENGTH_UNMEASURED : 1 + h.dwLengthOctets + h.dwContentLength;
}

void SetMeasured(ASN1Node* pNode, std::uint64_t ullContentLength) {
  pNode->m_dwContentLength = static_cast<DWORD>(ullContentLength);
  pNode->m_dwTotalLength = static_cast<DWORD>(1 + pNode->m_dwLengthOctets + ullContentLength);
  pNode->m_wIndefinite = 0;
}

// Reads the root at position 0 of its source and decodes the tree.
int DecodeRoot(const BYTE* pbyMemory, FILE* pFile, std::uint64_t ullSize,
               std::unique_ptr<ASN1Node>* ppRoot) {
  ASN1Header h;
  if (ReadASN1Header(pbyMemory, pFile, 0, ullSize, &h) != 0) {
    return -1;
  }
  auto root = std::make_unique<ASN1Node>();
  root->m_pbyMemory = pbyMemory;
  root->m_pFile = pFile;
  root->m_dwSourceLimit = static_cast<DWORD>(ullSize);
  SetFromHeader(root.get(), h);
  DWORD dwNodeCount = 1;
  if (DecodeASN1Node(root.get(), &dwNodeCount) != 0) {
    return -1;
  }
  *ppRoot = std::move(root);
  return 0;
}

}  // namespace

int ReadASN1Length(const BYTE* pbyMemory, FILE* pFile, std::uint64_t ullPosition,
                   std::uint64_t ullEndBound, ASN1Header* pHeader) {
  if (pHeader == nullptr || (pbyMemory == nullptr) == (pFile == nullptr)) {
    return Fail(kInvalidParameter);
  }
  if (ullPosition >= ullEndBound) {
    return Fail(kInvalidData);
  }
  BYTE first = 0;
  if (!ReadAt(pbyMemory, pFile, ullPosition, &first, 1)) {
    return Fail(kInvalidData);
  }
  if (first < 0x80) {
    pHeader->dwLengthOctets = 1;
    pHeader->dwContentLength = first;
    pHeader->ullContentOffset = ullPosition + 1;
    pHeader->wIndefinite = 0;
    return 0;
  }
  if (first == 0x80) {
    pHeader->dwLengthOctets = 1;
    pHeader->dwContentLength = ASN1_LENGTH_UNMEASURED;
    pHeader->ullContentOffset = ullPosition + 1;
    pHeader->wIndefinite = 1;
    return 0;
  }
  const DWORD n = first & 0x7F;
  if (n > kMaxLengthOctets || ullPosition + 1 + n > ullEndBound) {
    return Fail(kInvalidData);
  }
  BYTE octets[kMaxLengthOctets];
  if (!ReadAt(pbyMemory, pFile, ullPosition + 1, octets, n)) {
    return Fail(kInvalidData);
  }
  std::uint64_t length = 0;
  for (DWORD i = 0; i < n; ++i) {
    length = length << 8 | octets[i];
  }
  // 0xFFFFFFFF marks an unmeasured length; no source is that large anyway.
  if (length >= ASN1_LENGTH_UNMEASURED) {
    return Fail(kInvalidData);
  }
  pHeader->dwLengthOctets = n + 1;
  pHeader->dwContentLength = static_cast<DWORD>(length);
  pHeader->ullContentOffset = ullPosition + 1 + n;
  pHeader->wIndefinite = 0;
  return 0;
}

int ReadASN1Header(const BYTE* pbyMemory, FILE* pFile, std::uint64_t ullPosition,
                   std::uint64_t ullEndBound, ASN1Header* pHeader) {
  if (pHeader == nullptr || (pbyMemory == nullptr) == (pFile == nullptr)) {
    return Fail(kInvalidParameter);
  }
  if (ullPosition >= ullEndBound) {
    return Fail(kInvalidData);
  }
  ASN1Header h;
  if (!ReadAt(pbyMemory, pFile, ullPosition, &h.byTag, 1)) {
    return Fail(kInvalidData);
  }
  if (ReadASN1Length(pbyMemory, pFile, ullPosition + 1, ullEndBound, &h) != 0) {
    return -1;
  }
  if (h.wIndefinite != 0) {
    h.ullLastOctet = ASN1_LENGTH_UNMEASURED;
  } else {
    if (h.ullContentOffset + h.dwContentLength > ullEndBound) {
      return Fail(kInvalidData);  // the element runs past its bound
    }
    h.ullLastOctet = h.ullContentOffset + h.dwContentLength - 1;
  }
  *pHeader = h;
  return 0;
}

int FindASN1IndefiniteEnd(ASN1Node* pNode) {
  if (pNode == nullptr || pNode->m_wIndefinite != 1) {
    return Fail(kInvalidParameter);
  }
  const std::uint64_t end = pNode->m_dwSourceLimit;
  std::uint64_t position = pNode->m_ullContentOffset;
  BYTE previous = 0xFF;
  BYTE chunk[kScanChunk];
  while (position < end) {
    const size_t n = static_cast<size_t>(std::min<std::uint64_t>(kScanChunk, end - position));
    if (!ReadAt(pNode->m_pbyMemory, pNode->m_pFile, position, chunk, n)) {
      return Fail(kInvalidData);
    }
    for (size_t i = 0; i < n; ++i) {
      if (previous == 0 && chunk[i] == 0) {
        SetMeasured(pNode, position + i + 1 - pNode->m_ullContentOffset);
        return 0;
      }
      previous = chunk[i];
    }
    position += n;
  }
  return Fail(kInvalidData);  // never closed
}

int DecodeASN1Node(ASN1Node* pNode, DWORD* pdwNodeCount) {
  if (pNode == nullptr || pdwNodeCount == nullptr) {
    return Fail(kInvalidParameter);
  }
  try {
    if (IsLeafTag(pNode->m_byTag)) {
      return pNode->m_wIndefinite == 1 ? FindASN1IndefiniteEnd(pNode) : 0;
    }
    const bool indefinite = pNode->m_wIndefinite == 1;
    if (!indefinite && pNode->m_dwContentLength == 0) {
      return 0;
    }
    if (indefinite && pNode->m_pFile != nullptr) {
      return Fail(kInvalidData);  // needs an end bound beyond the stream's size
    }
    const std::uint64_t start = pNode->m_ullContentOffset;
    const std::uint64_t end =
        indefinite ? pNode->m_dwSourceLimit : start + pNode->m_dwContentLength;
    std::uint64_t consumed = 0;
    for (;;) {
      const std::uint64_t position = start + consumed;
      ASN1Header h;
      if (ReadASN1Header(pNode->m_pbyMemory, pNode->m_pFile, position, end, &h) != 0) {
        return -1;
      }
      if (++*pdwNodeCount > MAX_ASN1_NODE_COUNT) {
        return Fail(kInvalidData);
      }
      auto child = std::make_unique<ASN1Node>();
      child->m_pFile = pNode->m_pFile;
      child->m_pbyMemory = pNode->m_pbyMemory;
      child->m_dwSourceLimit = pNode->m_dwSourceLimit;
      child->m_pParent = pNode;
      SetFromHeader(child.get(), h);
      if (DecodeASN1Node(child.get(), pdwNodeCount) != 0) {
        return -1;
      }
      // An indefinite child has only now been measured against the source.
      if (position + child->m_dwTotalLength > end) {
        return Fail(kInvalidData);
      }
      consumed += child->m_dwTotalLength;
      pNode->m_vtrChildren.push_back(std::move(child));
      if (indefinite) {
        const std::uint64_t eoc = start + consumed;
        if (eoc + 2 > end) {
          return Fail(kInvalidData);  // never closed
        }
        BYTE pair[2];
        if (!ReadAt(pNode->m_pbyMemory, pNode->m_pFile, eoc, pair, 2)) {
          return Fail(kInvalidData);
        }
        if (pair[0] == 0 && pair[1] == 0) {
          SetMeasured(pNode, consumed + 2);
          return 0;
        }
      } else if (consumed >= pNode->m_dwContentLength) {
        return 0;
      }
    }
  } catch (const std::bad_alloc&) {
    return Fail(kNoMemory);
  }
}

int DecodeASN1FromMemory(const BYTE* pbyData, int nDataSize, std::unique_ptr<ASN1Node>* ppRoot) {
  if (pbyData == nullptr || ppRoot == nullptr || nDataSize <= 0) {
    return Fail(kInvalidParameter);
  }
  if (nDataSize < 3) {
    return Fail(kInvalidData);  // a header read takes at least three octets here
  }
  try {
    return DecodeRoot(pbyData, nullptr, static_cast<std::uint64_t>(nDataSize), ppRoot);
  } catch (const std::bad_alloc&) {
    return Fail(kNoMemory);
  }
}

int DecodeASN1FromFile(FILE* pFile, std::unique_ptr<ASN1Node>* ppRoot) {
  if (pFile == nullptr || ppRoot == nullptr) {
    return Fail(kInvalidParameter);
  }
  std::uint64_t size = 0;
  if (!StreamSize(pFile, &size)) {
    return Fail(kInvalidData);
  }
  // Lengths and the source limit are 32-bit; 0xFFFFFFFF marks "unmeasured".
  if (size >= ASN1_LENGTH_UNMEASURED) {
    return Fail(kInvalidData);
  }
  try {
    return DecodeRoot(nullptr, pFile, size, ppRoot);
  } catch (const std::bad_alloc&) {
    return Fail(kNoMemory);
  }
}
