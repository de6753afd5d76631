// The token's file map, the 16-byte file description that CREATE FILE
// carries, and the creators of the key and certificate files.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

// File ids.
constexpr WORD MR_PIN_FID = 0x0000;           // user, administrator and unlock PINs, auth keys
constexpr WORD MR_CONFIG_FID = 0x0001;
constexpr WORD MR_TOKEN_INFO_FID = 0x0002;    // holds the token name
// 0x0012, the token's own SM2 key pair: MR_TEMP_SM2_KEY_FID (auth_commands.h)
constexpr WORD CTNR_INDEX = 0xB000;           // container index, 8 bytes at offset 0
constexpr WORD CTNR_FID = 0xC000;             // container records, slot i at 128 x i
constexpr WORD MR_OBJECT_HEADER_FID = 0xD000;

// File sizes.
constexpr WORD MR_PIN_FILE_SIZE = 1024;
constexpr WORD MR_CONFIG_FILE_SIZE = 512;
constexpr WORD MR_TOKEN_INFO_FILE_SIZE = 512;
constexpr WORD MR_OBJECT_HEADER_FILE_SIZE = 680;
constexpr WORD MR_KEY_FILE_SIZE = 1024;
constexpr WORD MR_CERT_FILE_SIZE = 2048;
constexpr WORD MR_CTNR_FILE_SIZE = 1024;

// Byte 4 of every file description this library sends.
constexpr BYTE MR_FILE_TYPE_BYTE = 0x20;
constexpr DWORD MR_FILE_CONDITION_LEN = 5;

namespace merro::commands {

// The five condition bytes (description bytes 8 to 12), passed to the card
// operating system unchanged.
struct FileConditions {
  BYTE bytes[MR_FILE_CONDITION_LEN];
};

// Fills the 16 bytes of pDescription: id and size low byte first, byte 4
// 0x20, the conditions at bytes 8 to 12, zeros elsewhere.
void BuildFileDescription(WORD wFileId, WORD wSize, const FileConditions& conditions,
                          BYTE* pDescription);

}  // namespace merro::commands

// A key file of 1024 bytes: files 0x0010 to 0x0012 with the token's own
// conditions, every other id with those of a container key file. Step
// "mr_CreateFile(KEY)" on failure.
HRESULT mr_CreateKeyFile(DEV_CTX* pDevCtx, WORD wFileId);
// A certificate file of 2048 bytes. Step "mr_CreateFile(CERT)" on failure.
HRESULT mr_CreateCertFile(DEV_CTX* pDevCtx, WORD wFileId);
