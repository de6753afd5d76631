#include "tokensim/handlers/secure_channel.h"

#include "tokensim/handlers/auth_crypto.h"
#include "tokensim/handlers/security_state.h"

namespace merro::tokensim {
namespace {

class Sm4Channel final : public SecureChannel {
 public:
  std::uint16_t OpenCommand(Token& token, Command& cmd) const override {
    SecurityState& state = token.Ext<SecurityState>();
    if (!state.hasSessionKey) {
      return sw::kSecurityNotSatisfied;
    }
    SecretBytes block;
    if (cmd.data.empty() ||
        !CbcDecrypt(EVP_sm4_cbc(), state.sessionKey.data(), cmd.data.data(), cmd.data.size(), &block) ||
        block.size() == 0 || block.data()[0] > block.size() - 1) {
      return sw::kSmDataWrong;
    }
    const size_t len = block.data()[0];
    cmd.data.assign(block.data() + 1, block.data() + 1 + len);
    cmd.lc = static_cast<std::uint8_t>(len);
    return sw::kOk;
  }

  std::uint16_t SealReply(Token& token, const Command&, Reply& reply) const override {
    SecurityState& state = token.Ext<SecurityState>();
    if (!state.hasSessionKey || reply.data.size() > kMaxProtectedData) {
      return sw::kInternal;
    }
    SecretBytes block(reply.data.size() + 1);
    block.data()[0] = static_cast<std::uint8_t>(reply.data.size());
    std::copy(reply.data.begin(), reply.data.end(), block.data() + 1);
    SecretBytes sealed;
    if (!CbcEncrypt(EVP_sm4_cbc(), state.sessionKey.data(), block.data(), block.size(), &sealed)) {
      return sw::kInternal;
    }
    reply.data = sealed.bytes();
    return sw::kOk;
  }
};

}  // namespace

const SecureChannel& SessionKeyChannel() {
  static const Sm4Channel channel;
  return channel;
}

}  // namespace merro::tokensim
