#include "foundation/win/protect_data.h"

#include <wincrypt.h>
#include <dpapi.h>

#include <cstring>
#include <new>

#include "foundation/secure_wipe.h"
#include "foundation/trace/trace.h"
#include "foundation/win/win_resource.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Misc"

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kNoMemory = static_cast<HRESULT>(0x8007000E);

// The system's output blob: wiped (it may hold plain data) and freed.
class SystemBlob {
 public:
  SystemBlob() = default;
  ~SystemBlob() {
    if (m_blob.pbData != nullptr) {
      merro::SecureWipe(m_blob.pbData, m_blob.cbData);
      ::LocalFree(m_blob.pbData);
    }
  }
  SystemBlob(const SystemBlob&) = delete;
  SystemBlob& operator=(const SystemBlob&) = delete;
  DATA_BLOB* Put() { return &m_blob; }
  const DATA_BLOB& Get() const { return m_blob; }

 private:
  DATA_BLOB m_blob{0, nullptr};
};

// Copies the blob into a new buffer one octet longer than the blob.
HRESULT HandOut(const TraceHelper& mrTraceScope_, const DATA_BLOB& blob, BYTE** ppbDataOut,
                DWORD* pdwDataOutSize) {
  BYTE* out = new (std::nothrow) BYTE[static_cast<size_t>(blob.cbData) + 1]();
  if (out == nullptr) {
    MR_LOG_FAIL(L"New buffer", L"!*ppbDataOut", kNoMemory);
    return kNoMemory;
  }
  if (blob.cbData != 0) {
    std::memcpy(out, blob.pbData, blob.cbData);
  }
  *ppbDataOut = out;
  *pdwDataOutSize = blob.cbData;
  return S_OK;
}

}  // namespace

HRESULT CreateProtectData(const BYTE* pbDataIn, DWORD dwDataInSize, const void*, const void*,
                          DWORD, BYTE** ppbDataOut, DWORD* pdwDataOutSize) {
  MR_TRACE("CreateProtectData");
  MR_FAIL_IF(pbDataIn == NULL || dwDataInSize == 0 || ppbDataOut == NULL, L"Check parameter",
             kBadArgument);
  MR_FAIL_IF(pdwDataOutSize == NULL, L"Check parameter", kBadArgument);

  DATA_BLOB in{dwDataInSize, const_cast<BYTE*>(pbDataIn)};
  SystemBlob out;
  if (!::CryptProtectData(&in, L"MerroCSPSecureData", nullptr, nullptr, nullptr, 0, out.Put())) {
    const HRESULT hr = merro::win::FailedCallResult(ERROR_INVALID_DATA);
    merro::trace::TraceValues(merro::trace::kMiscMessageGuid, 14, {L"FALSE"});
    MR_LOG_FAIL(L"CryptProtectData", L"bRetCode == FALSE", hr);
    return hr;
  }
  return HandOut(mrTraceScope_, out.Get(), ppbDataOut, pdwDataOutSize);
}

HRESULT AcquireProtectData(const BYTE* pbDataIn, DWORD dwDataInSize, const void*, DWORD,
                           BYTE** ppbDataOut, DWORD* pdwDataOutSize) {
  MR_TRACE("AcquireProtectData");
  MR_FAIL_IF(pbDataIn == NULL || dwDataInSize == 0 || ppbDataOut == NULL, L"Check parameter",
             kBadArgument);
  MR_FAIL_IF(pdwDataOutSize == NULL, L"Check parameter", kBadArgument);

  DATA_BLOB in{dwDataInSize, const_cast<BYTE*>(pbDataIn)};
  SystemBlob out;
  if (!::CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, out.Put())) {
    const HRESULT hr = merro::win::FailedCallResult(ERROR_INVALID_DATA);
    MR_LOG_FAIL(L"CryptUnprotectData", L"bRetCode == FALSE", hr);
    return hr;
  }
  return HandOut(mrTraceScope_, out.Get(), ppbDataOut, pdwDataOutSize);
}
