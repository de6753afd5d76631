// The control channel: text commands that tests use to drive the tokens.
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tokensim/core/simulator.h"
#include "tokensim/handlers/provisioning.h"

namespace merro::tokensim {
namespace {

bool ParseNumber(const std::string& text, int base, unsigned long max, unsigned long* pValue) {
  if (text.empty() || text.size() > 8) {
    return false;
  }
  char* end = nullptr;
  const unsigned long v = std::strtoul(text.c_str(), &end, base);
  if (*end != '\0' || v > max || text[0] == '-' || text[0] == '+') {
    return false;
  }
  *pValue = v;
  return true;
}

bool Refuse(std::string* pAnswer, const std::string& why) {
  *pAnswer = "error: " + why;
  return false;
}

bool ParseAnswer(const std::string& word, Display::Answer* pAnswer) {
  if (word == "ok") {
    *pAnswer = Display::Answer::Ok;
  } else if (word == "cancel") {
    *pAnswer = Display::Answer::Cancel;
  } else if (word == "timeout") {
    *pAnswer = Display::Answer::Timeout;
  } else {
    return false;
  }
  return true;
}

// "fault <i> sw XXXX | short N | drop [ins XX] [skip N] [count N]" from words[2].
bool ParseFault(const std::vector<std::string>& words, Fault* pFault, std::string* pWhy) {
  size_t at = 2;
  unsigned long v = 0;
  if (words.size() > at && words[at] == "drop") {
    pFault->kind = Fault::Kind::DroppedReply;
    at += 1;
  } else if (words.size() > at + 1 && words[at] == "sw" && ParseNumber(words[at + 1], 16, 0xFFFF, &v)) {
    pFault->kind = Fault::Kind::WrongStatusWord;
    pFault->statusWord = static_cast<std::uint16_t>(v);
    at += 2;
  } else if (words.size() > at + 1 && words[at] == "short" && ParseNumber(words[at + 1], 10, 252, &v)) {
    pFault->kind = Fault::Kind::ShortReply;
    pFault->keep = static_cast<std::uint8_t>(v);
    at += 2;
  } else {
    *pWhy = "fault wants sw XXXX, short N (0-252) or drop";
    return false;
  }
  while (at < words.size()) {
    if (words.size() < at + 2) {
      *pWhy = "option without a value: " + words[at];
      return false;
    }
    const std::string& option = words[at];
    const std::string& value = words[at + 1];
    if (option == "ins" && ParseNumber(value, 16, 0xFF, &v)) {
      pFault->ins = static_cast<int>(v);
    } else if (option == "skip" && ParseNumber(value, 10, 100000, &v)) {
      pFault->skip = static_cast<unsigned>(v);
    } else if (option == "count" && ParseNumber(value, 10, 100000, &v) && v > 0) {
      pFault->count = static_cast<unsigned>(v);
    } else {
      *pWhy = "bad option: " + option + " " + value;
      return false;
    }
    at += 2;
  }
  return true;
}

}  // namespace

bool Simulator::Control(const std::string& command, std::string* pAnswer) {
  std::istringstream in(command);
  std::vector<std::string> words;
  for (std::string word; in >> word;) {
    words.push_back(word);
  }
  if (words.empty()) {
    return Refuse(pAnswer, "empty command");
  }
  Lock lock(m_lock);
  const bool done = ControlLocked(words, pAnswer, lock);
  m_changed.notify_all();  // a release, a pull: a waiting command looks again
  return done;
}

bool Simulator::ControlLocked(const std::vector<std::string>& words, std::string* pAnswer, Lock& lock) {
  const std::string& verb = words[0];
  if (verb == "list") {
    std::string list;
    for (size_t i = 0; i < m_tokens.size(); ++i) {
      list += std::to_string(i) + (m_tokens[i].present ? " present " : " absent ") + DevicePath(i) + "\n";
    }
    *pAnswer = list;
    return true;
  }
  if (verb == "save") {
    std::string error;
    if (!SaveLocked(true, &error)) {
      return Refuse(pAnswer, error);
    }
    *pAnswer = "ok";
    return true;
  }
  unsigned long index = 0;
  if (words.size() < 2 || !ParseNumber(words[1], 10, 1000, &index) || index >= m_tokens.size()) {
    return Refuse(pAnswer, "unknown command or token: " + verb);
  }
  Slot& slot = m_tokens[index];
  Token& token = *slot.token;
  *pAnswer = "ok";
  // Commands that change what a running command works on wait until it
  // has ended.
  if (verb == "insert" || verb == "provision") {
    m_changed.wait(lock, [&] { return !slot.busy; });
  }
  if (verb == "pull" && words.size() == 2) {
    slot.present = false;
    slot.hasReply = false;
    ++slot.generation;
    token.Screen().Reset();  // a confirmation under way ends unanswered
    return true;
  }
  if (verb == "log" && words.size() == 2) {
    std::string list;
    for (const std::uint8_t ins : slot.commandLog) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X ", ins);
      list += hex;
    }
    *pAnswer = list.empty() ? list : list.substr(0, list.size() - 1);
    return true;
  }
  if (verb == "log" && words.size() == 3 && words[2] == "clear") {
    slot.commandLog.clear();
    return true;
  }
  if (verb == "insert" && words.size() == 2) {
    if (!slot.present) {
      slot.present = true;
      ++slot.generation;
      token.PowerUp();
    }
    return true;
  }
  if (verb == "button" && words.size() >= 3) {
    Display::Answer answer;
    unsigned long polls = 0;
    if (words.size() == 3 && words[2] == "clear") {
      token.Screen().ClearScript();
      return true;
    }
    if (words.size() == 3 && words[2] == "hold") {
      token.Screen().ScriptHold();
      return true;
    }
    if (words.size() == 4 && words[2] == "release") {
      if (!ParseAnswer(words[3], &answer)) {
        return Refuse(pAnswer, "release wants ok|cancel|timeout");
      }
      return token.Screen().Release(answer) ? true : Refuse(pAnswer, "no confirmation held");
    }
    if (!ParseAnswer(words[2], &answer) ||
        !(words.size() == 3 ||
          (words.size() == 5 && words[3] == "after" && ParseNumber(words[4], 10, 100000, &polls)))) {
      return Refuse(pAnswer, "button wants ok|cancel|timeout [after N], hold, release X or clear");
    }
    token.Screen().Script(answer, static_cast<unsigned>(polls));
    return true;
  }
  if (verb == "display" && words.size() == 2) {
    std::string lines;
    for (const std::string& line : token.Screen().Transcript()) {
      lines += line + "\n";
    }
    *pAnswer = lines;
    return true;
  }
  if (verb == "display" && words.size() == 3 && words[2] == "clear") {
    token.Screen().ClearTranscript();
    return true;
  }
  if (verb == "fault" && words.size() == 3 && words[2] == "clear") {
    token.Faults().Clear();
    return true;
  }
  if (verb == "fault") {
    Fault fault;
    std::string why;
    if (!ParseFault(words, &fault, &why)) {
      return Refuse(pAnswer, why);
    }
    token.Faults().Add(fault);
    return true;
  }
  if (verb == "provision") {
    return ProvisionCommand(token, words, pAnswer);
  }
  return Refuse(pAnswer, "unknown command: " + verb);
}

}  // namespace merro::tokensim
