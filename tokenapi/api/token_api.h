// The public token API: every entry point and the function table.
#pragma once

#include "tokenapi/api/asym_api.h"
#include "tokenapi/api/container_api.h"
#include "tokenapi/api/crypto_api.h"
#include "tokenapi/api/device_api.h"
#include "tokenapi/api/file_api.h"
#include "tokenapi/api/function_table.h"
#include "tokenapi/api/key_api.h"
#include "tokenapi/api/pin_api.h"
#include "tokenapi/api/token_name.h"
