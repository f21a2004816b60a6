// How a page is sorted (splitter/src/page_kind.*), on a table of US letter
// pages built in memory with qpdf. Exits non-zero on any wrong kind.
#include <cstdio>

#include <qpdf/QPDFPageDocumentHelper.hh>

#include "page_kind.h"

using K = orvane::PageKind;
#define SCAN "q 612 0 0 792 0 0 cm /Im0 Do Q"
#define RGB "/Subtype /Image /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter "

struct Case {
    const char *content, *image, *pageKeys;  // image: /Im0's keys ("": none)
    K kind;
} const kCases[] = {
    {SCAN, RGB "/DCTDecode", "", K::Jpeg},
    {"", "", "", K::Grey},
    {SCAN, "/Subtype /Image /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode", "", K::Grey},
    {SCAN " BT (x) Tj ET", RGB "/DCTDecode", "", K::Rendered},
    {"q 306 0 0 792 0 0 cm /Im0 Do Q", RGB "/DCTDecode", "", K::Rendered},
    {"q 0 792 -612 0 612 0 cm /Im0 Do Q", RGB "/DCTDecode", "", K::Jpeg},
    {"q 306 0 0 396 0 0 cm /Im0 Do Q", RGB "/DCTDecode", "/CropBox [0 0 306 396]", K::Jpeg},
    {SCAN, RGB "/DCTDecode /Width 20000 /Height 20000", "", K::OverBudget},
};

int main() {
    int failed = 0;
    for (const Case& c : kCases) {
        QPDF pdf;
        pdf.emptyPDF();
        QPDFObjectHandle page = QPDFObjectHandle::parse(std::string("<< /Type /Page /MediaBox [0 0 612 792] ") +
                                                        c.pageKeys + " /Resources << /XObject << >> >> >>");
        QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf, "not read");
        image.replaceDict(QPDFObjectHandle::parse(std::string("<< ") + c.image + " >>"));
        if (*c.image) page.getKey("/Resources").getKey("/XObject").replaceKey("/Im0", image);
        QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
        QPDFPageObjectHelper added = QPDFPageDocumentHelper(pdf).getAllPages().at(0);
        if (orvane::pageKind(orvane::readContent(c.content), added) != c.kind)
            failed += std::printf("FAILED: %s / %s\n", c.content, c.image) > 0;
    }
    return failed;
}
