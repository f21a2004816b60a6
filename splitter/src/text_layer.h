// The invisible text layer over a written page: the recognised text in text
// rendering mode 3 (neither filled nor stroked), placed where the words stand
// in the picture, so that search, copy and text extraction find it while the
// page looks exactly as before.
#pragma once

#include <string>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "page_text.h"

namespace orvane {

// Lays page texts over pages of one document being written; the font is
// made once, on the first page that has text.
class TextLayer {
public:
    explicit TextLayer(QPDF& out) : out_(out) {}

    // Adds `text` to `page` (a page of the document `out`): the page's
    // content streams and everything they draw stay as they are; the layer
    // is a content stream of its own, run in the page's initial graphics
    // state whatever the page's own content leaves behind.
    // Words whose boundary joins East Asian characters (or full-width
    // punctuation) run on without a space and without a gap; other word
    // breaks are written as spaces.
    void lay(QPDFPageObjectHelper page, const PageText& text);
    // Completes the font once every page is laid.
    void finish();

private:
    QPDF& out_;
    QPDFObjectHandle font_, save_;
    std::vector<char32_t> beyond_;  // characters beyond the BMP, in order of first use
};

}  // namespace orvane
