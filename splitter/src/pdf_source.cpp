#include "pdf_source.h"

#include <memory>
#include <stdexcept>

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "budgets.h"
#include "jpeg_feed.h"
#include "jpeg_small.h"
#include "page_kind.h"
#include "pdf_open.h"
#include "reasons.h"
#include "writer.h"

namespace orvane {

namespace {

// Hands decoded rows straight to the rule, which stops the decoding as soon
// as the page is certainly not a separator.
class JudgeRows : public JpegRows {
public:
    explicit JudgeRows(int threshold) : threshold_(threshold) {}
    int begin(int width, int height) override {
        judge_.reset(new PageJudge(width, height, threshold_));
        return judge_->rowsWanted();
    }
    bool row(int y, const std::uint8_t* rgb) override { return judge_->addRow(y, rgb); }
    PageLook look() const { return judge_ ? judge_->finish() : PageLook{}; }

private:
    int threshold_;
    std::unique_ptr<PageJudge> judge_;
};

// Collects a page's decoded content up to a limit; past it, `over` is set
// and the decoding is stopped (qpdf may retry with the raw data, which is
// refused as well).
class BoundedContent : public Pipeline {
public:
    explicit BoundedContent(std::size_t limit) : Pipeline("page content", nullptr), limit_(limit) {}
    void write(unsigned char const* data, size_t len) override {
        if (over || len > limit_ - text.size()) {
            over = true;
            throw std::length_error("page content over its budget");
        }
        text.append(reinterpret_cast<const char*>(data), len);
    }
    void finish() override {}

    std::string text;
    bool over = false;

private:
    std::size_t limit_;
};

// Reads the page's content into `text`, unless it is longer than any plain
// scanned page's: then false. Each stream is decoded straight into the
// bounded buffer (qpdf's own pipeContents would decode a whole stream into
// memory first).
bool pageContent(QPDFPageObjectHelper& page, std::string& text) {
    QPDFObjectHandle contents = page.getObjectHandle().getKey("/Contents");
    std::vector<QPDFObjectHandle> streams;
    if (contents.isArray())
        streams = contents.getArrayAsVector();
    else
        streams.push_back(contents);
    BoundedContent content(kMaxPlainContent);
    for (QPDFObjectHandle& stream : streams) {
        if (!stream.isStream()) continue;
        try {
            if (!stream.pipeStreamData(&content, 0, qpdf_dl_specialized))
                throw std::runtime_error("its content cannot be decoded");
            // Streams are joined as separate lines; the line end counts
            // against the budget too, and content that fills it exactly is
            // over it with that.
            content.write(reinterpret_cast<const unsigned char*>("\n"), 1);
        } catch (const std::exception&) {
            if (!content.over) throw;
        }
        if (content.over) return false;
    }
    text.swap(content.text);
    return true;
}

}  // namespace

SourcePdf::SourcePdf(const std::string& path, Helper& helper, int trialPages)
    : path_(path), file_(newFileId()), helper_(helper) {
    if (trialPages < 0) trialPages = passTrial(helper_, path_, file_);
    readStructure(qpdf_, path_);
    QPDFObjectHandle count;
    try {
        pages_ = QPDFPageDocumentHelper(qpdf_).getAllPages();
        count = qpdf_.getRoot().getKey("/Pages").getKey("/Count");
    } catch (const std::exception& e) {
        throw libraryError(e, path_, Doing{Doing::ReadingPages});
    }
    // After a repair the page tree may have lost pages; splitting what is
    // left would lose them silently.
    if (!count.isInteger() || count.getIntValue() != static_cast<long long>(pages_.size())) {
        Details broken;
        broken.found = static_cast<long long>(pages_.size());
        broken.counted = count.isInteger();
        broken.listed = broken.counted ? count.getIntValue() : 0;
        throw FileError(Fault::TreeBroken, broken);
    }
    if (pages_.empty()) throw FileError(Fault::NoPages);
    if (pageCount() != trialPages) throw FileError(Fault::Changed);
}

SourcePdf::~SourcePdf() = default;

PageResult SourcePdf::grey() {
    PageResult result;
    result.path = LookPath::Grey;
    return result;
}

PageResult SourcePdf::lookAt(int index, int threshold) {
    try {
        QPDFPageObjectHelper& page = pages_.at(static_cast<std::size_t>(index));
        QPDFObjectHandle annots = page.getObjectHandle().getKey("/Annots");
        if (annots.isArray() && annots.getArrayNItems() > 0) return render(index, threshold);

        std::string content;
        const std::size_t warned = qpdf_.numWarnings();
        if (!pageContent(page, content)) {
            // The decoding we stopped is no damage of the file.
            budgetWarnings_ += qpdf_.numWarnings() - warned;
            return render(index, threshold);
        }
        const ContentScan scan = readContent(content);
        switch (pageKind(scan, page)) {
        case PageKind::Rendered: return render(index, threshold);
        case PageKind::Grey: return grey();
        case PageKind::OverBudget: return overBudget(false);
        case PageKind::Jpeg: break;
        }
        // Decoded straight from the file, no more of its data than the rule
        // needs.
        JudgeRows judged(threshold);
        const JpegKind kind = feedImage(qpdf_, drawnImage(scan, page), judged, budgetWarnings_);
        if (kind == JpegKind::Grey) return grey();
        if (kind == JpegKind::Unsupported) return render(index, threshold);
        if (kind == JpegKind::OverBudget) return overBudget(false);
        PageResult result;
        result.path = LookPath::Jpeg;
        result.look = judged.look();
        return result;
    } catch (const FileError&) {
        throw;
    } catch (const std::exception& e) {
        throw libraryError(e, path_, Doing{Doing::ReadingPage, index, index});
    }
}

// Poppler runs in the worker's helper with a time and memory limit: a page it
// would take minutes or gigabytes to draw, or that makes it crash, ends the
// helper, and the page counts as unsure.
PageResult SourcePdf::render(int index, int threshold) {
    PageResult result;
    result.path = LookPath::Rendered;
    bool drawn = false;
    const HelperEnd end = helper_.render(file_, path_, index, threshold, drawn, result.look);
    if (end == HelperEnd::TimedOut) return overBudget(true);
    if (end != HelperEnd::Done) return overBudget(false);
    if (!drawn) throw FileError(Fault::PageUnrenderable, Details::pages(index, index));
    return result;
}

// A page that cannot be judged within its budget is not a separator: it
// stays in its document, and a person is asked to check it.
PageResult SourcePdf::overBudget(bool slow) {
    if (slow && ++slowPages_ >= kMaxSlowPages)
        throw FileError(Fault::PagesTooSlow);
    PageResult result;
    result.path = LookPath::Rendered;
    result.look.unsure = true;
    return result;
}

void SourcePdf::writeDocument(const std::vector<int>& pages, const std::string& outPath) {
    try {
        // Pages inherit /Resources, /MediaBox ... from the page tree; a copied
        // page has no tree, so the values must sit on the page itself.
        if (!inheritedPushed_) {
            qpdf_.pushInheritedAttributesToPage();
            inheritedPushed_ = true;
        }
        std::vector<QPDFPageObjectHelper> chosen;
        for (int p : pages) chosen.push_back(pages_[static_cast<std::size_t>(p)]);
        writePages(qpdf_, chosen, outPath);
    } catch (const std::exception& e) {
        throw libraryError(e, path_, Doing{Doing::Copying, pages.front(), pages.back()});
    }
}

std::string SourcePdf::creationDate() {
    // A damaged date never fails the file: the name then takes the file's time.
    try {
        QPDFObjectHandle info = qpdf_.getTrailer().getKey("/Info");
        if (!info.isDictionary()) return std::string();
        QPDFObjectHandle date = info.getKey("/CreationDate");
        return date.isString() ? date.getUTF8Value() : std::string();
    } catch (const std::exception&) {
        return std::string();
    }
}

}  // namespace orvane
