// A minimal DLL with a .def export table: proves that the cross toolchain
// produces modules that Wine's loader accepts and whose exports resolve.
#include <windows.h>

extern "C" DWORD WINAPI MerroProbeAnswer(DWORD dwIn) { return dwIn * 2 + 1; }

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
  if (dwReason == DLL_PROCESS_ATTACH) {
    ::DisableThreadLibraryCalls(hInstance);
  }
  return TRUE;
}
