#include "sheet_looks.h"

namespace orvane {

BlackJudge::BlackJudge(int width, int height) : width_(width), height_(height) {}
bool BlackJudge::addRow(int, const std::uint8_t*) { return false; }
bool BlackJudge::finish() { return false; }

BlankJudge::BlankJudge(int width, int height) : width_(width), height_(height) {}
bool BlankJudge::addRow(int, const std::uint8_t*) { return false; }
Emptiness BlankJudge::finish(std::array<std::uint8_t, 3>&) { return Emptiness::Content; }

Emptiness judgeBlankCloser(const Picture&, const std::array<std::uint8_t, 3>&, bool& unsure) {
    unsure = false;
    return Emptiness::Content;
}

}  // namespace orvane
