// How a page is sorted (splitter/src/page_kind.*): judged from its JPEG,
// known to have no colour, rendered, or over its budget, on a table of
// pages built in memory with qpdf: the content's text, the image's
// dictionary and the page's boxes decide, never the image data.
// Prints one line per wrong kind and a count; exits non-zero on any.
#include <cstdio>
#include <string>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "page_kind.h"

namespace {

using orvane::PageKind;

const char* const kScan = "q 612 0 0 792 0 0 cm /Im0 Do Q";
const char* const kRgbJpeg =
    "<< /Type /XObject /Subtype /Image /Width 2480 /Height 3508 /ColorSpace /DeviceRGB "
    "/BitsPerComponent 8 /Filter /DCTDecode >>";

struct Case {
    const char* name;
    std::string content;
    std::string image;    // the dictionary of /Im0; empty: none in the resources
    int iccComponents;    // >0: /ColorSpace [/ICCBased <stream with /N this>]
    const char* cropBox;  // empty: none (the media box, US letter)
    PageKind kind;
};

const Case kCases[] = {
    {"a plain scan", kScan, kRgbJpeg, 0, "", PageKind::Jpeg},
    {"no content: blank", "", "", 0, "", PageKind::Grey},
    {"a grey scan", kScan, "<< /Subtype /Image /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode >>",
     0, "", PageKind::Grey},
    {"a stencil mask", kScan, "<< /Subtype /Image /ImageMask true /BitsPerComponent 1 >>", 0, "", PageKind::Grey},
    {"RGB over ICC", kScan, "<< /Subtype /Image /BitsPerComponent 8 /Filter [/DCTDecode] >>", 3, "",
     PageKind::Jpeg},
    {"CMYK over ICC", kScan, "<< /Subtype /Image /BitsPerComponent 8 /Filter /DCTDecode >>", 4, "",
     PageKind::Rendered},
    {"text over the scan", std::string(kScan) + " BT /F1 12 Tf (x) Tj ET", kRgbJpeg, 0, "", PageKind::Rendered},
    {"two images drawn", std::string(kScan) + " /Im0 Do", kRgbJpeg, 0, "", PageKind::Rendered},
    {"Q without q", "Q", "", 0, "", PageKind::Rendered},
    {"cm short of an operand", "q 612 0 0 792 0 cm /Im0 Do Q", kRgbJpeg, 0, "", PageKind::Rendered},
    {"image not in the resources", "q 612 0 0 792 0 0 cm /Im1 Do Q", kRgbJpeg, 0, "", PageKind::Rendered},
    {"a form, not an image", kScan, "<< /Subtype /Form /BBox [0 0 1 1] >>", 0, "", PageKind::Rendered},
    {"Flate before DCT", kScan,
     "<< /Subtype /Image /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter [/FlateDecode /DCTDecode] >>", 0, "",
     PageKind::Rendered},
    {"a soft mask", kScan,
     "<< /Subtype /Image /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode /SMask 1 >>", 0, "",
     PageKind::Rendered},
    {"a half page", "q 306 0 0 792 0 0 cm /Im0 Do Q", kRgbJpeg, 0, "", PageKind::Rendered},
    {"turned a quarter", "q 0 792 -612 0 612 0 cm /Im0 Do Q", kRgbJpeg, 0, "", PageKind::Jpeg},
    {"skewed", "q 612 10 0 792 0 0 cm /Im0 Do Q", kRgbJpeg, 0, "", PageKind::Rendered},
    {"nested q and two cm", "q 2 0 0 2 0 0 cm q 306 0 0 396 0 0 cm /Im0 Do Q Q", kRgbJpeg, 0, "", PageKind::Jpeg},
    {"covers the crop box only", "q 306 0 0 396 0 0 cm /Im0 Do Q", kRgbJpeg, 0, "[0 0 306 396]", PageKind::Jpeg},
    {"declared too many pixels", kScan,
     "<< /Subtype /Image /Width 20000 /Height 20000 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
     "/Filter /DCTDecode >>",
     0, "", PageKind::OverBudget},
};

PageKind kindOf(const Case& c) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>");
    if (*c.cropBox) page.replaceKey("/CropBox", QPDFObjectHandle::parse(c.cropBox));
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    if (!c.image.empty()) {
        QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf, "not read");
        image.replaceDict(QPDFObjectHandle::parse(c.image));
        if (c.iccComponents) {
            QPDFObjectHandle profile = QPDFObjectHandle::newStream(&pdf, "");
            profile.getDict().replaceKey("/N", QPDFObjectHandle::newInteger(c.iccComponents));
            QPDFObjectHandle space = QPDFObjectHandle::newArray();
            space.appendItem(QPDFObjectHandle::newName("/ICCBased"));
            space.appendItem(profile);
            image.getDict().replaceKey("/ColorSpace", space);
        }
        xobjects.replaceKey("/Im0", image);
    }
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    page.replaceKey("/Resources", resources);
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    QPDFPageObjectHelper added = QPDFPageDocumentHelper(pdf).getAllPages().at(0);
    return orvane::pageKind(orvane::readContent(c.content), added);
}

const char* name(PageKind k) {
    switch (k) {
    case PageKind::Rendered: return "rendered";
    case PageKind::Grey: return "grey";
    case PageKind::Jpeg: return "jpeg";
    case PageKind::OverBudget: return "over budget";
    }
    return "?";
}

}  // namespace

int main() {
    int failed = 0, checked = 0;
    for (const Case& c : kCases) {
        const PageKind kind = kindOf(c);
        ++checked;
        if (kind != c.kind) {
            ++failed;
            std::printf("FAILED: %s: %s (want %s)\n", c.name, name(kind), name(c.kind));
        }
    }
    std::printf("%d of %d pages sorted as expected\n", checked - failed, checked);
    return failed ? 1 : 0;
}
