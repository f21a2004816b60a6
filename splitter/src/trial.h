// The trial reading of a file, run in a helper process: everything qpdf may
// decode or walk while the file's pages are looked at and copied is done
// here first, so a file that would crash qpdf, hang or take memory without
// bound ends the helper, not the splitter.
#pragma once

#include <string>

#include <qpdf/QPDF.hh>

namespace orvane {

// Reads the file at `path` into `trial`, a fresh QPDF, and tells why it
// cannot be split, or nothing when it passes; `pages` is then its page
// count. The caller drops `trial` when it likes: a helper replies first,
// since tearing a large file's objects down takes a while.
std::string trialReading(QPDF& trial, const std::string& path, int& pages);

}  // namespace orvane
