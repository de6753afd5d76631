// A test's stand-in for a host program's window procedure that runs inside
// one of the library's dialogs (a timer of the calling thread, dispatched
// by the dialog's modal loop): calls the host makes there nest inside the
// provider call that showed the dialog.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/ui/user_interface.h"

namespace merro::testing {

// The UI with a host program's window procedure in front of it: the first
// prompt of one kind ("pin" or "confirm") runs the hook on the calling
// thread, as a timer of the host does inside the dialog's modal loop, and
// the scripted UI then answers. Installed for the object's lifetime.
class HostWindowInDialog : public ui::UserInterface {
 public:
  HostWindowInDialog(std::string kind, std::function<void()> hook)
      : m_kind(std::move(kind)), m_hook(std::move(hook)) {}

  // Installs a hooked interface in front of the current one; the returned
  // guard puts the current one back.
  struct Installed {
    std::unique_ptr<ui::UserInterface> previous;
    ~Installed() { ui::UserInterface::Install(std::move(previous)); }
  };
  static std::unique_ptr<Installed> Install(std::string kind, std::function<void()> hook) {
    auto hooked = std::make_unique<HostWindowInDialog>(std::move(kind), std::move(hook));
    HostWindowInDialog* self = hooked.get();
    auto installed = std::make_unique<Installed>();
    installed->previous = ui::UserInterface::Install(std::move(hooked));
    self->m_answers = installed->previous.get();
    return installed;
  }

  HRESULT AskPin(const ui::PinRequest& request, SecretBytes* pPin) override {
    RunOnce("pin");
    return m_answers->AskPin(request, pPin);
  }
  HRESULT SelectToken(HWND owner, const std::vector<device::DeviceItem>& devices,
                      int* pRow) override {
    return m_answers->SelectToken(owner, devices, pRow);
  }
  int ShowMessage(HWND owner, UINT textId, UINT captionId, UINT type) override {
    return m_answers->ShowMessage(owner, textId, captionId, type);
  }
  HRESULT RunConfirmed(const ui::ConfirmRequest& request, const ui::TokenCall& call) override {
    RunOnce("confirm");
    return m_answers->RunConfirmed(request, call);
  }

 private:
  void RunOnce(const char* kind) {
    if (m_kind == kind && m_hook) {
      std::function<void()> hook = std::move(m_hook);
      m_hook = nullptr;
      hook();
    }
  }
  std::string m_kind;
  std::function<void()> m_hook;
  ui::UserInterface* m_answers = nullptr;
};

}  // namespace merro::testing
