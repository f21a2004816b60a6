#include "run_options.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "ansi_line.h"
#include "environment.h"
#include "folders.h"
#include "names.h"
#include "path_text.h"
#include "process.h"
#include "recognise.h"

namespace fs = std::filesystem;

namespace orvane {

namespace {

constexpr const char* kOptionsVariable = "ORVANE_SPLITTER_OPTIONS";

std::string trimmed(const std::string& s) {
    const std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// "a,b,,c" into its pieces between the separators: a, b, (empty), c.
std::vector<std::string> pieces(const std::string& value, char separator) {
    std::vector<std::string> out;
    for (std::size_t start = 0;;) {
        const std::size_t end = value.find(separator, start);
        out.push_back(value.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) return out;
        start = end + 1;
    }
}

std::optional<std::string> readSheets(const std::string& value, SheetKinds& out) {
    SheetKinds kinds;
    kinds.colour = false;
    for (const std::string& piece : pieces(value, ',')) {
        const std::string kind = trimmed(piece);
        bool* flag = kind == "colour" ? &kinds.colour
                     : kind == "code" ? &kinds.code
                     : kind == "black" ? &kinds.black
                     : kind == "blank" ? &kinds.blank
                                       : nullptr;
        if (kind.empty()) return std::string("a kind is missing in the list");
        if (!flag) return "unknown sheet kind \"" + kind + "\" (the kinds: colour, code, black, blank)";
        if (*flag) return "\"" + kind + "\" is listed twice";
        *flag = true;
    }
    out = kinds;
    return std::nullopt;
}

// "4, 9-10" (1-based, as the line lists pages) into sorted 0-based pages.
std::optional<std::string> readPageList(const std::string& value, std::vector<int>& out) {
    std::vector<int> pages;
    for (const std::string& piece : pieces(value, ',')) {
        const std::string item = trimmed(piece);
        const std::size_t dash = item.find('-');
        const std::string from = trimmed(item.substr(0, dash)), to = dash == std::string::npos ? from : trimmed(item.substr(dash + 1));
        const auto number = [](const std::string& t) {
            if (t.empty() || t.size() > 7 || t.find_first_not_of("0123456789") != std::string::npos) return 0;
            return std::stoi(t);
        };
        const int first = number(from), last = number(to);
        if (first < 1 || last < first) return "\"" + item + "\" is no page or range of pages (the form: 4, 9-10)";
        for (int p = first; p <= last; ++p) pages.push_back(p - 1);
    }
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    out = pages;
    return std::nullopt;
}

// Tesseract's language names joined by '+' ("chi_sim+eng"): each a name of
// its data file, once; osd finds a page's orientation and reads no text.
std::optional<std::string> readLanguages(const std::string& value, std::string& out) {
    out.clear();  // empty: off, also where an earlier place turned it on
    if (value.empty()) return std::nullopt;
    std::vector<std::string> seen;
    for (const std::string& name : pieces(value, '+')) {
        if (name.empty()) return std::string("a language is missing (the form: chi_sim+eng)");
        if (name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") != std::string::npos)
            return "\"" + name + "\" is no language name (letters, digits and _ only)";
        if (name == "osd") return std::string("osd is no language (it finds the pages' orientation by itself)");
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) return "\"" + name + "\" is listed twice";
        seen.push_back(name);
    }
    out = value;
    return std::nullopt;
}

// Sets the option `key` (without "--"); what is wrong with it otherwise.
std::optional<std::string> setOption(const std::string& key, const std::string& value, Options& out) {
    if (key == "sheets") return readSheets(value, out.sheets);
    if (key == "blank-pages") {
        if (value != "keep" && value != "flag" && value != "drop") return std::string("not keep, flag or drop");
        out.blankPages = value == "keep" ? BlankPages::Keep : value == "flag" ? BlankPages::Flag : BlankPages::Drop;
        return std::nullopt;
    }
    if (key == "keep-pages") {
        out.keepPagesGiven = true;
        return readPageList(value, out.keepPages);
    }
    if (key == "ocr") return readLanguages(value, out.ocr);
    if (key == "names") {
        if (std::optional<std::string> why = templateProblem(value)) return why;
        out.names = value;
        out.namesGiven = true;
        return std::nullopt;
    }
    return std::string("unknown key (the keys: sheets, names, blank-pages, ocr)");
}

bool knownOption(const std::string& key) {
    return key == "sheets" || key == "names" || key == "blank-pages" || key == "keep-pages" || key == "ocr";
}

bool refuse(const std::string& where, const std::string& what, const std::string& why) {
    const std::string line = "orvaneFun.exe: " + where + ": " + what + ": " + why + "\n";
    std::fputs(output_line(line).c_str(), stderr);
    return false;
}

// The options of a command line (or of the variable): --key VALUE or --key=VALUE each.
bool readOptionList(const std::vector<std::string>& args, const std::string& where, Options& out) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.compare(0, 2, "--") != 0) return refuse(where, arg, "not an option (--sheets KINDS, --names TEMPLATE ...)");
        const std::size_t eq = arg.find('=');
        const std::string key = arg.substr(2, eq == std::string::npos ? eq : eq - 2);
        if (!knownOption(key))
            return refuse(where, arg, "unknown option (the options: --sheets, --names, --blank-pages, --keep-pages, --ocr)");
        std::string value;
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return refuse(where, arg, "a value must follow");
        }
        if (std::optional<std::string> why = setOption(key, value, out)) return refuse(where, "--" + key + " " + value, *why);
    }
    return true;
}

// The settings file: key=value lines; '#' or ';' starts a comment line; an [orvaneFun] header may
// stand above them. UTF-8, with or without a byte-order mark.
bool readSettingsFile(const std::string& path, Options& out) {
    std::ifstream file(textPath(path), std::ios::binary);
    if (!file) {
        std::error_code ec;
        if (!fs::exists(textPath(path), ec)) return true;
        return refuse(path, "the settings file", "it cannot be read");
    }
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    std::size_t start = 0;
    for (int number = 1; start <= text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line = trimmed(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        const std::string where = path + " (line " + std::to_string(number) + ")";
        if (line[0] == '[') {
            if (lower(line) == "[orvanefun]") continue;
            return refuse(where, line, "unknown section (only [orvaneFun] may stand there)");
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) return refuse(where, line, "not a key=value line");
        const std::string key = lower(trimmed(line.substr(0, eq))), value = trimmed(line.substr(eq + 1));
        // Pages to keep name pages of one source: a run's own choice, never an office's setting.
        if (key == "keep-pages") return refuse(where, line, "unknown key (--keep-pages is given with the run)");
        if (std::optional<std::string> why = setOption(key, value, out)) return refuse(where, key + "=" + value, *why);
    }
    return true;
}

// Every language asked for has its data where recognition will look: found
// now, not after minutes of work.
bool languagesInstalled(const std::string& languages) {
    if (languages.empty()) return true;
    for (const std::string& name : pieces(languages, '+')) {
        std::string folder;
        if (!languageInstalled(name, folder)) {
            const std::string line = "orvaneFun.exe: --ocr: language " + name + " is not installed (no " + name +
                                     ".traineddata in " + folder + ")\n";
            std::fputs(output_line(line).c_str(), stderr);
            return false;
        }
    }
    return true;
}

}  // namespace

std::string settingsFilePath() {
    const std::optional<std::string> given = environment_utf8("ORVANE_SPLITTER_INI");
    if (given && !given->empty()) return *given;
    return pathText(textPath(ownExecutable()).parent_path() / "orvaneFun.ini");
}

std::optional<std::vector<std::string>> splitOptionText(const std::string& text) {
    std::vector<std::string> args;
    std::string arg;
    bool inArg = false, quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inArg) args.push_back(arg);
            arg.clear();
            inArg = false;
            continue;
        }
        inArg = true;
        if (c == '"') {
            quoted = !quoted;
        } else if (quoted && c == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
            arg += text[++i];
        } else {
            arg += c;
        }
    }
    if (quoted) return std::nullopt;
    if (inArg) args.push_back(arg);
    return args;
}

bool readRunOptions(const std::vector<std::string>& commandLine, Options& out) {
    if (!readSettingsFile(settingsFilePath(), out)) return false;
    if (const std::optional<std::string> text = environment_utf8(kOptionsVariable)) {
        const std::optional<std::vector<std::string>> args = splitOptionText(*text);
        if (!args) return refuse(kOptionsVariable, *text, "a double quote is left open");
        if (!readOptionList(*args, kOptionsVariable, out)) return false;
    }
    if (!readOptionList(commandLine, "the command line", out)) return false;
    // A blank page would be a separator and a page of a document at once.
    if (out.blankPages != BlankPages::Keep && out.sheets.blank)
        return refuse("the options", out.blankPages == BlankPages::Flag ? "--blank-pages flag" : "--blank-pages drop",
                      "blank pages cannot be flagged or dropped while blank sheets separate documents (--sheets blank)");
    return languagesInstalled(out.ocr);
}

}  // namespace orvane
