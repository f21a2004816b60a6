// Starts argv_child.exe the way the module starts the splitter on Windows and prints what arrived.
//
// The module hands its command line to os.popen, which on Windows runs `%COMSPEC% /c "<line>"`
// through CreateProcessW (subprocess with shell=True). This program builds <line> with the
// module's own quoting code for the Windows branch, starts the child the same way, and compares
// the arguments the child received with the values that were sent: the two folder fields carry
// the case's value, the worker count and threshold follow as in a real job. cmd.exe expands
// %VAR% even inside double quotes, so a case marked `expands` is expected to arrive expanded.
//
// Prints one table row per case; the exit status is 1 when an argument arrived otherwise than
// expected.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cmd_shell.h"
#include "platform/platform.h"

namespace {

struct Case {
  const char* name;
  const char* value;  // UTF-8
  bool expands;       // carries %TEMP%, which cmd.exe replaces
};

const Case kCases[] = {
    {"drive root", "D:\\", false},
    {"trailing backslash", "D:\\scans\\in\\", false},
    {"two trailing backslashes", "D:\\scans\\\\", false},
    {"blanks", "D:\\my scans\\batch 1", false},
    {"Chinese names", "D:\\0000代切分PDf\\扫描 文件", false},
    {"ampersand", "D:\\R&D\\a & b", false},
    {"caret", "D:\\x^y\\^^", false},
    {"%TEMP%", "D:\\%TEMP%\\out", true},
    {"%VAR% of no variable", "D:\\%ORVANE_UNSET%\\out", false},
    {"all at once, drive root last", "D:\\代 R&D ^ %TEMP%\\", true},
};

using cmd_shell::environment;
using cmd_shell::utf8;

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string child_path() {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, n);
  return utf8(path.substr(0, path.find_last_of(L'\\') + 1) + L"argv_child.exe");
}

struct Received {
  std::string line;                     // the child's command line after cmd.exe
  std::vector<std::string> argv, wide;  // C runtime's argv[1..], CommandLineToArgvW's [1..]
  bool finished = false;
};

// `%COMSPEC% /c "<line>"`, as subprocess builds it for shell=True.
Received run_through_cmd(const std::string& line) {
  Received got;
  cmd_shell::Shell shell = cmd_shell::start(line);
  std::string output;
  if (!shell.process) return got;
  got.finished = cmd_shell::finish(shell, output, 20000);
  size_t start = 0;
  for (size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string entry = output.substr(start, end - start);
    if (!entry.empty() && entry.back() == '\r') entry.pop_back();
    if (entry.size() < 2 || entry[1] != '\t') continue;
    if (entry[0] == 'L') got.line = entry.substr(2);
    if (entry[0] == 'A') got.argv.push_back(entry.substr(2));
    if (entry[0] == 'W') got.wide.push_back(entry.substr(2));
  }
  return got;
}

std::string shown(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& arg : args) out += "[" + arg + "] ";
  return out.empty() ? "(nothing)" : out.substr(0, out.size() - 1);
}

// "as sent", "%TEMP% expanded" (the expected difference of an `expands` case) or "DIFFERS".
std::string verdict(const std::vector<std::string>& got, const std::vector<std::string>& sent,
                    const std::vector<std::string>& expected) {
  if (got == sent) return "as sent";
  if (got == expected) return "%TEMP% expanded";
  return "DIFFERS";
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string child = child_path(), temp = environment(L"TEMP", "%TEMP%");
  std::printf("child: %s\nANSI code page: %u; TEMP=%s\n\n", child.c_str(), GetACP(), temp.c_str());
  std::printf("| case | value sent (source and save folder) | field in the command line | "
              "received by argv (C runtime) | received by CommandLineToArgvW | result |\n");
  std::printf("|---|---|---|---|---|---|\n");
  int unexpected = 0;
  for (const Case& c : kCases) {
    const std::vector<std::string> sent = {c.value, c.value, "4", "19"};
    std::vector<std::string> expected = sent;
    if (c.expands)
      for (size_t i = 0; i < 2; ++i) expected[i] = replaced(c.value, "%TEMP%", temp);
    std::string line = orvane::command_line({child, c.value, c.value, "4", "19"},
                                            orvane::Platform::Windows);
    Received got = run_through_cmd(line);
    std::string argv_result = verdict(got.argv, sent, expected);
    std::string wide_result = verdict(got.wide, sent, expected);
    bool as_meant = got.finished && got.argv == expected && got.wide == expected;
    if (!as_meant) ++unexpected;
    std::printf("| %s | %s | %s | %s | %s | %s |\n", c.name, c.value,
                orvane::command_line({c.value}, orvane::Platform::Windows).c_str(),
                shown(got.argv).c_str(), shown(got.wide).c_str(),
                (argv_result == wide_result ? argv_result
                                            : "argv: " + argv_result + ", wide: " + wide_result)
                    .c_str());
    if (!as_meant)
      std::printf("|   | command line given to cmd.exe: /c \"%s\" | child's command line: %s "
                  "| | | %s |\n",
                  line.c_str(), got.line.c_str(), got.finished ? "" : "child did not finish");
  }
  std::printf("\n%d of %d cases arrived as expected\n",
              static_cast<int>(sizeof kCases / sizeof kCases[0]) - unexpected,
              static_cast<int>(sizeof kCases / sizeof kCases[0]));
  return unexpected ? 1 : 0;
}
