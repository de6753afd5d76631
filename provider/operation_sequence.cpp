#include "provider/operation_sequence.h"

#include "device/device_handle.h"
#include "foundation/trace/trace.h"
#include "provider/container.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "KeyHandle"

namespace merro::provider {

HRESULT RerunAfterLostState(const Container& container, OperationSequence* pSequence,
                            HRESULT hFirst, bool* pbRunAgain) {
  MR_TRACE("KeyHandle::RerunAfterLostState");
  *pbRunAgain = false;
  if (!IsLostTokenState(hFirst) || !pSequence->bRerunnable || g_pDeviceHandle == nullptr) {
    return hFirst;
  }
  MR_LOG_STEP(L"The token lost its session or security state: running the operation again");
  g_pDeviceHandle->ResetKey(container.m_szDeviceName);
  pSequence->bRerun = true;
  pSequence->bSessionSet = false;
  *pbRunAgain = true;
  return hFirst;
}

ResetTokenOnExit::~ResetTokenOnExit() {
  if (g_pDeviceHandle != nullptr && m_pContainer != nullptr) {
    g_pDeviceHandle->ResetKey(m_pContainer->m_szDeviceName);
  }
}

HRESULT ResultOfLostState(HRESULT hResult) {
  MR_TRACE("KeyHandle::ResultOfLostState");
  MR_FAIL_IF(IsLostTokenState(hResult), L"The token lost its session or security state",
             SCARD_W_RESET_CARD);
  return hResult;
}

}  // namespace merro::provider
