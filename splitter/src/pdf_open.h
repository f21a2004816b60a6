// Reading a file's structure with qpdf, the same way in a helper's trial
// and in the splitter: the checks that refuse a file before its pages are
// looked at.
#pragma once

#include <string>

#include <qpdf/QPDF.hh>

namespace orvane {

// Reads the file structure of `path` into `qpdf` and checks the page tree as
// written in the file (depth, page count, loops, missing pages). Throws
// FileError.
void readStructure(QPDF& qpdf, const std::string& path);

}  // namespace orvane
