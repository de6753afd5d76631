// The backend that talks to a real token: SetupAPI enumeration of CD-ROM
// interfaces and SCSI pass-through with the token's vendor command block.
#pragma once

#include <memory>

#include "tokenapi/transport/transport.h"

#include <ntddscsi.h>

namespace merro::transport {

// The record handed to DeviceIoControl as input and output buffer: the
// pass-through header, a filler and the sense area. Zero-filled before use.
struct ScsiPassThroughRecord {
  SCSI_PASS_THROUGH_DIRECT header;
  ULONG filler;
  UCHAR sense[256];
};

constexpr UCHAR kSenseInfoLength = 24;

// Sets the record for the data-out transfer of nFrameLen bytes from pBuffer,
// or (dataIn) for the 256-byte data-in transfer into it.
void PrepareScsiRecord(ScsiPassThroughRecord* pRecord, bool dataIn, void* pBuffer,
                       ULONG nTransferLen, ULONG nTimeoutSec);

std::shared_ptr<Transport> MakeScsiTransport();

}  // namespace merro::transport
