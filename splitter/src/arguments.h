// The splitter's command line: orvaneFun.exe SRC DST WORKERS THRESHOLD.
// (The helper mode's arguments are helper.cpp's alone.)
#pragma once

#include <filesystem>

namespace orvane {

struct Arguments {
    std::filesystem::path src, dst;
    int workers = 1;    // 1 to 256
    int threshold = 0;  // 1 to 255
};

// Reads the command line into `out`, with 0 for WORKERS and THRESHOLD
// replaced by their defaults. Prints the usage text on standard error and
// returns false on anything else.
bool parseArguments(int argc, char** argv, Arguments& out);

}  // namespace orvane
