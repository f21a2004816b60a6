// Document names from a name template (--names "{batch}_{code}"): the template checked, filled in,
// and made into a file name that Windows and POSIX both accept and that cannot leave its folder.
// The text that fills a template is untrusted (a code sheet's barcode says what it likes), so every
// name goes through safeName, and names taken in the folder are never reused.
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orvane {

// What is wrong with a template ("unknown field {x}", ...), or nothing when it is good.
std::optional<std::string> templateProblem(const std::string& text);

// The fields of one document. A field left empty is missing.
struct NameFields {
    std::string batch;  // the source's name without .pdf
    int n = 0;          // the document's number, from 1
    std::optional<std::string> code;  // the text after "PATCHT:" on the sheet before it
    std::optional<std::string> date;  // YYYY-MM-DD
};

// The template filled in (without .pdf), or nothing when it needs a field the document lacks.
std::optional<std::string> fillTemplate(const std::string& text, const NameFields& fields);

// How long a name may be: in UTF-8 bytes (POSIX counts those), and in UTF-16 units (Windows does),
// both including ".pdf". The defaults are the systems' limits for one name; the path the name
// goes into may leave less.
struct NameRoom {
    std::size_t bytes = 255, units = 255;
};

// `text` as a name part that is safe on every system the splitter runs on: control characters,
// <>:"/\|?* and bytes that are no UTF-8 become '_'; spaces at either end and dots at the end go; a
// reserved device name (CON, NUL, COM1 ..., with any extension) gets a '_' in front; it is cut (at a
// whole character) so that itself plus `reserve` bytes/units fit into `room`. Empty when nothing
// is left.
std::string safeName(const std::string& text, const NameRoom& room, std::size_t reserve = 0);

// The names taken in one folder, compared as Windows compares them (without regard to case).
class FolderNames {
public:
    explicit FolderNames(const std::vector<std::string>& existing);
    // The first of base.pdf, base_2.pdf, base_3.pdf ... not taken yet (cut to fit `room`), now
    // taken. `base` is a safeName.
    std::string claim(const std::string& base, const NameRoom& room);

private:
    std::set<std::string> taken_;  // folded
};

// Case folded as Windows folds file names (ASCII, Latin, Greek, Cyrillic).
std::string foldCase(const std::string& utf8);

// The date part "YYYY-MM-DD" of a PDF date ("D:20240131093000+01'00'"), or nothing.
std::optional<std::string> pdfDate(const std::string& text);

}  // namespace orvane
