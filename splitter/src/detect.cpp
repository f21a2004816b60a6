#include "detect.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace orvane {

namespace {

constexpr int kHueBins = 36;      // 10 degrees each
constexpr int kHueWindow = 4;     // the dominant colour may spread over 40 degrees
constexpr int kLumBuckets = 64;   // lightness in steps of 4
constexpr int kLumSpread = 10;    // +-40 lightness around the median

// Hue in degrees, 0..359, of a pixel whose chroma c = mx - mn is > 0.
inline int hueOf(int r, int g, int b, int mx, int c) {
    int h;
    if (mx == r) {
        h = 60 * (g - b) / c;
        if (h < 0) h += 360;
    } else if (mx == g) {
        h = 120 + 60 * (b - r) / c;
    } else {
        h = 240 + 60 * (r - g) / c;
    }
    if (h >= 360) h -= 360;
    return h;
}

}  // namespace

PageLook judgePage(const std::uint8_t* rgb, int width, int height, std::ptrdiff_t stride,
                   int threshold) {
    PageLook look;
    if (width <= 0 || height <= 0) return look;

    // Leave out a band of 8% at each edge: scanner edges, shadows, punch
    // holes and staples live there and say nothing about the sheet.
    int x0 = width * kMarginPercent / 100, x1 = width - x0;
    int y0 = height * kMarginPercent / 100, y1 = rowsLookedAt(height);
    if (x1 <= x0 || y1 <= y0) {  // a picture of a few pixels: look at all of it
        x0 = 0; x1 = width; y0 = 0; y1 = rowsLookedAt(height);
        if (y1 <= 0) y1 = height;
    }
    // The middle half of each side counts twice: that is where a coloured
    // sheet is certainly paper and where a text page has its text.
    const int cx0 = width / 4, cx1 = width - width / 4;
    const int cy0 = height / 4, cy1 = height - height / 4;

    // Weighted histograms of the saturated pixels: by hue, and within each
    // hue bin by lightness. One pass over the picture is enough.
    static thread_local std::array<std::array<std::uint32_t, kLumBuckets>, kHueBins> hist;
    for (auto& row : hist) row.fill(0);
    std::array<std::uint64_t, kHueBins> hueWeight{};
    std::uint64_t total = 0;

    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* p = rgb + static_cast<std::ptrdiff_t>(y) * stride + 3 * x0;
        const bool coreRow = y >= cy0 && y < cy1;
        for (int x = x0; x < x1; ++x, p += 3) {
            const unsigned w = (coreRow && x >= cx0 && x < cx1) ? 2u : 1u;
            total += w;
            const int r = p[0], g = p[1], b = p[2];
            const int mx = std::max(r, std::max(g, b));
            const int mn = std::min(r, std::min(g, b));
            const int c = mx - mn;
            if (c <= threshold) continue;
            const int bin = hueOf(r, g, b, mx, c) / (360 / kHueBins);
            const int lum = (77 * r + 150 * g + 29 * b) >> 8;
            hist[bin][lum >> 2] += w;
            hueWeight[bin] += w;
        }
    }
    if (total == 0) return look;

    // Dominant hue: the circular window of kHueWindow bins with most weight.
    int best = -1;
    std::uint64_t bestWeight = 0;
    for (int s = 0; s < kHueBins; ++s) {
        std::uint64_t sum = 0;
        for (int k = 0; k < kHueWindow; ++k) sum += hueWeight[(s + k) % kHueBins];
        if (sum > bestWeight) {
            bestWeight = sum;
            best = s;
        }
    }
    if (best < 0) return look;
    look.hue = (best * (360 / kHueBins) + kHueWindow * (360 / kHueBins) / 2) % 360;

    // Paper is evenly lit; a photograph is not. Keep only the pixels of the
    // dominant hue whose lightness is near the median lightness of that hue.
    std::array<std::uint64_t, kLumBuckets> lum{};
    for (int k = 0; k < kHueWindow; ++k)
        for (int l = 0; l < kLumBuckets; ++l) lum[l] += hist[(best + k) % kHueBins][l];
    std::uint64_t half = (bestWeight + 1) / 2, run = 0;
    int median = 0;
    for (int l = 0; l < kLumBuckets; ++l) {
        run += lum[l];
        if (run >= half) {
            median = l;
            break;
        }
    }
    std::uint64_t matched = 0;
    for (int l = std::max(0, median - kLumSpread); l <= std::min(kLumBuckets - 1, median + kLumSpread);
         ++l)
        matched += lum[l];

    look.share = static_cast<double>(matched) / static_cast<double>(total);
    look.separator = look.share >= kSeparatorShare;
    return look;
}

}  // namespace orvane
