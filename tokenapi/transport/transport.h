// The transport seam: one backend carries command frames to tokens.
//
// Backends:
//   - SCSI pass-through to a real token (Windows, win/scsi_transport.cpp);
//   - the simulator client over TCP (when built with MERRO_WITH_SIMULATOR and
//     the environment variable MERRO_TOKEN_SIM names host:port);
//   - an in-process simulator that tests install with SetTransportOverride.
// Everything above reaches a token through MerroSendCommand and the other
// calls of merro_transport.h, which use the active backend.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

namespace merro::transport {

// Size of the data-in transfer that carries a reply: SW1, SW2, N, N bytes.
constexpr DWORD kReplyTransferLen = 256;
// Largest data-out transfer (the transfer buffer of one exchange).
constexpr DWORD kCommandTransferMax = 1024;
// The vendor command block of both transfers: 0xFF and nine zero bytes.
constexpr BYTE kTokenCdb[10] = {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// One CD-ROM device interface as a backend lists it.
struct DeviceEntry {
  std::string path;                  // device-interface path, ANSI code page
  std::u16string parentInstanceId;   // instance ID of the parent USB device
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Lists the present CD-ROM device interfaces. 0x80070205 when the list
  // cannot be obtained.
  virtual HRESULT Enumerate(std::vector<DeviceEntry>* pDevices) = 0;
  // Opens one interface by its path; a folded Windows error on failure.
  virtual HRESULT Open(const char* pszPath, HANDLE* phDevice) = 0;
  virtual HRESULT Close(HANDLE hDevice) = 0;
  // The two transfers of one exchange, each with its time-out in seconds:
  // the command frame (1..kCommandTransferMax bytes) as a data-out transfer,
  // then the kReplyTransferLen-byte data-in transfer that answers it.
  virtual HRESULT SendFrame(HANDLE hDevice, const BYTE* pFrame, DWORD nFrameLen,
                            DWORD nTimeoutSec) = 0;
  virtual HRESULT ReceiveReply(HANDLE hDevice, BYTE (&reply)[kReplyTransferLen],
                               DWORD nTimeoutSec) = 0;
};

// The backend in force: the override when one is installed, else the one
// chosen from the build options and the environment on first use.
Transport& ActiveTransport();

// Installs a backend for this process (tests); null goes back to the
// configured one. Not to be called while commands are under way.
void SetTransportOverride(std::shared_ptr<Transport> transport);

}  // namespace merro::transport
