// WRITE KEY: a PIN or external-authentication key object into the selected
// file.
#include <cstring>

#include "foundation/secure_wipe.h"
#include "tokenapi/commands/command_exchange.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/commands/routine_steps.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/contexts/hash.h"

using merro::commands::kResultBadArgument;
using merro::commands::StepResult;

namespace {

constexpr HRESULT kBadKey = static_cast<HRESULT>(0x80070210);
constexpr BYTE kInsWriteKey = 0xD4;

struct KeyObjectKind {
  BYTE usage;
  BYTE attribute;
  bool pin;  // the value is MD5 of the key bytes
};

KeyObjectKind KindOf(BYTE nKeyType) {
  switch (nKeyType) {
    case MR_KEY_USER_PIN:
      return {0xFF, 0x11, true};
    case MR_KEY_ADMIN_PIN:
    case MR_KEY_UNLOCK_PIN:
      return {0xFF, 0x10, true};
    case MR_KEY_EXTERN:
      return {0x01, 0x01, false};
    default:  // MR_KEY_EXTERN_CFG
      return {0x01, 0x20, false};
  }
}

struct KeyRecord {
  BYTE bytes[MR_KEY_RECORD_LEN] = {};
  ~KeyRecord() { merro::SecureWipe(bytes, sizeof bytes); }
};

}  // namespace

HRESULT mr_WriteKey(DEV_CTX* pDevCtx, BYTE nKeyType, const BYTE* pKey, DWORD nKeyLen,
                    BYTE byRetry) {
  MR_TRACE("mr_WriteKey");
  MR_FAIL_IF(nKeyType < MR_KEY_USER_PIN || nKeyType > MR_KEY_EXTERN_CFG, L"CHECK nKeyType",
             kBadKey);
  MR_FAIL_IF(pKey == nullptr && nKeyLen != 0, L"CHECK pKey", kResultBadArgument);
  const KeyObjectKind kind = KindOf(nKeyType);
  // An authentication key longer than the 16-byte field would be stored cut.
  MR_FAIL_IF(!kind.pin && nKeyLen > MR_KEY_VALUE_LEN, L"CHECK nKeyLen", kBadKey);

  KeyRecord record;
  BYTE* value = record.bytes + 5;
  if (kind.pin) {
    DWORD digestLen = MR_KEY_VALUE_LEN;
    const HRESULT hr =
        StepResult(mrTraceScope_, L"Hash_Digest",
                   merro::crypto::Hash_Digest(MR_ALG_MD5, pKey, nKeyLen, value, &digestLen));
    if (FAILED(hr)) {
      return hr;
    }
  } else if (nKeyLen != 0) {
    std::memcpy(value, pKey, nKeyLen);
  }
  record.bytes[0] = nKeyType;
  record.bytes[1] = 0x00;
  record.bytes[2] = kind.usage;
  record.bytes[3] = kind.attribute;
  record.bytes[4] = byRetry;
  const merro::apdu::Apdu cmd{MR_CLA_PLAIN, kInsWriteKey,       0x00, 0x01, 0x00,
                              record.bytes, sizeof record.bytes};
  return merro::commands::Exchange(mrTraceScope_, pDevCtx, cmd, nullptr, nullptr,
                                   MR_TIMEOUT_DEFAULT);
}
