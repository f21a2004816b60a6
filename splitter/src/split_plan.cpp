#include "split_plan.h"

#include <algorithm>

#include "folders.h"
#include "path_text.h"

namespace fs = std::filesystem;

namespace orvane {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::vector<Document> planDocuments(const std::vector<bool>& separators, const std::string& stem) {
    std::vector<Document> documents;
    const int pages = static_cast<int>(separators.size());
    int first = -1;
    for (int i = 0; i <= pages; ++i) {
        if (i < pages && !separators[static_cast<std::size_t>(i)]) {
            if (first < 0) first = i;
        } else if (first >= 0) {
            documents.push_back(Document{first, i - 1, std::string()});
            first = -1;
        }
    }
    const std::size_t width = std::max<std::size_t>(3, std::to_string(documents.size()).size());
    for (std::size_t d = 0; d < documents.size(); ++d) {
        std::string num = std::to_string(d + 1);
        num.insert(0, width - num.size(), '0');
        documents[d].name = stem + "_" + num + ".pdf";
    }
    return documents;
}

OutputFolders::OutputFolders(fs::path dst) : dst_(std::move(dst)) {
    std::error_code ec;
    for (fs::directory_iterator it(dst_, ec), end; !ec && it != end; it.increment(ec))
        taken_.insert(lower(pathText(it->path().filename())));
}

std::string OutputFolders::nextName(const std::string& stem) {
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? stem : stem + "_" + std::to_string(n);
        if (taken_.insert(lower(name)).second) return name;
    }
}

std::string OutputFolders::plan(const std::string& stem) {
    std::lock_guard<std::mutex> g(lock_);
    return nextName(stem);
}

std::optional<FileError> OutputFolders::make(const std::string& planned, const std::string& stem,
                                             fs::path& folder) {
    std::lock_guard<std::mutex> g(lock_);
    std::string name = planned;
    for (int tries = 0; tries < 100000; ++tries) {
        const fs::path candidate = dst_ / textPath(name);
        const FolderMade made = makeFolder(candidate);
        if (made == FolderMade::made) {
            folder = candidate;
            return std::nullopt;
        }
        if (made == FolderMade::failed) return FileError(Fault::FolderUnmakable);
        name = nextName(stem);
    }
    return FileError(Fault::NoFolderName);
}

}  // namespace orvane
