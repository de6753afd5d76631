// Encoding of single DER elements and of ASN1Node trees.
#include <cstring>
#include <new>

#include "foundation/asn1/asn1_node.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "ASN1EngineEx"

namespace {

constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005);
constexpr HRESULT kNoMemory = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kTooManyNodes = static_cast<HRESULT>(0xA0071102);
constexpr HRESULT kTooLarge = static_cast<HRESULT>(0xA0071101);

// Log lines of the routines that have no scope tracer of their own.
#define ENGINE_FAIL(function, step, reason, result) \
  ::merro::trace::LogFailure(MR_TRACE_SOURCE, __LINE__, function, step, reason, result)
#define ENGINE_STEP(function, step) ::merro::trace::LogStep(function, step, 0)

constexpr const char* kEncodeTree = "EncodeASN1ToMemory";

DWORD LengthOctetCount(std::uint64_t ullLength) {
  if (ullLength < 0x80) {
    return 1;
  }
  DWORD n = 1;
  for (std::uint64_t v = ullLength; v >= 0x100; v >>= 8) {
    ++n;
  }
  return n + 1;
}

// One encoding run: the content size of every node (pre-order), measured
// before anything is written, so that each node's length octets state
// exactly what is written for it and the buffer is sized exactly.
class TreeEncoder {
 public:
  explicit TreeEncoder(DWORD* pnRecursiveCount) : m_pnCount(pnRecursiveCount) {}

  HRESULT Measure(const ASN1Node* pNode, DWORD dwDepth, std::uint64_t* pullContent) {
    if (m_pnCount != nullptr && ++*m_pnCount > MAX_ASN1_ENCODE_NODE_COUNT) {
      ENGINE_FAIL(kEncodeTree, L"Check recursive count", L"*pnRecursiveCount > 256", kTooManyNodes);
      return kTooManyNodes;
    }
    if (dwDepth > MAX_ASN1_ENCODE_NODE_COUNT) {
      ENGINE_FAIL(kEncodeTree, L"Check recursive depth", L"nDepth > 256", kTooManyNodes);
      return kTooManyNodes;
    }
    const size_t slot = m_sizes.size();
    m_sizes.push_back(0);
    std::uint64_t content = 0;
    if (pNode->m_vtrChildren.empty()) {
      const HRESULT hr = LeafContentSize(pNode, &content);
      if (hr != S_OK) {
        return hr;
      }
    } else {
      for (const auto& child : pNode->m_vtrChildren) {
        std::uint64_t childContent = 0;
        const HRESULT hr = Measure(child.get(), dwDepth + 1, &childContent);
        if (hr != S_OK) {
          return hr;
        }
        content += 1 + LengthOctetCount(childContent) + childContent;
        if (content > MAX_ASN1_DATA_MEMORY_SIZE) {
          ENGINE_FAIL(kEncodeTree, L"Check ASN.1 data size",
                      L"MAX_ASN1_DATA_MEMORY_SIZE < nCurrentRequiredLength", kTooLarge);
          return kTooLarge;
        }
      }
    }
    m_sizes[slot] = content;
    *pullContent = content;
    return S_OK;
  }

  HRESULT Write(const ASN1Node* pNode, BYTE* pbyOut, std::uint64_t ullCapacity,
                std::uint64_t* pullWritten) {
    const std::uint64_t content = m_sizes[m_cursor++];
    BYTE* pbyLength = nullptr;
    const int nLengthOctetsSize = EncodeASN1Length(static_cast<std::int64_t>(content), &pbyLength);
    if (nLengthOctetsSize == -1) {
      ENGINE_FAIL(kEncodeTree, L"EncodeASN1Length", L"-1 == nLengthOctetsSize", kFail);
      return kFail;
    }
    const std::unique_ptr<BYTE[]> lengthOctets(pbyLength);
    if (*pullWritten + 1 + nLengthOctetsSize + content > ullCapacity) {
      ENGINE_FAIL(kEncodeTree, L"Check ASN.1 data size", L"nWritten > nRequiredLength", kFail);
      return kFail;
    }
    pbyOut[(*pullWritten)++] = pNode->m_byTag;
    std::memcpy(pbyOut + *pullWritten, lengthOctets.get(), static_cast<size_t>(nLengthOctetsSize));
    *pullWritten += static_cast<std::uint64_t>(nLengthOctetsSize);

    if (pNode->m_vtrChildren.empty()) {
      const HRESULT hr = WriteLeafContent(pNode, pbyOut + *pullWritten, content);
      if (hr != S_OK) {
        return hr;
      }
      *pullWritten += content;
      return S_OK;
    }
    for (const auto& child : pNode->m_vtrChildren) {
      const HRESULT nResult = Write(child.get(), pbyOut, ullCapacity, pullWritten);
      if (nResult != S_OK) {
        const HRESULT hr = merro::FoldWin32Error(nResult);
        ENGINE_FAIL(kEncodeTree, L"EncodeASN1Memory", L"0 != nResult", hr);
        return hr;
      }
      ENGINE_STEP(kEncodeTree, L"EncodeASN1Memory");
    }
    return S_OK;
  }

 private:
  // A leaf's content comes from its own data, else from the memory or the
  // stream it was decoded from.
  static HRESULT LeafContentSize(const ASN1Node* pNode, std::uint64_t* pullContent) {
    if (pNode->m_pbyData != nullptr && pNode->m_dwDataLength != 0) {
      *pullContent = pNode->m_dwDataLength;
      return S_OK;
    }
    if (pNode->m_dwContentLength == 0) {
      *pullContent = 0;
      return S_OK;
    }
    if (pNode->m_dwContentLength == ASN1_LENGTH_UNMEASURED ||
        (pNode->m_pbyMemory == nullptr && pNode->m_pFile == nullptr)) {
      ENGINE_FAIL(kEncodeTree, L"Check node content", L"no source for nContentLength", kFail);
      return kFail;
    }
    *pullContent = pNode->m_dwContentLength;
    return S_OK;
  }

  static HRESULT WriteLeafContent(const ASN1Node* pNode, BYTE* pbyOut, std::uint64_t ullContent) {
    if (ullContent == 0) {
      return S_OK;
    }
    const size_t n = static_cast<size_t>(ullContent);
    if (pNode->m_pbyData != nullptr && pNode->m_dwDataLength != 0) {
      std::memcpy(pbyOut, pNode->m_pbyData, n);
      return S_OK;
    }
    if (pNode->m_pbyMemory != nullptr) {
      std::memcpy(pbyOut, pNode->m_pbyMemory + pNode->m_ullContentOffset, n);
      return S_OK;
    }
#ifdef _WIN32
    const bool positioned =
        ::_fseeki64(pNode->m_pFile, static_cast<__int64>(pNode->m_ullContentOffset), SEEK_SET) == 0;
#else
    const bool positioned =
        ::fseeko(pNode->m_pFile, static_cast<off_t>(pNode->m_ullContentOffset), SEEK_SET) == 0;
#endif
    if (!positioned || std::fread(pbyOut, 1, n, pNode->m_pFile) != n) {
      ENGINE_FAIL(kEncodeTree, L"fread", L"nRead != nContentLength", kFail);
      return kFail;
    }
    return S_OK;
  }

  DWORD* m_pnCount;
  std::vector<std::uint64_t> m_sizes;
  size_t m_cursor = 0;
};

}  // namespace

int EncodeASN1Length(std::int64_t llLength, BYTE** ppbyLengthOctets) {
  if (llLength < 0) {
    return -1;
  }
  const std::uint64_t length = static_cast<std::uint64_t>(llLength);
  const DWORD count = LengthOctetCount(length);
  if (ppbyLengthOctets == nullptr) {
    return static_cast<int>(count);
  }
  BYTE* out = new (std::nothrow) BYTE[count];
  if (out == nullptr) {
    return -1;
  }
  if (count == 1) {
    out[0] = static_cast<BYTE>(length);
  } else {
    out[0] = static_cast<BYTE>(0x80 | (count - 1));
    std::uint64_t v = length;
    for (DWORD i = count - 1; i >= 1; --i) {
      out[i] = static_cast<BYTE>(v & 0xFF);
      v >>= 8;
    }
  }
  *ppbyLengthOctets = out;
  return static_cast<int>(count);
}

HRESULT ASN1Encode(BYTE byTag, const BYTE* pbyContent, int nContentLength, BYTE** ppbyEncodedData,
                   DWORD* pdwEncodedDataLen) {
  constexpr const char* kFunction = "ASN1Encode";
  if (ppbyEncodedData == nullptr || pdwEncodedDataLen == nullptr || nContentLength < 0 ||
      (pbyContent == nullptr && nContentLength > 0)) {
    ENGINE_FAIL(kFunction, L"Check parameter",
                L"NULL == ppbyEncodedData || NULL == pdwEncodedDataLen || nContentLength < 0",
                kBadArgument);
    return kBadArgument;
  }
  BYTE* pbyLength = nullptr;
  const int nLengthOfLength = EncodeASN1Length(nContentLength, &pbyLength);
  if (nLengthOfLength == -1) {
    ENGINE_FAIL(kFunction, L"EncodeASN1Length", L"-1 == nLengthOfLength", kFail);
    return kFail;
  }
  const std::unique_ptr<BYTE[]> lengthOctets(pbyLength);
  ENGINE_STEP(kFunction, L"EncodeASN1Length");

  const size_t total = 1 + static_cast<size_t>(nLengthOfLength) + static_cast<size_t>(nContentLength);
  std::unique_ptr<BYTE[]> pbyEncodedData(new (std::nothrow) BYTE[total]());
  if (!pbyEncodedData) {
    ENGINE_FAIL(kFunction, L"New buffer", L"!pbyEncodedData", kNoMemory);
    return kNoMemory;
  }
  ENGINE_STEP(kFunction, L"New buffer");
  pbyEncodedData[0] = byTag;
  std::memcpy(pbyEncodedData.get() + 1, lengthOctets.get(), static_cast<size_t>(nLengthOfLength));
  if (nContentLength > 0) {
    std::memcpy(pbyEncodedData.get() + 1 + nLengthOfLength, pbyContent,
                static_cast<size_t>(nContentLength));
  }
  *ppbyEncodedData = pbyEncodedData.release();
  *pdwEncodedDataLen = static_cast<DWORD>(total);
  return S_OK;
}

void AddASN1Child(ASN1Node* pParent, std::unique_ptr<ASN1Node> child) {
  if (pParent == nullptr || !child) {
    return;
  }
  const std::uint64_t header = 1 + LengthOctetCount(child->m_dwContentLength);
  const auto grow = [](DWORD current, std::uint64_t add) {
    const std::uint64_t sum = current + add;
    return static_cast<DWORD>(sum < ASN1_LENGTH_UNMEASURED ? sum : ASN1_LENGTH_UNMEASURED - 1);
  };
  pParent->m_dwContentLength = grow(pParent->m_dwContentLength, header + child->m_dwContentLength);
  pParent->m_dwDataLength = grow(pParent->m_dwDataLength, header + child->m_dwDataLength);
  child->m_pParent = pParent;
  pParent->m_vtrChildren.push_back(std::move(child));
}

std::uint64_t GetASN1EncodedSize(const ASN1Node* pNode) {
  if (pNode == nullptr) {
    return 0;
  }
  return 1 + LengthOctetCount(pNode->m_dwContentLength) + pNode->m_dwContentLength;
}

std::uint64_t GetASN1RequiredSize(const ASN1Node* pNode) {
  if (pNode == nullptr) {
    return 0;
  }
  return 1 + LengthOctetCount(pNode->m_dwContentLength) + pNode->m_dwDataLength;
}

HRESULT EncodeASN1ToMemory(const ASN1Node* pNode, BYTE** ppEncodedData, DWORD* pnEncodedDataSize,
                           DWORD* pnRecursiveCount) {
  if (pNode == nullptr || ppEncodedData == nullptr || pnEncodedDataSize == nullptr) {
    ENGINE_FAIL(kEncodeTree, L"Check parameter",
                L"NULL == pNode || NULL == ppEncodedData || NULL == pnEncodedDataSize", kFail);
    return kFail;
  }
  if (*ppEncodedData != nullptr) {
    ENGINE_FAIL(kEncodeTree, L"Check parameter", L"NULL != *ppEncodedData", kFail);
    return kFail;
  }
  try {
    TreeEncoder encoder(pnRecursiveCount);
    std::uint64_t content = 0;
    HRESULT hr = encoder.Measure(pNode, 1, &content);
    if (hr != S_OK) {
      return hr;
    }
    const std::uint64_t nCurrentRequiredLength = 1 + LengthOctetCount(content) + content;
    if (nCurrentRequiredLength > MAX_ASN1_DATA_MEMORY_SIZE) {
      ENGINE_FAIL(kEncodeTree, L"Check ASN.1 data size",
                  L"MAX_ASN1_DATA_MEMORY_SIZE < nCurrentRequiredLength", kTooLarge);
      return kTooLarge;
    }
    const size_t capacity = static_cast<size_t>(nCurrentRequiredLength);
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[capacity]());
    if (!buffer) {
      ENGINE_FAIL(kEncodeTree, L"New memory", L"NULL == *ppEncodedData", kFail);
      return kFail;
    }
    std::uint64_t written = 0;
    hr = encoder.Write(pNode, buffer.get(), nCurrentRequiredLength, &written);
    if (hr != S_OK) {
      return hr;
    }
    *ppEncodedData = buffer.release();
    *pnEncodedDataSize = static_cast<DWORD>(written);
    return S_OK;
  } catch (const std::bad_alloc&) {
    ENGINE_FAIL(kEncodeTree, L"New memory", L"NULL == *ppEncodedData", kFail);
    return kFail;
  }
}
