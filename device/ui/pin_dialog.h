// The PIN entry dialog (template 203): a prompt chosen by the mode, the
// remaining tries, the PIN field and OK, enabled for 6 to 16 characters.
#pragma once

#include <windows.h>

#include "device/ui/dialog_base.h"
#include "device/ui/password_edit.h"
#include "foundation/secret_bytes.h"
#include "resources/device/device_resource_ids.h"

namespace merro::ui {

class CInputPINDlg : public DialogImpl<CInputPINDlg> {
 public:
  enum { IDD = IDD_INPUT_PIN };
  // Modes: 0 user PIN, 1 administrator PIN, any other asks again after a
  // wrong PIN.
  static constexpr int kModeUser = 0;
  static constexpr int kModeAdministrator = 1;
  static constexpr int kModeRetry = 2;

  CInputPINDlg();
  ~CInputPINDlg() override;

  HRESULT Initialize(int nMode, int nLeftTimes);
  // The PIN typed before OK: 0x80004005 before Initialize or for an empty
  // PIN, 0x8010006E when the dialog was cancelled or closed, 0x8007000E
  // when no buffer could be had.
  HRESULT GetPIN(SecretBytes* pPin) const;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(WORD id, WORD notifyCode, HWND control) override;
  bool OnClose() override;

 private:
  void OnOK();
  void ClearPIN();
  void CloseDialog();

  CPasswordEdit m_edtPIN;
  BOOL m_bClickOK = FALSE;
  BOOL m_bInitialzie = FALSE;
  char m_szPIN[128] = {};
  int m_nLeftTimes = 0;
  int m_nMode = 0;
};

}  // namespace merro::ui
