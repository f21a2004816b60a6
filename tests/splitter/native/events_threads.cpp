// The progress events (splitter/src/events.*) from two threads, under
// ThreadSanitizer: a failed write (a full disk) ends them while another
// thread, with no other lock between the two, asks whether they are on.
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "events.h"

int main() {
    setenv("ORVANE_EVENTS", "/dev/full", 1);
    orvane::Events events(std::filesystem::temp_directory_path() / "orvane-no-target");
    if (!events.on()) return 2;
    std::future<bool> later = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return events.on();
    });
    events.looked("a.pdf", 1);
    return later.get() ? 1 : 0;
}
