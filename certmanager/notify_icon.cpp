#include "certmanager/notify_icon.h"

#include <atomic>

namespace merro::certmanager {
namespace {

std::atomic<NotifyIconFunction> g_notifyIcon{&::Shell_NotifyIconW};

}  // namespace

BOOL NotifyIcon(DWORD dwMessage, PNOTIFYICONDATAW pData) {
  return g_notifyIcon.load()(dwMessage, pData);
}

NotifyIconFunction SetNotifyIconFunction(NotifyIconFunction function) {
  return g_notifyIcon.exchange(function != nullptr ? function : &::Shell_NotifyIconW);
}

}  // namespace merro::certmanager
