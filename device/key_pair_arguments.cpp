#include "device/key_pair_arguments.h"

#include <cwchar>

#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

// Room for "Check " or a test after a parameter name.
constexpr size_t kCheckTextChars = 96;

// One check: whether it failed, the parameter's name and the test that
// failed, as the reason gives it after the name.
struct ArgumentCheck {
  bool bFails;
  const wchar_t* name;
  const wchar_t* test;
};

}  // namespace

HRESULT CheckKeyPairArguments(const char* function, const char* pszDevName,
                              const char* pszContainerName, const BYTE* pbyIn, DWORD dwInSize,
                              BYTE** ppbyOut, DWORD* pdwOutSize,
                              const KeyPairArgumentNames& names) {
  MR_TRACE_UNDER(function);
  const ArgumentCheck checks[] = {
      {pszDevName == nullptr, L"pszDevName", L" == NULL"},
      {pszContainerName == nullptr, L"pszContainerName", L" == NULL"},
      {pbyIn == nullptr, names.in, L" == NULL"},
      {dwInSize <= 0, names.inSize, L" <= 0"},
      {ppbyOut == nullptr, names.out, L" == NULL"},
      {pdwOutSize == nullptr, names.outSize, L" == NULL"},
  };
  for (const ArgumentCheck& check : checks) {
    if (check.bFails) {
      wchar_t step[kCheckTextChars] = {};
      wchar_t reason[kCheckTextChars] = {};
      std::swprintf(step, kCheckTextChars, L"Check %ls", check.name);
      std::swprintf(reason, kCheckTextChars, L"%ls%ls", check.name, check.test);
      MR_LOG_FAIL(step, reason, E_INVALIDARG);
      return E_INVALIDARG;
    }
  }
  return S_OK;
}

}  // namespace merro::device
