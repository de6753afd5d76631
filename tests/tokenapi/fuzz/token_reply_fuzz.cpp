// Fuzz target over what a hostile or broken token answers: the host-side
// routines must handle every reply without a crash, an overrun or a leak,
// keep every reported length within the caller's room and never report
// success on a reply they cannot use.
//
// Input: byte 0 chooses the routine (table below), byte 1 is its parameter
// (buffer room, key type, ...; bit 0x80 puts the context under secure
// messaging with a fixed session key first, so every class 0xB4 reply goes
// through the unwrap path). The rest is a sequence of chunks, each a
// little-endian 2-byte length and that many bytes: the data-in transfer
// (SW1 SW2 N data, zero-filled, cut at 256 bytes) that answers one
// exchange. When the chunks run out the token answers 6D00.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "foundation/container_record.h"
#include "tokenapi/api/asym_api.h"
#include "tokenapi/api/token_name.h"
#include "tokenapi/apdu/apdu.h"
#include "tokenapi/apdu/send_apdu.h"
#include "tokenapi/commands/auth_commands.h"
#include "tokenapi/commands/cert_commands.h"
#include "tokenapi/commands/container_commands.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/commands/display_sign_commands.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/flash_commands.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/commands/pin_commands.h"
#include "tokenapi/commands/record_commands.h"
#include "tokenapi/commands/rsa_private_commands.h"
#include "tokenapi/commands/sm2_private_commands.h"
#include "tokenapi/commands/symkey_commands.h"
#include "tokenapi/commands/device_open.h"
#include "tokenapi/transport/merro_transport.h"
#include "tokenapi/transport/transport.h"

namespace {

using Bytes = std::vector<BYTE>;
using merro::transport::kReplyTransferLen;

void Require(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

HANDLE const kHandle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x5A5A));
constexpr char kDevicePath[] = "\\\\?\\usbstor#cdrom&ven_fz&prod_token&rev_1.00#7&1f2e3d4c&0&000001#{53f56308}";
constexpr BYTE kFill = 0xA5;
// The container record file (token_files.h, which clashes with token_name.h).
constexpr WORD kContainerFile = 0xC000;

// The fake token: answers each exchange with the next chunk of the input.
class ScriptedToken : public merro::transport::Transport {
 public:
  void Load(const BYTE* data, size_t size) {
    m_data = data;
    m_size = size;
    m_exchanges = 0;
  }
  size_t Exchanges() const { return m_exchanges; }

  HRESULT Enumerate(std::vector<merro::transport::DeviceEntry>* pDevices) override {
    pDevices->clear();
    return S_OK;
  }
  HRESULT Open(const char*, HANDLE* phDevice) override {
    *phDevice = kHandle;
    return S_OK;
  }
  HRESULT Close(HANDLE hDevice) override {
    return hDevice == kHandle ? S_OK : static_cast<HRESULT>(0x80070006);
  }
  HRESULT SendFrame(HANDLE hDevice, const BYTE* pFrame, DWORD nFrameLen, DWORD) override {
    Require(hDevice == kHandle);
    Require(pFrame != nullptr && nFrameLen >= 1 && nFrameLen <= merro::transport::kCommandTransferMax);
    return S_OK;
  }
  HRESULT ReceiveReply(HANDLE hDevice, BYTE (&reply)[kReplyTransferLen], DWORD) override {
    Require(hDevice == kHandle);
    ++m_exchanges;
    std::memset(reply, 0, sizeof reply);
    if (m_size < 2) {
      reply[0] = 0x6D;
      m_size = 0;
      return S_OK;
    }
    size_t len = m_data[0] | (m_data[1] << 8);
    m_data += 2;
    m_size -= 2;
    if (len > m_size) {
      len = m_size;
    }
    std::memcpy(reply, m_data, len < sizeof reply ? len : sizeof reply);
    m_data += len;
    m_size -= len;
    return S_OK;
  }

 private:
  const BYTE* m_data = nullptr;
  size_t m_size = 0;
  size_t m_exchanges = 0;
};

ScriptedToken& Token() {
  static std::shared_ptr<ScriptedToken> token = [] {
    auto t = std::make_shared<ScriptedToken>();
    merro::transport::SetTransportOverride(t);
    merro::commands::SetResultPollSleep([](DWORD) {});
    return t;
  }();
  return *token;
}

// A context on the fake token with its device mutex, as opening a token
// leaves it (the API-level routines wait for the mutex).
DEV_CTX& Context() {
  static DEV_CTX ctx = [] {
    DEV_CTX c{};
    std::strcpy(c.szMutexName, "merro-fuzz-token");
    Require(MerroOpenDevice(kDevicePath, &c) == 0);
    Require(MerroCreateMutex(&c) == 0);
    return c;
  }();
  return ctx;
}

// A buffer of exactly n bytes (the sanitizer sees any write past it),
// filled with kFill.
struct Buffer {
  explicit Buffer(DWORD n) : bytes(n ? n : 1, kFill), room(n) {}
  BYTE* data() { return bytes.data(); }
  Bytes bytes;
  DWORD room;
};

struct Run {
  DEV_CTX* ctx;
  BYTE param;
};

// Room for a reply from the parameter: 0 to 127 bytes, or large.
DWORD RoomOf(BYTE param) { return (param & 0x40) ? 4096 : (param & 0x3F) * 2; }
BYTE KeyTypeOf(BYTE param) { return (param & 1) ? MR_ALG_RSA2048 : MR_ALG_RSA1024; }
DWORD ModulusOf(BYTE type) { return type == MR_ALG_RSA2048 ? MR_RSA2048_LEN : MR_RSA1024_LEN; }

void DevInfo(Run r) {
  DEVICE_INFO info{};
  info.Mask = r.param | 0x1F;
  if (mr_GetDevInfo(r.ctx, r.param & 1, &info) == 0) {
    Require(info.dwPart01Len <= sizeof info.abyPart01);
    Require(info.dwPart02Len <= sizeof info.abyPart02);
    Require(std::memchr(info.szCosVersion, 0, sizeof info.szCosVersion) != nullptr);
  }
}

template <class Read>
void SizedRead(Run r, Read read) {
  DWORD len = 0;
  HRESULT hr = read(r.ctx, nullptr, &len);
  Buffer buf(RoomOf(r.param));
  len = buf.room;
  hr = read(r.ctx, buf.data(), &len);
  if (hr == 0) {
    Require(len <= buf.room);
  }
}

void ChipSN(Run r) { SizedRead(r, mr_GetChipSN); }
void CosVersion(Run r) { SizedRead(r, mr_GetCosVersion); }
void TokenSN(Run r) { SizedRead(r, mr_GetTokenSN); }
void TokenName(Run r) {
  Buffer buf(RoomOf(r.param) % 40);
  DWORD len = buf.room;
  if (mr_GetTokenName(r.ctx, buf.data(), &len) == 0) {
    Require(len <= buf.room && len <= MR_TOKEN_NAME_MAX);
  }
}

void ReadFile(Run r) {
  const DWORD want = 1 + r.param * 9;
  Buffer buf(want);
  DWORD len = want;
  const HRESULT hr = mr_ReadFile(r.ctx, r.param & 0x10, buf.data(), &len);
  Require(len <= want);
  if (hr == 0) {
    Require(len == want);
  }
}

void ReadFlash(Run r) {
  const DWORD want = 1 + (r.param & 0x3F) * 37;
  Buffer buf(want);
  mr_ReadFlash(r.ctx, r.param & 0x40, buf.data(), want);
}

void SelectFile(Run r) {
  Buffer buf(MR_FILE_INFO_LEN + (r.param & 0x0F));
  DWORD len = buf.room;
  if (mr_SelectFile(r.ctx, MR_SELECT_BY_ID, kContainerFile, buf.data(), &len) == 0) {
    Require(len <= buf.room);
  }
}

void PinStatus(Run r) {
  BYTE times = kFill, status = kFill, modified = kFill;
  mr_GetPINStatus(r.ctx, MR_PIN_USER, &times, &status, &modified);
}

void PinCommands(Run r) {
  const BYTE pin[] = {'9', '0', '5', '1', '7', '2'};
  switch (r.param % 3) {
    case 0:
      mr_VerifyPIN(r.ctx, MR_PIN_USER, pin, sizeof pin);
      break;
    case 1:
      mr_ChangePIN(r.ctx, MR_PIN_USER, pin, sizeof pin, pin, sizeof pin);
      break;
    default:
      mr_UnlockPIN(r.ctx, MR_PIN_USER, pin, sizeof pin, pin, sizeof pin);
      break;
  }
}

void Random(Run r) {
  const BYTE n = r.param % (MR_RANDOM_MAX + 1);
  Buffer buf(n);
  const Bytes before = buf.bytes;
  if (mr_GenRandom(r.ctx, n, buf.data()) != 0) {
    Require(buf.bytes == before);
  }
}

void ExternalAuth(Run r) {
  if (r.param & 1) {
    mr_AutoExternalAuth(r.ctx, (r.param & 2) ? MR_KEY_EXTERN_CFG : MR_KEY_EXTERN);
  } else {
    mr_ExternalAuth(r.ctx, MR_EXTERN_CFG_KEY, MR_KEY_EXTERN_CFG);
  }
}

void SessionKey(Run r) {
  const DEV_CTX before = *r.ctx;
  if (mr_SetSessionKey(r.ctx) == 0) {
    Require(r.ctx->bySMState == MR_SM_STATE_SESSION_KEY);
    Require(r.ctx->dwSessionKeyLen >= MR_SESSION_KEY_MIN &&
            r.ctx->dwSessionKeyLen <= MR_SESSION_KEY_LEN);
    // A protected command under the new key.
    BYTE times = 0, status = 0, modified = 0;
    mr_GetPINStatus(r.ctx, MR_PIN_USER, &times, &status, &modified);
  } else {
    // The session as it was (what the context keeps of its token may have
    // been read meanwhile: a cache, not session state).
    Require(r.ctx->bySMState == before.bySMState &&
            r.ctx->dwSessionKeyLen == before.dwSessionKeyLen &&
            std::memcmp(r.ctx->bySessionKey, before.bySessionKey, sizeof before.bySessionKey) == 0);
    Require(r.ctx->hDevice == before.hDevice && r.ctx->hMutex == before.hMutex &&
            std::memcmp(r.ctx->szMutexName, before.szMutexName, sizeof before.szMutexName) == 0);
  }
}

void Containers(Run r) {
  DWORD count = 0;
  mr_EnumContainer(r.ctx, nullptr, &count);
  const DWORD room = r.param & 7;
  std::vector<CONTAINER_RECORD> records(room ? room : 1);
  count = room;
  if (mr_EnumContainer(r.ctx, records.data(), &count) == 0) {
    Require(count <= room && count <= MR_CTNR_SLOT_COUNT);
    for (DWORD i = 0; i < count; ++i) {
      Require(records[i].byFlag != MR_CTNR_FREE);
    }
  }
}

void ContainerRecord(Run r) {
  CONTAINER_RECORD record{};
  std::memcpy(record.szContainerName, "fuzz", 4);
  switch (r.param & 3) {
    case 0:
      if (mr_ReadContainer(r.ctx, &record) == 0) {
        Require(std::memcmp(record.szContainerName, "fuzz", 5) == 0);
      }
      break;
    case 1:
      mr_CreateContainer(r.ctx, &record);
      break;
    case 2:
      (r.param & 4) ? mr_EnableContainer(r.ctx, "fuzz", 4)
                    : (r.param & 8) ? mr_DeleteContainer(r.ctx, "fuzz", 4)
                                    : mr_WriteContainer(r.ctx, &record);
      break;
    default: {
      Buffer buf(MR_CTNR_RECORD_LEN + (r.param >> 2 & 3) - 2);
      DWORD len = buf.room;
      if (mr_ReadRecord(r.ctx, r.param >> 4 & 3, buf.data(), &len) == 0) {
        Require(len <= buf.room);
      }
      break;
    }
  }
}

void ReadCert(Run r) {
  Buffer buf((r.param & 0x40) ? MR_CERT_MAX_LEN : (r.param & 0x3F) * 8);
  DWORD len = buf.room;
  if (mr_ReadCert(r.ctx, 0xC002, buf.data(), &len) == 0) {
    Require(len <= buf.room && len <= MR_CERT_MAX_LEN && len >= MR_CERT_HEAD_LEN);
    Require(buf.bytes[0] == 0x30 && buf.bytes[1] == 0x82);
    Require(DWORD(buf.bytes[2] << 8 | buf.bytes[3]) + MR_CERT_HEAD_LEN == len);
  }
}

void PublicKey(Run r) {
  const BYTE alg = (r.param & 2) ? MR_ALG_SM2 : KeyTypeOf(r.param);
  const bool generate = r.param & 4;
  if (alg == MR_ALG_SM2) {
    Buffer key(MR_SM2_PUBKEY_LEN);
    generate ? mr_GenerateKeyPair(r.ctx, alg, 0xC004, key.data())
             : mr_ExportPublicKey(r.ctx, alg, 0xC004, key.data());
  } else {
    auto key = std::make_unique<RSA_KEY>();
    std::memset(key.get(), kFill, sizeof *key);
    const HRESULT hr = generate ? mr_GenerateKeyPair(r.ctx, alg, 0xC004, key.get())
                                : mr_ExportPublicKey(r.ctx, alg, 0xC004, key.get());
    if (hr == 0) {
      Require(key->nLen == (alg == MR_ALG_RSA2048 ? MR_RSA2048_LEN : MR_RSA1024_LEN));
      Require(key->eLen >= 1 && key->eLen <= sizeof key->e);
    }
  }
}

void Sm2Decrypt(Run r) {
  Bytes cipher(MR_SM2_CIPHER_OVERHEAD + 1 + (r.param & 0x7F), 0x04);
  if (cipher.size() > MR_SM2_CIPHER_MAX_PROTECTED) {
    cipher.resize(MR_SM2_CIPHER_MAX_PROTECTED);
  }
  Buffer out((r.param & 0x80) ? 256 : (r.param & 0x3F));
  DWORD len = out.room;
  if (mr_SM2Decrypt(r.ctx, 0xC001, cipher.data(), static_cast<DWORD>(cipher.size()), out.data(),
                    &len) == 0) {
    Require(len <= out.room);
    Require(len == cipher.size() - MR_SM2_CIPHER_OVERHEAD);
  } else {
    Require(len == out.room);
  }
}

void Sm2Sign(Run r) {
  const BYTE digest[MR_SM2_DIGEST_LEN] = {1, 2, 3};
  Buffer sig(MR_SM2_SIGNATURE_LEN + (r.param & 0x0F));
  DWORD len = sig.room;
  switch (r.param >> 4 & 3) {
    case 0:
      if (mr_SM2SignDigest(r.ctx, 0xC004, digest, sizeof digest, sig.data(), &len) == 0) {
        Require(len == MR_SM2_SIGNATURE_LEN);
      }
      break;
    case 1: {
      Buffer out(MR_SM2_DIGEST_LEN);
      DWORD outLen = out.room;
      mr_SM2SignDataInit(r.ctx, 0xC004);
      mr_SM2SignDataUpdate(r.ctx, digest, sizeof digest);
      mr_SM2SignDataFinal(r.ctx, out.data(), &outLen);
      Require(outLen == MR_SM2_DIGEST_LEN);
      if (mr_SM2SignDataResult(r.ctx, sig.data(), &len) == 0) {
        Require(len == MR_SM2_SIGNATURE_LEN);
      }
      break;
    }
    default: {
      const BYTE message[300] = {'<', 'x', '>'};
      const DWORD n = (r.param & 0x40) ? sizeof message : 3;
      if (mr_SM2SignXML(r.ctx, 0xC004, message, n, sig.data(), &len) == 0) {
        Require(len == MR_SM2_SIGNATURE_LEN);
      }
      break;
    }
  }
}

void RsaPrivate(Run r) {
  const BYTE type = KeyTypeOf(r.param);
  const DWORD mod = type == MR_ALG_RSA2048 ? 256 : 128;
  Buffer out(mod + (r.param >> 1 & 7));
  DWORD len = out.room;
  switch (r.param >> 4 & 3) {
    case 0: {
      const Bytes in(mod, 0x11);
      if (mr_RSAPriKeyRaw(r.ctx, 0xC004, type, in.data(), mod, out.data(), &len) == 0) {
        Require(len == mod);
      }
      break;
    }
    case 1: {
      BYTE digestLen = 0;
      const BYTE data[40] = {};
      mr_RSASignDataInit(r.ctx, MR_ALG_SHA1, &digestLen);
      mr_RSASignDataUpdate(r.ctx, data, sizeof data);
      Buffer digest(64);
      DWORD dlen = digest.room;
      mr_RSASignDataFinal(r.ctx, digestLen, digest.data(), &dlen);
      Require(dlen == digestLen);
      if (mr_RSASignDataResult(r.ctx, 0xC004, type, out.data(), &len) == 0) {
        Require(len == mod);
      }
      break;
    }
    default: {
      const BYTE message[260] = {'<', 'y', '>'};
      const DWORD n = (r.param & 0x40) ? sizeof message : 3;
      // SHA-256: the host hash type the display signature accepts.
      if (mr_RSASignXML(r.ctx, 0xC004, type, MR_ALG_SHA256, message, n, out.data(), &len) == 0) {
        Require(len == mod);
      }
      break;
    }
  }
}

void SymKey(Run r) {
  const BYTE key[32] = {7};
  const DWORD n = 16 * (1 + (r.param & 0x0F));
  const Bytes in(n, 0x33);
  Buffer out(n);
  DWORD len = n;
  const BYTE alg = (r.param & 0x10) ? 16 : 19;
  if (mr_SymKeyCrypto(r.ctx, alg, r.param >> 5, key, in.data(), n, out.data(), &len) == 0) {
    Require(len == n);
  }
}

void OpenClose(Run r) {
  DEV_CTX* opened = reinterpret_cast<DEV_CTX*>(1);
  if (mr_OpenDevice(kDevicePath, &opened) == 0) {
    Require(opened != nullptr && opened->bySMState == MR_SM_STATE_NONE);
    Require(mr_CloseDevice(opened) == 0);
  } else {
    Require(opened == nullptr);
  }
}

void RawCommand(Run r) {
  const BYTE frame[] = {MR_CLA_PROTECTED, 0xCA, 0, 0, 0, 0x10};
  Buffer out(RoomOf(r.param));
  DWORD len = out.room;
  if (mr_SendAPDUCmd(r.ctx, frame, sizeof frame, out.data(), &len, 5) == 0) {
    Require(len <= out.room);
  } else {
    Require(len == out.room);
  }
}

// A key object on the token: made from the key file's public key, then one
// operation through the public API.
void KeyObject(Run r) {
  const BYTE types[] = {MR_ALG_SM2, MR_ALG_RSA1024, MR_ALG_RSA2048, MR_ALG_SM2};
  const BYTE type = types[r.param & 3];
  void* key = nullptr;
  if (AsymKeyInit(r.ctx, type, 0xC004, &key) != 0) {
    Require(key == nullptr);
    return;
  }
  Require(key != nullptr);
  const BYTE digest[32] = {9};
  Buffer out(256 + (r.param >> 2 & 3));
  DWORD len = out.room;
  switch (r.param >> 4 & 3) {
    case 0:
      if (SignDigest(key, digest, type == MR_ALG_SM2 ? 32 : 20, out.data(), &len) == 0) {
        Require(len == (type == MR_ALG_SM2 ? MR_SM2_SIGNATURE_LEN : ModulusOf(type)));
      }
      break;
    case 1: {
      Bytes cipher(type == MR_ALG_SM2 ? 120 : (type == MR_ALG_RSA2048 ? 256 : 128), 0x04);
      if (PrikeyDec(key, cipher.data(), static_cast<DWORD>(cipher.size()), out.data(), &len) == 0) {
        // RSA: the raw block of modulus length, still padded (the caller
        // removes the padding); SM2: C2 only.
        Require(len <= out.room);
        if (type == MR_ALG_SM2) {
          Require(len <= cipher.size() - MR_SM2_CIPHER_OVERHEAD);
        } else {
          Require(len == ModulusOf(type));
        }
      }
      break;
    }
    case 2:
      if (SignXML(key, type == MR_ALG_SM2 ? MR_ALG_SM3 : MR_ALG_SHA256, digest, sizeof digest,
                  out.data(), &len) == 0) {
        Require(len <= out.room);
      }
      break;
    default: {
      Buffer d(64);
      DWORD dlen = d.room;
      DigestInit(key, type == MR_ALG_SM2 ? MR_ALG_SM3 : MR_ALG_SHA1);
      DigestUpdate(key, digest, sizeof digest);
      if (DigestFinal(key, d.data(), &dlen) == 0) {
        Require(dlen <= d.room);
      }
      if (SignDataResult(key, out.data(), &len) == 0) {
        Require(len <= out.room);
      }
      break;
    }
  }
  Require(AsymKeyFinal(key) == 0);
}

using Routine = void (*)(Run);
constexpr Routine kRoutines[] = {
    DevInfo,    ChipSN,    CosVersion, TokenSN,         TokenName,  ReadFile,  ReadFlash,
    SelectFile, PinStatus, PinCommands, Random,         ExternalAuth, SessionKey, Containers,
    ContainerRecord, ReadCert, PublicKey, Sm2Decrypt,   Sm2Sign,    RsaPrivate, SymKey,
    OpenClose,  RawCommand, KeyObject,
};

// The session key the context gets under parameter bit 0x80.
constexpr BYTE kSessionKey[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE,
                                  0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ScriptedToken& token = Token();
  DEV_CTX& ctx = Context();
  if (size < 2) {
    return 0;
  }
  const Routine routine = kRoutines[data[0] % (sizeof kRoutines / sizeof kRoutines[0])];
  const BYTE param = data[1];
  ctx.bySMState = MR_SM_STATE_NONE;
  std::memset(ctx.bySessionKey, 0, sizeof ctx.bySessionKey);
  ctx.dwSessionKeyLen = 0;
  if (param & 0x80) {
    ctx.bySMState = MR_SM_STATE_SESSION_KEY;
    std::memcpy(ctx.bySessionKey, kSessionKey, sizeof kSessionKey);
    ctx.dwSessionKeyLen = sizeof kSessionKey;
  }
  token.Load(data + 2, size - 2);
  routine({&ctx, param});
  return 0;
}
