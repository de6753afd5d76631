// Secure messaging of class 0xB4 frames under the session key.
#include "tokenapi/apdu/secure_messaging.h"

#include <array>
#include <cstring>

#include "foundation/secure_wipe.h"
#include "foundation/trace/trace.h"
#include "foundation/wiped_bytes.h"
#include "tokenapi/apdu/apdu.h"
#include "tokenapi/apdu/cipher_steps.h"
#include "tokenapi/crypto/algorithms.h"

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kTooLong = static_cast<HRESULT>(0x80070004);
constexpr HRESULT kSetupFailed = static_cast<HRESULT>(0x80070206);
constexpr HRESULT kEncryptFailed = static_cast<HRESULT>(0x80070207);
constexpr HRESULT kDecryptFailed = static_cast<HRESULT>(0x80070208);
constexpr DWORD kSm4KeyLen = 16;

// A cipher buffer: it holds plain command or reply data (PIN proofs, keys).
using WipedBuffer = merro::WipedBytes<MR_SM_BUFFER_LEN>;

bool HasSessionKey(const DEV_CTX* pDevCtx) {
  return pDevCtx->dwSessionKeyLen >= kSm4KeyLen && pDevCtx->dwSessionKeyLen <= MR_SESSION_KEY_LEN;
}

}  // namespace

HRESULT GetCryptByte(DEV_CTX* pDevCtx, const BYTE* pData, DWORD nDataLen, BYTE* pOut,
                     DWORD* pCrylen) {
  MR_TRACE("GetCryptByte");
  MR_FAIL_IF(pDevCtx == nullptr || pOut == nullptr || pCrylen == nullptr, L"CHECK pDevCtx",
             kBadArgument);
  MR_FAIL_IF(nDataLen != 0 && pData == nullptr, L"CHECK pData", kBadArgument);
  // The length byte of the block holds at most 255, and the encrypted block
  // must fit the one-byte Lc of the frame.
  MR_FAIL_IF(nDataLen > MR_SM_MAX_DATA, L"CHECK nDataLen", kTooLong);
  if (*pCrylen < nDataLen + 1) {
    *pCrylen = 0;
    MR_LOG_FAIL(L"CHECK *pCrylen SIZE", L"*pCrylen < nDataLen + 1", kBufferTooSmall);
    return kBufferTooSmall;
  }
  MR_FAIL_IF(!HasSessionKey(pDevCtx), L"CHECK dwSessionKeyLen", kSetupFailed);
  WipedBuffer block;
  block.bytes[0] = static_cast<BYTE>(nDataLen);
  if (nDataLen != 0) {
    std::memcpy(block.bytes + 1, pData, nDataLen);
  }
  WipedBuffer encrypted;
  DWORD encryptedLen = 0;
  const HRESULT hr = merro::apdu::RunCbcCipher(
      mrTraceScope_, pDevCtx, MR_ALG_SM4, true, pDevCtx->bySessionKey, block.bytes,
      nDataLen + 1, encrypted.bytes, MR_SM_BUFFER_LEN, &encryptedLen,
      {kSetupFailed, kEncryptFailed, kEncryptFailed});
  const DWORD room = *pCrylen;
  const DWORD produced = encryptedLen <= room ? encryptedLen : room;
  std::memcpy(pOut, encrypted.bytes, produced);
  *pCrylen = produced;
  if (FAILED(hr)) {
    return hr;
  }
  if (encryptedLen > room) {
    *pCrylen = 0;
    MR_LOG_FAIL(L"CHECK *pCrylen SIZE", L"*pCrylen < encrypted length", kBufferTooSmall);
    return kBufferTooSmall;
  }
  return S_OK;
}

HRESULT GetPlainByte(DEV_CTX* pDevCtx, const BYTE* pCry, DWORD nCryLen, BYTE* pOut,
                     DWORD* pPlainLen) {
  MR_TRACE("GetPlainByte");
  MR_FAIL_IF(pDevCtx == nullptr || pCry == nullptr || pOut == nullptr || pPlainLen == nullptr,
             L"CHECK pDevCtx", kBadArgument);
  MR_FAIL_IF(nCryLen > MR_SM_BUFFER_LEN, L"CHECK nCryLen", kDecryptFailed);
  MR_FAIL_IF(!HasSessionKey(pDevCtx), L"CHECK dwSessionKeyLen", kSetupFailed);
  *pPlainLen = 0;
  WipedBuffer plain;
  DWORD plainLen = 0;
  const HRESULT hr = merro::apdu::RunCbcCipher(
      mrTraceScope_, pDevCtx, MR_ALG_SM4, false, pDevCtx->bySessionKey, pCry, nCryLen,
      plain.bytes, MR_SM_BUFFER_LEN, &plainLen, {kSetupFailed, kDecryptFailed, kDecryptFailed});
  if (FAILED(hr)) {
    return hr;
  }
  // The block must hold its length byte and at least that many data bytes;
  // a larger L would hand out bytes that were never decrypted.
  MR_FAIL_IF(plainLen == 0, L"CHECK decrypted length", kDecryptFailed);
  const DWORD dataLen = plain.bytes[0];
  MR_FAIL_IF(dataLen > plainLen - 1, L"CHECK L", kDecryptFailed);
  if (dataLen != 0) {
    std::memcpy(pOut, plain.bytes + 1, dataLen);
  }
  *pPlainLen = dataLen;
  return S_OK;
}

namespace merro::apdu {

HRESULT WrapCommand(DEV_CTX* pDevCtx, const BYTE* pFrame, DWORD nFrameLen,
                    std::vector<BYTE>* pProtected) {
  pProtected->clear();
  std::array<BYTE, MR_SM_BUFFER_LEN> encrypted{};
  DWORD encryptedLen = static_cast<DWORD>(encrypted.size());
  const HRESULT hr = GetCryptByte(pDevCtx, pFrame + MR_APDU_HEADER_LEN,
                                  nFrameLen - MR_APDU_HEADER_LEN, encrypted.data(), &encryptedLen);
  if (FAILED(hr)) {
    return hr;
  }
  pProtected->reserve(MR_APDU_HEADER_LEN + encryptedLen);
  pProtected->push_back(MR_CLA_PROTECTED);
  pProtected->push_back(pFrame[MR_APDU_INS]);
  pProtected->push_back(pFrame[MR_APDU_P1]);
  pProtected->push_back(pFrame[MR_APDU_P2]);
  pProtected->push_back(static_cast<BYTE>(encryptedLen));
  pProtected->push_back(pFrame[MR_APDU_LE]);
  pProtected->insert(pProtected->end(), encrypted.begin(), encrypted.begin() + encryptedLen);
  return S_OK;
}

HRESULT UnwrapReply(DEV_CTX* pDevCtx, const BYTE* pData, DWORD nDataLen, std::vector<BYTE>* pPlain) {
  pPlain->clear();
  WipedBuffer plain;
  DWORD plainLen = 0;
  const HRESULT hr = GetPlainByte(pDevCtx, pData, nDataLen, plain.bytes, &plainLen);
  if (FAILED(hr)) {
    return hr;
  }
  pPlain->assign(plain.bytes, plain.bytes + plainLen);
  return S_OK;
}

}  // namespace merro::apdu
