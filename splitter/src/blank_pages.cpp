#include "blank_pages.h"

#include <algorithm>

namespace orvane {

void noteBlankPages(std::vector<PageResult>& results, const Options& options) {
    if (options.blankPages == BlankPages::Keep) return;
    for (PageResult& r : results) r.blank = r.look.sheet == SheetKind::Blank;
}

void settleBlankPages(std::vector<PageResult>& results, const Options& options, const BlankCloser& closer) {
    if (options.blankPages == BlankPages::Keep) return;
    for (std::size_t i = 0; i < results.size(); ++i) {
        PageResult& r = results[i];
        PageLook& look = r.look;
        if (look.separator) {
            r.blank = false;
            continue;
        }
        // Left for now by the looking: a page judged from its JPEG whose
        // small picture shows nothing on its paper, or a coloured sheet's
        // candidate that the file's paper made an ordinary page.
        if (!r.blank && look.blankCandidate) {
            bool unsure = false;
            r.blank = closer(i, unsure);
            look.blankCandidate = false;
            look.blankUnsure = look.blankUnsure || unsure;
        }
        look.unsure = look.unsure || look.blankUnsure;
        const bool kept = std::binary_search(options.keepPages.begin(), options.keepPages.end(), static_cast<int>(i));
        r.dropped = options.blankPages == BlankPages::Drop && r.blank && !look.unsure && !kept;
    }
}

}  // namespace orvane
