// A source page's text recognised (--ocr): the page's own scanned picture,
// decoded here at the resolution it was scanned at, or the page rendered in
// the helper; either way recognised in the helper, within its budget, and
// placed back on the page by `toPage`.
#include <algorithm>
#include <cmath>
#include <exception>

#include "budgets.h"
#include "jpeg_feed.h"
#include "pdf_source.h"

namespace orvane {

namespace {

// The page's picture as grey, one byte a pixel, with the weights tesseract
// itself turns a colour picture grey with (leptonica's 0.3, 0.5, 0.2), so
// that it reads what it would read of the picture as scanned.
class GreyRows : public JpegRows {
public:
    bool decodeGrey() override { return true; }
    bool faithful() const override { return true; }
    int begin(int width, int height) override {
        if (static_cast<double>(width) * height > kMaxOcrPixels) {
            over = true;
            return 0;
        }
        picture.width = width;
        picture.height = height;
        picture.grey.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 255);
        return height;
    }
    bool row(int y, const std::uint8_t* rgb) override {
        std::uint8_t* out = picture.grey.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width);
        for (int x = 0; x < picture.width; ++x, rgb += 3)
            out[x] = static_cast<std::uint8_t>(0.3f * rgb[0] + 0.5f * rgb[1] + 0.2f * rgb[2] + 0.5f);
        return true;
    }
    GreyPicture picture;
    bool over = false;
};

// The long side libjpeg is asked for: the picture as scanned, or halved
// (by its DCT scaling, at no cost) until it has at most kMaxOcrPixels.
int longSideWithin(double width, double height) {
    int denom = 1;
    while (denom < 8 && std::ceil(width / denom) * std::ceil(height / denom) > kMaxOcrPixels) denom *= 2;
    return std::max(1, static_cast<int>(std::max(width, height)) / denom);
}

double number(QPDFObjectHandle value) { return value.isNumber() ? value.getNumericValue() : 0.0; }

// Pixels of a picture rendered from the page (its crop box within its media
// box, turned by /Rotate as a viewer shows it) back to the page's user space.
void renderedToPage(QPDFPageObjectHelper& page, PageText& text) {
    const QPDFObjectHandle::Rectangle crop = page.getCropBox().getArrayAsRectangle();
    const QPDFObjectHandle::Rectangle media = page.getMediaBox().getArrayAsRectangle();
    const double x0 = std::max(std::min(crop.llx, crop.urx), std::min(media.llx, media.urx));
    const double x1 = std::min(std::max(crop.llx, crop.urx), std::max(media.llx, media.urx));
    const double y0 = std::max(std::min(crop.lly, crop.ury), std::min(media.lly, media.ury));
    const double y1 = std::min(std::max(crop.lly, crop.ury), std::max(media.lly, media.ury));
    const int rotate = ((static_cast<int>(number(page.getAttribute("/Rotate", false))) % 360) + 360) % 360;
    const bool sideways = rotate == 90 || rotate == 270;
    // Points a pixel across and down the picture as shown.
    const double sx = (sideways ? y1 - y0 : x1 - x0) / text.width;
    const double sy = (sideways ? x1 - x0 : y1 - y0) / text.height;
    double* m = text.toPage;
    // The picture's top-left corner is the box's corner that the turn
    // brings there; across and down run along the box's sides from it.
    if (rotate == 90) {
        m[0] = 0, m[1] = sx, m[2] = sy, m[3] = 0, m[4] = x0, m[5] = y0;
    } else if (rotate == 180) {
        m[0] = -sx, m[1] = 0, m[2] = 0, m[3] = sy, m[4] = x1, m[5] = y0;
    } else if (rotate == 270) {
        m[0] = 0, m[1] = -sx, m[2] = -sy, m[3] = 0, m[4] = x1, m[5] = y1;
    } else {
        m[0] = sx, m[1] = 0, m[2] = 0, m[3] = -sy, m[4] = x0, m[5] = y1;
    }
}

// Pixels of the decoded picture to user space through the image's placement:
// the picture fills the unit square, its top row at y = 1.
void placedToPage(const QPDFMatrix& p, PageText& text) {
    const double w = text.width, h = text.height;
    const double m[6] = {p.a / w, p.b / w, -p.c / h, -p.d / h, p.c + p.e, p.d + p.f};
    std::copy(m, m + 6, text.toPage);
}

}  // namespace

bool SourcePdf::recognise(int index, const std::string& languages, PageText& text) {
    text = PageText{};
    try {
        ContentScan scan;
        const PageKind kind = plainPage(index, scan);
        QPDFPageObjectHelper& page = pages_.at(static_cast<std::size_t>(index));
        QPDFObjectHandle annots = page.getObjectHandle().getKey("/Annots");
        const bool annotated = annots.isArray() && annots.getArrayNItems() > 0;
        if (kind == PageKind::Grey && !annotated) return true;  // draws nothing: nothing to read
        if (kind == PageKind::OverBudget) return false;
        if (kind != PageKind::Jpeg || annotated) return recogniseRendered(index, languages, text);
        QPDFObjectHandle image = drawnImage(scan, page);
        QPDFObjectHandle dict = image.getDict();
        GreyRows rows;
        JpegKind decoded = JpegKind::Unsupported;
        try {
            decoded = feedImage(qpdf_, image, rows, budgetWarnings_,
                                longSideWithin(number(dict.getKey("/Width")), number(dict.getKey("/Height"))));
        } catch (const std::exception&) {
            // Data our decoder refuses may still draw: poppler is asked.
        }
        if (rows.over || decoded == JpegKind::OverBudget) return false;
        if (decoded != JpegKind::Colour || rows.picture.grey.empty()) return recogniseRendered(index, languages, text);
        const QPDFMatrix& at = scan.placement;
        rows.picture.dpi = rows.picture.width / (std::hypot(at.a, at.b) / 72.0);
        if (helper_.recognise(file_, rows.picture, languages, text) != HelperEnd::Done) return false;
        text.width = rows.picture.width;
        text.height = rows.picture.height;
        placedToPage(at, text);
        return true;
    } catch (const std::exception&) {
        // A page that cannot be read again now costs its text, not its file.
        text = PageText{};
        return false;
    }
}

bool SourcePdf::recogniseRendered(int index, const std::string& languages, PageText& text) {
    if (helper_.recogniseRendered(file_, path_, index, languages, text) != HelperEnd::Done) return false;
    if (text.width <= 0 || text.height <= 0) {
        text = PageText{};  // nothing drawn
        return true;
    }
    renderedToPage(pages_.at(static_cast<std::size_t>(index)), text);
    return true;
}

}  // namespace orvane
