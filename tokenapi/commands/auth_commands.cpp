#include "tokenapi/commands/auth_commands.h"

#include <cstring>

#include "foundation/alg_ids.h"
#include "foundation/result.h"
#include "foundation/secure_wipe.h"
#include "foundation/wiped_bytes.h"
#include "tokenapi/apdu/cipher_steps.h"
#include "tokenapi/commands/command_exchange.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/commands/pin_commands.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/contexts/hash.h"
#include "tokenapi/crypto/random/soft_random.h"
#include "tokenapi/crypto/sm2/sm2_api.h"

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
using SecretBytes = merro::WipedBytes<N>;

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

namespace {

static_assert(MR_FACTS_CHIP_SN_LEN == MR_CHIP_SN_LEN,
              "the context keeps a whole chip serial number");
static_assert(MR_FACTS_TEMP_PUBKEY_LEN == MR_SM2_PUBKEY_LEN, "the context keeps a whole SM2 point");

// Reads the chip serial number into the context's facts.
HRESULT ReadChipSerial(const TraceHelper& scope, DEV_CTX* pDevCtx) {
  BYTE chipSn[MR_CHIP_SN_LEN + 1] = {};
  DWORD chipSnLen = MR_CHIP_SN_LEN;
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(mr_GetChipSN(pDevCtx, chipSn, &chipSnLen));
  merro::trace::LogStep(scope.Name(), L"mr_GetChipSN", hr);
  if (FAILED(hr)) {
    return hr;
  }
  MR_TOKEN_FACTS& facts = pDevCtx->stFacts;
  std::memcpy(facts.byChipSN, chipSn, chipSnLen);
  facts.dwChipSNLen = chipSnLen;
  facts.fChipSNKnown = true;
  return S_OK;
}

// External authentication with the key derived from the chip serial number
// the context keeps (read first when it has none).
HRESULT ChipKeyAuth(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE* pKey) {
  const MR_TOKEN_FACTS& facts = pDevCtx->stFacts;
  HRESULT hr = facts.fChipSNKnown ? S_OK : ReadChipSerial(scope, pDevCtx);
  if (FAILED(hr)) {
    return hr;
  }
  hr = merro::commands::DeriveExternKey(scope, pDevCtx, facts.byChipSN, facts.dwChipSNLen, pKey);
  if (FAILED(hr)) {
    return hr;
  }
  hr = mr_ExternalAuth(pDevCtx, pKey, MR_KEY_EXTERN);
  merro::trace::LogStep(scope.Name(), L"mr_ExternalAuth", hr);
  return hr;
}

// After a refusal: the kept serial number is forgotten and read again; true
// when the token now gives another one.
bool ChipSerialChanged(const TraceHelper& scope, DEV_CTX* pDevCtx) {
  MR_TOKEN_FACTS& facts = pDevCtx->stFacts;
  const MR_TOKEN_FACTS before = facts;
  facts.fChipSNKnown = false;
  if (FAILED(ReadChipSerial(scope, pDevCtx))) {
    return false;
  }
  return facts.dwChipSNLen != before.dwChipSNLen ||
         std::memcmp(facts.byChipSN, before.byChipSN, facts.dwChipSNLen) != 0;
}

// Reads the temporary public key into the context's facts.
HRESULT ReadTempPubKey(const TraceHelper& scope, DEV_CTX* pDevCtx) {
  MR_TOKEN_FACTS& facts = pDevCtx->stFacts;
  BYTE pubKey[MR_SM2_PUBKEY_LEN] = {};
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(mr_ExportTempPubKey(pDevCtx, pubKey));
  merro::trace::LogStep(scope.Name(), L"mr_ExportTempPubKey", hr);
  if (FAILED(hr)) {
    return hr;
  }
  std::memcpy(facts.byTempPubKey, pubKey, MR_SM2_PUBKEY_LEN);
  facts.fTempPubKeyKnown = true;
  return S_OK;
}

// After a refusal: the kept public key is forgotten and read again; true
// when the token now has another one.
bool TempPubKeyChanged(const TraceHelper& scope, DEV_CTX* pDevCtx) {
  MR_TOKEN_FACTS& facts = pDevCtx->stFacts;
  BYTE before[MR_SM2_PUBKEY_LEN] = {};
  std::memcpy(before, facts.byTempPubKey, MR_SM2_PUBKEY_LEN);
  facts.fTempPubKeyKnown = false;
  if (FAILED(ReadTempPubKey(scope, pDevCtx))) {
    return false;
  }
  return std::memcmp(facts.byTempPubKey, before, MR_SM2_PUBKEY_LEN) != 0;
}

// One session key asked for under the temporary public key the context
// keeps (read first when it has none).
HRESULT SessionKeyUnder(const TraceHelper& scope, DEV_CTX* pDevCtx) {
  // Every byte of the transport key lies in 1..254, from the secure
  // generator (a time-seeded rand() would let the key be guessed).
  SecretBytes<MR_TRANSPORT_KEY_LEN> transportKey;
  HRESULT hr = merro::crypto::GenSoftRandom(MR_TRANSPORT_KEY_LEN, transportKey.bytes);
  merro::trace::LogStep(scope.Name(), L"GenSoftRandom", hr);
  if (FAILED(hr)) {
    return hr;
  }
  if (!pDevCtx->stFacts.fTempPubKeyKnown) {
    hr = ReadTempPubKey(scope, pDevCtx);
    if (FAILED(hr)) {
      return hr;
    }
  }
  BYTE wrapped[MR_WRAPPED_TRANSPORT_KEY_LEN] = {};
  DWORD wrappedLen = sizeof wrapped;
  hr = HRESULT_FROM_TOKEN_ERROR(merro::crypto::SM2_Encrypt(pDevCtx->stFacts.byTempPubKey,
                                                            transportKey.bytes, MR_TRANSPORT_KEY_LEN,
                                                            wrapped, &wrappedLen));
  merro::trace::LogStep(scope.Name(), L"SM2_Encrypt", hr);
  if (FAILED(hr)) {
    return hr;
  }
  BYTE reply[MR_WRAPPED_SESSION_KEY_LEN] = {};
  DWORD replyLen = sizeof reply;
  const Apdu cmd{MR_CLA_PLAIN, kInsSetSessionKey, 0x00, 0x00, MR_WRAPPED_SESSION_KEY_LEN, wrapped,
                 wrappedLen};
  hr = Exchange(scope, pDevCtx, cmd, reply, &replyLen, MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  // A short or empty reply would decrypt to a short or empty key.
  if (replyLen != MR_WRAPPED_SESSION_KEY_LEN) {
    merro::trace::LogFailure(MR_TRACE_SOURCE, __LINE__, scope.Name(), L"CHECK replyLen",
                             L"replyLen != MR_WRAPPED_SESSION_KEY_LEN", kBadReply);
    return kBadReply;
  }
  // Decrypted into a scratch buffer: the transport-key buffer (16 bytes)
  // cannot take what a 32-byte reply may decrypt to.
  SecretBytes<kCipherRoom> sessionKey;
  DWORD sessionKeyLen = 0;
  hr = RunCbcCipher(scope, pDevCtx, MR_ALG_SM4, false, transportKey.bytes, reply, replyLen,
                    sessionKey.bytes, sizeof sessionKey.bytes, &sessionKeyLen, {0, 0, 0});
  merro::SecureWipe(reply, sizeof reply);
  if (FAILED(hr)) {
    return hr;
  }
  if (sessionKeyLen < MR_SESSION_KEY_MIN || sessionKeyLen > MR_SESSION_KEY_LEN) {
    merro::trace::LogFailure(MR_TRACE_SOURCE, __LINE__, scope.Name(), L"CHECK session key length",
                             L"length out of range", kBadReply);
    return kBadReply;
  }
  merro::SecureWipe(pDevCtx->bySessionKey, sizeof pDevCtx->bySessionKey);
  std::memcpy(pDevCtx->bySessionKey, sessionKey.bytes, sessionKeyLen);
  pDevCtx->dwSessionKeyLen = sessionKeyLen;
  pDevCtx->bySMState = MR_SM_STATE_SESSION_KEY;
  return S_OK;
}

}  // namespace

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
  if (nAuthType == MR_KEY_EXTERN_CFG) {
    std::memcpy(key.bytes, MR_EXTERN_CFG_KEY, MR_EXTERN_KEY_LEN);
    const HRESULT hr = mr_ExternalAuth(pDevCtx, key.bytes, nAuthType);
    merro::trace::LogStep(mrTraceScope_.Name(), L"mr_ExternalAuth", hr);
    return hr;
  }
  if (nAuthType != MR_KEY_EXTERN) {
    MR_LOG_FAIL(L"CHECK nAuthType", L"neither MR_KEY_EXTERN nor MR_KEY_EXTERN_CFG", kBadKeyId);
    return kBadKeyId;
  }
  const bool kept = pDevCtx->stFacts.fChipSNKnown;
  HRESULT hr = ChipKeyAuth(mrTraceScope_, pDevCtx, key.bytes);
  // A refusal with the kept serial number is tried again only when the
  // token now gives another one: the same proof would only cost a try.
  if (FAILED(hr) && kept && ChipSerialChanged(mrTraceScope_, pDevCtx)) {
    hr = ChipKeyAuth(mrTraceScope_, pDevCtx, key.bytes);
  }
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
  const bool kept = pDevCtx->stFacts.fTempPubKeyKnown;
  HRESULT hr = SessionKeyUnder(mrTraceScope_, pDevCtx);
  // A refusal under the kept public key is tried again only when the token
  // now has another one (its key pair was made anew while it stayed open).
  if (FAILED(hr) && kept && TempPubKeyChanged(mrTraceScope_, pDevCtx)) {
    hr = SessionKeyUnder(mrTraceScope_, pDevCtx);
  }
  return hr;
}
