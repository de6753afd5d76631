// The UI seam for tests: answers come from a queue or a script file, every
// prompt is written to a transcript (and, when a transcript file is set,
// appended to it as a line at once), and a prompt the script did not expect
// is answered "cancel", so a test can never hang on a dialog. A test seam
// like the simulator transport: compiled only with MERRO_WITH_SIMULATOR,
// into test programs and into the test build of the provider library, which
// installs it from the environment (ScriptedUserInterface::FromEnvironment).
//
// Script lines: "pin <text>" (the PIN typed), "select <row>" (the row
// picked, kept as given even outside the list), "cancel", "fail <code>" (the
// PIN or selection dialog could not be shown: the hexadecimal HRESULT is
// returned); blank lines and lines starting with '#' are skipped. Message
// boxes take no answer (they are acknowledged with IDOK), and confirmations
// run their token call at once: the simulator's "button" script decides
// what the token answers.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/ui/user_interface.h"

namespace merro::testing {

class ScriptedUserInterface : public ui::UserInterface {
 public:
  // One prompt as the transcript keeps it.
  struct Prompt {
    std::string kind;                 // "pin", "select", "message", "confirm"
    HWND owner = nullptr;             // pin, select, message, confirm: the owner asked for
    int mode = -1;                    // pin: the dialog mode
    int tries = -1;                   // pin: remaining tries shown
    std::wstring text;                // pin: prompt text; confirm: tips
    std::vector<std::string> labels;  // select: the labels, in rows
    std::vector<std::string> names;   // select: the device names, in rows
    std::vector<UINT> ids;            // message: text id, caption id, type
    std::string confirmKind;          // confirm: "transaction" or "operation"
    std::string answer;               // the script line used, or "cancel (unexpected)"
    std::string ToString() const;
  };

  ScriptedUserInterface() = default;
  explicit ScriptedUserInterface(std::vector<std::string> answers);

  // Queues one answer line.
  void Push(const std::string& answer);
  // Queues the lines of a script file; false when it cannot be read.
  bool LoadScript(const std::string& path);
  // Takes each later answer from the script file `path` at the prompt: the
  // file is the queue (an answer taken is removed from it), so a test in
  // another process may rewrite it between prompts. A file that cannot be
  // read holds no answers.
  void AnswerFromFile(const std::string& path);
  // Appends every later prompt to `path` as one line (Prompt::ToString),
  // written through before the prompt is answered.
  void SetTranscriptFile(const std::string& path);

  // The interface a program whose tests cannot hand it objects (a library
  // that advapi32 loads) takes from its environment: when MERRO_UI_SCRIPT is
  // set, a scripted interface that answers from that file (AnswerFromFile;
  // with no answers there every prompt is cancelled rather than shown) and
  // writes the transcript file MERRO_UI_TRANSCRIPT, if set; otherwise none.
  static std::unique_ptr<ScriptedUserInterface> FromEnvironment();

  std::vector<Prompt> Transcript() const;
  std::vector<std::string> TranscriptLines() const;
  size_t AnswersLeft() const;

  HRESULT AskPin(const ui::PinRequest& request, SecretBytes* pPin) override;
  HRESULT SelectToken(HWND owner, const std::vector<device::DeviceItem>& devices,
                      int* pRow) override;
  int ShowMessage(HWND owner, UINT textId, UINT captionId, UINT type) override;
  HRESULT RunConfirmed(const ui::ConfirmRequest& request, const ui::TokenCall& call) override;

 private:
  // The next answer if it starts with `verb` ("cancel" and "fail" are taken
  // for any prompt); otherwise nothing is taken and the answer is "cancel
  // (unexpected)". The prompt goes into the transcript with its answer.
  std::string Take(Prompt prompt, const std::string& verb);
  // Keeps a prompt in the transcript and appends it to the transcript file.
  // The caller holds m_lock.
  void Record(Prompt prompt);

  mutable std::mutex m_lock;
  std::deque<std::string> m_answers;
  std::vector<Prompt> m_transcript;
  std::string m_scriptFile;
  std::string m_transcriptFile;
};

// Installs a scripted interface for the scope of a test and puts back the
// one it replaced.
class ScopedScriptedUi {
 public:
  explicit ScopedScriptedUi(std::vector<std::string> answers = {});
  ~ScopedScriptedUi();
  ScopedScriptedUi(const ScopedScriptedUi&) = delete;
  ScopedScriptedUi& operator=(const ScopedScriptedUi&) = delete;
  ScriptedUserInterface& operator*() { return *m_ui; }
  ScriptedUserInterface* operator->() { return m_ui; }

 private:
  ScriptedUserInterface* m_ui;
  std::unique_ptr<ui::UserInterface> m_previous;
};

}  // namespace merro::testing
