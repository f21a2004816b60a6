// The text recognised on one page, as the recognition hands it to the text
// layer: lines of words with their boxes in the picture that was recognised,
// and where that picture lies on the page. Plain data, so that it crosses the
// helper's pipe and the workers unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

// A box in the recognised picture: pixels, origin at the picture's top-left
// corner, x to the right, y down; right and bottom exclusive.
struct TextBox {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// Which way the top of a line's letters points in the picture: Up for text
// read as the picture stands, Right when the page was scanned turned so that
// the text's top points to the picture's right, and so on.
enum class TextTurn : std::uint8_t { Up = 0, Right = 1, Down = 2, Left = 3 };

// One word as the recogniser gives it (UTF-8, never empty). In Chinese a
// word is often one character.
struct TextWord {
    std::string text;
    TextBox box;
};

struct TextLine {
    TextBox box;
    TextTurn turn = TextTurn::Up;
    std::vector<TextWord> words;  // in reading order
};

struct PageText {
    int width = 0, height = 0;  // the recognised picture's pixels
    // Picture pixels to the page's default user space (before /Rotate):
    // x' = a*x + c*y + e, y' = b*x + d*y + f, as {a, b, c, d, e, f}.
    double toPage[6] = {0, 0, 0, 0, 0, 0};
    std::vector<TextLine> lines;  // in reading order
};

// The helper's reply form of a page's text, and back. decodePageText is
// false on anything that is not exactly one encoded PageText.
std::string encodePageText(const PageText& text);
bool decodePageText(const std::string& bytes, PageText& text);

}  // namespace orvane
