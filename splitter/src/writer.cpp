#include "writer.h"

#include <cstdint>

#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include "text_layer.h"

namespace orvane {

namespace {

// A document's identifier from what it is made of: the source's own /ID (or,
// without one, its object count) and the pages' object numbers. Two halves of
// FNV-1a, 128 bits in all: unique enough for an identifier, and costing
// nothing beside qpdf's deterministic /ID, which hashes every byte written
// (a quarter of a whole run on a batch of scans).
std::string documentId(QPDF& source, const std::vector<QPDFPageObjectHelper>& pages) {
    QPDFObjectHandle id = source.getTrailer().getKey("/ID");
    std::string seed = id.isArray() ? id.unparseBinary() : std::to_string(source.getObjectCount());
    for (const QPDFPageObjectHelper& page : pages) seed += " " + page.getObjectHandle().getObjGen().unparse();
    std::string out;
    for (std::uint64_t h : {0xcbf29ce484222325ULL, 0x84222325cbf29ce4ULL}) {
        for (unsigned char c : seed) h = (h ^ c) * 0x100000001b3ULL;
        for (int i = 0; i < 8; ++i) out += static_cast<char>(h >> (8 * i));
    }
    return out;
}

}  // namespace

void writePages(QPDF& source, const std::vector<QPDFPageObjectHelper>& pages, const std::string& outPath,
                const std::vector<const PageText*>& texts) {
    QPDF out;
    out.setSuppressWarnings(true);
    out.emptyPDF();
    QPDFPageDocumentHelper helper(out);
    for (const QPDFPageObjectHelper& page : pages) helper.addPage(page, false);
    if (!texts.empty()) {
        TextLayer layer(out);
        const std::vector<QPDFPageObjectHelper> written = helper.getAllPages();
        for (std::size_t i = 0; i < written.size() && i < texts.size(); ++i)
            if (texts[i]) layer.lay(written[i], *texts[i]);
        layer.finish();
    }
    const QPDFObjectHandle id = QPDFObjectHandle::newString(documentId(source, pages));
    out.getTrailer().replaceKey("/ID", QPDFObjectHandle::newArray({id, id}));
    QPDFWriter writer(out, outPath.c_str());
    // Copy every stream byte for byte: no recompression, no re-encoding.
    writer.setStreamDataMode(qpdf_s_preserve);
    writer.setMinimumPDFVersion(source.getPDFVersion());
    // The /ID from what the document is made of, not from the clock and the
    // file name: the same batch gives byte-identical documents whatever the
    // number of workers. qpdf keeps the first half, ours, and makes the
    // second a constant.
    writer.setStaticID(true);
    writer.write();
}

}  // namespace orvane
