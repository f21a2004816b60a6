// Document names from untrusted code texts, each written under its name into a folder of its own:
// afterwards no file may lie anywhere else. On Linux and, cross-built, under wine, where Windows'
// own rules (device names, case) meet the names for real. Usage: names_table WORK_FOLDER; prints
// one line per wrong name and a count; exits 1 on any.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "document_names.h"
#include "names.h"

namespace fs = std::filesystem;
using namespace orvane;

namespace {

std::string times(int n, const std::string& s) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
}

struct Case {
    const char* what;
    const char* names;                  // the template
    std::vector<std::optional<std::string>> codes;  // one document each
    std::vector<std::string> existing;  // files already in the folder
    std::vector<std::string> expected;  // the names the documents get
};

const std::vector<Case> kCases = {
    {"Chinese stays", "{code}", {"合同-7"}, {}, {"合同-7.pdf"}},
    {"a path up stays in its folder", "{code}", {"../../etc/passwd"}, {}, {".._.._etc_passwd.pdf"}},
    {"a Windows path up too", "{code}", {"..\\..\\boot.ini"}, {}, {".._.._boot.ini.pdf"}},
    {"an absolute path", "{code}", {"/tmp/x", "C:\\Windows\\x"}, {}, {"_tmp_x.pdf", "C__Windows_x.pdf"}},
    {"dots alone leave nothing: the default name", "{code}", {"..", ". ."}, {}, {"scan_001.pdf", "scan_002.pdf"}},
    {"device names, any case, any extension", "{code}", {"CON", "nul.txt", "COM1 ", "Lpt9.tar.gz", "CONOUT$", "COM²"},
     {}, {"_CON.pdf", "_nul.txt.pdf", "_COM1.pdf", "_Lpt9.tar.gz.pdf", "_CONOUT$.pdf", "_COM².pdf"}},
    {"not device names", "{code}", {"CONSOLE", "COM10", "AUXILIARY"}, {}, {"CONSOLE.pdf", "COM10.pdf", "AUXILIARY.pdf"}},
    {"characters Windows refuses", "{code}", {"a<b>c:d\"e|f?g*h/i\\j"}, {}, {"a_b_c_d_e_f_g_h_i_j.pdf"}},
    {"control characters", "{code}", {std::string("tab\there\nline\r\x01\x7f") + "\xC2\x85"}, {},
     {"tab_here_line____.pdf"}},
    {"bytes that are no UTF-8", "{code}", {"a\xff\xfe" "b\xC0\xAF" "c\xED\xA0\x80"}, {}, {"a__b__c___.pdf"}},
    {"a direction override", "{code}", {"\xE2\x80\xAEgpj.exe"}, {}, {"_gpj.exe.pdf"}},
    {"no trailing dot or space, no leading space", "{code}", {"  invoice. . ", "名前."}, {}, {"invoice.pdf", "名前.pdf"}},
    {"at most 255 bytes with .pdf", "{code}", {times(300, "a")}, {}, {times(251, "a") + ".pdf"}},
    {"cut at a whole character", "{code}", {times(100, "合"), times(100, "😀")}, {},
     {times(83, "合") + ".pdf", times(62, "😀") + ".pdf"}},
    {"a cut that ends in dots", "{code}", {times(250, "a") + "....b"}, {}, {times(250, "a") + ".pdf"}},
    {"taken without regard to case", "{code}", {"Report", "report", "REPORT"}, {},
     {"Report.pdf", "report_2.pdf", "REPORT_3.pdf"}},
    {"taken beyond ASCII", "{code}", {"Ärger", "ärger", "Σύμβαση", "σύμβαση", "Договор", "договор"}, {},
     {"Ärger.pdf", "ärger_2.pdf", "Σύμβαση.pdf", "σύμβαση_2.pdf", "Договор.pdf", "договор_2.pdf"}},
    {"taken by a file already there", "{code}", {"taken"}, {"Taken.PDF", "TAKEN_2.pdf"}, {"taken_3.pdf"}},
    {"a long name taken keeps its number", "{code}", {times(300, "a"), times(300, "a")}, {},
     {times(251, "a") + ".pdf", times(249, "a") + "_2.pdf"}},
    {"no code: the default name", "{code}", {std::nullopt, "", "x"}, {}, {"scan_001.pdf", "scan_002.pdf", "x.pdf"}},
    {"a default name taken by a code", "{code}", {"scan_002", std::nullopt}, {}, {"scan_002.pdf", "scan_002_2.pdf"}},
    {"the fields", "{batch} {n} {n:03} {date} {code}", {"A", std::nullopt}, {}, {"scan 1 001 2024-01-31 A.pdf",
                                                                                      "scan_002.pdf"}},
    {"a template with its .pdf", "{code}.PDF", {"x", ".pdf"}, {}, {"x.pdf", ".pdf.pdf"}},
    {"literal text made safe too", "{batch}: {code}?", {"x"}, {}, {"scan_ x_.pdf"}},
};

int failures = 0;

void fail(const std::string& what, const std::string& got, const std::string& expected) {
    std::printf("FAILED %s: got \"%s\", expected \"%s\"\n", what.c_str(), got.c_str(), expected.c_str());
    ++failures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    // WORK_FOLDER/names-work/target: nothing may appear beside target.
    fs::path work = fs::u8path(argv[1]) / "names-work" / "target";
#ifdef _WIN32
    // In the \\?\ form: the table's lengths are the name's own rules, not the cut that keeps a deep
    // folder's paths within MAX_PATH (under wine the work folder alone is some 60 units).
    work = fs::path(L"\\\\?\\" + fs::absolute(work).wstring());
#endif
    fs::remove_all(work.parent_path());
    std::vector<fs::path> folders;
    for (std::size_t c = 0; c < kCases.size(); ++c) {
        const Case& k = kCases[c];
        const fs::path folder = work / std::to_string(c);
        fs::create_directories(folder);
        folders.push_back(folder);
        for (const std::string& name : k.existing) std::ofstream(folder / fs::u8path(name)) << "there";
        std::vector<Document> docs;
        for (std::size_t d = 0; d < k.codes.size(); ++d)
            docs.push_back(Document{0, 0, "scan_00" + std::to_string(d + 1) + ".pdf", k.codes[d]});
        nameDocuments(docs, k.names, "scan", std::string("2024-01-31"), folder);
        for (std::size_t d = 0; d < docs.size(); ++d) {
            if (d >= k.expected.size() || docs[d].name != k.expected[d])
                fail(k.what, docs[d].name, d < k.expected.size() ? k.expected[d] : "(none)");
            std::ofstream out(folder / fs::u8path(docs[d].name), std::ios::binary);
            out << "document";
            if (!out) fail(std::string(k.what) + ": writing", docs[d].name, "a file written");
        }
    }
    // Every file written lies directly in its case's folder.
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(work)) {
        if (e.is_directory()) continue;
        bool inside = false;
        for (const fs::path& f : folders) inside = inside || e.path().parent_path() == f;
        if (!inside) fail("a file outside its folder", e.path().u8string(), "none");
    }
    // Beside the work folder nothing appeared: the names went nowhere up.
    for (const fs::directory_entry& e : fs::directory_iterator(work.parent_path()))
        if (e.path().filename() != "target") fail("beside the work folder", e.path().u8string(), "nothing");

    std::printf("%zu name cases, %d failed\n", kCases.size(), failures);
    return failures ? 1 : 0;
}
