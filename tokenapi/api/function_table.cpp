#include "tokenapi/api/function_table.h"

#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

namespace {

constexpr TOKEN_FUNCTION_LIST MakeFunctionList() {
  TOKEN_FUNCTION_LIST t{};
  t.version = {MR_FUNCTION_LIST_MAJOR, MR_FUNCTION_LIST_MINOR};
  // In slot order.
  t.pEnumDevice = EnumDevice;
  t.pOpenDevice = OpenDevice;
  t.pCloseDevice = CloseDevice;
  t.pEnumContainer = EnumContainer;
  t.pCreateContainer = CreateContainer;
  t.pDeleteContainer = DeleteContainer;
  t.pReadContainer = ReadContainer;
  t.pWriteContainer = WriteContainer;
  t.pEnableContainer = EnableContainer;
  t.pVerifyPIN = VerifyPIN;
  t.pChangePIN = ChangePIN;
  t.pUnlockPIN = UnlockPIN;
  t.pGetPINStatus = GetPINStatus;
  t.pExternalAuth = ExternalAuth;
  t.pSetSessionKey = SetSessionKey;
  // slot 15 stays empty
  t.pGenerateRandom = GenerateRandom;
  t.pGenerateKeyPair = GenerateKeyPair;
  t.pImportKeyPair = ImportKeyPair;
  // slot 19 stays empty
  t.pExportPublicKey = ExportPublicKey;
  t.pImportCert = ImportCert;
  t.pExportCert = ExportCert;
  t.pAsymKeyInit = AsymKeyInit;
  t.pAsymKeyFinal = AsymKeyFinal;
  t.pSignXML = SignXML;
  t.pDigestInit = DigestInit;
  t.pDigestUpdate = DigestUpdate;
  t.pDigestFinal = DigestFinal;
  t.pSignDataResult = SignDataResult;
  t.pSignDigest = SignDigest;
  t.pPrikeyDec = PrikeyDec;
  t.pHWSymKeyCrypto = HWSymKeyCrypto;
  t.pVerifySignature = VerifySignature;
  t.pPubkeyEnc = PubkeyEnc;
  t.pHashInit = HashInit;
  t.pHashUpdate = HashUpdate;
  t.pHashFinal = HashFinal;
  t.pSymKeyInit = SymKeyInit;
  t.pSymKeyUpdate = SymKeyUpdate;
  t.pSymKeyFinal = SymKeyFinal;
  t.pEraseMF = EraseMF;
  t.pEraseCOS = EraseCOS;
  t.pInitTokenFile = InitTokenFile;
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
  // slot 55 stays empty
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
