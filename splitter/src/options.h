// What a run is asked to do beyond its four arguments: which kinds of sheet
// separate documents, and how documents are named. Read, in rising order of
// precedence, from the settings file beside the executable (orvaneFun.ini),
// from ORVANE_SPLITTER_OPTIONS, and from the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

// What made a page a separator sheet.
enum class SheetKind : std::uint8_t {
    None = 0,  // not a sheet: an ordinary page
    Colour,    // a coloured sheet (the default rule)
    Code,      // a barcode reading PATCHT or PATCHT:...
    Black,     // dark nearly all over
    Blank,     // empty (asked for as a sheet kind)
    Back,      // the blank back of a code or black sheet, scanned duplex
};

// The kinds a run looks for (--sheets colour,code,black,blank).
struct SheetKinds {
    bool colour = true, code = false, black = false, blank = false;
    // Every page's emptiness judged as well, for the blank pages of
    // documents (--blank-pages flag|drop); no blank page is a sheet then.
    bool pages = false;
    // Today's rule alone: pages are looked at exactly as without options.
    bool colourOnly() const { return colour && !code && !black && !blank && !pages; }
};

// The default name template: today's names (stem_001.pdf ...).
constexpr const char* kDefaultNames = "{batch}_{n:03}";

// What becomes of the blank pages of documents (--blank-pages): kept unseen
// (today's output, byte for byte), kept and named in the line, or left out
// of the documents and named.
enum class BlankPages : std::uint8_t { Keep, Flag, Drop };

struct Options {
    SheetKinds sheets;
    std::string names = kDefaultNames;  // UTF-8, without ".pdf"
    bool namesGiven = false;            // false: today's names, byte for byte
    BlankPages blankPages = BlankPages::Keep;
    // Pages never dropped (--keep-pages; 0-based, sorted, no repeats): a run
    // over one source puts them back.
    std::vector<int> keepPages;
    bool keepPagesGiven = false;
    // Text recognition (--ocr): tesseract's language names joined by '+'
    // ("chi_sim+eng"); empty, the default, recognises nothing and writes
    // today's documents byte for byte.
    std::string ocr;
};

}  // namespace orvane
