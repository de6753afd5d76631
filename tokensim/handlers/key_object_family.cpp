// WRITE KEY (0xD4, P1 0, P2 1): one 21-byte secret-key object record (type,
// 0x00, usage, attribute, retry limit, 16-byte value) into the selected
// file. Writing a type again replaces the object and restores its tries.
#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"
#include "tokensim/handlers/handler_checks.h"
#include "tokensim/handlers/key_objects.h"

namespace merro::tokensim {
namespace {

void WriteKey(Token& token, const Command& cmd, Reply& reply) {
  if (cmd.p1 != 0x00 || cmd.p2 != 0x01) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  if (!ExpectDataLen(cmd, keyobjects::kRecordLen, reply)) {
    return;
  }
  if (cmd.data[0] == 0xFF || cmd.data[1] != 0x00) {
    reply.Fail(sw::kIncorrectData);
    return;
  }
  TokenFile* file = token.Files().Selected();
  if (file == nullptr) {
    reply.Fail(sw::kNoCurrentFile);
    return;
  }
  if (!keyobjects::Store(*file, keyobjects::FromRecord(cmd.data.data()))) {
    reply.Fail(sw::kNotEnoughMemory);
  }
}

}  // namespace

void RegisterKeyObjectFamily(Dispatcher& d) { d.Add(0xD4, &WriteKey, StoredState::Changes); }

}  // namespace merro::tokensim
