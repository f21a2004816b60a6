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

// How a read from a child ended.
enum class ReadEnd {
    Done,      // all of it was read
    Closed,    // the child closed its end: it has ended, or is ending
    Failed,    // the pipe, or the wait on it, failed: the child may well run on
    TimedOut,  // the deadline passed first
};

// How long a child whose input is closed has to end by itself before it is
// killed: one that closed its end is on its way out, and ends in far less.
constexpr std::chrono::milliseconds kChildGrace{5000};

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
    // Reads exactly `size` bytes by the deadline.
    ReadEnd read(void* out, std::size_t size, Deadline deadline);
    // Ends the child and tells how it ended: at once when `kill`; else its
    // input is closed and it has `grace` to end by itself, then it is killed
    // (Killed). No call waits longer.
    ChildExit stop(bool kill, std::chrono::milliseconds grace = kChildGrace);

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
