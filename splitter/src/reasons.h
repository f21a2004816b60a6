// Why a file cannot be split: its kind and details as data, and their words
// in the output line. Every reason is worded here, in one place, and every
// exception a library throws while a file is read, judged or written is
// turned into one here too.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace orvane {

// What a front end may act on, named in the progress events; the names
// (kindName) stay stable.
enum class Kind {
    Damaged,     // "damaged"
    Encrypted,   // "encrypted"
    OverLimits,  // "over-limits": it would cost more than its budget
    Unreadable,  // "unreadable": it cannot be opened or read at all
    NoPages,     // "no-pages"
    Changed,     // "changed": rewritten while the run read it
    Unwritable,  // "unwritable": its output cannot be written
};
const char* kindName(Kind kind);

// Each reason a file is refused for, worded in reasons.cpp.
enum class Fault {
    NotPdf,              // qpdf cannot read its structure (words)
    CannotOpen,          // another failure opening it (words)
    PagesUnreadable,     // its page tree cannot be walked (words)
    PageUnreadable,      // page `first` cannot be read (words)
    ImageUndecodable,    // page `first`'s image is no valid JPEG data (words)
    PagesUncopyable,     // pages `first`..`last` cannot be copied (words)
    DocumentUnwritable,  // a document cannot be written (words)
    PageMissing,         // page `first` is missing from the file
    TreeBroken,          // `found` pages found, `listed` listed (if `counted`)
    TreeLoops,           // the page tree refers to itself
    TrialCrashed,        // qpdf crashes while reading it
    PageUnrenderable,    // page `first` cannot be rendered
    NeedsPassword,
    Protected,           // opens without a password, with restrictions
    TooManyPages,
    TreeTooDeep,
    ReadTooSlow,
    ReadTooLarge,        // more memory than a helper may take
    PagesTooSlow,        // too many pages run out of render time
    NoPages,
    Changed,             // its page count changed since its trial
    NoHelper,            // no process could be started to read it
    FolderUnmakable,
    NoFolderName,        // (the last: kFaults counts them)
};
constexpr int kFaults = static_cast<int>(Fault::NoFolderName) + 1;

// What a reason names besides its fault: 0-based pages, counts, and a
// library's own words (without the file's path).
struct Details {
    long long first = 0, last = 0;
    long long found = 0, listed = 0;
    bool counted = false;
    std::string words;

    static Details pages(long long first, long long last) {
        Details d;
        d.first = first;
        d.last = last;
        return d;
    }
};

// A reason, fit to show the user, why a file cannot be split (what()).
class FileError : public std::runtime_error {
public:
    FileError(Fault fault, Details details = Details());

    Fault fault() const { return fault_; }
    Kind kind() const { return kind_; }
    const Details& details() const { return details_; }

private:
    Fault fault_;
    Kind kind_;
    Details details_;
};

// What the splitter was doing with the file when the exception came.
struct Doing {
    enum Step {
        Opening,       // reading its structure
        ReadingPages,  // walking its page tree
        ReadingPage,   // looking at page `first`
        Copying,       // copying pages `first`..`last` into a document
    } step;
    int first = 0, last = 0;  // 0-based pages
};

// The one translation of a library's exception `e` (qpdf's, libjpeg's, an
// allocation's) into the file's reason. Library messages lose the file's
// path (qpdf starts them with it): the output line names the file already,
// relative to the source folder. A FileError is a reason already: it comes
// back as it is.
FileError libraryError(const std::exception& e, const std::string& path, Doing doing);

}  // namespace orvane
