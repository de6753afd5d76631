#include "tokenapi/commands/rsa_private_commands.h"

#include "foundation/alg_ids.h"
#include "foundation/secure_wipe.h"
#include "tokenapi/commands/command_exchange.h"
#include "tokenapi/commands/routine_steps.h"
#include "tokenapi/commands/sign_exchange.h"

namespace {

using merro::commands::kResultBadArgument;
using merro::commands::kResultBadLength;
using merro::commands::kResultBufferTooSmall;

using merro::apdu::Apdu;
using merro::commands::KeySizeFlag;
using merro::commands::ModulusLenOf;


constexpr BYTE kInsRawPrivate = 0x38;
constexpr BYTE kInsSignData = 0x80;
constexpr DWORD kHalf = 128;  // one result frame of an RSA operation

struct HashEntry {
  BYTE hashType;
  BYTE code;
  BYTE digestLen;
  bool displayOnly;
};
constexpr HashEntry kHashTable[] = {
    {MR_ALG_SHA1, 0x00, 20, false},    {MR_ALG_SHA256, 0x02, 32, true},
    {MR_ALG_SHA512, 0x04, 64, false},  {MR_ALG_MD5, 0x05, 16, false},
    {MR_ALG_SHA1_MD5, 0x06, 36, false},
};

}  // namespace

namespace merro::commands {

bool LookupTokenHash(BYTE byHashType, bool forHashing, TokenHashCode* pOut) {
  for (const HashEntry& e : kHashTable) {
    if (e.hashType == byHashType && !(forHashing && e.displayOnly)) {
      *pOut = {e.code, e.digestLen};
      return true;
    }
  }
  return false;
}

HRESULT FinishRsaResult(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE ins, BYTE byKeyType,
                        BYTE* pOut, DWORD* pOutLen) {
  *pOutLen = kHalf;
  if (ModulusLenOf(byKeyType) == kHalf) {
    return S_OK;
  }
  const Apdu second{MR_CLA_PROTECTED, ins, 0x03, 0x80, static_cast<BYTE>(kHalf), nullptr, 0};
  const HRESULT hr = ExchangeExact(scope, L"mr_SendAPDUCmd(P1=0x03)2048", pDevCtx, second,
                                   pOut + kHalf, kHalf);
  if (FAILED(hr)) {
    // Half a result is no result.
    merro::SecureWipe(pOut, kHalf);
    *pOutLen = 0;
    return hr;
  }
  *pOutLen = 2 * kHalf;
  return S_OK;
}

namespace {

// The result frames of an RSA operation: `first` (P2 0x00) and, for a
// 2048-bit key, the frame with P2 0x80.
HRESULT ReadResultHalves(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE ins, BYTE byKeyType,
                         const Apdu& first, BYTE* pOut, DWORD* pOutLen) {
  const HRESULT hr = ExchangeExact(scope, L"mr_SendAPDUCmd(P1=0x03)", pDevCtx, first, pOut, kHalf);
  if (FAILED(hr)) {
    return hr;
  }
  return FinishRsaResult(scope, pDevCtx, ins, byKeyType, pOut, pOutLen);
}

}  // namespace

}  // namespace merro::commands

HRESULT mr_RSAPriKeyRaw(DEV_CTX* pDevCtx, WORD wKeyFID, BYTE byKeyType, const BYTE* pInbuf,
                        DWORD nInlen, BYTE* pOutbuf, DWORD* pOutLen) {
  MR_TRACE("mr_RSAPriKeyRaw");
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kResultBadArgument);
  MR_FAIL_IF(pInbuf == nullptr, L"CHECK pInbuf", kResultBadArgument);
  MR_FAIL_IF(pOutbuf == nullptr, L"CHECK pOutbuf", kResultBadArgument);
  MR_FAIL_IF(pOutLen == nullptr, L"CHECK pOutLen", kResultBadArgument);
  const DWORD modulusLen = ModulusLenOf(byKeyType);
  // The offset of each piece travels in one byte: the input is one block.
  MR_FAIL_IF(nInlen != modulusLen, L"CHECK nInlen", kResultBadLength);
  MR_FAIL_IF(*pOutLen < modulusLen, L"CHECK *pOutLen SIZE", kResultBufferTooSmall);

  const merro::commands::FileIdBytes fid(wKeyFID);
  const Apdu key{MR_CLA_PROTECTED, kInsRawPrivate, 0x00, KeySizeFlag(byKeyType), 0x00, fid.bytes,
                 sizeof fid.bytes};
  HRESULT hr = merro::commands::Exchange(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x00)", pDevCtx, key,
                                         nullptr, nullptr, MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  hr = merro::commands::SendPieces(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x01)", pDevCtx,
                                   kInsRawPrivate, 0x01, pInbuf, nInlen, MR_RSA_RAW_PIECE_LEN,
                                   merro::commands::PiecePosition::OffsetP2);
  if (FAILED(hr)) {
    return hr;
  }
  const Apdu compute{MR_CLA_PROTECTED, kInsRawPrivate, 0x02, 0x00, 0x00, nullptr, 0};
  hr = merro::commands::Exchange(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x02)", pDevCtx, compute,
                                 nullptr, nullptr, MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  const Apdu result{MR_CLA_PROTECTED, kInsRawPrivate, 0x03, 0x00, static_cast<BYTE>(kHalf),
                    nullptr, 0};
  return merro::commands::ReadResultHalves(mrTraceScope_, pDevCtx, kInsRawPrivate, byKeyType, result, pOutbuf,
                          pOutLen);
}

HRESULT mr_RSASignDataInit(DEV_CTX* pDevCtx, BYTE byHashType, BYTE* pDigestLen) {
  MR_TRACE("mr_RSASignDataInit");
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kResultBadArgument);
  MR_FAIL_IF(pDigestLen == nullptr, L"CHECK pDigestLen", kResultBadArgument);
  merro::commands::TokenHashCode hash{};
  if (!merro::commands::LookupTokenHash(byHashType, true, &hash)) {
    MR_LOG_FAIL(L"Invalid Hash Type", L"no token code for this hash type", MR_E_INVALID_HASH_TYPE);
    return MR_E_INVALID_HASH_TYPE;
  }
  *pDigestLen = hash.digestLen;
  const Apdu cmd{MR_CLA_PROTECTED, kInsSignData, 0x00, 0x00, 0x00, &hash.code, 1};
  return merro::commands::Exchange(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x00)", pDevCtx, cmd,
                                   nullptr, nullptr, MR_TIMEOUT_DEFAULT);
}

HRESULT mr_RSASignDataUpdate(DEV_CTX* pDevCtx, const BYTE* pInbuf, DWORD nInlen) {
  MR_TRACE("mr_RSASignDataUpdate");
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kResultBadArgument);
  MR_FAIL_IF(pInbuf == nullptr && nInlen != 0, L"CHECK pInbuf", kResultBadArgument);
  return merro::commands::SendPieces(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x01)", pDevCtx,
                                     kInsSignData, 0x01, pInbuf, nInlen, MR_SIGN_PIECE_LEN,
                                     merro::commands::PiecePosition::None);
}

HRESULT mr_RSASignDataFinal(DEV_CTX* pDevCtx, BYTE byDigestLen, BYTE* pDigestbuf,
                            DWORD* pDigestlen) {
  MR_TRACE("mr_RSASignDataFinal");
  MR_FAIL_IF(pDigestlen == nullptr, L"CHECK pDigestlen", kResultBadArgument);
  const DWORD capacity = *pDigestlen;
  *pDigestlen = byDigestLen;
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kResultBadArgument);
  MR_FAIL_IF(pDigestbuf == nullptr && byDigestLen != 0, L"CHECK pDigestbuf", kResultBadArgument);
  MR_FAIL_IF(capacity < byDigestLen, L"CHECK *pDigestlen SIZE", kResultBufferTooSmall);
  const Apdu cmd{MR_CLA_PROTECTED, kInsSignData, 0x02, 0x00, byDigestLen, nullptr, 0};
  return merro::commands::ExchangeExact(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x02)", pDevCtx, cmd,
                                        pDigestbuf, byDigestLen);
}

HRESULT mr_RSASignDataResult(DEV_CTX* pDevCtx, WORD wKeyFID, BYTE byKeyType, BYTE* pSignbuf,
                             DWORD* pSignlen) {
  MR_TRACE("mr_RSASignDataResult");
  MR_FAIL_IF(pDevCtx == nullptr, L"CHECK pDevCtx", kResultBadArgument);
  MR_FAIL_IF(pSignbuf == nullptr, L"CHECK pSignbuf", kResultBadArgument);
  MR_FAIL_IF(pSignlen == nullptr, L"CHECK pSignlen", kResultBadArgument);
  MR_FAIL_IF(*pSignlen < ModulusLenOf(byKeyType), L"CHECK *pSignlen SIZE", kResultBufferTooSmall);
  const merro::commands::FileIdBytes fid(wKeyFID);
  const BYTE data[3] = {fid.bytes[0], fid.bytes[1], KeySizeFlag(byKeyType)};
  const Apdu first{MR_CLA_PROTECTED, kInsSignData, 0x03, 0x00, static_cast<BYTE>(kHalf), data,
                   sizeof data};
  return merro::commands::ReadResultHalves(mrTraceScope_, pDevCtx, kInsSignData, byKeyType, first, pSignbuf,
                          pSignlen);
}
