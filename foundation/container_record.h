// The token's 76-byte container record, stored raw (little-endian) in one
// of the four 128-byte slots of the container record file, and the 8-byte
// container index. It lives in the foundation because the key-type mapping
// reads it as well as the token command layer.
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

constexpr DWORD MR_CTNR_RECORD_LEN = sizeof(CONTAINER_RECORD);  // 76
constexpr DWORD MR_CTNR_NAME_MAX = 64;
constexpr DWORD MR_CTNR_SLOT_STRIDE = 128;  // slot i lives at offset 128 x i
constexpr BYTE MR_CTNR_SLOT_COUNT = 4;
constexpr DWORD MR_CTNR_INDEX_LEN = 8;

// byFlag values and bits.
constexpr BYTE MR_CTNR_FREE = 0xFF;
constexpr BYTE MR_CTNR_NEW = 0x00;
constexpr BYTE MR_CTNR_EXCH_KEY = 0x01;
constexpr BYTE MR_CTNR_EXCH_CERT = 0x02;
constexpr BYTE MR_CTNR_SIGN_KEY = 0x04;
constexpr BYTE MR_CTNR_SIGN_CERT = 0x08;
constexpr BYTE MR_CTNR_AVL = 0x0F;         // available, double certificate
constexpr BYTE MR_CTNR_AVL_SINGLE = 0x03;  // available, single certificate (SignKeyLen 0xFF)
// First byte of an mr_UpdateRecord input that rewrites bytes 1 to 75 and
// keeps the stored flag.
constexpr BYTE MR_CTNR_KEEP_FLAG = 0xF0;
constexpr BYTE MR_CTNR_NONE = 0xFF;  // AlgType / key length code / index byte: none

// Container file ids: 0xC000 + 16 x slot + kind, kind one of the flag bits.
constexpr WORD MrContainerFileId(BYTE slot, BYTE kind) {
  return static_cast<WORD>(0xC000 + 16 * slot + kind);
}
// Slot and kind of a container file id.
constexpr BYTE MrContainerSlot(WORD fid) { return static_cast<BYTE>((fid & 0xFF) >> 4); }
constexpr BYTE MrContainerKind(WORD fid) { return static_cast<BYTE>(fid & 0x0F); }
// True for the key and certificate files of slots 0 to 3 (0xC001 ... 0xC038).
constexpr bool MrIsContainerFile(WORD fid) {
  const BYTE kind = MrContainerKind(fid);
  return (fid & 0xFF00) == 0xC000 && MrContainerSlot(fid) < MR_CTNR_SLOT_COUNT &&
         (kind == MR_CTNR_EXCH_KEY || kind == MR_CTNR_EXCH_CERT || kind == MR_CTNR_SIGN_KEY ||
          kind == MR_CTNR_SIGN_CERT);
}

// Column of the container index for an algorithm: 0 RSA-1024, 1 RSA-2048,
// 2 any other value (SM2). Byte k names the available container, byte 4 + k
// the pending one.
constexpr BYTE MrIndexColumn(BYTE algType) {
  return algType == 1 ? 0 : (algType == 7 ? 1 : 2);
}

// A record is available when it is a double-certificate container with
// every file present, or a single-certificate one with its exchange pair.
constexpr bool MrIsAvailableRecord(BYTE byFlag, BYTE signKeyLen) {
  return (byFlag == MR_CTNR_AVL_SINGLE && signKeyLen == MR_CTNR_NONE) || byFlag == MR_CTNR_AVL;
}
