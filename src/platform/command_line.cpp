#include "platform/platform.h"

namespace orvane {

std::string quote_value(const std::string& value, Platform platform) {
  std::string out;
  out.reserve(value.size() + 8);
  if (platform == Platform::Posix) {
    // UTF-8 never puts these ASCII bytes inside a multi-byte sequence, so a byte scan is exact.
    for (char c : value) {
      if (c == '\\' || c == '"' || c == '$' || c == '`') out += '\\';
      out += c;
    }
    return out;
  }
  size_t trailing = 0;
  while (trailing < value.size() && value[value.size() - 1 - trailing] == '\\') ++trailing;
  out = value;
  out.append(trailing, '\\');
  return out;
}

std::string command_line(const std::vector<std::string>& values, Platform platform) {
  std::string line;
  for (const std::string& value : values) {
    if (!line.empty()) line += ' ';
    line += '"';
    line += quote_value(value, platform);
    line += '"';
  }
  return line;
}

}  // namespace orvane
