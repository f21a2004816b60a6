#include "trial.h"

#include <new>
#include <set>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "budgets.h"
#include "pdf_open.h"
#include "reasons.h"

namespace orvane {

namespace {

// Copying a page into a document walks, recursively inside qpdf, every
// array, dictionary and stream the page refers to: each once per document,
// never into a page-tree node nor past another page. Walks the same objects
// of `page` without recursion, resolving each as the copy would, and counts
// those entered; stops once the count passes `limit`. (A direct dictionary
// is always entered, whatever its type: the count is never less than the
// copy's.)
std::size_t copyWalk(QPDFObjectHandle page, std::size_t limit) {
    std::vector<QPDFObjectHandle> todo{page};
    std::set<QPDFObjGen> seen;
    std::size_t entered = 0;
    const auto follow = [&todo](QPDFObjectHandle o) {
        if (o.isIndirect() || o.isArray() || o.isDictionary()) todo.push_back(std::move(o));
    };
    while (!todo.empty() && entered <= limit) {
        QPDFObjectHandle o = std::move(todo.back());
        todo.pop_back();
        const qpdf_object_type_e type = o.getTypeCode();
        if (o.isIndirect()) {
            if (!seen.insert(o.getObjGen()).second || o.isPagesObject()) continue;
            // Another page is referred to, not copied with this one.
            if (o.getObjGen() != page.getObjGen() && o.isPageObject()) continue;
        }
        if (type == ot_array) {
            for (int i = 0, n = o.getArrayNItems(); i < n; ++i) follow(o.getArrayItem(i));
        } else if (type == ot_dictionary) {
            for (auto& entry : o.getDictAsMap()) follow(entry.second);
        } else if (type == ot_stream) {
            follow(o.getDict());
        } else {
            continue;
        }
        ++entered;
    }
    return entered;
}

// qpdf 11.3 turns a failed allocation while decoding into a warning and
// reads on without the object; in the splitter, with no limit, the same
// decoding would succeed.
bool ranOutOfMemory(QPDF& qpdf) {
    for (const QPDFExc& w : qpdf.getWarnings())
        if (w.getMessageDetail().find("bad_alloc") != std::string::npos) return true;
    return false;
}

}  // namespace

TrialReading::TrialReading(const std::string& path) {
    try {
        qpdf_.reset(new QPDF);
        QPDF& trial = *qpdf_;
        readStructure(trial, path);
        // Copying a page recurses over what it refers to. A page that
        // refers to too much for that to be surely safe is copied here for
        // real, as a document's first page: if its objects nest deeper than
        // qpdf's stack can take, the helper ends, not the splitter.
        trial.pushInheritedAttributesToPage();
        const std::vector<QPDFPageObjectHelper> all = QPDFPageDocumentHelper(trial).getAllPages();
        for (const QPDFPageObjectHelper& page : all) {
            if (copyWalk(page.getObjectHandle(), kSafeCopyObjects) <= kSafeCopyObjects) continue;
            QPDF copy;
            copy.emptyPDF();
            QPDFPageDocumentHelper(copy).addPage(page, false);
        }
        for (QPDFObjectHandle& o : trial.getAllObjects()) o.getTypeCode();
        if (ranOutOfMemory(trial)) throw std::bad_alloc();
        pages_ = static_cast<int>(all.size());
    } catch (const std::exception& e) {
        // It may have stopped at the helper's memory limit: what it loaded
        // goes before the reason and the reply are written.
        qpdf_.reset();
        failure_ = libraryError(e, path, Doing{Doing::ReadingPages});
    }
}

TrialReading::~TrialReading() = default;

}  // namespace orvane
