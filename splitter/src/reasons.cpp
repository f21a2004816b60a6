#include "reasons.h"

#include <new>

#include <qpdf/QPDFExc.hh>

#include "budgets.h"
#include "jpeg_small.h"

namespace orvane {

namespace {

// The library's words without the file's path.
std::string detail(const std::exception& e, const std::string& path) {
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

std::string pageText(int index) { return "page " + std::to_string(index + 1); }

}  // namespace

std::string unreadablePages(const std::string& detail) {
    return "damaged: the pages cannot be read (" + detail + ")";
}

std::string fileReason(const std::exception& e, const std::string& path, Doing doing) {
    if (dynamic_cast<const FileError*>(&e)) return e.what();
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return "over the limits: reading it needs more than " + mib(kHelperMemory) + " of memory";
    const auto* q = dynamic_cast<const QPDFExc*>(&e);
    if (q && q->getErrorCode() == qpdf_e_password) return "encrypted: it needs a password to open";
    const std::string words = detail(e, path);
    switch (doing.step) {
    case Doing::Opening:
        return q ? "damaged or not a PDF file (" + words + ")" : "cannot be read (" + words + ")";
    case Doing::ReadingPages:
        return unreadablePages(words);
    case Doing::ReadingPage:
        if (dynamic_cast<const JpegError*>(&e))
            return "damaged: the image of " + pageText(doing.first) + " cannot be decoded (" + words + ")";
        return "damaged: " + pageText(doing.first) + " cannot be read (" + words + ")";
    case Doing::Copying:
        if (q)
            return "damaged: pages " + std::to_string(doing.first + 1) + "-" + std::to_string(doing.last + 1) +
                   " cannot be copied (" + words + ")";
        return "a document cannot be written (" + words + ")";
    }
    return words;
}

}  // namespace orvane
