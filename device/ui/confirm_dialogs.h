// The two confirmation dialogs. They cannot be answered on the screen: they
// tell the holder to press OK or C on the token, and close themselves when
// the token has answered (confirm_dialog.h).
//
// CTransactionConfirmDlg (template 227) runs SignXML while the token shows a
// transaction, with a picture of the token. The signing code sets the tips
// (SetOperationTips) and the six values (SetTransactionContext), shows it and
// reads m_hSignResult; through the UI seam it hands RunConfirmed its tips and
// TransactionCall(m_stTransactionContext) instead.
//
// COperationConfirmDlg (template 202) runs the PIN operation of the caller's
// OperationConfirmContext while the token waits for its button.
#pragma once

#include <windows.h>

#include "device/ui/confirm_contexts.h"
#include "device/ui/confirm_dialog.h"
#include "device/ui/confirm_text.h"
#include "device/ui/image_static.h"
#include "resources/device/device_resource_ids.h"

namespace merro::ui {

class CTransactionConfirmDlg : public ConfirmDialog {
 public:
  enum { IDD = IDD_TRANSACTION_CONFIRM };
  static constexpr size_t kTipsChars = 512;

  CTransactionConfirmDlg();

  // 0x80070057 for a null or empty text; otherwise the text replaces the
  // template's, cut to 511 characters.
  HRESULT SetOperationTips(const wchar_t* pwszOperationTips);
  // Checks the six values in order (0x80070057 at the first that is null or
  // zero) and keeps them for the worker's SignXML.
  HRESULT SetTransactionContext(void* pKeyCtx, BYTE byHashType, const BYTE* pbySourceData,
                                DWORD nSourceDataSize, BYTE* pSignedData, DWORD* pSignedDataSize);
  // Shows the dialog owned by `owner` with GDI+ running for the picture, and
  // returns once the worker has been joined; the result is also kept in
  // m_hSignResult.
  HRESULT DoModal(HWND owner);

  // A failure until a worker stored its result: with no worker run, the
  // caller's output buffer is never taken for a signature.
  HRESULT m_hSignResult;
  wchar_t m_wszOperationTips[kTipsChars];
  TransactionContext m_stTransactionContext;
  CImageStatic m_picture;

 protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* pResult) override;
  TokenCall OwnCall() override { return TransactionCall(m_stTransactionContext); }

 private:
  void FitToPicture();

  bool m_bGdiplusStarted = false;
  CConfirmText m_text;
};

class COperationConfirmDlg : public ConfirmDialog {
 public:
  enum { IDD = IDD_OPERATION_CONFIRM };

  // Shows the dialog for the caller's context: its tips (a null text keeps
  // the template's), its operation on the worker (or the call given with
  // SetTokenCall). The result is stored in pContext->hResult and returned;
  // 0x80070057 for a null context.
  HRESULT DoModal(HWND owner, OperationConfirmContext* pContext);

 protected:
  BOOL OnInitDialog() override;
  TokenCall OwnCall() override { return OperationCall(*m_pContext); }

 private:
  OperationConfirmContext* m_pContext = nullptr;
  CConfirmText m_text;
};

}  // namespace merro::ui
