// The token's 76-byte container record, stored raw (little-endian) in one
// of the four 128-byte slots of the container record file.
#pragma once

#include <cstddef>

#include "foundation/platform.h"

struct CONTAINER_RECORD {
  BYTE byFlag;       // 0xFF: slot free; else the OR of the files that hold data
  BYTE AlgType;      // MR_ALG_SM2, MR_ALG_RSA1024, MR_ALG_RSA2048; 0xFF none yet
  BYTE ExchKeyLen;   // key length code of the exchange key; 0xFF none
  BYTE SignKeyLen;   // key length code of the signature key; 0xFF none
  WORD ExchangeKeyFID;
  WORD ExchangeCertFID;
  WORD SignKeyFID;
  WORD SignCertFID;
  char szContainerName[64];  // a 64-character name fills it without terminator
};

static_assert(sizeof(CONTAINER_RECORD) == 76, "the record is 76 bytes on the token");
static_assert(offsetof(CONTAINER_RECORD, ExchangeKeyFID) == 4, "file ids start at byte 4");
static_assert(offsetof(CONTAINER_RECORD, szContainerName) == 12, "the name starts at byte 12");
