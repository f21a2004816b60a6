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

#include "path_text.h"

namespace orvane {

namespace {

// Rendering resolution for pages that are not one plain scanned image: about
// 200 x 280 pixels for A4, plenty for a rule about large areas of colour.
constexpr double kRenderDpi = 24.0;
constexpr double kRenderMaxSide = 300.0;  // pixels, for very large pages

void quiet(const std::string&, void*) {}

bool renderAndJudge(poppler::document* doc, int index, int threshold, PageLook& look) {
    if (!doc || doc->is_locked() || index < 0 || index >= doc->pages()) return false;
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

bool RenderedFile::judge(int index, int threshold, PageLook& look) {
    return renderAndJudge(doc_->doc.get(), index, threshold, look);
}

void warmUpRenderer() {
    poppler::set_debug_error_function(quiet, nullptr);
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(kWarmUpPdf, static_cast<int>(sizeof kWarmUpPdf - 1)));
    PageLook look;
    renderAndJudge(doc.get(), 0, kDefaultThreshold, look);
}

}  // namespace orvane
