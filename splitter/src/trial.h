// The trial reading of a file, run in a helper process: everything qpdf may
// decode or walk while the file's pages are looked at and copied is done
// here first, so a file that would crash qpdf, hang or take memory without
// bound ends the helper, not the splitter.
#pragma once

#include <string>

namespace orvane {

// Why the file at `path` cannot be split, or nothing when it passes.
std::string trialReading(const std::string& path);

}  // namespace orvane
