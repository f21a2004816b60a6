#include "sheet_rows.h"

#include <algorithm>
#include <cstring>

#include "budgets.h"

namespace orvane {

SheetRows::SheetRows(int width, int height, int threshold, const SheetKinds& kinds, bool grey)
    : height_(std::max(height, 0)), colour_(width, height, threshold), colourOn_(!grey) {
    if (kinds.colourOnly()) return;
    // A blank page right after a code or black sheet is its back: the empty
    // page judge runs for those kinds too.
    if (kinds.code) code_.reset(new CodeCandidate(width, height));
    if (kinds.black) black_.reset(new BlackJudge(width, height));
    if (kinds.blank || kinds.code || kinds.black) blank_.reset(new BlankJudge(width, height));
    codeOn_ = code_ != nullptr;
    blackOn_ = black_ != nullptr;
    blankOn_ = blank_ != nullptr;
}

int SheetRows::rowsWanted() const {
    return codeOn_ || blackOn_ || blankOn_ ? height_ : colour_.rowsWanted();
}

bool SheetRows::addRow(int y, const std::uint8_t* rgb) {
    if (colourOn_) colourOn_ = colour_.addRow(y, rgb);
    if (codeOn_) codeOn_ = code_->addRow(y, rgb);
    if (blackOn_) blackOn_ = black_->addRow(y, rgb);
    if (blankOn_) blankOn_ = blank_->addRow(y, rgb);
    return colourOn_ || codeOn_ || blackOn_ || blankOn_;
}

PageLook SheetRows::finish(bool& codeCandidate) {
    PageLook look = colour_.finish();
    codeCandidate = false;
    // A judge that stopped early said no; finish() is asked of the others.
    if (black_ && blackOn_ && black_->finish()) {
        look.sheet = SheetKind::Black;
        return look;
    }
    codeCandidate = code_ && codeOn_ && code_->finish().has_value();
    if (blank_ && blankOn_ && !codeCandidate) {
        std::array<std::uint8_t, 3> paper{};
        const Emptiness e = blank_->finish(paper);
        look.blankCandidate = e == Emptiness::Candidate;
        if (e == Emptiness::Blank) look.sheet = SheetKind::Blank;
        look.blankPaper = paper;
    }
    return look;
}

PageLook lookAtRows(const std::uint8_t* rgb, int width, int height, std::ptrdiff_t stride, int threshold,
                    const SheetKinds& kinds, bool& codeCandidate) {
    SheetRows rows(width, height, threshold, kinds);
    for (int y = 0; y < rows.rowsWanted(); ++y)
        if (!rows.addRow(y, rgb + static_cast<std::ptrdiff_t>(y) * stride)) break;
    return rows.finish(codeCandidate);
}

std::optional<std::string> closerCode(const Picture& picture) {
    if (picture.empty()) return std::nullopt;
    return readSheetCode(picture);
}

bool closerBlank(const Picture& picture, const PageLook& look, bool& unsure) {
    unsure = false;
    return !picture.empty() && judgeBlankCloser(picture, look.blankPaper, unsure) == Emptiness::Blank;
}

int PictureRows::begin(int width, int height) {
    if (static_cast<double>(width) * height > kCloserMaxPixels) return 0;
    picture.width = width;
    picture.height = height;
    picture.dpi = inches_ > 0 ? width / inches_ : 0;
    picture.rgb.assign(static_cast<std::size_t>(width) * 3 * static_cast<std::size_t>(height), 0);
    return height;
}

bool PictureRows::row(int y, const std::uint8_t* rgb) {
    std::memcpy(picture.rgb.data() + static_cast<std::size_t>(y) * picture.width * 3, rgb,
                static_cast<std::size_t>(picture.width) * 3);
    return true;
}

}  // namespace orvane
