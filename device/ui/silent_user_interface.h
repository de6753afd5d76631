// The UI seam on a thread inside a SilentScope: it asks nobody anything and
// lets the token's own confirmations run through the interface in use.
#pragma once

#include "device/ui/user_interface.h"

namespace merro::ui {

class SilentUserInterface : public UserInterface {
 public:
  // pfnInUse: the interface that confirmations go to.
  explicit SilentUserInterface(UserInterface& (*pfnInUse)()) : m_pfnInUse(pfnInUse) {}

  // NTE_SILENT_CONTEXT; nothing is shown.
  HRESULT AskPin(const PinRequest& request, SecretBytes* pPin) override;
  // NTE_SILENT_CONTEXT with *pRow -1; nothing is shown.
  HRESULT SelectToken(HWND owner, const std::vector<device::DeviceItem>& devices,
                      int* pRow) override;
  // 0: no box was shown.
  int ShowMessage(HWND owner, UINT textId, UINT captionId, UINT type) override;
  // The interface in use runs it: the token's button or time-out ends it.
  HRESULT RunConfirmed(const ConfirmRequest& request, const TokenCall& call) override;

 private:
  UserInterface& (*m_pfnInUse)();
};

}  // namespace merro::ui
