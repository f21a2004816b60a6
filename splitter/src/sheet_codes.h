// Separator sheets that carry a barcode whose text is PATCHT or begins with
// PATCHT: (a patch-T sheet as document scanners know it, printed as any
// common barcode). Looking for codes must not cost a full-resolution decode
// of every page: CodeCandidate reads the same small picture as the colour
// rule and lets through only nearly empty paper with one dense block; only
// those pages are decoded again, closer, and read (readSheetCode).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "picture.h"

namespace orvane {

// A box of pixels, x1 and y1 past its edge: the block that may be a code in
// the small picture, or a piece cut out for the reader (CodePieces).
struct CodeBox {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Fed the rows of a page's small picture from the top (packed R,G,B).
class CodeCandidate {
public:
    CodeCandidate(int width, int height);
    // False as soon as the page certainly is no code sheet (ink spread over
    // the page, as text is): the caller may stop feeding it.
    bool addRow(int y, const std::uint8_t* rgb);
    // After the last row: a candidate, and where its block lies.
    std::optional<CodeBox> finish();

private:
    // A run of rows holding marks, and what it holds.
    struct Band {
        int y0 = 0, y1 = 0;           // rows y0 .. y1 - 1
        int x0 = 0, x1 = 0;           // columns of its marks
        std::uint64_t marks = 0;      // marked pixels
        std::uint64_t black = 0;      // of them, as dark as print
    };
    bool settle();  // the early "no": true once the page certainly is no code sheet
    void closeBand();
    bool isBlock(const Band& band) const;

    int width_, height_;
    int x0_, x1_, y0_, y1_;  // the area looked at: a band at each edge is left out
    int minSide_;            // smallest side of a code block
    std::vector<std::uint32_t> histogram_;  // lightness of the pixels read, for the paper's
    int paper_ = -1;
    std::uint64_t marked_ = 0;  // marked pixels so far
    std::vector<Band> bands_;
    bool open_ = false;     // the last row read was marked: the last band goes on
    bool settled_ = false;  // certainly no code sheet
};

// True for the text of a sheet's code: exactly "PATCHT", or "PATCHT:" and more.
bool isSheetCodeText(const std::string& text);

// What the reader is given of a page decoded closer: the printed blocks
// (largest first, at most four, each with paper round it for the code's quiet
// zone) and the grey of the smallest area that holds them all. A sheet's code
// makes it a few hundred KB; it is never more than the picture's pixels, one
// byte each (kCloserMaxPixels at most).
struct CodePieces {
    int width = 0, height = 0;       // the area
    std::vector<std::uint8_t> grey;  // width * height, top row first, in the reader's own grey
    std::vector<CodeBox> pieces;     // within the area
};

// The splitter's side: no barcode library runs here.
CodePieces codePieces(const Picture& picture);
// The reader's side (zxing-cpp, in a helper process: an assertion in it ends
// the process): the text of a sheet's code among the pieces, as readSheetCode.
std::optional<std::string> readCodePieces(const CodePieces& pieces);

// The closer look: the text of a barcode on `picture` whose text is exactly
// "PATCHT" or begins with "PATCHT:" (in any orientation, skewed a little);
// nothing when there is none. Other barcodes are content. UTF-8.
std::optional<std::string> readSheetCode(const Picture& picture);

// The resolution the closer look wants, in dots per inch.
constexpr double kCodeDpi = 150;

}  // namespace orvane
