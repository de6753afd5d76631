// CMainDlg: the commands of the buttons that act on a token (PIN change,
// device information, renaming, the hidden initialise and unlock) and the
// about and help boxes. Each command looks its token up by the remembered
// device name when it runs, so that a refresh in between can never make it
// act on another token; the dispatch (OnCommand) disables the four command
// buttons afterwards.
//
// Their dialogs are not built yet: for now each command finds its token
// and stops there.
#include "certmanager/main_dlg.h"
#include "certmanager_string_ids.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MainDlg"

void CMainDlg::OnClickModifyPIN() {
  MR_TRACE("CMainDlg::OnClickModifyPIN");
  if (SelectedTokenOrTell(IDS_MODIFY_USER_PIN) == nullptr) {
    return;
  }
}

void CMainDlg::OnClickViewDev() {
  MR_TRACE("CMainDlg::OnClickViewDev");
  if (SelectedTokenOrTell(IDS_DEVICE_INFO) == nullptr) {
    return;
  }
}

void CMainDlg::OnClickAbout() { MR_TRACE("CMainDlg::OnClickAbout"); }

void CMainDlg::OnClickHelp() { MR_TRACE("CMainDlg::OnClickHelp"); }

void CMainDlg::OnClickModDevName() {
  MR_TRACE("CMainDlg::OnClickModDevName");
  if (SelectedTokenOrTell(IDS_APP_TITLE) == nullptr) {
    return;
  }
}

void CMainDlg::OnClickInitialize() {
  MR_TRACE("CMainDlg::OnClickInitialize");
  if (SelectedTokenOrTell(IDS_INITIALIZE_KEY) == nullptr) {
    return;
  }
}

void CMainDlg::OnClickUnlockPin() {
  MR_TRACE("CMainDlg::OnClickUnlockPin");
  if (SelectedTokenOrTell(IDS_UNLOCK_USER_PIN) == nullptr) {
    return;
  }
}
