// The sheet kinds at file level (splitter/src/sheets.*): the duplex rule on a
// table of files whose pages are given as their small-picture verdicts, which
// pages get the closer look, each document's code, and how the kinds show in
// the line and the events. Prints one line per wrong case; exits non-zero on
// any.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "events.h"
#include "report.h"
#include "sheets.h"

namespace orvane {
// The line's code traces the helpers; none run here.
std::size_t helpersStarted() { return 0; }
std::size_t helperCrashes() { return 0; }
}  // namespace orvane

using namespace orvane;

namespace {

// One letter per page, as the looking left it: p an ordinary page, y a
// coloured sheet, c a code sheet reading PATCHT:<its page number>, C one
// reading PATCHT, k a black sheet, n nothing drawn, e / f a page found empty
// at small scale whose closer look says blank / not blank.
std::vector<PageResult> pagesOf(const std::string& letters) {
    std::vector<PageResult> results(letters.size());
    for (std::size_t i = 0; i < letters.size(); ++i) {
        PageLook& look = results[i].look;
        switch (letters[i]) {
        case 'y': look.separator = true; break;
        case 'c': look.sheet = SheetKind::Code; results[i].code = "PATCHT:" + std::to_string(i + 1); break;
        case 'C': look.sheet = SheetKind::Code; results[i].code = "PATCHT"; break;
        case 'k': look.sheet = SheetKind::Black; break;
        case 'n': look.sheet = SheetKind::Blank; break;
        case 'e': case 'f': look.blankCandidate = true; break;
        }
    }
    return results;
}

char letterOf(SheetKind kind) {
    switch (kind) {
    case SheetKind::Colour: return 'y';
    case SheetKind::Code: return 'c';
    case SheetKind::Black: return 'k';
    case SheetKind::Blank: return 'b';
    case SheetKind::Back: return 'B';
    case SheetKind::None: break;
    }
    return '.';
}

SheetKinds kindsOf(const std::string& list) {
    SheetKinds k;
    k.colour = list.find("colour") != std::string::npos;
    k.code = list.find("code") != std::string::npos;
    k.black = list.find("black") != std::string::npos;
    k.blank = list.find("blank") != std::string::npos;
    return k;
}

struct Case {
    const char* kinds;
    const char* pages;
    const char* sheets;  // letterOf each page's final kind
    const char* looked;  // x where the closer look was asked
    const char* codes;   // each document's code, "-" for none, joined by spaces
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

std::string settled(const Case& c, std::vector<PageResult>& results, std::string& looked) {
    looked.assign(results.size(), '.');
    if (!kindsOf(c.kinds).colour)
        for (PageResult& r : results) r.look.separator = false;  // settleFile makes no colour sheet then
    settleSheets(results, kindsOf(c.kinds), [&](std::size_t i, bool& unsure) {
        looked[i] = 'x';
        unsure = false;
        return c.pages[i] == 'e';
    });
    std::string sheets;
    for (const PageResult& r : results) sheets += letterOf(r.look.sheet);
    return sheets;
}

std::string codesOf(const std::vector<Document>& documents) {
    std::string out;
    for (const Document& d : documents) out += (out.empty() ? "" : " ") + d.code.value_or("-");
    return out;
}

int failures = 0;

void expect(bool ok, const std::string& what) {
    if (ok) return;
    ++failures;
    std::printf("%s\n", what.c_str());
}

// The line lists sheets of every kind; the events name each sheet's kind and
// a code sheet's text.
void lineAndEvents() {
    Case c{"colour,code,black", "pcepykp", "", "", ""};
    std::vector<PageResult> results = pagesOf(c.pages);
    std::string looked;
    settled(c, results, looked);
    std::vector<bool> separators;
    for (const PageResult& r : results) separators.push_back(r.look.separator);
    std::vector<Document> documents = planDocuments(separators, "batch");
    const std::string line = splitLine("batch.pdf", results, "batch", documents, false);
    expect(line.find("separators: 2-3, 5-6;") != std::string::npos, "line: " + line);

    const std::string file = "orvane-sheets-table-events.jsonl";
    std::remove(file.c_str());
    setenv("ORVANE_EVENTS", file.c_str(), 1);
    {
        Events events("orvane-sheets-table-no-target");
        events.split("batch.pdf", results, "batch", documents);
    }
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(file.c_str());
    for (const char* want : {"\"page\":1,\"verdict\":\"page\",\"share\":0.000,\"unsure\":false}",
                             "\"page\":2,\"verdict\":\"separator\",\"share\":0.000,\"unsure\":false,\"sheet\":\"code\","
                             "\"code\":\"PATCHT:2\"}",
                             "\"page\":3,\"verdict\":\"separator\",\"share\":0.000,\"unsure\":false,\"sheet\":\"back\"}",
                             "\"page\":5,\"verdict\":\"separator\",\"share\":0.000,\"unsure\":false,\"sheet\":\"colour\"}",
                             "\"page\":6,\"verdict\":\"separator\",\"share\":0.000,\"unsure\":false,\"sheet\":\"black\"}"})
        expect(text.find(want) != std::string::npos, std::string("events lack ") + want + "\n" + text);
}

}  // namespace

int main() {
    for (const Case& c : kCases) {
        std::vector<PageResult> results = pagesOf(c.pages);
        std::string looked;
        const std::string sheets = settled(c, results, looked);
        std::vector<bool> separators;
        for (const PageResult& r : results) separators.push_back(r.look.separator);
        std::vector<Document> documents = planDocuments(separators, "batch");
        attachCodes(documents, results);
        const std::string codes = codesOf(documents);
        expect(sheets == c.sheets && looked == c.looked && codes == c.codes,
               std::string(c.kinds) + " " + c.pages + ": sheets " + sheets + " (want " + c.sheets + "), looked " +
                   looked + " (want " + c.looked + "), codes " + codes + " (want " + c.codes + ")");
    }
    lineAndEvents();
    std::printf("%d wrong\n", failures);
    return failures ? 1 : 0;
}
