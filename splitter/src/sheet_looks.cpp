#include "sheet_looks.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace orvane {

namespace {

inline int lumOf(const std::uint8_t* p) { return (77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8; }

inline int chromaOf(const std::array<int, 3>& c) {
    return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]});
}

// The median of `n` values counted in a histogram of 256.
int medianOf(const std::uint32_t* hist, long n) {
    long run = 0;
    int v = 0;
    while (v < 255 && (run += hist[v]) * 2 < n) ++v;
    return v;
}

// Edge bands of the small picture left out, per cent of each side: the
// scanner's edge strips, punched holes and the backing around a skewed sheet
// live there (a black sheet's light strips are told apart more closely).
constexpr int kBlackMarginPercent = 2;
constexpr int kBlankMarginPercent = 6;

// A black sheet: its pixels darker than this, but for a few (a label, dust),
// and no row half light; light strips along its edges at most this wide.
constexpr int kBlackLight = 90;
constexpr int kBlackLightPerMille = 15;
constexpr int kBlackRowLightPercent = 50;
constexpr int kBlackStripPercent = 8;

// Paper: light and pale. A page whose own paper is not is no empty page.
constexpr int kPaperLight = 150;
constexpr int kPaperChroma = 60;

// The small picture (each pixel an average over a few square millimetres):
// a pixel this far from the paper in some channel is plainly something, and
// this much of such pixels is content for certain (text, a form, a
// photograph); an age-spotted page or a signature has a fraction of it.
constexpr int kSmallMark = 48;
constexpr int kSmallContentPerMille = 6;
constexpr int kSmallNearPaper = 24;  // a pixel this near the paper is paper
constexpr int kSmallPaperPercent = 85;

// The closer look. Levels below the page's own paper (mean of the channels):
// a mark starts where it is this dark and reaches over what is this dark ...
constexpr int kSeedLevels = 22;
constexpr int kReachLevels = 14;
// ... and is content only when its mean is this dark: bleed-through (up to
// 15 levels), grain and JPEG ringing make only faint texture.
constexpr int kMarkMean = 20;
constexpr double kSpeckMm = 1.0;      // dust and grain: smaller marks do not count
constexpr double kRoundSpeckMm = 1.5; // round and smaller: dust or an age spot, whatever its colour
constexpr double kSpotMm = 3.5;       // age spots (foxing) are round, brownish and smaller
constexpr double kHoleMm[2] = {3.5, 10.0};  // a punched hole's shadow, across ...
constexpr double kHoleEdgeMm = 25.0;  // ... no farther than this from an edge
constexpr double kBorderMm = 1.5;     // marks touching the picture's edge are edge strips
constexpr double kBlockMm = 8.0;      // the paper is measured in blocks this large
constexpr int kStainLevels = 28;      // a block whose paper differs this much from the page's
constexpr int kStainBlocks = 4;       // and a group of this many: a photograph, a large fill
constexpr int kWideStainPercent = 15; // a stain this large counts even at the page's edge

}  // namespace

// ---------------------------------------------------------------- black

BlackJudge::BlackJudge(int width, int height) : width_(std::max(width, 0)), height_(std::max(height, 0)) {
    x0_ = width_ * kBlackMarginPercent / 100;
    x1_ = width_ - x0_;
    y0_ = height_ * kBlackMarginPercent / 100;
    y1_ = height_ - y0_;
    band_ = width_ * kBlackStripPercent / 100;
    budget_ = static_cast<long>(x1_ - x0_) * (y1_ - y0_) * kBlackLightPerMille / 1000;
}

bool BlackJudge::addRow(int y, const std::uint8_t* rgb) {
    if (no_) return false;
    if (y < y0_ || y >= y1_ || x1_ <= x0_) return true;
    // A light run from either side of the picture, narrower than a strip
    // may be, is the scanner's edge strip (or the bed beside a sheet smaller
    // than it): left out.
    const auto light = [&](int x) { return lumOf(rgb + 3 * x) >= kBlackLight; };
    int from = 0, to = width_;
    while (from < band_ && light(from)) ++from;
    while (to > width_ - band_ && light(to - 1)) --to;
    from = from < band_ ? std::max(from, x0_) : x0_;
    to = to > width_ - band_ ? std::min(to, x1_) : x1_;
    long n = 0;
    for (int x = from; x < to; ++x) n += light(x);
    // Light rows along the top or the bottom edge are a strip too; a light
    // row anywhere else (a white page's first) settles it.
    const bool lightRow = n * 100 > static_cast<long>(to - from) * kBlackRowLightPercent;
    const int strip = height_ * kBlackStripPercent / 100;
    if (lightRow && top_ && y < strip) return true;
    top_ = false;
    if (lightRow && y >= height_ - strip) {
        pending_ += n;
        return true;
    }
    light_ += n + pending_;
    pending_ = 0;
    ++rows_;
    no_ = lightRow || light_ > budget_;
    return !no_;
}

// Black when the rows counted (the strips aside) cover most of the page.
bool BlackJudge::finish() { return !no_ && rows_ * 100 >= (y1_ - y0_) * (100 - 2 * kBlackStripPercent); }

// ---------------------------------------------------------------- empty, small picture

BlankJudge::BlankJudge(int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), hist_(3 * 256, 0) {
    x0_ = width_ * kBlankMarginPercent / 100;
    x1_ = width_ - x0_;
    y0_ = height_ * kBlankMarginPercent / 100;
    y1_ = height_ - y0_;
    rows_.reserve(static_cast<std::size_t>(std::max(x1_ - x0_, 0)) * 3 * std::max(y1_ - y0_, 0));
}

// The paper: the median of each channel over the rows read. Paper covers
// most of an empty page (and of the rows read before text starts).
void BlankJudge::settlePaper() {
    for (int k = 0; k < 3; ++k) paper_[static_cast<std::size_t>(k)] = medianOf(hist_.data() + k * 256, seen_);
    sinceSettled_ = 0;
}

namespace {
inline int distance(const std::uint8_t* p, const std::array<int, 3>& c) {
    return std::max({std::abs(p[0] - c[0]), std::abs(p[1] - c[1]), std::abs(p[2] - c[2])});
}
}  // namespace

bool BlankJudge::addRow(int y, const std::uint8_t* rgb) {
    if (content_) return false;
    if (y < y0_ || y >= y1_ || x1_ <= x0_) return true;
    const std::uint8_t* row = rgb + 3 * x0_;
    rows_.insert(rows_.end(), row, row + 3 * (x1_ - x0_));
    for (const std::uint8_t* p = row; p < row + 3 * (x1_ - x0_); p += 3)
        for (int k = 0; k < 3; ++k) ++hist_[static_cast<std::size_t>(k * 256 + p[k])];
    seen_ += x1_ - x0_;
    // The paper so far, worked out again every few rows: text starts below
    // a margin of paper, so a text page is known for one within its first
    // lines.
    if (seen_ == x1_ - x0_ || ++sinceSettled_ >= 8) settlePaper();
    for (const std::uint8_t* p = row; p < row + 3 * (x1_ - x0_); p += 3) marked_ += distance(p, paper_) > kSmallMark;
    const long area = static_cast<long>(x1_ - x0_) * (y1_ - y0_);
    content_ = marked_ * 1000 > area * kSmallContentPerMille;
    return !content_;
}

double BlankJudge::inkShare() const { return seen_ ? static_cast<double>(marked_) / seen_ : 0.0; }

Emptiness BlankJudge::finish(std::array<std::uint8_t, 3>& paper) {
    for (std::size_t k = 0; k < 3; ++k) paper[k] = static_cast<std::uint8_t>(paper_[k]);
    // A page not read in full cannot be judged: it is no empty page.
    if (content_ || seen_ == 0 || seen_ < static_cast<long>(x1_ - x0_) * (y1_ - y0_)) return Emptiness::Content;
    settlePaper();
    // Counted again against the whole page's paper; the paper itself as the
    // mean of the pixels near it.
    long near = 0, sum[3] = {0, 0, 0};
    marked_ = 0;
    for (std::size_t i = 0; i < rows_.size(); i += 3) {
        const std::uint8_t* p = rows_.data() + i;
        const int d = distance(p, paper_);
        marked_ += d > kSmallMark;
        if (d <= kSmallNearPaper) {
            ++near;
            for (int k = 0; k < 3; ++k) sum[k] += p[k];
        }
    }
    if (!near) return Emptiness::Content;
    std::array<int, 3> mean{};
    for (int k = 0; k < 3; ++k) {
        mean[static_cast<std::size_t>(k)] = static_cast<int>(sum[k] / near);
        paper[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(mean[static_cast<std::size_t>(k)]);
    }
    const std::uint8_t px[3] = {paper[0], paper[1], paper[2]};
    if (lumOf(px) < kPaperLight || chromaOf(mean) > kPaperChroma) return Emptiness::Content;
    if (near * 100 < seen_ * kSmallPaperPercent || marked_ * 1000 > seen_ * kSmallContentPerMille)
        return Emptiness::Content;
    return Emptiness::Candidate;
}

// ---------------------------------------------------------------- empty, closer look

namespace {

// A mark: pixels joined to each other, darker than the paper around them.
struct Mark {
    long pixels = 0, darkness = 0;
    int peak = 0;
    double core = 0;           // longest side of its core (the pixels at least half its peak), in mm
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
    bool edge = false;
};

class CloserLook {
public:
    CloserLook(const Picture& picture) : pic_(picture) {
        const double dpi = pic_.dpi > 0 ? pic_.dpi : std::min(pic_.width, pic_.height) / 8.27;
        pxPerMm_ = std::max(dpi / 25.4, 0.5);
        block_ = std::max(4, static_cast<int>(std::lround(kBlockMm * pxPerMm_)));
        bw_ = (pic_.width + block_ - 1) / block_;
        bh_ = (pic_.height + block_ - 1) / block_;
    }

    Emptiness judge(bool& unsure, BlankFigures& f);

private:
    void measurePaper();
    double stains() const;
    int darknessAt(int x, int y) const;
    void darkness();
    Mark trace(int start);
    // Content or not, and whether the mark lies near the bar either way.
    enum class Kind { Content, NearContent, NearAside, Aside };
    Kind classify(const Mark& m) const;
    bool brownish(const Mark& m) const;

    const std::array<int, 3>& bg(int x, int y) const {
        return blocks_[static_cast<std::size_t>(y / block_ * bw_ + x / block_)];
    }

    const Picture& pic_;
    double pxPerMm_;
    int block_, bw_, bh_;
    std::vector<std::array<int, 3>> blocks_;  // the paper of each block
    std::array<int, 3> paper_{};             // the page's paper
    std::vector<std::uint8_t> dark_;          // levels below the block's paper, clipped
    std::vector<int> todo_;
};

// The paper of each block: the median of each channel (ink covers less than
// half of a block of a page that may be empty), then the median of its
// neighbours, so that one block taken up by a mark does not hide it.
void CloserLook::measurePaper() {
    std::vector<std::array<int, 3>> raw(static_cast<std::size_t>(bw_) * bh_);
    std::vector<std::uint32_t> hist(3 * 256);
    const int step = block_ >= 16 ? 2 : 1;  // a thousand pixels and more a block still tell its paper
    for (int by = 0; by < bh_; ++by)
        for (int bx = 0; bx < bw_; ++bx) {
            std::fill(hist.begin(), hist.end(), 0);
            const int xe = std::min(pic_.width, (bx + 1) * block_), ye = std::min(pic_.height, (by + 1) * block_);
            long n = 0;
            for (int y = by * block_; y < ye; y += step)
                for (const std::uint8_t* p = pic_.row(y) + 3 * bx * block_; p < pic_.row(y) + 3 * xe;
                     p += 3 * step, ++n)
                    for (int k = 0; k < 3; ++k) ++hist[static_cast<std::size_t>(k * 256 + p[k])];
            for (int k = 0; k < 3; ++k)
                raw[static_cast<std::size_t>(by * bw_ + bx)][static_cast<std::size_t>(k)] =
                    medianOf(hist.data() + k * 256, n);
        }
    blocks_.resize(raw.size());
    std::vector<int> all[3];
    for (int by = 0; by < bh_; ++by)
        for (int bx = 0; bx < bw_; ++bx)
            for (std::size_t k = 0; k < 3; ++k) {
                std::vector<int> near;
                for (int y = std::max(0, by - 1); y <= std::min(bh_ - 1, by + 1); ++y)
                    for (int x = std::max(0, bx - 1); x <= std::min(bw_ - 1, bx + 1); ++x)
                        near.push_back(raw[static_cast<std::size_t>(y * bw_ + x)][k]);
                std::nth_element(near.begin(), near.begin() + near.size() / 2, near.end());
                blocks_[static_cast<std::size_t>(by * bw_ + bx)][k] = near[near.size() / 2];
                all[k].push_back(raw[static_cast<std::size_t>(by * bw_ + bx)][k]);
            }
    for (std::size_t k = 0; k < 3; ++k) {
        std::nth_element(all[k].begin(), all[k].begin() + all[k].size() / 2, all[k].end());
        paper_[k] = all[k][all[k].size() / 2];
    }
}

// Share of the page in groups of blocks whose paper differs from the page's
// own: a photograph, a large grey fill. Strips along the edge (shadow,
// backing) are left out unless they are large.
double CloserLook::stains() const {
    std::vector<std::uint8_t> stain(blocks_.size(), 0);
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        int diff = 0;
        for (std::size_t k = 0; k < 3; ++k) diff += std::abs(blocks_[i][k] - paper_[k]);
        stain[i] = diff > 3 * kStainLevels;
    }
    long counted = 0;
    std::vector<int> todo;
    for (std::size_t s = 0; s < stain.size(); ++s) {
        if (stain[s] != 1) continue;
        long size = 0;
        bool edge = false;
        todo.assign(1, static_cast<int>(s));
        stain[s] = 2;
        while (!todo.empty()) {
            const int i = todo.back();
            todo.pop_back();
            ++size;
            const int x = i % bw_, y = i / bw_;
            edge = edge || x == 0 || y == 0 || x == bw_ - 1 || y == bh_ - 1;
            const int next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
            for (const auto& n : next)
                if (n[0] >= 0 && n[1] >= 0 && n[0] < bw_ && n[1] < bh_ &&
                    stain[static_cast<std::size_t>(n[1] * bw_ + n[0])] == 1) {
                    stain[static_cast<std::size_t>(n[1] * bw_ + n[0])] = 2;
                    todo.push_back(n[1] * bw_ + n[0]);
                }
        }
        if (size >= kStainBlocks && (!edge || size * 100 >= static_cast<long>(blocks_.size()) * kWideStainPercent))
            counted += size;
    }
    return static_cast<double>(counted) / static_cast<double>(blocks_.size());
}

// Levels below the paper of its block (the mean of the channels), 0 to 255.
int CloserLook::darknessAt(int x, int y) const {
    const std::uint8_t* p = pic_.row(y) + 3 * x;
    const std::array<int, 3>& b = bg(x, y);
    return std::clamp((b[0] - p[0] + b[1] - p[1] + b[2] - p[2]) / 3, 0, 255);
}

void CloserLook::darkness() {
    dark_.assign(static_cast<std::size_t>(pic_.width) * pic_.height, 0);
    for (int y = 0; y < pic_.height; ++y) {
        std::uint8_t* d = dark_.data() + static_cast<std::size_t>(y) * pic_.width;
        const std::uint8_t* p = pic_.row(y);
        for (int bx = 0; bx < bw_; ++bx) {  // block by block: no division a pixel
            const std::array<int, 3>& b = bg(bx * block_, y);
            const int sum = b[0] + b[1] + b[2];
            for (int x = bx * block_; x < std::min(pic_.width, (bx + 1) * block_); ++x, p += 3)
                d[x] = static_cast<std::uint8_t>(std::clamp((sum - p[0] - p[1] - p[2]) / 3, 0, 255));
        }
    }
}

// Gathers the mark that the pixel `start` (a seed) belongs to; its pixels are
// cleared as they are taken.
Mark CloserLook::trace(int start) {
    Mark m;
    const int border = static_cast<int>(std::lround(kBorderMm * pxPerMm_));
    std::vector<std::uint8_t>& d = dark_;
    const int w = pic_.width, h = pic_.height;
    auto take = [&](int i) {
        const int x = i % w, y = i / w;
        const std::uint8_t v = d[static_cast<std::size_t>(i)];
        d[static_cast<std::size_t>(i)] = 0;
        todo_.push_back(i);
        ++m.pixels;
        m.darkness += v;
        m.peak = std::max<int>(m.peak, v);
        m.x0 = std::min(m.x0, x);
        m.x1 = std::max(m.x1, x);
        m.y0 = std::min(m.y0, y);
        m.y1 = std::max(m.y1, y);
        m.edge = m.edge || x < border || y < border || x >= w - border || y >= h - border;
    };
    take(start);
    while (!todo_.empty()) {
        const int i = todo_.back();
        todo_.pop_back();
        const int x = i % w, y = i / w;
        for (int ny = std::max(0, y - 1); ny <= std::min(h - 1, y + 1); ++ny)
            for (int nx = std::max(0, x - 1); nx <= std::min(w - 1, x + 1); ++nx)
                if (d[static_cast<std::size_t>(ny * w + nx)] >= kReachLevels) take(ny * w + nx);
    }
    // The core of a small mark: JPEG ringing and blur spread a dust speck
    // wider than it is.
    m.core = std::max(m.x1 - m.x0 + 1, m.y1 - m.y0 + 1) / pxPerMm_;
    if (m.core > kSpotMm) return m;
    int x0 = w, y0 = h, x1 = -1, y1 = -1;
    for (int y = m.y0; y <= m.y1; ++y)
        for (int x = m.x0; x <= m.x1; ++x)
            if (darknessAt(x, y) * 2 >= m.peak) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y);
            }
    m.core = std::max(x1 - x0 + 1, y1 - y0 + 1) / pxPerMm_;
    return m;
}

// The paper's browning: blue falls most, red least; ink is grey, blue or
// black. A small spot's colour is smeared around it by the JPEG's halved
// colour resolution, so it is summed over the spot and a rim around it.
bool CloserLook::brownish(const Mark& m) const {
    const int rim = std::max(2, static_cast<int>(std::lround(0.5 * pxPerMm_)));
    long drop[3] = {0, 0, 0};
    for (int y = std::max(0, m.y0 - rim); y <= std::min(pic_.height - 1, m.y1 + rim); ++y)
        for (int x = std::max(0, m.x0 - rim); x <= std::min(pic_.width - 1, m.x1 + rim); ++x)
            for (std::size_t k = 0; k < 3; ++k) drop[k] += bg(x, y)[k] - pic_.row(y)[3 * x + k];
    return drop[2] > 0 && drop[0] * 5 <= drop[2] * 4 && drop[1] * 10 <= drop[2] * 11;
}

CloserLook::Kind CloserLook::classify(const Mark& m) const {
    if (m.edge) return Kind::Aside;
    const double across = (m.x1 - m.x0 + 1) / pxPerMm_, down = (m.y1 - m.y0 + 1) / pxPerMm_;
    const double longest = std::max(across, down), shortest = std::min(across, down);
    const double fill = static_cast<double>(m.pixels) / ((m.x1 - m.x0 + 1.0) * (m.y1 - m.y0 + 1.0));
    const double mean = static_cast<double>(m.darkness) / m.pixels;
    // Round and filled: a spot, not a stroke.
    const bool round = longest <= 1.6 * shortest && fill >= 0.45;
    // Small round spots are dust or age spots whatever their colour (a JPEG
    // keeps little of the colour of a spot this small); larger ones are
    // spots when brownish.
    if (round && (m.core < kRoundSpeckMm || (longest < kSpotMm && brownish(m)))) return Kind::Aside;
    if (m.core < kSpeckMm) return m.core >= 0.8 * kSpeckMm && mean >= 2 * kMarkMean ? Kind::NearAside : Kind::Aside;
    const double cx = (m.x0 + m.x1) / 2.0 / pxPerMm_, cy = (m.y0 + m.y1) / 2.0 / pxPerMm_;
    const double fromEdge = std::min({cx, cy, pic_.width / pxPerMm_ - cx, pic_.height / pxPerMm_ - cy});
    if (round && longest >= kHoleMm[0] && longest <= kHoleMm[1] && fromEdge <= kHoleEdgeMm) return Kind::Aside;
    if (mean < kMarkMean) return mean >= kMarkMean - 3 && longest >= 3 * kSpeckMm ? Kind::NearAside : Kind::Aside;
    const bool slight = longest < 2 * kSpeckMm || mean < kMarkMean + 5;
    return slight ? Kind::NearContent : Kind::Content;
}

Emptiness CloserLook::judge(bool& unsure, BlankFigures& f) {
    measurePaper();
    for (std::size_t k = 0; k < 3; ++k) f.paper[k] = static_cast<std::uint8_t>(paper_[k]);
    const std::uint8_t px[3] = {f.paper[0], f.paper[1], f.paper[2]};
    if (lumOf(px) < kPaperLight || chromaOf(paper_) > kPaperChroma) return Emptiness::Content;
    f.stainShare = stains();
    if (f.stainShare > 0) return Emptiness::Content;
    darkness();
    int near[4] = {0, 0, 0, 0};  // marks of each kind
    const int n = pic_.width * pic_.height;
    for (int i = 0; i < n; ++i) {
        if (dark_[static_cast<std::size_t>(i)] < kSeedLevels) continue;
        const Mark m = trace(i);
        const Kind kind = classify(m);
        ++near[static_cast<int>(kind)];
        const double longest = std::max(m.x1 - m.x0 + 1, m.y1 - m.y0 + 1) / pxPerMm_;
        if (kind != Kind::Content && kind != Kind::NearContent) continue;
        ++f.marks;
        if (longest > f.markMm) {
            f.markMm = longest;
            f.markDarkness = static_cast<int>(m.darkness / m.pixels);
        }
    }
    f.setAside = near[static_cast<int>(Kind::NearAside)] + near[static_cast<int>(Kind::Aside)];
    // Content only by marks near the bar, or blank beside one: a person checks.
    unsure = f.marks ? near[static_cast<int>(Kind::Content)] == 0 : near[static_cast<int>(Kind::NearAside)] > 0;
    return f.marks > 0 ? Emptiness::Content : Emptiness::Blank;
}

}  // namespace

Emptiness judgeBlankCloser(const Picture& picture, const std::array<std::uint8_t, 3>& paper, bool& unsure,
                           BlankFigures* figures) {
    BlankFigures own;
    BlankFigures& f = figures ? *figures : own;
    f = BlankFigures{};
    f.paper = paper;
    unsure = false;
    // A page that cannot be looked at closer cannot be judged: not blank.
    if (picture.empty() || picture.rgb.size() < static_cast<std::size_t>(picture.width) * picture.height * 3)
        return Emptiness::Content;
    return CloserLook(picture).judge(unsure, f);
}

Emptiness judgeBlankCloser(const Picture& picture, const std::array<std::uint8_t, 3>& paper, bool& unsure) {
    return judgeBlankCloser(picture, paper, unsure, nullptr);
}

}  // namespace orvane
