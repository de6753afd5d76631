// The token selection dialog: a drop-down list of the inserted tokens'
// labels, in device-list order. After the modal call SelectedIndex() is the
// chosen token's index in the device list, or -1 when the user cancelled or
// closed the dialog.
#pragma once

#include <windows.h>

#include <vector>

#include "device/device_item.h"
#include "device/ui/dialog_base.h"
#include "resources/device/device_resource_ids.h"

namespace merro::ui {

class CSelectKeyDlg : public DialogImpl<CSelectKeyDlg> {
 public:
  enum { IDD = IDD_SELECT_KEY };
  static constexpr size_t kMaxLabels = 64;
  static constexpr size_t kLabelChars = 260;

  CSelectKeyDlg();

  // Fills the labels from the device list: a token's own (UTF-8) label, or
  // "Merro30 Key--(n)" with the unlabelled tokens numbered from 1. Only the
  // first kMaxLabels tokens are listed, so a row is still the token's index
  // in `devices`. S_OK, or the first failure (the labels made so far stay).
  HRESULT SetSelectedKey(const std::vector<device::DeviceItem>& devices);

  int SelectedIndex() const { return m_nSelectedIndex; }
  size_t LabelCount() const { return m_nLabelCount; }
  const wchar_t* Label(size_t i) const { return i < m_nLabelCount ? m_wszLabels[i] : nullptr; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(WORD id, WORD notifyCode, HWND control) override;
  bool OnClose() override;

 private:
  void CloseDialog();

  int m_nSelectedIndex = -1;
  HWND m_hKeyList = nullptr;
  wchar_t m_wszLabels[kMaxLabels][kLabelChars];
  size_t m_nLabelCount = 0;
};

}  // namespace merro::ui
