// The closer look at a code sheet candidate: zxing-cpp reads every barcode on
// the picture, and only a text that is exactly PATCHT or begins with PATCHT:
// makes the page a sheet. A build without the reader (a Windows build whose
// libraries lack zxing-cpp) finds no code sheet at all.
#include "sheet_codes.h"

#ifndef ORVANE_NO_CODE_READER
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>
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
constexpr ZXing::BarcodeFormats kTextFormats = ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::MicroQRCode |
                                               ZXing::BarcodeFormat::DataMatrix | ZXing::BarcodeFormat::Aztec |
                                               ZXing::BarcodeFormat::PDF417 | ZXing::BarcodeFormat::Code39 |
                                               ZXing::BarcodeFormat::Code93 | ZXing::BarcodeFormat::Code128;

std::optional<std::string> sheetCodeAmong(const ZXing::Results& results) {
    for (const ZXing::Result& r : results)
        if (r.isValid() && isSheetCodeText(r.text())) return r.text();
    return std::nullopt;
}

}  // namespace

std::optional<std::string> readSheetCode(const Picture& picture) {
    if (picture.empty()) return std::nullopt;
    const ZXing::ImageView image(picture.rgb.data(), picture.width, picture.height, ZXing::ImageFormat::RGB);
    // "PATCHT:" in Code 39 needs its full-ASCII form (the colon is "/Z").
    ZXing::DecodeHints hints;
    hints.setFormats(kTextFormats).setTryCode39ExtendedMode(true).setTryRotate(true).setTryHarder(false);
    // The quick pass finds a sheet's code as printed; a code skewed, upside
    // down or small gets the thorough one. Any other barcode on the page makes
    // no difference: only a sheet's text is looked for.
    if (std::optional<std::string> text = sheetCodeAmong(ZXing::ReadBarcodes(image, hints))) return text;
    hints.setTryHarder(true);
    return sheetCodeAmong(ZXing::ReadBarcodes(image, hints));
}

#endif

}  // namespace orvane
