#include "device/ui/gdiplus_session.h"

#include "foundation/trace/trace.h"
#include "foundation/win/image_load.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "TransactionConfirmDlg"

namespace merro::ui {

GdiplusSession::GdiplusSession() {
  MR_TRACE("GdiplusSession::GdiplusSession");
  Gdiplus::GdiplusStartupInput input;
  const Gdiplus::Status status = Gdiplus::GdiplusStartup(&m_token, &input, nullptr);
  m_bStarted = status == Gdiplus::Ok;
  if (!m_bStarted) {
    MR_LOG_FAIL(L"GdiplusStartup", L"status != Ok", E_FAIL);
  }
}

GdiplusSession::~GdiplusSession() {
  if (m_bStarted) {
    Gdiplus::GdiplusShutdown(m_token);
  }
}

}  // namespace merro::ui
