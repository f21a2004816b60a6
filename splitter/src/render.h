// Rendering a page small with poppler and judging it: run in a helper
// process only, since poppler cannot be interrupted inside a thread.
#pragma once

#include <memory>
#include <string>

#include "detect.h"
#include "options.h"
#include "picture.h"

namespace orvane {

// One file's document as poppler loaded it, kept for the file's next pages.
class RenderedFile {
public:
    explicit RenderedFile(const std::string& path);
    ~RenderedFile();
    // Renders page `index` and judges it into `look` for the `kinds` asked
    // (a code sheet's text into `code`); false if poppler cannot draw it.
    bool judge(int index, int threshold, const SheetKinds& kinds, PageLook& look, std::string& code);
    // Renders page `index` in grey for its text: its crop box, turned as its
    // /Rotate says, at kOcrDpi or, for a page so large that this would pass
    // kMaxOcrPixels, as much less as it takes; false if poppler cannot draw
    // it.
    bool greyForText(int index, GreyPicture& picture);

private:
    struct Document;
    std::unique_ptr<Document> doc_;
};

// Quiets poppler's diagnostics and sets up what the first page drawn would
// otherwise set up (its globals, the system's font configuration): once per
// helper, before its first file.
void warmUpRenderer();

}  // namespace orvane
