#include "tokenapi/commands/cert_commands.h"

#include "foundation/container_record.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/record_commands.h"
#include "tokenapi/commands/routine_steps.h"
#include "tokenapi/commands/token_files.h"

using merro::commands::kResultBadArgument;
using merro::commands::kResultBadReply;
using merro::commands::kResultBufferTooSmall;
using merro::commands::SelectStep;
using merro::commands::StepResult;

namespace {

constexpr HRESULT kBadCertificate = static_cast<HRESULT>(0x80006A80);
constexpr HRESULT kNotCertFile = static_cast<HRESULT>(0x8007020F);
constexpr BYTE kSequenceTag = 0x30;
constexpr BYTE kTwoByteLength = 0x82;

// Length of the certificate a 4-byte head announces: the tag, the two-byte
// long form and its content length.
DWORD AnnouncedLength(const BYTE* head) { return MR_CERT_HEAD_LEN + (head[2] << 8 | head[3]); }

bool IsCertFile(WORD fid) {
  const BYTE kind = MrContainerKind(fid);
  return MrIsContainerFile(fid) && (kind == MR_CTNR_EXCH_CERT || kind == MR_CTNR_SIGN_CERT);
}

}  // namespace

HRESULT mr_WriteCert(DEV_CTX* pDevCtx, WORD CertFID, const BYTE* pInbuf, DWORD nInlen) {
  MR_TRACE("mr_WriteCert");
  MR_FAIL_IF(pInbuf == nullptr, L"CHECK pInbuf", kResultBadArgument);
  // Everything is checked before the first byte is written, so a refused
  // certificate never leaves part of itself in the file.
  MR_FAIL_IF(nInlen < MR_CERT_HEAD_LEN || nInlen > MR_CERT_MAX_LEN, L"CHECK Cert Length",
             kBadCertificate);
  MR_FAIL_IF(pInbuf[0] != kSequenceTag || pInbuf[1] != kTwoByteLength, L"CHECK Cert Head",
             kBadCertificate);
  MR_FAIL_IF(AnnouncedLength(pInbuf) != nInlen, L"CHECK Cert Length", kBadCertificate);
  MR_FAIL_IF(!IsCertFile(CertFID), L"CHECK nCertType", kNotCertFile);

  HRESULT hr = SelectStep(mrTraceScope_, L"mr_SelectFile(CertFID)", pDevCtx, CertFID);
  if (FAILED(hr)) {
    return hr;
  }
  // The tag byte is cleared first and written last: a write that breaks off
  // leaves a file without a certificate head, never one whose head
  // announces a mix of the old and the new certificate.
  const BYTE noTag = 0x00;
  hr = StepResult(mrTraceScope_, L"mr_WriteFile", mr_WriteFile(pDevCtx, 0, &noTag, 1));
  if (SUCCEEDED(hr)) {
    hr = StepResult(mrTraceScope_, L"mr_WriteFile",
                    mr_WriteFile(pDevCtx, 1, pInbuf + 1, nInlen - 1));
  }
  if (SUCCEEDED(hr)) {
    hr = StepResult(mrTraceScope_, L"mr_WriteFile", mr_WriteFile(pDevCtx, 0, pInbuf, 1));
  }
  if (FAILED(hr)) {
    return hr;
  }
  return merro::commands::MarkContainerFile(mrTraceScope_, pDevCtx, CertFID,
                                            MrContainerKind(CertFID));
}

HRESULT mr_ReadCert(DEV_CTX* pDevCtx, WORD CertFID, BYTE* pOutbuf, DWORD* pOutlen) {
  MR_TRACE("mr_ReadCert");
  MR_FAIL_IF(pOutlen == nullptr, L"CHECK pOutlen", kResultBadArgument);
  const DWORD capacity = pOutbuf != nullptr ? *pOutlen : 0;
  *pOutlen = 0;
  HRESULT hr = SelectStep(mrTraceScope_, L"mr_SelectFile", pDevCtx, CertFID);
  if (FAILED(hr)) {
    return hr;
  }
  BYTE head[MR_CERT_HEAD_LEN] = {};
  DWORD headLen = sizeof head;
  hr = StepResult(mrTraceScope_, L"mr_ReadFile", mr_ReadFile(pDevCtx, 0, head, &headLen));
  if (FAILED(hr)) {
    return hr;
  }
  MR_FAIL_IF(headLen != sizeof head, L"CHECK Cert Head", kResultBadReply);
  const DWORD length = AnnouncedLength(head);
  *pOutlen = length;
  MR_FAIL_IF(head[0] != kSequenceTag || head[1] != kTwoByteLength, L"CHECK Cert Head",
             kBadCertificate);
  MR_FAIL_IF(length > MR_CERT_MAX_LEN, L"CHECK Cert Length", kBadCertificate);
  MR_FAIL_IF(capacity < length, L"CHECK *pOutlen SIZE", kResultBufferTooSmall);
  DWORD count = length;
  hr = StepResult(mrTraceScope_, L"mr_ReadFile", mr_ReadFile(pDevCtx, 0, pOutbuf, &count));
  *pOutlen = count;
  return hr;
}
