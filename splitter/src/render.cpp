#include "render.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include "budgets.h"
#include "path_text.h"
#include "picture.h"
#include "sheet_rows.h"

namespace orvane {

namespace {

// Rendering resolution for pages that are not one plain scanned image: about
// 200 x 280 pixels for A4, plenty for a rule about large areas of colour.
constexpr double kRenderDpi = 24.0;
constexpr double kRenderMaxSide = 300.0;  // pixels, for very large pages

void quiet(const std::string&, void*) {}

// Page `index` rendered in `format` at `dpi`, but no larger than `maxSide`
// pixels a side nor `maxPixels` in all (`dpi` is set to the resolution
// drawn at); an invalid image if poppler cannot draw it.
poppler::image renderImage(poppler::document* doc, int index, double& dpi, double maxSide, double maxPixels,
                           poppler::image::format_enum format) {
    if (!doc || doc->is_locked() || index < 0 || index >= doc->pages()) return poppler::image();
    std::unique_ptr<poppler::page> page(doc->create_page(index));
    if (!page) return poppler::image();
    const poppler::rectf box = page->page_rect(poppler::crop_box);
    const double longSide = std::max(box.width(), box.height());
    const double area = box.width() * box.height();
    if (!std::isfinite(longSide) || longSide <= 0 || !std::isfinite(area) || area <= 0) return poppler::image();
    dpi = std::min({dpi, maxSide * 72.0 / longSide, std::sqrt(maxPixels / area) * 72.0});

    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    renderer.set_image_format(format);
    poppler::image img = renderer.render_page(page.get(), dpi, dpi);
    const double w = img.width(), h = img.height();
    // Rounding adds a pixel a side at most; anything more is poppler's fault.
    if (!img.is_valid() || w <= 0 || h <= 0 || w > 2 * maxSide || h > 2 * maxSide || w * h > 2 * maxPixels)
        return poppler::image();
    return img;
}

// Renders page `index` at `dpi`, but no larger than `maxSide` pixels a
// side, into `picture`; false if poppler cannot draw it.
bool renderPicture(poppler::document* doc, int index, double dpi, double maxSide, Picture& picture) {
    poppler::image img = renderImage(doc, index, dpi, maxSide, maxSide * maxSide, poppler::image::format_argb32);
    if (!img.is_valid()) return false;
    const int w = img.width(), h = img.height();

    // ARGB32 is one native 32-bit word per pixel, 0xAARRGGBB, on white paper.
    picture.width = w;
    picture.height = h;
    picture.dpi = dpi;
    picture.rgb.assign(static_cast<std::size_t>(w) * h * 3, 0);
    const char* data = img.const_data();
    for (int y = 0; y < h; ++y) {
        const char* row = data + static_cast<std::ptrdiff_t>(y) * img.bytes_per_row();
        std::uint8_t* out = picture.rgb.data() + static_cast<std::size_t>(y) * w * 3;
        for (int x = 0; x < w; ++x) {
            std::uint32_t v;
            std::memcpy(&v, row + 4 * x, 4);
            out[3 * x] = static_cast<std::uint8_t>(v >> 16);
            out[3 * x + 1] = static_cast<std::uint8_t>(v >> 8);
            out[3 * x + 2] = static_cast<std::uint8_t>(v);
        }
    }
    return true;
}

// The page rendered small for every judge asked; a page that may be a code
// or an empty page is rendered again, closer, here in the helper.
bool renderAndJudge(poppler::document* doc, int index, int threshold, const SheetKinds& kinds, PageLook& look,
                    std::string& code) {
    Picture small;
    if (!renderPicture(doc, index, kRenderDpi, kRenderMaxSide, small)) return false;
    bool codeCandidate = false;
    look = lookAtRows(small.rgb.data(), small.width, small.height, static_cast<std::ptrdiff_t>(small.width) * 3,
                      threshold, kinds, codeCandidate);
    // A page poppler draws small but not closer is judged as it was drawn.
    const double closerSide = std::sqrt(kCloserMaxPixels * 2);
    Picture closer;
    if (codeCandidate && renderPicture(doc, index, kCodeDpi, closerSide, closer)) {
        if (std::optional<std::string> text = closerCode(closer)) {
            look.sheet = SheetKind::Code;
            code = *text;
        }
    }
    // Settled here: the file's step has no renderer.
    if (look.blankCandidate) {
        look.blankCandidate = false;
        if (renderPicture(doc, index, kBlankDpi, closerSide, closer) && closerBlank(closer, look, look.blankUnsure))
            look.sheet = SheetKind::Blank;
    }
    return true;
}

// A page with one line of text.
constexpr char kWarmUpPdf[] =
    "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
    "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
    "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 72 72]/Resources<</Font<</F1 4 0 R>>>>"
    "/Contents 5 0 R>>endobj\n"
    "4 0 obj<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>endobj\n"
    "5 0 obj<</Length 31>>stream\nBT /F1 9 Tf 9 9 Td (Ag) Tj ET\nendstream endobj\n"
    "trailer<</Root 1 0 R>>\n%%EOF\n";

}  // namespace

struct RenderedFile::Document {
    std::unique_ptr<poppler::document> doc;
};

namespace {

poppler::document* openForRendering(const std::string& path) {
#ifdef _WIN32
    // poppler opens a named file with CreateFileA, in the ANSI code page, where a Chinese name
    // under code page 1252 is lost. The file is read here over its UTF-16 name instead, and poppler
    // reads it from memory (the document keeps the bytes).
    std::ifstream in(textPath(path), std::ios::binary);
    if (!in) return nullptr;
    poppler::byte_array bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return poppler::document::load_from_data(&bytes);
#else
    return poppler::document::load_from_file(path);
#endif
}

}  // namespace

RenderedFile::RenderedFile(const std::string& path)
    : doc_(new Document{std::unique_ptr<poppler::document>(openForRendering(path))}) {}

RenderedFile::~RenderedFile() = default;

bool RenderedFile::judge(int index, int threshold, const SheetKinds& kinds, PageLook& look, std::string& code) {
    return renderAndJudge(doc_->doc.get(), index, threshold, kinds, look, code);
}

bool RenderedFile::greyForText(int index, GreyPicture& picture) {
    double dpi = kOcrDpi;
    const double maxSide = kMaxOcrPixels;  // only the pixels in all bound it
    poppler::image img = renderImage(doc_->doc.get(), index, dpi, maxSide, kMaxOcrPixels, poppler::image::format_gray8);
    if (!img.is_valid()) return false;
    picture.width = img.width();
    picture.height = img.height();
    picture.dpi = dpi;
    picture.grey.resize(static_cast<std::size_t>(picture.width) * picture.height);
    for (int y = 0; y < picture.height; ++y)
        std::memcpy(picture.grey.data() + static_cast<std::size_t>(y) * picture.width,
                    img.const_data() + static_cast<std::ptrdiff_t>(y) * img.bytes_per_row(), picture.width);
    return true;
}

void warmUpRenderer() {
    poppler::set_debug_error_function(quiet, nullptr);
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(kWarmUpPdf, static_cast<int>(sizeof kWarmUpPdf - 1)));
    PageLook look;
    std::string code;
    renderAndJudge(doc.get(), 0, kDefaultThreshold, SheetKinds{}, look, code);
}

}  // namespace orvane
