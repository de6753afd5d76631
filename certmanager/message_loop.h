// The main thread's message loop: every message of the thread passes the
// registered filters first (the main dialog's IsDialogMessageW), then is
// translated and dispatched, until WM_QUIT.
#pragma once

#include <windows.h>

#include <vector>

namespace merro::certmanager {

class MessageFilter {
 public:
  virtual ~MessageFilter() = default;
  // TRUE when the message was handled and must not be dispatched.
  virtual BOOL PreTranslateMessage(MSG* pMsg) = 0;
};

class MessageLoop {
 public:
  MessageLoop() = default;
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  void AddMessageFilter(MessageFilter* pFilter);
  void RemoveMessageFilter(MessageFilter* pFilter);

  // Runs until WM_QUIT; its wParam (or 0 when GetMessageW fails).
  int Run();

 private:
  std::vector<MessageFilter*> m_filters;
};

// The loop registered for the calling thread while the scope lasts, so
// that a window created on the thread finds it (ThreadMessageLoop::Current).
class ThreadMessageLoop {
 public:
  explicit ThreadMessageLoop(MessageLoop* pLoop);
  ~ThreadMessageLoop();
  ThreadMessageLoop(const ThreadMessageLoop&) = delete;
  ThreadMessageLoop& operator=(const ThreadMessageLoop&) = delete;

  // The calling thread's loop, or null.
  static MessageLoop* Current();

 private:
  MessageLoop* m_pPrevious;
};

}  // namespace merro::certmanager
