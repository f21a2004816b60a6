#include "wide_text.h"

namespace orvane {

namespace {

void put_utf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void put_wide(char32_t c, std::u16string& out) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

bool high_surrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool low_surrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The code point (or lone surrogate) at text[at], and its length; 0 when no sequence starts there.
size_t read_utf8(const std::string& text, size_t at, char32_t& code) {
  static const char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  const unsigned char first = static_cast<unsigned char>(text[at]);
  size_t n;
  if (first < 0x80) {
    code = first;
    return 1;
  }
  if (first >= 0xC2 && first <= 0xDF) {
    n = 2, code = first & 0x1F;
  } else if (first >= 0xE0 && first <= 0xEF) {
    n = 3, code = first & 0x0F;
  } else if (first >= 0xF0 && first <= 0xF4) {
    n = 4, code = first & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  return code >= kLeast[n] && code <= 0x10FFFF ? n : 0;
}

}  // namespace

std::string utf8_from_wide(const std::u16string& text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t u = text[i];
    if (high_surrogate(u) && i + 1 < text.size() && low_surrogate(text[i + 1])) {
      u = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    put_utf8(u, out);
  }
  return out;
}

std::u16string wide_from_utf8(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    char32_t code;
    const size_t n = read_utf8(text, at, code);
    if (n == 0) {
      out += u'\uFFFD';
      ++at;
      continue;
    }
    // A lone surrogate's 3-byte form gives the unit back; two such forms in a row are two units
    // (as they were read), never joined into one character.
    put_wide(code, out);
    at += n;
  }
  return out;
}

}  // namespace orvane
