#include "certmanager/message_loop.h"

#include <algorithm>

namespace merro::certmanager {
namespace {

thread_local MessageLoop* t_pLoop = nullptr;

}  // namespace

void MessageLoop::AddMessageFilter(MessageFilter* pFilter) { m_filters.push_back(pFilter); }

void MessageLoop::RemoveMessageFilter(MessageFilter* pFilter) {
  m_filters.erase(std::remove(m_filters.begin(), m_filters.end(), pFilter), m_filters.end());
}

int MessageLoop::Run() {
  MSG msg{};
  for (;;) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      return static_cast<int>(msg.wParam);
    }
    if (got == -1) {
      return 0;
    }
    bool handled = false;
    // A filter may remove itself (its window is destroyed) while it runs.
    const std::vector<MessageFilter*> filters = m_filters;
    for (MessageFilter* pFilter : filters) {
      if (pFilter->PreTranslateMessage(&msg)) {
        handled = true;
        break;
      }
    }
    if (!handled) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

ThreadMessageLoop::ThreadMessageLoop(MessageLoop* pLoop) : m_pPrevious(t_pLoop) { t_pLoop = pLoop; }

ThreadMessageLoop::~ThreadMessageLoop() { t_pLoop = m_pPrevious; }

MessageLoop* ThreadMessageLoop::Current() { return t_pLoop; }

}  // namespace merro::certmanager
