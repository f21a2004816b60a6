#include "module/version.h"

#include <cstring>

namespace orvane {

bool version_matches(const char* built, const char* runtime) {
  const size_t n = std::strlen(built);
  if (std::strncmp(built, runtime, n) != 0) return false;
  const char next = runtime[n];
  return !(next >= '0' && next <= '9');
}

std::string runtime_major_minor(const char* runtime) {
  std::string out;
  int dots = 0;
  for (const char* p = runtime; *p && out.size() < 4; ++p) {
    if (*p == '.') {
      if (++dots == 2) break;
    } else if (*p < '0' || *p > '9') {
      break;
    }
    out += *p;
  }
  return out;
}

}  // namespace orvane
