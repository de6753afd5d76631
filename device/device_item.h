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
  // The list's reference to the open context (see dev_ctx_lease.h); a copy
  // of the item is a borrower and keeps the context open while it lives.
  DevCtxRef spDevCtx;

  // The open context spDevCtx holds; null when it holds none.
  DEV_CTX* pDevCtx() const { return spDevCtx ? spDevCtx->get() : nullptr; }
};

struct ContainerItem {
  DWORD dwDeviceIndex = 0;                 // position in the device list when built
  char szDeviceName[kDeviceNameChars]{};  // the token that holds the container
  // Heap copy of the token's record; copies of the item share it, and it
  // stays allocated while any copy lives.
  std::shared_ptr<CONTAINER_RECORD> spContainer;

  // The record spContainer holds; null when it holds none.
  CONTAINER_RECORD* pstContainer() const { return spContainer.get(); }
};

}  // namespace merro::device
