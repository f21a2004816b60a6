// The scheduler: the worker threads, their queue of tasks, and each source
// file's way through its states (opened, its pages looked at in chunks, its
// verdicts settled, its documents written, its line printed).
#pragma once

#include <filesystem>
#include <vector>

#include "options.h"

namespace orvane {

// Splits `files` (found under `src`, in the order their lines are printed)
// into `dst` with `workers` threads; prints each file's line and the
// summary, with the run's `options`. Returns the exit status: 0 when every
// file was split, else 1.
int splitFiles(const std::filesystem::path& src, const std::filesystem::path& dst,
               const std::vector<std::filesystem::path>& files, int workers, int threshold,
               const Options& options);

}  // namespace orvane
