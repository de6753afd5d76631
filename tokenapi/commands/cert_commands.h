// Certificates in the container files: the DER certificate from offset 0,
// its length taken from its own head (0x30 0x82 hi lo), 2048 bytes at most.
#pragma once

#include "foundation/platform.h"
#include "tokenapi/transport/device_ctx.h"

constexpr DWORD MR_CERT_MAX_LEN = 2048;
constexpr DWORD MR_CERT_HEAD_LEN = 4;

// Stores the nInlen bytes of a DER certificate in the exchange or sign
// certificate file CertFID of a container and sets the file's bit in the
// record. The head must be 0x30 0x82 with a content length of nInlen - 4 and
// nInlen at most 2048 (else 0x80006A80); a CertFID that is no container
// certificate file fails with 0x8007020F. Both are checked before anything
// is written.
HRESULT mr_WriteCert(DEV_CTX* pDevCtx, WORD CertFID, const BYTE* pInbuf, DWORD nInlen);

// Reads the certificate of CertFID. *pOutlen: capacity in; out: the length
// read, the certificate's length when the capacity is short (0x80070003) or
// the head is bad (0x80006A80), 0 when the file cannot be selected or read.
HRESULT mr_ReadCert(DEV_CTX* pDevCtx, WORD CertFID, BYTE* pOutbuf, DWORD* pOutlen);
