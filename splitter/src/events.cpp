#include "events.h"

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>

#include "windows_folders.h"
#define ORVANE_WRITE ::_write
#define ORVANE_CLOSE _close
#define ORVANE_APPEND_FLAGS (_O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY)
#else
#include <unistd.h>
#define ORVANE_WRITE ::write
#define ORVANE_CLOSE ::close
#define ORVANE_APPEND_FLAGS (O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC)
#endif

#include "environment.h"
#include "path_text.h"
#include "sheets.h"

namespace fs = std::filesystem;

namespace orvane {

namespace {

// [2,3,5]: 0-based pages as 1-based numbers.
std::string numberList(const std::vector<int>& pages) {
    std::string out;
    for (int p : pages) out += (out.empty() ? "" : ",") + std::to_string(p + 1);
    return "[" + out + "]";
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Opens the events file for appending; the name is UTF-8 (on Windows opened over UTF-16, so a
// Chinese name works whatever the ANSI code page).
int openForAppend(const std::string& name) {
#ifdef _WIN32
    return _wopen(windows_path(name).c_str(), ORVANE_APPEND_FLAGS, _S_IREAD | _S_IWRITE);
#else
    return ::open(name.c_str(), ORVANE_APPEND_FLAGS, 0600);
#endif
}

// Whether `inner` lies inside folder `outer` (both made absolute and normal).
bool inside(const fs::path& inner, const fs::path& outer) {
    std::error_code ec;
    fs::path a = fs::weakly_canonical(fs::absolute(inner, ec), ec);
    const fs::path b = fs::weakly_canonical(fs::absolute(outer, ec), ec);
    for (fs::path p = a.parent_path(); !p.empty(); p = p.parent_path()) {
        if (p == b) return true;
        if (p == p.root_path()) break;
    }
    return false;
}

}  // namespace

Events::Events(const fs::path& dst) {
    const std::string name = environment_utf8("ORVANE_EVENTS").value_or(std::string());
    if (name.empty()) return;
    if (inside(textPath(name), dst)) {
        std::fprintf(stderr, "ORVANE_EVENTS lies inside the target folder; no events are written\n");
        return;
    }
    fd_ = openForAppend(name);
    if (fd_ < 0)
        std::fprintf(stderr, "ORVANE_EVENTS cannot be opened (%s); no events are written\n",
                     std::strerror(errno));
}

Events::~Events() {
    if (fd_ >= 0) ORVANE_CLOSE(fd_);
}

void Events::write(const std::string& line) {
    const std::string text = line + "\n";
    std::lock_guard<std::mutex> g(lock_);
    // One write for the whole line: with O_APPEND it lands in one piece at
    // the end of the file. A short write (a full disk) ends the events.
    if (fd_ >= 0 &&
        ORVANE_WRITE(fd_, text.data(), static_cast<unsigned>(text.size())) != static_cast<long>(text.size())) {
        ORVANE_CLOSE(fd_);
        fd_ = -1;
    }
}

void Events::start(const fs::path& src, const fs::path& dst, const std::vector<std::string>& files,
                   int workers) {
    if (!on()) return;
    files_ = files.size();
    std::string list;
    for (const std::string& f : files) list += (list.empty() ? "" : ",") + quoted(f);
    std::error_code ec;
    write("{\"event\":\"start\",\"source\":" + quoted(pathText(fs::absolute(src, ec))) +
          ",\"target\":" + quoted(pathText(fs::absolute(dst, ec))) +
          ",\"workers\":" + std::to_string(workers) + ",\"files\":[" + list + "]}");
    if (files.empty()) write("{\"event\":\"total\",\"pages\":0}");
}

void Events::opened(const std::string& file, int pages) {
    if (!on()) return;
    bool all = false;
    long total = 0;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (!counted_.insert(file).second) return;
        total_ += pages;
        all = counted_.size() == files_;
        total = total_;
    }
    write("{\"event\":\"pages\",\"file\":" + quoted(file) + ",\"pages\":" + std::to_string(pages) + "}");
    if (all) write("{\"event\":\"total\",\"pages\":" + std::to_string(total) + "}");
}

void Events::looked(const std::string& file, int count) {
    if (!on() || count <= 0) return;
    write("{\"event\":\"looked\",\"file\":" + quoted(file) + ",\"pages\":" + std::to_string(count) + "}");
}

void Events::recognising(const std::string& file, int pages) {
    if (!on()) return;
    write("{\"event\":\"recognising\",\"file\":" + quoted(file) + ",\"pages\":" + std::to_string(pages) + "}");
}

void Events::recognised(const std::string& file, int index, double seconds, bool text) {
    if (!on()) return;
    char wall[32];
    std::snprintf(wall, sizeof wall, "%.2f", seconds);
    write("{\"event\":\"recognised\",\"file\":" + quoted(file) + ",\"page\":" + std::to_string(index + 1) +
          ",\"seconds\":" + wall + ",\"text\":" + (text ? "true" : "false") + "}");
}

void Events::split(const std::string& file, const std::vector<PageResult>& results, const std::string& folder,
                   const std::vector<Document>& documents, bool blankPages, bool recognised) {
    if (!on()) return;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const PageLook& look = results[i].look;
        char share[32];
        std::snprintf(share, sizeof share, "%.3f", look.share);
        // A sheet says its kind, a code sheet its whole text.
        std::string sheet;
        if (look.separator && look.sheet != SheetKind::None)
            sheet = std::string(",\"sheet\":\"") + sheetName(look.sheet) + "\"";
        if (look.sheet == SheetKind::Code) sheet += ",\"code\":" + quoted(results[i].code);
        write("{\"event\":\"page\",\"file\":" + quoted(file) + ",\"page\":" + std::to_string(i + 1) +
              ",\"verdict\":\"" + (look.separator ? "separator" : "page") + "\",\"share\":" + share +
              ",\"unsure\":" + (look.unsure ? "true" : "false") + sheet + (results[i].blank ? ",\"blank\":true" : "") + "}");
    }
    // Without blank pages every run is written whole: first..last are its pages, as always.
    std::string docs, unwritten;
    for (std::size_t n = 0; n < documents.size(); ++n) {
        const Document& d = documents[n];
        if (d.pages.empty()) {
            unwritten += std::string(unwritten.empty() ? "" : ",") + "{\"number\":" + std::to_string(n + 1) +
                         ",\"first\":" + std::to_string(d.first + 1) + ",\"last\":" + std::to_string(d.last + 1) + "}";
            continue;
        }
        docs += std::string(docs.empty() ? "" : ",") + "{\"name\":" + quoted(d.name) + ",\"first\":" +
                std::to_string(d.pages.front() + 1) + ",\"last\":" + std::to_string(d.pages.back() + 1) +
                (blankPages ? ",\"pages\":" + numberList(d.pages) : std::string()) + "}";
    }
    std::string blanks;
    if (blankPages) {
        std::vector<int> blank, dropped;
        for (std::size_t i = 0; i < results.size(); ++i) {
            if (results[i].blank) blank.push_back(static_cast<int>(i));
            if (results[i].dropped) dropped.push_back(static_cast<int>(i));
        }
        blanks = ",\"blank\":" + numberList(blank) + ",\"dropped\":" + numberList(dropped) + ",\"unwritten\":[" +
                 unwritten + "]";
    }
    if (recognised) {
        std::vector<int> noText;
        for (std::size_t i = 0; i < results.size(); ++i)
            if (results[i].noText) noText.push_back(static_cast<int>(i));
        blanks += ",\"no_text\":" + numberList(noText);
    }
    write("{\"event\":\"file\",\"file\":" + quoted(file) + ",\"pages\":" + std::to_string(results.size()) +
          ",\"folder\":" + quoted(folder) + ",\"documents\":[" + docs + "]" + blanks + "}");
}

void Events::notSplit(const std::string& file, const FileError& reason) {
    if (!on()) return;
    opened(file, 0);
    write("{\"event\":\"not split\",\"file\":" + quoted(file) + ",\"kind\":\"" + kindName(reason.kind()) +
          "\",\"reason\":" + quoted(reason.what()) + "}");
}

void Events::end(int exitStatus) {
    if (!on()) return;
    write("{\"event\":\"end\",\"status\":" + std::to_string(exitStatus) + "}");
}

}  // namespace orvane
