// Starting a command line the way the module's os.popen does on Windows: `%COMSPEC% /c "<line>"`
// through CreateProcessW (subprocess with shell=True), its standard output read through a pipe.
// Shared by the argv table (argv_run.cpp) and the splitter runs (module_run.cpp).
#pragma once

#include <windows.h>

#include <string>

namespace cmd_shell {

inline std::wstring wide(const std::string& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

inline std::string utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(n, '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n,
                        nullptr, nullptr);
  return out;
}

inline std::string environment(const wchar_t* name, const std::string& fallback) {
  wchar_t buffer[32768];
  DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
  return n > 0 && n < 32768 ? utf8(std::wstring(buffer, n)) : fallback;
}

// A started `%COMSPEC% /c "<line>"` whose standard output and error come through `output`.
struct Shell {
  HANDLE process = nullptr, output = nullptr;
};

inline Shell start(const std::string& line) {
  Shell shell;
  std::wstring command = wide(environment(L"COMSPEC", "cmd.exe") + " /c \"" + line + "\"");
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE read_end, write_end;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return shell;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = write_end;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                &startup, &process);
  CloseHandle(write_end);
  if (!started) {
    CloseHandle(read_end);
    return shell;
  }
  CloseHandle(process.hThread);
  shell.process = process.hProcess;
  shell.output = read_end;
  return shell;
}

// Reads what is left of the output, waits up to `wait_ms` for the shell to end; true if it did.
inline bool finish(Shell& shell, std::string& output, DWORD wait_ms, DWORD* status = nullptr) {
  char chunk[4096];
  DWORD n;
  while (shell.output && ReadFile(shell.output, chunk, sizeof chunk, &n, nullptr) && n > 0)
    output.append(chunk, n);
  if (shell.output) CloseHandle(shell.output);
  shell.output = nullptr;
  if (!shell.process) return false;
  bool ended = WaitForSingleObject(shell.process, wait_ms) == WAIT_OBJECT_0;
  if (ended && status) GetExitCodeProcess(shell.process, status);
  CloseHandle(shell.process);
  shell.process = nullptr;
  return ended;
}

}  // namespace cmd_shell
