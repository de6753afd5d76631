// The 2 MiB flash data area: erase, write by half pages, read by units.
#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"
#include "tokensim/handlers/handler_checks.h"

namespace merro::tokensim {
namespace {

constexpr size_t kHalfPage = kFlashPageLen / 2;
constexpr size_t kUnitLen = 128;

void EraseFlash(Token& token, const Command& cmd, Reply& reply) {
  if (ExpectDataLen(cmd, 0, reply)) {
    token.EraseFlash();
  }
}

// P1 P2: page; data: half (0 or 1), then the 128 bytes of that half.
void WriteFlash(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, 1 + kHalfPage, reply)) {
    return;
  }
  if (cmd.data[0] > 1) {
    reply.Fail(sw::kIncorrectData);
    return;
  }
  const size_t offset = cmd.P1P2() * kFlashPageLen + cmd.data[0] * kHalfPage;
  if (offset + kHalfPage > kFlashSize) {
    reply.Fail(sw::kOffsetBeyondFile);
    return;
  }
  token.WriteFlash(offset, cmd.data.data() + 1, kHalfPage);
}

// P1 P2: unit of 128 bytes; Le: bytes to read (1 to 128).
void ReadFlash(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, 0, reply) || !ExpectLe(cmd, kUnitLen, reply)) {
    return;
  }
  const size_t offset = cmd.P1P2() * kUnitLen;
  if (offset + cmd.le > kFlashSize) {
    reply.Fail(sw::kOffsetBeyondFile);
    return;
  }
  token.ReadFlash(offset, cmd.le, &reply.data);
}

}  // namespace

void RegisterFlashFamily(Dispatcher& d) {
  d.Add(0x70, &EraseFlash, StoredState::Changes);
  d.Add(0x71, &WriteFlash, StoredState::Changes);
  d.Add(0x72, &ReadFlash);
}

}  // namespace merro::tokensim
