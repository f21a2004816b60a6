// Sorting a page by what its content draws: one plain JPEG image covering
// the page (judged from the image's data), nothing that can be coloured
// (judged at once), or anything else (rendered). Pure: it reads the content's
// text and the page's and image's dictionaries, never the image data.
#pragma once

#include <string>

#include <qpdf/QPDFMatrix.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

namespace orvane {

// What a page's content does, if it is that of a typical scanned page:
// "q a b c d e f cm /Im0 Do Q" and nothing else.
struct ContentScan {
    bool plain = true;    // no other operator or operand
    std::string image;    // name of the one XObject drawn, empty if none
    QPDFMatrix placement; // where it is drawn
};
ContentScan readContent(const std::string& content);

enum class PageKind {
    Rendered,    // anything but one plain picture covering the page
    Grey,        // nothing drawn, a stencil mask or a grey image: no colour
    Jpeg,        // one 8-bit RGB JPEG covering the page
    OverBudget,  // that JPEG is declared larger than may be decoded
};

// The kind of `page`, whose content is `scan`. With `colourless` (sheet
// kinds that need no colour are asked for), a page that draws a picture
// without colour is judged too: a grey JPEG as Jpeg, any other rendered.
PageKind pageKind(const ContentScan& scan, QPDFPageObjectHelper& page, bool colourless = false);
// Whether `image` is declared without colour (a stencil mask, a grey colour
// space): its pixels never make a coloured sheet, whatever its data holds.
bool colourlessImage(QPDFObjectHandle image);
// The image the scan draws, as the page's resources name it (null if none).
QPDFObjectHandle drawnImage(const ContentScan& scan, QPDFPageObjectHelper& page);

}  // namespace orvane
