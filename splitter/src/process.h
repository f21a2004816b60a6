// The operating system's side of the splitter's helper processes: starting
// the splitter's own executable with two pipes, talking over them with a
// deadline, ending it, and what the helper itself does to keep its bounds.
// One implementation per system (process_posix.cpp, process_windows.cpp);
// nothing else in the splitter calls the system for processes or pipes.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace orvane {

using Deadline = std::chrono::steady_clock::time_point;

// How a child process ended.
enum class ChildExit {
    Normal,   // it ended itself (any exit status)
    Crashed,  // a signal or an exception ended it: a crash, or out of memory
    Killed,   // we ended it
};

// A child process whose standard input and output are pipes to us (its
// standard error is ours). Ended and reaped when the object goes.
class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `args` (argv[1] on). False if it cannot start.
    bool start(const std::string& program, const std::vector<std::string>& args);
    bool running() const;
    // Writes all of it; false when the child is gone.
    bool write(const void* data, std::size_t size);
    // Reads exactly `size` bytes: 1 when read, 0 on end of data or an error,
    // -1 when the deadline passed first.
    int read(void* out, std::size_t size, Deadline deadline);
    // Ends the child (at once when `kill`, else waits for it to end by itself
    // after its input is closed) and tells how it ended.
    ChildExit stop(bool kill);

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

// The path of the running executable, for starting it again as a helper.
std::string ownExecutable();
// This process's id, as a child is told it (decimal).
std::string ownProcessId();

// In the helper, before it reads anything: ties its life to the parent's
// (`parentId` as ownProcessId gave it; false when that parent is gone
// already), lets a crash end it plainly, keeps its standard output clear of
// anything but replies, and closes what it inherited beyond its pipes.
bool becomeHelper(const std::string& parentId);
// The helper's pipes to its parent: reads block; false at the end of data.
bool readFromParent(void* out, std::size_t size);
bool writeToParent(const void* data, std::size_t size);
// Caps the helper's memory at what it uses now plus `extra` bytes: a failed
// allocation past it, not the machine's memory, ends a runaway step.
void limitOwnMemory(std::size_t extra);

}  // namespace orvane
