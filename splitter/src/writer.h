// Writing one document: a run of a source's pages copied into a new PDF.
#pragma once

#include <string>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

namespace orvane {

// Writes `pages` (of `source`, whose inherited attributes already sit on its
// pages) as a new PDF at `outPath`. The stream data is copied byte for byte,
// and the output depends on nothing but the source and the pages: the same
// pages give the same bytes. Throws what qpdf throws.
void writePages(QPDF& source, const std::vector<QPDFPageObjectHelper>& pages, const std::string& outPath);

}  // namespace orvane
