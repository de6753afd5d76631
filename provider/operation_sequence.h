// One private-key operation's run on the token (PIN verification, the
// signature or decryption, the reset after it) as one sequence under the
// token's sequence lock, and its one rerun when the token answers that its
// session or security state was lost all the same (a reset from outside
// this software).
#pragma once

#include <windows.h>

#include "foundation/secret_bytes.h"
#include "tokenapi/api/token_sequence_lock.h"

namespace merro::provider {

class Container;

// The token's answers for a lost session (0x6988) and a lost security
// state (0x6982), folded.
constexpr HRESULT kTokenSessionLost = static_cast<HRESULT>(0x80006988);
constexpr HRESULT kTokenSecurityStateLost = static_cast<HRESULT>(0x80006982);

inline bool IsLostTokenState(HRESULT hr) {
  return hr == kTokenSessionLost || hr == kTokenSecurityStateLost;
}

struct OperationSequence {
  // Held from the PIN verification (taken after the PIN dialog) until the
  // reset after the operation: declare the sequence before the reset guard.
  merro::transport::TokenSequenceLock lock;
  // The PIN this sequence verified, for a rerun.
  SecretBytes pin;
  // A rerun asks nothing: the PIN in hand or the kept one, else it fails.
  bool bRerun = false;
  // False where the operation cannot run again without the user (a
  // confirmation on the token's display).
  bool bRerunnable = true;
  // The PIN verification of this sequence set up a session on the token's
  // current context; while the lock is held it serves the operation too.
  bool bSessionSet = false;
};

// Resets the token's security state when a private-key operation ends,
// whatever its result, so that the verified PIN does not outlive it. Declare
// it after the operation's OperationSequence, so that the reset still runs
// under the sequence lock.
class ResetTokenOnExit {
 public:
  explicit ResetTokenOnExit(const Container* pContainer) : m_pContainer(pContainer) {}
  ~ResetTokenOnExit();
  ResetTokenOnExit(const ResetTokenOnExit&) = delete;
  ResetTokenOnExit& operator=(const ResetTokenOnExit&) = delete;

 private:
  const Container* m_pContainer;
};

// Runs run() (an HRESULT) as the operation of pSequence on the container's
// token. When it ends with a lost session or security state and may run
// again, the token's security state is reset and run() runs once more from
// the start, without asking the user. A lost state that remains comes back
// as SCARD_W_RESET_CARD, never as the token's status word.
// The step between the two runs: *pbRunAgain when the first result is a
// lost state and the operation may run again (the token then reset).
HRESULT RerunAfterLostState(const Container& container, OperationSequence* pSequence,
                            HRESULT hFirst, bool* pbRunAgain);
// SCARD_W_RESET_CARD for a lost state, any other result as it is.
HRESULT ResultOfLostState(HRESULT hResult);

template <class Run>
HRESULT RunWithOneRerun(const Container& container, OperationSequence* pSequence, Run&& run) {
  const HRESULT hFirst = run();
  bool bRunAgain = false;
  const HRESULT hResult = RerunAfterLostState(container, pSequence, hFirst, &bRunAgain);
  return ResultOfLostState(bRunAgain ? run() : hResult);
}

}  // namespace merro::provider
