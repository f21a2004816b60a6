// The splitter's helper processes. The steps that hostile input can make
// crash, hang or take memory without end (the trial reading of a file,
// rendering a page with poppler) run in a helper: the splitter's own
// executable started again in helper mode, which serves one request at a
// time over a pipe. A helper is started when a worker first needs one, kept
// across files (its libraries and fonts set up once), and replaced after
// any fault; the splitter keeps the clock of every step and ends a helper
// that overruns it.
//
// The protocol: each message is a 4-byte length (native order: both ends
// are one executable) and that many bytes. A request is its kind ('T' the
// trial reading, 'R' rendering a page), the file's id (8 bytes), the page
// and the threshold (4 bytes each) and the file's path; the reply to a trial
// is the file's page count (4 bytes) and the reason it cannot be split
// (empty when it passes), to a rendering one byte (drawn or not) and the
// page's PageLook.
#pragma once

#include <cstdint>
#include <string>

#include "detect.h"
#include "process.h"

namespace orvane {

enum class HelperEnd {
    Done,      // the step finished and its reply came back
    Failed,    // the step failed, or no helper could be started
    TimedOut,  // still running after its time limit: the helper was ended
    Crashed,   // the helper ended by a signal (a crash, or out of memory)
};

// A worker's helper. One thread at a time.
class Helper {
public:
    // Reads the file at `path` on trial within its budget; `reason` is why
    // it cannot be split, empty when it passed (with `pages` its page
    // count). `file` is the file's id (newFileId): a helper measures each
    // file's memory budget afresh.
    HelperEnd trial(std::uint64_t file, const std::string& path, std::string& reason, int& pages);
    // Renders page `page` (0-based) and judges it; `drawn` false when
    // poppler cannot draw it.
    HelperEnd render(std::uint64_t file, const std::string& path, int page, int threshold, bool& drawn,
                     PageLook& look);
    // True when a helper is up: it has served before and kept its state.
    bool running() const { return process_.running(); }

private:
    HelperEnd call(char kind, std::uint64_t file, const std::string& path, int page, int threshold,
                   double seconds, std::string& reply);

    ChildProcess process_;
};

// A fresh id for a file opened in the splitter.
std::uint64_t newFileId();
// Helpers started so far, and those that ended by a crash (a crash in qpdf
// or poppler that the isolation caught).
std::size_t helpersStarted();
std::size_t helperCrashes();

// When the command line asks for helper mode (only the splitter itself
// starts one so), serves the parent until it closes the pipe, then ends the
// process; otherwise returns at once. The one place that knows the mode's
// arguments.
void serveIfHelper(int argc, char** argv);

}  // namespace orvane
