// The closer look at a code sheet candidate: zxing-cpp reads every barcode on
// the picture, and only a text that is exactly PATCHT or begins with PATCHT:
// makes the page a sheet. Linux builds link Debian's zxing-cpp 1.4, Windows
// builds the 2.1 that scripts/build-windows-deps.sh cross-builds; both read
// with the same hints. A build without the reader (a Windows build whose
// libraries lack zxing-cpp) finds no code sheet at all.
#include "sheet_codes.h"

#ifndef ORVANE_NO_CODE_READER
#include <cstring>
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

std::optional<std::string> readCodePieces(const CodePieces&) { return std::nullopt; }

#else

namespace {

// Only kinds of barcode that can hold the letters of PATCHT: the number-only
// kinds (EAN, UPC, ITF, Codabar, DataBar) cost time and can never be a sheet.
constexpr ZXing::BarcodeFormats kMatrixFormats = ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::MicroQRCode |
                                                 ZXing::BarcodeFormat::DataMatrix | ZXing::BarcodeFormat::Aztec |
                                                 ZXing::BarcodeFormat::PDF417;
constexpr ZXing::BarcodeFormats kLinearFormats =
    ZXing::BarcodeFormat::Code39 | ZXing::BarcodeFormat::Code93 | ZXing::BarcodeFormat::Code128;

std::optional<std::string> sheetCodeAmong(const ZXing::Results& results) {
    for (const ZXing::Result& r : results)
        if (r.isValid() && isSheetCodeText(r.text())) return r.text();
    return std::nullopt;
}

}  // namespace

std::optional<std::string> readCodePieces(const CodePieces& pieces) {
    if (pieces.pieces.empty() || pieces.grey.size() != static_cast<std::uint64_t>(pieces.width) * static_cast<std::uint64_t>(pieces.height))
        return std::nullopt;
    // Matrix codes and linear ones are read apart. zxing-cpp 1.4 (as Debian
    // builds it, with its assertions) aborts when one read finds the same
    // linear code twice (two scales, or the thorough pass after the quick
    // one): a linear read stops at its first code. "PATCHT:" in Code 39
    // needs its full-ASCII form (the colon is "/Z"). Any abort left ends only
    // the helper this runs in.
    ZXing::DecodeHints matrix, linear;
    matrix.setFormats(kMatrixFormats).setTryRotate(true);
    linear.setFormats(kLinearFormats).setTryRotate(true).setTryCode39ExtendedMode(true).setMaxNumberOfSymbols(1);
#if ZXING_VERSION_MAJOR >= 2
    // 2.x also reads light codes on dark ground unless told not to; 1.4
    // never does, and a sheet must be one whichever build reads it.
    matrix.setTryInvert(false);
    linear.setTryInvert(false);
#endif
    // Each piece laid out on its own, as the reader lays out the grey of a
    // colour picture before it reads.
    std::vector<std::vector<std::uint8_t>> grey;
    for (const CodeBox& b : pieces.pieces) {
        const int w = b.x1 - b.x0, h = b.y1 - b.y0;
        grey.emplace_back();
        if (b.x0 < 0 || b.y0 < 0 || w <= 0 || h <= 0 || b.x1 > pieces.width || b.y1 > pieces.height) continue;
        grey.back().resize(static_cast<std::size_t>(w) * h);
        for (int y = 0; y < h; ++y)
            std::memcpy(grey.back().data() + static_cast<std::size_t>(y) * w,
                        pieces.grey.data() + static_cast<std::size_t>(b.y0 + y) * pieces.width + b.x0, w);
    }
    // The quick pass finds a sheet's code as printed; a code skewed, upside
    // down or small gets the thorough one. Any other barcode on the page makes
    // no difference: only a sheet's text is looked for.
    for (bool harder : {false, true}) {
        matrix.setTryHarder(harder);
        linear.setTryHarder(harder);
        for (std::size_t i = 0; i < grey.size(); ++i) {
            if (grey[i].empty()) continue;
            const CodeBox& b = pieces.pieces[i];
            const ZXing::ImageView piece(grey[i].data(), b.x1 - b.x0, b.y1 - b.y0, ZXing::ImageFormat::Lum);
            for (const ZXing::DecodeHints* hints : {&matrix, &linear})
                if (std::optional<std::string> text = sheetCodeAmong(ZXing::ReadBarcodes(piece, *hints))) return text;
        }
    }
    return std::nullopt;
}

#endif

std::optional<std::string> readSheetCode(const Picture& picture) { return readCodePieces(codePieces(picture)); }

}  // namespace orvane
