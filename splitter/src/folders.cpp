#include "folders.h"

#ifdef _WIN32
#include "path_text.h"
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

}  // namespace orvane
