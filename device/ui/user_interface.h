// The one seam through which the device layer and the provider reach the
// user: PIN entry, token selection, message boxes and the confirmation
// dialogs that stand on the screen while the token waits for its button.
// Win32UserInterface shows the real dialogs; tests install a scripted one.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/device_item.h"
#include "foundation/secret_bytes.h"

namespace merro::ui {

// PIN dialog modes: 0 user PIN, 1 administrator PIN, 2 again after a wrong PIN.
struct PinRequest {
  HWND owner = nullptr;
  int mode = 0;
  int tries = 0;  // remaining tries shown to the user
  const wchar_t* prompt = nullptr;  // optional: a text that replaces the mode's prompt
};

// Which confirmation dialog stands on the screen while the token call runs.
enum class ConfirmKind {
  Transaction,  // the token shows the data and waits for OK or C (dialog 227)
  Operation,    // a PIN operation waits for the token's button (dialog 202)
};

struct ConfirmRequest {
  ConfirmKind kind = ConfirmKind::Operation;
  HWND owner = nullptr;
  std::wstring tips;  // the operation dialog's text; empty keeps the template's
};

// The token call a confirmation dialog runs on its worker thread.
using TokenCall = std::function<HRESULT()>;

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // Asks for a PIN. S_OK with the typed PIN in *pPin, 0x8010006E when the
  // user cancelled, or the failure that kept the dialog from running.
  virtual HRESULT AskPin(const PinRequest& request, SecretBytes* pPin) = 0;

  // Lets the user pick a token. *pRow is the index into `devices`, or -1
  // when the user cancelled or closed the dialog.
  virtual HRESULT SelectToken(HWND owner, const std::vector<device::DeviceItem>& devices,
                              int* pRow) = 0;

  // A message box with texts loaded from this module's string table; the
  // button the user pressed (IDOK, ...), or 0 when no box could be shown.
  virtual int ShowMessage(HWND owner, UINT textId, UINT captionId, UINT type) = 0;

  // Runs `call` on one worker thread while the confirmation dialog stands,
  // always joins it, and returns its result with the token's C (0x8000FF06)
  // mapped to 0x8010006E and its time-out (0x8000FF07) to 0x8010000A.
  virtual HRESULT RunConfirmed(const ConfirmRequest& request, const TokenCall& call) = 0;

  // The interface in use: the one installed last, else the real dialogs.
  static UserInterface& Current();
  // Installs `ui` for the process (null goes back to the real dialogs) and
  // returns the one it replaces.
  static std::unique_ptr<UserInterface> Install(std::unique_ptr<UserInterface> ui);
};

}  // namespace merro::ui
