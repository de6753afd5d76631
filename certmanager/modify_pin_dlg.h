// CModifyPINDlg: the modal dialog in which the user types the old user PIN
// and the new one twice. OK checks the rules (pin_rules.h) and stays open
// with an error box on the first one broken; the accepted PINs are kept, in
// memory wiped when the dialog object goes, until the caller takes copies.
#pragma once

#include <windows.h>

#include "certmanager_resource_ids.h"
#include "device/ui/dialog_base.h"
#include "device/ui/password_edit.h"
#include "foundation/secret_bytes.h"

class CModifyPINDlg : public merro::ui::DialogImpl<CModifyPINDlg> {
 public:
  enum { IDD = IDD_MODIFY_PIN };

  CModifyPINDlg() = default;
  ~CModifyPINDlg() override;

  // Copies of the accepted old and new PIN (filled once OK passed every
  // rule). 0x80070057 for a missing out-parameter, 0x8007000E when no copy
  // could be made.
  HRESULT GetOldPINAndNewPIN(merro::SecretBytes* pOldPIN, merro::SecretBytes* pNewPIN) const;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(WORD id, WORD notifyCode, HWND control) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* pResult) override;

 private:
  void OnOK();
  void OnPaint();
  void WipePINs();

  merro::ui::CPasswordEdit m_edtOldPIN;
  merro::ui::CPasswordEdit m_edtNewPIN;
  merro::ui::CPasswordEdit m_edtConfirmPIN;
  merro::SecretBytes m_oldPIN;
  merro::SecretBytes m_newPIN;
  // Non-zero (the creation parameter): the red "Original PIN error." tip.
  LPARAM m_nTip = 0;
};
