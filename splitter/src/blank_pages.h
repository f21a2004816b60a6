// The blank pages of documents (--blank-pages flag|drop), once every page of
// a file has its final sheet verdict: which pages are blank, and which of
// them are left out of their documents.
#pragma once

#include <vector>

#include "options.h"
#include "page_result.h"
#include "sheets.h"

namespace orvane {

// Takes the verdicts of the looking (a page found empty there says
// SheetKind::Blank), before the sheets' step settles what is a sheet.
void noteBlankPages(std::vector<PageResult>& results, const Options& options);

// Sets every ordinary page's `blank` (taking the closer look the page still
// needs) and `dropped`: with drop, a blank page is left out unless its
// verdict lay near a bar (it is named under check: and kept) or the run asks
// to keep it (--keep-pages). A sheet is never a blank page of a document.
void settleBlankPages(std::vector<PageResult>& results, const Options& options, const BlankCloser& closer);

}  // namespace orvane
