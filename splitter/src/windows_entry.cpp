// The Windows entry point: the arguments arrive in UTF-16 through wmain (linked with -municode),
// never through the ANSI code page, where a name the code page cannot hold would turn into '?'.
// They are handed on in UTF-8, the program's encoding inside, to the same entry the POSIX build
// reaches through main.
#ifdef _WIN32
#include <string>
#include <vector>

#include "wide_text.h"

int splitter_main(int argc, char** argv);

extern "C" int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  args.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) {
    const wchar_t* arg = argv[i];
    std::u16string wide;
    for (; *arg; ++arg) wide += static_cast<char16_t>(*arg);
    args.push_back(orvane::utf8_from_wide(wide));
  }
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(&arg[0]);
  pointers.push_back(nullptr);
  return splitter_main(argc, pointers.data());
}
#endif
