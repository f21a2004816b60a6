#include "writer.h"

#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

namespace orvane {

void writePages(QPDF& source, const std::vector<QPDFPageObjectHelper>& pages, const std::string& outPath) {
    QPDF out;
    out.setSuppressWarnings(true);
    out.emptyPDF();
    QPDFPageDocumentHelper helper(out);
    for (const QPDFPageObjectHelper& page : pages) helper.addPage(page, false);
    QPDFWriter writer(out, outPath.c_str());
    // Copy every stream byte for byte: no recompression, no re-encoding.
    writer.setStreamDataMode(qpdf_s_preserve);
    writer.setMinimumPDFVersion(source.getPDFVersion());
    // The /ID from the content, not the clock and the file name: the same
    // batch gives byte-identical documents whatever the number of workers.
    writer.setDeterministicID(true);
    writer.write();
}

}  // namespace orvane
