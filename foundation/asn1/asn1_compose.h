// Single DER values built on ASN1Encode. Results are new buffers allocated
// with array new; the caller releases them with array delete. Nothing is
// handed out on failure.
#pragma once

#include "foundation/platform.h"

// DER INTEGER (tag 0x02) of a big-endian unsigned magnitude: a 0x00 octet is
// put in front when the first octet has its top bit set; leading zero
// octets that the data already has are kept.
HRESULT ComposeInteger(const BYTE* pbyData, DWORD dwDataSize, BYTE** ppbyEncodedData,
                       DWORD* pdwEncodedDataLen);

// DER BIT STRING (tag 0x03) of whole octets: 0x00 (no unused bits), then the data.
HRESULT ComposeBITString(const BYTE* pbyData, DWORD dwDataSize, BYTE** ppbyEncodedData,
                         DWORD* pdwEncodedDataLen);
