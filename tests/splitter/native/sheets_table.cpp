// The sheet kinds settled with the file (splitter/src/sheets.*) on a table of
// files whose pages are given as their small-picture verdicts: the duplex
// rule, which pages get the closer look, each document's code, and how the
// kinds show in the line and the events. Exits non-zero on a wrong case.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "events.h"
#include "report.h"
#include "sheets.h"

namespace orvane {  // the line's code traces the helpers; none run here
std::size_t helpersStarted() { return 0; }
std::size_t helperCrashes() { return 0; }
}  // namespace orvane

using namespace orvane;

namespace {

struct Case {
    // The kinds asked; one letter a page as the looking left it: p a page, y
    // a coloured sheet, c a code sheet reading PATCHT:<its page number>, C
    // one reading PATCHT, k a black sheet, n nothing drawn, e / f a page
    // empty at small scale whose closer look says blank / not blank.
    const char *kinds, *pages;
    // Each page's final kind (".yckbB" in SheetKind's order), x where the
    // closer look was asked, each document's code ("-" for none).
    const char *sheets, *looked, *codes;
};

const Case kCases[] = {
    {"colour", "pyp", ".y.", "...", "- -"},
    {"colour,code", "pcep", ".cB.", "..x.", "- 2"},
    {"colour,code", "pceep", ".cB..", "..x..", "- 2"},       // without blank, one back only
    {"colour,code", "pep", "...", "...", "-"},              // an empty page alone is a page
    {"colour,code", "pcfp", ".c..", "..x.", "- 2"},         // not blank after all: a page of its own
    {"colour,code", "pcnp", ".cB.", "....", "- 2"},         // nothing drawn needs no closer look
    {"colour,code", "pyep", ".y..", "....", "- -"},         // a coloured sheet has no back rule
    {"colour,code", "Cepcp", "cB.c.", ".x...", "- 4"},      // PATCHT alone names nothing
    {"colour,code", "pceyp", ".cBy.", "..x..", "- -"},      // the document after follows the colour
    {"colour,black", "pkep", ".kB.", "..x.", "- -"},
    {"colour,blank", "pepp", ".b..", ".x..", "- -"},
    {"colour,blank", "peenp", ".bBB.", ".xx..", "- -"},     // empty pages in a row: one sheet
    {"colour,blank", "pfp", "...", ".x.", "-"},
    {"colour,code,blank", "pcepep", ".cB.b.", "..x.x.", "- 2 -"},
    {"code", "pyp", "...", "...", "-"},                     // colour left out: no coloured sheets
};

struct Settled {
    std::vector<PageResult> results;
    std::vector<Document> documents;
    std::string sheets, looked, codes;
};

Settled settle(const Case& c) {
    Settled s;
    const std::string list = c.kinds, pages = c.pages;
    const auto has = [&](const char* k) { return list.find(k) != std::string::npos; };
    SheetKinds kinds;
    kinds.colour = has("colour"), kinds.code = has("code"), kinds.black = has("black"), kinds.blank = has("blank");
    s.results.resize(pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) {
        PageLook& look = s.results[i].look;
        const char p = pages[i];
        look.separator = p == 'y' && kinds.colour;  // as settleFile leaves it
        look.sheet = p == 'c' || p == 'C' ? SheetKind::Code : p == 'k' ? SheetKind::Black
                     : p == 'n'           ? SheetKind::Blank : SheetKind::None;
        look.blankCandidate = p == 'e' || p == 'f';
        s.results[i].code = p == 'c' ? "PATCHT:" + std::to_string(i + 1) : p == 'C' ? "PATCHT" : "";
    }
    s.looked.assign(pages.size(), '.');
    settleSheets(s.results, kinds, [&](std::size_t i, bool& unsure) {
        s.looked[i] = 'x';
        unsure = false;
        return pages[i] == 'e';
    });
    std::vector<bool> separators;
    for (const PageResult& r : s.results) {
        s.sheets += ".yckbB"[static_cast<int>(r.look.sheet)];
        separators.push_back(r.look.separator);
    }
    s.documents = planDocuments(separators, "batch");
    attachCodes(s.documents, s.results);
    for (const Document& d : s.documents) s.codes += (s.codes.empty() ? "" : " ") + d.code.value_or("-");
    return s;
}

int failures = 0;

void expect(bool ok, const std::string& what) {
    if (!ok && ++failures) std::printf("%s\n", what.c_str());
}

// The line lists sheets of every kind; the events name each sheet's kind and
// a code sheet's text.
void lineAndEvents() {
    const Settled s = settle(Case{"colour,code,black", "pcepykp", "", "", ""});
    const std::string line = splitLine("batch.pdf", s.results, "batch", s.documents, false);
    expect(line.find("separators: 2-3, 5-6;") != std::string::npos, "line: " + line);
    const std::string file = "orvane-sheets-table-events.jsonl";
    std::remove(file.c_str());
    setenv("ORVANE_EVENTS", file.c_str(), 1);
    Events("orvane-sheets-table-no-target").split("batch.pdf", s.results, "batch", s.documents);
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(file.c_str());
    for (const char* want : {":1,\"verdict\":\"page\",\"share\":0.000,\"unsure\":false}",
                             ":2,\"verdict\":\"separator\",\"share\":0.000,\"unsure\":false,\"sheet\":\"code\",\"code\":\"PATCHT:2\"}",
                             ":3,\"verdict\":\"separator\",\"share\":0.000,\"unsure\":false,\"sheet\":\"back\"}",
                             ":5,\"verdict\":\"separator\",\"share\":0.000,\"unsure\":false,\"sheet\":\"colour\"}",
                             ":6,\"verdict\":\"separator\",\"share\":0.000,\"unsure\":false,\"sheet\":\"black\"}"})
        expect(text.find(want) != std::string::npos, std::string("events lack ") + want + "\n" + text);
}

}  // namespace

int main() {
    for (const Case& c : kCases) {
        const Settled s = settle(c);
        expect(s.sheets == c.sheets && s.looked == c.looked && s.codes == c.codes,
               std::string(c.kinds) + " " + c.pages + ": sheets " + s.sheets + " (want " + c.sheets + "), looked " +
                   s.looked + " (want " + c.looked + "), codes " + s.codes + " (want " + c.codes + ")");
    }
    lineAndEvents();
    std::printf("%d wrong\n", failures);
    return failures ? 1 : 0;
}
