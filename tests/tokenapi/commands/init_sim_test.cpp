// Token initialisation over the in-process simulator: the end-to-end run
// (blank token, initialise, open with the derived key, verify the default
// PIN), PinFile.ini beside the program, and the first failure ending it.
// This program runs from a folder of its own, so its PinFile.ini concerns
// no other test.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/trace/trace.h"
#include "tests/tokenapi/support/sim_fixture.h"
#include "tokenapi/commands/auth_commands.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/init_commands.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/commands/pin_commands.h"
#include "tokenapi/commands/token_files.h"
#include "tokenapi/commands/device_open.h"
#include "tokensim/core/token.h"
#include "tokensim/handlers/key_objects.h"
#include "tokensim/handlers/key_store.h"

namespace {

namespace keyobjects = merro::tokensim::keyobjects;

std::vector<BYTE> Md5(const std::string& text) {
  std::vector<BYTE> digest(16);
  unsigned int len = 0;
  EXPECT_EQ(EVP_Digest(text.data(), text.size(), digest.data(), &len, EVP_md5(), nullptr), 1);
  return digest;
}

// PinFile.ini beside the program for the lifetime of the object (none when
// the text is null).
class PinFile {
 public:
  explicit PinFile(const char* text) : m_path(merro::commands::PinFilePath()) {
    std::remove(m_path.c_str());
    if (text != nullptr) {
      std::ofstream(m_path) << text;
    }
  }
  ~PinFile() { std::remove(m_path.c_str()); }

 private:
  std::string m_path;
};

// The failure lines logged while alive, as "function - step".
class FailureLines {
 public:
  FailureLines() {
    merro::trace::SetSink([this](const merro::trace::Record& r) {
      if (r.number == merro::trace::kMsgFailureLine && !r.args.empty()) {
        std::string line;
        for (size_t i = 0; i + 1 < r.args[0].size(); i += 2) {
          if (r.args[0][i] != 0) {
            line += static_cast<char>(r.args[0][i]);
          }
        }
        lines.push_back(line);
      }
    });
    merro::trace::SetEnableFlags(0xFFFFFFFF);
  }
  ~FailureLines() {
    merro::trace::SetSink({});
    merro::trace::SetEnableFlags(0);
  }
  bool Has(const std::string& text) const {
    for (const auto& l : lines) {
      if (l.find(text) != std::string::npos) {
        return true;
      }
    }
    return false;
  }
  std::vector<std::string> lines;
};

class InitSim : public merro::testing::SimulatorTest {
 protected:
  size_t TokenCount() const override { return 1; }

  keyobjects::KeyObject Object(BYTE type) {
    keyobjects::KeyObject object;
    m_sim->WithToken(0, [&](merro::tokensim::Token& token) {
      const merro::tokensim::TokenFile* file = token.Files().Find(MR_PIN_FID);
      ASSERT_NE(file, nullptr);
      EXPECT_TRUE(keyobjects::Find(*file, type, &object)) << int(type);
    });
    return object;
  }

  size_t FileCount() {
    size_t n = 0;
    m_sim->WithToken(0, [&](merro::tokensim::Token& token) { n = token.Files().Count(); });
    return n;
  }

  void ExpectPin(BYTE type, const std::string& pin, BYTE retry) {
    const keyobjects::KeyObject object = Object(type);
    EXPECT_EQ(std::vector<BYTE>(object.value.begin(), object.value.end()), Md5(pin)) << int(type);
    EXPECT_EQ(object.retryLimit, retry) << int(type);
  }
};

TEST_F(InitSim, BlankTokenToVerifiedPin) {
  const PinFile none(nullptr);
  DEV_CTX* raw = OpenToken(0);
  ASSERT_EQ(mr_EraseMF(raw), 0);
  ASSERT_EQ(mr_InitTokenFile(raw), 0);
  // Files in the order of the file map, the token's own SM2 pair included.
  for (const WORD fid : {0x0000, 0x0001, 0x0002, 0x0012, 0xB000, 0xC000, 0xD000}) {
    bool exists = false;
    m_sim->WithToken(0, [&](merro::tokensim::Token& t) { exists = t.Files().Find(fid) != nullptr; });
    EXPECT_TRUE(exists) << fid;
  }
  m_sim->WithToken(0, [](merro::tokensim::Token& t) {
    EXPECT_EQ(merro::tokensim::keystore::PrivateAlgorithm(*t.Files().Find(0x0012)), 0x11);
  });
  // Opening authenticates with the key derived from the chip serial number.
  DEV_CTX* ctx = nullptr;
  ASSERT_EQ(mr_OpenDevice(m_sim->DevicePath(0).c_str(), &ctx), 0);
  ASSERT_EQ(mr_SetSessionKey(ctx), 0);
  const BYTE pin[] = {'9', '0', '5', '1', '7', '2'};
  EXPECT_EQ(mr_VerifyPIN(ctx, MR_PIN_USER, pin, sizeof pin), 0);
  BYTE times = 0, state = 0, modified = 0xEE;
  ASSERT_EQ(mr_GetPINStatus(ctx, MR_PIN_USER, &times, &state, &modified), 0);
  EXPECT_EQ(times, 6);
  EXPECT_EQ(state, 0x11);
  EXPECT_EQ(modified, 0);
  EXPECT_EQ(mr_CloseDevice(ctx), 0);
}

TEST_F(InitSim, PinFileCases) {
  const struct {
    const char* name;
    const char* ini;  // null: no file
    std::string user, admin, unlock;
    BYTE userRetry, adminRetry, unlockRetry;
  } cases[] = {
      {"no file", nullptr, "905172", "905172", "905172", 6, 6, 6},
      {"only the user's retry", "[User]\nretry=3\n", "905172", "905172", "905172", 3, 6, 6},
      {"retry 300 as a byte", "[Manager]\nretry=300\npin=12345678\n", "905172", "12345678",
       "905172", 6, 44, 6},
      {"20-character PIN cut to 15", "[Unlock]\npin=abcdefghijklmnopqrst\nretry=10\n", "905172",
       "905172", "abcdefghijklmno", 6, 6, 10},
      {"all three", "[user]\npin=111111\nretry=5\n[MANAGER]\npin=222222\n[Unlock]\npin=333333\n",
       "111111", "222222", "333333", 5, 6, 6},
      {"other sections only", "[Other]\npin=999999\nretry=1\n", "905172", "905172", "905172", 6,
       6, 6},
  };
  DEV_CTX* ctx = OpenToken(0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PinFile ini(c.ini);
    ASSERT_EQ(mr_EraseMF(ctx), 0);
    ASSERT_EQ(mr_InitTokenFile(ctx), 0);
    ExpectPin(MR_KEY_USER_PIN, c.user, c.userRetry);
    ExpectPin(MR_KEY_ADMIN_PIN, c.admin, c.adminRetry);
    ExpectPin(MR_KEY_UNLOCK_PIN, c.unlock, c.unlockRetry);
  }
}

TEST_F(InitSim, AuthenticationKeysAndTheirAttributes) {
  const PinFile none(nullptr);
  DEV_CTX* ctx = OpenToken(0);
  ASSERT_EQ(mr_InitTokenFile(ctx), 0);
  const keyobjects::KeyObject user = Object(0x30);
  EXPECT_EQ(user.usage, 0xFF);
  EXPECT_EQ(user.attribute, 0x11);
  EXPECT_EQ(Object(0x31).attribute, 0x10);
  const keyobjects::KeyObject cfg = Object(0x34);
  EXPECT_EQ(std::vector<BYTE>(cfg.value.begin(), cfg.value.end()),
            std::vector<BYTE>(MR_EXTERN_CFG_KEY, MR_EXTERN_CFG_KEY + 16));
  EXPECT_EQ(cfg.attribute, 0x20);
  EXPECT_EQ(cfg.retryLimit, 6);
  const keyobjects::KeyObject ext = Object(0x33);
  EXPECT_EQ(ext.usage, 0x01);
  EXPECT_EQ(ext.attribute, 0x01);
  // The same derivation the open uses: authenticating with it succeeds.
  EXPECT_EQ(mr_AutoExternalAuth(ctx, MR_KEY_EXTERN), 0);
}

TEST_F(InitSim, FirstFailureEndsIt) {
  const PinFile none(nullptr);
  DEV_CTX* ctx = OpenToken(0);
  // A PIN file that exists already: CREATE FILE is refused (6A89).
  BYTE description[MR_FILE_INFO_LEN];
  merro::commands::BuildFileDescription(0x0000, 1024, {{0xFF, 0xFF, 0x11, 0x11, 0x01}},
                                        description);
  ASSERT_EQ(mr_CreateFile(ctx, description), 0);
  {
    const FailureLines log;
    EXPECT_EQ(mr_InitTokenFile(ctx), static_cast<HRESULT>(0x80006A89));
    EXPECT_TRUE(log.Has("mr_CreatePinFile - mr_CreateFile(PIN)"));
    EXPECT_TRUE(log.Has("mr_InitTokenFile - mr_CreatePinFile"));
  }
  EXPECT_EQ(FileCount(), 1u) << "nothing else created";

  // A clock that fails does not stop initialisation.
  ASSERT_EQ(mr_EraseMF(ctx), 0);
  Control("fault 0 sw 6F00 ins 99");
  EXPECT_EQ(mr_InitTokenFile(ctx), 0);
  EXPECT_EQ(FileCount(), 7u);
}

TEST(PinSetting, ReadsDefaultsCutsAndBytes) {
  const std::string path = merro::commands::PinFilePath() + ".case";
  std::ofstream(path) << "[User]\npin=1234567890123456789\nretry=-1\n[Manager]\npin=\n";
  merro::commands::PinSetting s{};
  merro::commands::ReadPinSetting(path.c_str(), "User", &s);
  EXPECT_STREQ(s.szPin, "123456789012345");
  EXPECT_EQ(s.nPinLen, 15u);
  EXPECT_EQ(s.byRetry, 0xFF);
  merro::commands::ReadPinSetting(path.c_str(), "Manager", &s);
  EXPECT_STREQ(s.szPin, "") << "a key that is present but empty";
  EXPECT_EQ(s.nPinLen, 0u);
  EXPECT_EQ(s.byRetry, 6);
  merro::commands::ReadPinSetting((path + ".missing").c_str(), "Unlock", &s);
  EXPECT_STREQ(s.szPin, "905172");
  EXPECT_EQ(s.nPinLen, 6u);
  std::remove(path.c_str());
}

}  // namespace
