#include "tokenapi/transport/win/scsi_transport.h"

#include <windows.h>
// windows.h first: the SetupAPI and configuration-manager headers need it.
#include <cfgmgr32.h>
#include <devguid.h>
#include <initguid.h>
#include <setupapi.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/wiped_bytes.h"

namespace merro::transport {
namespace {

// {53F56308-B6BF-11D0-94F2-00A0C91EFB8B}
const GUID kCdromInterface = {0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
constexpr DWORD kIoctlScsiPassThroughDirect = 0x4D014;

static_assert(kIoctlScsiPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT, "pass-through IOCTL");
#ifdef _WIN64
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56, "pass-through header of a 64-bit process");
static_assert(offsetof(ScsiPassThroughRecord, sense) == 60, "sense area offset");
#endif

struct DeviceInfoSet {
  HDEVINFO h;
  ~DeviceInfoSet() {
    if (h != INVALID_HANDLE_VALUE) {
      ::SetupDiDestroyDeviceInfoList(h);
    }
  }
};

// The device-interface path of one member, converted to the ANSI code page,
// and the instance ID of its parent USB device.
bool ReadMember(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* pInterface, DeviceEntry* pEntry) {
  MR_TRACE("ReadMember");
  DWORD needed = 0;
  if (!::SetupDiGetDeviceInterfaceDetailW(set, pInterface, nullptr, 0, &needed, nullptr) &&
      ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return false;
  }
  if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
    return false;
  }
  std::vector<BYTE> storage(needed, 0);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  SP_DEVINFO_DATA devInfo{};
  devInfo.cbSize = sizeof devInfo;
  if (!::SetupDiGetDeviceInterfaceDetailW(set, pInterface, detail, needed, nullptr, &devInfo)) {
    return false;
  }
  DEVINST parent = 0;
  WCHAR parentId[MAX_DEVICE_ID_LEN + 1] = {};
  if (::CM_Get_Parent(&parent, devInfo.DevInst, 0) != CR_SUCCESS ||
      ::CM_Get_Device_IDW(parent, parentId, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
    return false;
  }
  const int n = ::WideCharToMultiByte(CP_ACP, 0, detail->DevicePath, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) {
    return false;
  }
  std::string path(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, detail->DevicePath, -1, &path[0], n, nullptr, nullptr);
  path.resize(static_cast<size_t>(n - 1));
  pEntry->path = std::move(path);
  pEntry->parentInstanceId.assign(reinterpret_cast<const char16_t*>(parentId));
  return true;
}

class ScsiTransport final : public Transport {
 public:
  HRESULT Enumerate(std::vector<DeviceEntry>* pDevices) override {
  MR_TRACE("ScsiTransport::Enumerate");
    DeviceInfoSet set{::SetupDiGetClassDevsW(&kCdromInterface, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)};
    if (set.h == INVALID_HANDLE_VALUE) {
      return static_cast<HRESULT>(0x80070205);
    }
    pDevices->clear();
    SP_DEVICE_INTERFACE_DATA member{};
    member.cbSize = sizeof member;
    for (DWORD i = 0; ::SetupDiEnumDeviceInterfaces(set.h, nullptr, &kCdromInterface, i, &member); ++i) {
      DeviceEntry entry;
      if (ReadMember(set.h, &member, &entry)) {
        pDevices->push_back(std::move(entry));
      }
    }
    return S_OK;
  }

  HRESULT Open(const char* pszPath, HANDLE* phDevice) override {
  MR_TRACE("ScsiTransport::Open");
    const HANDLE h = ::CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      return LastErrorResult();
    }
    *phDevice = h;
    return S_OK;
  }

  HRESULT Close(HANDLE hDevice) override {
  MR_TRACE("ScsiTransport::Close");
    return ::CloseHandle(hDevice) ? S_OK : LastErrorResult();
  }

  HRESULT SendFrame(HANDLE hDevice, const BYTE* pFrame, DWORD nFrameLen, DWORD nTimeoutSec) override {
  MR_TRACE("ScsiTransport::SendFrame");
    // The transfer buffer (heap memory, aligned for the adapter) holds the
    // frame, maybe a PIN digest or a key: wiped when the transfer is done.
    std::vector<BYTE> buffer(kCommandTransferMax, 0);
    const WipeOnExit wipeBuffer(buffer);
    std::memcpy(buffer.data(), pFrame, nFrameLen);
    ScsiPassThroughRecord record;
    PrepareScsiRecord(&record, false, buffer.data(), nFrameLen, nTimeoutSec);
    DWORD returned = 0;
    if (!::DeviceIoControl(hDevice, IOCTL_SCSI_PASS_THROUGH_DIRECT, &record, sizeof record, &record,
                           sizeof record, &returned, nullptr)) {
      return LastErrorResult();
    }
    return S_OK;
  }

  HRESULT ReceiveReply(HANDLE hDevice, BYTE (&reply)[kReplyTransferLen], DWORD nTimeoutSec) override {
  MR_TRACE("ScsiTransport::ReceiveReply");
    std::vector<BYTE> buffer(kCommandTransferMax, 0);
    const WipeOnExit wipeBuffer(buffer);
    ScsiPassThroughRecord record;
    PrepareScsiRecord(&record, true, buffer.data(), kReplyTransferLen, nTimeoutSec);
    DWORD returned = 0;
    if (!::DeviceIoControl(hDevice, IOCTL_SCSI_PASS_THROUGH_DIRECT, &record, sizeof record, &record,
                           kReplyTransferLen, &returned, nullptr)) {
      return LastErrorResult();
    }
    std::memcpy(reply, buffer.data(), kReplyTransferLen);
    return S_OK;
  }
};

}  // namespace

void PrepareScsiRecord(ScsiPassThroughRecord* pRecord, bool dataIn, void* pBuffer,
                       ULONG nTransferLen, ULONG nTimeoutSec) {
  MR_TRACE("PrepareScsiRecord");
  std::memset(pRecord, 0, sizeof *pRecord);
  SCSI_PASS_THROUGH_DIRECT& h = pRecord->header;
  h.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  h.CdbLength = sizeof kTokenCdb;
  h.SenseInfoLength = kSenseInfoLength;
  h.DataIn = dataIn ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
  h.DataTransferLength = nTransferLen;
  h.TimeOutValue = nTimeoutSec;
  h.DataBuffer = pBuffer;
  h.SenseInfoOffset = offsetof(ScsiPassThroughRecord, sense);
  std::memcpy(h.Cdb, kTokenCdb, sizeof kTokenCdb);
}

std::shared_ptr<Transport> MakeScsiTransport() { return std::make_shared<ScsiTransport>(); }

}  // namespace merro::transport
