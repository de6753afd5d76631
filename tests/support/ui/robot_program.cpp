#include "tests/support/ui/robot_program.h"

#include "tests/support/ui/window_robot.h"

namespace merro::test {

RobotProgram::~RobotProgram() {
  if (m_process != nullptr) {
    if (::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(m_process, 1);
      ::WaitForSingleObject(m_process, 5000);
    }
    ::CloseHandle(m_process);
  }
  if (!m_outPath.empty()) {
    ::DeleteFileW(m_outPath.c_str());
  }
}

std::wstring RobotProgram::Path() { return PathFromEnvironment("MERRO_UIROBOT"); }

bool RobotProgram::Start(const std::wstring& arguments) {
  if (m_process != nullptr) {
    m_error = "already started";
    return false;
  }
  const std::wstring program = Path();
  if (program.empty()) {
    m_error = "MERRO_UIROBOT does not name merro-uirobot.exe";
    return false;
  }
  wchar_t folder[MAX_PATH] = {};
  wchar_t outPath[MAX_PATH] = {};
  if (::GetTempPathW(MAX_PATH, folder) == 0 || ::GetTempFileNameW(folder, L"rob", 0, outPath) == 0) {
    m_error = "no temporary file: " + std::to_string(::GetLastError());
    return false;
  }
  m_outPath = outPath;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  merro::win::UniqueHandle out(::CreateFileW(outPath, GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                             CREATE_ALWAYS, 0, nullptr));
  if (!out.Valid()) {
    m_error = "temporary file not opened: " + std::to_string(::GetLastError());
    return false;
  }
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup = {sizeof(startup)};
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out.Get();
  startup.hStdError = out.Get();
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION child = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &child)) {
    m_error = "CreateProcessW failed: " + std::to_string(::GetLastError());
    return false;
  }
  ::CloseHandle(child.hThread);
  m_process = child.hProcess;
  return true;
}

bool RobotProgram::Wait(DWORD timeoutMs, DWORD* exitCode) {
  if (m_process == nullptr || ::WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0) {
    return false;
  }
  return ::GetExitCodeProcess(m_process, exitCode) != FALSE;
}

std::string RobotProgram::Output() const {
  merro::win::UniqueHandle file(::CreateFileW(m_outPath.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (file.Valid() && ::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) &&
         read > 0) {
    text.append(buffer, read);
  }
  return text;
}

}  // namespace merro::test
