// UTF-8 <-> UTF-16 for the Windows build: the program works in UTF-8 inside, Windows speaks UTF-16.
//
// Windows file names are sequences of 16-bit units that need not be valid UTF-16 (a lone surrogate
// is a legal name). Such a unit is carried through UTF-8 as its own 3-byte form (the "WTF-8"
// convention), so that every name read from Windows gives back the same name when used again.
// Plain code, no Windows API: the same conversions on every platform.
#pragma once

#include <string>

namespace orvane {

// Units to UTF-8; a lone surrogate becomes its 3-byte form.
std::string utf8_from_wide(const std::u16string& text);
// UTF-8 to units; the 3-byte form of a lone surrogate gives that unit back. A byte that starts no
// valid sequence becomes U+FFFD, so a damaged string still converts and shows where it is damaged.
std::u16string wide_from_utf8(const std::string& text);

#ifdef _WIN32
// The same over wchar_t, which is a UTF-16 unit on Windows: what the system's calls take and give.
inline std::wstring wstring_from_utf8(const std::string& text) {
  const std::u16string units = wide_from_utf8(text);
  return std::wstring(units.begin(), units.end());
}
inline std::string utf8_from_wstring(const std::wstring& text) {
  return utf8_from_wide(std::u16string(text.begin(), text.end()));
}
#endif

}  // namespace orvane
