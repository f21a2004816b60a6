// The splitter's side of reading a code sheet: the printed blocks of a page
// decoded closer, cut out in grey for the reader. No barcode library runs
// here: zxing-cpp keeps its assertions on and runs in a helper process
// (code_reader.cpp, helper.h), and what travels to it is the grey of the
// area around the blocks, not the picture's colour.
#include "sheet_codes.h"

#include <algorithm>

namespace orvane {

namespace {

// The printed blocks of the page: cells of kCell pixels holding ink, joined
// across gaps of paper narrower than kJoin cells (the spaces of a barcode).
// zxing-cpp misses a small code on a whole page that it reads at once on a
// piece around it, and a piece is quicker to read.
constexpr int kCell = 8;
constexpr int kJoin = 3;
constexpr int kInkDrop = 64;   // ink: this much darker than the paper
constexpr int kQuietCells = 3; // paper kept round a block for the code's quiet zone
constexpr int kMinCells = 4;   // a speck of dust is no block
constexpr std::size_t kMaxBlocks = 4;

struct Block {
    int x0, y0, x1, y1;  // in cells
    int cells;
};

inline int lumOf(const std::uint8_t* p) { return (77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8; }

std::vector<Block> inkBlocks(const Picture& picture) {
    const int cw = (picture.width + kCell - 1) / kCell, ch = (picture.height + kCell - 1) / kCell;
    std::vector<std::uint32_t> histogram(256, 0);
    for (int y = 0; y < picture.height; y += 2)
        for (int x = 0; x < picture.width; x += 2) ++histogram[static_cast<std::size_t>(lumOf(picture.row(y) + 3 * x))];
    const int paper = static_cast<int>(std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
    std::vector<std::uint8_t> ink(static_cast<std::size_t>(cw) * ch, 0);
    for (int y = 0; y < picture.height; y += 2) {
        const std::uint8_t* p = picture.row(y);
        for (int x = 0; x < picture.width; ++x, p += 3)
            if (lumOf(p) + kInkDrop <= paper) ink[static_cast<std::size_t>(y / kCell) * cw + x / kCell] = 1;
    }
    std::vector<int> todo;
    // Ink joined to the picture's edge is the scanner's: its edge strip, the
    // backing around a skewed sheet. It would make one block of the page.
    const auto backing = [&](int x, int y) {
        std::uint8_t& c = ink[static_cast<std::size_t>(y) * cw + x];
        if (c == 1) {
            c = 0;
            todo.push_back(y * cw + x);
        }
    };
    for (int x = 0; x < cw; ++x) backing(x, 0), backing(x, ch - 1);
    for (int y = 0; y < ch; ++y) backing(0, y), backing(cw - 1, y);
    while (!todo.empty()) {
        const int c = todo.back(), cx = c % cw, cy = c / cw;
        todo.pop_back();
        if (cx > 0) backing(cx - 1, cy);
        if (cx + 1 < cw) backing(cx + 1, cy);
        if (cy > 0) backing(cx, cy - 1);
        if (cy + 1 < ch) backing(cx, cy + 1);
    }
    std::vector<Block> blocks;
    for (int start = 0; start < cw * ch; ++start) {
        if (ink[static_cast<std::size_t>(start)] != 1) continue;
        Block b{start % cw, start / cw, start % cw + 1, start / cw + 1, 0};
        ink[static_cast<std::size_t>(start)] = 2;
        todo.assign(1, start);
        while (!todo.empty()) {
            const int c = todo.back(), cx = c % cw, cy = c / cw;
            todo.pop_back();
            ++b.cells;
            b.x0 = std::min(b.x0, cx), b.x1 = std::max(b.x1, cx + 1);
            b.y0 = std::min(b.y0, cy), b.y1 = std::max(b.y1, cy + 1);
            for (int ny = std::max(0, cy - kJoin); ny <= std::min(ch - 1, cy + kJoin); ++ny)
                for (int nx = std::max(0, cx - kJoin); nx <= std::min(cw - 1, cx + kJoin); ++nx) {
                    std::uint8_t& n = ink[static_cast<std::size_t>(ny) * cw + nx];
                    if (n == 1) {
                        n = 2;
                        todo.push_back(ny * cw + nx);
                    }
                }
        }
        if (b.cells >= kMinCells) blocks.push_back(b);
    }
    std::sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) { return a.cells > b.cells; });
    if (blocks.size() > kMaxBlocks) blocks.resize(kMaxBlocks);
    return blocks;
}

// zxing-cpp's own luminance (RGBToLum in its ImageView.h): the reader turns
// a colour picture into this grey before it reads, so grey sent gives the
// same reading as the colour would.
inline std::uint8_t readerGrey(const std::uint8_t* p) {
    return static_cast<std::uint8_t>((306u * p[0] + 601u * p[1] + 117u * p[2] + 0x200u) >> 10);
}

}  // namespace

CodePieces codePieces(const Picture& picture) {
    CodePieces out;
    if (picture.empty()) return out;
    // Each block with its quiet zone, within the picture; the area sent is
    // the smallest that holds them all.
    int ax0 = picture.width, ay0 = picture.height, ax1 = 0, ay1 = 0;
    for (const Block& b : inkBlocks(picture)) {
        CodeBox box;
        box.x0 = std::max(0, b.x0 - kQuietCells) * kCell;
        box.y0 = std::max(0, b.y0 - kQuietCells) * kCell;
        box.x1 = std::min(picture.width, (b.x1 + kQuietCells) * kCell);
        box.y1 = std::min(picture.height, (b.y1 + kQuietCells) * kCell);
        ax0 = std::min(ax0, box.x0), ay0 = std::min(ay0, box.y0);
        ax1 = std::max(ax1, box.x1), ay1 = std::max(ay1, box.y1);
        out.pieces.push_back(box);
    }
    if (out.pieces.empty()) return out;
    for (CodeBox& box : out.pieces) box.x0 -= ax0, box.x1 -= ax0, box.y0 -= ay0, box.y1 -= ay0;
    out.width = ax1 - ax0;
    out.height = ay1 - ay0;
    out.grey.resize(static_cast<std::size_t>(out.width) * out.height);
    std::uint8_t* g = out.grey.data();
    for (int y = ay0; y < ay1; ++y)
        for (const std::uint8_t* p = picture.row(y) + 3 * ax0; p != picture.row(y) + 3 * ax1; p += 3) *g++ = readerGrey(p);
    return out;
}

}  // namespace orvane
