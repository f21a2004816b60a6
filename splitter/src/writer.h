// Writing one document: a run of a source's pages copied into a new PDF.
#pragma once

#include <string>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "page_text.h"

namespace orvane {

// Writes `pages` (of `source`, whose inherited attributes already sit on its
// pages) as a new PDF at `outPath`. The stream data is copied byte for byte,
// and the output depends on nothing but the source and the pages: the same
// pages give the same bytes. `texts` is empty, or holds one entry a page:
// the page's recognised text, laid over it as an invisible text layer
// (text_layer.h), or nullptr for none. Throws what qpdf throws.
void writePages(QPDF& source, const std::vector<QPDFPageObjectHelper>& pages, const std::string& outPath,
                const std::vector<const PageText*>& texts = {});

}  // namespace orvane
