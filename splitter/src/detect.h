// The separator-sheet rule: judges one page from a small RGB picture of it,
// fed row by row from the top.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvane {

// Chroma limit used when the caller passes 0 ("no setting").
constexpr int kDefaultThreshold = 19;

// Band at each edge of the page, in per cent of the width and of the height,
// that is not looked at.
constexpr int kMarginPercent = 8;

// Per cent of the (weighted) inspected area that must be in the dominant
// colour for a separator sheet.
constexpr int kSeparatorPercent = 90;

struct PageLook {
    bool separator = false;
    // The verdict lies close to the bar, or the page could not be judged in
    // full: a person should look at it. Named in the file's line ("check:").
    bool unsure = false;
    // Weighted share (0..1) of the inspected area that is in the page's one
    // dominant colour: saturated, of the dominant hue, of even lightness.
    // Counted over the rows read (see rowsRead).
    double share = 0.0;
    // Centre of the dominant hue window, in degrees (0..359); -1 if no pixel
    // was saturated at all.
    int hue = -1;
    // Rows of the picture read before the verdict was certain, and its height.
    int rowsRead = 0;
    int height = 0;
};

class PageJudge {
public:
    PageJudge(int width, int height, int threshold);

    // Rows of the picture the rule reads at most: the bottom margin band is
    // never looked at, so a decoder may stop before it.
    int rowsWanted() const { return y1_; }

    // Feeds row y (0-based, in order from the top; packed R,G,B). Returns
    // false as soon as the page is certainly not a separator: more uncoloured
    // area has been seen than a separator may have. A decoder can then stop,
    // which for a white page of text is about a fifth of the way down.
    bool addRow(int y, const std::uint8_t* rgb);

    PageLook finish() const;

private:
    int width_, height_, threshold_;
    int x0_, x1_, y0_, y1_, cx0_, cx1_, cy0_, cy1_;
    std::uint64_t total_ = 0;       // weight of the whole inspected area
    std::uint64_t uncoloured_ = 0;  // weight of uncoloured pixels seen so far
    std::uint64_t seen_ = 0;        // weight of all pixels seen so far
    int rowsRead_ = 0;
    bool settled_ = false;
    std::array<std::array<std::uint32_t, 64>, 36> hist_{};  // [hue bin][lightness / 4]
    std::array<std::uint64_t, 36> hueWeight_{};
};

// The whole rule on a full picture (rgb: packed R,G,B, `stride` bytes a row).
// A pixel counts as coloured when max(R,G,B) - min(R,G,B) > threshold.
PageLook judgePage(const std::uint8_t* rgb, int width, int height, std::ptrdiff_t stride,
                   int threshold);

}  // namespace orvane
