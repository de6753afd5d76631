#include "tokenapi/commands/pin_commands.h"

#include <cstring>
#include <initializer_list>
#include <memory>

#include "foundation/alg_ids.h"
#include "foundation/result.h"
#include "foundation/secure_wipe.h"
#include "foundation/wiped_bytes.h"
#include "tokenapi/commands/command_exchange.h"
#include "tokenapi/crypto/contexts/handles.h"

using merro::apdu::Apdu;
using merro::commands::Exchange;

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070001);
constexpr HRESULT kShortReply = static_cast<HRESULT>(0x8007000D);  // ERROR_INVALID_DATA

constexpr BYTE kInsGetChallenge = 0x84;
constexpr BYTE kInsVerifyPin = 0x20;
constexpr BYTE kInsChangePin = 0x21;
constexpr BYTE kInsUnlockPin = 0x22;
constexpr BYTE kInsPinStatus = 0x25;

// A 16-byte value that is wiped when it goes out of scope.
struct Digest16 {
  BYTE bytes[MR_PIN_DIGEST_LEN] = {};
  DWORD len = 0;
  ~Digest16() { merro::SecureWipe(bytes, sizeof bytes); }
};

struct Part {
  const BYTE* data;
  DWORD len;
};

// MD5 over the parts through a hash handle; Hash_Init, Hash_Update and
// Hash_Final are logged as steps of the calling routine.
HRESULT Md5Steps(const TraceHelper& scope, DEV_CTX* pDevCtx, std::initializer_list<Part> parts,
                 Digest16* pOut) {
  static const BYTE kNothing = 0;  // the hash refuses a null pointer, also for 0 bytes
  HASH_HANDLE* raw = nullptr;
  HRESULT hr = HRESULT_FROM_TOKEN_ERROR(mr_HashInit(pDevCtx, MR_ALG_MD5, &raw));
  merro::trace::LogStep(scope.Name(), L"Hash_Init", hr);
  if (FAILED(hr)) {
    return hr;
  }
  std::unique_ptr<HASH_HANDLE> handle(raw);
  for (const Part& part : parts) {
    hr = HRESULT_FROM_TOKEN_ERROR(
        mr_HashUpdate(handle.get(), part.len != 0 ? part.data : &kNothing, part.len));
    merro::trace::LogStep(scope.Name(), L"Hash_Update", hr);
    if (FAILED(hr)) {
      return hr;
    }
  }
  pOut->len = sizeof pOut->bytes;
  hr = HRESULT_FROM_TOKEN_ERROR(mr_HashFinal(handle.release(), pOut->bytes, &pOut->len));
  merro::trace::LogStep(scope.Name(), L"Hash_Final", hr);
  return hr;
}

// A fresh 16-byte challenge from the token (step "mr_GenRandom"), then the
// proof of the PIN against it: MD5(MD5(PIN) || challenge).
HRESULT PinProof(const TraceHelper& scope, DEV_CTX* pDevCtx, const BYTE* pPin, BYTE nPinLen,
                 Digest16* pProof) {
  BYTE challenge[MR_PIN_CHALLENGE_LEN] = {};
  HRESULT hr = HRESULT_FROM_TOKEN_ERROR(mr_GenRandom(pDevCtx, MR_PIN_CHALLENGE_LEN, challenge));
  merro::trace::LogStep(scope.Name(), L"mr_GenRandom", hr);
  if (FAILED(hr)) {
    return hr;
  }
  Digest16 pinDigest;
  hr = Md5Steps(scope, pDevCtx, {{pPin, nPinLen}}, &pinDigest);
  if (FAILED(hr)) {
    return hr;
  }
  return Md5Steps(scope, pDevCtx, {{pinDigest.bytes, pinDigest.len}, {challenge, sizeof challenge}},
                  pProof);
}

// CHANGE PIN and UNLOCK PIN: proof of the first PIN, then MD5 of the new.
HRESULT SendPinPair(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE ins, BYTE byPinType,
                    const BYTE* pProvenPin, BYTE nProvenLen, const BYTE* pNewPin, BYTE nNewPinLen,
                    DWORD nTimeoutSec) {
  Digest16 proof;
  HRESULT hr = PinProof(scope, pDevCtx, pProvenPin, nProvenLen, &proof);
  if (FAILED(hr)) {
    return hr;
  }
  Digest16 newPin;
  hr = Md5Steps(scope, pDevCtx, {{pNewPin, nNewPinLen}}, &newPin);
  if (FAILED(hr)) {
    return hr;
  }
  BYTE data[2 * MR_PIN_DIGEST_LEN] = {};
  std::memcpy(data, proof.bytes, MR_PIN_DIGEST_LEN);
  std::memcpy(data + MR_PIN_DIGEST_LEN, newPin.bytes, MR_PIN_DIGEST_LEN);
  const Apdu cmd{MR_CLA_PROTECTED, ins, 0x00, byPinType, 0x00, data, sizeof data};
  hr = Exchange(scope, pDevCtx, cmd, nullptr, nullptr, nTimeoutSec);
  merro::SecureWipe(data, sizeof data);
  return hr;
}

}  // namespace

HRESULT mr_GenRandom(DEV_CTX* pDevCtx, BYTE nRandlen, BYTE* pRandom) {
  MR_TRACE("mr_GenRandom");
  MR_FAIL_IF(nRandlen > MR_RANDOM_MAX, L"CHECK nRandlen", kBadArgument);
  // Wiped on every way out: the bytes may become key material.
  merro::WipedBytes<MR_RANDOM_MAX> randomCopy;
  BYTE* const random = randomCopy.bytes;
  DWORD received = nRandlen;
  const Apdu cmd{MR_CLA_PLAIN, kInsGetChallenge, 0x00, 0x00, nRandlen, nullptr, 0};
  const HRESULT hr = Exchange(mrTraceScope_, pDevCtx, cmd, random, &received, MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  // Fewer bytes than asked would leave the caller's tail unset while
  // reporting success (and a short challenge weakens every proof).
  MR_FAIL_IF(received != nRandlen, L"CHECK received length", kShortReply);
  if (received != 0) {
    std::memcpy(pRandom, random, received);
  }
  return S_OK;
}

HRESULT mr_VerifyPIN(DEV_CTX* pDevCtx, BYTE byPinType, const BYTE* pPin, BYTE nPinLen) {
  MR_TRACE("mr_VerifyPIN");
  Digest16 proof;
  const HRESULT hr = PinProof(mrTraceScope_, pDevCtx, pPin, nPinLen, &proof);
  if (FAILED(hr)) {
    return hr;
  }
  const Apdu cmd{MR_CLA_PROTECTED, kInsVerifyPin, 0x00, byPinType, 0x00, proof.bytes, proof.len};
  return Exchange(mrTraceScope_, pDevCtx, cmd, nullptr, nullptr, MR_TIMEOUT_VERIFY_PIN);
}

HRESULT mr_ChangePIN(DEV_CTX* pDevCtx, BYTE byPinType, const BYTE* pOldPin, BYTE nOldPinLen,
                     const BYTE* pNewPin, BYTE nNewPinLen) {
  MR_TRACE("mr_ChangePIN");
  return SendPinPair(mrTraceScope_, pDevCtx, kInsChangePin, byPinType, pOldPin, nOldPinLen, pNewPin,
                     nNewPinLen, MR_TIMEOUT_CHANGE_PIN);
}

HRESULT mr_UnlockPIN(DEV_CTX* pDevCtx, BYTE byPinType, const BYTE* pOldPin, BYTE nAdminPinLen,
                     const BYTE* pNewPin, BYTE nNewPinLen) {
  MR_TRACE("mr_UnlockPIN");
  return SendPinPair(mrTraceScope_, pDevCtx, kInsUnlockPin, byPinType, pOldPin, nAdminPinLen, pNewPin,
                     nNewPinLen, MR_TIMEOUT_DEFAULT);
}

HRESULT mr_GetPINStatus(DEV_CTX* pDevCtx, BYTE byPinType, BYTE* pTimes, BYTE* pStatus,
                        BYTE* pModified) {
  MR_TRACE("mr_GetPINStatus");
  BYTE reply[2] = {};
  DWORD replyLen = 2;
  const Apdu part0{MR_CLA_PROTECTED, kInsPinStatus, 0x00, byPinType, 2, nullptr, 0};
  HRESULT hr = Exchange(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x00)", pDevCtx, part0, reply, &replyLen,
                        MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  // Tries and state must both have arrived: a short reply would hand out
  // whatever the buffer held.
  MR_FAIL_IF(replyLen < 2, L"CHECK reply length (P1=0x00)", kShortReply);
  *pTimes = reply[0];
  *pStatus = reply[1];

  // The second part reuses the length the first left (2): room for its one
  // byte.
  const Apdu part1{MR_CLA_PROTECTED, kInsPinStatus, 0x01, byPinType, 1, nullptr, 0};
  hr = Exchange(mrTraceScope_, L"mr_SendAPDUCmd(P1=0x01)", pDevCtx, part1, reply, &replyLen,
                MR_TIMEOUT_DEFAULT);
  if (FAILED(hr)) {
    return hr;
  }
  MR_FAIL_IF(replyLen < 1, L"CHECK reply length (P1=0x01)", kShortReply);
  *pModified = reply[0];
  return S_OK;
}
