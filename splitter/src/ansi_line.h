// The splitter's output lines in the Windows ANSI code page.
//
// The module reads the splitter's standard output with os.popen in text mode, which on Windows
// decodes it with the ANSI code page (936 on the users' Chinese Windows). So the lines are written
// in that code page, not in UTF-8. A character the code page cannot hold (a Korean name under 936,
// an emoji, a lone surrogate) is written as <U+XXXX> (4 to 6 hex digits): the line stays whole and
// decodable, and the name can be recovered exactly, since '<' and '>' never occur in a Windows file
// name. No "best fit" substitute is ever written (under 1252 that would turn a name into another).
#pragma once

#include <string>

namespace orvane {

#ifdef _WIN32
// The UTF-8 line in code page `code_page` (0: the process's ANSI code page).
std::string ansi_line(const std::string& utf8, unsigned code_page = 0);
#endif

// A line as the reader of standard output expects it: the ANSI code page on Windows, UTF-8 as it is
// elsewhere.
std::string output_line(const std::string& utf8);

}  // namespace orvane
