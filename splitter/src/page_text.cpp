#include "page_text.h"

#include "byte_wire.h"

namespace orvane {

namespace {

void putBox(std::string& out, const TextBox& box) {
    for (int n : {box.left, box.top, box.right, box.bottom}) put(out, static_cast<std::int32_t>(n));
}

TextBox takeBox(const std::string& in, std::size_t& at) {
    TextBox box;
    for (int* n : {&box.left, &box.top, &box.right, &box.bottom}) *n = take<std::int32_t>(in, at);
    return box;
}

// A count read from the bytes, believed only as far as the bytes left could
// hold that many items of at least `least` bytes each: a broken count must
// not make a huge allocation.
bool takeCount(const std::string& in, std::size_t& at, std::size_t least, std::uint32_t& count) {
    count = take<std::uint32_t>(in, at);
    return at <= in.size() && count <= (in.size() - at) / least;
}

constexpr std::size_t kBoxBytes = 4 * sizeof(std::int32_t);
constexpr std::size_t kLeastWord = kBoxBytes + sizeof(std::uint32_t) + 1;
constexpr std::size_t kLeastLine = kBoxBytes + 1 + sizeof(std::uint32_t);

}  // namespace

std::string encodePageText(const PageText& text) {
    std::string out;
    put(out, static_cast<std::int32_t>(text.width));
    put(out, static_cast<std::int32_t>(text.height));
    for (double m : text.toPage) put(out, m);
    put(out, static_cast<std::uint32_t>(text.lines.size()));
    for (const TextLine& line : text.lines) {
        putBox(out, line.box);
        put(out, static_cast<std::uint8_t>(line.turn));
        put(out, static_cast<std::uint32_t>(line.words.size()));
        for (const TextWord& word : line.words) {
            putBox(out, word.box);
            put(out, static_cast<std::uint32_t>(word.text.size()));
            out += word.text;
        }
    }
    return out;
}

bool decodePageText(const std::string& bytes, PageText& text) {
    std::size_t at = 0;
    PageText got;
    got.width = take<std::int32_t>(bytes, at);
    got.height = take<std::int32_t>(bytes, at);
    for (double& m : got.toPage) m = take<double>(bytes, at);
    std::uint32_t lines = 0;
    if (!takeCount(bytes, at, kLeastLine, lines)) return false;
    got.lines.resize(lines);
    for (TextLine& line : got.lines) {
        line.box = takeBox(bytes, at);
        const std::uint8_t turn = take<std::uint8_t>(bytes, at);
        std::uint32_t words = 0;
        if (turn > static_cast<std::uint8_t>(TextTurn::Left) || !takeCount(bytes, at, kLeastWord, words)) return false;
        line.turn = static_cast<TextTurn>(turn);
        line.words.resize(words);
        for (TextWord& word : line.words) {
            word.box = takeBox(bytes, at);
            const std::uint32_t size = take<std::uint32_t>(bytes, at);
            if (at > bytes.size() || size == 0 || size > bytes.size() - at) return false;
            word.text = bytes.substr(at, size);
            at += size;
        }
    }
    if (at != bytes.size()) return false;
    text = std::move(got);
    return true;
}

}  // namespace orvane
