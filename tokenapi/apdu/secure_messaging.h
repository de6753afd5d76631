// Secure messaging: the protected path of mr_SendAPDUCmd (class 0xB4 with a
// session key set, bySMState 2).
//
// The data of a protected command travel as one secure-messaging block:
// a length byte L, the L data bytes, SM4-CBC-encrypted under the first 16
// bytes of the context's session key with a zero IV and PKCS#7 padding, so
// the encrypted length is 16 * ((L + 1) / 16 + 1). The header and the status
// word travel in clear. The token encrypts its reply data the same way.
//
// mr_SendAPDUCmd calls WrapCommand for a frame that travels protected and,
// when the reply carries data, UnwrapReply on those data. On any failure
// nothing is sent or returned and the session key stays in force.
#pragma once

#include <vector>

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

// Largest command data a protected frame carries: its encrypted block (240
// bytes) must fit the one-byte Lc.
constexpr DWORD MR_SM_MAX_DATA = 238;
// Room of the cipher output buffers.
constexpr DWORD MR_SM_BUFFER_LEN = 1024;

// Encrypts nDataLen bytes (at most 238, else 0x80070004) into a
// secure-messaging block in pOut; *pCrylen: room in (at least nDataLen + 1,
// else 0x80070003), encrypted length out. 0x80070206 when the cipher cannot
// be set up, 0x80070207 when encryption fails.
HRESULT GetCryptByte(DEV_CTX* pDevCtx, const BYTE* pData, DWORD nDataLen, BYTE* pOut,
                     DWORD* pCrylen);

// Decrypts a secure-messaging block and returns its L data bytes in pOut
// (room for nCryLen bytes) and L in *pPlainLen. 0x80070206 when the cipher
// cannot be set up; 0x80070208 when decryption or the padding fails, or
// when the block holds no length byte or fewer than L data bytes.
HRESULT GetPlainByte(DEV_CTX* pDevCtx, const BYTE* pCry, DWORD nCryLen, BYTE* pOut,
                     DWORD* pPlainLen);

namespace merro::apdu {

// Builds the protected frame of a well-formed plain frame: header
// B4 INS P1 P2 <encrypted length> Le and the encrypted block.
HRESULT WrapCommand(DEV_CTX* pDevCtx, const BYTE* pFrame, DWORD nFrameLen,
                    std::vector<BYTE>* pProtected);

// Replaces the N reply data bytes (an encrypted block) by their plain data.
HRESULT UnwrapReply(DEV_CTX* pDevCtx, const BYTE* pData, DWORD nDataLen, std::vector<BYTE>* pPlain);

}  // namespace merro::apdu
