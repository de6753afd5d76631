// The INS dispatcher: registration, refusals, secure channel, stored state.
#include <gtest/gtest.h>

#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"

namespace merro::tokensim {
namespace {

Token& AToken() {
  static Token token({1, 2, 3, 4, 5, 6, 7, 8});
  return token;
}

Command Cmd(std::uint8_t cla, std::uint8_t ins, Bytes data = {}) {
  Command c;
  c.cla = cla;
  c.ins = ins;
  c.lc = static_cast<std::uint8_t>(data.size());
  c.data = std::move(data);
  return c;
}

void Echo(Token&, const Command& cmd, Reply& reply) { reply.data = cmd.data; }
void TooLong(Token&, const Command&, Reply& reply) { reply.data.assign(254, 1); }
void Refuse(Token&, const Command&, Reply& reply) {
  reply.data = {1, 2};
  reply.Fail(0x6A80);
}

TEST(Dispatcher, EveryFamilyRegistersWithoutClash) {
  const Dispatcher& d = Dispatcher::Standard();
  EXPECT_EQ(d.ClashReport(), "");
  for (const std::uint8_t ins : {0x12, 0x33, 0x36, 0x62, 0x63, 0x64, 0x65, 0x70, 0x71, 0x72, 0x7C,
                                 0x7D, 0x84, 0x90, 0x92, 0x93, 0x99, 0xA4, 0xE0}) {
    EXPECT_TRUE(d.Has(ins)) << std::hex << int(ins);
  }
}

TEST(Dispatcher, ASecondHandlerForAnInsIsRefused) {
  Dispatcher d;
  EXPECT_TRUE(d.Add(0x10, &Echo));
  EXPECT_FALSE(d.Add(0x10, &TooLong));
  EXPECT_EQ(d.ClashReport(), "INS 10 registered twice");
  EXPECT_EQ(d.Execute(AToken(), Cmd(kClaPlain, 0x10, {7})).data, Bytes{7});
}

TEST(Dispatcher, RefusalsCarryNoData) {
  Dispatcher d;
  d.Add(0x10, &Echo);
  d.Add(0x11, &TooLong);
  d.Add(0x12, &Refuse);
  const struct {
    Command cmd;
    std::uint16_t sw;
  } cases[] = {
      {Cmd(kClaPlain, 0x55), sw::kInsUnknown},
      {Cmd(kClaProtected, 0x10, {1}), sw::kSecurityNotSatisfied},  // no secure channel
      {Cmd(kClaPlain, 0x11), sw::kInternal},                      // 254 bytes cannot travel
      {Cmd(kClaPlain, 0x12), 0x6A80},
  };
  for (const auto& c : cases) {
    const Reply r = d.Execute(AToken(), c.cmd);
    EXPECT_EQ(r.sw, c.sw);
    EXPECT_TRUE(r.data.empty());
  }
}

// A stand-in channel: "decrypts" by dropping the first byte and "encrypts"
// by putting 0xE0 in front.
class FakeChannel : public SecureChannel {
 public:
  std::uint16_t OpenCommand(Token&, Command& cmd) const override {
    if (cmd.data.empty()) {
      return 0x6988;
    }
    cmd.data.erase(cmd.data.begin());
    return sw::kOk;
  }
  std::uint16_t SealReply(Token&, const Command&, Reply& reply) const override {
    reply.data.insert(reply.data.begin(), 0xE0);
    return sw::kOk;
  }
};

TEST(Dispatcher, ProtectedCommandsPassTheSecureChannel) {
  FakeChannel channel;
  Dispatcher d;
  d.Add(0x10, &Echo);
  d.SetSecureChannel(&channel);
  EXPECT_EQ(d.Execute(AToken(), Cmd(kClaProtected, 0x10, {0xAA, 5, 6})).data, (Bytes{0xE0, 5, 6}));
  EXPECT_EQ(d.Execute(AToken(), Cmd(kClaProtected, 0x10)).sw, 0x6988);
  EXPECT_EQ(d.Execute(AToken(), Cmd(kClaPlain, 0x10, {5})).data, Bytes{5});
}

TEST(Dispatcher, OnlySuccessfulChangingCommandsMarkTheToken) {
  Dispatcher d;
  d.Add(0x10, &Echo, StoredState::Changes);
  d.Add(0x11, &Echo);
  d.Add(0x12, &Refuse, StoredState::Changes);
  Token token({9, 9, 9, 9, 9, 9, 9, 9});
  d.Execute(token, Cmd(kClaPlain, 0x11));
  d.Execute(token, Cmd(kClaPlain, 0x12));
  EXPECT_FALSE(token.TakeDirty());
  d.Execute(token, Cmd(kClaPlain, 0x10));
  EXPECT_TRUE(token.TakeDirty());
  EXPECT_FALSE(token.TakeDirty());
}

}  // namespace
}  // namespace merro::tokensim
