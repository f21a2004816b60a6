// orvaneFun.exe SRC DST WORKERS THRESHOLD [--sheets KINDS] [--names TEMPLATE]
//               [--blank-pages keep|flag|drop] [--keep-pages PAGES] [--ocr LANGS]
//
// Splits every PDF under SRC at its coloured separator sheets. Each source
// gets one new folder directly inside DST holding one PDF per document.
// One line per source file goes to stdout (flushed at once, in source order),
// then a summary line.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "allocator.h"
#include "ansi_line.h"
#include "arguments.h"
#include "folders.h"
#include "helper_server.h"
#include "path_text.h"
#include "report.h"
#include "scheduler.h"

namespace fs = std::filesystem;
using namespace orvane;

namespace {

std::vector<fs::path> findPdfs(const fs::path& src, const fs::path& dst) {
    std::vector<fs::path> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(src, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        if (it->is_directory(e2)) {
            // Never take our own output (DST inside SRC) for input.
            if (!it->is_symlink(e2) && fs::equivalent(it->path(), dst, e2)) it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file(e2) && lower(pathText(it->path().extension())) == ".pdf")
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

// Under LeakSanitizer: fontconfig and poppler keep process-lifetime caches.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libpoppler\n";
}

#ifdef _WIN32
// Reached from wmain (windows_entry.cpp) with the arguments in UTF-8.
int splitter_main(int argc, char** argv) {
#else
int main(int argc, char** argv) {
#endif
    // Started again by itself as a helper process: serves and ends there.
    serveIfHelper(argc, argv);
    keepFreedMemoryForReuse();
    Arguments args;
    Options options;
    if (!parseArguments(argc, argv, args, options)) return 2;
    std::error_code ec;
    if (!fs::is_directory(args.src, ec)) {
        emit("The source folder does not exist: " + pathText(args.src));
        return 2;
    }
    if (!fs::is_directory(args.dst, ec)) {
        emit("The target folder does not exist: " + pathText(args.dst));
        return 2;
    }
    const std::vector<fs::path> files = findPdfs(args.src, args.dst);
    // Page numbers name the pages of one source: over several they would name pages of each.
    if (options.keepPagesGiven && files.size() != 1) {
        const std::string line = "orvaneFun.exe: --keep-pages: it needs exactly one PDF file in the source folder, found " +
                                 std::to_string(files.size()) + "\n";
        std::fputs(output_line(line).c_str(), stderr);
        return 2;
    }
    return splitFiles(args.src, args.dst, files, args.workers, args.threshold, options);
}
