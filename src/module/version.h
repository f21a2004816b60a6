// Whether the interpreter running the module is the one it was built for. Pure C++ so that the rule
// can be tested without an interpreter of every version at hand.
#pragma once

#include <string>

namespace orvane {

// True when `runtime` (the interpreter's version text, e.g. "3.7.11 (default, ...)") starts with
// `built` (major.minor, e.g. "3.7") and the next character is not a decimal digit, so 3.7.0 and
// 3.7.11 match while 3.70 does not.
bool version_matches(const char* built, const char* runtime);

// The interpreter's major.minor as the mismatch warning shows it: at most four characters of the
// version text, cut at the second dot ("3.8.1" gives "3.8", "3.10.2" gives "3.10").
std::string runtime_major_minor(const char* runtime);

}  // namespace orvane
