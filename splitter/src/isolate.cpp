#include "isolate.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvane {

namespace {

namespace gate {
std::mutex lock;
std::condition_variable changed;
int holders = 0;       // threads holding the gate
// A fork is waiting or under way: nobody enters. Changed under the lock,
// read without it too (letForksPass).
std::atomic<bool> forking{false};
bool inChild = false;  // a child is one thread: the gate means nothing there
thread_local int depth = 0;

void enter() {
    if (inChild || depth++ > 0) return;
    std::unique_lock<std::mutex> g(lock);
    changed.wait(g, [] { return !forking; });
    ++holders;
}

void leave() {
    if (inChild || --depth > 0) return;
    {
        std::lock_guard<std::mutex> g(lock);
        --holders;
    }
    changed.notify_all();
}
}  // namespace gate

// Held from making a child's socket pair until the parent has closed the
// child's end, so that no other child inherits it: a crashed child's socket
// then reads as closed at once.
std::mutex forkLock;

// Private writable memory the process has mapped now (VmData; the child
// starts with the same). Heap, mmap'd blocks and a sanitizer's allocator all
// count here; a limit on it (unlike one on the whole address space) leaves
// alone what is mapped already, e.g. AddressSanitizer's shadow.
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

// Closes every descriptor but the child's socket: the parent's files and
// the sockets of other children are none of its business.
void closeOthers(int keep) {
    std::vector<int> fds;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) {
            const int fd = std::atoi(e->d_name);
            if (fd > 2 && fd != keep && fd != dirfd(d)) fds.push_back(fd);
        }
        closedir(d);
    }
    for (int fd : fds) close(fd);
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

// Reads exactly `size` bytes, waiting at most until the deadline (none when
// `deadline` is null). Returns 1 when read, 0 on end of data or error, -1 on
// time-out.
int readAll(int fd, char* out, std::size_t size,
            const std::chrono::steady_clock::time_point* deadline) {
    std::size_t got = 0;
    while (got < size) {
        int wait = -1;
        if (deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                *deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return -1;
            wait = static_cast<int>(std::min<long long>(left.count(), 1000));
        }
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, wait);
        if (r < 0 && errno != EINTR) return 0;
        if (r <= 0) continue;
        const ssize_t n = ::read(fd, out + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        got += static_cast<std::size_t>(n);
    }
    return 1;
}

}  // namespace

ForkGate::ForkGate() { gate::enter(); }
ForkGate::~ForkGate() { gate::leave(); }

void ForkGate::letForksPass() {
    if (gate::inChild || gate::depth == 0 || !gate::forking) return;
    Idle idle;
}

ForkGate::Idle::Idle() : depth_(gate::depth) {
    if (depth_ == 0 || gate::inChild) return;
    gate::depth = 1;
    gate::leave();
}

ForkGate::Idle::~Idle() {
    if (depth_ == 0 || gate::inChild) return;
    gate::enter();
    gate::depth = depth_;
}

IsolatedServer::IsolatedServer(Step step, std::size_t requestSize, std::size_t replySize,
                               std::size_t extraMemory)
    : step_(std::move(step)), requestSize_(requestSize), replySize_(replySize),
      extraMemory_(extraMemory) {}

IsolatedServer::~IsolatedServer() { stop(); }

bool IsolatedServer::start() {
    // Our own hold does not keep the fork waiting; another forking thread's
    // does not either, since it lets go of its hold first.
    ForkGate::Idle idle;
    std::unique_lock<std::mutex> g(gate::lock);
    gate::changed.wait(g, [] { return !gate::forking; });
    gate::forking = true;
    gate::changed.wait(g, [] { return gate::holders == 0; });
    g.unlock();
    pid_t pid;
    int sv[2];
    {
        std::lock_guard<std::mutex> f(forkLock);
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
            pid = -2;
        } else {
            const pid_t parent = getpid();
            pid = fork();
            if (pid == 0) {
                gate::inChild = true;
                // Ends with the thread that started it (the splitter's
                // workers live as long as the run), even one ended by
                // SIGKILL.
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (getppid() != parent) _exit(4);
                close(sv[0]);
                serve(sv[1]);
            }
            close(sv[1]);
        }
    }
    g.lock();
    gate::forking = false;
    g.unlock();
    gate::changed.notify_all();
    if (pid == -2) return false;
    if (pid < 0) {
        close(sv[0]);
        return false;
    }
    pid_ = pid;
    socket_ = sv[0];
    return true;
}

void IsolatedServer::serve(int sock) {
    closeOthers(sock);
    // Whoever reads the splitter's output waits for its end: a child must
    // not hold it open. (Standard error stays, for sanitizer reports.)
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        close(null);
    }
    // Crashes end the child plainly, so the parent reads the signal (a
    // fuzzing or crash-reporting runtime would take them for its own), and a
    // time limit of its own ends it too.
    for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGALRM}) signal(sig, SIG_DFL);
    rlimit lim;
    lim.rlim_cur = lim.rlim_max = dataBytes() + extraMemory_;
    setrlimit(RLIMIT_DATA, &lim);

    std::vector<char> request(sizeof(double) + requestSize_), reply(replySize_);
    while (readAll(sock, request.data(), request.size(), nullptr) == 1) {
        double seconds;
        std::copy(request.begin(), request.begin() + sizeof seconds, reinterpret_cast<char*>(&seconds));
        // Our own limit too: the parent ends the child on time, but a child
        // must not outlive a parent that was itself stopped.
        alarm(static_cast<unsigned>(std::ceil(seconds)) + 2);
        bool ok = false;
        try {
            ok = step_(request.data() + sizeof seconds, reply.data());
        } catch (...) {
            ok = false;
        }
        alarm(0);
        // No destructors, no atexit handlers when leaving: they belong to
        // the parent.
        if (!ok || !writeAll(sock, reply.data(), reply.size())) _exit(3);
    }
    _exit(0);
}

void IsolatedServer::stop() {
    if (pid_ <= 0) return;
    close(socket_);
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    socket_ = -1;
}

IsolatedEnd IsolatedServer::call(const void* request, void* reply, double seconds) {
    if (pid_ <= 0 && !start()) return IsolatedEnd::Failed;
    std::vector<char> message(sizeof seconds + requestSize_);
    std::copy(reinterpret_cast<const char*>(&seconds), reinterpret_cast<const char*>(&seconds) + sizeof seconds,
              message.begin());
    std::copy(static_cast<const char*>(request), static_cast<const char*>(request) + requestSize_,
              message.begin() + sizeof seconds);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
    std::vector<char> answer(replySize_);
    int got;
    {
        ForkGate::Idle idle;
        got = writeAll(socket_, message.data(), message.size())
                  ? readAll(socket_, answer.data(), answer.size(), &deadline)
                  : 0;
    }
    if (got == 1) {
        std::copy(answer.begin(), answer.end(), static_cast<char*>(reply));
        return IsolatedEnd::Done;
    }
    // The child is ended either way: waitpid tells how it went.
    close(socket_);
    if (got < 0) kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    socket_ = -1;
    if (got < 0) return IsolatedEnd::TimedOut;
    if (!WIFSIGNALED(status)) return IsolatedEnd::Failed;
    lastSignal_ = WTERMSIG(status);
    return IsolatedEnd::Crashed;
}

}  // namespace orvane
