// The real dialogs behind the UI seam: message boxes, the token selection
// dialog, the PIN dialog and the confirmation dialogs, all loaded from the
// resources of the module that holds this code.
#pragma once

#include "device/ui/confirm_runner.h"
#include "device/ui/user_interface.h"

namespace merro::ui {

class Win32UserInterface : public UserInterface {
 public:
  HRESULT AskPin(const PinRequest& request, SecretBytes* pPin) override;        // win32_ui_pin.cpp
  HRESULT SelectToken(HWND owner, const std::vector<device::DeviceItem>& devices,
                      int* pRow) override;                                      // win32_ui_select.cpp
  int ShowMessage(HWND owner, UINT textId, UINT captionId, UINT type) override;  // win32_ui_message.cpp
  // Transaction: dialog 227 with the request's tips (0x80070057 when they
  // are empty); operation: dialog 202 with them (empty keeps the
  // template's text).
  HRESULT RunConfirmed(const ConfirmRequest& request, const TokenCall& call) override;  // win32_ui_confirm.cpp

  // How the confirmations start their worker (null: CreateThread).
  void SetThreadStart(ConfirmRunner::ThreadStart pfnStart) { m_pfnThreadStart = pfnStart; }

 private:
  ConfirmRunner::ThreadStart m_pfnThreadStart = nullptr;
};

}  // namespace merro::ui
