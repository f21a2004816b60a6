#include "sheets.h"

#include <string>

namespace orvane {

namespace {

constexpr const char kCodePrefix[] = "PATCHT:";

bool hasBack(SheetKind kind, const SheetKinds& kinds) {
    return kind == SheetKind::Code || kind == SheetKind::Black ||
           (kinds.blank && (kind == SheetKind::Blank || kind == SheetKind::Back));
}

}  // namespace

void settleSheets(std::vector<PageResult>& results, const SheetKinds& kinds, const BlankCloser& closer) {
    SheetKind before = SheetKind::None;
    for (std::size_t i = 0; i < results.size(); ++i) {
        PageLook& look = results[i].look;
        // Without colour among the kinds, a coloured page is content, and so
        // is its nearness to the colour bar (only a page never judged in
        // full, being over its budget or its code unread, stays to be checked).
        if (!kinds.colour) {
            look.separator = false;
            if (look.height > 0 && !look.codeUnread) look.unsure = false;
        }
        // A code outweighs the colour of its paper: it names the document.
        const bool read = look.sheet == SheetKind::Code || look.sheet == SheetKind::Black;
        if (!read && look.separator) {
            look.sheet = SheetKind::Colour;
        } else if (!read) {
            const bool matters = kinds.blank || hasBack(before, kinds);
            bool blank = look.sheet == SheetKind::Blank;
            if (!blank && matters && look.blankCandidate) {
                bool unsure = false;
                blank = closer(i, unsure);
                look.blankUnsure = unsure;
            }
            look.sheet = !matters || !blank       ? SheetKind::None
                         : hasBack(before, kinds) ? SheetKind::Back
                                                  : SheetKind::Blank;
            if (matters) look.unsure = look.unsure || look.blankUnsure;
        }
        look.separator = look.sheet != SheetKind::None;
        before = look.sheet;
    }
}

void attachCodes(std::vector<Document>& documents, const std::vector<PageResult>& results) {
    for (Document& d : documents) {
        int sheet = d.first - 1;
        while (sheet >= 0 && results[static_cast<std::size_t>(sheet)].look.sheet == SheetKind::Back) --sheet;
        if (sheet < 0) continue;
        const PageResult& r = results[static_cast<std::size_t>(sheet)];
        if (r.look.sheet == SheetKind::Code && r.code.compare(0, sizeof kCodePrefix - 1, kCodePrefix) == 0)
            d.code = r.code.substr(sizeof kCodePrefix - 1);
    }
}

}  // namespace orvane
