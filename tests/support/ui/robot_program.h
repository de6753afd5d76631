// merro-uirobot.exe (named by MERRO_UIROBOT) as a child process, its output
// and errors in a temporary file: how a test works its own dialog from
// another process. The child is ended and the file deleted with the object.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/win/win_resource.h"

namespace merro::test {

class RobotProgram {
 public:
  RobotProgram() = default;
  ~RobotProgram();
  RobotProgram(const RobotProgram&) = delete;
  RobotProgram& operator=(const RobotProgram&) = delete;

  // The program; empty when MERRO_UIROBOT does not name it.
  static std::wstring Path();

  // Starts it with `arguments`; false, with the reason in Error(), when it
  // could not be started.
  bool Start(const std::wstring& arguments);
  // Waits up to `timeoutMs` for it to end; true with its exit status then.
  bool Wait(DWORD timeoutMs, DWORD* exitCode);
  // What it wrote so far (standard output and error together).
  std::string Output() const;
  const std::string& Error() const { return m_error; }

 private:
  std::wstring m_outPath;
  HANDLE m_process = nullptr;  // closed by the destructor
  std::string m_error;
};

}  // namespace merro::test
