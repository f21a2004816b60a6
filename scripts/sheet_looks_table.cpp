// The black and empty-page judges (splitter/src/sheet_looks.*) on scanned
// pages, for sheet_looks_table.py: JPEG files of A4 pages, decoded as the
// splitter decodes them (the small picture at 1/8 scale, the closer look at
// kBlankDpi or more).
// Reads lines "path<TAB>want<TAB>counted<TAB>name" on standard input, want
// one of blank, content, black; prints a table row per page with the figures
// that decided, and exits non-zero when a counted page is judged wrong.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "jpeg_small.h"
#include "sheet_looks.h"

namespace {

constexpr double kA4LongInches = 297 / 25.4, kA4ShortInches = 210 / 25.4;

struct SmallRows : orvane::JpegRows {
    std::unique_ptr<orvane::BlackJudge> black;
    std::unique_ptr<orvane::BlankJudge> blank;
    bool blackOn = true, blankOn = true;
    int begin(int width, int height) override {
        black.reset(new orvane::BlackJudge(width, height));
        blank.reset(new orvane::BlankJudge(width, height));
        return height;
    }
    bool row(int y, const std::uint8_t* rgb) override {
        if (blackOn) blackOn = black->addRow(y, rgb);
        if (blankOn) blankOn = blank->addRow(y, rgb);
        return blackOn || blankOn;
    }
};

struct PictureRows : orvane::JpegRows {
    orvane::Picture picture;
    int begin(int width, int height) override {
        picture.width = width;
        picture.height = height;
        picture.dpi = std::min(width, height) / kA4ShortInches;
        picture.rgb.assign(static_cast<std::size_t>(width) * height * 3, 0);
        return height;
    }
    bool row(int y, const std::uint8_t* rgb) override {
        std::copy(rgb, rgb + picture.width * 3,
                  picture.rgb.begin() + static_cast<std::ptrdiff_t>(y) * picture.width * 3);
        return true;
    }
};

}  // namespace

int main() {
    std::printf("| page | found | expected | small ink %% | paper | marks | largest mark mm | its darkness | set aside "
                "| photo share | check |\n|---|---|---|---|---|---|---|---|---|---|---|\n");
    int wrong = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream fields(line);
        std::string path, want, counted, name;
        if (!std::getline(fields, path, '\t') || !std::getline(fields, want, '\t') ||
            !std::getline(fields, counted, '\t') || !std::getline(fields, name))
            continue;
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SmallRows small;
        orvane::decodeJpegRows(data.data(), data.size(), small);
        std::array<std::uint8_t, 3> paper{};
        const bool black = small.blackOn && small.black->finish();
        orvane::Emptiness e = small.blank->finish(paper);
        orvane::BlankFigures f;
        f.paper = paper;
        bool unsure = false;
        if (e == orvane::Emptiness::Candidate) {
            PictureRows closer;
            orvane::decodeJpegRows(data.data(), data.size(), closer,
                                   static_cast<int>(std::ceil(orvane::kBlankDpi * kA4LongInches)));
            e = orvane::judgeBlankCloser(closer.picture, paper, unsure, &f);
        }
        const std::string found = black ? "black" : e == orvane::Emptiness::Blank ? "blank" : "content";
        const bool counts = counted == "1";
        if (found != want && counts) ++wrong;
        std::printf("| %s | %s%s | %s%s | %.2f | %d,%d,%d | %d | %.1f | %d | %d | %.2f | %s |\n", name.c_str(),
                    found.c_str(), found == want ? "" : " WRONG", want.c_str(), counts ? "" : " (advisory)",
                    100 * small.blank->inkShare(), f.paper[0], f.paper[1], f.paper[2], f.marks, f.markMm,
                    f.markDarkness, f.setAside, f.stainShare, unsure ? "?" : "");
    }
    std::printf("%d wrong\n", wrong);
    return wrong ? 1 : 0;
}
