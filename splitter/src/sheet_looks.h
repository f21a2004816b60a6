// The other plain sheet kinds, judged against the page's own paper: a black
// sheet (dark nearly all over) and an empty page. The empty-page judge is the
// one judge of emptiness: the `blank` sheet kind and the blank back of a
// code or black sheet both use it.
#pragma once

#include <array>
#include <cstdint>

#include "picture.h"

namespace orvane {

// Fed the rows of a page's small picture from the top (packed R,G,B).
class BlackJudge {
public:
    BlackJudge(int width, int height);
    // False as soon as the page certainly is not black.
    bool addRow(int y, const std::uint8_t* rgb);
    bool finish();

private:
    int width_, height_;
};

enum class Emptiness {
    Content,    // something stands out from the paper
    Blank,      // nothing does, at this scale and closer
    Candidate,  // nothing does at this scale: a closer look decides
};

// Fed the rows of a page's small picture from the top (packed R,G,B).
class BlankJudge {
public:
    BlankJudge(int width, int height);
    // False as soon as the page certainly holds content.
    bool addRow(int y, const std::uint8_t* rgb);
    // Content or Candidate; `paper` the page's paper colour as the small
    // picture shows it.
    Emptiness finish(std::array<std::uint8_t, 3>& paper);

private:
    int width_, height_;
};

// The closer look at a candidate: Blank or Content. `unsure` is set when the
// verdict lies near the bar (the page is then named for a person to check).
Emptiness judgeBlankCloser(const Picture& picture, const std::array<std::uint8_t, 3>& paper, bool& unsure);

// The resolution the closer look wants, in dots per inch.
constexpr double kBlankDpi = 100;

}  // namespace orvane
