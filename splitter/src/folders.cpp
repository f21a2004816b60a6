#include "folders.h"

#include "path_text.h"
#ifdef _WIN32
#include "windows_folders.h"
#endif

namespace fs = std::filesystem;

namespace orvane {

FolderMade makeFolder(const fs::path& folder) {
#ifdef _WIN32
    return make_folder(pathText(folder));
#else
    std::error_code ec;
    if (fs::create_directory(folder, ec)) return FolderMade::made;
    // Something of that name (a folder, a file, a dangling link) is there already.
    if (!ec || fs::exists(fs::symlink_status(folder, ec))) return FolderMade::exists;
    return FolderMade::failed;
#endif
}

void removeFolder(const fs::path& folder) {
#ifdef _WIN32
    remove_tree(pathText(folder));
#else
    std::error_code ec;
    fs::remove_all(folder, ec);
#endif
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
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
