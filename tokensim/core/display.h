// The token's display and its two buttons, OK and C.
//
// Handlers that ask the user to confirm call BeginConfirmation with the
// text shown, then Poll once per status poll of the host (or, when the
// token itself waits within one command, Poll and WaitForUser in turn).
// What the "user" does comes from a script the tests set through the
// control channel: an answer (OK, C or no answer) after a number of pending
// polls, or a hold that stays pending until the test releases it with an
// answer (or the hold limit passes: no answer). With no script the user
// presses C at once, so a test can never hang.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace merro::tokensim {

class Display {
 public:
  enum class Answer { Pending, Ok, Cancel, Timeout };
  using Clock = std::chrono::steady_clock;
  // How long a held confirmation waits for its release: below the host's
  // 120-second command time-out.
  static constexpr std::chrono::seconds kHoldLimit{60};

  // Shows text (recorded in the transcript).
  void Show(const std::string& text);
  // Shows text and starts a confirmation with the next scripted answer.
  void BeginConfirmation(const std::string& text);
  bool Confirming() const { return m_confirming; }
  // One poll: Pending while the scripted polls last or the confirmation is
  // held, then the answer (which ends the confirmation). Cancel when no
  // confirmation is under way.
  Answer Poll();
  // After a Pending poll, for a handler that waits within its command:
  // returns when a held confirmation may have changed (a release, the
  // limit), at once for scripted pending polls.
  void WaitForUser();

  // Appends an answer for a later confirmation.
  void Script(Answer answer, unsigned pendingPolls);
  // Appends a hold for a later confirmation.
  void ScriptHold();
  // Answers the held confirmation (or, when none is under way yet, the
  // first queued hold); false when there is none.
  bool Release(Answer answer);
  // Forgets the queued answers; a held confirmation is answered with C.
  void ClearScript();
  const std::vector<std::string>& Transcript() const { return m_transcript; }
  void ClearTranscript() { m_transcript.clear(); }
  // Power cycle: any confirmation ends unanswered.
  void Reset() { m_confirming = false; }

  // How a handler that waits within its command sleeps until the next
  // change (the simulator waits on its condition variable, giving up its
  // lock meanwhile); null: short sleeps.
  using Waiter = std::function<void(Clock::time_point until)>;
  void SetWaiter(Waiter waiter) { m_waiter = std::move(waiter); }
  // Tests: a shorter hold limit.
  void SetHoldLimit(Clock::duration limit) { m_holdLimit = limit; }

 private:
  struct Step {
    Answer answer;
    unsigned pendingPolls;
    bool held = false;  // pending until released; answer set by the release
  };
  std::deque<Step> m_script;
  std::vector<std::string> m_transcript;
  bool m_confirming = false;
  Step m_current{Answer::Cancel, 0};
  Clock::time_point m_holdUntil;
  Clock::duration m_holdLimit = kHoldLimit;
  Waiter m_waiter;
};

}  // namespace merro::tokensim
