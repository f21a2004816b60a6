#include "pdf_open.h"

#include <set>

#include "budgets.h"
#include "reasons.h"

namespace orvane {

namespace {

// Walks the page tree as written in the file. qpdf stands in an empty page
// for a page object it cannot find; such a file would give documents with
// a blank page where a scanned page was, so it is refused. The walk (and
// qpdf's own, which recurses) is bounded in depth and in pages.
void checkPageTree(QPDFObjectHandle node, std::set<QPDFObjGen>& seen, std::size_t& pages, int depth) {
    if (depth > kMaxTreeDepth)
        throw FileError(Fault::TreeTooDeep);
    QPDFObjectHandle kids = node.getKey("/Kids");
    for (int i = 0, n = kids.isArray() ? kids.getArrayNItems() : 0; i < n; ++i) {
        QPDFObjectHandle kid = kids.getArrayItem(i);
        if (!kid.isDictionary()) {
            const auto missing = static_cast<long long>(pages);
            throw FileError(Fault::PageMissing, Details::pages(missing, missing));
        }
        if (kid.isIndirect() && !seen.insert(kid.getObjGen()).second)
            throw FileError(Fault::TreeLoops);
        if (kid.getKey("/Kids").isArray())
            checkPageTree(kid, seen, pages, depth + 1);
        else if (++pages > kMaxPages)
            throw FileError(Fault::TooManyPages);
    }
}

}  // namespace

void readStructure(QPDF& qpdf, const std::string& path) {
    qpdf.setSuppressWarnings(true);
    try {
        qpdf.processFile(path.c_str());
    } catch (const std::exception& e) {
        throw libraryError(e, path, Doing{Doing::Opening});
    }
    // A file that opens without a password but is encrypted carries the
    // author's restrictions; writing its pages out would silently drop them.
    if (qpdf.isEncrypted()) throw FileError(Fault::Protected);
    try {
        std::set<QPDFObjGen> seen;
        std::size_t listed = 0;
        checkPageTree(qpdf.getRoot().getKey("/Pages"), seen, listed, 0);
    } catch (const FileError&) {
        throw;
    } catch (const std::exception& e) {
        throw libraryError(e, path, Doing{Doing::ReadingPages});
    }
}

}  // namespace orvane
