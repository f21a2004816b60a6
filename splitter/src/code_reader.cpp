// The closer look at a code sheet candidate: zxing-cpp reads every barcode on
// the picture, and only a text that is exactly PATCHT or begins with PATCHT:
// makes the page a sheet. Linux builds link Debian's zxing-cpp 1.4, Windows
// builds the 2.1 that scripts/build-windows-deps.sh cross-builds; both read
// with the same hints. A build without the reader (a Windows build whose
// libraries lack zxing-cpp) finds no code sheet at all.
#include "sheet_codes.h"

#ifndef ORVANE_NO_CODE_READER
#include <algorithm>
#include <vector>

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>
#include <ZXing/ZXVersion.h>
#endif

namespace orvane {

bool isSheetCodeText(const std::string& text) {
    static const std::string kPatch = "PATCHT";
    return text.compare(0, kPatch.size(), kPatch) == 0 && (text.size() == kPatch.size() || text[kPatch.size()] == ':');
}

#ifdef ORVANE_NO_CODE_READER

std::optional<std::string> readSheetCode(const Picture&) { return std::nullopt; }

#else

namespace {

// Only kinds of barcode that can hold the letters of PATCHT: the number-only
// kinds (EAN, UPC, ITF, Codabar, DataBar) cost time and can never be a sheet.
constexpr ZXing::BarcodeFormats kMatrixFormats = ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::MicroQRCode |
                                                 ZXing::BarcodeFormat::DataMatrix | ZXing::BarcodeFormat::Aztec |
                                                 ZXing::BarcodeFormat::PDF417;
constexpr ZXing::BarcodeFormats kLinearFormats =
    ZXing::BarcodeFormat::Code39 | ZXing::BarcodeFormat::Code93 | ZXing::BarcodeFormat::Code128;

// The printed blocks of the page: cells of kCell pixels holding ink, joined
// across gaps of paper narrower than kJoin cells (the spaces of a barcode).
// zxing-cpp misses a small code on a whole page that it reads at once on a
// piece around it, and a piece is quicker to read.
constexpr int kCell = 8;
constexpr int kJoin = 3;
constexpr int kInkDrop = 64;   // ink: this much darker than the paper
constexpr int kQuietCells = 3; // paper kept round a block for the code's quiet zone
constexpr int kMinCells = 4;   // a speck of dust is no block
constexpr std::size_t kMaxBlocks = 4;

struct Block {
    int x0, y0, x1, y1;  // in cells
    int cells;
};

inline int lumOf(const std::uint8_t* p) { return (77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8; }

std::vector<Block> inkBlocks(const Picture& picture) {
    const int cw = (picture.width + kCell - 1) / kCell, ch = (picture.height + kCell - 1) / kCell;
    std::vector<std::uint32_t> histogram(256, 0);
    for (int y = 0; y < picture.height; y += 2)
        for (int x = 0; x < picture.width; x += 2) ++histogram[static_cast<std::size_t>(lumOf(picture.row(y) + 3 * x))];
    const int paper = static_cast<int>(std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
    std::vector<std::uint8_t> ink(static_cast<std::size_t>(cw) * ch, 0);
    for (int y = 0; y < picture.height; y += 2) {
        const std::uint8_t* p = picture.row(y);
        for (int x = 0; x < picture.width; ++x, p += 3)
            if (lumOf(p) + kInkDrop <= paper) ink[static_cast<std::size_t>(y / kCell) * cw + x / kCell] = 1;
    }
    std::vector<int> todo;
    // Ink joined to the picture's edge is the scanner's: its edge strip, the
    // backing around a skewed sheet. It would make one block of the page.
    const auto backing = [&](int x, int y) {
        std::uint8_t& c = ink[static_cast<std::size_t>(y) * cw + x];
        if (c == 1) {
            c = 0;
            todo.push_back(y * cw + x);
        }
    };
    for (int x = 0; x < cw; ++x) backing(x, 0), backing(x, ch - 1);
    for (int y = 0; y < ch; ++y) backing(0, y), backing(cw - 1, y);
    while (!todo.empty()) {
        const int c = todo.back(), cx = c % cw, cy = c / cw;
        todo.pop_back();
        if (cx > 0) backing(cx - 1, cy);
        if (cx + 1 < cw) backing(cx + 1, cy);
        if (cy > 0) backing(cx, cy - 1);
        if (cy + 1 < ch) backing(cx, cy + 1);
    }
    std::vector<Block> blocks;
    for (int start = 0; start < cw * ch; ++start) {
        if (ink[static_cast<std::size_t>(start)] != 1) continue;
        Block b{start % cw, start / cw, start % cw + 1, start / cw + 1, 0};
        ink[static_cast<std::size_t>(start)] = 2;
        todo.assign(1, start);
        while (!todo.empty()) {
            const int c = todo.back(), cx = c % cw, cy = c / cw;
            todo.pop_back();
            ++b.cells;
            b.x0 = std::min(b.x0, cx), b.x1 = std::max(b.x1, cx + 1);
            b.y0 = std::min(b.y0, cy), b.y1 = std::max(b.y1, cy + 1);
            for (int ny = std::max(0, cy - kJoin); ny <= std::min(ch - 1, cy + kJoin); ++ny)
                for (int nx = std::max(0, cx - kJoin); nx <= std::min(cw - 1, cx + kJoin); ++nx) {
                    std::uint8_t& n = ink[static_cast<std::size_t>(ny) * cw + nx];
                    if (n == 1) {
                        n = 2;
                        todo.push_back(ny * cw + nx);
                    }
                }
        }
        if (b.cells >= kMinCells) blocks.push_back(b);
    }
    std::sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) { return a.cells > b.cells; });
    if (blocks.size() > kMaxBlocks) blocks.resize(kMaxBlocks);
    return blocks;
}

std::optional<std::string> sheetCodeAmong(const ZXing::Results& results) {
    for (const ZXing::Result& r : results)
        if (r.isValid() && isSheetCodeText(r.text())) return r.text();
    return std::nullopt;
}

}  // namespace

std::optional<std::string> readSheetCode(const Picture& picture) {
    if (picture.empty()) return std::nullopt;
    const ZXing::ImageView image(picture.rgb.data(), picture.width, picture.height, ZXing::ImageFormat::RGB);
    const std::vector<Block> blocks = inkBlocks(picture);
    // Matrix codes and linear ones are read apart. zxing-cpp 1.4 (as Debian
    // builds it, with its assertions) aborts when one read finds the same
    // linear code twice (two scales, or the thorough pass after the quick
    // one): a linear read stops at its first code. "PATCHT:" in Code 39
    // needs its full-ASCII form (the colon is "/Z").
    ZXing::DecodeHints matrix, linear;
    matrix.setFormats(kMatrixFormats).setTryRotate(true);
    linear.setFormats(kLinearFormats).setTryRotate(true).setTryCode39ExtendedMode(true).setMaxNumberOfSymbols(1);
#if ZXING_VERSION_MAJOR >= 2
    // 2.x also reads light codes on dark ground unless told not to; 1.4
    // never does, and a sheet must be one whichever build reads it.
    matrix.setTryInvert(false);
    linear.setTryInvert(false);
#endif
    // The quick pass finds a sheet's code as printed; a code skewed, upside
    // down or small gets the thorough one. Any other barcode on the page makes
    // no difference: only a sheet's text is looked for.
    for (bool harder : {false, true}) {
        matrix.setTryHarder(harder);
        linear.setTryHarder(harder);
        for (const Block& b : blocks) {
            const int x0 = std::max(0, b.x0 - kQuietCells) * kCell, y0 = std::max(0, b.y0 - kQuietCells) * kCell;
            const ZXing::ImageView piece =
                image.cropped(x0, y0, (b.x1 + kQuietCells) * kCell - x0, (b.y1 + kQuietCells) * kCell - y0);
            for (const ZXing::DecodeHints* hints : {&matrix, &linear})
                if (std::optional<std::string> text = sheetCodeAmong(ZXing::ReadBarcodes(piece, *hints))) return text;
        }
    }
    return std::nullopt;
}

#endif

}  // namespace orvane
