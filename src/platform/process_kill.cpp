#include "platform/platform.h"

#ifndef _WIN32
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#endif

namespace orvane {

#ifdef _WIN32

int kill_by_image_name(const char*) noexcept { return 0; }  // Windows uses taskkill

#else

namespace {

bool all_digits(const char* s) {
  if (!*s) return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

std::string image_name(const std::string& proc_dir) {
  std::ifstream comm(proc_dir + "/comm");
  std::string name;
  if (comm && std::getline(comm, name)) return name;
  return std::string();
}

std::string exe_base_name(const std::string& proc_dir) {
  char target[4096];
  ssize_t n = readlink((proc_dir + "/exe").c_str(), target, sizeof target - 1);
  if (n <= 0) return std::string();
  target[n] = '\0';
  const char* slash = std::strrchr(target, '/');
  std::string base = slash ? slash + 1 : target;
  const std::string deleted = " (deleted)";
  if (base.size() > deleted.size() &&
      base.compare(base.size() - deleted.size(), deleted.size(), deleted) == 0)
    base.resize(base.size() - deleted.size());
  return base;
}

int kill_matching(const char* image) {
  std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
  if (!proc) return 0;
  const uid_t me = getuid();
  const pid_t self = getpid();
  int killed = 0;
  while (dirent* entry = readdir(proc.get())) {
    if (!all_digits(entry->d_name)) continue;
    const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
    if (pid == self) continue;
    const std::string dir = std::string("/proc/") + entry->d_name;
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || st.st_uid != me) continue;
    if (image_name(dir) != image && exe_base_name(dir) != image) continue;
    if (kill(pid, SIGKILL) == 0) ++killed;
  }
  return killed;
}

}  // namespace

int kill_by_image_name(const char* image) noexcept {
  try {
    return kill_matching(image);
  } catch (...) {
    return 0;  // out of memory while scanning: nothing more to do than taskkill would
  }
}

#endif

}  // namespace orvane
