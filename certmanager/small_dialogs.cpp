#include "certmanager/small_dialogs.h"

#include "certmanager/MerroCommonFiles/file_version.h"
#include "certmanager/center_window.h"
#include "certmanager_string_ids.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "SmallDialogs"

namespace {

constexpr DWORD kVersionCapacity = 128;
constexpr int kNameCapacity = 260;

}  // namespace

std::wstring ProgramFileVersion() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    return std::wstring();
  }
  wchar_t version[kVersionCapacity] = {};
  const HRESULT hResult = ReadFileVersion(path, version, kVersionCapacity);
  if (FAILED(hResult)) {
    MR_TRACE("ProgramFileVersion");
    MR_LOG_FAIL(L"ReadFileVersion", L"FAILED(hResult)", hResult);
    return std::wstring();
  }
  return version;
}

BOOL CAboutDlg::OnInitDialog() {
  ::SetWindowTextW(Window(), merro::win::LoadThisModuleString(IDS_MAIN_TITLE).c_str());
  const std::wstring line =
      merro::win::LoadThisModuleString(IDS_MANAGER_NAME) + L" " + ProgramFileVersion();
  ::SetDlgItemTextW(Window(), IDC_ABOUT_VERSION, line.c_str());
  merro::certmanager::CenterOverOwner(Window());
  return TRUE;
}

BOOL CHelpDlg::OnInitDialog() {
  merro::certmanager::CenterOverOwner(Window());
  return TRUE;
}

BOOL CModifyDevNameDlg::OnInitDialog() {
  merro::certmanager::CenterOverOwner(Window());
  m_newName.clear();
  ::SendDlgItemMessageW(Window(), IDC_NEW_DEV_NAME, EM_LIMITTEXT, kMaxNameChars, 0);
  return TRUE;
}

bool CModifyDevNameDlg::OnCommand(WORD id, WORD notifyCode, HWND) {
  switch (id) {
    case IDC_NEW_DEV_NAME:
      if (notifyCode == EN_CHANGE) {
        const int length = ::GetWindowTextLengthW(::GetDlgItem(Window(), IDC_NEW_DEV_NAME));
        ::EnableWindow(::GetDlgItem(Window(), IDOK), length > 0);
      }
      return true;
    case IDOK: {
      wchar_t name[kNameCapacity + 1] = {};
      ::GetDlgItemTextW(Window(), IDC_NEW_DEV_NAME, name, kNameCapacity + 1);
      m_newName = name;
      EndDialog(IDOK);
      return true;
    }
    case IDCANCEL:
      m_newName.clear();
      EndDialog(IDCANCEL);
      return true;
    default:
      return false;
  }
}

bool CModifyDevNameDlg::OnClose() {
  m_newName.clear();
  EndDialog(0);
  return true;
}
