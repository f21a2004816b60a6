// The helper processes on POSIX systems: posix_spawn of our own executable
// with one socket pair as its standard input and output. Spawning, unlike
// forking, copies nothing of the threads' state, so it is safe from any
// thread at any moment.
#include "process.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orvane {

namespace {

// The helper's own ends of its socket, once becomeHelper has moved them off
// its standard input and output.
int parentIn = -1, parentOut = -1;

// Private writable memory the process has mapped now (VmData). Heap, mmap'd
// blocks and a sanitizer's allocator all count here; a limit on it (unlike
// one on the whole address space) leaves alone what is mapped already, e.g.
// AddressSanitizer's shadow.
std::size_t dataBytes() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    unsigned long kb = 0;
    if (f) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmData: %lu kB", &kb) == 1) break;
        std::fclose(f);
    }
    return static_cast<std::size_t>(kb) * 1024;
}

bool writeAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        // No SIGPIPE when the other side is gone: an error instead.
        const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// The helper's environment: ours, with tesseract's OpenMP held to one
// thread. Its threads slow recognition down badly, and a helper is one of
// as many as there are workers already. libgomp reads the limit when it is
// loaded, before any code of the helper's own runs, so it is set here.
std::vector<std::string> helperEnvironment() {
    static const std::string kLimit = "OMP_THREAD_LIMIT=";
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, kLimit.c_str(), kLimit.size()) != 0) env.emplace_back(*e);
    env.push_back(kLimit + "1");
    return env;
}

bool readAll(int fd, char* out, std::size_t size) {
    for (std::size_t got = 0; got < size;) {
        const ssize_t n = ::read(fd, out + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

struct ChildProcess::Native {
    pid_t pid = -1;
    int socket = -1;
};

ChildProcess::ChildProcess() : native_(new Native) {}

ChildProcess::~ChildProcess() { stop(true); }

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args) {
    stop(true);
    int sv[2];
    // Close-on-exec: a helper another thread starts meanwhile inherits none
    // of it, so the socket reads as closed the moment this helper is gone.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return false;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::vector<std::string> env = helperEnvironment();
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
    posix_spawn_file_actions_adddup2(&actions, sv[1], 1);
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(sv[1]);
    if (failed) {
        close(sv[0]);
        return false;
    }
    native_->pid = pid;
    native_->socket = sv[0];
    return true;
}

bool ChildProcess::running() const { return native_->pid > 0; }

bool ChildProcess::write(const void* data, std::size_t size) {
    return running() && writeAll(native_->socket, static_cast<const char*>(data), size);
}

ReadEnd ChildProcess::read(void* out, std::size_t size, Deadline deadline) {
    if (!running()) return ReadEnd::Failed;
    char* p = static_cast<char*>(out);
    for (std::size_t got = 0; got < size;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return ReadEnd::TimedOut;
        pollfd pfd{native_->socket, POLLIN, 0};
        const int r = poll(&pfd, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (r < 0 && errno != EINTR) return ReadEnd::Failed;
        if (r <= 0) continue;
        const ssize_t n = ::read(native_->socket, p + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        // A child that ended with bytes of ours unread resets its end.
        if (n == 0 || (n < 0 && errno == ECONNRESET)) return ReadEnd::Closed;
        if (n < 0) return ReadEnd::Failed;
        got += static_cast<std::size_t>(n);
    }
    return ReadEnd::Done;
}

ChildExit ChildProcess::stop(bool kill, std::chrono::milliseconds grace) {
    if (native_->pid <= 0) return ChildExit::Normal;
    close(native_->socket);
    const pid_t pid = native_->pid;
    native_->pid = -1;
    native_->socket = -1;
    int status = 0;
    if (!kill) {
        // No call to wait on a child with a deadline: it is asked in short
        // steps until the grace is over.
        const Deadline end = std::chrono::steady_clock::now() + grace;
        const std::chrono::milliseconds longest(50);
        for (std::chrono::milliseconds step(1);; step = std::min(step * 2, longest)) {
            const pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) return WIFSIGNALED(status) ? ChildExit::Crashed : ChildExit::Normal;
            if (r < 0 && errno != EINTR) return ChildExit::Normal;  // not ours to wait for
            if (std::chrono::steady_clock::now() >= end) break;
            std::this_thread::sleep_for(step);
        }
    }
    ::kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return ChildExit::Killed;
}

std::string ownExecutable() {
    // By its name, so that a helper shows as orvaneFun.exe like its parent;
    // through /proc when the file has been replaced since the run began (an
    // update installed meanwhile): the helper must be the same program.
    std::vector<char> buf(4096);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    const std::string path = n > 0 ? std::string(buf.data(), static_cast<std::size_t>(n)) : std::string();
    const std::string gone = " (deleted)";
    if (path.empty() || (path.size() > gone.size() && path.compare(path.size() - gone.size(), gone.size(), gone) == 0))
        return "/proc/self/exe";
    return path;
}

std::string ownProcessId() { return std::to_string(getpid()); }

bool becomeHelper(const std::string& parentId) {
    // Ends with the parent's thread that started it (a worker, which lives
    // as long as the run), even one ended by SIGKILL; the parent may have
    // gone before this line.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (std::to_string(getppid()) != parentId) return false;
    // Crashes end the helper plainly, so the parent reads the signal (a
    // fuzzing or crash-reporting runtime would take them for its own).
    for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) signal(sig, SIG_DFL);
    // The protocol moves off the standard descriptors: a library that
    // prints to standard output must not write into a reply.
    parentIn = fcntl(0, F_DUPFD_CLOEXEC, 3);
    parentOut = fcntl(1, F_DUPFD_CLOEXEC, 3);
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (parentIn < 0 || parentOut < 0 || null < 0) return false;
    dup2(null, 0);
    dup2(null, 1);
    close(null);
    // Whatever else it inherited (files another thread of the parent had
    // open) is none of its business.
    std::vector<int> fds;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) {
            const int fd = std::atoi(e->d_name);
            if (fd > 2 && fd != parentIn && fd != parentOut && fd != dirfd(d)) fds.push_back(fd);
        }
        closedir(d);
    }
    for (int fd : fds) close(fd);
    return true;
}

bool readFromParent(void* out, std::size_t size) { return readAll(parentIn, static_cast<char*>(out), size); }

bool writeToParent(const void* data, std::size_t size) {
    return writeAll(parentOut, static_cast<const char*>(data), size);
}

void limitOwnMemory(std::size_t extra) {
    rlimit lim;
    if (getrlimit(RLIMIT_DATA, &lim) != 0) return;
    // Only the soft limit: the next file's budget is measured afresh.
    lim.rlim_cur = std::min<rlim_t>(dataBytes() + extra, lim.rlim_max);
    setrlimit(RLIMIT_DATA, &lim);
}

}  // namespace orvane
