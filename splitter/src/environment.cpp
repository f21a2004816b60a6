#include "environment.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>

#include "wide_text.h"
#endif

namespace orvane {

std::optional<std::string> environment_utf8(const char* name) {
#ifdef _WIN32
  const std::u16string wide_name = wide_from_utf8(name);
  const wchar_t* key = reinterpret_cast<const wchar_t*>(wide_name.c_str());
  // The value can grow between the two calls; read until it fits.
  std::u16string value(256, u'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetEnvironmentVariableW(key, reinterpret_cast<wchar_t*>(&value[0]),
                                      static_cast<DWORD>(value.size()));
    if (n == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();  // set, but empty
    }
    if (n < value.size()) {
      value.resize(n);
      return utf8_from_wide(value);
    }
    value.assign(n, u'\0');
  }
#else
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
#endif
}

}  // namespace orvane
