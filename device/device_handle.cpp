// DeviceHandle: construction, destruction, Initialize and UnInitialize.
#include "device/device_handle.h"

#include <cwchar>

#include "device/device_lists.h"
#include "device/device_trace.h"
#include "device/signal_events.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/device_api.h"
#include "tokenapi/api/token_sequence_lock.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

merro::device::DeviceHandle* g_pDeviceHandle = nullptr;

namespace merro::device {
namespace {

// "EVENT-A-{" and "}" around the provider name fill a 64-character buffer.
constexpr size_t kProviderNameMax = kSignalEventNameChars - 11;  // 53

void CloseHandleOnce(HANDLE* phObject) {
  if (*phObject != nullptr) {
    ::CloseHandle(*phObject);
    *phObject = nullptr;
  }
}

}  // namespace

HANDLE CreateSignalEvent(wchar_t letter, const wchar_t* pwszProviderName) {
  wchar_t wszName[kSignalEventNameChars];
  const int n =
      std::swprintf(wszName, kSignalEventNameChars, L"EVENT-%lc-{%ls}", letter, pwszProviderName);
  return n > 0 ? ::CreateEventW(nullptr, FALSE, FALSE, wszName) : nullptr;
}

DeviceHandle::DeviceHandle()
    : m_bInitialize(FALSE),
      m_nCurrentDeviceIndex(-1),
      m_szCurrentDeviceName{},
      m_lpCurrentDevice(nullptr),
      m_nCurrentEnumContainerIndex(0),
      m_nCurrentEnumAlgIndex(0),
      m_nCurrentEnumAlgExIndex(0),
      m_wszProviderName{},
      m_dwDefaultPINCheck(0),
      m_dwMessageType(0),
      m_dwCustomerType(0),
      m_bFlagFileExist(FALSE),
      m_hEventA(nullptr),
      m_hEventB(nullptr),
      m_dwKeepPINTimeout(0),
      m_hDeviceUpdateMutex(nullptr) {}

DeviceHandle::~DeviceHandle() {
  MR_TRACE("DeviceHandle::~DeviceHandle");
  ReleaseDeviceList(&m_vtrDeviceSet);
  m_vtrContainerSet.clear();
  m_mapUserPINContext.clear();
  m_lpCurrentDevice = nullptr;
  // Left open by an object never uninitialised, or by a failed Initialize.
  CloseKernelObjects();
}

void DeviceHandle::CloseKernelObjects() {
  CloseHandleOnce(&m_hDeviceUpdateMutex);
  CloseHandleOnce(&m_hEventA);
  CloseHandleOnce(&m_hEventB);
}

HRESULT DeviceHandle::Initialize(const ProviderSettings& stSettings) {
  MR_TRACE("DeviceHandle::Initialize");
  TraceDeviceValue(10, {static_cast<DWORD>(m_bInitialize)});
  // Before anything is created: a second call must not leak the three
  // kernel objects or touch the lists.
  MR_FAIL_IF(m_bInitialize == TRUE, L"Check m_bInitialize is FLASE", HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
  const wchar_t* pwszName = stSettings.pwszProviderName;
  MR_FAIL_IF(pwszName == NULL, L"Check pwszProviderName", E_INVALIDARG);
  const size_t nNameLength = wcsnlen(pwszName, kProviderNameMax + 1);
  // The event names must hold the whole name: a cut name would let two
  // processes meet on different objects.
  MR_FAIL_IF(nNameLength == 0 || nNameLength > kProviderNameMax, L"Check pwszProviderName length",
             E_INVALIDARG);

  m_dwKeepPINTimeout = stSettings.dwKeepPINTimeout;
  m_dwDefaultPINCheck = stSettings.dwDefaultPINCheck;
  m_dwMessageType = stSettings.dwMessageType;
  m_dwCustomerType = stSettings.dwCustomerType;
  m_bFlagFileExist = stSettings.bFlagFileExist;
  std::wmemset(m_wszProviderName, 0, kDeviceNameChars);
  std::wmemcpy(m_wszProviderName, pwszName, nNameLength);

  // A failed Initialize before this one may have left them open.
  CloseKernelObjects();
  m_hDeviceUpdateMutex = ::CreateMutexW(nullptr, FALSE, m_wszProviderName);
  MR_FAIL_IF(m_hDeviceUpdateMutex == NULL, L"Create DeviceHandle Mutex", LastErrorResult());
  m_hEventA = CreateSignalEvent(L'A', m_wszProviderName);
  m_hEventB = CreateSignalEvent(L'B', m_wszProviderName);
  MR_LOG_STEP(L"Create kernel objects");

  ReleaseDeviceList(&m_vtrDeviceSet);
  m_vtrContainerSet.clear();
  m_nCurrentDeviceIndex = -1;
  m_szCurrentDeviceName[0] = '\0';
  m_lpCurrentDevice = nullptr;

  HRESULT hr = BuildDeviceList();
  if (FAILED(hr)) {
    return hr;
  }
  hr = BuildContainerList();
  if (FAILED(hr)) {
    return hr;
  }
  m_bInitialize = TRUE;
  MR_LOG_STEP(L"Initialize");
  return S_OK;
}

HRESULT DeviceHandle::UnInitialize() {
  MR_TRACE("DeviceHandle::UnInitialize");
  TraceDeviceValue(11, {static_cast<DWORD>(m_bInitialize)});
  MR_FAIL_IF(m_bInitialize == FALSE, L"Check m_bInitialize is true", E_FAIL);

  m_mapUserPINContext.clear();
  for (DeviceItem& item : m_vtrDeviceSet) {
    if (item.pDevCtx() == nullptr) {
      continue;
    }
    // The reset would end a sequence another process runs on the token;
    // that one resets the token itself when it ends, so the reset is left
    // to it. No wait: this runs at unload, under the loader lock.
    merro::transport::TokenSequenceLock sequence;
    if (sequence.TakeByMutexName(item.pDevCtx()->szMutexName, 0) == S_OK) {
      TraceDeviceValue(12, {static_cast<DWORD>(ResetDevice(item.pDevCtx()))});
    }
    // A borrower still holding the context closes it with its last lease.
    TraceDeviceValue(13, {static_cast<DWORD>(DropListReference(item.spDevCtx))});
  }
  m_vtrDeviceSet.clear();
  m_vtrContainerSet.clear();

  m_nCurrentDeviceIndex = -1;
  m_szCurrentDeviceName[0] = '\0';
  m_lpCurrentDevice = nullptr;
  m_bInitialize = FALSE;
  // The update mutex is owned only inside UpdateDevice, which always gives
  // it back: there is nothing to release here, only handles to close.
  CloseKernelObjects();
  MR_LOG_STEP(L"UnInitialize");
  return S_OK;
}

}  // namespace merro::device
