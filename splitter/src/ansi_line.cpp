#include "ansi_line.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdio>

#include "wide_text.h"

namespace orvane {

namespace {

// The bytes of `units` in the code page, only when they decode back to exactly `units`.
bool encode_exactly(UINT code_page, const wchar_t* units, int count, std::string& out) {
  BOOL defaulted = FALSE;
  // WC_NO_BEST_FIT_CHARS is refused by UTF-7/UTF-8 code pages (error, not a substitute).
  const DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* used = code_page == CP_UTF8 ? nullptr : &defaulted;
  int n = WideCharToMultiByte(code_page, flags, units, count, nullptr, 0, nullptr, used);
  if (n <= 0 || defaulted) return false;
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(code_page, flags, units, count, &bytes[0], n, nullptr, used);
  if (defaulted) return false;
  int back = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), n, nullptr, 0);
  if (back != count) return false;
  std::wstring check(static_cast<size_t>(back), L'\0');
  MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), n, &check[0], back);
  if (check.compare(0, check.size(), units, static_cast<size_t>(count)) != 0) return false;
  out += bytes;
  return true;
}

}  // namespace

std::string ansi_line(const std::string& utf8, unsigned code_page) {
  const UINT cp = code_page ? code_page : GetACP();
  const std::wstring wide = wstring_from_utf8(utf8);
  std::string out;
  if (wide.empty() || encode_exactly(cp, wide.data(), static_cast<int>(wide.size()), out))
    return out;
  // Character by character (a surrogate pair is one character): what the code page holds is
  // written as itself, the rest as <U+XXXX>.
  for (size_t i = 0; i < wide.size();) {
    size_t n = 1;
    char32_t code = static_cast<char16_t>(wide[i]);
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      n = 2;
    }
    if (!encode_exactly(cp, wide.data() + i, static_cast<int>(n), out)) {
      char escape[16];
      std::snprintf(escape, sizeof escape, "<U+%04X>", static_cast<unsigned>(code));
      out += escape;
    }
    i += n;
  }
  return out;
}

std::string output_line(const std::string& utf8) { return ansi_line(utf8); }

}  // namespace orvane

#else

namespace orvane {

std::string output_line(const std::string& utf8) { return utf8; }

}  // namespace orvane

#endif
