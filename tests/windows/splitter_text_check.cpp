// Under wine: the splitter's Windows pieces (UTF-16 arguments, environment, ANSI output lines,
// folders) and the iconv layer poppler's C++ front end links, case by case. Started with the
// arguments "扫描 文件" and "한국 ☃" by scripts/windows-splitter-check.sh; prints one line per case
// and exits 1 if any failed.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <thread>

#include "ansi_line.h"
#include "environment.h"
#include "iconv.h"
#include "wide_text.h"
#include "windows_folders.h"

namespace {

int failures = 0;

void check(const std::string& name, bool ok, const std::string& detail = "") {
  std::printf("%s  %s%s%s\n", ok ? "ok    " : "FAILED", name.c_str(), detail.empty() ? "" : ": ",
              detail.c_str());
  if (!ok) ++failures;
}

std::string hex(const std::string& bytes) {
  std::string out;
  char two[4];
  for (unsigned char b : bytes) std::snprintf(two, sizeof two, "%02x", b), out += two;
  return out;
}

std::wstring w(const std::string& utf8) { return orvane::windows_path(utf8); }

void text_cases(int argc, char** argv) {
  check("arguments arrive in UTF-8", argc == 3 && std::string(argv[1]) == "扫描 文件" &&
                                         std::string(argv[2]) == "한국 ☃");
  const struct {
    const char* name;
    std::u16string units;
  } round_trips[] = {
      {"Chinese", u"D:\\扫描 文件.pdf"},
      {"surrogate pair", u"a\U0001F600b"},
      {"lone high surrogate", std::u16string(u"x") + char16_t(0xD800) + u"y"},
      {"lone low surrogate at the end", std::u16string(u"x") + char16_t(0xDC01)},
      {"two lone surrogates in a row", std::u16string(1, char16_t(0xDBFF)) + char16_t(0xDBFF)},
  };
  for (const auto& c : round_trips)
    check(std::string("UTF-16 -> UTF-8 -> UTF-16: ") + c.name,
          orvane::wide_from_utf8(orvane::utf8_from_wide(c.units)) == c.units);
  check("invalid UTF-8 byte becomes U+FFFD",
        orvane::wide_from_utf8("a\xff" "b") == std::u16string(u"a\uFFFDb"));

  const struct {
    unsigned code_page;
    const char* text;
    const char* bytes;  // expected, in hex
  } lines[] = {
      {936, "扫描 文件.pdf: 3 pages", "c9a8c3e820cec4bcfe2e7064663a2033207061676573"},
      {936, "한.pdf", "3c552b443535433e2e706466"},
      {936, "a😀", "613c552b31463630303e"},
      {1252, "café", "636166e9"},
      {1252, "扫ā", "3c552b363236423e3c552b303130313e"},
  };
  for (const auto& c : lines) {
    const std::string got = hex(orvane::ansi_line(c.text, c.code_page));
    check("code page " + std::to_string(c.code_page) + ": " + c.text, got == c.bytes,
          got == c.bytes ? "" : got);
  }

  SetEnvironmentVariableW(L"ORVANE_CHECK_ENV", L"D:\\扫描\\한.log");
  check("environment in UTF-8", orvane::environment_utf8("ORVANE_CHECK_ENV") ==
                                    std::optional<std::string>("D:\\扫描\\한.log"));
  SetEnvironmentVariableW(L"ORVANE_CHECK_ENV", L"");
  check("environment set but empty", orvane::environment_utf8("ORVANE_CHECK_ENV") ==
                                         std::optional<std::string>(""));
  SetEnvironmentVariableW(L"ORVANE_CHECK_ENV", nullptr);
  check("environment unset", !orvane::environment_utf8("ORVANE_CHECK_ENV"));
}

void iconv_cases() {
  iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
  char in[] = "a扫";  // 1 + 3 bytes
  char* from = in;
  size_t left = 4, room = 3;
  char out[8];
  char* to = out;
  size_t r = iconv(cd, &from, &left, &to, &room);
  check("iconv: E2BIG after the whole characters that fit",
        r == static_cast<size_t>(-1) && errno == E2BIG && from == in + 1 && to == out + 2 &&
            left == 3 && room == 1);
  room = 6;
  r = iconv(cd, &from, &left, &to, &room);
  check("iconv: then the rest", r == 0 && left == 0 && to == out + 4 &&
                                    std::string(out, 4) == std::string("a\0\x6b\x62", 4));
  char bad[] = "a\xc3";
  from = bad, left = 2, to = out, room = 8;
  r = iconv(cd, &from, &left, &to, &room);
  check("iconv: EINVAL for a sequence cut off", r == static_cast<size_t>(-1) && errno == EINVAL &&
                                                    from == bad + 1);
  char invalid[] = "\xed\xa0\x80";
  from = invalid, left = 3, to = out, room = 8;
  r = iconv(cd, &from, &left, &to, &room);
  check("iconv: EILSEQ for an encoded surrogate", r == static_cast<size_t>(-1) && errno == EILSEQ);
  iconv_close(cd);
  check("iconv: unknown encoding refused",
        iconv_open("GBK", "UTF-8") == reinterpret_cast<iconv_t>(-1) && errno == EINVAL);
}

void folder_cases() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::u16string units;
  for (const wchar_t* p = temp; *p; ++p) units += static_cast<char16_t>(*p);
  const std::string root = orvane::utf8_from_wide(units) + "orvane check 扫描 & 한";
  orvane::remove_tree(root);
  check("folder made", orvane::make_folder(root) == orvane::FolderMade::made);
  check("folder exists", orvane::make_folder(root) == orvane::FolderMade::exists);
  std::string why;
  check("no parents made", orvane::make_folder(root + "\\no\\deeper", &why) ==
                               orvane::FolderMade::failed && !why.empty(), why);
  const std::string sub = root + "\\文件 1";
  orvane::make_folder(sub);
  const std::string readonly = sub + "\\只读.pdf", held = sub + "\\open.pdf";
  for (const std::string& f : {readonly, held}) {
    HANDLE h = CreateFileW(w(f).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    CloseHandle(h);
  }
  SetFileAttributesW(w(readonly).c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(w(sub).c_str(), FILE_ATTRIBUTE_READONLY);
  // Held without delete sharing, closed after 300 ms: the deletion waits for it.
  HANDLE h = CreateFileW(w(held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  std::thread closer([h] { Sleep(300); CloseHandle(h); });
  const bool removed = orvane::remove_tree(root, &why);
  closer.join();
  check("tree with read-only entries and a file held open for a while deleted",
        removed && GetFileAttributesW(w(root).c_str()) == INVALID_FILE_ATTRIBUTES, why);

  orvane::make_folder(root);
  const std::string stuck = root + "\\held.pdf";
  h = CreateFileW(w(stuck).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  why.clear();
  check("a file held open throughout is reported, not ignored",
        !orvane::remove_tree(root, &why) && why.find("held.pdf") != std::string::npos, why);
  CloseHandle(h);
  check("and deleted once closed", orvane::remove_tree(root));
}

}  // namespace

int splitter_main(int argc, char** argv) {
  text_cases(argc, argv);
  iconv_cases();
  folder_cases();
  std::printf("%d failed\n", failures);
  return failures ? 1 : 0;
}
