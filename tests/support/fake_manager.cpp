// merro-fake-manager: stands in for a running certificate manager in the
// tests of the provider's certificate import. It holds the manager's
// instance event, waits for the provider's EVENT-A and, when told to
// answer, sets EVENT-B as the manager does after its refresh.
//
//   merro-fake-manager <provider name> answer|silent <ready file> [wait ms]
//
// The ready file is written once the events exist. Exit code 0: EVENT-A
// came (and was answered in "answer" mode); 2: it did not come within the
// wait (default 20000 ms); 1: bad arguments or the events could not be made.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "provider/manager_events.h"

namespace {

// Auto-reset, as the manager and the device object create them.
HANDLE SignalEvent(wchar_t letter, const std::wstring& providerName) {
  const std::wstring name = std::wstring(L"EVENT-") + letter + L"-{" + providerName + L"}";
  return ::CreateEventW(nullptr, FALSE, FALSE, name.c_str());
}

std::wstring Widen(const char* text) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) {
    ::MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], n);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (std::strcmp(argv[2], "answer") != 0 && std::strcmp(argv[2], "silent") != 0)) {
    std::fprintf(stderr, "usage: merro-fake-manager <provider> answer|silent <ready file> [ms]\n");
    return 1;
  }
  const std::wstring providerName = Widen(argv[1]);
  const bool answer = std::strcmp(argv[2], "answer") == 0;
  const DWORD waitMs = argc > 4 ? static_cast<DWORD>(std::strtoul(argv[4], nullptr, 10)) : 20000;

  const HANDLE instance =
      ::CreateEventW(nullptr, TRUE, FALSE, merro::provider::g_wszInstanceEventName);
  const HANDLE eventA = SignalEvent(L'A', providerName);
  const HANDLE eventB = SignalEvent(L'B', providerName);
  if (instance == nullptr || eventA == nullptr || eventB == nullptr) {
    return 1;
  }
  if (FILE* ready = std::fopen(argv[3], "w")) {
    std::fputs("ready\n", ready);
    std::fclose(ready);
  } else {
    return 1;
  }

  int code = 2;
  if (::WaitForSingleObject(eventA, waitMs) == WAIT_OBJECT_0) {
    if (answer) {
      ::SetEvent(eventB);
    }
    code = 0;
  }
  ::CloseHandle(eventB);
  ::CloseHandle(eventA);
  ::CloseHandle(instance);
  return code;
}
