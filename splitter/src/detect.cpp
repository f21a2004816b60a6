#include "detect.h"

#include <algorithm>

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

PageJudge::PageJudge(int width, int height, int threshold)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), threshold_(threshold) {
    // Leave out a band at each edge: scanner edges, shadows, punch holes and
    // staples live there and say nothing about the sheet.
    x0_ = width_ * kMarginPercent / 100;
    x1_ = width_ - x0_;
    y0_ = height_ * kMarginPercent / 100;
    y1_ = height_ - y0_;
    if (x1_ <= x0_ || y1_ <= y0_) {  // a picture of a few pixels: look at all of it
        x0_ = 0; x1_ = width_; y0_ = 0; y1_ = height_;
    }
    // The middle half of each side counts twice: that is where a coloured
    // sheet is certainly paper and where a text page has its text.
    cx0_ = width_ / 4;
    cx1_ = width_ - width_ / 4;
    cy0_ = height_ / 4;
    cy1_ = height_ - height_ / 4;
    for (int y = y0_; y < y1_; ++y) {
        const bool coreRow = y >= cy0_ && y < cy1_;
        for (int x = x0_; x < x1_; ++x) total_ += (coreRow && x >= cx0_ && x < cx1_) ? 2u : 1u;
    }
}

bool PageJudge::addRow(int y, const std::uint8_t* rgb) {
    if (settled_) return false;
    rowsRead_ = y + 1;
    if (y < y0_ || y >= y1_) return y + 1 < y1_;
    const bool coreRow = y >= cy0_ && y < cy1_;
    const std::uint8_t* p = rgb + 3 * x0_;
    for (int x = x0_; x < x1_; ++x, p += 3) {
        const unsigned w = (coreRow && x >= cx0_ && x < cx1_) ? 2u : 1u;
        seen_ += w;
        const int r = p[0], g = p[1], b = p[2];
        const int mx = std::max(r, std::max(g, b));
        const int mn = std::min(r, std::min(g, b));
        const int c = mx - mn;
        if (c <= threshold_) {
            uncoloured_ += w;
            continue;
        }
        const int bin = hueOf(r, g, b, mx, c) / (360 / kHueBins);
        const int lum = (77 * r + 150 * g + 29 * b) >> 8;
        hist_[bin][lum >> 2] += w;
        hueWeight_[bin] += w;
    }
    // An uncoloured pixel can never count for the dominant colour: once they
    // weigh more than a separator may hold, the verdict is certain.
    if (uncoloured_ * 100 > total_ * (100 - kSeparatorPercent)) settled_ = true;
    return !settled_ && y + 1 < y1_;
}

PageLook PageJudge::finish() const {
    PageLook look;
    look.rowsRead = rowsRead_;
    look.height = height_;
    if (total_ == 0 || seen_ == 0) return look;

    // Dominant hue: the circular window of kHueWindow bins with most weight.
    int best = -1;
    std::uint64_t bestWeight = 0;
    for (int s = 0; s < kHueBins; ++s) {
        std::uint64_t sum = 0;
        for (int k = 0; k < kHueWindow; ++k) sum += hueWeight_[(s + k) % kHueBins];
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
        for (int l = 0; l < kLumBuckets; ++l) lum[l] += hist_[(best + k) % kHueBins][l];
    const std::uint64_t half = (bestWeight + 1) / 2;
    std::uint64_t run = 0;
    int median = 0;
    for (int l = 0; l < kLumBuckets; ++l) {
        run += lum[l];
        if (run >= half) {
            median = l;
            break;
        }
    }
    std::uint64_t matched = 0;
    for (int l = std::max(0, median - kLumSpread);
         l <= std::min(kLumBuckets - 1, median + kLumSpread); ++l)
        matched += lum[l];

    look.share = static_cast<double>(matched) / static_cast<double>(seen_);
    look.separator = !settled_ && seen_ == total_ && matched * 100 >= total_ * kSeparatorPercent;
    return look;
}

PageLook judgePage(const std::uint8_t* rgb, int width, int height, std::ptrdiff_t stride,
                   int threshold) {
    PageJudge judge(width, height, threshold);
    for (int y = 0; y < judge.rowsWanted(); ++y)
        if (!judge.addRow(y, rgb + static_cast<std::ptrdiff_t>(y) * stride)) break;
    return judge.finish();
}

}  // namespace orvane
