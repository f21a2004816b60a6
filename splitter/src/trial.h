// The trial reading of a file, run in a helper process: everything qpdf may
// decode or walk while the file's pages are looked at and copied is done
// here first, so a file that would crash qpdf, hang or take memory without
// bound ends the helper, not the splitter.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "reasons.h"

class QPDF;

namespace orvane {

// Reads the file at `path` on trial. What a reading that passed loaded stays
// until the object goes: a helper replies first, since tearing a large
// file's objects down takes a while and the splitter waits for the verdict
// only. (Its reply, the page count, needs no memory from the heap.)
class TrialReading {
public:
    explicit TrialReading(const std::string& path);
    ~TrialReading();
    TrialReading(const TrialReading&) = delete;
    TrialReading& operator=(const TrialReading&) = delete;

    // Why the file cannot be split; null when it passed.
    const FileError* failure() const { return failure_ ? &*failure_ : nullptr; }
    // Its page count, when it passed.
    int pages() const { return pages_; }

private:
    std::unique_ptr<QPDF> qpdf_;
    std::optional<FileError> failure_;
    int pages_ = 0;
};

}  // namespace orvane
