// Runs the splitter as the module does on Windows: its command line built by the module's own
// quoting code, started through `%COMSPEC% /c "..."`, and, for a cancellation, ended by the module's
// own stop command (taskkill -f -im orvaneFun.exe) once its first output line has arrived.
//
//   module_run.exe run    EXE SRC DST   the splitter's output bytes (ANSI code page) on stdout;
//                                       exit status: the splitter's
//   module_run.exe cancel EXE SRC DST   "first line: ...", then "left: N" (orvaneFun.exe processes
//                                       still running 2 s after taskkill); exit status 1 if any
// Arguments are UTF-8 (wmain), so Chinese folder names need no code page.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// after windows.h, whose types it uses
#include <tlhelp32.h>

#include <cstdio>
#include <string>

#include "cmd_shell.h"
#include "platform/platform.h"

namespace {

int running_splitters() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (_wcsicmp(entry.szExeFile, L"orvaneFun.exe") == 0) ++count;
  CloseHandle(snapshot);
  return count;
}

// Runs the module's stop command as the module does: through the shell, its output ignored.
void stop_command() {
  cmd_shell::Shell shell = cmd_shell::start(orvane::kStopCommand);
  std::string ignored;
  cmd_shell::finish(shell, ignored, 30000);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc != 5) {
    std::fprintf(stderr, "usage: module_run.exe run|cancel EXE SRC DST\n");
    return 2;
  }
  const std::wstring mode = argv[1];
  const std::string line = orvane::command_line(
      {cmd_shell::utf8(argv[2]), cmd_shell::utf8(argv[3]), cmd_shell::utf8(argv[4]), "2", "19"},
      orvane::Platform::Windows);
  cmd_shell::Shell shell = cmd_shell::start(line);
  if (!shell.process) {
    std::fprintf(stderr, "the shell did not start\n");
    return 2;
  }
  std::string output;
  DWORD status = 0;
  if (mode == L"run") {
    bool ended = cmd_shell::finish(shell, output, 600000, &status);
    std::fwrite(output.data(), 1, output.size(), stdout);
    return ended ? static_cast<int>(status) : 124;
  }
  // cancel: wait for the first line, so that the job is under way, then stop it.
  char c;
  DWORD n;
  while (ReadFile(shell.output, &c, 1, &n, nullptr) && n == 1 && c != '\n') output += c;
  stop_command();
  std::string rest;
  const bool ended = cmd_shell::finish(shell, rest, 30000);
  Sleep(2000);
  const int left = running_splitters();
  std::printf("first line: %s\nshell ended: %s\nleft: %d\n", output.c_str(), ended ? "yes" : "no",
              left);
  return left == 0 && ended ? 0 : 1;
}
