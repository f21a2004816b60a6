// The process layer (splitter/src/process.h) against real children: how a read ends, and that
// ending a child never waits past its grace. Prints each wrong case; exits non-zero on any.
#include <sys/resource.h>
#include <cstdio>

#include "process.h"

using namespace orvane;
using ms = std::chrono::milliseconds;

struct Case {
    const char* script;  // for /bin/sh -c
    bool pollFails;      // no descriptors allowed: poll itself fails
    ReadEnd read;        // reading 4 bytes within 2 s
    ChildExit ended;     // then stop(false) with a grace of 300 ms
    long longest;        // ms the two may take together
};

const Case kCases[] = {
    {"printf abcd; exec sleep 30", false, ReadEnd::Done, ChildExit::Killed, 1500},
    {"exit 3", false, ReadEnd::Closed, ChildExit::Normal, 1500},
    {"kill -SEGV $$", false, ReadEnd::Closed, ChildExit::Crashed, 1500},
    {"exec sleep 30", false, ReadEnd::TimedOut, ChildExit::Killed, 3500},
    {"exec sleep 30", true, ReadEnd::Failed, ChildExit::Killed, 1500},
    // A helper's OpenMP (tesseract's) is held to one thread.
    {"[ \"$OMP_THREAD_LIMIT\" = 1 ] && printf abcd; exec sleep 30", false, ReadEnd::Done, ChildExit::Killed, 1500},
};

int main() {
    int failed = 0;
    for (const Case& c : kCases) {
        ChildProcess child;
        rlimit saved{};
        getrlimit(RLIMIT_NOFILE, &saved);
        const rlimit none{0, saved.rlim_max};
        const auto began = std::chrono::steady_clock::now();
        char reply[4];
        const bool started = child.start("/bin/sh", {"-c", c.script});
        if (c.pollFails) setrlimit(RLIMIT_NOFILE, &none);
        const ReadEnd read = child.read(reply, sizeof reply, began + ms(2000));
        setrlimit(RLIMIT_NOFILE, &saved);
        const ChildExit ended = child.stop(false, ms(300));
        const long took =
            static_cast<long>(std::chrono::duration_cast<ms>(std::chrono::steady_clock::now() - began).count());
        if (!started || read != c.read || ended != c.ended || took > c.longest) {
            std::printf("%s%s: read %d, ended %d in %ld ms\n", c.script, c.pollFails ? " (poll fails)" : "",
                        static_cast<int>(read), static_cast<int>(ended), took);
            ++failed;
        }
    }
    return failed ? 1 : 0;
}
