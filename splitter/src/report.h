// What the splitter prints: one line per source file, the summary line, and
// the trace of how each page was judged (ORVANE_SPLITTER_TRACE).
#pragma once

#include <string>
#include <vector>

#include "page_result.h"
#include "page_text.h"
#include "split_plan.h"

namespace orvane {

// Writes one line on standard output and flushes it at once.
void emit(const std::string& line);

// The line of a file that was split: `shown` is its path relative to the
// source folder, `folder` the name of its output folder.
std::string splitLine(const std::string& shown, const std::vector<PageResult>& results,
                      const std::string& folder, const std::vector<Document>& documents, bool repaired);
std::string notSplitLine(const std::string& shown, const std::string& reason);

// What the summary line counts.
struct Totals {
    long files = 0, failed = 0, pages = 0, separators = 0, unsure = 0, documents = 0;
    void add(const std::vector<PageResult>& results, std::size_t documents);
};
std::string summaryLine(const Totals& totals);

// With ORVANE_SPLITTER_TRACE set: how each page of a file was judged, and
// how many helper processes the run started.
void tracePages(const std::string& shown, const std::vector<PageResult>& results);
// With --ocr: how a page's recognition went (its lines, its wall seconds,
// whether it keeps text, where its first line lies on the page).
void traceRecognised(const std::string& shown, int index, const PageText& text, double seconds, bool kept);
void traceHelpers();

}  // namespace orvane
