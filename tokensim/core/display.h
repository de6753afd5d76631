// The token's display and its two buttons, OK and C.
//
// Handlers that ask the user to confirm call BeginConfirmation with the
// text shown, then Poll once per status poll of the host. What the "user"
// does comes from a script the tests set through the control channel: an
// answer (OK, C or no answer) after a number of pending polls. With no
// script the user presses C at once, so a test can never hang.
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace merro::tokensim {

class Display {
 public:
  enum class Answer { Pending, Ok, Cancel, Timeout };

  // Shows text (recorded in the transcript).
  void Show(const std::string& text);
  // Shows text and starts a confirmation with the next scripted answer.
  void BeginConfirmation(const std::string& text);
  bool Confirming() const { return m_confirming; }
  // One poll: Pending while the scripted polls last, then the answer (which
  // ends the confirmation). Cancel when no confirmation is under way.
  Answer Poll();

  // Appends an answer for a later confirmation.
  void Script(Answer answer, unsigned pendingPolls);
  void ClearScript() { m_script.clear(); }
  const std::vector<std::string>& Transcript() const { return m_transcript; }
  void ClearTranscript() { m_transcript.clear(); }
  // Power cycle: any confirmation ends unanswered.
  void Reset() { m_confirming = false; }

 private:
  struct Step {
    Answer answer;
    unsigned pendingPolls;
  };
  std::deque<Step> m_script;
  std::vector<std::string> m_transcript;
  bool m_confirming = false;
  Step m_current{Answer::Cancel, 0};
};

}  // namespace merro::tokensim
