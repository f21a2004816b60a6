#include "arguments.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "detect.h"
#include "path_text.h"
#include "run_options.h"

namespace orvane {

namespace {

constexpr const char* kUsage =
    "usage: orvaneFun.exe SRC DST WORKERS THRESHOLD [--sheets KINDS] [--names TEMPLATE]\n"
    "                     [--blank-pages keep|flag|drop] [--keep-pages PAGES] [--ocr LANGS]\n"
    "  SRC        folder searched (with its subfolders) for PDF files\n"
    "  DST        existing folder that receives one new folder per PDF file\n"
    "  WORKERS    threads, 1-256 (0: one per processor)\n"
    "  THRESHOLD  chroma above which a pixel counts as coloured, 1-255 (0: 19)\n"
    "  --sheets   the kinds of separator sheet, a comma list of colour, code, black, blank\n"
    "             (default: colour)\n"
    "  --names    the documents' names, from the fields {batch} {n} {n:03} {code} {date}\n"
    "             (default: {batch}_{n:03})\n"
    "  --blank-pages  blank pages of documents: keep (default), flag (named in the line) or\n"
    "             drop (left out of the documents, and named)\n"
    "  --keep-pages   pages never dropped, as the line lists them (4, 9-10); only when SRC\n"
    "             holds exactly one PDF file\n"
    "  --ocr      recognise the documents' text in these tesseract languages, joined by +\n"
    "             (chi_sim+eng), and make them searchable (default: off)\n"
    "The options may also stand in ORVANE_SPLITTER_OPTIONS and in orvaneFun.ini beside the program\n"
    "(sheets=..., names=..., blank-pages=..., ocr=...); the command line wins over both, the variable over the file.\n";

// Plain decimal digits only, at most `max`.
bool parseNumber(const char* text, long max, long& value) {
    if (!text || !*text || std::strlen(text) > 9) return false;
    long v = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
    }
    if (v > max) return false;
    value = v;
    return true;
}

}  // namespace

bool parseArguments(int argc, char** argv, Arguments& out, Options& options) {
    long workers = 0, threshold = 0;
    // A fifth argument that is no option is a mistake in the four: the usage text tells why.
    if (argc < 5 || (argc > 5 && std::strncmp(argv[5], "--", 2) != 0) || !parseNumber(argv[3], 256, workers) || !parseNumber(argv[4], 255, threshold)) {
        std::fputs(kUsage, stderr);
        return false;
    }
    out.src = textPath(argv[1]);
    out.dst = textPath(argv[2]);
    out.workers = workers == 0 ? static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))
                               : static_cast<int>(workers);
    out.threshold = threshold == 0 ? kDefaultThreshold : static_cast<int>(threshold);
    return readRunOptions(std::vector<std::string>(argv + 5, argv + argc), options);
}

}  // namespace orvane
