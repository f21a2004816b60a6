// The process's environment in UTF-8 (ORVANE_EVENTS, the trace switch). On Windows the variable is
// read in UTF-16, so a Chinese events path arrives whole whatever the ANSI code page is; getenv
// would give it in that code page, with '?' for what the code page lacks.
#pragma once

#include <optional>
#include <string>

namespace orvane {

// The variable's value, or nothing when it is not set.
std::optional<std::string> environment_utf8(const char* name);

}  // namespace orvane
