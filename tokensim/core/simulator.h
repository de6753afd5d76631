// The simulator: several tokens, the USB view of them (device names,
// insertion), the wire protocol of tokenapi/transport/sim/sim_wire.h, the
// control channel and the image file. Thread-safe: every request runs under
// one lock, as commands to one USB device would. A command that waits for
// the user within its exchange (a held confirmation) gives the lock up while
// it waits; its token stays busy, so other commands to it wait their turn,
// while control commands and the other tokens go on.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tokenapi/transport/sim/sim_wire.h"
#include "tokensim/core/token.h"

namespace merro::tokensim {

class Dispatcher;

// One client connection: bound to a token by Open.
struct Session {
  int token = -1;
  std::uint32_t generation = 0;  // insertion count of the token when opened
};

class Simulator {
 public:
  struct Options {
    size_t tokenCount = 1;
    std::string imagePath;  // empty: nothing is kept across restarts
  };

  // Loads the image when it exists (its tokens, never fewer than
  // tokenCount), else makes new tokens. Null and *pError on a bad image.
  static std::unique_ptr<Simulator> Create(const Options& options, std::string* pError);
  explicit Simulator(std::vector<std::unique_ptr<Token>> tokens, std::string imagePath = {},
                     const Dispatcher* dispatcher = nullptr);

  // One wire request (header and payload) in, the encoded response out. A
  // malformed request gets a response with ERROR_INVALID_PARAMETER, or
  // nothing at all when even its op cannot be read (the caller then drops
  // the connection).
  merro::sim::Bytes HandleMessage(Session& session, const std::uint8_t* p, size_t n);
  merro::sim::WireResponse Handle(Session& session, const merro::sim::WireRequest& request);

  // A control command (see README.md); false and the reason in *pAnswer
  // when it is refused.
  bool Control(const std::string& command, std::string* pAnswer);

  // Device-interface path and parent instance ID of token i.
  std::string DevicePath(size_t i) const;
  std::string ParentInstanceId(size_t i) const;
  size_t TokenCount() const { return m_tokens.size(); }

  // Writes the image when some token's stored state changed (or always when
  // forced); false and *pError when writing fails.
  bool SaveImage(bool force, std::string* pError);

  // Runs f with the token under the simulator's lock (tests).
  template <class F>
  void WithToken(size_t i, F f) {
    std::lock_guard<std::mutex> lock(m_lock);
    f(*m_tokens.at(i).token);
  }

 private:
  struct Slot {
    std::unique_ptr<Token> token;
    bool present = true;
    std::uint32_t generation = 1;
    bool hasReply = false;
    bool dropReply = false;
    bool busy = false;        // a command runs (and waits for the user)
    merro::sim::Bytes reply;  // the pending data-in transfer
    std::vector<std::uint8_t> commandLog;  // INS of the commands received
  };
  using Lock = std::unique_lock<std::mutex>;

  merro::sim::WireResponse Enumerate();
  merro::sim::WireResponse Open(Session& session, const merro::sim::Bytes& payload);
  merro::sim::WireResponse DataOut(Session& session, const merro::sim::Bytes& payload, Lock& lock);
  merro::sim::WireResponse DataIn(Session& session, const merro::sim::Bytes& payload, Lock& lock);
  // The slot of a session, or null (and *pError) when unbound or pulled out.
  Slot* Bound(const Session& session, std::uint32_t* pError);
  // As Bound, once no command of the slot's token runs.
  Slot* BoundAndIdle(const Session& session, std::uint32_t* pError, Lock& lock);
  bool ControlLocked(const std::vector<std::string>& words, std::string* pAnswer, Lock& lock);
  bool SaveLocked(bool force, std::string* pError);

  std::mutex m_lock;
  std::condition_variable m_changed;  // a command ended, or a control command ran
  std::vector<Slot> m_tokens;  // guarded by m_lock
  std::string m_imagePath;
  const Dispatcher& m_dispatcher;
};

// Reads the tokens of an image file; false and *pError when it is malformed.
bool LoadImage(const std::string& path, std::vector<std::unique_ptr<Token>>* pTokens,
               std::string* pError);
// Writes the tokens to path atomically (a temporary file, then a rename).
bool WriteImage(const std::string& path, const std::vector<const Token*>& tokens,
                std::string* pError);

}  // namespace merro::tokensim
