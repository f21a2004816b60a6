#include "sheet_codes.h"

#include <algorithm>

namespace orvane {

namespace {

// Bands at the edges that are not looked at, in per cent of the width and of
// the height: the scanner's edge strip, punched holes, staples.
constexpr int kEdgeXPercent = 6;
constexpr int kEdgeYPercent = 3;
// A pixel this much darker than the paper is marked: at 1/8 scale a line of
// printed text still makes a grey trace this dark, a code far darker.
constexpr int kMarkDrop = 28;
// A row with fewer marks than this is paper (dust, a JPEG ringing speck).
constexpr int kRowMarks = 2;
// Runs of marked rows a code sheet may hold: the code and a line or two of
// print beside it. Text makes one run a line.
constexpr std::size_t kMaxBands = 3;
// A code block covers at most this share of the area looked at, and at least
// this share of its own bounding box holds marks.
constexpr int kMaxBlockPercent = 30;
constexpr int kBlockFillPercent = 35;
// A pixel this much darker than the paper is as dark as print; a block of
// them this solid is a printed bar or logo: at 1/8 scale a code is grey, or
// light and dark modules side by side, never solid.
constexpr int kBlackDrop = 150;
constexpr int kSolidPercent = 75;
// The smallest side of a code block, in per cent of the page's width (on A4
// about 8 mm: a small corner QR code).
constexpr int kMinSidePercent = 4;

inline int lumOf(const std::uint8_t* p) { return (77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8; }

}  // namespace

CodeCandidate::CodeCandidate(int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), histogram_(256, 0) {
    x0_ = width_ * kEdgeXPercent / 100;
    x1_ = width_ - x0_;
    y0_ = height_ * kEdgeYPercent / 100;
    y1_ = height_ - y0_;
    minSide_ = std::max(3, width_ * kMinSidePercent / 100);
    settled_ = x1_ - x0_ < minSide_ || y1_ - y0_ < minSide_;  // too small to hold a code
}

bool CodeCandidate::addRow(int y, const std::uint8_t* rgb) {
    if (settled_) return false;
    if (y < y0_ || y >= y1_) return true;
    // The paper: the most common lightness of what was read. The first rows
    // of a page are nearly always paper, and a code never covers most of it.
    const std::uint8_t* p = rgb + 3 * x0_;
    for (int x = x0_; x < x1_; ++x, p += 3) ++histogram_[static_cast<std::size_t>(lumOf(p))];
    paper_ = static_cast<int>(std::max_element(histogram_.begin(), histogram_.end()) - histogram_.begin());
    // Marks joined to the picture's edge are the scanner's backing around a
    // skewed sheet or a shadow along its edge, not a code.
    const auto marked = [&](int x) { return lumOf(rgb + 3 * x) + kMarkDrop <= paper_; };
    int from = 0, to = width_;
    while (from < to && marked(from)) ++from;
    while (to > from && marked(to - 1)) --to;
    from = std::max(from, x0_);
    to = std::min(to, x1_);
    // A row dark right across is no backing beside paper: a photograph, a
    // dark page. It counts whole towards the marks of the page.
    if (from >= to) marked_ += static_cast<std::uint64_t>(x1_ - x0_);
    int marks = 0, black = 0, first = -1, last = -1;
    for (int x = from; x < to; ++x)
        if (marked(x)) {
            ++marks;
            black += lumOf(rgb + 3 * x) + kBlackDrop <= paper_;
            last = x;
            if (first < 0) first = x;
        }
    if (marks < kRowMarks) {
        if (open_) closeBand();
        return !settle();
    }
    marked_ += static_cast<std::uint64_t>(marks);
    if (!open_) {
        bands_.push_back(Band{y, y, first, last + 1, 0, 0});
        open_ = true;
    }
    Band& band = bands_.back();
    band.y1 = y + 1;
    band.x0 = std::min(band.x0, first);
    band.x1 = std::max(band.x1, last + 1);
    band.marks += static_cast<std::uint64_t>(marks);
    band.black += static_cast<std::uint64_t>(black);
    return !settle();
}

void CodeCandidate::closeBand() {
    open_ = false;
    const Band& band = bands_.back();
    const int w = band.x1 - band.x0, h = band.y1 - band.y0;
    // A solid block (a heading's bar, a logo) is a dense block that is no
    // code: the page has no room left for one alone.
    if (w >= minSide_ && 2 * h >= minSide_ &&
        band.black * 100 >= static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) * kSolidPercent)
        settled_ = true;
    // A speck or a thin rule is no block and no line of print worth counting.
    else if (h < 2 && w < minSide_)
        bands_.pop_back();
}

// The early "no": ink spread as text spreads it (line after line, or a large
// area of marks), or one block larger than any code sheet carries.
bool CodeCandidate::settle() {
    const std::uint64_t area = static_cast<std::uint64_t>(x1_ - x0_) * static_cast<std::uint64_t>(y1_ - y0_);
    bool spread = bands_.size() > kMaxBands || marked_ * 100 > area * kMaxBlockPercent;
    if (!spread && !bands_.empty()) {
        const Band& b = bands_.back();
        spread = static_cast<std::uint64_t>(b.x1 - b.x0) * static_cast<std::uint64_t>(b.y1 - b.y0) * 100 >
                 area * kMaxBlockPercent;
    }
    settled_ = settled_ || spread;
    return settled_;
}

bool CodeCandidate::isBlock(const Band& b) const {
    const int w = b.x1 - b.x0, h = b.y1 - b.y0;
    return w >= minSide_ && h >= minSide_ &&
           b.marks * 100 >= static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) * kBlockFillPercent;
}

std::optional<CodeBox> CodeCandidate::finish() {
    if (open_ && !settled_) closeBand();
    if (settled_ || bands_.empty()) return std::nullopt;
    // The block: the band with the most marks, the rest being print beside it.
    const Band& block =
        *std::max_element(bands_.begin(), bands_.end(), [](const Band& a, const Band& b) { return a.marks < b.marks; });
    if (!isBlock(block)) return std::nullopt;
    return CodeBox{block.x0, block.y0, block.x1, block.y1};
}

}  // namespace orvane
