#include "pdf_source.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>

#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFTokenizer.hh>
#include <qpdf/QPDFWriter.hh>

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include "isolate.h"
#include "jpeg_small.h"

namespace orvane {

namespace {

// Rendering resolution for pages that are not one plain scanned image: about
// 200 x 280 pixels for A4, plenty for a rule about large areas of colour.
constexpr double kRenderDpi = 24.0;
constexpr double kRenderMaxSide = 300.0;  // pixels, for very large pages

// The full-page image must cover this share of the visible page box for the
// page to be judged from the image alone.
constexpr double kMinCoverage = 0.90;

// Budgets: what one file and one page may cost at most (splitter/README.md,
// "Limits"). Each file gets a child process with a memory limit: it first
// reads the file's structure on trial, within a time limit, so the same
// reading in the worker is known to fit, and then renders the pages that
// need it, each within a time limit.
constexpr double kReadSeconds = 30.0;
#if defined(__SANITIZE_ADDRESS__)  // gcc
#define ORVANE_ASAN 1
#elif defined(__has_feature)  // clang
#if __has_feature(address_sanitizer)
#define ORVANE_ASAN 1
#endif
#endif
#ifdef ORVANE_ASAN
// AddressSanitizer keeps freed memory in quarantine (256 MB by default) and
// adds its own bookkeeping: the memory budgets are its and ours.
constexpr std::size_t kSanitizerMemory = std::size_t(1536) << 20;
#else
constexpr std::size_t kSanitizerMemory = 0;
#endif
constexpr std::size_t kChildMemory = (std::size_t(160) << 20) + kSanitizerMemory;
constexpr std::size_t kMaxPages = 50000;
constexpr int kMaxTreeDepth = 64;
constexpr double kRenderSeconds = 10.0;
// A file in which this many pages run out of render time is not split: it
// would cost minutes per page.
constexpr int kMaxSlowPages = 3;
// A plain scanned page's content is a few dozen bytes; longer content is
// rendered (in the child) instead of being decoded here.
constexpr std::size_t kMaxPlainContent = 64 * 1024;
// The page image judged from its JPEG data: declared pixels and raw bytes.
constexpr double kMaxImagePixels = 200e6;
constexpr long long kMaxImageBytes = 256LL << 20;
// Copying a page nests one call per object it enters (about 160 bytes of
// stack each in qpdf 11.3, measured on chains of arrays, dictionaries and
// forms), so never deeper than the number of objects it would enter as a
// document's first page: as a later page it enters only part of them. A page
// entering at most this many needs at most about 1.6 MB of stack, a fifth of
// a thread's usual 8 MB.
constexpr std::size_t kSafeCopyObjects = 10000;

std::string mib(std::size_t bytes) { return std::to_string(bytes >> 20) + " MB"; }

struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};

// m x ctm, as the PDF "cm" operator does.
Matrix concat(const Matrix& m, const Matrix& t) {
    Matrix r;
    r.a = m.a * t.a + m.b * t.c;
    r.b = m.a * t.b + m.b * t.d;
    r.c = m.c * t.a + m.d * t.c;
    r.d = m.c * t.b + m.d * t.d;
    r.e = m.e * t.a + m.f * t.c + t.e;
    r.f = m.e * t.b + m.f * t.d + t.f;
    return r;
}

// Accepts the content of a typical scanned page, "q a b c d e f cm /Im0 Do
// Q", and nothing else: any other operator or operand means the page draws
// more than one picture and must be rendered. The tokens are read straight
// from the text; qpdf's content parser would want a stream object, in a PDF
// of its own, for every page.
class SingleImageScan {
public:
    bool plain = true;
    std::string image;  // name of the one XObject drawn, empty if none
    Matrix placement;

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
            ctm_ = concat(Matrix{v[0], v[1], v[2], v[3], v[4], v[5]}, ctm_);
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
    std::vector<Matrix> stack_;
    Matrix ctm_;
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
double coverage(const Matrix& m, const QPDFObjectHandle::Rectangle& box) {
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

void quiet(const std::string&, void*) {}

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

// Walks the page tree as written in the file. qpdf stands in an empty page
// for a page object it cannot find; such a file would give documents with
// a blank page where a scanned page was, so it is refused. The walk (and
// qpdf's own, which recurses) is bounded in depth and in pages.
void checkPageTree(QPDFObjectHandle node, std::set<QPDFObjGen>& seen, std::size_t& pages, int depth) {
    if (depth > kMaxTreeDepth)
        throw FileError("over the limits: the page tree is nested more than " +
                        std::to_string(kMaxTreeDepth) + " levels deep");
    QPDFObjectHandle kids = node.getKey("/Kids");
    for (int i = 0, n = kids.isArray() ? kids.getArrayNItems() : 0; i < n; ++i) {
        QPDFObjectHandle kid = kids.getArrayItem(i);
        if (!kid.isDictionary())
            throw FileError("damaged: page " + std::to_string(pages + 1) + " is missing from the file");
        if (kid.isIndirect() && !seen.insert(kid.getObjGen()).second)
            throw FileError("damaged: the page tree refers to itself");
        if (kid.getKey("/Kids").isArray())
            checkPageTree(kid, seen, pages, depth + 1);
        else if (++pages > kMaxPages)
            throw FileError("over the limits: more than " + std::to_string(kMaxPages) + " pages");
    }
}

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

// Copying a page into a document (writeDocument) walks, recursively inside
// qpdf, every array, dictionary and stream the page refers to: each once per
// document, never into a page-tree node nor past another page. Walks the same
// objects of `page` without recursion, resolving each as the copy would, and
// counts those entered; stops once the count passes `limit`. (A direct
// dictionary is always entered, whatever its type: the count is never less
// than the copy's.)
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

bool ranOutOfMemory(QPDF& qpdf) {
    for (const QPDFExc& w : qpdf.getWarnings())
        if (w.getMessageDetail().find("bad_alloc") != std::string::npos) return true;
    return false;
}

bool overLimit(QPDFObjectHandle value, double limit) {
    return value.isNumber() && value.getNumericValue() > limit;
}

void copyText(const std::string& text, char* out, std::size_t size) {
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// Renders page `index` of `doc` small and judges it; false if poppler cannot.
bool renderAndJudge(poppler::document* doc, int index, int threshold, PageLook& look) {
    if (!doc || doc->is_locked() || index >= doc->pages()) return false;
    std::unique_ptr<poppler::page> page(doc->create_page(index));
    if (!page) return false;
    const poppler::rectf box = page->page_rect(poppler::crop_box);
    const double longSide = std::max(box.width(), box.height());
    if (!std::isfinite(longSide) || longSide <= 0) return false;
    const double dpi = std::min(kRenderDpi, kRenderMaxSide * 72.0 / longSide);

    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    renderer.set_image_format(poppler::image::format_argb32);
    poppler::image img = renderer.render_page(page.get(), dpi, dpi);
    const int w = img.width(), h = img.height();
    if (!img.is_valid() || w <= 0 || h <= 0 || w > 2 * kRenderMaxSide || h > 2 * kRenderMaxSide)
        return false;

    // ARGB32 is one native 32-bit word per pixel, 0xAARRGGBB, on white paper.
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    const char* data = img.const_data();
    for (int y = 0; y < h; ++y) {
        const char* row = data + static_cast<std::ptrdiff_t>(y) * img.bytes_per_row();
        std::uint8_t* out = rgb.data() + static_cast<std::size_t>(y) * w * 3;
        for (int x = 0; x < w; ++x) {
            std::uint32_t v;
            std::memcpy(&v, row + 4 * x, 4);
            out[3 * x] = static_cast<std::uint8_t>(v >> 16);
            out[3 * x + 1] = static_cast<std::uint8_t>(v >> 8);
            out[3 * x + 2] = static_cast<std::uint8_t>(v);
        }
    }
    look = judgePage(rgb.data(), w, h, static_cast<std::ptrdiff_t>(w) * 3, threshold);
    return true;
}

std::string pageText(int index) { return "page " + std::to_string(index + 1); }

}  // namespace

// A page with one line of text: drawing it once sets up poppler's globals
// and the system's font configuration, which every render child then
// inherits instead of setting them up again.
constexpr char kWarmUpPdf[] =
    "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
    "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
    "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 72 72]/Resources<</Font<</F1 4 0 R>>>>"
    "/Contents 5 0 R>>endobj\n"
    "4 0 obj<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>endobj\n"
    "5 0 obj<</Length 31>>stream\nBT /F1 9 Tf 9 9 Td (Ag) Tj ET\nendstream endobj\n"
    "trailer<</Root 1 0 R>>\n%%EOF\n";

std::atomic<std::size_t> crashedChildren{0};

std::size_t childCrashes() { return crashedChildren; }

void initialiseLibraries() {
    poppler::set_debug_error_function(quiet, nullptr);
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(kWarmUpPdf, static_cast<int>(sizeof kWarmUpPdf - 1)));
    PageLook look;
    renderAndJudge(doc.get(), 0, kDefaultThreshold, look);
}

SourcePdf::SourcePdf(const std::string& path, bool readOnTrial) : path_(path) { open(readOnTrial); }

SourcePdf::SourcePdf(const std::string& name, const char* data, std::size_t size)
    : path_(name), data_(data), size_(size) {
    open(true);
}

// Reads the file structure and checks the page tree. Throws FileError.
void SourcePdf::read(QPDF& qpdf) const {
    qpdf.setSuppressWarnings(true);
    try {
        if (data_)
            qpdf.processMemoryFile(path_.c_str(), data_, size_);
        else
            qpdf.processFile(path_.c_str());
    } catch (const QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password)
            throw FileError("encrypted: it needs a password to open");
        throw FileError("damaged or not a PDF file (" + e.getMessageDetail() + ")");
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        throw FileError(std::string("cannot be read (") + e.what() + ")");
    }
    // A file that opens without a password but is encrypted carries the
    // author's restrictions; writing its pages out would silently drop them.
    if (qpdf.isEncrypted()) throw FileError("encrypted: its protection would be lost by splitting");
    try {
        std::set<QPDFObjGen> seen;
        std::size_t listed = 0;
        checkPageTree(qpdf.getRoot().getKey("/Pages"), seen, listed, 0);
    } catch (const FileError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        throw FileError(std::string("damaged: the pages cannot be read (") + e.what() + ")");
    }
}

// The trial reading, in the child: everything qpdf may decode while the
// pages are copied (object streams included) is read here, so a file that
// would hang or take memory without bound ends the child, not the splitter.
// Returns why the file cannot be split, or nothing.
std::string SourcePdf::trialReading() const {
    try {
        QPDF trial;
        read(trial);
        // Copying a page recurses over what it refers to. A page that
        // refers to too much for that to be surely safe is copied here for
        // real, as a document's first page: if its objects nest deeper than
        // qpdf's stack can take, the child ends, not the worker.
        trial.pushInheritedAttributesToPage();
        for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(trial).getAllPages()) {
            if (copyWalk(page.getObjectHandle(), kSafeCopyObjects) <= kSafeCopyObjects) continue;
            QPDF copy;
            copy.emptyPDF();
            QPDFPageDocumentHelper(copy).addPage(page, false);
        }
        for (QPDFObjectHandle& o : trial.getAllObjects()) o.getTypeCode();
        // qpdf turns a failed decoding into a warning and reads on without
        // the object; in the worker, with no limit, the same decoding would
        // succeed.
        if (ranOutOfMemory(trial)) throw std::bad_alloc();
    } catch (const FileError& e) {
        return e.what();
    } catch (const std::bad_alloc&) {
        return "over the limits: reading it needs more than " + mib(kChildMemory) + " of memory";
    } catch (const std::exception& e) {
        return std::string("damaged: the pages cannot be read (") + e.what() + ")";
    }
    return std::string();
}

// The child's side of a request: the trial reading, or one page rendered
// (the document is loaded once and kept for the next pages).
bool SourcePdf::serve(const ChildRequest& request, ChildReply& reply) {
    if (request.page < 0) {
        copyText(trialReading(), reply.why, sizeof reply.why);
        return true;
    }
    if (!childDocument_)
        childDocument_.reset(data_ ? poppler::document::load_from_raw_data(data_, static_cast<int>(size_))
                                   : poppler::document::load_from_file(path_));
    reply.rendered = renderAndJudge(childDocument_.get(), request.page, request.threshold, reply.look);
    return true;
}

void SourcePdf::open(bool readOnTrial) {
    child_.reset(new IsolatedServer(
        [this](const void* request, void* reply) {
            return serve(*static_cast<const ChildRequest*>(request), *static_cast<ChildReply*>(reply));
        },
        sizeof(ChildRequest), sizeof(ChildReply), kChildMemory));
    if (readOnTrial) passTrial();
    read(qpdf_);
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
    } catch (const FileError&) {
        throw;
    } catch (const std::exception& e) {
        throw FileError(std::string("damaged: the pages cannot be read (") + e.what() + ")");
    }
    if (pages_.empty()) throw FileError("it has no pages");
}

// Has the child read the file on trial. Throws FileError when the file does
// not pass.
void SourcePdf::passTrial() {
    ChildReply verdict{};
    const ChildRequest trial{-1, 0};
    const IsolatedEnd end = child_->call(&trial, &verdict, kReadSeconds);
    if (end == IsolatedEnd::Crashed) ++crashedChildren;
    if (end == IsolatedEnd::TimedOut)
        throw FileError("over the limits: reading it takes more than " +
                        std::to_string(static_cast<int>(kReadSeconds)) + " s");
    if (end == IsolatedEnd::Crashed) throw FileError("damaged: qpdf crashes while reading it");
    if (end != IsolatedEnd::Done) throw FileError("cannot be read (no process for reading it)");
    if (verdict.why[0]) throw FileError(verdict.why);
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
    } catch (const FileError&) {
        throw;
    } catch (const JpegError& e) {
        throw FileError("damaged: the image of " + pageText(index) + " cannot be decoded (" +
                        e.what() + ")");
    } catch (const QPDFExc& e) {
        throw FileError("damaged: " + pageText(index) + " cannot be read (" +
                        e.getMessageDetail() + ")");
    } catch (const std::exception& e) {
        throw FileError("damaged: " + pageText(index) + " cannot be read (" + e.what() + ")");
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

// Poppler runs in the child process with a time and memory limit: a page it
// would take minutes or gigabytes to draw, or that makes it crash, ends the
// child, and the page counts as unsure.
PageResult SourcePdf::render(int index, int threshold) {
    const ChildRequest request{index, threshold};
    ChildReply out{};
    // A child that has read or drawn before may have spent its memory on
    // that: a page that fails there gets one more try in a fresh child.
    const bool fresh = !child_->running();
    IsolatedEnd end = child_->call(&request, &out, kRenderSeconds);
    if (!fresh && (end == IsolatedEnd::Crashed || end == IsolatedEnd::Failed))
        end = child_->call(&request, &out, kRenderSeconds);
    if (end == IsolatedEnd::Crashed) ++crashedChildren;
    if (end == IsolatedEnd::TimedOut) return overBudget(true);
    if (end != IsolatedEnd::Done) return overBudget(false);
    if (!out.rendered) throw FileError("damaged: " + pageText(index) + " cannot be rendered");
    PageResult result;
    result.path = LookPath::Rendered;
    result.look = out.look;
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
        QPDF out;
        out.setSuppressWarnings(true);
        out.emptyPDF();
        QPDFPageDocumentHelper helper(out);
        for (int i = first; i <= last; ++i)
            helper.addPage(pages_.at(static_cast<std::size_t>(i)), false);
        QPDFWriter writer(out, outPath.c_str());
        // Copy every stream byte for byte: no recompression, no re-encoding.
        writer.setStreamDataMode(qpdf_s_preserve);
        writer.setMinimumPDFVersion(qpdf_.getPDFVersion());
        writer.write();
    } catch (const QPDFExc& e) {
        throw FileError("damaged: pages " + std::to_string(first + 1) + "-" +
                        std::to_string(last + 1) + " cannot be copied (" + e.getMessageDetail() +
                        ")");
    } catch (const std::exception& e) {
        throw FileError("a document cannot be written (" + std::string(e.what()) + ")");
    }
}

}  // namespace orvane
