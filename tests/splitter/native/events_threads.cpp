// The progress events (splitter/src/events.*) as the workers use them, from
// several threads: a write that fails (a full disk) ends the events while
// another thread asks whether they are on. Built with ThreadSanitizer, which
// reports the descriptor read without the lock the writer holds.
// Exits non-zero when the events are still on after the failed write.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "events.h"

int main() {
    setenv("ORVANE_EVENTS", "/dev/full", 1);
    orvane::Events events(std::filesystem::temp_directory_path() / "orvane-no-target");
    if (!events.on()) {
        std::printf("FAILED: /dev/full cannot be opened for the events\n");
        return 1;
    }
    bool seen = true;
    // No lock or atomic between the two threads but the one in Events.
    std::thread asker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        seen = events.on();
    });
    events.looked("a.pdf", 1);  // fails: the disk is full
    asker.join();
    std::printf(seen ? "FAILED: the events are still on after a failed write\n" : "the events ended\n");
    return seen ? 1 : 0;
}
