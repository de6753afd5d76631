// CMainDlg: the commands of the buttons that act on a token (device
// information, renaming) and the about and help boxes; the PIN change is in
// main_dlg_modify_pin.cpp, the hidden initialise and unlock in
// main_dlg_hidden_commands.cpp. Each command
// looks its token up by the remembered device name when it runs, so that a refresh in between can never make it
// act on another token; the dispatch (OnCommand) disables the four command
// buttons afterwards.
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "certmanager/main_dlg.h"
#include "certmanager/small_dialogs.h"
#include "certmanager_string_ids.h"
#include "device/device_handle.h"
#include "foundation/misc/text_convert.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"
#include "provider/container_information.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MainDlg"

namespace {

// The information box's text is kept below this many characters, the
// terminator included; a longer label is cut, never written past the end.
constexpr size_t kDeviceInfoCapacity = 256;
constexpr wchar_t kEmptyLabelName[] = L"Merro30";

std::wstring String(UINT id) { return merro::win::LoadThisModuleString(id); }

// "<300>\n    <label>\n<302>\n    <305>X.X.X.X\n<303>\n    <170> <version>\n",
// the four numbers the hexadecimal values of the first version bytes.
std::wstring DeviceInfoText(const std::wstring& label, const unsigned char* version,
                            const std::wstring& fileVersion) {
  wchar_t numbers[32] = {};
  std::swprintf(numbers, std::size(numbers), L"%X.%X.%X.%X", version[0], version[1], version[2],
                version[3]);
  std::wstring text = String(IDS_DEVICE_NAME) + L"\n    " + label + L"\n" +
                      String(IDS_DEVICE_VERSION) + L"\n    " + String(IDS_KEY_NAME) + numbers +
                      L"\n" + String(IDS_SOFTWARE_VERSION) + L"\n    " +
                      String(IDS_MANAGER_NAME) + L" " + fileVersion + L"\n";
  if (text.size() > kDeviceInfoCapacity - 1) {
    text.resize(kDeviceInfoCapacity - 1);
  }
  return text;
}

}  // namespace

void CMainDlg::OnClickViewDev() {
  MR_TRACE("CMainDlg::OnClickViewDev");
  const merro::provider::TokenInformation* pToken = SelectedTokenOrTell(IDS_DEVICE_INFO);
  if (pToken == nullptr) {
    return;
  }
  const std::string devName = pToken->strDeviceName;

  // A token that never stored a name reads unwritten bytes, not text: the
  // same stored name the tree shows.
  std::wstring label;
  const std::string storedName = merro::provider::ReadStoredTokenName(devName.c_str());
  HRESULT hResult = S_OK;
  if (!storedName.empty()) {
    hResult = UTF8ToUTF16Text(storedName.c_str(), &label);
    if (FAILED(hResult)) {
      MR_LOG_FAIL(L"UTF8ToUTF16Text", L"FAILED(hResult)", hResult);
      label.clear();
    }
  }
  if (label.empty()) {
    label = kEmptyLabelName;
  }

  unsigned char version[merro::device::DeviceHandle::kCosVersionSize] = {};
  char* pszVersion = nullptr;
  hResult = g_pDeviceHandle->GetDeviceCosVer(devName.c_str(), &pszVersion);
  const std::unique_ptr<char[]> versionOwner(pszVersion);
  if (SUCCEEDED(hResult) && pszVersion != nullptr) {
    std::memcpy(version, pszVersion, sizeof version);
  } else {
    MR_LOG_FAIL(L"GetDeviceCosVer", L"FAILED(hResult)", hResult);
  }

  const std::wstring text = DeviceInfoText(label, version, ProgramFileVersion());
  ::MessageBoxW(Window(), text.c_str(), String(IDS_DEVICE_INFO).c_str(), MB_ICONINFORMATION);
}

void CMainDlg::OnClickAbout() {
  MR_TRACE("CMainDlg::OnClickAbout");
  CAboutDlg dlg;
  dlg.DoModal(::GetActiveWindow(), 0);
}

void CMainDlg::OnClickHelp() {
  MR_TRACE("CMainDlg::OnClickHelp");
  CHelpDlg dlg;
  dlg.DoModal(::GetActiveWindow(), 0);
}

void CMainDlg::OnClickModDevName() {
  MR_TRACE("CMainDlg::OnClickModDevName");
  const merro::provider::TokenInformation* pSelected = SelectedTokenOrTell(IDS_APP_TITLE);
  if (pSelected == nullptr) {
    return;
  }
  // A refresh while the dialog is open replaces the token list and clears
  // the selection: the name typed is for the token selected now.
  const std::string devName = pSelected->strDeviceName;
  CModifyDevNameDlg dlg;
  dlg.DoModal(::GetActiveWindow(), 0);
  if (dlg.NewName().empty()) {
    return;
  }
  if (ListedToken(devName) == nullptr) {
    MR_LOG_FAIL(L"Find token", L"pToken == NULL", NTE_NO_KEY);
    ShowBox(IDS_SELECT_KEY, IDS_APP_TITLE, MB_ICONERROR);
    return;
  }
  std::string name;
  HRESULT hResult = UTF16ToUTF8Text(dlg.NewName().c_str(), &name);
  if (FAILED(hResult)) {
    MR_LOG_FAIL(L"UTF16ToUTF8Text", L"FAILED(hResult)", hResult);
    return;
  }
  hResult = g_pDeviceHandle->SetDeviceTokenInfo(devName.c_str(), name.c_str());
  if (FAILED(hResult)) {
    MR_LOG_FAIL(L"SetDeviceTokenInfo", L"FAILED(hResult)", hResult);
  }
  InitializeCertTree(FALSE);
}
