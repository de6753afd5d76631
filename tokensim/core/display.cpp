#include "tokensim/core/display.h"

#include <algorithm>
#include <thread>

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
  m_holdUntil = Clock::now() + m_holdLimit;
  m_confirming = true;
}

Display::Answer Display::Poll() {
  if (!m_confirming) {
    return Answer::Cancel;
  }
  if (m_current.held) {
    if (Clock::now() < m_holdUntil) {
      return Answer::Pending;
    }
    m_current = {Answer::Timeout, 0};
  }
  if (m_current.pendingPolls > 0) {
    --m_current.pendingPolls;
    return Answer::Pending;
  }
  m_confirming = false;
  return m_current.answer;
}

void Display::WaitForUser() {
  if (!m_confirming || !m_current.held) {
    return;
  }
  if (m_waiter) {
    m_waiter(m_holdUntil);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void Display::Script(Answer answer, unsigned pendingPolls) { m_script.push_back({answer, pendingPolls}); }

void Display::ScriptHold() { m_script.push_back({Answer::Pending, 0, true}); }

bool Display::Release(Answer answer) {
  if (m_confirming && m_current.held) {
    m_current = {answer, 0};
    return true;
  }
  const auto hold = std::find_if(m_script.begin(), m_script.end(), [](const Step& s) { return s.held; });
  if (hold == m_script.end()) {
    return false;
  }
  *hold = {answer, 0};
  return true;
}

void Display::ClearScript() {
  m_script.clear();
  if (m_confirming && m_current.held) {
    m_current = {Answer::Cancel, 0};
  }
}

}  // namespace merro::tokensim
