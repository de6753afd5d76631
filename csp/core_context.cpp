// Provider contexts and provider parameters.
#include <cstring>
#include <memory>
#include <utility>

#include "csp/core_call.h"
#include "csp/core_names.h"
#include "csp/cp_core.h"
#include "csp/registries.h"
#include "csp/signature_pin.h"
#include "provider/container.h"

namespace {

// Any of the four top bits asks for a verification context.
constexpr DWORD kVerifyContextBits = 0xF0000000;
// Its absence is handed to the factories as the third flag.
constexpr DWORD kThirdFlagOffBit = 0x1000;

}  // namespace

// The acquire flags decide which container stands behind the new handle: a
// new one on the token (NEWKEYSET wins over VERIFYCONTEXT), an existing named
// one, or, for VERIFYCONTEXT without a name, an ephemeral one.
BOOL CPCoreAcquireContext(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwFlags,
                          PVTableProvStruc pVTable) {
  CoreCall call("CPCoreAcquireContext");
  TraceCoreArguments(CoreArguments::kAcquireContext,
                     {szContainer != nullptr ? szContainer : "NULL", dwFlags});
  const BOOL bAllowUI = (dwFlags & CRYPT_SILENT) == 0;
  const BOOL bMachineKeySet = (dwFlags & CRYPT_MACHINE_KEYSET) != 0;
  const BOOL bThirdFlag = (dwFlags & kThirdFlagOffBit) == 0;
  if (!call.Check(phProv != nullptr && pVTable != nullptr, L"Check parameters",
                  ERROR_INVALID_PARAMETER) ||
      !call.Check((dwFlags & CRYPT_DELETEKEYSET) == 0, L"Not supported delete container",
                  NTE_NOT_SUPPORTED)) {
    return call.Finish();
  }

  std::unique_ptr<Container> spContainer;
  if ((dwFlags & CRYPT_NEWKEYSET) != 0) {
    if (!call.Check(!merro::csp::IsContainerOpened(szContainer),
                    L"Check if container has been created", NTE_EXISTS)) {
      return call.Finish();
    }
    HRESULT hCreate = E_FAIL;
    spContainer = Container::CreateNewContainer(szContainer, bAllowUI, bMachineKeySet, bThirdFlag,
                                                &hCreate);
    // The user's cancel and a prompt that CRYPT_SILENT forbade reach the
    // caller as they are.
    const bool bCallersAnswer =
        hCreate == SCARD_W_CANCELLED_BY_USER || hCreate == NTE_SILENT_CONTEXT;
    if (!call.Check(spContainer != nullptr, L"Create container",
                    bCallersAnswer ? hCreate : NTE_NO_MEMORY)) {
      return call.Finish();
    }
  } else if ((dwFlags & kVerifyContextBits) != 0) {
    spContainer = szContainer != nullptr
                      ? Container::CreateRegisteredContainer(szContainer, bAllowUI, bMachineKeySet)
                      : Container::CreateEphemeralContainer(bAllowUI, bMachineKeySet, bThirdFlag);
    if (!call.Check(spContainer != nullptr, L"Create container", NTE_NO_KEY)) {
      return call.Finish();
    }
  } else {
    if (!call.Check(szContainer != nullptr, L"Check container name", NTE_BAD_KEYSET)) {
      return call.Finish();
    }
    spContainer = Container::CreateRegisteredContainer(szContainer, bAllowUI, bMachineKeySet);
    if (!call.Check(spContainer != nullptr, L"Create container", NTE_NO_KEY)) {
      return call.Finish();
    }
  }

  *phProv = merro::csp::AddProvHandle(std::move(spContainer));
  call.Passed(L"Create container");
  return call.Finish();
}

BOOL CPCoreReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  CoreCall call("CPCoreReleaseContext", /*traced=*/false);
  TraceCoreArguments(CoreArguments::kReleaseContext, {dwFlags});
  if (call.Check(hProv != 0, L"Check parameters", ERROR_INVALID_PARAMETER) &&
      call.Check(merro::csp::IsKnownProvHandle(hProv), L"Check if it's valid container",
                 ERROR_INVALID_PARAMETER)) {
    merro::csp::RemoveProvHandleWithItsObjects(hProv);
  }
  return call.FinishKeepingCallerError();
}

// The window handle for the provider's dialogs, or a PIN for the next
// signatures of this handle.
BOOL CPCoreSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  CoreCall call("CPCoreSetProvParam");
  TraceCoreArguments(CoreArguments::kSetProvParam, {dwParam, dwFlags});
  if (!call.Check(hProv != 0 && pbData != nullptr, L"Check parameter", ERROR_INVALID_PARAMETER) ||
      !call.Check(merro::csp::IsKnownProvHandle(hProv), L"Check validity of provider handle",
                  ERROR_INVALID_PARAMETER)) {
    return call.Finish();
  }
  Container* pContainer = merro::csp::g_vtrProvHandleSet.Lookup(hProv);
  switch (dwParam) {
    case PP_CLIENT_HWND: {
      HWND hWnd = nullptr;
      std::memcpy(&hWnd, pbData, sizeof hWnd);
      const HRESULT hResult = pContainer->SetClientWindow(hWnd);
      call.Check(hResult == S_OK, L"SetClientWindow", static_cast<HRESULT>(hResult & 0xFFFF));
      break;
    }
    case PP_SIGNATURE_PIN:
      merro::csp::SetSignaturePIN(call, pContainer, pbData);
      break;
    default:
      call.Check(false, L"Parameter is not supported", ERROR_NOT_SUPPORTED);
      break;
  }
  return call.Finish();
}

BOOL CPCoreGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                        DWORD dwFlags) {
  CoreCall call("CPCoreGetProvParam");
  TraceCoreArguments(CoreArguments::kGetProvParam, {dwParam, LengthAt(pdwDataLen), dwFlags});
  if (!call.Check(hProv != 0 && pdwDataLen != nullptr, L"Check parameter",
                  ERROR_INVALID_PARAMETER) ||
      !call.Check(merro::csp::IsKnownProvHandle(hProv), L"Check validity of provider handle",
                  ERROR_INVALID_PARAMETER)) {
    return call.Finish();
  }
  const Container* pContainer = merro::csp::g_vtrProvHandleSet.Lookup(hProv);
  // A negative result of a checked accessor fails the call with it.
  const auto checked = [&call](HRESULT hResult, const wchar_t* step) {
    call.Check(SUCCEEDED(hResult), step, hResult);
  };
  switch (dwParam) {
    case PP_ENUMALGS:
      checked(Container::EnumAlgorithm(pbData, pdwDataLen, dwFlags), L"EnumAlgorithm");
      break;
    case PP_ENUMCONTAINERS:
      // The end of the list fails the call too (ERROR_NO_MORE_ITEMS).
      call.CheckResult(Container::EnumContainerName(pbData, pdwDataLen, dwFlags),
                       L"EnumContainerName");
      break;
    case PP_IMPTYPE:
      Container::GetImplementType(pbData, pdwDataLen);
      break;
    case PP_NAME:
      Container::GetCSPName(pbData, pdwDataLen);
      break;
    case PP_VERSION:
      Container::GetCSPVersion(pbData, pdwDataLen);
      break;
    case PP_CONTAINER:
    case PP_UNIQUE_CONTAINER:
      pContainer->GetContainerName(pbData, pdwDataLen);
      break;
    case PP_KEYSET_SEC_DESCR:
      checked(Container::GetKeysetSecurityDescriptor(pbData, pdwDataLen),
              L"GetKeysetSecurityDescriptor");
      break;
    case PP_PROVTYPE:
      checked(Container::GetProviderType(pbData, pdwDataLen), L"GetProviderType");
      break;
    case PP_KEYSTORAGE:
    case PP_KEYSET_TYPE:
      pContainer->GetComputerKeySet(pbData, pdwDataLen);
      break;
    case PP_ENUMALGS_EX:
      checked(Container::EnumAlgorithmEx(pbData, pdwDataLen, dwFlags), L"EnumAlgorithmEx");
      break;
    case PP_USE_HARDWARE_RNG:
      // A hardware random source is there: asked without a buffer or flags.
      call.Check(pbData == nullptr && dwFlags == 0, L"Check buffer and flags",
                 ERROR_INVALID_PARAMETER);
      break;
    case PP_KEYSPEC:
      Container::GetKeySpec(pbData, pdwDataLen);
      break;
    default:
      call.Check(false, L"Parameter is not supported", NTE_NOT_SUPPORTED);
      break;
  }
  return call.Finish();
}
