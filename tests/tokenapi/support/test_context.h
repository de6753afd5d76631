// Opens a device context on a device path for tests: the device, its mutex
// name and its mutex, as opening a token does before it talks to it.
#pragma once

#include <string>
#include <vector>

#include "tokenapi/transport/device_ctx.h"

namespace merro::testing {

// 0 and *pCtx ready, or the first failing result.
HRESULT OpenTestContext(const std::string& path, DEV_CTX* pCtx);
void CloseTestContext(DEV_CTX* pCtx);

// The names of a packed device name list.
std::vector<std::string> SplitNameList(const BYTE* list, DWORD len);
// The token device names mr_EnumDevice lists now.
std::vector<std::string> ListTokens();

}  // namespace merro::testing
