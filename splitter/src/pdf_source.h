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
#include "isolate.h"
#include "jpeg_small.h"

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
    // Throws FileError (damaged, encrypted, no pages, over its budget ...).
    // `readOnTrial` false: another SourcePdf of the same file has already
    // passed the trial reading in its child, so this one reads it at once.
    explicit SourcePdf(const std::string& path, bool readOnTrial = true);
    // A file held in memory: `data` must outlive the object; `name` stands
    // for the file in messages.
    SourcePdf(const std::string& name, const char* data, std::size_t size);
    ~SourcePdf();
    SourcePdf(const SourcePdf&) = delete;
    SourcePdf& operator=(const SourcePdf&) = delete;

    const std::string& path() const { return path_; }
    int pageCount() const { return static_cast<int>(pages_.size()); }
    // Number of problems qpdf repaired while reading (0 for a sound file).
    std::size_t repairs() const { return qpdf_.numWarnings() - budgetWarnings_; }

    // Judges page `index` (0-based). A page that cannot be judged within its
    // budget comes back unsure and not a separator. Throws FileError when the
    // page cannot be read, or when too many pages of the file ran out of time.
    PageResult lookAt(int index, int threshold);

    // Writes pages [first, last] (0-based, inclusive) as a new PDF at outPath.
    // Throws FileError.
    void writeDocument(int first, int last, const std::string& outPath);

private:
    // A request to the child process: the trial reading (page -1) or a page
    // to render; and its reply.
    struct ChildRequest {
        int page;
        int threshold;
    };
    struct ChildReply {
        char why[512];  // the trial reading: why the file cannot be split
        bool rendered;  // a page: whether poppler could draw it
        PageLook look;
    };

    void open(bool readOnTrial);
    void passTrial();
    void read(QPDF& qpdf) const;
    std::string trialReading() const;
    bool serve(const ChildRequest& request, ChildReply& reply);
    JpegKind decodeImage(QPDFObjectHandle image, JpegRows& rows);
    PageResult render(int index, int threshold);
    PageResult overBudget(bool slow);

    std::string path_;
    const char* data_ = nullptr;  // the file's bytes when it is held in memory
    std::size_t size_ = 0;
    QPDF qpdf_;
    std::vector<QPDFPageObjectHelper> pages_;
    int slowPages_ = 0;
    std::size_t budgetWarnings_ = 0;  // qpdf's words on decodings we stopped
    std::unique_ptr<IsolatedServer> child_;
    // Only ever set inside the child, which keeps it between pages.
    std::unique_ptr<poppler::document> childDocument_;
    bool inheritedPushed_ = false;
};

// Child processes (of any SourcePdf) that ended by a signal so far: a crash
// in qpdf or poppler that the isolation caught (the fuzz target keeps the
// inputs that cause one).
std::size_t childCrashes();

// Quiets poppler's diagnostics on stderr and sets up what every render
// child would otherwise set up again; call once before any thread starts.
void initialiseLibraries();

}  // namespace orvane
