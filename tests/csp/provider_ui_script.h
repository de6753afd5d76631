// The scripted UI of the provider library's test build, seen from a test
// that reaches the library through advapi32: the answers go into a script
// file named by MERRO_UI_SCRIPT, and each prompt comes back as a line of the
// transcript file named by MERRO_UI_TRANSCRIPT (answers that carry a PIN show
// as "pin"). The library takes the next answer from the file at each prompt,
// so Answer works at any time; it learns the two names when it loads, and
// they stay the same for the whole test process (and its children, which
// inherit the environment).
//
// The library stays loaded in a process once its cryptography has started
// (the static libcrypto pins the module that holds it), so what it reads at
// load (C:\windows\TAVR.flag) holds from then on in that process: a test
// that needs a fresh load runs its call in a child (AcquireInChild).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace merro::testing::csp {

class ProviderUiScript {
 public:
  // With no answers every prompt is cancelled, so no test waits for a real
  // dialog that nobody answers.
  explicit ProviderUiScript(const std::vector<std::string>& answers = {}) {
    const std::string stem = "merro-ui-" + std::to_string(::GetCurrentProcessId());
    m_script = std::filesystem::temp_directory_path() / (stem + ".script");
    m_transcript = std::filesystem::temp_directory_path() / (stem + ".transcript");
    Answer(answers);
    _putenv_s("MERRO_UI_SCRIPT", m_script.string().c_str());
    _putenv_s("MERRO_UI_TRANSCRIPT", m_transcript.string().c_str());
  }
  ~ProviderUiScript() {
    _putenv_s("MERRO_UI_SCRIPT", "");
    _putenv_s("MERRO_UI_TRANSCRIPT", "");
    std::error_code ignored;
    std::filesystem::remove(m_script, ignored);
    std::filesystem::remove(m_transcript, ignored);
  }
  ProviderUiScript(const ProviderUiScript&) = delete;
  ProviderUiScript& operator=(const ProviderUiScript&) = delete;

  // Replaces the answers and empties the transcript.
  void Answer(const std::vector<std::string>& answers) {
    std::ofstream script(m_script, std::ios::trunc);
    for (const std::string& line : answers) {
      script << line << '\n';
    }
    std::ofstream(m_transcript, std::ios::trunc).close();
  }

  // The prompts so far, one line each; only those of one kind ("pin",
  // "select", "message", "confirm") when a kind is given.
  std::vector<std::string> Transcript(const std::string& kind = "") const {
    std::vector<std::string> lines;
    std::ifstream in(m_transcript);
    std::string line;
    while (std::getline(in, line)) {
      if (kind.empty() || line.rfind(kind + " ", 0) == 0) {
        lines.push_back(line);
      }
    }
    return lines;
  }

 private:
  std::filesystem::path m_script;
  std::filesystem::path m_transcript;
};

}  // namespace merro::testing::csp
