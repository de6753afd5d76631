#include "tokensim/core/dispatcher.h"

#include <cstdio>

#include "tokensim/core/token.h"

namespace merro::tokensim {

#define MERRO_SIM_FAMILY(name) void Register##name##Family(Dispatcher& d);
#include "tokensim/handlers/families.def"
#undef MERRO_SIM_FAMILY

bool Dispatcher::Add(std::uint8_t ins, Handler handler, StoredState effect) {
  if (m_entries[ins].handler != nullptr || handler == nullptr) {
    if (m_clash.empty()) {
      char text[64];
      std::snprintf(text, sizeof text, "INS %02X registered twice", ins);
      m_clash = text;
    }
    return false;
  }
  m_entries[ins] = {handler, effect};
  return true;
}

Reply Dispatcher::Execute(Token& token, Command cmd) const {
  Reply reply;
  const Entry& entry = m_entries[cmd.ins];
  if (entry.handler == nullptr) {
    reply.Fail(sw::kInsUnknown);
    return reply;
  }
  const bool isProtected = cmd.cla == kClaProtected;
  if (isProtected) {
    if (m_secure == nullptr) {
      reply.Fail(sw::kSecurityNotSatisfied);
      return reply;
    }
    const std::uint16_t status = m_secure->OpenCommand(token, cmd);
    if (status != sw::kOk) {
      reply.Fail(status);
      return reply;
    }
  }
  entry.handler(token, cmd, reply);
  if (reply.Ok() && isProtected && !reply.data.empty()) {
    const std::uint16_t status = m_secure->SealReply(token, cmd, reply);
    if (status != sw::kOk) {
      reply.Fail(status);
    }
  }
  if (!reply.Ok()) {
    reply.data.clear();
  } else if (reply.data.size() > kMaxReplyData) {
    reply.Fail(sw::kInternal);
  } else if (entry.effect == StoredState::Changes) {
    token.MarkDirty();
  }
  return reply;
}

const Dispatcher& Dispatcher::Standard() {
  static const Dispatcher standard = [] {
    Dispatcher d;
#define MERRO_SIM_FAMILY(name) Register##name##Family(d);
#include "tokensim/handlers/families.def"
#undef MERRO_SIM_FAMILY
    return d;
  }();
  return standard;
}

}  // namespace merro::tokensim
