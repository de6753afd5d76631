#include "tokensim/core/display.h"

namespace merro::tokensim {

namespace {
constexpr size_t kTranscriptMax = 256;
}  // namespace

void Display::Show(const std::string& text) {
  if (m_transcript.size() == kTranscriptMax) {
    m_transcript.erase(m_transcript.begin());
  }
  m_transcript.push_back(text);
}

void Display::BeginConfirmation(const std::string& text) {
  Show(text);
  if (m_script.empty()) {
    m_current = {Answer::Cancel, 0};
  } else {
    m_current = m_script.front();
    m_script.pop_front();
  }
  m_confirming = true;
}

Display::Answer Display::Poll() {
  if (!m_confirming) {
    return Answer::Cancel;
  }
  if (m_current.pendingPolls > 0) {
    --m_current.pendingPolls;
    return Answer::Pending;
  }
  m_confirming = false;
  return m_current.answer;
}

void Display::Script(Answer answer, unsigned pendingPolls) { m_script.push_back({answer, pendingPolls}); }

}  // namespace merro::tokensim
