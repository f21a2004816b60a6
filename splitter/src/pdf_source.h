// One source PDF opened for looking at its pages and copying them out.
// An object is used by one thread at a time; threads that share a file each
// open their own.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "detect.h"

namespace poppler {
class document;
}

namespace orvane {

// A reason, fit to show the user, why a file cannot be split.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// How a page was looked at (for the counters and the tests).
enum class LookPath { Jpeg, Grey, Rendered };

struct PageResult {
    PageLook look;
    LookPath path = LookPath::Rendered;
};

class SourcePdf {
public:
    // Throws FileError (damaged, encrypted, no pages ...).
    explicit SourcePdf(const std::string& path);
    ~SourcePdf();
    SourcePdf(const SourcePdf&) = delete;
    SourcePdf& operator=(const SourcePdf&) = delete;

    const std::string& path() const { return path_; }
    int pageCount() const { return static_cast<int>(pages_.size()); }
    // Number of problems qpdf repaired while reading (0 for a sound file).
    std::size_t repairs() const { return qpdf_.numWarnings(); }

    // Judges page `index` (0-based). Throws FileError when the page cannot be
    // read.
    PageResult lookAt(int index, int threshold);

    // Writes pages [first, last] (0-based, inclusive) as a new PDF at outPath.
    // Throws FileError.
    void writeDocument(int first, int last, const std::string& outPath);

private:
    PageResult render(int index, int threshold);

    std::string path_;
    QPDF qpdf_;
    std::vector<QPDFPageObjectHelper> pages_;
    std::unique_ptr<poppler::document> rendered_;
    bool inheritedPushed_ = false;
};

// Quiets poppler's diagnostics on stderr; call once before any thread starts.
void initialiseLibraries();

}  // namespace orvane
