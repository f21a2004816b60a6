// Output folders on Windows: made and, for a file that cannot be split, deleted again, with
// Windows' own rules and over UTF-16 paths (a Chinese name stays whole whatever the ANSI code page).
//
// Deleting what a file left behind meets what POSIX never does:
// - a read-only attribute (set by a user, a sync client, a copy from a CD) makes DeleteFileW and
//   RemoveDirectoryW fail: it is cleared first;
// - a file still open elsewhere (a virus scanner, the indexer, a preview pane) cannot be deleted,
//   or is only marked for deletion, and its folder is "not empty" until the last handle closes:
//   each step is retried for a bounded time (kRetryMs) before it is reported as failed;
// - a junction or symbolic link inside the folder is removed itself, never followed, so nothing
//   outside the target is ever deleted.
// Paths longer than MAX_PATH work: absolute paths are given the \\?\ form.
#pragma once

#ifdef _WIN32
#include <string>

#include "folders.h"

namespace orvane {

// How long a step that Windows refuses for a file in use is retried.
constexpr unsigned kRetryMs = 3000;

// The UTF-8 path as Windows wants it: '/' as '\', absolute paths in the \\?\ form.
std::wstring windows_path(const std::string& utf8);

// Makes the one folder `utf8` (not its parents: a folder is made directly inside the target, so a
// cancelled job leaves only new subfolders there). `why` gets Windows' message on failure.
FolderMade make_folder(const std::string& utf8, std::string* why = nullptr);

// Deletes the file or folder tree `utf8`; true when nothing of it is left (or nothing was there).
bool remove_tree(const std::string& utf8, std::string* why = nullptr);

}  // namespace orvane
#endif
