#include <string>

#include "device/ui/win32_user_interface.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"

namespace merro::ui {

int Win32UserInterface::ShowMessage(HWND owner, UINT textId, UINT captionId, UINT type) {
  MR_TRACE("Win32UserInterface::ShowMessage");
  try {
    const std::wstring text = merro::win::LoadThisModuleString(textId);
    const std::wstring caption = merro::win::LoadThisModuleString(captionId);
    if (text.empty() || caption.empty()) {
      MR_LOG_FAIL(L"LoadStringW", L"text.empty() || caption.empty()",
                  static_cast<LONG>(0x80070716));  // ERROR_RESOURCE_NAME_NOT_FOUND
      return 0;
    }
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
  } catch (...) {
    return 0;
  }
}

}  // namespace merro::ui
