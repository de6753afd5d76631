#include "tokensim/core/faults.h"

namespace merro::tokensim {

std::optional<Fault> FaultPlan::Take(std::uint8_t ins) {
  for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
    if (it->ins >= 0 && it->ins != ins) {
      continue;
    }
    if (it->skip > 0) {
      --it->skip;
      return std::nullopt;
    }
    const Fault hit = *it;
    if (--it->count == 0) {
      m_faults.erase(it);
    }
    return hit;
  }
  return std::nullopt;
}

}  // namespace merro::tokensim
