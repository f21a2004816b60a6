#include "detect.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace orvane {

namespace {

constexpr int kHueBins = 36;      // 10 degrees each
constexpr int kHueWindow = 4;     // the dominant colour may spread over 40 degrees
constexpr int kLumBuckets = 64;   // lightness in steps of 4
constexpr int kLumSpread = 10;    // +-40 lightness around the median
constexpr int kSatBuckets = 64;   // saturation chroma / max(R,G,B) in steps of 1/64
constexpr int kSatSpread = 3;     // +-3/64 around the median ...
constexpr int kSatEvenPercent = 80;  // ... holds this much of the colour
constexpr int kFlatPercent = 90;  // share of the dominant hue even in lightness
constexpr int kLightFloor = 112;  // separator paper is light: max(R,G,B) of its colour
constexpr int kDarkFloor = 96;    // an uncoloured pixel darker than this may be scanner backing
constexpr int kMinAreaPercent = 60;  // what is left of the inspected area beside the backing
constexpr int kUnsureShare = 10;  // per cent of the area either side of the bar
constexpr int kUnsureChroma = 8;  // chroma either side of the threshold
constexpr int kPartialPercent = 35;  // plain area above other content across the page
// The file's paper: ordinary pages whose most common colour is light, pale and
// covers at least half of what was read of them.
constexpr int kPaperLight = 180;
constexpr int kPaperChroma = 64;

inline int maxOf(const std::uint8_t* p) { return std::max(p[0], std::max(p[1], p[2])); }

inline int chromaOf(const std::uint8_t* p) { return maxOf(p) - std::min(p[0], std::min(p[1], p[2])); }

inline int lumOf(const std::uint8_t* p) { return (77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8; }

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

// A pixel's kind: its hue bin (0..kHueBins-1) once sorted by hue (see
// dominant()), else one of these.
constexpr std::uint8_t kColoured = 252;  // coloured, hue not yet known
constexpr std::uint8_t kLight = 253;     // uncoloured and light: never of a sheet's colour, never backing
constexpr std::uint8_t kDark = 254;      // uncoloured and dark: perhaps scanner backing
constexpr std::uint8_t kBacking = 255;   // scanner backing, left out (see markBacking)

// The hue of a coloured pixel is worked out only on a page read to its
// bottom: most pages are settled before that.
inline std::uint8_t kindOf(const std::uint8_t* p, int threshold) {
    if (chromaOf(p) > threshold) return kColoured;
    return lumOf(p) >= kDarkFloor ? kLight : kDark;
}

inline std::uint8_t hueBinOf(const std::uint8_t* p) {
    return static_cast<std::uint8_t>(hueOf(p[0], p[1], p[2], maxOf(p), chromaOf(p)) / (360 / kHueBins));
}

// The hue bin, lightness and saturation buckets of the colours of a page.
// A page holds few distinct colours (a sheet decoded at 1/8 scale about a
// hundred and fifty among 60,000 pixels), so each is worked out once.
class ColourBuckets {
public:
    struct Entry {
        std::uint32_t key = 0;  // R,G,B + 1; 0 for none yet
        std::uint8_t hue = 0, lum = 0, sat = 0;
    };
    const Entry& of(const std::uint8_t* p) {
        const std::uint32_t key = (std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2]) + 1;
        Entry& e = entries_[(key * 2654435761u) >> (32 - kBits)];  // Knuth's multiplicative hash
        if (e.key != key) {
            e.key = key;
            e.hue = hueBinOf(p);
            e.lum = static_cast<std::uint8_t>(lumOf(p) >> 2);
            e.sat = static_cast<std::uint8_t>(chromaOf(p) * kSatBuckets / maxOf(p));
        }
        return e;
    }

private:
    static constexpr int kBits = 10;
    std::array<Entry, 1 << kBits> entries_{};
};

inline bool darkUncoloured(const std::uint8_t* p, int threshold) {
    return chromaOf(p) <= threshold && lumOf(p) < kDarkFloor;
}

// First index at which the running sum of `h` reaches half of `sum`.
template <class Histogram>
int medianOf(const Histogram& h, std::uint64_t sum) {
    std::uint64_t run = 0;
    for (std::size_t i = 0; i < h.size(); ++i) {
        run += h[i];
        if (run * 2 >= sum) return static_cast<int>(i);
    }
    return 0;
}

template <class Histogram>
std::uint64_t around(const Histogram& h, int centre, int spread) {
    std::uint64_t sum = 0;
    for (int i = std::max(0, centre - spread);
         i <= std::min(static_cast<int>(h.size()) - 1, centre + spread); ++i)
        sum += h[static_cast<std::size_t>(i)];
    return sum;
}

bool within(double value, double bar, double band) { return value > bar - band && value < bar + band; }

}  // namespace

PageJudge::PageJudge(int width, int height, int threshold)
    : step_(1 + std::max(std::max(width, height) - 1, 0) / kMaxSide),
      width_((std::max(width, 0) + step_ - 1) / step_),
      height_((std::max(height, 0) + step_ - 1) / step_),
      fedHeight_(std::max(height, 0)),
      threshold_(threshold) {
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
    // Rows are written before they are read: no need to clear them.
    rgb_.reset(new std::uint8_t[static_cast<std::size_t>(width_) * 3 * static_cast<std::size_t>(y1_)]);
    pixels_.reset(new Pixel[static_cast<std::size_t>(x1_ - x0_) * static_cast<std::size_t>(y1_ - y0_)]);
    cellX_.assign(static_cast<std::size_t>(width_), 0);
    cellWeight_.assign(kCellsX * kCellsY, 0);
    cellLight_.assign(kCellsX * kCellsY, 0);
    cellDirty_.assign(kCellsX * kCellsY, 0);
    if (y1_ <= y0_) return;
    // A cell weighs its pixels plus those of its part of the middle.
    std::array<std::uint32_t, kCellsX> cols{}, coreCols{};
    std::array<std::uint32_t, kCellsY> rows{}, coreRows{};
    for (int x = x0_; x < x1_; ++x) {
        const int cx = (x - x0_) * kCellsX / (x1_ - x0_);
        cellX_[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(cx);
        ++cols[static_cast<std::size_t>(cx)];
        coreCols[static_cast<std::size_t>(cx)] += (x >= cx0_ && x < cx1_) ? 1u : 0u;
    }
    for (int y = y0_; y < y1_; ++y) {
        ++rows[static_cast<std::size_t>(cellRow(y))];
        coreRows[static_cast<std::size_t>(cellRow(y))] += (y >= cy0_ && y < cy1_) ? 1u : 0u;
    }
    for (std::size_t cy = 0; cy < kCellsY; ++cy)
        for (std::size_t cx = 0; cx < kCellsX; ++cx) {
            const std::uint32_t w = rows[cy] * cols[cx] + coreRows[cy] * coreCols[cx];
            cellWeight_[cy * kCellsX + cx] = w;
            total_ += w;
        }
}

bool PageJudge::addRow(int y, const std::uint8_t* rgb) {
    if (settled_ || y / step_ >= y1_) return false;
    if (y % step_) return true;
    y /= step_;
    rowsRead_ = y + 1;
    if (step_ == 1) {
        std::memcpy(at(0, y), rgb, static_cast<std::size_t>(width_) * 3);
    } else {
        for (int x = 0; x < width_; ++x) std::memcpy(at(x, y), rgb + 3 * x * step_, 3);
    }
    if (y < y0_) return true;
    // Each inspected pixel is sorted here as light, dark or coloured, once:
    // finish() works from that.
    // A light uncoloured pixel can never count for the colour of a sheet nor
    // be scanner backing: it is other content for certain.
    const RowWeight weight = rowWeight(y);
    std::uint32_t* light = cellLight_.data() + cellRow(y) * kCellsX;
    const std::uint8_t* p = at(x0_, y);  // the row as kept: thinned out like the rest
    Pixel* px = pixelRow(y);
    for (int x = x0_; x < x1_; ++x, p += 3, ++px) {
        px->kind = kindOf(p, threshold_);
        if (px->kind == kLight) light[cellX_[static_cast<std::size_t>(x)]] += weight(x);
    }
    // Once a cell holds more of it than a clean cell may, the cell is
    // certainly not clean. Other content running right across the page (a
    // white page, a sheet that covers half of the bed) or covering more
    // than a separator may carry settles the verdict.
    bool band = true, any = false;
    for (int cx = 0; cx < kCellsX; ++cx) {
        const std::size_t c = static_cast<std::size_t>(cellRow(y) * kCellsX + cx);
        if (!cellWeight_[c]) continue;
        any = true;
        if (!cellDirty_[c] && std::uint64_t(cellLight_[c]) * 100 > std::uint64_t(cellWeight_[c]) * kCellOtherPercent) {
            cellDirty_[c] = 1;
            dirty_ += cellWeight_[c];
        }
        band = band && cellDirty_[c];
    }
    if ((any && band) || dirty_ * 100 > total_ * (100 - kSeparatorPercent)) {
        settled_ = true;
        // Plain cells above the band: perhaps a sheet smaller than the bed
        // (an A5 slip under a white lid). Worth a look.
        std::uint64_t plainAbove = 0;
        for (std::size_t c = 0; c < static_cast<std::size_t>(cellRow(y) * kCellsX); ++c)
            if (!cellDirty_[c]) plainAbove += cellWeight_[c];
        partial_ = plainAbove * 100 >= total_ * kPartialPercent;
    }
    return !settled_ && y + 1 < y1_;
}

// Marks scanner backing among the inspected pixels: dark uncoloured pixels
// joined to the edge of the picture (the feeder's backing around a skewed
// sheet, a dark scanner lid), and those of their neighbours that are not
// light and uncoloured (where the JPEG blurs backing and paper together). A
// light uncoloured pixel is never backing, which keeps the early stop of
// addRow exact. The bottom margin is never read; the last row read stands
// for that edge.
void PageJudge::markBacking() {
    const int rows = std::min(rowsRead_, y1_);
    auto index = [&](int x, int y) { return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + x; };
    // Backing can only come in from the edge. On nearly every page no edge
    // pixel is dark, and there is nothing more to do.
    std::vector<std::size_t> todo;
    auto seed = [&](int x, int y) {
        if (darkUncoloured(at(x, y), threshold_)) todo.push_back(index(x, y));
    };
    for (int x = 0; x < width_; ++x) {
        seed(x, 0);
        seed(x, rows - 1);
    }
    for (int y = 0; y < rows; ++y) {
        seed(0, y);
        seed(width_ - 1, y);
    }
    if (todo.empty()) return;

    // Grows the backing from the edge, one pixel to the next.
    std::vector<std::uint8_t> joined(index(0, rows), 0);
    for (std::size_t i : todo) joined[i] = 1;
    auto visit = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= width_ || y >= rows) return;
        const std::size_t i = index(x, y);
        if (joined[i] || !darkUncoloured(at(x, y), threshold_)) return;
        joined[i] = 1;
        todo.push_back(i);
    };
    for (std::size_t next = 0; next < todo.size(); ++next) {
        const int x = static_cast<int>(todo[next] % static_cast<std::size_t>(width_));
        const int y = static_cast<int>(todo[next] / static_cast<std::size_t>(width_));
        visit(x - 1, y);
        visit(x + 1, y);
        visit(x, y - 1);
        visit(x, y + 1);
    }
    // The joined pixels (dark, so never light) and their neighbours that are
    // not light, where inspected: nothing else is looked at later.
    auto mark = [&](int x, int y) {
        if (x < x0_ || x >= x1_ || y < y0_ || y >= rows) return;
        Pixel& px = pixelRow(y)[x - x0_];
        if (px.kind != kLight) px.kind = kBacking;
    };
    for (std::size_t i : todo) {
        const int x = static_cast<int>(i % static_cast<std::size_t>(width_));
        const int y = static_cast<int>(i / static_cast<std::size_t>(width_));
        mark(x, y);
        mark(x - 1, y);
        mark(x + 1, y);
        mark(x, y - 1);
        mark(x, y + 1);
    }
}

// The most common colour of the area read (in steps of 16 a channel, then
// averaged over its neighbourhood), and the share of the area it covers.
void PageJudge::findPaper(PageLook& look) const {
    const int rows = std::min(rowsRead_, y1_);
    std::vector<std::uint32_t> count(16 * 16 * 16, 0);
    for (int y = y0_; y < rows; ++y) {
        const std::uint8_t* p = at(x0_, y);
        for (int x = x0_; x < x1_; ++x, p += 3)
            ++count[static_cast<std::size_t>((p[0] >> 4) << 8 | (p[1] >> 4) << 4 | p[2] >> 4)];
    }
    // The first of the fullest bins.
    const int mode = static_cast<int>(std::max_element(count.begin(), count.end()) - count.begin());
    // Its neighbourhood: the mode's bin or the next one either way, in each
    // channel; as values, from 16 * (bin - 1) to 16 * (bin + 2) - 1.
    int low[3], high[3];
    for (int k = 0; k < 3; ++k) {
        const int bin = mode >> (8 - 4 * k) & 15;
        low[k] = 16 * (bin - 1);
        high[k] = 16 * (bin + 2) - 1;
    }
    std::uint64_t sum[3] = {0, 0, 0}, near = 0, all = 0;
    for (int y = y0_; y < rows; ++y) {
        const std::uint8_t* p = at(x0_, y);
        for (int x = x0_; x < x1_; ++x, p += 3) {
            ++all;
            if (p[0] < low[0] || p[0] > high[0] || p[1] < low[1] || p[1] > high[1] || p[2] < low[2] ||
                p[2] > high[2])
                continue;
            ++near;
            for (int k = 0; k < 3; ++k) sum[k] += p[k];
        }
    }
    if (!near) return;
    for (int k = 0; k < 3; ++k) look.paper[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(sum[k] / near);
    look.paperShare = static_cast<double>(near) / static_cast<double>(all);
}

// Sorts the coloured pixels beside the backing by hue (their kind becomes
// their hue bin) and lightness, and finds the dominant hue window (the
// kHueWindow bins with most weight) and the median lightness of its pixels.
PageJudge::Dominant PageJudge::dominant() {
    Dominant dom;
    const int rows = std::min(rowsRead_, y1_);
    std::array<std::array<std::uint32_t, kLumBuckets>, kHueBins> hist{};
    ColourBuckets buckets;
    for (int y = y0_; y < rows; ++y) {
        const RowWeight weight = rowWeight(y);
        Pixel* px = pixelRow(y);
        const std::uint8_t* p = at(x0_, y);
        for (int x = x0_; x < x1_; ++x, ++px, p += 3) {
            if (px->kind == kBacking) continue;
            const unsigned w = weight(x);
            dom.area += w;
            if (px->kind == kColoured) {
                const ColourBuckets::Entry& e = buckets.of(p);
                *px = Pixel{e.hue, e.lum, e.sat};
            }
            if (px->kind < kHueBins) hist[px->kind][px->lum] += w;
        }
    }
    std::array<std::uint64_t, kHueBins> hueWeight{};
    for (std::size_t bin = 0; bin < kHueBins; ++bin)
        for (std::uint32_t w : hist[bin]) hueWeight[bin] += w;
    for (int s = 0; s < kHueBins; ++s) {
        std::uint64_t sum = 0;
        for (int k = 0; k < kHueWindow; ++k) sum += hueWeight[static_cast<std::size_t>((s + k) % kHueBins)];
        if (sum > dom.weight) {
            dom.weight = sum;
            dom.start = s;
        }
    }
    if (dom.start < 0) return dom;
    std::array<std::uint64_t, kLumBuckets> lum{};
    for (int k = 0; k < kHueWindow; ++k)
        for (std::size_t l = 0; l < kLumBuckets; ++l) lum[l] += hist[static_cast<std::size_t>((dom.start + k) % kHueBins)][l];
    dom.median = medianOf(lum, dom.weight);
    return dom;
}

PageLook PageJudge::finish() {
    PageLook look;
    look.rowsRead = rowsRead_;
    look.height = height_;
    if (total_ == 0 || rowsRead_ <= y0_) return look;
    // A page settled below a large plain area is looked at over the rows
    // read: is that area a sheet of one colour (a slip smaller than the
    // bed)? The verdict stays: no separator.
    const bool whole = !settled_ && rowsRead_ >= y1_;
    if (!whole && !partial_) {
        findPaper(look);  // the paper of an ordinary page makes the file's paper
        return look;
    }
    const int rows = std::min(rowsRead_, y1_);
    markBacking();
    const Dominant dom = dominant();
    if (dom.start < 0) {
        findPaper(look);
        return look;
    }
    look.hue = (dom.start * (360 / kHueBins) + kHueWindow * (360 / kHueBins) / 2) % 360;

    // The page's colour: pixels of the dominant hue whose lightness is near
    // its median (paper is evenly lit; a photograph is not). What is not of
    // that colour is other content, counted per cell. Paper shaded by uneven
    // light keeps its saturation, a sky does not: saturation is counted too.
    std::array<bool, 256> ofHue{};  // the kinds of the dominant hue window
    for (int k = 0; k < kHueWindow; ++k) ofHue[static_cast<std::size_t>((dom.start + k) % kHueBins)] = true;
    std::array<std::uint64_t, kCellsX * kCellsY> other{};
    std::array<std::uint64_t, kSatBuckets + 1> sat{};
    std::uint64_t matched = 0, sum[3] = {0, 0, 0};
    for (int y = y0_; y < rows; ++y) {
        const RowWeight weight = rowWeight(y);
        std::uint64_t* otherRow = other.data() + cellRow(y) * kCellsX;
        const Pixel* px = pixelRow(y);
        const std::uint8_t* p = at(x0_, y);
        for (int x = x0_; x < x1_; ++x, ++px, p += 3) {
            if (px->kind == kBacking) continue;
            const unsigned w = weight(x);
            if (ofHue[px->kind] && std::abs(px->lum - dom.median) <= kLumSpread) {
                matched += w;
                sat[px->sat] += w;
                for (int k = 0; k < 3; ++k) sum[k] += std::uint64_t(p[k]) * w;
            } else {
                otherRow[cellX_[static_cast<std::size_t>(x)]] += w;
            }
        }
    }
    if (!matched) {
        findPaper(look);
        return look;
    }
    std::uint64_t clean = 0;  // over the cells read to their bottom
    for (std::size_t c = 0; c < static_cast<std::size_t>(cellRow(rows) * kCellsX); ++c)
        if (other[c] * 100 <= std::uint64_t(cellWeight_[c]) * kCellOtherPercent) clean += cellWeight_[c];
    for (int k = 0; k < 3; ++k) look.colour[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(sum[k] / matched);
    const int light = std::max(look.colour[0], std::max(look.colour[1], look.colour[2]));
    const double even = static_cast<double>(around(sat, medianOf(sat, matched), kSatSpread)) / static_cast<double>(matched);
    // Of the dominant hue, the share even in lightness: nearly all of it on
    // paper (even unevenly lit), a slice of a photograph's gradient.
    const double flat = static_cast<double>(matched) / static_cast<double>(dom.weight);

    const bool plain = light >= kLightFloor && even * 100 >= kSatEvenPercent && flat * 100 >= kFlatPercent;
    if (!whole) {
        look.unsure = plain && clean * 100 >= total_ * kPartialPercent;
        findPaper(look);
        return look;
    }
    look.share = static_cast<double>(clean) / static_cast<double>(total_);
    const bool passes = look.share * 100 >= kSeparatorPercent;
    const bool paper = dom.area * 100 >= total_ * kMinAreaPercent;  // not mostly backing
    look.candidate = plain && passes && paper;
    look.separator = look.candidate;
    look.standout = chromaOf(look.colour.data());
    // Close to the bar, or a plain sheet on a dark bed that covers too
    // little of it (a slip smaller than the bed).
    look.unsure = plain && (within(look.share * 100, kSeparatorPercent, kUnsureShare) || (passes && !paper));
    if (!look.candidate) findPaper(look);
    return look;
}

void FilePaper::add(const PageLook& look) {
    const int light = std::max(look.paper[0], std::max(look.paper[1], look.paper[2]));
    if (look.candidate || look.paperShare < 0.5 || light < kPaperLight || chromaOf(look.paper.data()) > kPaperChroma)
        return;
    for (std::size_t k = 0; k < 3; ++k) seen_[k].push_back(look.paper[k]);
}

void FilePaper::settle(PageLook& look, int threshold) {
    if (!ready_) {
        // The median of each channel over the ordinary pages; ideal white
        // when there are none (a file of separator sheets only).
        for (std::size_t k = 0; k < 3 && !seen_[k].empty(); ++k) {
            std::vector<int>& v = seen_[k];
            std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
            reference_[k] = std::max(1, v[v.size() / 2]);
        }
        ready_ = true;
    }
    if (!look.candidate) {
        look.separator = false;
        return;
    }
    // White balance the candidate's colour to the file's paper.
    const int top = std::max(reference_[0], std::max(reference_[1], reference_[2]));
    int mx = 0, mn = 1 << 20;
    for (std::size_t k = 0; k < 3; ++k) {
        const int v = look.colour[k] * top / reference_[k];
        mx = std::max(mx, v);
        mn = std::min(mn, v);
    }
    look.standout = mx - mn;
    look.separator = look.standout > threshold;
    look.unsure = look.unsure || within(look.standout, threshold, kUnsureChroma);
}

void settleFile(const std::vector<PageLook*>& looks, int threshold) {
    FilePaper paper;
    for (const PageLook* look : looks) paper.add(*look);
    for (PageLook* look : looks) paper.settle(*look, threshold);
}

PageLook judgePage(const std::uint8_t* rgb, int width, int height, std::ptrdiff_t stride,
                   int threshold) {
    PageJudge judge(width, height, threshold);
    for (int y = 0; y < judge.rowsWanted(); ++y)
        if (!judge.addRow(y, rgb + static_cast<std::ptrdiff_t>(y) * stride)) break;
    return judge.finish();
}

}  // namespace orvane
