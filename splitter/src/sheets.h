// The file-level step of the sheet kinds beyond colour, once every page of a
// file has its colour verdict (settleFile): which pages are sheets of which
// kind, with the duplex rule, and the code each document is named from.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "options.h"
#include "page_result.h"
#include "split_plan.h"

namespace orvane {

// The kind's name in the events and the trace ("colour", "code", ...);
// empty for an ordinary page.
inline const char* sheetName(SheetKind kind) {
    switch (kind) {
    case SheetKind::Colour: return "colour";
    case SheetKind::Code: return "code";
    case SheetKind::Black: return "black";
    case SheetKind::Blank: return "blank";
    case SheetKind::Back: return "back";
    case SheetKind::None: break;
    }
    return "";
}

// The closer look at page `index`, which the small picture found empty:
// true when it is blank; `unsure` when the verdict lay near the bar.
using BlankCloser = std::function<bool(std::size_t index, bool& unsure)>;

// Sets every page's final `sheet` and `separator`. A coloured sheet stays
// one when colour is asked for (else it is an ordinary page); a code sheet (its text read) and a black sheet are sheets; a blank
// page right after a code or black sheet is its back (Back) and goes with
// it, whether or not blank sheets are asked for; under `blank` an empty
// page is a sheet, and one right after another is the same sheet (Back).
// The closer look is asked only where the verdict matters.
void settleSheets(std::vector<PageResult>& results, const SheetKinds& kinds, const BlankCloser& closer);

// Each document's `code`: the text after "PATCHT:" on the code sheet right
// before it (across the sheet's back).
void attachCodes(std::vector<Document>& documents, const std::vector<PageResult>& results);

}  // namespace orvane
