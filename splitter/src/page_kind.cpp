#include "page_kind.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDFTokenizer.hh>

#include "budgets.h"

namespace orvane {

namespace {

// The full-page image must cover this share of the visible page box for the
// page to be judged from the image alone.
constexpr double kMinCoverage = 0.90;

// Accepts the content of a typical scanned page and nothing else: any other
// operator or operand means the page draws more than one picture and must be
// rendered. The tokens are read straight from the text; qpdf's content
// parser would want a stream object, in a PDF of its own, for every page.
class SingleImageScan {
public:
    ContentScan scan;

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
            if (!scan.image.empty() || operands_.size() != 1 || !operands_[0].isName) return false;
            scan.image = operands_[0].name;
            scan.placement = ctm_;
        } else {
            return false;
        }
        return true;
    }
    void fail() { scan.plain = false; }

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

bool overLimit(QPDFObjectHandle value, double limit) {
    return value.isNumber() && value.getNumericValue() > limit;
}

}  // namespace

ContentScan readContent(const std::string& content) {
    SingleImageScan reader;
    reader.read(content);
    return reader.scan;
}

QPDFObjectHandle drawnImage(const ContentScan& scan, QPDFPageObjectHelper& page) {
    QPDFObjectHandle resources = page.getAttribute("/Resources", false);
    QPDFObjectHandle xobjects = resources.isDictionary() ? resources.getKey("/XObject") : QPDFObjectHandle::newNull();
    return xobjects.isDictionary() ? xobjects.getKey(scan.image) : QPDFObjectHandle::newNull();
}

bool colourlessImage(QPDFObjectHandle image) {
    if (!image.isStream()) return false;
    QPDFObjectHandle idict = image.getDict(), mask = idict.getKey("/ImageMask");
    return (mask.isBool() && mask.getBoolValue()) || components(idict.getKey("/ColorSpace")) == 1;
}

PageKind pageKind(const ContentScan& scan, QPDFPageObjectHelper& page, bool colourless) {
    if (!scan.plain) return PageKind::Rendered;
    if (scan.image.empty()) return PageKind::Grey;  // a blank page
    QPDFObjectHandle image = drawnImage(scan, page);
    if (!image.isStream()) return PageKind::Rendered;
    QPDFObjectHandle idict = image.getDict();
    if (!isName(idict.getKey("/Subtype"), "/Image")) return PageKind::Rendered;

    // With no colour operator allowed, a stencil mask paints black and a
    // grey image paints grey: the page has no colour at all.
    QPDFObjectHandle mask = idict.getKey("/ImageMask");
    const int comps = components(idict.getKey("/ColorSpace"));
    const bool stencil = mask.isBool() && mask.getBoolValue();
    if (colourlessImage(image)) {
        if (!colourless) return PageKind::Grey;
        if (stencil) return PageKind::Rendered;
    }
    QPDFObjectHandle bpc = idict.getKey("/BitsPerComponent");
    if ((comps != 3 && comps != 1) || !isSingleDct(idict.getKey("/Filter")) || !bpc.isInteger() || bpc.getIntValue() != 8 ||
        idict.hasKey("/SMask") || idict.hasKey("/Mask") || idict.hasKey("/Decode"))
        return PageKind::Rendered;
    if (coverage(scan.placement, page.getCropBox().getArrayAsRectangle()) < kMinCoverage) return PageKind::Rendered;
    QPDFObjectHandle width = idict.getKey("/Width"), height = idict.getKey("/Height");
    if ((width.isNumber() && overLimit(height, kMaxImagePixels / width.getNumericValue())) ||
        overLimit(idict.getKey("/Length"), static_cast<double>(kMaxImageBytes)))
        return PageKind::OverBudget;
    return PageKind::Jpeg;
}

}  // namespace orvane
