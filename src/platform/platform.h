// The thin operating-system layers: how the splitter's command line is quoted for the shell that
// runs it, and how running splitters are ended.
#pragma once

#include <string>
#include <vector>

namespace orvane {

enum class Platform { Windows, Posix };

constexpr Platform host_platform() {
#ifdef _WIN32
  return Platform::Windows;
#else
  return Platform::Posix;
#endif
}

// One value of the command line, prepared to stand between two double quotes (UTF-8 in and out).
//  * Posix: /bin/sh expands `$(...)`, `$NAME` and backquotes inside double quotes, and a backslash
//    or quote would end or bend the field; each backslash, double quote, dollar sign and backquote
//    gets a backslash in front, so the program receives the value verbatim.
//  * Windows: the program's argument parser reads backslashes before a closing quote as escapes, so
//    a folder at a drive root ("D:\") would swallow the quote; trailing backslashes are doubled.
// A value with none of those characters, and not ending in a backslash, is unchanged on both.
std::string quote_value(const std::string& value, Platform platform);

// The whole command line: each value quoted as above and put between double quotes, the fields
// separated by single blanks (UTF-8 in and out).
std::string command_line(const std::vector<std::string>& values, Platform platform);

// The image name of the splitter; cancellation ends every process of that name.
constexpr const char kSplitterImage[] = "orvaneFun.exe";
// The Windows stop command.
constexpr const char kStopCommand[] = "taskkill -f -im orvaneFun.exe";

// Posix stand-in for taskkill: sends SIGKILL to every process of the current user whose image name
// (its /proc comm, or the base name of its executable) is `image`. Failures are ignored, as
// taskkill's exit status is. Returns how many processes were signalled.
// Called without the interpreter lock held, so it never throws.
int kill_by_image_name(const char* image) noexcept;

}  // namespace orvane
