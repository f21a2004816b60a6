// The progress events (splitter/src/events.*) from two threads, under
// ThreadSanitizer: a failed write (a full disk) ends them while another
// thread, with no other lock between the two, asks whether they are on.
#include <chrono>
#include <cstdlib>
#include <thread>

#include "events.h"

int main() {
    setenv("ORVANE_EVENTS", "/dev/full", 1);
    orvane::Events events(std::filesystem::temp_directory_path() / "orvane-no-target");
    bool on = events.on();
    std::thread asker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        on = on && !events.on();
    });
    events.looked("a.pdf", 1);
    asker.join();
    return on ? 0 : 1;
}
