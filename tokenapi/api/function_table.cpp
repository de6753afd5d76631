#include "tokenapi/api/function_table.h"

#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

namespace {

constexpr TOKEN_FUNCTION_LIST MakeFunctionList() {
  TOKEN_FUNCTION_LIST t{};
  t.version = {MR_FUNCTION_LIST_MAJOR, MR_FUNCTION_LIST_MINOR};
  t.pEnumDevice = EnumDevice;
  t.pOpenDevice = OpenDevice;
  t.pCloseDevice = CloseDevice;
  t.pVerifyPIN = VerifyPIN;
  t.pChangePIN = ChangePIN;
  t.pUnlockPIN = UnlockPIN;
  t.pGetPINStatus = GetPINStatus;
  t.pExternalAuth = ExternalAuth;
  t.pSetSessionKey = SetSessionKey;
  t.pGenerateRandom = GenerateRandom;
  t.pHashInit = HashInit;
  t.pHashUpdate = HashUpdate;
  t.pHashFinal = HashFinal;
  t.pSymKeyInit = SymKeyInit;
  t.pSymKeyUpdate = SymKeyUpdate;
  t.pSymKeyFinal = SymKeyFinal;
  t.pEraseMF = EraseMF;
  t.pEraseCOS = EraseCOS;
  t.pGetChipSN = GetChipSN;
  t.pGetDeviceInfo = GetDeviceInfo;
  t.pSetTokenName = SetTokenName;
  t.pGetTokenName = GetTokenName;
  t.pSetTokenSN = SetTokenSN;
  t.pGetTokenSN = GetTokenSN;
  t.pSetDevLabel = SetDevLabel;
  t.pGetDevLabel = GetDevLabel;
  t.pWriteFlash = WriteFlash;
  t.pReadFlash = ReadFlash;
  t.pEraseFlash = EraseFlash;
  t.pSelectFile = SelectFile;
  t.pCreateCosFile = CreateCosFile;
  t.pWriteCosFile = WriteCosFile;
  t.pReadCosFile = ReadCosFile;
  t.pEraseCosFile = EraseCosFile;
  t.pDeleteCosFile = DeleteCosFile;
  return t;
}

// Filled when the program is loaded: every caller sees the same finished
// table, and no two threads ever write it at once.
constexpr TOKEN_FUNCTION_LIST kFunctionList = MakeFunctionList();
TOKEN_FUNCTION_LIST g_functionList = kFunctionList;

}  // namespace

HRESULT GetTokenFunctionList(TOKEN_FUNCTION_LIST** ppFunctionList) {
  MR_TRACE("GetTokenFunctionList");
  MR_FAIL_IF(ppFunctionList == nullptr, L"CHECK ppFunctionList", static_cast<HRESULT>(0x80070001));
  *ppFunctionList = &g_functionList;
  return 0;
}
