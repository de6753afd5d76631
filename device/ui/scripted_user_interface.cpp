#include "device/ui/scripted_user_interface.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "device/ui/confirm_runner.h"

namespace merro::testing {
namespace {

constexpr char kUnexpected[] = "cancel (unexpected)";

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return out;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) {
    out += (out.empty() ? "" : "|") + item;
  }
  return out;
}

// The word after the verb: "pin 1234" gives "1234".
std::string Argument(const std::string& answer) {
  const size_t space = answer.find(' ');
  return space == std::string::npos ? std::string() : answer.substr(space + 1);
}

// A "fail <code>" answer: the dialog could not be shown, for the reason the
// hexadecimal HRESULT gives (E_FAIL when it does not parse); S_OK otherwise.
HRESULT FailureOf(const std::string& answer) {
  if (answer.rfind("fail ", 0) != 0) {
    return S_OK;
  }
  const HRESULT hr = static_cast<HRESULT>(std::strtoul(Argument(answer).c_str(), nullptr, 16));
  return FAILED(hr) ? hr : E_FAIL;
}

// The answer lines of a script file: trailing blanks and carriage returns
// cut, blank lines and '#' comments skipped. False when it cannot be read.
bool ReadScript(const std::string& path, std::deque<std::string>* pLines) {
  std::ifstream in(path);
  if (!in) {
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
      line.pop_back();
    }
    if (!line.empty() && line[0] != '#') {
      pLines->push_back(line);
    }
  }
  return true;
}

// Writes back the answers not taken yet. A line may hold a PIN: it only
// ever goes back into the file it came from.
void WriteScript(const std::string& path, const std::deque<std::string>& lines) {
  std::ofstream out(path, std::ios::trunc);
  for (const std::string& line : lines) {
    out << line << '\n';
  }
}

}  // namespace

std::string ScriptedUserInterface::Prompt::ToString() const {
  std::ostringstream out;
  out << kind;
  if (kind == "pin") {
    out << " mode=" << mode << " tries=" << tries << " prompt=\"" << Narrow(text) << "\"";
  } else if (kind == "select") {
    out << " labels=" << Joined(labels) << " names=" << Joined(names);
  } else if (kind == "message") {
    out << " text=" << ids.at(0) << " caption=" << ids.at(1) << " type=0x" << std::hex << ids.at(2)
        << std::dec;
  } else if (kind == "confirm") {
    out << " kind=" << confirmKind << " tips=\"" << Narrow(text) << "\"";
  }
  out << " -> " << answer;
  return out.str();
}

ScriptedUserInterface::ScriptedUserInterface(std::vector<std::string> answers)
    : m_answers(answers.begin(), answers.end()) {}

void ScriptedUserInterface::Push(const std::string& answer) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_answers.push_back(answer);
}

bool ScriptedUserInterface::LoadScript(const std::string& path) {
  std::deque<std::string> lines;
  if (!ReadScript(path, &lines)) {
    return false;
  }
  for (const std::string& line : lines) {
    Push(line);
  }
  return true;
}

void ScriptedUserInterface::AnswerFromFile(const std::string& path) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_scriptFile = path;
}

void ScriptedUserInterface::SetTranscriptFile(const std::string& path) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_transcriptFile = path;
}

std::unique_ptr<ScriptedUserInterface> ScriptedUserInterface::FromEnvironment() {
  const char* script = std::getenv("MERRO_UI_SCRIPT");
  if (script == nullptr || *script == '\0') {
    return nullptr;
  }
  auto ui = std::make_unique<ScriptedUserInterface>();
  ui->AnswerFromFile(script);
  if (const char* transcript = std::getenv("MERRO_UI_TRANSCRIPT")) {
    ui->SetTranscriptFile(transcript);
  }
  return ui;
}

void ScriptedUserInterface::Record(Prompt prompt) {
  if (!m_transcriptFile.empty()) {
    // One line per prompt, closed at once, so that a test that reads the
    // file while the call still runs (or after the process died) sees it.
    std::ofstream(m_transcriptFile, std::ios::app) << prompt.ToString() << '\n';
  }
  m_transcript.push_back(std::move(prompt));
}

std::vector<ScriptedUserInterface::Prompt> ScriptedUserInterface::Transcript() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_transcript;
}

std::vector<std::string> ScriptedUserInterface::TranscriptLines() const {
  std::vector<std::string> lines;
  for (const Prompt& p : Transcript()) {
    lines.push_back(p.ToString());
  }
  return lines;
}

size_t ScriptedUserInterface::AnswersLeft() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_answers.size();
}

std::string ScriptedUserInterface::Take(Prompt prompt, const std::string& verb) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (!m_scriptFile.empty()) {
    // The file is the queue: what it holds now, not what it held before.
    m_answers.clear();
    ReadScript(m_scriptFile, &m_answers);
  }
  std::string answer = kUnexpected;
  if (!m_answers.empty()) {
    const std::string& next = m_answers.front();
    if (next == "cancel" || next.rfind(verb + " ", 0) == 0 || next.rfind("fail ", 0) == 0) {
      answer = next;
      m_answers.pop_front();
      if (!m_scriptFile.empty()) {
        WriteScript(m_scriptFile, m_answers);
      }
    }
  }
  // The transcript never holds a typed PIN.
  prompt.answer = answer.rfind("pin ", 0) == 0 ? "pin" : answer;
  Record(std::move(prompt));
  return answer;
}

HRESULT ScriptedUserInterface::AskPin(const ui::PinRequest& request, SecretBytes* pPin) {
  Prompt prompt;
  prompt.kind = "pin";
  prompt.owner = request.owner;
  prompt.mode = request.mode;
  prompt.tries = request.tries;
  prompt.text = request.prompt != nullptr ? request.prompt : L"";
  const std::string answer = Take(std::move(prompt), "pin");
  if (const HRESULT failed = FailureOf(answer); FAILED(failed)) {
    return failed;
  }
  if (answer.rfind("pin ", 0) != 0) {
    return SCARD_W_CANCELLED_BY_USER;
  }
  std::string pin = Argument(answer);
  const bool bCopied = pPin == nullptr || pPin->Assign(pin.data(), pin.size());
  merro::SecureWipe(&pin[0], pin.size());
  return bCopied ? S_OK : E_OUTOFMEMORY;
}

HRESULT ScriptedUserInterface::SelectToken(HWND owner,
                                           const std::vector<device::DeviceItem>& devices,
                                           int* pRow) {
  Prompt prompt;
  prompt.kind = "select";
  prompt.owner = owner;
  for (const device::DeviceItem& item : devices) {
    prompt.labels.emplace_back(item.szDeviceLabel);
    prompt.names.emplace_back(item.szDeviceName);
  }
  const std::string answer = Take(std::move(prompt), "select");
  if (const HRESULT failed = FailureOf(answer); FAILED(failed)) {
    return failed;
  }
  int row = -1;
  if (answer.rfind("select ", 0) == 0) {
    row = std::atoi(Argument(answer).c_str());
  }
  if (pRow != nullptr) {
    *pRow = row;
  }
  return S_OK;
}

int ScriptedUserInterface::ShowMessage(HWND owner, UINT textId, UINT captionId, UINT type) {
  Prompt prompt;
  prompt.kind = "message";
  prompt.owner = owner;
  prompt.ids = {textId, captionId, type};
  prompt.answer = "ok";
  std::lock_guard<std::mutex> hold(m_lock);
  Record(std::move(prompt));
  return IDOK;
}

HRESULT ScriptedUserInterface::RunConfirmed(const ui::ConfirmRequest& request,
                                            const ui::TokenCall& call) {
  Prompt prompt;
  prompt.kind = "confirm";
  prompt.owner = request.owner;
  prompt.confirmKind = request.kind == ui::ConfirmKind::Transaction ? "transaction" : "operation";
  prompt.text = request.tips;
  prompt.answer = "run";
  {
    std::lock_guard<std::mutex> hold(m_lock);
    Record(std::move(prompt));
  }
  ui::ConfirmRunner runner(call);
  return runner.Run();
}

ScopedScriptedUi::ScopedScriptedUi(std::vector<std::string> answers) {
  auto ui = std::make_unique<ScriptedUserInterface>(std::move(answers));
  m_ui = ui.get();
  m_previous = ui::UserInterface::Install(std::move(ui));
}

ScopedScriptedUi::~ScopedScriptedUi() { ui::UserInterface::Install(std::move(m_previous)); }

}  // namespace merro::testing
