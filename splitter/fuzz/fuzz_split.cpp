// libFuzzer target over the splitter's path from PDF bytes to written
// documents: the bytes are written to a file, every page is judged, and the
// documents the verdicts give are written into a temporary folder. The trial
// reading and the rendering run in a helper, as in the splitter: this
// program started again in helper mode, under the same sanitizers. Built and
// run by scripts/fuzz.sh.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>

#include "detect.h"
#include "helper.h"
#include "helper_server.h"
#include "pdf_source.h"
#include "sheets.h"
#include "split_plan.h"

namespace {

// One folder for the whole run, removed at exit.
struct OutFolder {
    std::filesystem::path path;
    OutFolder() {
        std::string name = (std::filesystem::temp_directory_path() / "orvane-fuzz-XXXXXX").string();
        if (!mkdtemp(&name[0])) std::abort();
        path = name;
    }
    ~OutFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

const std::filesystem::path& outFolder() {
    static OutFolder folder;
    return folder.path;
}

// As the splitter does: every page looked at for the `kinds` asked, the
// verdicts settled over the file, and the documents its plan gives written.
void splitInto(orvane::SourcePdf& pdf, const std::filesystem::path& dir, const orvane::SheetKinds& kinds) {
    std::vector<orvane::PageResult> results;
    for (int i = 0; i < pdf.pageCount(); ++i) results.push_back(pdf.lookAt(i, orvane::kDefaultThreshold, kinds));
    std::vector<orvane::PageLook*> settled;
    for (orvane::PageResult& r : results) settled.push_back(&r.look);
    orvane::settleFile(settled, orvane::kDefaultThreshold);
    orvane::settleSheets(results, kinds, [&](std::size_t i, bool& unsure) {
        return pdf.blankCloser(static_cast<int>(i), results[i].look, unsure);
    });
    std::vector<bool> separators;
    for (const orvane::PageResult& r : results) separators.push_back(r.look.separator);
    for (const orvane::Document& doc : orvane::planDocuments(separators, "document"))
        pdf.writeDocument(doc.first, doc.last, (dir / doc.name).string());
}

}  // namespace

// fontconfig and poppler keep process-lifetime caches (set up once in each
// helper).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libpoppler\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Before libFuzzer reads the command line: a helper serves and ends here.
    orvane::serveIfHelper(*argc, *argv);
    outFolder();
    return 0;
}

// A crash in qpdf or poppler ends only the helper process that ran it, which
// libFuzzer does not see: such inputs are kept in ORVANE_FUZZ_ISOLATED.
void keepIfAChildCrashed(std::size_t before, const std::uint8_t* data, std::size_t size) {
    const char* dir = std::getenv("ORVANE_FUZZ_ISOLATED");
    if (!dir || orvane::helperCrashes() == before) return;
    const std::string name = std::string(dir) + "/helper-crash-" +
                             std::to_string(std::hash<std::string>()(
                                 std::string(reinterpret_cast<const char*>(data), size))) +
                             ".pdf";
    if (std::FILE* f = std::fopen(name.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static orvane::Helper helper;
    const std::size_t crashes = orvane::helperCrashes();
    const std::string input = (outFolder() / "input.pdf").string();
    if (std::FILE* f = std::fopen(input.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    try {
        orvane::SourcePdf pdf(input, helper);
        // Every other input is looked at for every sheet kind: the closer
        // decodings and renderings see hostile data too.
        orvane::SheetKinds kinds;
        kinds.code = kinds.black = kinds.blank = size % 2 == 1;
        splitInto(pdf, outFolder(), kinds);
    } catch (const std::exception&) {
        // A reason to report (the splitter prints it as NOT SPLIT): fine.
    }
    keepIfAChildCrashed(crashes, data, size);
    return 0;
}
