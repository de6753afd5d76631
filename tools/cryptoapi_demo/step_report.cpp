#include "tools/cryptoapi_demo/step_report.h"

#include <winerror.h>

#include <cstdio>

namespace merro::demo {
namespace {

struct NamedError {
  DWORD code;
  const char* name;
};

// The errors a provider and advapi32 give on this road.
constexpr NamedError kNames[] = {
    {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE"},
    {ERROR_NOT_SUPPORTED, "ERROR_NOT_SUPPORTED"},
    {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
    {ERROR_MORE_DATA, "ERROR_MORE_DATA"},
    {static_cast<DWORD>(NTE_BAD_UID), "NTE_BAD_UID"},
    {static_cast<DWORD>(NTE_BAD_HASH), "NTE_BAD_HASH"},
    {static_cast<DWORD>(NTE_BAD_KEY), "NTE_BAD_KEY"},
    {static_cast<DWORD>(NTE_BAD_DATA), "NTE_BAD_DATA"},
    {static_cast<DWORD>(NTE_BAD_SIGNATURE), "NTE_BAD_SIGNATURE"},
    {static_cast<DWORD>(NTE_BAD_ALGID), "NTE_BAD_ALGID"},
    {static_cast<DWORD>(NTE_BAD_FLAGS), "NTE_BAD_FLAGS"},
    {static_cast<DWORD>(NTE_BAD_TYPE), "NTE_BAD_TYPE"},
    {static_cast<DWORD>(NTE_BAD_HASH_STATE), "NTE_BAD_HASH_STATE"},
    {static_cast<DWORD>(NTE_NO_KEY), "NTE_NO_KEY"},
    {static_cast<DWORD>(NTE_NO_MEMORY), "NTE_NO_MEMORY"},
    {static_cast<DWORD>(NTE_EXISTS), "NTE_EXISTS"},
    {static_cast<DWORD>(NTE_BAD_KEYSET), "NTE_BAD_KEYSET"},
    {static_cast<DWORD>(NTE_PROV_TYPE_NOT_DEF), "NTE_PROV_TYPE_NOT_DEF"},
    {static_cast<DWORD>(NTE_PROV_TYPE_NO_MATCH), "NTE_PROV_TYPE_NO_MATCH"},
    {static_cast<DWORD>(NTE_KEYSET_NOT_DEF), "NTE_KEYSET_NOT_DEF"},
    {static_cast<DWORD>(NTE_PROV_DLL_NOT_FOUND), "NTE_PROV_DLL_NOT_FOUND"},
    {static_cast<DWORD>(NTE_PROVIDER_DLL_FAIL), "NTE_PROVIDER_DLL_FAIL"},
    {static_cast<DWORD>(NTE_FAIL), "NTE_FAIL"},
    {static_cast<DWORD>(NTE_SILENT_CONTEXT), "NTE_SILENT_CONTEXT"},
    {static_cast<DWORD>(NTE_NOT_SUPPORTED), "NTE_NOT_SUPPORTED"},
    {static_cast<DWORD>(SCARD_E_TIMEOUT), "SCARD_E_TIMEOUT"},
    {static_cast<DWORD>(SCARD_W_WRONG_CHV), "SCARD_W_WRONG_CHV"},
    {static_cast<DWORD>(SCARD_W_CHV_BLOCKED), "SCARD_W_CHV_BLOCKED"},
    {static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER), "SCARD_W_CANCELLED_BY_USER"},
};

void Line(const char* mark, const std::string& what, const std::string& detail) {
  std::printf("  [%s] %s%s%s\n", mark, what.c_str(), detail.empty() ? "" : ": ", detail.c_str());
  // Each line shows at once, also when a later step waits.
  std::fflush(stdout);
}

}  // namespace

std::string ErrorText(DWORD error) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(error));
  std::string text = number;
  for (const NamedError& named : kNames) {
    if (named.code == error) {
      text += ' ';
      text += named.name;
      break;
    }
  }
  return text;
}

void StepReport::Section(const std::string& title) {
  std::printf("== %s\n", title.c_str());
  std::fflush(stdout);
}

bool StepReport::Step(const std::string& what, const Outcome& outcome, const std::string& detail) {
  if (outcome.ok) {
    Line("ok", what, detail);
    return true;
  }
  ++m_failures;
  Line("FAILED", what, "error " + ErrorText(outcome.error));
  return false;
}

bool StepReport::Check(const std::string& what, bool ok, const std::string& detail) {
  if (!ok) {
    ++m_failures;
  }
  Line(ok ? "ok" : "FAILED", what, detail);
  return ok;
}

}  // namespace merro::demo
