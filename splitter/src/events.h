// Progress events for a front end (opt-in).
//
// When ORVANE_EVENTS names a file, the splitter appends one JSON object per
// line to it: the job's start, the page count of each file once it is open
// (and the job's total once every file's is known), pages looked at, every
// page's final verdict, and each file's outcome. Each line is written whole
// with one write on a file opened for appending, so a reader never sees half
// a line followed by another writer's bytes. Without the variable nothing of
// this runs.
#pragma once

#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "page_result.h"
#include "reasons.h"
#include "split_plan.h"

namespace orvane {

class Events {
public:
    // Opens the file named by ORVANE_EVENTS, if any. A file that cannot be
    // opened, or that lies inside the target folder (where it would be taken
    // for output), is reported on stderr and the job runs without events.
    explicit Events(const std::filesystem::path& dst);
    ~Events();
    Events(const Events&) = delete;
    Events& operator=(const Events&) = delete;

    // A failed write closes the file from any worker's thread: the
    // descriptor is read under the same lock.
    bool on() const {
        std::lock_guard<std::mutex> g(lock_);
        return fd_ >= 0;
    }

    void start(const std::filesystem::path& src, const std::filesystem::path& dst,
               const std::vector<std::string>& files, int workers);
    // The file is open and has `pages` pages (0 when it could not be opened).
    void opened(const std::string& file, int pages);
    // `count` more pages of the file have been looked at.
    void looked(const std::string& file, int count);
    // With --ocr: the file's recognition begins, `pages` pages to recognise;
    // page `index` (0-based) took `seconds` and kept text, or none.
    void recognising(const std::string& file, int pages);
    void recognised(const std::string& file, int index, double seconds, bool text);
    // The file is done: every page's final verdict, then the documents. With
    // `blankPages` (flag or drop), the blank pages, the dropped ones, each
    // document's pages and the runs not written as well; with `recognised`
    // (--ocr), the pages that kept no text.
    void split(const std::string& file, const std::vector<PageResult>& results, const std::string& folder,
               const std::vector<Document>& documents, bool blankPages = false, bool recognised = false);
    void notSplit(const std::string& file, const FileError& reason);
    void end(int exitStatus);

private:
    void write(const std::string& line);

    int fd_ = -1;  // under lock_
    mutable std::mutex lock_;
    std::size_t files_ = 0;
    std::set<std::string> counted_;
    long total_ = 0;
};

}  // namespace orvane
