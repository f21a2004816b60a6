#include "report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "ansi_line.h"
#include "environment.h"
#include "helper.h"
#include "sheets.h"

namespace orvane {

namespace {

// "1, 5-6, 14" for 0-based page indices.
std::string pageList(const std::vector<int>& pages) {
    std::string out;
    for (std::size_t i = 0; i < pages.size();) {
        std::size_t j = i;
        while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 1) ++j;
        if (!out.empty()) out += ", ";
        out += std::to_string(pages[i] + 1);
        if (j > i) out += "-" + std::to_string(pages[j] + 1);
        i = j + 1;
    }
    return out;
}

// "page 4", "pages 2-3", "pages 2-3, 5": exactly the pages a document holds.
std::string pageSpan(const std::vector<int>& pages) {
    return (pages.size() == 1 ? "page " : "pages ") + pageList(pages);
}

// A document's name as the line lists it: in double quotes (a quote inside doubled) when it holds
// what the list itself is made of, so that "a, b (c).pdf" still reads as one name.
std::string listedName(const std::string& name) {
    if (name.find_first_of(",()\"\r\n") == std::string::npos) return name;
    std::string out = "\"";
    for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string counted(long n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool tracing() {
    static const bool on = [] {
        const std::string v = environment_utf8("ORVANE_SPLITTER_TRACE").value_or(std::string());
        return !v.empty() && v != "0";
    }();
    return on;
}

std::mutex traceLock;

}  // namespace

void emit(const std::string& line) {
    // In the encoding the reader of standard output decodes it with (the ANSI code page on Windows).
    std::string text = output_line(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

std::string splitLine(const std::string& shown, const std::vector<PageResult>& results,
                      const std::string& folder, const std::vector<Document>& documents, bool repaired) {
    std::vector<int> separators, unsure, blank, noText;
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (results[i].look.separator) separators.push_back(static_cast<int>(i));
        if (results[i].look.unsure) unsure.push_back(static_cast<int>(i));
        if (results[i].blank) blank.push_back(static_cast<int>(i));
        if (results[i].noText) noText.push_back(static_cast<int>(i));
    }
    std::string line = shown + ": " + counted(static_cast<long>(results.size()), "page", "pages");
    line += "; separators: " + (separators.empty() ? std::string("none") : pageList(separators));
    if (!unsure.empty()) line += "; check: " + pageList(unsure);
    if (!blank.empty()) line += "; blank: " + pageList(blank);
    if (!noText.empty()) line += "; no text: " + pageList(noText);
    const std::size_t written = writtenCount(documents);
    if (documents.empty()) {
        line += "; no document written (no pages between the separator sheets)";
    } else if (written == 0) {
        line += "; no document written (every page blank)";
    } else {
        line += "; " + counted(static_cast<long>(written), "document", "documents") + " in \"" + folder + "\": ";
        for (std::size_t d = 0; d < documents.size(); ++d) {
            if (d) line += ", ";
            // A run whose pages were all dropped keeps its place (and its number).
            line += documents[d].pages.empty() ? std::string("no document (every page blank)")
                                               : listedName(documents[d].name) + " (" + pageSpan(documents[d].pages) + ")";
        }
    }
    if (repaired) line += "; note: the file is damaged and was repaired while reading, please check the documents";
    return line;
}

std::string notSplitLine(const std::string& shown, const std::string& reason) {
    return shown + ": NOT SPLIT: " + reason;
}

void Totals::add(const std::vector<PageResult>& results, std::size_t written) {
    pages += static_cast<long>(results.size());
    for (const PageResult& r : results) {
        separators += r.look.separator ? 1 : 0;
        unsure += r.look.unsure ? 1 : 0;
    }
    documents += static_cast<long>(written);
}

std::string summaryLine(const Totals& t) {
    return "Summary: " + std::to_string(t.files) + " PDF " + (t.files == 1 ? "file" : "files") + ", " +
           std::to_string(t.files - t.failed) + " split, " + std::to_string(t.failed) + " not split; " +
           counted(t.pages, "page", "pages") + ", " + std::to_string(t.separators) + " separator pages, " +
           counted(t.documents, "document", "documents") + " written" +
           (t.unsure ? "; " + counted(t.unsure, "page", "pages") + " to check" : std::string());
}

void tracePages(const std::string& shown, const std::vector<PageResult>& results) {
    if (!tracing()) return;
    std::lock_guard<std::mutex> g(traceLock);
    for (std::size_t i = 0; i < results.size(); ++i) {
        const PageResult& r = results[i];
        const char* how = r.path == LookPath::Jpeg ? "jpeg" : r.path == LookPath::Grey ? "grey" : "rendered";
        // Sheets of the other kinds name theirs; the rest trace as they always did.
        std::string sheet;
        if (r.look.sheet != SheetKind::None && r.look.sheet != SheetKind::Colour)
            sheet = std::string(" sheet=") + sheetName(r.look.sheet);
        std::fprintf(stderr, "trace %s page %zu: %s share=%.3f hue=%d standout=%d rows=%d/%d separator=%d unsure=%d%s\n",
                     shown.c_str(), i + 1, how, r.look.share, r.look.hue, r.look.standout, r.look.rowsRead,
                     r.look.height, r.look.separator ? 1 : 0, r.look.unsure ? 1 : 0, sheet.c_str());
    }
    std::fflush(stderr);
}

void traceRecognised(const std::string& shown, int index, const PageText& text, double seconds, bool kept) {
    if (!tracing()) return;
    // The first line's box on the page (user space, points): where its text
    // layer will lie.
    double box[4] = {0, 0, 0, 0};
    if (!text.lines.empty()) {
        const TextBox& b = text.lines.front().box;
        const double* m = text.toPage;
        box[0] = box[1] = 1e300, box[2] = box[3] = -1e300;
        for (const int x : {b.left, b.right})
            for (const int y : {b.top, b.bottom}) {
                const double px = m[0] * x + m[2] * y + m[4], py = m[1] * x + m[3] * y + m[5];
                box[0] = std::min(box[0], px), box[1] = std::min(box[1], py);
                box[2] = std::max(box[2], px), box[3] = std::max(box[3], py);
            }
    }
    std::lock_guard<std::mutex> g(traceLock);
    std::fprintf(stderr, "recognised %s page %d: lines=%zu seconds=%.2f text=%d first=%.0f,%.0f,%.0f,%.0f\n",
                 shown.c_str(), index + 1, text.lines.size(), seconds, kept ? 1 : 0, box[0], box[1], box[2], box[3]);
    std::fflush(stderr);
}

void traceHelpers() {
    if (!tracing()) return;
    std::lock_guard<std::mutex> g(traceLock);
    std::fprintf(stderr, "helpers: %zu started, %zu crashed\n", helpersStarted(), helperCrashes());
    std::fflush(stderr);
}

}  // namespace orvane
