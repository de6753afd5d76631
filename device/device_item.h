// The records of the device object's two lists: one DeviceItem per opened
// token, one ContainerItem per container on those tokens.
#pragma once

#include <memory>

#include "device/dev_ctx_lease.h"
#include "foundation/container_record.h"
#include "foundation/platform.h"
#include "tokenapi/api/token_types.h"

namespace merro::device {

inline constexpr size_t kDeviceNameChars = 260;

struct DeviceItem {
  char szDeviceName[kDeviceNameChars]{};   // as EnumDevice listed it; the token's key
  char szDeviceLabel[kDeviceNameChars]{};  // UTF-8 label read when the token was opened
  DEV_CTX* pDevCtx = nullptr;              // the open context, the one spDevCtx holds
  // The list's reference to pDevCtx (see dev_ctx_lease.h); a copy of the
  // item is a borrower and keeps the context open while it lives.
  DevCtxRef spDevCtx;
};

struct ContainerItem {
  DWORD dwDeviceIndex = 0;                 // position in the device list when built
  char szDeviceName[kDeviceNameChars]{};  // the token that holds the container
  CONTAINER_RECORD* pstContainer = nullptr;  // heap copy of the token's record
  // Owns pstContainer; copies of the item share the record, which stays
  // allocated while any copy lives.
  std::shared_ptr<CONTAINER_RECORD> spContainer;
};

}  // namespace merro::device
