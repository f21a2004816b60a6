// The splitter's command line: orvaneFun.exe SRC DST WORKERS THRESHOLD [--sheets KINDS]
// [--names TEMPLATE] [--blank-pages keep|flag|drop] [--keep-pages PAGES] [--ocr LANGS].
// (The helper mode's arguments are helper.cpp's alone.)
#pragma once

#include <filesystem>

#include "options.h"

namespace orvane {

struct Arguments {
    std::filesystem::path src, dst;
    int workers = 1;    // 1 to 256
    int threshold = 0;  // 1 to 255
};

// Reads the command line into `out`, with 0 for WORKERS and THRESHOLD
// replaced by their defaults, and the run's options (with the settings file's
// and ORVANE_SPLITTER_OPTIONS') into `options`. Prints the usage text, or the
// one line that refuses an option, on standard error and returns false on
// anything else.
bool parseArguments(int argc, char** argv, Arguments& out, Options& options);

}  // namespace orvane
