// The split plan of a file whose pages have their final verdicts: which
// pages go into which document, and what the documents are called.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvane {

// One document written for a source file: pages [first, last], 0-based.
struct Document {
    int first = 0, last = 0;
    std::string name;
    // The text after "PATCHT:" on the code sheet right before the document
    // (for the {code} of a name); nothing when that sheet is no code sheet.
    std::optional<std::string> code;
};

// One document per run of pages between separator sheets, named
// stem_001.pdf, stem_002.pdf ...; empty runs (a sheet at either end, or both
// sides of a duplex-scanned sheet) give nothing.
std::vector<Document> planDocuments(const std::vector<bool>& separators, const std::string& stem);

}  // namespace orvane
