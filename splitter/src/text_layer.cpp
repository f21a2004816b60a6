#include "text_layer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "layer_font.h"

namespace orvane {

namespace {

// ------------------------------------------------------------------ characters

std::vector<char32_t> codePoints(const std::string& utf8) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
        char32_t c = extra == 0 ? lead : extra == 1 ? (lead & 0x1F) : extra == 2 ? (lead & 0x0F) : (lead & 0x07);
        bool good = extra >= 0 && i + static_cast<std::size_t>(extra) < utf8.size();
        for (int k = 1; good && k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
            good = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!good || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(c);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

bool within(char32_t c, char32_t first, char32_t last) { return c >= first && c <= last; }

// Characters of scripts written without spaces between words: Han
// ideographs (with radicals and the supplementary planes) and kana.
bool ideographic(char32_t c) {
    return within(c, 0x2E80, 0x2FDF) || within(c, 0x3040, 0x30FF) || within(c, 0x31F0, 0x31FF) ||
           within(c, 0x3400, 0x4DBF) || within(c, 0x4E00, 0x9FFF) || within(c, 0xF900, 0xFAFF) ||
           within(c, 0x20000, 0x3FFFF);
}

// Full-width punctuation: it carries its own spacing, so no space ever
// stands beside it.
bool fullWidth(char32_t c) {
    return within(c, 0x3000, 0x303F) || within(c, 0xFF00, 0xFFEF) || within(c, 0xFE10, 0xFE1F) ||
           within(c, 0xFE30, 0xFE4F);
}

// Punctuation that Chinese shares with other scripts: quotation marks,
// dashes, the ellipsis and the middle dot, tight only beside ideographs.
bool sharedPunctuation(char32_t c) {
    return c == 0x00B7 || within(c, 0x2014, 0x2015) || within(c, 0x2018, 0x2019) || within(c, 0x201C, 0x201D) ||
           c == 0x2026;
}

// Whether two of the recogniser's words meet without a space: the last
// character of one against the first of the next.
bool tight(char32_t before, char32_t after) {
    if (fullWidth(before) || fullWidth(after)) return true;
    const auto joins = [](char32_t c) { return ideographic(c) || sharedPunctuation(c); };
    return (ideographic(before) && joins(after)) || (ideographic(after) && joins(before));
}

// ------------------------------------------------------------------ geometry

// A line's own frame in picture pixels: u along the reading direction from
// the line's start, v from the line's bottom edge toward the top of its
// letters. P = origin + u * read + v * up.
struct Frame {
    double origin[2], read[2], up[2];
    double thickness;
};

Frame frameOf(const TextLine& line) {
    const TextBox& b = line.box;
    const double w = b.right - b.left, h = b.bottom - b.top;
    switch (line.turn) {
        case TextTurn::Right: return {{double(b.left), double(b.top)}, {0, 1}, {1, 0}, w};
        case TextTurn::Down: return {{double(b.right), double(b.top)}, {-1, 0}, {0, 1}, h};
        case TextTurn::Left: return {{double(b.right), double(b.bottom)}, {0, -1}, {-1, 0}, w};
        case TextTurn::Up: break;
    }
    return {{double(b.left), double(b.bottom)}, {1, 0}, {0, -1}, h};
}

// Where a word's box begins and ends along its line's reading direction.
void alongLine(const TextLine& line, const TextBox& box, double& start, double& end) {
    const TextBox& l = line.box;
    switch (line.turn) {
        case TextTurn::Right: start = box.top - l.top, end = box.bottom - l.top; return;
        case TextTurn::Down: start = l.right - box.right, end = l.right - box.left; return;
        case TextTurn::Left: start = l.bottom - box.bottom, end = l.bottom - box.top; return;
        case TextTurn::Up: break;
    }
    start = box.left - l.left, end = box.right - l.left;
}

using Matrix = std::array<double, 6>;

// The matrix of applying `a`, then `b` (PDF's row-vector convention).
Matrix times(const Matrix& a, const Matrix& b) {
    return {a[0] * b[0] + a[1] * b[2],        a[0] * b[1] + a[1] * b[3],
            a[2] * b[0] + a[3] * b[2],        a[2] * b[1] + a[3] * b[3],
            a[4] * b[0] + a[5] * b[2] + b[4], a[4] * b[1] + a[5] * b[3] + b[5]};
}

// ------------------------------------------------------------------ writing

// Text written in one go: words that run on without a break, and the space
// after them when the next word stands apart.
struct Run {
    std::u16string codes;
    double start = 0, end = 0;  // along the line, in pixels
};

std::vector<Run> runsOf(const TextLine& line, std::vector<char32_t>& beyond) {
    std::vector<Run> runs;
    char32_t last = 0;
    for (const TextWord& word : line.words) {
        std::vector<char32_t> chars = codePoints(word.text);
        // Breaks are the layer's to write: none kept from inside a word.
        chars.erase(std::remove_if(chars.begin(), chars.end(), [](char32_t c) { return c <= 0x20 || c == 0x7F; }),
                    chars.end());
        if (chars.empty()) continue;
        double start = 0, end = 0;
        alongLine(line, word.box, start, end);
        if (runs.empty() || !tight(last, chars.front())) {
            if (!runs.empty()) runs.back().codes += u' ';
            runs.push_back(Run{{}, start, end});
        }
        for (char32_t c : chars) runs.back().codes += static_cast<char16_t>(layerCode(c, beyond));
        runs.back().end = std::max(runs.back().end, end);
        last = chars.back();
    }
    // A run and its space reach to where the next run begins: no gap is left
    // between them for a reader to take as a second break. (Boxes out of
    // order, as the recogniser sometimes gives them, keep their own ends.)
    for (std::size_t i = 0; i + 1 < runs.size(); ++i)
        if (runs[i + 1].start > runs[i].start) runs[i].end = runs[i + 1].start;
    return runs;
}

// A number as the content wants it: fixed, at most five decimals, no
// exponent, never "-0", and a point whatever the locale: the same value
// always gives the same text.
std::string number(double v) {
    const long long scaled = std::isfinite(v) ? std::llround(std::clamp(v, -1e12, 1e12) * 100000) : 0;
    const unsigned long long magnitude = static_cast<unsigned long long>(scaled < 0 ? -scaled : scaled);
    std::string out = std::to_string(magnitude / 100000);
    std::string fraction = std::to_string(100000 + magnitude % 100000).substr(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    if (!fraction.empty()) out += "." + fraction;
    return scaled < 0 ? "-" + out : out;
}

std::string hex(const std::u16string& codes) {
    std::string out = "<";
    char unit[8];
    for (char16_t c : codes) {
        std::snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(c));
        out += unit;
    }
    return out + ">";
}

// A line's runs: each placed at its start, stretched along the line (Tz) to
// reach its end, in the font size of the page's usual line (`usual`) when
// the line is about as thick: readers gather lines of one size into
// paragraphs and keep their order, where lines of sizes a few pixels apart
// stand each alone and come out in an order of the reader's own (poppler
// reverses them on pages turned left).
void writeLine(const TextLine& line, double usual, const Matrix& toPage, const std::string& fontName,
               std::vector<char32_t>& beyond, std::string& ops) {
    const Frame frame = frameOf(line);
    if (frame.thickness <= 0) return;
    const double size = std::abs(frame.thickness - usual) <= 0.25 * usual ? usual : frame.thickness;
    const std::vector<Run> runs = runsOf(line, beyond);
    if (runs.empty()) return;
    const Matrix local = {frame.read[0], frame.read[1], frame.up[0], frame.up[1], frame.origin[0], frame.origin[1]};
    const Matrix lineToPage = times(local, toPage);
    // The font's descent is a fifth of its size: its letters centred on the
    // line, from its bottom edge to its top when the size is its thickness.
    const double baseline = 0.5 * frame.thickness - 0.3 * size;
    ops += fontName + " " + number(size) + " Tf\n";
    for (const Run& run : runs) {
        double natural = 0;
        for (char16_t c : run.codes) natural += layerAdvance(c) / 1000.0 * size;
        const double span = std::max(run.end - run.start, 1.0);
        const Matrix m = times({1, 0, 0, 1, run.start, baseline}, lineToPage);
        for (double v : m) ops += number(v) + " ";
        ops += "Tm " + number(100.0 * span / natural) + " Tz " + hex(run.codes) + " Tj\n";
    }
}

// The nesting the page's own content leaves: how far below its start its
// Q operators reach, where it ends, and whether a text object stays open.
class Nesting : public QPDFObjectHandle::ParserCallbacks {
public:
    int depth = 0, lowest = 0;
    bool inText = false;
    void handleObject(QPDFObjectHandle object) override {
        if (!object.isOperator()) return;
        const std::string op = object.getOperatorValue();
        if (op == "q") ++depth;
        if (op == "Q") lowest = std::min(lowest, --depth);
        if (op == "BT") inText = true;
        if (op == "ET") inText = false;
    }
    void handleEOF() override {}
};

// The operators that write `text` in the font resource `fontName`, as one
// text object; empty when the text has nothing to place.
std::string textLayerOperators(const PageText& text, const std::string& fontName, std::vector<char32_t>& beyond) {
    const Matrix toPage = {text.toPage[0], text.toPage[1], text.toPage[2],
                           text.toPage[3], text.toPage[4], text.toPage[5]};
    // A matrix that flattens the page (or is no number at all) places nothing.
    if (!(std::abs(toPage[0] * toPage[3] - toPage[1] * toPage[2]) > 0)) return std::string();
    std::vector<double> thickness;
    for (const TextLine& line : text.lines) thickness.push_back(frameOf(line).thickness);
    if (thickness.empty()) return std::string();
    std::nth_element(thickness.begin(), thickness.begin() + thickness.size() / 2, thickness.end());
    const double usual = thickness[thickness.size() / 2];
    std::string lines;
    for (const TextLine& line : text.lines) writeLine(line, usual, toPage, fontName, beyond, lines);
    return lines.empty() ? lines : "BT\n3 Tr\n" + lines + "ET\n";
}

}  // namespace

void TextLayer::lay(QPDFPageObjectHelper page, const PageText& text) {
    QPDFObjectHandle pageObject = page.getObjectHandle();
    QPDFObjectHandle resources = pageObject.getKey("/Resources");
    resources = resources.isDictionary() ? resources.shallowCopy() : QPDFObjectHandle::newDictionary();
    QPDFObjectHandle fonts = resources.getKey("/Font");
    fonts = fonts.isDictionary() ? fonts.shallowCopy() : QPDFObjectHandle::newDictionary();
    std::string name = "/OrvaneText";
    for (int n = 1; fonts.hasKey(name); ++n) name = "/OrvaneText" + std::to_string(n);
    const std::string ops = textLayerOperators(text, name, beyond_);
    if (ops.empty()) return;

    if (!font_.isInitialized()) {
        font_ = makeLayerFont(out_);
        save_ = QPDFObjectHandle::newStream(&out_, "q\n");
    }
    fonts.replaceKey(name, font_);
    resources.replaceKey("/Font", fonts);
    pageObject.replaceKey("/Resources", resources);

    // Content that qpdf reads only with warnings (a bad token: an
    // unterminated string would swallow what follows) counts as unreadable.
    Nesting nesting;
    const std::size_t warnings = out_.numWarnings();
    bool sound = true;
    try {
        page.parseContents(&nesting);
    } catch (const std::exception&) {
        sound = false;
    }
    sound = sound && out_.numWarnings() == warnings;
    QPDFObjectHandle contents = QPDFObjectHandle::newArray();
    for (QPDFObjectHandle stream : page.getPageContents()) contents.appendItem(stream);
    if (sound && nesting.lowest == 0 && !nesting.inText) {
        // The usual page: a q before its content, and the layer begins by
        // undoing what the content left open, back to the page's start.
        contents.insertItem(0, save_);
        std::string restore;
        for (int i = 0; i <= nesting.depth; ++i) restore += "Q\n";
        contents.appendItem(flateStream(out_, restore + ops));
    } else {
        // Content that restores more than it saved (a q of ours would change
        // what it draws), or that cannot be read: the layer goes first, in
        // the page's initial state, and the content follows as it was.
        contents.insertItem(0, flateStream(out_, "q\n" + ops + "Q\n"));
    }
    pageObject.replaceKey("/Contents", contents);
}

void TextLayer::finish() {
    if (!beyond_.empty()) mapBeyondPlane(out_, font_, beyond_);
}

}  // namespace orvane
