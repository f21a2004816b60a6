// The output folders: the name each source file's folder gets in the target folder, and one folder
// made, and deleted again, with the rules of the system the splitter runs on. On Windows the work is
// done over UTF-16 paths by windows_folders.* (read-only attributes, files still open elsewhere); on
// POSIX by std::filesystem.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "reasons.h"

namespace orvane {

enum class FolderMade { made, exists, failed };

// Makes the one folder `folder`, never its parents: what a cancelled run leaves in the target is
// new subfolders only.
FolderMade makeFolder(const std::filesystem::path& folder);

// Deletes the folder and what it holds, so that no half result is left behind.
void removeFolder(const std::filesystem::path& folder);

// The output folders, made directly inside the target folder under names no
// entry of it has: an existing folder is never written into, and two sources
// with one name get two folders. Names are planned in source order before any
// work starts (so the first of two "report.pdf" gets "report" whatever the
// threads do); an entry that appears meanwhile still moves the folder on to
// a fresh name, since making the folder fails on it.
class OutputFolders {
public:
    explicit OutputFolders(std::filesystem::path dst);
    // The name planned for the next source of this stem (in source order).
    std::string plan(const std::string& stem);
    // Makes the folder, under `planned` or the next free name; `folder` is
    // set, or the reason it cannot be made is returned.
    std::optional<FileError> make(const std::string& planned, const std::string& stem,
                                  std::filesystem::path& folder);

private:
    std::string nextName(const std::string& stem);

    std::filesystem::path dst_;
    std::mutex lock_;
    std::set<std::string> taken_;  // lower case
};

// ASCII lower case: file names compared as the file systems of the users do.
std::string lower(std::string s);

}  // namespace orvane
