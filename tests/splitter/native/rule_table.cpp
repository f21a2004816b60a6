// The separator rule's verdicts, page and file together, on a table of small
// files drawn in memory: what decides each verdict is the rule itself
// (splitter/src/detect.*), with no PDF, decoder or renderer around it.
// Prints one line per wrong verdict and a count; exits non-zero on any.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "detect.h"

namespace {

using Colour = std::array<std::uint8_t, 3>;
constexpr int kW = 200, kH = 290;

// A page of one paper colour; `lines` draws dark text rows across it.
struct Page {
    Colour paper;
    bool lines;
};

std::vector<std::uint8_t> draw(const Page& p) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kW) * kH * 3);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const bool ink = p.lines && y % 6 == 0 && x > 10 && x < kW - 10;
            for (int k = 0; k < 3; ++k)
                rgb[(static_cast<std::size_t>(y) * kW + x) * 3 + k] = ink ? 30 : p.paper[k];
        }
    return rgb;
}

const Colour kWhite{{250, 250, 248}}, kCast{{250, 242, 226}}, kYellow{{250, 235, 150}},
    kPink{{245, 195, 210}};

struct Case {
    const char* name;
    std::vector<Page> pages;
    std::string separators;  // one letter per page: S separator, . not
    std::string unsure;      // one letter per page: ? named under check:, . not
};

const Case kCases[] = {
    {"white text pages and a yellow sheet", {{kWhite, true}, {kYellow, false}, {kWhite, true}}, ".S.", "..."},
    // A scanner's warm cast makes a blank back coloured on its own; against
    // the file's paper it is no sheet, while a pink sheet still is.
    {"warm cast: blank back and pink sheet", {{kCast, true}, {kCast, false}, {kPink, false}, {kCast, true}},
     "..S.", "...."},
    // With no ordinary page the paper is ideal white.
    {"sheets only", {{kYellow, false}, {kPink, false}}, "SS", ".."},
    // The same cast among white pages stands out, barely: a sheet, named.
    {"cast page among white pages", {{kWhite, true}, {kCast, false}, {kWhite, true}}, ".S.", ".?."},
};

}  // namespace

int main() {
    int failed = 0, checked = 0;
    for (const Case& c : kCases) {
        std::vector<orvane::PageLook> looks;
        for (const Page& p : c.pages) {
            const std::vector<std::uint8_t> rgb = draw(p);
            looks.push_back(orvane::judgePage(rgb.data(), kW, kH, kW * 3, orvane::kDefaultThreshold));
        }
        std::vector<orvane::PageLook*> all;
        for (orvane::PageLook& l : looks) all.push_back(&l);
        orvane::settleFile(all, orvane::kDefaultThreshold);
        std::string separators, unsure;
        for (const orvane::PageLook& l : looks) {
            separators += l.separator ? 'S' : '.';
            unsure += l.unsure ? '?' : '.';
        }
        ++checked;
        if (separators != c.separators || unsure != c.unsure) {
            ++failed;
            std::printf("FAILED: %s: separators %s (want %s), check %s (want %s)\n", c.name, separators.c_str(),
                        c.separators.c_str(), unsure.c_str(), c.unsure.c_str());
        }
    }
    std::printf("%d of %d files judged as expected\n", checked - failed, checked);
    return failed ? 1 : 0;
}
