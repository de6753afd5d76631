#include "tokenapi/commands/auth_commands.h"

#include <cstring>

#include "foundation/alg_ids.h"
#include "foundation/result.h"
#include "foundation/secure_wipe.h"
#include "tokenapi/apdu/cipher_steps.h"
#include "tokenapi/commands/command_exchange.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/commands/pin_commands.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/contexts/hash.h"
#include "tokenapi/crypto/random/soft_random.h"
#include "tokenapi/crypto/sm2/sm2_api.h"
#include "tokenapi/transport/wiped_bytes.h"

using merro::apdu::Apdu;
using merro::apdu::CipherFailureCodes;
using merro::apdu::RunCbcCipher;
using merro::commands::Exchange;

namespace {

constexpr HRESULT kSetupFailed = static_cast<HRESULT>(0x80070206);
constexpr HRESULT kEncryptFailed = static_cast<HRESULT>(0x80070207);
constexpr HRESULT kBadKeyId = static_cast<HRESULT>(0x80070210);
constexpr HRESULT kBadReply = static_cast<HRESULT>(0x8007000D);  // ERROR_INVALID_DATA

constexpr BYTE kInsExternalAuth = 0x82;
constexpr BYTE kInsSetSessionKey = 0x91;
constexpr CipherFailureCodes kEncryptCodes{kSetupFailed, kEncryptFailed, kEncryptFailed};
// Cipher output room: the input and one padding block.
constexpr DWORD kCipherRoom = 64;

// A key-sized buffer that is wiped when it goes out of scope.
template <DWORD N>
using SecretBytes = merro::transport::WipedBytes<N>;

}  // namespace

namespace merro::commands {

HRESULT DeriveExternKey(const TraceHelper& scope, DEV_CTX* pDevCtx, const BYTE* pChipSN,
                        DWORD nChipSNLen, BYTE* pKey) {
  SecretBytes<MR_PIN_DIGEST_LEN> digest;
  DWORD digestLen = sizeof digest.bytes;
  HRESULT hr = HRESULT_FROM_TOKEN_ERROR(
      merro::crypto::Hash_Digest(MR_ALG_MD5, pChipSN, nChipSNLen, digest.bytes, &digestLen));
  merro::trace::LogStep(scope.Name(), L"Hash_Digest", hr);
  if (FAILED(hr)) {
    return hr;
  }
  SecretBytes<kCipherRoom> encrypted;
  DWORD encryptedLen = 0;
  hr = RunCbcCipher(scope, pDevCtx, MR_ALG_3DES_2KEY, true, MR_EXTERN_CFG_KEY, digest.bytes,
                    digestLen, encrypted.bytes, sizeof encrypted.bytes, &encryptedLen, kEncryptCodes);
  if (FAILED(hr)) {
    return hr;
  }
  if (encryptedLen < MR_EXTERN_KEY_LEN) {
    merro::trace::LogStep(scope.Name(), L"SymEncryptFinal", kEncryptFailed);
    return kEncryptFailed;
  }
  std::memcpy(pKey, encrypted.bytes, MR_EXTERN_KEY_LEN);
  return S_OK;
}

}  // namespace merro::commands

HRESULT mr_ExternalAuth(DEV_CTX* pDevCtx, const BYTE* pKey, BYTE nKeyId) {
  MR_TRACE("mr_ExternalAuth");
  BYTE challenge[MR_EXTERN_CHALLENGE_LEN] = {};
  HRESULT hr = HRESULT_FROM_TOKEN_ERROR(mr_GenRandom(pDevCtx, MR_EXTERN_CHALLENGE_LEN, challenge));
  merro::trace::LogStep(mrTraceScope_.Name(), L"mr_GenRandom", hr);
  if (FAILED(hr)) {
    return hr;
  }
  BYTE cryptogram[kCipherRoom] = {};
  DWORD cryptogramLen = 0;
  hr = RunCbcCipher(mrTraceScope_, pDevCtx, MR_ALG_3DES_2KEY, true, pKey, challenge,
                    sizeof challenge, cryptogram, sizeof cryptogram, &cryptogramLen, kEncryptCodes);
  if (FAILED(hr)) {
    return hr;
  }
  // Eight bytes from the update and one padding block from the final.
  MR_FAIL_IF(cryptogramLen != MR_EXTERN_CRYPTOGRAM_LEN, L"SymEncryptFinal", kEncryptFailed);
  const BYTE p1 = nKeyId == MR_KEY_EXTERN ? 0x00 : 0x01;
  const Apdu cmd{MR_CLA_PLAIN, kInsExternalAuth, p1, 0x00, 0x00, cryptogram, cryptogramLen};
  return Exchange(mrTraceScope_, pDevCtx, cmd, nullptr, nullptr, MR_TIMEOUT_DEFAULT);
}

HRESULT mr_AutoExternalAuth(DEV_CTX* pDevCtx, BYTE nAuthType) {
  MR_TRACE("mr_AutoExternalAuth");
  SecretBytes<MR_EXTERN_KEY_LEN> key;
  if (nAuthType == MR_KEY_EXTERN) {
    BYTE chipSn[MR_CHIP_SN_LEN + 1] = {};
    DWORD chipSnLen = MR_CHIP_SN_LEN;
    HRESULT hr = HRESULT_FROM_TOKEN_ERROR(mr_GetChipSN(pDevCtx, chipSn, &chipSnLen));
    merro::trace::LogStep(mrTraceScope_.Name(), L"mr_GetChipSN", hr);
    if (FAILED(hr)) {
      return hr;
    }
    hr = merro::commands::DeriveExternKey(mrTraceScope_, pDevCtx, chipSn, chipSnLen, key.bytes);
    if (FAILED(hr)) {
      return hr;
    }
  } else if (nAuthType == MR_KEY_EXTERN_CFG) {
    std::memcpy(key.bytes, MR_EXTERN_CFG_KEY, MR_EXTERN_KEY_LEN);
  } else {
    MR_LOG_FAIL(L"CHECK nAuthType", L"neither MR_KEY_EXTERN nor MR_KEY_EXTERN_CFG", kBadKeyId);
    return kBadKeyId;
  }
  const HRESULT hr = mr_ExternalAuth(pDevCtx, key.bytes, nAuthType);
  merro::trace::LogStep(mrTraceScope_.Name(), L"mr_ExternalAuth", hr);
  return hr;
}

HRESULT mr_ExportTempPubKey(DEV_CTX* pDevCtx, BYTE* pPubKey) {
  MR_TRACE("mr_ExportTempPubKey");
  const HRESULT hr =
      HRESULT_FROM_TOKEN_ERROR(mr_ExportPublicKey(pDevCtx, MR_ALG_SM2, MR_TEMP_SM2_KEY_FID, pPubKey));
  merro::trace::LogStep(mrTraceScope_.Name(), L"mr_ExportPublicKey", hr);
  return hr;
}

HRESULT mr_SetSessionKey(DEV_CTX* pDevCtx) {
  MR_TRACE("mr_SetSessionKey");
  // Every byte of the transport key lies in 1..254, from the secure
  // generator (a time-seeded rand() would let the key be guessed).
  SecretBytes<MR_TRANSPORT_KEY_LEN> transportKey;
  HRESULT hr = merro::crypto::GenSoftRandom(MR_TRANSPORT_KEY_LEN, transportKey.bytes);
  merro::trace::LogStep(mrTraceScope_.Name(), L"GenSoftRandom", hr);
  if (FAILED(hr)) {
    return hr;
  }
  BYTE pubKey[MR_SM2_PUBKEY_LEN] = {};
  hr = HRESULT_FROM_TOKEN_ERROR(mr_ExportTempPubKey(pDevCtx, pubKey));
  merro::trace::LogStep(mrTraceScope_.Name(), L"mr_ExportTempPubKey", hr);
  if (FAILED(hr)) {
    return hr;
  }
  BYTE wrapped[MR_WRAPPED_TRANSPORT_KEY_LEN] = {};
  DWORD wrappedLen = sizeof wrapped;
  hr = HRESULT_FROM_TOKEN_ERROR(
      merro::crypto::SM2_Encrypt(pubKey, transportKey.bytes, MR_TRANSPORT_KEY_LEN, wrapped, &wrappedLen));
  merro::trace::LogStep(mrTraceScope_.Name(), L"SM2_Encrypt", hr);
  if (FAILED(hr)) {
    return hr;
  }
  BYTE reply[MR_WRAPPED_SESSION_KEY_LEN] = {};
  DWORD replyLen = sizeof reply;
  const Apdu cmd{MR_CLA_PLAIN, kInsSetSessionKey, 0x00, 0x00, MR_WRAPPED_SESSION_KEY_LEN, wrapped,
                 wrappedLen};
  hr = Exchange(mrTraceScope_, pDevCtx, cmd, reply, &replyLen, MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  // A short or empty reply would decrypt to a short or empty key.
  MR_FAIL_IF(replyLen != MR_WRAPPED_SESSION_KEY_LEN, L"CHECK replyLen", kBadReply);
  // Decrypted into a scratch buffer: the transport-key buffer (16 bytes)
  // cannot take what a 32-byte reply may decrypt to.
  SecretBytes<kCipherRoom> sessionKey;
  DWORD sessionKeyLen = 0;
  hr = RunCbcCipher(mrTraceScope_, pDevCtx, MR_ALG_SM4, false, transportKey.bytes, reply, replyLen,
                    sessionKey.bytes, sizeof sessionKey.bytes, &sessionKeyLen, {0, 0, 0});
  merro::SecureWipe(reply, sizeof reply);
  if (FAILED(hr)) {
    return hr;
  }
  MR_FAIL_IF(sessionKeyLen < MR_SESSION_KEY_MIN || sessionKeyLen > MR_SESSION_KEY_LEN,
             L"CHECK session key length", kBadReply);
  merro::SecureWipe(pDevCtx->bySessionKey, sizeof pDevCtx->bySessionKey);
  std::memcpy(pDevCtx->bySessionKey, sessionKey.bytes, sessionKeyLen);
  pDevCtx->dwSessionKeyLen = sessionKeyLen;
  pDevCtx->bySMState = MR_SM_STATE_SESSION_KEY;
  return S_OK;
}
