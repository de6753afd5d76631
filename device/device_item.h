// The records of the device object's two lists: one DeviceItem per opened
// token, one ContainerItem per container on those tokens.
#pragma once

#include "foundation/container_record.h"
#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

namespace merro::device {

inline constexpr size_t kDeviceNameChars = 260;

struct DeviceItem {
  char szDeviceName[kDeviceNameChars];   // as EnumDevice listed it; the token's key
  char szDeviceLabel[kDeviceNameChars];  // UTF-8 label read when the token was opened
  DEV_CTX* pDevCtx;                      // the open context (see device_handle.h for ownership)
};

struct ContainerItem {
  DWORD dwDeviceIndex;                  // position in the device list when built
  char szDeviceName[kDeviceNameChars];  // the token that holds the container
  CONTAINER_RECORD* pstContainer;       // heap copy of the token's record
};

}  // namespace merro::device
