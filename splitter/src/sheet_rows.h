// A page's small picture, fed once, to every judge the run asks for: the
// colour rule always, and the code, black and empty-page judges when their
// kinds are asked. With the colour rule alone the rows go to it alone, and
// the reading stops where it stops today; otherwise the rows are read on
// while any judge may still say yes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "detect.h"
#include "jpeg_small.h"
#include "options.h"
#include "picture.h"
#include "sheet_codes.h"
#include "sheet_looks.h"

namespace orvane {

class SheetRows {
public:
    // `grey`: a picture without colour, which the colour rule is not given
    // (so that it counts for the file's paper exactly as when not decoded).
    SheetRows(int width, int height, int threshold, const SheetKinds& kinds, bool grey = false);
    SheetRows(const SheetRows&) = delete;
    SheetRows& operator=(const SheetRows&) = delete;

    // Rows of the picture wanted at most.
    int rowsWanted() const;
    // Feeds row y (in order from the top); false once no judge wants more.
    bool addRow(int y, const std::uint8_t* rgb);
    // The page's look from the small picture: the colour verdict, `sheet`
    // Black for a black sheet, `blankCandidate` (and its paper) when nothing
    // stands out from the page's paper. `codeCandidate` is set when the page
    // may be a code sheet: a closer look decides.
    PageLook finish(bool& codeCandidate);

private:
    int height_;
    PageJudge colour_;
    std::unique_ptr<CodeCandidate> code_;
    std::unique_ptr<BlackJudge> black_;
    std::unique_ptr<BlankJudge> blank_;
    bool colourOn_ = true, codeOn_ = false, blackOn_ = false, blankOn_ = false;
};

// The same over a whole picture held in memory (`stride` bytes a row).
PageLook lookAtRows(const std::uint8_t* rgb, int width, int height, std::ptrdiff_t stride, int threshold,
                    const SheetKinds& kinds, bool& codeCandidate);

// The closer looks, on a page decoded or rendered again at kCodeDpi or
// kBlankDpi: nothing is read of an empty picture (one over its budget).
std::optional<std::string> closerCode(const Picture& picture);
bool closerBlank(const Picture& picture, const PageLook& look, bool& unsure);

// Collects a page decoded closer into a Picture; a picture larger than a
// closer look may take is left empty (nothing is read of it).
class PictureRows : public JpegRows {
public:
    explicit PictureRows(double pageWidthInches) : inches_(pageWidthInches) {}
    int begin(int width, int height) override;
    bool row(int y, const std::uint8_t* rgb) override;
    bool decodeGrey() override { return true; }
    Picture picture;

private:
    double inches_;
};

}  // namespace orvane
