// The run's options (--sheets, --names) from where they can be given, in rising order of
// precedence: the settings file orvaneFun.ini, the variable ORVANE_SPLITTER_OPTIONS (options in
// command-line form: the module always starts the splitter with its four arguments, so front ends
// pass options this way), and the splitter's own command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "options.h"

namespace orvane {

// The settings file: ORVANE_SPLITTER_INI when set (a wheel's launcher sets it to the file beside
// itself), else orvaneFun.ini in the executable's folder.
std::string settingsFilePath();

// Options text in command-line form split into its arguments: separated by spaces or tabs; double
// quotes enclose (a part of) an argument, inside them \" is a quote and \\ a backslash; every other
// backslash is itself (Windows paths). Nothing when a quote is left open.
std::optional<std::vector<std::string>> splitOptionText(const std::string& text);

// Reads the settings file, the variable and `commandLine` (the arguments after the four) into
// `out`. A missing settings file is no error. On an unknown key or option, or a bad value, prints
// one line on standard error naming where it came from and the value, and returns false.
bool readRunOptions(const std::vector<std::string>& commandLine, Options& out);

}  // namespace orvane
