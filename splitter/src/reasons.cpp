#include "reasons.h"

#include <new>

#include <qpdf/QPDFExc.hh>

#include "budgets.h"
#include "jpeg_small.h"

namespace orvane {

namespace {

std::string page(long long index) { return "page " + std::to_string(index + 1); }
std::string inBrackets(const std::string& words) { return " (" + words + ")"; }

// The output line's words for a reason: a contract the front ends read.
std::string worded(Fault fault, const Details& d) {
    switch (fault) {
    case Fault::NotPdf: return "damaged or not a PDF file" + inBrackets(d.words);
    case Fault::CannotOpen: return "cannot be read" + inBrackets(d.words);
    case Fault::PagesUnreadable: return "damaged: the pages cannot be read" + inBrackets(d.words);
    case Fault::PageUnreadable: return "damaged: " + page(d.first) + " cannot be read" + inBrackets(d.words);
    case Fault::ImageUndecodable:
        return "damaged: the image of " + page(d.first) + " cannot be decoded" + inBrackets(d.words);
    case Fault::PagesUncopyable:
        return "damaged: pages " + std::to_string(d.first + 1) + "-" + std::to_string(d.last + 1) +
               " cannot be copied" + inBrackets(d.words);
    case Fault::DocumentUnwritable: return "a document cannot be written" + inBrackets(d.words);
    case Fault::PageMissing: return "damaged: " + page(d.first) + " is missing from the file";
    case Fault::TreeBroken:
        return "damaged: the page tree is broken (" + std::to_string(d.found) + " pages found, " +
               (d.counted ? std::to_string(d.listed) : "no count") + " listed)";
    case Fault::TreeLoops: return "damaged: the page tree refers to itself";
    case Fault::TrialCrashed: return "damaged: qpdf crashes while reading it";
    case Fault::PageUnrenderable: return "damaged: " + page(d.first) + " cannot be rendered";
    case Fault::NeedsPassword: return "encrypted: it needs a password to open";
    case Fault::Protected: return "encrypted: its protection would be lost by splitting";
    case Fault::TooManyPages: return "over the limits: more than " + std::to_string(kMaxPages) + " pages";
    case Fault::TreeTooDeep:
        return "over the limits: the page tree is nested more than " + std::to_string(kMaxTreeDepth) +
               " levels deep";
    case Fault::ReadTooSlow:
        return "over the limits: reading it takes more than " + std::to_string(static_cast<int>(kReadSeconds)) +
               " s";
    case Fault::ReadTooLarge:
        return "over the limits: reading it needs more than " + mib(kHelperMemory) + " of memory";
    case Fault::PagesTooSlow:
        return "over the limits: " + std::to_string(kMaxSlowPages) + " pages take more than " +
               std::to_string(static_cast<int>(kRenderSeconds)) + " s each to render";
    case Fault::NoPages: return "it has no pages";
    case Fault::Changed: return "cannot be read (it changed while being split)";
    case Fault::NoHelper: return "cannot be read (no process for reading it)";
    case Fault::FolderUnmakable: return "its output folder cannot be made in the target folder";
    case Fault::NoFolderName: return "no free output folder name in the target folder";
    }
    return d.words;
}

Kind kindOf(Fault fault) {
    switch (fault) {
    case Fault::NeedsPassword:
    case Fault::Protected: return Kind::Encrypted;
    case Fault::TooManyPages:
    case Fault::TreeTooDeep:
    case Fault::ReadTooSlow:
    case Fault::ReadTooLarge:
    case Fault::PagesTooSlow: return Kind::OverLimits;
    case Fault::CannotOpen:
    case Fault::NoHelper: return Kind::Unreadable;
    case Fault::NoPages: return Kind::NoPages;
    case Fault::Changed: return Kind::Changed;
    case Fault::DocumentUnwritable:
    case Fault::FolderUnmakable:
    case Fault::NoFolderName: return Kind::Unwritable;
    default: return Kind::Damaged;
    }
}

// The library's words without the file's path.
std::string libraryWords(const std::exception& e, const std::string& path) {
    if (const auto* q = dynamic_cast<const QPDFExc*>(&e)) return q->getMessageDetail();
    std::string text = e.what();
    if (!path.empty())
        for (std::size_t at; (at = text.find(path)) != std::string::npos;) {
            std::size_t end = at + path.size();
            if (text.compare(end, 2, ": ") == 0) end += 2;
            text.erase(at, end - at);
        }
    return text;
}

}  // namespace

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::Damaged: return "damaged";
    case Kind::Encrypted: return "encrypted";
    case Kind::OverLimits: return "over-limits";
    case Kind::Unreadable: return "unreadable";
    case Kind::NoPages: return "no-pages";
    case Kind::Changed: return "changed";
    case Kind::Unwritable: return "unwritable";
    }
    return "unreadable";
}

FileError::FileError(Fault fault, Details details)
    : std::runtime_error(worded(fault, details)), fault_(fault), kind_(kindOf(fault)),
      details_(std::move(details)) {}

FileError libraryError(const std::exception& e, const std::string& path, Doing doing) {
    if (const auto* known = dynamic_cast<const FileError*>(&e)) return *known;
    if (dynamic_cast<const std::bad_alloc*>(&e)) return FileError(Fault::ReadTooLarge);
    const auto* q = dynamic_cast<const QPDFExc*>(&e);
    if (q && q->getErrorCode() == qpdf_e_password) return FileError(Fault::NeedsPassword);
    Details d = Details::pages(doing.first, doing.last);
    d.words = libraryWords(e, path);
    switch (doing.step) {
    case Doing::Opening: return FileError(q ? Fault::NotPdf : Fault::CannotOpen, d);
    case Doing::ReadingPages: return FileError(Fault::PagesUnreadable, d);
    case Doing::ReadingPage:
        return FileError(dynamic_cast<const JpegError*>(&e) ? Fault::ImageUndecodable : Fault::PageUnreadable, d);
    case Doing::Copying: return FileError(q ? Fault::PagesUncopyable : Fault::DocumentUnwritable, d);
    }
    return FileError(Fault::CannotOpen, d);
}

}  // namespace orvane
