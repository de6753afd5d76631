// Device information, serial numbers, COS version, label, erase, clock and
// the certificate-import screen.
#include <cstdio>
#include <ctime>

#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"
#include "tokensim/handlers/handler_checks.h"

namespace merro::tokensim {
namespace {

constexpr size_t kDeviceInfoLen = 20;

void Append(Bytes& out, const char* text, size_t n) { out.insert(out.end(), text, text + n); }
void AppendWordLE(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

// Reply: bytes 0-1 zero, 2-6 hardware version, 7-11 COS version, 12-15 the
// hardware serial (last four bytes of the chip serial number), 16-17 free
// file-system space in 256-byte blocks, 18-19 flash size in KiB.
void GetDeviceInfo(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, 0, reply) || !ExpectLe(cmd, kMaxReplyData, reply)) {
    return;
  }
  if (cmd.le < kDeviceInfoLen) {
    reply.Fail(sw::kWrongLength);
    return;
  }
  if (cmd.p1 > 1) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  if (cmd.p1 == 1) {
    token.ResetSecurityState();
  }
  reply.data = {0x00, 0x00};
  Append(reply.data, kHardwareVersion, 5);
  Append(reply.data, kCosVersion, 5);
  reply.data.insert(reply.data.end(), token.ChipSn().begin() + 4, token.ChipSn().end());
  AppendWordLE(reply.data, static_cast<std::uint16_t>(token.Files().FreeSpace() / 256));
  AppendWordLE(reply.data, static_cast<std::uint16_t>(kFlashSize / 1024));
}

void GetChipSn(Token& token, const Command& cmd, Reply& reply) {
  if (ExpectDataLen(cmd, 0, reply) && ExpectLe(cmd, kMaxReplyData, reply)) {
    if (cmd.le < kChipSnLen) {
      reply.Fail(sw::kWrongLength);
      return;
    }
    reply.data.assign(token.ChipSn().begin(), token.ChipSn().end());
  }
}

void GetCosVersion(Token&, const Command& cmd, Reply& reply) {
  if (ExpectDataLen(cmd, 0, reply) && ExpectLe(cmd, kMaxReplyData, reply)) {
    if (cmd.le < 5) {
      reply.Fail(sw::kWrongLength);
      return;
    }
    Append(reply.data, kCosVersion, 5);
  }
}

void SetLabel(Token& token, const Command& cmd, Reply& reply) {
  if (cmd.data.size() > kLabelMax) {
    reply.Fail(sw::kWrongLength);
    return;
  }
  token.Label() = cmd.data;
}

void GetLabel(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, 0, reply) || !ExpectLe(cmd, kMaxReplyData, reply)) {
    return;
  }
  if (cmd.le < token.Label().size()) {
    reply.Fail(sw::kWrongLength);
    return;
  }
  reply.data = token.Label();
}

void EraseMf(Token& token, const Command& cmd, Reply& reply) {
  if (ExpectDataLen(cmd, 0, reply)) {
    token.EraseFileSystem();
  }
}

void EraseCos(Token& token, const Command& cmd, Reply& reply) {
  if (ExpectDataLen(cmd, 0, reply)) {
    token.EraseAll();
  }
}

// The host sends no time: the token takes the time of its own clock source.
void AdjustClock(Token& token, const Command& cmd, Reply& reply) {
  if (ExpectDataLen(cmd, 0, reply)) {
    token.SetClock(static_cast<std::int64_t>(std::time(nullptr)));
  }
}

void ShowImportCert(Token& token, const Command& cmd, Reply& reply) {
  if (ExpectDataLen(cmd, 0, reply)) {
    char text[32];
    std::snprintf(text, sizeof text, "IMPORT CERT %02X", cmd.p1);
    token.Screen().Show(text);
  }
}

}  // namespace

void RegisterDeviceFamily(Dispatcher& d) {
  d.Add(0x12, &GetDeviceInfo);
  d.Add(0x93, &GetChipSn);
  d.Add(0x62, &GetCosVersion);
  d.Add(0x7C, &SetLabel, StoredState::Changes);
  d.Add(0x7D, &GetLabel);
  d.Add(0x63, &EraseMf, StoredState::Changes);
  d.Add(0x90, &EraseCos, StoredState::Changes);
  d.Add(0x99, &AdjustClock);
  d.Add(0x92, &ShowImportCert);
}

}  // namespace merro::tokensim
