// The manager's small modal dialogs: about (version line), help (hotline)
// and the new device name.
#pragma once

#include <windows.h>

#include <string>

#include "certmanager_resource_ids.h"
#include "device/ui/dialog_base.h"

// A box with only OK: OK ends it with 1, the close box with 0.
template <class T>
class COkOnlyDlg : public merro::ui::DialogImpl<T> {
 protected:
  bool OnCommand(WORD id, WORD, HWND) override {
    if (id != IDOK) {
      return false;
    }
    this->EndDialog(IDOK);
    return true;
  }
  bool OnClose() override {
    this->EndDialog(0);
    return true;
  }
};

class CAboutDlg : public COkOnlyDlg<CAboutDlg> {
 public:
  enum { IDD = IDD_ABOUT };

 protected:
  BOOL OnInitDialog() override;
};

class CHelpDlg : public COkOnlyDlg<CHelpDlg> {
 public:
  enum { IDD = IDD_HELP };

 protected:
  BOOL OnInitDialog() override;
};

class CModifyDevNameDlg : public merro::ui::DialogImpl<CModifyDevNameDlg> {
 public:
  enum { IDD = IDD_MODIFY_DEV_NAME };
  static constexpr int kMaxNameChars = 10;

  // The name typed before OK; empty after Cancel or a close.
  const std::wstring& NewName() const { return m_newName; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(WORD id, WORD notifyCode, HWND control) override;
  bool OnClose() override;

 private:
  std::wstring m_newName;
};

// The program's own "FileVersion" text; empty when it cannot be read.
std::wstring ProgramFileVersion();
