#include "foundation/asn1/asn1_compose.h"

#include <cstring>
#include <memory>
#include <new>

#include "foundation/asn1/asn1_node.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "FunctionInterface"

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kNoMemory = static_cast<HRESULT>(0x8007000E);
// ASN1Encode takes a signed 32-bit content length; one octet may be added.
constexpr DWORD kMaxDataSize = 0x7FFFFFFE;

// Encodes tag + (optional leading zero octet) + data.
HRESULT ComposeWithPrefix(const TraceHelper& mrTraceScope_, BYTE byTag, bool bLeadingZero,
                          const BYTE* pbyData, DWORD dwDataSize, BYTE** ppbyEncodedData,
                          DWORD* pdwEncodedDataLen) {
  const size_t contentSize = static_cast<size_t>(dwDataSize) + (bLeadingZero ? 1 : 0);
  std::unique_ptr<BYTE[]> pbySrcData(new (std::nothrow) BYTE[contentSize]());
  if (!pbySrcData) {
    MR_LOG_FAIL(L"New buffer", L"!pbySrcData", kNoMemory);
    return kNoMemory;
  }
  std::memcpy(pbySrcData.get() + (bLeadingZero ? 1 : 0), pbyData, dwDataSize);

  BYTE* pbyEncoded = nullptr;
  DWORD dwEncodedLen = 0;
  HRESULT hResult = ASN1Encode(byTag, pbySrcData.get(), static_cast<int>(contentSize), &pbyEncoded,
                               &dwEncodedLen);
  if (hResult != S_OK) {
    hResult = merro::FoldWin32Error(hResult);
    MR_LOG_FAIL(L"ASN1Encode", L"hResult != S_OK", hResult);
    return hResult;
  }
  *ppbyEncodedData = pbyEncoded;
  *pdwEncodedDataLen = dwEncodedLen;
  return S_OK;
}

}  // namespace

#define CHECK_COMPOSE_ARGUMENTS()                                                              \
  MR_FAIL_IF(pbyData == NULL, L"Check pbyData", kBadArgument);                                 \
  MR_FAIL_IF(dwDataSize <= 0, L"Check dwDataSize", kBadArgument);                              \
  MR_FAIL_IF(dwDataSize > kMaxDataSize, L"Check dwDataSize", kBadArgument);                    \
  MR_FAIL_IF(ppbyEncodedData == NULL, L"Check ppbyEncodedData", kBadArgument);                 \
  MR_FAIL_IF(pdwEncodedDataLen == NULL, L"Check pdwEncodedDataLen", kBadArgument)

HRESULT ComposeInteger(const BYTE* pbyData, DWORD dwDataSize, BYTE** ppbyEncodedData,
                       DWORD* pdwEncodedDataLen) {
  MR_TRACE("ComposeInteger");
  CHECK_COMPOSE_ARGUMENTS();
  merro::trace::TraceValues(merro::trace::kFunctionInterfaceMessageGuid, 39,
                            {DWORD{pbyData[0]}, dwDataSize});
  return ComposeWithPrefix(mrTraceScope_, 0x02, (pbyData[0] & 0x80) != 0, pbyData, dwDataSize,
                           ppbyEncodedData, pdwEncodedDataLen);
}

HRESULT ComposeBITString(const BYTE* pbyData, DWORD dwDataSize, BYTE** ppbyEncodedData,
                         DWORD* pdwEncodedDataLen) {
  MR_TRACE("ComposeBITString");
  CHECK_COMPOSE_ARGUMENTS();
  merro::trace::TraceValues(merro::trace::kFunctionInterfaceMessageGuid, 40, {dwDataSize});
  return ComposeWithPrefix(mrTraceScope_, 0x03, true, pbyData, dwDataSize, ppbyEncodedData,
                           pdwEncodedDataLen);
}
