#include "pdf_source.h"

#include <cmath>
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
#include "sheet_codes.h"
#include "sheet_rows.h"
#include "writer.h"

namespace orvane {

namespace {

// Hands decoded rows straight to the judges, which stop the decoding as soon
// as the page is certainly no sheet of a kind asked for.
class JudgeRows : public JpegRows {
public:
    // `grey`: the image is declared without colour.
    JudgeRows(int threshold, const SheetKinds& kinds, bool grey) : threshold_(threshold), kinds_(kinds), grey_(grey) {}
    bool decodeGrey() override {
        if (kinds_.colourOnly()) return false;
        grey_ = true;
        return true;
    }
    int begin(int width, int height) override {
        rows_.reset(new SheetRows(width, height, threshold_, kinds_, grey_));
        return rows_->rowsWanted();
    }
    bool grey() const { return grey_; }
    bool row(int y, const std::uint8_t* rgb) override { return rows_->addRow(y, rgb); }
    PageLook look(bool& codeCandidate) const {
        codeCandidate = false;
        return rows_ ? rows_->finish(codeCandidate) : PageLook{};
    }

private:
    int threshold_;
    SheetKinds kinds_;
    bool grey_ = false;  // a grey image, decoded for the other kinds
    std::unique_ptr<SheetRows> rows_;
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

PageResult SourcePdf::blankPage() {
    PageResult result = grey();
    result.look.sheet = SheetKind::Blank;
    return result;
}

PageResult SourcePdf::lookAt(int index, int threshold, const SheetKinds& kinds) {
    try {
        QPDFPageObjectHelper& page = pages_.at(static_cast<std::size_t>(index));
        QPDFObjectHandle annots = page.getObjectHandle().getKey("/Annots");
        if (annots.isArray() && annots.getArrayNItems() > 0) return render(index, threshold, kinds);

        std::string content;
        const std::size_t warned = qpdf_.numWarnings();
        if (!pageContent(page, content)) {
            // The decoding we stopped is no damage of the file.
            budgetWarnings_ += qpdf_.numWarnings() - warned;
            return render(index, threshold, kinds);
        }
        const ContentScan scan = readContent(content);
        switch (pageKind(scan, page, !kinds.colourOnly())) {
        case PageKind::Rendered: return render(index, threshold, kinds);
        case PageKind::Grey:
            // For the other kinds only a page that draws nothing is Grey:
            // as blank as a page can be.
            return kinds.colourOnly() ? grey() : blankPage();
        case PageKind::OverBudget: return overBudget(false);
        case PageKind::Jpeg: break;
        }
        // Decoded straight from the file, no more of its data than the
        // judges need.
        const QPDFObjectHandle image = drawnImage(scan, page);
        JudgeRows judged(threshold, kinds, !kinds.colourOnly() && colourlessImage(image));
        const JpegKind kind = feedImage(qpdf_, image, judged, budgetWarnings_);
        if (kind == JpegKind::Grey) return kinds.colourOnly() ? grey() : render(index, threshold, kinds);
        if (kind == JpegKind::Unsupported) return render(index, threshold, kinds);
        if (kind == JpegKind::OverBudget) return overBudget(false);
        PageResult result;
        result.path = judged.grey() ? LookPath::Grey : LookPath::Jpeg;
        bool codeCandidate = false;
        result.look = judged.look(codeCandidate);
        if (codeCandidate) readCode(closer(image, scan.placement, kCodeDpi), result);
        // Under `blank`, or with blank pages judged, the closer look is due on most such pages: taken
        // here, by the workers side by side. A coloured sheet's is left for
        // the file's step, which asks it only if that sheet does not stand
        // out from the file's paper.
        PageLook& look = result.look;
        if ((kinds.blank || kinds.pages) && look.blankCandidate && !look.candidate && look.sheet == SheetKind::None) {
            const bool blank = closerBlank(closer(image, scan.placement, kBlankDpi), look, look.blankUnsure);
            look.blankCandidate = false;
            if (blank) look.sheet = SheetKind::Blank;
        }
        return result;
    } catch (const FileError&) {
        throw;
    } catch (const std::exception& e) {
        throw libraryError(e, path_, Doing{Doing::ReadingPage, index, index});
    }
}

bool SourcePdf::blankCloser(int index, const PageLook& look, bool& unsure) {
    try {
        ContentScan scan;
        if (plainPage(index, scan) != PageKind::Jpeg) return false;  // judged in its helper
        QPDFPageObjectHelper& page = pages_.at(static_cast<std::size_t>(index));
        return closerBlank(closer(drawnImage(scan, page), scan.placement, kBlankDpi), look, unsure);
    } catch (const FileError&) {
        throw;
    } catch (const std::exception& e) {
        throw libraryError(e, path_, Doing{Doing::ReadingPage, index, index});
    }
}

PageKind SourcePdf::plainPage(int index, ContentScan& scan) {
    QPDFPageObjectHelper& page = pages_.at(static_cast<std::size_t>(index));
    std::string content;
    if (!pageContent(page, content)) return PageKind::Rendered;
    scan = readContent(content);
    return pageKind(scan, page, true);
}

Picture SourcePdf::closer(QPDFObjectHandle image, const QPDFMatrix& placement, double dpi) {
    // The image's sides as drawn on the page, in inches.
    const double across = std::hypot(placement.a, placement.b) / 72.0;
    const double down = std::hypot(placement.c, placement.d) / 72.0;
    PictureRows rows(across);
    feedImage(qpdf_, image, rows, budgetWarnings_, static_cast<int>(std::ceil(dpi * std::max(across, down))));
    return std::move(rows.picture);
}

// zxing-cpp keeps its assertions on, and one may abort: the reading runs in
// the worker's helper, which is sent the grey of the page's printed blocks.
// A reading that crashes or overruns its time ends the helper, and the page
// is no code sheet but is named for checking.
void SourcePdf::readCode(const Picture& picture, PageResult& result) {
    const CodePieces pieces = codePieces(picture);
    if (pieces.pieces.empty()) return;
    std::optional<std::string> text;
    if (helper_.readCode(file_, pieces, text) != HelperEnd::Done) {
        result.look.unsure = result.look.codeUnread = true;
    } else if (text) {
        result.look.sheet = SheetKind::Code;
        result.code = *text;
    }
}

// Poppler runs in the worker's helper with a time and memory limit: a page it
// would take minutes or gigabytes to draw, or that makes it crash, ends the
// helper, and the page counts as unsure.
PageResult SourcePdf::render(int index, int threshold, const SheetKinds& kinds) {
    PageResult result;
    result.path = LookPath::Rendered;
    bool drawn = false;
    const HelperEnd end = helper_.render(file_, path_, index, threshold, kinds, drawn, result.look, result.code);
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

void SourcePdf::writeDocument(const std::vector<int>& pages, const std::string& outPath,
                              const std::vector<const PageText*>& texts) {
    try {
        // Pages inherit /Resources, /MediaBox ... from the page tree; a copied
        // page has no tree, so the values must sit on the page itself.
        if (!inheritedPushed_) {
            qpdf_.pushInheritedAttributesToPage();
            inheritedPushed_ = true;
        }
        std::vector<QPDFPageObjectHelper> chosen;
        for (int p : pages) chosen.push_back(pages_[static_cast<std::size_t>(p)]);
        writePages(qpdf_, chosen, outPath, texts);
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
