// A page's verdict and the way it was reached: what the scheduler, the
// output lines and the events keep of each page, without the PDF library.
#pragma once

#include <string>

#include "detect.h"

namespace orvane {

// How a page was looked at (for the counters and the tests).
enum class LookPath { Jpeg, Grey, Rendered };

struct PageResult {
    PageLook look;
    LookPath path = LookPath::Rendered;
    // A code sheet's whole barcode text (UTF-8), as "PATCHT:..." reads.
    std::string code;
    // With --blank-pages flag or drop: a page of a document found blank, and
    // whether it was left out of its document.
    bool blank = false;
    bool dropped = false;
    // With --ocr: a page of a written document whose recognition timed out,
    // failed or crashed, or whose picture was over the limits. It is written
    // without text. (A page where nothing was found to read is not one.)
    bool noText = false;
};

}  // namespace orvane
