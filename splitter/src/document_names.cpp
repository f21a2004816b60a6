#include "document_names.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "names.h"
#include "path_text.h"

namespace fs = std::filesystem;

namespace orvane {

namespace {

// What one name may take in `folder`. A document is written through qpdf, which opens its file
// without the \\?\ form on Windows: the whole path stays below MAX_PATH (260 units with the
// terminating zero) unless the folder is given in that form already.
NameRoom roomIn(const fs::path& folder) {
    NameRoom room;
#ifdef _WIN32
    // Looked at before absolute(), which in libstdc++ turns \\?\Z:\x into Z:\?\Z:\x.
    if (folder.wstring().compare(0, 4, L"\\\\?\\") == 0) return room;
#endif
    std::error_code ec;
    const fs::path whole = fs::absolute(folder, ec);
#ifdef _WIN32
    const std::wstring units = (ec ? folder : whole).wstring();
    const std::size_t left = 259 > units.size() + 1 ? 259 - units.size() - 1 : 0;
    room.units = std::min(room.units, left);
#else
    const std::size_t bytes = pathText(ec ? folder : whole).size();
    const std::size_t left = 4095 > bytes + 1 ? 4095 - bytes - 1 : 0;
    room.bytes = std::min(room.bytes, left);
#endif
    return room;
}

std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(pathText(it->path().filename()));
    return names;
}

}  // namespace

void nameDocuments(std::vector<Document>& documents, const std::string& names, const std::string& batch,
                   const std::optional<std::string>& date, const fs::path& folder) {
    const NameRoom room = roomIn(folder);
    FolderNames taken(entriesOf(folder));
    for (std::size_t d = 0; d < documents.size(); ++d) {
        Document& doc = documents[d];
        const std::string fallback = doc.name.substr(0, doc.name.size() - 4);  // without ".pdf"
        std::optional<std::string> filled =
            fillTemplate(names, NameFields{batch, static_cast<int>(d + 1), doc.code, date});
        // A template written with its ".pdf" means the same name.
        if (filled && filled->size() > 4 && foldCase(filled->substr(filled->size() - 4)) == ".PDF")
            filled->resize(filled->size() - 4);
        // A name that nothing is left of (a code of dots and spaces) is a missing field too.
        std::string base = filled ? safeName(*filled, room, 4) : std::string();
        if (base.empty()) base = safeName(fallback, room, 4);
        doc.name = taken.claim(base.empty() ? "document" : base, room);
    }
}

std::optional<std::string> scanDate(const std::string& created, const fs::path& source) {
    if (std::optional<std::string> date = pdfDate(created)) return date;
    std::error_code ec;
    const fs::file_time_type changed = fs::last_write_time(source, ec);
    if (ec) return std::nullopt;
    const auto now = std::chrono::system_clock::now() +
                     std::chrono::duration_cast<std::chrono::system_clock::duration>(changed - fs::file_time_type::clock::now());
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0) return std::nullopt;
#else
    if (!localtime_r(&t, &local)) return std::nullopt;
#endif
    char text[16];
    if (std::strftime(text, sizeof text, "%Y-%m-%d", &local) == 0) return std::nullopt;
    return std::string(text);
}

}  // namespace orvane
