// The split plan of a file whose pages have their final verdicts: which
// pages go into which document, what the documents are called, and the
// output folder each source file gets in the target folder.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "reasons.h"

namespace orvane {

// One document written for a source file: pages [first, last], 0-based.
struct Document {
    int first = 0, last = 0;
    std::string name;
};

// One document per run of pages between separator sheets, named
// stem_001.pdf, stem_002.pdf ...; empty runs (a sheet at either end, or both
// sides of a duplex-scanned sheet) give nothing.
std::vector<Document> planDocuments(const std::vector<bool>& separators, const std::string& stem);

// The output folders, made directly inside the target folder under names no
// entry of it has: an existing folder is never written into, and two sources
// with one name get two folders. Names are planned in source order before any
// work starts (so the first of two "report.pdf" gets "report" whatever the
// threads do); an entry that appears meanwhile still moves the folder on to
// a fresh name, since making the folder fails on it.
class OutputFolders {
public:
    explicit OutputFolders(std::filesystem::path dst);
    // The name planned for the next source of this stem (in source order).
    std::string plan(const std::string& stem);
    // Makes the folder, under `planned` or the next free name; `folder` is
    // set, or the reason it cannot be made is returned.
    std::optional<FileError> make(const std::string& planned, const std::string& stem,
                                  std::filesystem::path& folder);

private:
    std::string nextName(const std::string& stem);

    std::filesystem::path dst_;
    std::mutex lock_;
    std::set<std::string> taken_;  // lower case
};

// ASCII lower case: file names compared as the file systems of the users do.
std::string lower(std::string s);

}  // namespace orvane
