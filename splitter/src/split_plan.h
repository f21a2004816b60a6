// The split plan of a file whose pages have their final verdicts: which
// pages go into which document, and what the documents are called.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvane {

// One document of a source file: the run of pages [first, last] (0-based)
// between two sheets, of which it holds `pages`. Every page of the run unless
// blank pages were dropped; none when every one was: then it is not written,
// but keeps its number, so that a page put back never renames another.
struct Document {
    int first = 0, last = 0;
    std::string name;
    // The text after "PATCHT:" on the code sheet right before the document
    // (for the {code} of a name); nothing when that sheet is no code sheet.
    std::optional<std::string> code;
    std::vector<int> pages;
};

// One document per run of pages between separator sheets, named
// stem_001.pdf, stem_002.pdf ...; empty runs (a sheet at either end, or both
// sides of a duplex-scanned sheet) give nothing.
std::vector<Document> planDocuments(const std::vector<bool>& separators, const std::string& stem);

// Leaves the pages marked in `dropped` (one flag a page) out of `documents`.
void dropPages(std::vector<Document>& documents, const std::vector<bool>& dropped);

// How many of `documents` hold pages, and so are written.
std::size_t writtenCount(const std::vector<Document>& documents);

}  // namespace orvane
