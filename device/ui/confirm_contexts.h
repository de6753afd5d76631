// The records a confirmation runs: the PIN operation of the operation
// dialog and the signature of the transaction dialog, and the token calls
// built from them. A caller fills one on its own stack, hands the call to
// UserInterface::RunConfirmed (which always joins the worker before it
// returns), and reads the result afterwards. Everything the records point to
// belongs to the caller and outlives the confirmation.
#pragma once

#include <windows.h>

#include "device/ui/user_interface.h"
#include "tokenapi/api/token_types.h"

namespace merro::ui {

// The token API's PIN operations the operation dialog runs: VerifyPIN's
// four arguments and ChangePIN's six.
using PinOperation4 = HRESULT (*)(DEV_CTX*, BYTE, const BYTE*, BYTE);
using PinOperation6 = HRESULT (*)(DEV_CTX*, BYTE, const BYTE*, BYTE, const BYTE*, BYTE);

// Argument forms of OperationConfirmContext.
inline constexpr int kOperationForm4 = 0;  // (context, arg1, arg2, arg3)
inline constexpr int kOperationForm6 = 1;  // (context, arg1, arg2, arg3, arg4, arg5)

struct OperationConfirmContext {
  HWND hDialog = nullptr;             // the dialog window, filled in by the dialog
  DWORD dwArg1 = 0;                   // the PIN type
  const wchar_t* pwszTips = nullptr;  // the dialog's text; null or empty keeps none
  DWORD dwArg3 = 0;                   // the first PIN's length
  const BYTE* pbyArg2 = nullptr;      // the first PIN
  DWORD dwArg5 = 0;                   // the second PIN's length
  const BYTE* pbyArg4 = nullptr;      // the second PIN
  int nArgForm = kOperationForm4;
  PinOperation4 pfnOperation4 = nullptr;  // called in form 0
  PinOperation6 pfnOperation6 = nullptr;  // called in form 1
  DEV_CTX* pDevCtx = nullptr;             // the operation's first argument
  // A failure until a worker stored its result: a confirmation that never
  // ran is never taken for a success.
  HRESULT hResult = E_FAIL;
};

// Calls the operation the context describes and returns its result. It
// returns 0x80004005 without calling anything for a form other than 0 and 1
// or a form without its operation, and 0x80070057 for a length the token
// API's byte cannot carry (above 255): a narrowed length would send a
// different PIN.
HRESULT CallOperation(const OperationConfirmContext& context);
// The same as a call for a confirmation's worker, over a copy of the context.
TokenCall OperationCall(const OperationConfirmContext& context);

class CTransactionConfirmDlg;

// The signature the transaction dialog runs: the token API's SignXML.
struct TransactionContext {
  void* pKeyCtx = nullptr;         // the token-API key context
  BYTE byHashType = 0;             // the token hash type
  const BYTE* pbySourceData = nullptr;  // the data the token shows and signs
  DWORD nSourceDataSize = 0;
  BYTE* pSignedData = nullptr;     // the signature
  DWORD* pSignedDataSize = nullptr;  // in: its capacity, out: its length
  CTransactionConfirmDlg* pDialog = nullptr;  // the dialog that runs it, once it does
};

// SignXML over a copy of the context's six values, for the worker.
TokenCall TransactionCall(const TransactionContext& context);

}  // namespace merro::ui
