// One output folder made, and deleted again, with the rules of the system the splitter runs on.
// On Windows the work is done over UTF-16 paths by windows_folders.* (read-only attributes, files
// still open elsewhere); on POSIX by std::filesystem.
#pragma once

#include <filesystem>

namespace orvane {

enum class FolderMade { made, exists, failed };

// Makes the one folder `folder`, never its parents: what a cancelled run leaves in the target is
// new subfolders only.
FolderMade makeFolder(const std::filesystem::path& folder);

// Deletes the folder and what it holds, so that no half result is left behind.
void removeFolder(const std::filesystem::path& folder);

}  // namespace orvane
