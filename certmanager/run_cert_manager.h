// The certificate manager's start-up and shut-down: the body of wWinMain, in
// a library so that a test can run the whole program on a thread of its
// own. The single-instance rule, the "-t" quit request, the tray and event
// threads, the token layer and the main dialog's message loop.
#pragma once

#include <windows.h>

#include "certmanager/manager_thread_param.h"

// Runs the manager; the exit code: 1 after a real exit (the tray's Exit, or
// "-t" from another process), 0 when it ends early (a quit request, a
// second start, a thread or the main dialog that could not be made).
int RunCertManager(HINSTANCE hInstance, LPCWSTR lpCmdLine, int nShowCmd);

// Whether the start asks a running manager to quit: a show command above 0
// and a command line that is exactly "-t" (without regard to case).
bool IsQuitRequest(LPCWSTR lpCmdLine, int nShowCmd);

// 1 when another manager runs (the caller ends; its main dialog, when found
// by its title, was asked to come to the front), 0 when this process is the
// first. Stores the instance event and (first process only) the show event
// it created or opened into the out-parameters, which the caller closes.
int CheckExistedInstance(HANDLE* phInstanceEvent, HANDLE* phShowEvent);

// The tray thread: runs the tray dialog modally until a real exit ends it.
DWORD WINAPI TrayThread(LPVOID lpParam);
// The event thread: obeys the quit and show events until the quit event is
// set (or waiting on them fails).
DWORD WINAPI OpenMainDlgThread(LPVOID lpParam);

// Creates the main dialog (shown when a token is inserted, else hidden) and
// runs the thread's message loop until WM_QUIT; the loop's result, or 0 when
// the dialog could not be created.
int Run(LPCWSTR lpCmdLine, int nShowCmd, ManagerThreadParam* pParam);
