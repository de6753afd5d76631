// Faults the tests inject through the control channel, applied to the
// token's next replies.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace merro::tokensim {

struct Fault {
  enum class Kind {
    WrongStatusWord,  // the command is refused with `statusWord`, nothing done
    ShortReply,       // the command runs; its reply data are cut to `keep` bytes
    DroppedReply,     // the command runs; the data-in transfer gets no answer
  };
  Kind kind = Kind::WrongStatusWord;
  std::uint16_t statusWord = 0;
  std::uint8_t keep = 0;
  int ins = -1;         // only commands with this INS (-1: any)
  unsigned skip = 0;    // matching commands to let pass first
  unsigned count = 1;   // matching commands to hit
};

class FaultPlan {
 public:
  void Add(const Fault& fault) { m_faults.push_back(fault); }
  void Clear() { m_faults.clear(); }
  bool Empty() const { return m_faults.empty(); }
  // The fault that hits a command with this INS, if any; the plan moves on.
  std::optional<Fault> Take(std::uint8_t ins);

 private:
  std::deque<Fault> m_faults;
};

}  // namespace merro::tokensim
