// Time-outs in seconds that the command routines pass with their frames.
#pragma once

#include "foundation/platform.h"

constexpr DWORD MR_TIMEOUT_DEFAULT = 2;
constexpr DWORD MR_TIMEOUT_ERASE_MF = 10;
constexpr DWORD MR_TIMEOUT_ERASE_COS = 20;
constexpr DWORD MR_TIMEOUT_ERASE_FLASH = 20;
constexpr DWORD MR_TIMEOUT_GEN_RSA_KEY = 60;   // RSA key-pair generation
constexpr DWORD MR_TIMEOUT_VERIFY_PIN = 120;   // the user may confirm on the token
constexpr DWORD MR_TIMEOUT_CHANGE_PIN = 120;
