// The process layer (splitter/src/process.h) against real children: how a
// read ends, and that ending a child never waits past its grace, even for
// one that ignores its closed input or a read whose wait failed.
// Prints one line per wrong outcome and a count; exits non-zero on any.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "process.h"

namespace {

using namespace orvane;
using Clock = std::chrono::steady_clock;
using ms = std::chrono::milliseconds;

enum class Fault { None, PollFails };

struct Case {
    const char* name;
    std::vector<std::string> argv;  // the program and its arguments
    Fault fault;
    ReadEnd read;     // how reading 4 bytes within 2 s ends
    ChildExit ended;  // how stop(false) with a grace of 300 ms ends then
    long longest;     // ms the read and the stop may take together
};

const Case kCases[] = {
    {"a reply read whole", {"/bin/sh", "-c", "printf abcd; sleep 30"}, Fault::None, ReadEnd::Done,
     ChildExit::Killed, 1500},
    {"a child that ends by itself", {"/bin/sh", "-c", "exit 3"}, Fault::None, ReadEnd::Closed,
     ChildExit::Normal, 1500},
    {"a child that crashes", {"/bin/sh", "-c", "kill -SEGV $$"}, Fault::None, ReadEnd::Closed,
     ChildExit::Crashed, 1500},
    {"a silent child past its deadline", {"/bin/sleep", "30"}, Fault::None, ReadEnd::TimedOut,
     ChildExit::Killed, 3500},
    // With no descriptors allowed, poll itself fails: the read must say so,
    // and the child, alive and deaf to its closed input, is still ended.
    {"a wait that fails", {"/bin/sleep", "30"}, Fault::PollFails, ReadEnd::Failed, ChildExit::Killed, 1500},
};

const char* word(ReadEnd e) {
    static const char* const words[] = {"Done", "Closed", "Failed", "TimedOut"};
    return words[static_cast<int>(e)];
}

const char* word(ChildExit e) {
    static const char* const words[] = {"Normal", "Crashed", "Killed"};
    return words[static_cast<int>(e)];
}

}  // namespace

int main() {
    int failed = 0;
    for (const Case& c : kCases) {
        ChildProcess child;
        if (!child.start(c.argv[0], std::vector<std::string>(c.argv.begin() + 1, c.argv.end()))) {
            std::printf("%s: cannot start\n", c.name);
            ++failed;
            continue;
        }
        rlimit saved{};
        getrlimit(RLIMIT_NOFILE, &saved);
        if (c.fault == Fault::PollFails) {
            rlimit none = saved;
            none.rlim_cur = 0;
            setrlimit(RLIMIT_NOFILE, &none);
        }
        const Clock::time_point began = Clock::now();
        char reply[4];
        const ReadEnd read = child.read(reply, sizeof reply, began + ms(2000));
        setrlimit(RLIMIT_NOFILE, &saved);
        const ChildExit ended = child.stop(false, ms(300));
        const long took = static_cast<long>(std::chrono::duration_cast<ms>(Clock::now() - began).count());
        if (read != c.read || ended != c.ended || took > c.longest) {
            std::printf("%s: read %s, ended %s, %ld ms; wanted %s, %s, at most %ld ms\n", c.name, word(read),
                        word(ended), took, word(c.read), word(c.ended), c.longest);
            ++failed;
        }
    }
    std::printf("%d of %zu cases wrong\n", failed, sizeof kCases / sizeof kCases[0]);
    return failed ? 1 : 0;
}
