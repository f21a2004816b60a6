// Runs steps that hostile input can make crash, hang or take memory without
// end (reading a file's structure, rendering a page with poppler) in a
// forked child process with a time limit per step and a memory limit.
// Rendering cannot be interrupted inside a thread; a child can simply be
// ended, and a crash in it takes nothing else down.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>

namespace orvane {

// Forking while another thread holds a lock (the allocator's under a
// sanitizer, a library's) leaves that lock held for ever in the child, which
// then hangs until its time limit: a page or a whole file refused for
// nothing. So threads hold the gate while they run anything but a wait, and
// a fork waits until every other thread has let go. Holds nest.
class ForkGate {
public:
    ForkGate();
    ~ForkGate();
    ForkGate(const ForkGate&) = delete;
    ForkGate& operator=(const ForkGate&) = delete;

    // Between two steps of a long piece of work, holding no lock a child
    // could need: lets a fork that waits for this thread go ahead first.
    static void letForksPass();

    // Lets go of this thread's hold for its lifetime: around a wait (for
    // work, for a child's reply) that neither allocates nor takes a lock a
    // child could need.
    class Idle {
    public:
        Idle();
        ~Idle();
        Idle(const Idle&) = delete;
        Idle& operator=(const Idle&) = delete;

    private:
        int depth_;
    };
};

enum class IsolatedEnd {
    Done,      // the step finished and its reply came back
    Failed,    // the step reported failure, or no child could be started
    TimedOut,  // still running after its time limit: the child was ended
    Crashed,   // the child ended by a signal (a crash, or out of memory)
};

// A child process serving steps one at a time: each call sends a request of
// `requestSize` bytes and gets `replySize` bytes back (trivially copyable
// objects). The child is forked on the first call and keeps what it loaded
// (a poppler document, its fonts) for the next ones; after a step that did
// not end Done it is gone, and the next call forks a fresh one. The child may
// allocate `extraMemory` bytes beyond the memory the process had when it was
// forked. One thread at a time per object.
class IsolatedServer {
public:
    // Runs in the child: fills `reply` from `request`; false (or a throw)
    // reports failure.
    using Step = std::function<bool(const void* request, void* reply)>;

    IsolatedServer(Step step, std::size_t requestSize, std::size_t replySize,
                   std::size_t extraMemory);
    ~IsolatedServer();
    IsolatedServer(const IsolatedServer&) = delete;
    IsolatedServer& operator=(const IsolatedServer&) = delete;

    IsolatedEnd call(const void* request, void* reply, double seconds);
    // True when a child is up (has served and kept its state).
    bool running() const { return pid_ > 0; }
    // The signal that ended the last child that crashed, 0 if none did.
    int lastSignal() const { return lastSignal_; }

private:
    bool start();
    void stop();
    [[noreturn]] void serve(int sock);

    Step step_;
    std::size_t requestSize_, replySize_, extraMemory_;
    pid_t pid_ = -1;
    int socket_ = -1;
    int lastSignal_ = 0;
};

}  // namespace orvane
