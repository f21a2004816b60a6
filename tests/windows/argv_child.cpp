// Stands in for the splitter on Windows: reports the command line it was started with and the
// arguments it received, both as its C runtime's argv (decoded from the ANSI code page, as a
// program with main(argc, argv) sees them) and as CommandLineToArgvW splits the wide command
// line. One line each, UTF-8, tab-separated: "L<TAB>line", "A<TAB>text", "W<TAB>text".
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  return out;
}

std::string utf8_from_ansi(const char* text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], n);
  return utf8(wide.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  std::printf("L\t%s\n", utf8(GetCommandLineW()).c_str());
  for (int i = 1; i < argc; ++i) std::printf("A\t%s\n", utf8_from_ansi(argv[i]).c_str());
  int wide_count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wide_count);
  for (int i = 1; wide && i < wide_count; ++i) std::printf("W\t%s\n", utf8(wide[i]).c_str());
  LocalFree(wide);
  return 0;
}
