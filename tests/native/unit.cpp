// Unit tests of the pure C++ pieces. Prints one line per failed check and a closing count line;
// exits non-zero when any check failed.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "module/version.h"
#include "platform/platform.h"

namespace {

int passed = 0, failed = 0;

void expect(bool ok, const std::string& what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

void expect_eq(const std::string& got, const std::string& want, const std::string& what) {
  expect(got == want, what + ": got [" + got + "] want [" + want + "]");
}

void version_rule() {
  using orvane::runtime_major_minor;
  using orvane::version_matches;
  expect(version_matches("3.7", "3.7.0 (default)"), "3.7.0 matches 3.7");
  expect(version_matches("3.7", "3.7.11 (default, Jan 1 2024)"), "3.7.11 matches 3.7");
  expect(version_matches("3.7", "3.7"), "bare 3.7 matches");
  expect(!version_matches("3.7", "3.70.1"), "3.70 does not match 3.7");
  expect(!version_matches("3.7", "3.8.10"), "3.8.10 does not match 3.7");
  expect(!version_matches("3.1", "3.10.2"), "3.10 does not match 3.1");
  expect(version_matches("3.11", "3.11.7 (main)"), "3.11.7 matches 3.11");
  expect_eq(runtime_major_minor("3.8.10 (default)"), "3.8", "warning shows 3.8");
  expect_eq(runtime_major_minor("3.10.2"), "3.10", "warning shows 3.10");
  expect_eq(runtime_major_minor("3.7"), "3.7", "no second dot");
  expect_eq(runtime_major_minor("3.12+ (heads)"), "3.12", "cut at four characters");
}

void quoting() {
  using orvane::Platform;
  using orvane::quote_value;
  // Values without the special characters are unchanged on both platforms.
  for (const char* plain : {"/home/u/in put", "4", "19", "文件", ""}) {
    expect_eq(quote_value(plain, Platform::Posix), plain, std::string("posix plain ") + plain);
    expect_eq(quote_value(plain, Platform::Windows), plain, std::string("windows plain ") + plain);
  }
  for (const char* path : {"D:\\tools\\split.exe", "C:\\a b\\c"})
    expect_eq(quote_value(path, Platform::Windows), path, std::string("windows path ") + path);
  expect_eq(quote_value("a\"b", Platform::Posix), "a\\\"b", "posix quote");
  expect_eq(quote_value("$(touch x)", Platform::Posix), "\\$(touch x)", "posix command substitution");
  expect_eq(quote_value("`id`", Platform::Posix), "\\`id\\`", "posix backquotes");
  expect_eq(quote_value("$HOME", Platform::Posix), "\\$HOME", "posix variable");
  expect_eq(quote_value("a\\b", Platform::Posix), "a\\\\b", "posix backslash");
  expect_eq(quote_value("dir\\", Platform::Posix), "dir\\\\", "posix trailing backslash");
  expect_eq(quote_value("文件 $x", Platform::Posix), "文件 \\$x", "posix keeps UTF-8");
  // Windows: only trailing backslashes are doubled, so a drive root keeps its closing quote.
  expect_eq(quote_value("D:\\", Platform::Windows), "D:\\\\", "windows drive root");
  expect_eq(quote_value("D:\\out\\\\", Platform::Windows), "D:\\out\\\\\\\\", "windows two trailing");
  expect_eq(quote_value("D:\\a\\b", Platform::Windows), "D:\\a\\b", "windows inner backslashes");
  expect_eq(quote_value("$(x)`y`", Platform::Windows), "$(x)`y`", "windows leaves shell characters");
  // The whole line: each field quoted, between double quotes, separated by single blanks.
  expect_eq(orvane::command_line({"D:\\x.exe", "D:\\", "a b", "4"}, Platform::Windows),
            "\"D:\\x.exe\" \"D:\\\\\" \"a b\" \"4\"", "windows line");
  expect_eq(orvane::command_line({"/x", "$y"}, Platform::Posix), "\"/x\" \"\\$y\"", "posix line");
}

// A process named orvaneFun.exe (a copy of sleep) is ended by the scan; an unrelated one is not.
void process_scan(const char* workdir) {
  std::string exe = std::string(workdir) + "/orvaneFun.exe";
  std::string other = std::string(workdir) + "/otherFun.exe";
  std::string cmd = "cp /bin/sleep '" + exe + "' && cp /bin/sleep '" + other + "'";
  if (std::system(cmd.c_str()) != 0) {
    expect(false, "copy sleep");
    return;
  }
  auto spawn = [](const std::string& path) {
    pid_t pid = fork();
    if (pid == 0) {
      execl(path.c_str(), path.c_str(), "30", static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  };
  pid_t target = spawn(exe);
  pid_t bystander = spawn(other);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  int killed = orvane::kill_by_image_name(orvane::kSplitterImage);
  expect(killed >= 1, "at least the splitter was signalled");
  int status = 0;
  expect(waitpid(target, &status, 0) == target && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL,
         "splitter ended by SIGKILL");
  expect(waitpid(bystander, &status, WNOHANG) == 0, "other process still running");
  kill(bystander, SIGKILL);
  waitpid(bystander, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
  version_rule();
  quoting();
  process_scan(argc > 1 ? argv[1] : "/tmp");
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
