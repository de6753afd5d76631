#include "foundation/win/file_util.h"

#include <shlwapi.h>

#include <algorithm>
#include <memory>
#include <new>

#include "foundation/trace/trace.h"
#include "foundation/win/win_resource.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Misc"

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kNoMemory = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT kFileTooLarge = static_cast<HRESULT>(0x800700DF);   // ERROR_FILE_TOO_LARGE
constexpr HRESULT kNotDirectory = static_cast<HRESULT>(0x8007010B);   // ERROR_DIRECTORY
constexpr HRESULT kPathTooLong = static_cast<HRESULT>(0x800700CE);    // ERROR_FILENAME_EXCED_RANGE
constexpr HRESULT kShortRead = static_cast<HRESULT>(0x80070026);      // ERROR_HANDLE_EOF
constexpr HRESULT kShortWrite = static_cast<HRESULT>(0x8007001D);     // ERROR_WRITE_FAULT
constexpr size_t kPrefixCapacity = MAX_PATH;

using merro::win::FailedCallResult;
using merro::win::UniqueHandle;

constexpr const char* kWriteFileSimple = "WriteFileSimple";

#define WRITE_FAIL(step, reason, result) \
  ::merro::trace::LogFailure(MR_TRACE_SOURCE, __LINE__, kWriteFileSimple, step, reason, result)

}  // namespace

HRESULT ReadFileSimple(LPCWSTR lpwFilePathName, DWORD dwFileLimitSize, BYTE** ppbyFileContent,
                       DWORD* pdwFileSize) {
  MR_TRACE("ReadFileSimple");
  MR_FAIL_IF(lpwFilePathName == NULL, L"Check parameters", kBadArgument);
  merro::trace::TraceValues(merro::trace::kMiscMessageGuid, 10, {lpwFilePathName});

  if (!::PathFileExistsW(lpwFilePathName)) {
    const HRESULT hr = FailedCallResult(ERROR_FILE_NOT_FOUND);
    MR_LOG_FAIL(L"PathFileExists", L"bRetCode == FALSE", hr);
    return hr;
  }
  UniqueHandle file(::CreateFileW(lpwFilePathName, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    const HRESULT hr = FailedCallResult(ERROR_OPEN_FAILED);
    MR_LOG_FAIL(L"CreateFile", L"hFile == INVALID_HANDLE_VALUE", hr);
    return hr;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size)) {
    const HRESULT hr = FailedCallResult(ERROR_READ_FAULT);
    MR_LOG_FAIL(L"GetFileSize", L"bRetCode == FALSE", hr);
    return hr;
  }
  // The whole 64-bit size counts: a file of 4 GiB + 1 octet is not one octet long.
  if (size.QuadPart > static_cast<LONGLONG>(dwFileLimitSize)) {
    MR_LOG_FAIL(L"Check file size", L"dwFileSize > dwFileLimitSize", kFileTooLarge);
    return kFileTooLarge;
  }
  const DWORD dwFileSize = static_cast<DWORD>(size.QuadPart);
  merro::trace::TraceValues(merro::trace::kMiscMessageGuid, 11, {dwFileSize});

  if (ppbyFileContent == nullptr) {
    if (pdwFileSize != nullptr) {
      *pdwFileSize = dwFileSize;
    }
    return S_OK;
  }
  std::unique_ptr<BYTE[]> lpFileContent(new (std::nothrow) BYTE[static_cast<size_t>(dwFileSize) + 1]());
  if (!lpFileContent) {
    MR_LOG_FAIL(L"New buffer", L"!lpFileContent", kNoMemory);
    return kNoMemory;
  }
  DWORD dwTotal = 0;
  while (dwTotal < dwFileSize) {
    DWORD dwRead = 0;
    if (!::ReadFile(file.Get(), lpFileContent.get() + dwTotal, dwFileSize - dwTotal, &dwRead, nullptr)) {
      const HRESULT hr = FailedCallResult(ERROR_READ_FAULT);
      MR_LOG_FAIL(L"ReadFile", L"bRetCode == FALSE", hr);
      return hr;
    }
    if (dwRead == 0) {
      MR_LOG_FAIL(L"ReadFile", L"dwBytesRead != dwFileSize", kShortRead);
      return kShortRead;  // the file shrank under us
    }
    dwTotal += dwRead;
  }
  *ppbyFileContent = lpFileContent.release();
  if (pdwFileSize != nullptr) {
    *pdwFileSize = dwFileSize;
  }
  return S_OK;
}

HRESULT WriteFileSimple(DWORD dwCreateFlag, LPCWSTR lpwFilePathName, const BYTE* pbyData,
                        DWORD dwDataSize) {
  if (lpwFilePathName == nullptr) {
    WRITE_FAIL(L"Check parameters", L"lpwFilePathName == NULL", kBadArgument);
    return kBadArgument;
  }
  if (pbyData == nullptr && dwDataSize != 0) {
    WRITE_FAIL(L"Check parameters", L"pbyData == NULL", kBadArgument);
    return kBadArgument;
  }
  if (dwCreateFlag == 1 && ::GetFileAttributesW(lpwFilePathName) != INVALID_FILE_ATTRIBUTES) {
    if (!::SetFileAttributesW(lpwFilePathName, FILE_ATTRIBUTE_NORMAL)) {
      const HRESULT hr = FailedCallResult(ERROR_ACCESS_DENIED);
      WRITE_FAIL(L"SetFileAttributes", L"bRetCode == FALSE", hr);
      return hr;
    }
    if (!::DeleteFileW(lpwFilePathName)) {
      const HRESULT hr = FailedCallResult(ERROR_ACCESS_DENIED);
      WRITE_FAIL(L"DeleteFile", L"bRetCode == FALSE", hr);
      return hr;
    }
  }
  UniqueHandle file(::CreateFileW(lpwFilePathName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  dwCreateFlag == 0 ? OPEN_ALWAYS : CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    const HRESULT hr = FailedCallResult(ERROR_OPEN_FAILED);
    WRITE_FAIL(L"CreateFile", L"hFile == INVALID_HANDLE_VALUE", hr);
    return hr;
  }
  DWORD dwTotal = 0;
  while (dwTotal < dwDataSize) {
    DWORD dwWritten = 0;
    if (!::WriteFile(file.Get(), pbyData + dwTotal, dwDataSize - dwTotal, &dwWritten, nullptr)) {
      const HRESULT hr = FailedCallResult(ERROR_WRITE_FAULT);
      WRITE_FAIL(L"WriteFile", L"bRetCode == FALSE", hr);
      return hr;
    }
    if (dwWritten == 0) {
      WRITE_FAIL(L"WriteFile", L"dwWritten != dwDataSize", kShortWrite);
      return kShortWrite;
    }
    dwTotal += dwWritten;
  }
  return S_OK;
}

HRESULT CreateDirectories(LPCWSTR wszDirectory) {
  MR_TRACE("CreateDirectories");
  MR_FAIL_IF(wszDirectory == NULL, L"Check parameter", kBadArgument);
  merro::trace::TraceValues(merro::trace::kMiscMessageGuid, 12, {wszDirectory});

  for (const wchar_t* p = wszDirectory; *p != L'\0'; ++p) {
    if (*p != L'\\') {
      continue;
    }
    const size_t nPrefixLength = static_cast<size_t>(p - wszDirectory);
    if (nPrefixLength == 0) {
      continue;  // a path that starts at the root: there is nothing to create
    }
    MR_FAIL_IF(nPrefixLength >= kPrefixCapacity, L"Check path length", kPathTooLong);
    wchar_t wszPrefix[kPrefixCapacity] = {};
    std::copy(wszDirectory, p, wszPrefix);
    merro::trace::TraceValues(merro::trace::kMiscMessageGuid, 13, {wszPrefix});

    if (!::PathFileExistsW(wszPrefix)) {
      if (!::CreateDirectoryW(wszPrefix, nullptr)) {
        // Another process may have made it meanwhile; only a failure counts.
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS || !::PathIsDirectoryW(wszPrefix)) {
          ::SetLastError(error);
          const HRESULT hr = FailedCallResult(ERROR_CANNOT_MAKE);
          MR_LOG_FAIL(L"CreateDirectory", L"bRetCode == FALSE", hr);
          return hr;
        }
      }
    } else if (!::PathIsDirectoryW(wszPrefix)) {
      MR_LOG_FAIL(L"Check if target path is directory", L"bRetCode == FALSE", kNotDirectory);
      return kNotDirectory;
    }
  }
  return S_OK;
}
