// The token's command dispatcher: INS -> handler.
//
// Each command family is one file in tokensim/handlers/ that defines
//
//   void RegisterXxxFamily(Dispatcher& d) {
//     d.Add(0x33, &WriteBinary, StoredState::Changes);
//     d.Add(0x36, &ReadBinary);
//   }
//
// and one line `MERRO_SIM_FAMILY(Xxx)` in tokensim/handlers/families.def.
// The CMake glob picks up the new file. A handler gets the token and the
// parsed command and fills the reply (status word 9000 unless it fails):
//
//   void ReadBinary(Token& token, const Command& cmd, Reply& reply);
//
// Handlers that change what the token stores register with
// StoredState::Changes, so that a successful command marks the token for
// saving to the image file. An INS registered twice is a programming error
// that Standard() reports at start-up.
#pragma once

#include <array>
#include <string>

#include "tokensim/core/command.h"

namespace merro::tokensim {

class Token;

using Handler = void (*)(Token& token, const Command& cmd, Reply& reply);

enum class StoredState { Unchanged, Changes };

// Class 0xB4 frames pass through a secure channel around the handler. The
// family that builds secure messaging installs one with SetSecureChannel.
class SecureChannel {
 public:
  virtual ~SecureChannel() = default;
  // Replaces the protected command data by the plain data; a status word
  // other than 9000 refuses the command.
  virtual std::uint16_t OpenCommand(Token& token, Command& cmd) const = 0;
  // Protects the reply data of a successful protected command.
  virtual std::uint16_t SealReply(Token& token, const Command& cmd, Reply& reply) const = 0;
};

class Dispatcher {
 public:
  // Registers a handler; false (and nothing changed) when ins is taken.
  bool Add(std::uint8_t ins, Handler handler, StoredState effect = StoredState::Unchanged);
  void SetSecureChannel(const SecureChannel* channel) { m_secure = channel; }
  bool Has(std::uint8_t ins) const { return m_entries[ins].handler != nullptr; }

  // Runs one parsed command on the token: 6D00 for an unknown INS, 6982 for
  // class 0xB4 without a secure channel, 6F00 for a reply longer than a
  // data-in transfer carries.
  Reply Execute(Token& token, Command cmd) const;

  // The dispatcher with every family of families.def registered. The text
  // of the first registration clash, if any, is in ClashReport().
  static const Dispatcher& Standard();
  const std::string& ClashReport() const { return m_clash; }

 private:
  struct Entry {
    Handler handler = nullptr;
    StoredState effect = StoredState::Unchanged;
  };
  std::array<Entry, 256> m_entries{};
  const SecureChannel* m_secure = nullptr;
  std::string m_clash;
};

}  // namespace merro::tokensim
