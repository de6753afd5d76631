// MerroCertManager.exe's entry point.
#include <windows.h>

#include "certmanager/run_cert_manager.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int nShowCmd) {
  return RunCertManager(hInstance, lpCmdLine, nShowCmd);
}
