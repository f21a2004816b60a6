// The separator-sheet rule. A page is judged from a small RGB picture of it,
// fed row by row from the top (PageJudge); its final verdict waits for the
// paper colour of the file's ordinary pages (FilePaper), since a sheet must
// stand out from the paper the file is printed on, not only from ideal white.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "options.h"

namespace orvane {

// Chroma limit used when the caller passes 0 ("no setting").
constexpr int kDefaultThreshold = 19;

// Band at each edge of the page, in per cent of the width and of the height,
// that is not looked at.
constexpr int kMarginPercent = 8;

// The inspected area is cut into a grid of cells. A cell is clean when at
// most kCellOtherPercent of it is anything but the page's one colour
// (scanner backing aside).
constexpr int kCellsX = 16;
constexpr int kCellsY = 20;
constexpr int kCellOtherPercent = 10;

// Per cent of the (weighted) inspected area that must lie in clean cells for
// a separator sheet. The rest may hold a label, a sticky note, a stamp.
constexpr int kSeparatorPercent = 65;

// Longest side of the picture looked at; a larger one (a poster scanned
// whole) is thinned out, so memory stays small whatever the scan.
constexpr int kMaxSide = 1024;

struct PageLook {
    bool separator = false;
    // The verdict lies close to the bar, or the page could not be judged in
    // full: a person should look at it. Named in the file's line ("check:").
    bool unsure = false;
    // What made the page a sheet (None for an ordinary page); a code sheet's
    // text is its PageResult's.
    SheetKind sheet = SheetKind::None;
    // Weighted share (0..1) of the inspected area lying in clean cells of the
    // page's one colour (saturated, of the dominant hue, even in lightness);
    // 0 for a page settled before its bottom (see rowsRead).
    double share = 0.0;
    // Centre of the dominant hue window, in degrees (0..359); -1 if no pixel
    // was saturated at all.
    int hue = -1;
    // Rows of the picture read before the verdict was certain, and its height.
    int rowsRead = 0;
    int height = 0;

    // For the file-level step (FilePaper):
    // A sheet by its own look; it still has to stand out from the file's paper.
    bool candidate = false;
    // The candidate's mean colour, and its chroma against the file's paper.
    std::array<std::uint8_t, 3> colour{};
    int standout = 0;
    // The page's most common colour and the share of the area read it covers:
    // for an ordinary page, the colour of its paper.
    std::array<std::uint8_t, 3> paper{};
    double paperShare = 0.0;

    // For the other sheet kinds, settled with the file (sheets.h): the small
    // picture shows nothing on the page's own paper (`blankPaper`), and the
    // closer look is still due; that closer look lay near its bar.
    bool blankCandidate = false;
    bool blankUnsure = false;
    std::array<std::uint8_t, 3> blankPaper{};
    // The page may be a code sheet, but the reading of its code did not end
    // (its helper crashed or ran out of time): `unsure` for any kinds asked.
    bool codeUnread = false;
};

class PageJudge {
public:
    PageJudge(int width, int height, int threshold);

    // Rows of the picture the rule reads at most: the bottom margin band is
    // never looked at, so a decoder may stop before it.
    int rowsWanted() const { return y1_ > 0 ? std::min(fedHeight_, (y1_ - 1) * step_ + 1) : 0; }

    // Feeds row y (0-based, in order from the top; packed R,G,B). Returns
    // false as soon as the page is certainly not a separator. A decoder can
    // then stop, which for a white page is about a tenth of the way down.
    bool addRow(int y, const std::uint8_t* rgb);

    // The page's own verdict (`candidate`, and `separator` as judged against
    // ideal white paper); FilePaper settles it.
    PageLook finish();

private:
    std::uint8_t* at(int x, int y) { return rgb_.get() + (static_cast<std::size_t>(y) * width_ + x) * 3; }
    const std::uint8_t* at(int x, int y) const {
        return rgb_.get() + (static_cast<std::size_t>(y) * width_ + x) * 3;
    }
    // The weight of the pixels of one row: those of the middle count twice.
    struct RowWeight {
        int from, to;  // the columns counting twice
        unsigned operator()(int x) const { return (x >= from && x < to) ? 2u : 1u; }
    };
    RowWeight rowWeight(int y) const { return y >= cy0_ && y < cy1_ ? RowWeight{cx0_, cx1_} : RowWeight{0, 0}; }
    int cellRow(int y) const { return (y - y0_) * kCellsY / (y1_ - y0_); }
    // What the rule needs of an inspected pixel: its kind (light, dark,
    // coloured as its row comes in; then backing, or the hue bin of a
    // coloured one) and, set with the hue bin and read only with it, the
    // lightness and saturation buckets.
    struct Pixel {
        std::uint8_t kind;
        std::uint8_t lum;
        std::uint8_t sat;
    };
    Pixel* pixelRow(int y) {  // the pixel at x0_ of inspected row y
        return pixels_.get() + static_cast<std::size_t>(y - y0_) * static_cast<std::size_t>(x1_ - x0_);
    }
    const Pixel* pixelRow(int y) const {
        return pixels_.get() + static_cast<std::size_t>(y - y0_) * static_cast<std::size_t>(x1_ - x0_);
    }
    struct Dominant {
        int start = -1;            // first hue bin of the window
        std::uint64_t weight = 0;  // weight of the window's pixels
        std::uint64_t area = 0;    // weight of the inspected area beside the backing
        int median = 0;            // their median lightness bucket
    };
    void findPaper(PageLook& look) const;
    void markBacking();
    Dominant dominant();

    int step_;               // a huge picture is looked at in every step_-th row and column
    int width_, height_;     // of the picture looked at
    int fedHeight_;          // of the picture fed
    int threshold_;
    int x0_, x1_, y0_, y1_, cx0_, cx1_, cy0_, cy1_;
    std::uint64_t total_ = 0;  // weight of the whole inspected area
    int rowsRead_ = 0;
    bool settled_ = false;
    bool partial_ = false;  // settled below a large plain area
    std::unique_ptr<std::uint8_t[]> rgb_;    // the rows read
    std::unique_ptr<Pixel[]> pixels_;        // their inspected pixels, sorted
    std::vector<std::uint8_t> cellX_;        // cell column of each picture column
    std::vector<std::uint32_t> cellWeight_;  // weight of each cell
    std::vector<std::uint32_t> cellLight_;   // light uncoloured weight seen in each cell
    std::vector<std::uint8_t> cellDirty_;    // certainly not clean
    std::uint64_t dirty_ = 0;                // weight of those cells
};

// The file's paper: collects the ordinary pages' paper colours, then settles
// each page's verdict. A candidate is a separator when its colour, seen
// against the file's paper (white balanced to it), still has a chroma above
// the threshold; so a colour cast of the scanner or aged paper moves with the
// paper and does not make sheets of blank pages.
class FilePaper {
public:
    void add(const PageLook& look);
    void settle(PageLook& look, int threshold);

private:
    std::array<std::vector<int>, 3> seen_;
    bool ready_ = false;
    std::array<int, 3> reference_{{255, 255, 255}};
};

// The file-level step of the verdict, once every page of a file has been
// looked at: each page's final verdict against the paper of the file's
// ordinary pages.
void settleFile(const std::vector<PageLook*>& looks, int threshold);

// The whole rule on a full picture (rgb: packed R,G,B, `stride` bytes a row),
// against ideal white paper.
PageLook judgePage(const std::uint8_t* rgb, int width, int height, std::ptrdiff_t stride,
                   int threshold);

}  // namespace orvane
