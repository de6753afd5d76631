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
  // On a thread inside a SilentScope, a guard in front of it instead: PIN
  // entry and token selection fail with NTE_SILENT_CONTEXT (0x80090022)
  // without a dialog, message boxes are not shown (0), and confirmations,
  // which the token's own button and time-out end, run as usual.
  static UserInterface& Current();
  // Installs `ui` for the process (null goes back to the real dialogs) and
  // returns the one it replaces.
  static std::unique_ptr<UserInterface> Install(std::unique_ptr<UserInterface> ui);
};

// Marks the calling thread, while the scope lives, as one on which nobody
// may be asked anything: the caller acquired its provider handle with
// CRYPT_SILENT (a service, a background task). A dialog there would wait
// for an answer that never comes, and every provider call of every process
// would wait behind it on the call lock. Scopes nest; one made with
// bAllowUI TRUE changes nothing.
class SilentScope {
 public:
  explicit SilentScope(BOOL bAllowUI);
  ~SilentScope();
  SilentScope(const SilentScope&) = delete;
  SilentScope& operator=(const SilentScope&) = delete;

  // Whether the calling thread is inside a silent scope.
  static bool Active();

 private:
  bool m_bSilent;
};

}  // namespace merro::ui
