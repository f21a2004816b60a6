// The documents of one source named by the run's name template, in the folder made for them: the
// fields filled in, each name made safe (names.*), fitted into what the path leaves, and never one
// taken in that folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "split_plan.h"

namespace orvane {

// Renames `documents` (named stem_001.pdf ... by planDocuments, the names that a document given
// no field it needs keeps) by `names`, inside `folder`. `batch` is the source's stem, `date` its
// scan date.
void nameDocuments(std::vector<Document>& documents, const std::string& names, const std::string& batch,
                   const std::optional<std::string>& date, const std::filesystem::path& folder);

// The scan date, YYYY-MM-DD: from the PDF's /CreationDate (`created`, its text), else the local
// date of the file's last change.
std::optional<std::string> scanDate(const std::string& created, const std::filesystem::path& source);

}  // namespace orvane
