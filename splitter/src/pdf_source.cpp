#include "pdf_source.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <qpdf/QPDFMatrix.hh>

#include "budgets.h"
#include "jpeg_small.h"
#include "pdf_open.h"
#include "reasons.h"
#include "writer.h"

namespace orvane {

namespace {

// The full-page image must cover this share of the visible page box for the
// page to be judged from the image alone.
constexpr double kMinCoverage = 0.90;

// Accepts the content of a typical scanned page, "q a b c d e f cm /Im0 Do
// Q", and nothing else: any other operator or operand means the page draws
// more than one picture and must be rendered. The tokens are read straight
// from the text; qpdf's content parser would want a stream object, in a PDF
// of its own, for every page.
class SingleImageScan {
public:
    bool plain = true;
    std::string image;  // name of the one XObject drawn, empty if none
    QPDFMatrix placement;

    void read(const std::string& content) {
        auto input = std::make_shared<BufferInputSource>("page content", content);
        QPDFTokenizer tokenizer;
        tokenizer.allowEOF();
        for (;;) {
            const QPDFTokenizer::Token token = tokenizer.readToken(input, "page content", true);
            switch (token.getType()) {
            case QPDFTokenizer::tt_eof:
                return;
            case QPDFTokenizer::tt_integer:
            case QPDFTokenizer::tt_real:
                operands_.push_back(Operand{false, std::strtod(token.getValue().c_str(), nullptr), {}});
                continue;
            case QPDFTokenizer::tt_name:
                operands_.push_back(Operand{true, 0.0, token.getValue()});
                continue;
            case QPDFTokenizer::tt_word:
                if (!apply(token.getValue())) return fail();
                operands_.clear();
                continue;
            default:  // strings, arrays, dictionaries, inline images, bad tokens
                return fail();
            }
        }
    }

private:
    struct Operand {
        bool isName;
        double number;
        std::string name;
    };

    bool apply(const std::string& op) {
        if (op == "q") {
            stack_.push_back(ctm_);
        } else if (op == "Q") {
            if (stack_.empty()) return false;
            ctm_ = stack_.back();
            stack_.pop_back();
        } else if (op == "cm") {
            if (operands_.size() != 6) return false;
            double v[6];
            for (int i = 0; i < 6; ++i) {
                if (operands_[i].isName) return false;
                v[i] = operands_[i].number;
            }
            // The operator's matrix times the current one.
            ctm_.concat(QPDFMatrix(v[0], v[1], v[2], v[3], v[4], v[5]));
        } else if (op == "Do") {
            if (!image.empty() || operands_.size() != 1 || !operands_[0].isName) return false;
            image = operands_[0].name;
            placement = ctm_;
        } else {
            return false;
        }
        return true;
    }
    void fail() { plain = false; }

    std::vector<Operand> operands_;
    std::vector<QPDFMatrix> stack_;
    QPDFMatrix ctm_;
};

bool isName(QPDFObjectHandle o, const char* name) { return o.isName() && o.getName() == name; }

// Number of colour components of an image colour space, 0 if it is one we
// do not judge from the image data.
int components(QPDFObjectHandle cs) {
    if (cs.isName()) {
        const std::string n = cs.getName();
        if (n == "/DeviceGray" || n == "/G") return 1;
        if (n == "/DeviceRGB" || n == "/RGB") return 3;
        return 0;
    }
    if (cs.isArray() && cs.getArrayNItems() >= 1) {
        QPDFObjectHandle family = cs.getArrayItem(0);
        if (isName(family, "/CalGray")) return 1;
        if (isName(family, "/CalRGB")) return 3;
        if (isName(family, "/ICCBased") && cs.getArrayNItems() >= 2) {
            QPDFObjectHandle s = cs.getArrayItem(1);
            if (s.isStream()) {
                QPDFObjectHandle n = s.getDict().getKey("/N");
                if (n.isInteger() && (n.getIntValue() == 1 || n.getIntValue() == 3))
                    return static_cast<int>(n.getIntValue());
            }
        }
    }
    return 0;
}

bool isSingleDct(QPDFObjectHandle filter) {
    if (isName(filter, "/DCTDecode")) return true;
    return filter.isArray() && filter.getArrayNItems() == 1 &&
           isName(filter.getArrayItem(0), "/DCTDecode");
}

// Share of the box covered by the unit square mapped through m, or 0 when
// the image is drawn skewed or turned by an odd angle.
double coverage(const QPDFMatrix& m, const QPDFObjectHandle::Rectangle& box) {
    const double tol = 1e-3 * (std::fabs(m.a) + std::fabs(m.b) + std::fabs(m.c) + std::fabs(m.d));
    const bool straight = std::fabs(m.b) <= tol && std::fabs(m.c) <= tol;
    const bool quarter = std::fabs(m.a) <= tol && std::fabs(m.d) <= tol;
    if (!straight && !quarter) return 0.0;
    const double xs[4] = {m.e, m.e + m.a, m.e + m.c, m.e + m.a + m.c};
    const double ys[4] = {m.f, m.f + m.b, m.f + m.d, m.f + m.b + m.d};
    const double ix0 = std::max(*std::min_element(xs, xs + 4), std::min(box.llx, box.urx));
    const double ix1 = std::min(*std::max_element(xs, xs + 4), std::max(box.llx, box.urx));
    const double iy0 = std::max(*std::min_element(ys, ys + 4), std::min(box.lly, box.ury));
    const double iy1 = std::min(*std::max_element(ys, ys + 4), std::max(box.lly, box.ury));
    const double area = std::fabs((box.urx - box.llx) * (box.ury - box.lly));
    if (ix1 <= ix0 || iy1 <= iy0 || area <= 0) return 0.0;
    return (ix1 - ix0) * (iy1 - iy0) / area;
}

// Hands an image's raw data, as qpdf reads it from the file, to a decoder,
// and ends the reading as soon as the decoder wants no more: a page settled
// near its top is read no further.
class DecoderFeed : public Pipeline {
public:
    explicit DecoderFeed(JpegRowsDecoder& decoder) : Pipeline("image data", nullptr), decoder_(decoder) {}
    void write(unsigned char const* data, size_t len) override {
        if (wanted) {
            try {
                wanted = decoder_.feed(data, len);
            } catch (const JpegError& e) {
                error = e.what();
                wanted = false;
            }
        }
        if (!wanted) throw Enough();
    }
    void finish() override {}

    // Thrown to end the reading; qpdf takes any exception as the end.
    struct Enough : std::exception {};
    bool wanted = true;
    std::string error;  // libjpeg refused the data

private:
    JpegRowsDecoder& decoder_;
};

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

// Parses the page's content into `scan`, unless it is longer than any plain
// scanned page's: then false. Each stream is decoded straight into the
// bounded buffer (qpdf's own pipeContents would decode a whole stream into
// memory first).
bool scanContent(QPDFPageObjectHelper& page, SingleImageScan& scan) {
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
        } catch (const std::exception&) {
            if (!content.over) throw;
        }
        if (content.over) return false;
        content.write(reinterpret_cast<const unsigned char*>("\n"), 1);
    }
    scan.read(content.text);
    return true;
}

bool overLimit(QPDFObjectHandle value, double limit) {
    return value.isNumber() && value.getNumericValue() > limit;
}

}  // namespace

SourcePdf::SourcePdf(const std::string& path, Helper& helper, int trialPages)
    : path_(path), file_(newFileId()), helper_(helper) {
    if (trialPages < 0) trialPages = passTrial(helper_, path_, file_);
    readStructure(qpdf_, path_);
    try {
        pages_ = QPDFPageDocumentHelper(qpdf_).getAllPages();
        // After a repair the page tree may have lost pages; splitting what
        // is left would lose them silently.
        QPDFObjectHandle count = qpdf_.getRoot().getKey("/Pages").getKey("/Count");
        if (!count.isInteger() || count.getIntValue() != static_cast<long long>(pages_.size()))
            throw FileError("damaged: the page tree is broken (" + std::to_string(pages_.size()) +
                            " pages found, " +
                            (count.isInteger() ? std::to_string(count.getIntValue()) : "no count") +
                            " listed)");
    } catch (const std::exception& e) {
        throw FileError(fileReason(e, path_, Doing{Doing::ReadingPages}));
    }
    if (pages_.empty()) throw FileError("it has no pages");
    if (pageCount() != trialPages) throw FileError("cannot be read (it changed while being split)");
}

SourcePdf::~SourcePdf() = default;

PageResult SourcePdf::lookAt(int index, int threshold) {
    PageResult result;
    try {
        QPDFPageObjectHelper& page = pages_.at(static_cast<std::size_t>(index));
        QPDFObjectHandle dict = page.getObjectHandle();
        QPDFObjectHandle annots = dict.getKey("/Annots");
        if (annots.isArray() && annots.getArrayNItems() > 0) return render(index, threshold);

        SingleImageScan scan;
        const std::size_t warned = qpdf_.numWarnings();
        if (!scanContent(page, scan)) {
            // The decoding we stopped is no damage of the file.
            budgetWarnings_ += qpdf_.numWarnings() - warned;
            return render(index, threshold);
        }
        if (!scan.plain) return render(index, threshold);
        if (scan.image.empty()) {  // a blank page
            result.path = LookPath::Grey;
            return result;
        }
        QPDFObjectHandle resources = page.getAttribute("/Resources", false);
        QPDFObjectHandle xobjects =
            resources.isDictionary() ? resources.getKey("/XObject") : QPDFObjectHandle::newNull();
        QPDFObjectHandle image =
            xobjects.isDictionary() ? xobjects.getKey(scan.image) : QPDFObjectHandle::newNull();
        if (!image.isStream()) return render(index, threshold);
        QPDFObjectHandle idict = image.getDict();
        if (!isName(idict.getKey("/Subtype"), "/Image")) return render(index, threshold);

        // With no colour operator allowed, a stencil mask paints black and a
        // grey image paints grey: the page has no colour at all.
        QPDFObjectHandle mask = idict.getKey("/ImageMask");
        const int comps = components(idict.getKey("/ColorSpace"));
        if ((mask.isBool() && mask.getBoolValue()) || comps == 1) {
            result.path = LookPath::Grey;
            return result;
        }
        QPDFObjectHandle bpc = idict.getKey("/BitsPerComponent");
        if (comps != 3 || !isSingleDct(idict.getKey("/Filter")) || !bpc.isInteger() ||
            bpc.getIntValue() != 8 || idict.hasKey("/SMask") || idict.hasKey("/Mask") ||
            idict.hasKey("/Decode"))
            return render(index, threshold);
        if (coverage(scan.placement, page.getCropBox().getArrayAsRectangle()) < kMinCoverage)
            return render(index, threshold);
        QPDFObjectHandle width = idict.getKey("/Width"), height = idict.getKey("/Height");
        if ((width.isNumber() && overLimit(height, kMaxImagePixels / width.getNumericValue())) ||
            overLimit(idict.getKey("/Length"), static_cast<double>(kMaxImageBytes)))
            return overBudget(false);

        JudgeRows judged(threshold);
        const JpegKind kind = decodeImage(image, judged);
        if (kind == JpegKind::Grey) {
            result.path = LookPath::Grey;
            return result;
        }
        if (kind == JpegKind::Unsupported) return render(index, threshold);
        if (kind == JpegKind::OverBudget) return overBudget(false);
        result.path = LookPath::Jpeg;
        result.look = judged.look();
        return result;
    } catch (const std::exception& e) {
        throw FileError(fileReason(e, path_, Doing{Doing::ReadingPage, index, index}));
    }
}

// Decodes a page's image straight from the file, reading no more of its
// data than the rule needs. Throws JpegError, or std::runtime_error when the
// data cannot be read from the file.
JpegKind SourcePdf::decodeImage(QPDFObjectHandle image, JpegRows& rows) {
    JpegRowsDecoder decoder(rows);
    DecoderFeed feed(decoder);
    const std::size_t warned = qpdf_.numWarnings();
    const bool whole = image.pipeStreamData(&feed, nullptr, 0, qpdf_dl_none, true, false);
    // Reading stopped by us is no damage of the file.
    if (!whole) budgetWarnings_ += qpdf_.numWarnings() - warned;
    if (!feed.error.empty()) throw JpegError(feed.error);
    if (feed.wanted && !whole) throw std::runtime_error("its image data cannot be read");
    return decoder.finish();
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
    if (!drawn) throw FileError("damaged: page " + std::to_string(index + 1) + " cannot be rendered");
    return result;
}

// A page that cannot be judged within its budget is not a separator: it
// stays in its document, and a person is asked to check it.
PageResult SourcePdf::overBudget(bool slow) {
    if (slow && ++slowPages_ >= kMaxSlowPages)
        throw FileError("over the limits: " + std::to_string(kMaxSlowPages) +
                        " pages take more than " + std::to_string(static_cast<int>(kRenderSeconds)) +
                        " s each to render");
    PageResult result;
    result.path = LookPath::Rendered;
    result.look.unsure = true;
    return result;
}

void SourcePdf::writeDocument(int first, int last, const std::string& outPath) {
    try {
        // Pages inherit /Resources, /MediaBox ... from the page tree; a copied
        // page has no tree, so the values must sit on the page itself.
        if (!inheritedPushed_) {
            qpdf_.pushInheritedAttributesToPage();
            inheritedPushed_ = true;
        }
        writePages(qpdf_, std::vector<QPDFPageObjectHelper>(pages_.begin() + first, pages_.begin() + last + 1),
                   outPath);
    } catch (const std::exception& e) {
        throw FileError(fileReason(e, path_, Doing{Doing::Copying, first, last}));
    }
}

}  // namespace orvane
