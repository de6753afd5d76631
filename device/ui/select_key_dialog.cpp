#include "device/ui/select_key_dialog.h"

#include <cstring>
#include <cwchar>
#include <memory>

#include "foundation/misc/text_convert.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "SelectKeyDlg"

namespace merro::ui {

namespace {

constexpr wchar_t kDefaultLabel[] = L"Merro30 Key";

}  // namespace

CSelectKeyDlg::CSelectKeyDlg() { std::memset(m_wszLabels, 0, sizeof(m_wszLabels)); }

HRESULT CSelectKeyDlg::SetSelectedKey(const std::vector<device::DeviceItem>& devices) {
  MR_TRACE("CSelectKeyDlg::SetSelectedKey");
  if (devices.size() > kMaxLabels) {
    // The list holds 64 rows; the tokens past them cannot be chosen here.
    MR_LOG_STEP(L"more tokens than list rows: only the first 64 are listed");
  }
  int unlabelled = 0;
  for (const device::DeviceItem& item : devices) {
    if (m_nLabelCount >= kMaxLabels) {
      break;
    }
    wchar_t* target = m_wszLabels[m_nLabelCount];
    if (item.szDeviceLabel[0] != '\0') {
      // The record's label may fill its whole array: convert a terminated copy.
      char label[device::kDeviceNameChars + 1] = {};
      std::memcpy(label, item.szDeviceLabel, sizeof(item.szDeviceLabel));
      UTF16CHAR* converted = nullptr;
      const HRESULT hr = UTF8ToUTF16(label, &converted, nullptr);
      if (hr != S_OK) {
        MR_LOG_FAIL(L"UTF8ToUTF16 for szDeviceLabel", L"hr != S_OK", hr);
        return hr;
      }
      std::unique_ptr<UTF16CHAR[]> owned(converted);
      ::lstrcpynW(target, owned.get(), static_cast<int>(kLabelChars));
    } else {
      ++unlabelled;
      std::swprintf(target, kLabelChars, L"%ls--(%d)", kDefaultLabel, unlabelled);
    }
    ++m_nLabelCount;
  }
  return S_OK;
}

BOOL CSelectKeyDlg::OnInitDialog() {
  MR_TRACE("CSelectKeyDlg::OnInitDialog");
  if (m_hKeyList == nullptr) {
    m_hKeyList = ::GetDlgItem(Window(), IDC_KEY_LIST);
  }
  for (size_t i = 0; i < m_nLabelCount; ++i) {
    ::SendMessageW(m_hKeyList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(m_wszLabels[i]));
  }
  ::SendMessageW(m_hKeyList, CB_SETCURSEL, 0, 0);
  return TRUE;
}

bool CSelectKeyDlg::OnCommand(WORD id, WORD notifyCode, HWND control) {
  switch (id) {
    case IDC_SELECT_OK: {
      MR_TRACE("CSelectKeyDlg::OnClickOK");
      // An empty list answers CB_ERR (-1): OK then counts as a cancellation.
      m_nSelectedIndex = static_cast<int>(::SendMessageW(m_hKeyList, CB_GETCURSEL, 0, 0));
      CloseDialog();
      return true;
    }
    case IDC_SELECT_CANCEL: {
      MR_TRACE("CSelectKeyDlg::OnClickCancel");
      m_nSelectedIndex = -1;
      CloseDialog();
      return true;
    }
    default:
      // IDCANCEL (Escape) is not handled: Escape leaves the dialog up.
      return false;
  }
}

bool CSelectKeyDlg::OnClose() {
  MR_TRACE("CSelectKeyDlg::OnClose");
  CloseDialog();
  return true;
}

void CSelectKeyDlg::CloseDialog() {
  if (Window() != nullptr && ::IsWindow(Window())) {
    EndDialog(0);
  }
}

}  // namespace merro::ui
