// The separator-sheet rule: judges one page from a small RGB picture of it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvane {

// Chroma limit used when the caller passes 0 ("no setting").
constexpr int kDefaultThreshold = 19;

struct PageLook {
    bool separator = false;
    // Weighted share (0..1) of the inspected area that is in the page's one
    // dominant colour: saturated, of the dominant hue, of even lightness.
    double share = 0.0;
    // Centre of the dominant hue window, in degrees (0..359); -1 if no pixel
    // was saturated at all.
    int hue = -1;
};

// Band at each edge of the page, in per cent of the width and of the height,
// that is not looked at.
constexpr int kMarginPercent = 8;

// Rows of a picture `height` rows high that judgePage reads: the bottom
// margin band is never looked at, so a decoder may stop before it.
inline int rowsLookedAt(int height) { return height - height * kMarginPercent / 100; }

// Share of the inspected area that must be in the dominant colour.
constexpr double kSeparatorShare = 0.90;

// rgb: packed 8-bit R,G,B, `stride` bytes per row; only the first
// rowsLookedAt(height) rows are read. A pixel counts as coloured when
// max(R,G,B) - min(R,G,B) > threshold.
PageLook judgePage(const std::uint8_t* rgb, int width, int height, std::ptrdiff_t stride,
                   int threshold);

}  // namespace orvane
