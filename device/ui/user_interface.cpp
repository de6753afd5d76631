#include "device/ui/user_interface.h"

#include "device/ui/silent_user_interface.h"
#include "device/ui/win32_user_interface.h"

namespace merro::ui {

namespace {

std::unique_ptr<UserInterface>& Installed() {
  static std::unique_ptr<UserInterface> installed;
  return installed;
}

UserInterface& InUse() {
  static Win32UserInterface real;
  UserInterface* installed = Installed().get();
  return installed != nullptr ? *installed : real;
}

}  // namespace

UserInterface& UserInterface::Current() {
  if (SilentScope::Active()) {
    static SilentUserInterface silent(&InUse);
    return silent;
  }
  return InUse();
}

std::unique_ptr<UserInterface> UserInterface::Install(std::unique_ptr<UserInterface> ui) {
  std::unique_ptr<UserInterface> previous = std::move(Installed());
  Installed() = std::move(ui);
  return previous;
}

}  // namespace merro::ui
