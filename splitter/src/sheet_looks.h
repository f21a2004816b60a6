// The other plain sheet kinds, judged against the page's own paper: a black
// sheet (dark nearly all over) and an empty page. The empty-page judge is the
// one judge of emptiness: the `blank` sheet kind and the blank back of a
// code or black sheet both use it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

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
    int x0_, x1_, y0_, y1_;     // the inspected area
    int band_;                  // an edge strip is at most this wide, in pixels across
    long light_ = 0, budget_;   // light pixels counted, and how many a black sheet may have
    long pending_ = 0;          // light pixels of the light rows since the last dark one
    int rows_ = 0;              // rows counted
    bool top_ = true;           // no dark row yet: a light row is the top edge strip
    bool no_ = false;
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
    // Share of the inspected area that stands out plainly from the paper.
    double inkShare() const;

private:
    void settlePaper();
    int width_, height_;
    int x0_, x1_, y0_, y1_;
    std::vector<std::uint32_t> hist_;     // 3 x 256: the inspected pixels' channels
    std::vector<std::uint8_t> rows_;      // the inspected rows, kept for finish()
    std::array<int, 3> paper_{{255, 255, 255}};
    long seen_ = 0, marked_ = 0;
    int sinceSettled_ = 0;
    bool content_ = false;
};

// What decided a closer look, for a person who wants to know why.
struct BlankFigures {
    std::array<std::uint8_t, 3> paper{};  // the page's paper, as the closer look found it
    int marks = 0;           // marks that stand out as content
    double markMm = 0;       // the longest side of the largest of them, in millimetres
    int markDarkness = 0;    // its mean, in levels below the paper
    int setAside = 0;        // specks, age spots, hole shadows, edge strips and faint texture
    double stainShare = 0;   // share of the page whose paper itself differs (a photograph)
};

// The closer look at a candidate: Blank or Content. `unsure` is set when the
// verdict lies near the bar (the page is then named for a person to check).
Emptiness judgeBlankCloser(const Picture& picture, const std::array<std::uint8_t, 3>& paper, bool& unsure);
Emptiness judgeBlankCloser(const Picture& picture, const std::array<std::uint8_t, 3>& paper, bool& unsure,
                           BlankFigures* figures);

// The resolution the closer look wants, in dots per inch: a faint pencil
// line 0.3 mm wide keeps most of its darkness at 140 dpi, while at 100 it
// fades to what bleed-through shows.
constexpr double kBlankDpi = 140;

}  // namespace orvane
