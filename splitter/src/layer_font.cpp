#include "layer_font.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include <qpdf/Pl_Flate.hh>
#include <qpdf/Pl_String.hh>

namespace orvane {

namespace {

const char* const kFontName = "/OrvaneInvisible";

// The code ranges written one em wide: Hangul jamo, the CJK radicals to Yi
// (punctuation, kana, ideographs), Hangul syllables, compatibility
// ideographs, CJK compatibility forms, the full-width forms; and the codes
// that stand for characters beyond the Basic Multilingual Plane.
const std::pair<std::uint16_t, std::uint16_t> kWide[] = {
    {0x1100, 0x115F}, {0x2E80, 0xA4CF}, {0xAC00, 0xD7A3}, {0xD800, 0xDFFF}, {0xF900, 0xFAFF},
    {0xFE30, 0xFE4F}, {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6},
};

void put16(std::string& out, unsigned v) {
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}

std::uint32_t checksum(const std::string& data) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < data.size(); i += 4) {
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 4; ++k)
            word = (word << 8) | (i + k < data.size() ? static_cast<unsigned char>(data[i + k]) : 0U);
        sum += word;
    }
    return sum;
}

std::string headTable() {
    std::string t;
    put32(t, 0x00010000);  // version
    put32(t, 0x00010000);  // font revision
    put32(t, 0);           // checksum adjustment, set once the whole font is known
    put32(t, 0x5F0F3CF5);  // magic
    put16(t, 0x000B);      // baseline and left side bearing at 0, integer sizes
    put16(t, 1000);        // units per em
    put32(t, 0), put32(t, 0), put32(t, 0), put32(t, 0);  // created, modified: none
    put16(t, 0), put16(t, 0xFF38), put16(t, 1000), put16(t, 800);  // bounding box 0 -200 1000 800
    put16(t, 0);  // style
    put16(t, 8);  // smallest readable size
    put16(t, 2);  // direction hint
    put16(t, 0);  // short loca offsets
    put16(t, 0);  // glyph data format
    return t;
}

std::string hheaTable() {
    std::string t;
    put32(t, 0x00010000);
    put16(t, 800), put16(t, 0xFF38), put16(t, 0);  // ascender, descender, line gap
    put16(t, 1000);                                 // widest advance
    put16(t, 0), put16(t, 0), put16(t, 0);          // bearings, extent
    put16(t, 1), put16(t, 0), put16(t, 0);          // caret: upright
    for (int i = 0; i < 4; ++i) put16(t, 0);
    put16(t, 0);  // metric data format
    put16(t, 2);  // horizontal metrics: both glyphs
    return t;
}

std::string maxpTable() {
    std::string t;
    put32(t, 0x00010000);
    put16(t, 2);  // glyphs
    for (int i = 0; i < 4; ++i) put16(t, 0);  // points, contours, composite points and contours
    put16(t, 2);  // zones
    for (int i = 0; i < 8; ++i) put16(t, 0);  // twilight points ... component depth
    return t;
}

std::string cmapTable() {
    // One format 4 subtable (Windows, Unicode BMP) holding only the closing
    // segment: no character has a glyph of its own; PDF's CIDToGIDMap says
    // which glyph a code uses.
    std::string t;
    put16(t, 0), put16(t, 1);
    put16(t, 3), put16(t, 1), put32(t, 12);
    put16(t, 4), put16(t, 24), put16(t, 0);  // format, length, language
    put16(t, 2), put16(t, 2), put16(t, 0), put16(t, 0);  // one segment
    put16(t, 0xFFFF), put16(t, 0), put16(t, 0xFFFF), put16(t, 1), put16(t, 0);
    return t;
}

std::string postTable() {
    std::string t;
    put32(t, 0x00030000);  // no glyph names
    put32(t, 0);           // upright
    put16(t, 0xFF9C), put16(t, 50);  // underline
    for (int i = 0; i < 5; ++i) put32(t, 0);
    return t;
}

}  // namespace

std::string glyphlessTrueType() {
    std::string hmtx, loca;
    for (int glyph = 0; glyph < 2; ++glyph) put16(hmtx, 500), put16(hmtx, 0);
    for (int offset = 0; offset < 3; ++offset) put16(loca, 0);  // both glyphs empty
    // Tables in the order of their tags, as the directory wants them. The
    // glyph data holds only padding: an empty glyph has no bytes at all.
    const std::vector<std::pair<const char*, std::string>> tables = {
        {"cmap", cmapTable()}, {"glyf", std::string(4, '\0')}, {"head", headTable()}, {"hhea", hheaTable()},
        {"hmtx", hmtx},        {"loca", loca},                 {"maxp", maxpTable()}, {"post", postTable()},
    };
    const unsigned count = static_cast<unsigned>(tables.size());
    unsigned power = 1, log = 0;
    while (power * 2 <= count) power *= 2, ++log;
    std::string font;
    put32(font, 0x00010000);
    put16(font, count), put16(font, power * 16), put16(font, log), put16(font, count * 16 - power * 16);
    std::string body;
    std::size_t headAt = 0;
    const std::size_t start = 12 + 16 * tables.size();
    for (const auto& [tag, data] : tables) {
        if (std::string(tag) == "head") headAt = start + body.size();
        font.append(tag, 4);
        put32(font, checksum(data));
        put32(font, static_cast<std::uint32_t>(start + body.size()));
        put32(font, static_cast<std::uint32_t>(data.size()));
        body += data;
        body.append((4 - data.size() % 4) % 4, '\0');
    }
    font += body;
    std::string adjustment;
    put32(adjustment, 0xB1B0AFBA - checksum(font));
    font.replace(headAt + 8, 4, adjustment);
    return font;
}

int layerAdvance(std::uint16_t code) {
    for (const auto& [first, last] : kWide)
        if (code >= first && code <= last) return 1000;
    return 500;
}

QPDFObjectHandle flateStream(QPDF& pdf, const std::string& data) {
    std::string packed;
    Pl_String sink("layer stream", nullptr, packed);
    Pl_Flate flate("layer flate", &sink, Pl_Flate::a_deflate);
    flate.write(reinterpret_cast<const unsigned char*>(data.data()), data.size());
    flate.finish();
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf);
    stream.replaceStreamData(packed, QPDFObjectHandle::newName("/FlateDecode"), QPDFObjectHandle::newNull());
    return stream;
}

namespace {

// Each code to the same UTF-16 unit, in ranges that stay within one high
// byte (a range may only vary in its last byte), at most 100 to a block;
// the surrogate codes to the characters beyond the plane they stand for.
std::string toUnicodeMap(const std::vector<char32_t>& beyond) {
    std::string map =
        "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    char line[40];
    std::vector<std::string> ranges, chars;
    for (int high = 0; high < 256; ++high) {
        if (high >= 0xD8 && high <= 0xDF) continue;
        std::snprintf(line, sizeof line, "<%02X00> <%02XFF> <%02X00>\n", high, high, high);
        ranges.push_back(line);
    }
    for (std::size_t i = 0; i < beyond.size(); ++i) {
        const char32_t c = beyond[i] - 0x10000;
        std::snprintf(line, sizeof line, "<%04X> <%04X%04X>\n", static_cast<unsigned>(0xD800 + i),
                      static_cast<unsigned>(0xD800 + (c >> 10)), static_cast<unsigned>(0xDC00 + (c & 0x3FF)));
        chars.push_back(line);
    }
    for (const auto& [entries, kind] : {std::make_pair(&ranges, "bfrange"), std::make_pair(&chars, "bfchar")}) {
        for (std::size_t i = 0; i < entries->size(); i += 100) {
            const std::size_t n = std::min<std::size_t>(100, entries->size() - i);
            map += std::to_string(n) + " begin" + kind + "\n";
            for (std::size_t k = i; k < i + n; ++k) map += (*entries)[k];
            map += std::string("end") + kind + "\n";
        }
    }
    return map + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
}

}  // namespace

QPDFObjectHandle makeLayerFont(QPDF& pdf) {
    const std::string program = glyphlessTrueType();
    QPDFObjectHandle file = QPDFObjectHandle::newStream(&pdf, program);
    file.getDict().replaceKey("/Length1", QPDFObjectHandle::newInteger(static_cast<long long>(program.size())));

    QPDFObjectHandle descriptor = QPDFObjectHandle::parse(
        "<< /Type /FontDescriptor /Flags 5 /FontBBox [0 -200 1000 800] /ItalicAngle 0"
        " /Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 >>");
    descriptor.replaceKey("/FontName", QPDFObjectHandle::newName(kFontName));
    descriptor.replaceKey("/FontFile2", file);

    // Every code draws glyph 1 (empty): two bytes a code.
    std::string toGlyph;
    for (int code = 0; code < 0x10000; ++code) toGlyph += std::string("\0\1", 2);
    QPDFObjectHandle widths = QPDFObjectHandle::newArray();
    for (const auto& [first, last] : kWide) {
        widths.appendItem(QPDFObjectHandle::newInteger(first));
        widths.appendItem(QPDFObjectHandle::newInteger(last));
        widths.appendItem(QPDFObjectHandle::newInteger(1000));
    }
    QPDFObjectHandle cidFont = QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /CIDFontType2"
        " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /DW 500 >>");
    cidFont.replaceKey("/BaseFont", QPDFObjectHandle::newName(kFontName));
    cidFont.replaceKey("/FontDescriptor", pdf.makeIndirectObject(descriptor));
    cidFont.replaceKey("/W", widths);
    cidFont.replaceKey("/CIDToGIDMap", flateStream(pdf, toGlyph));

    QPDFObjectHandle font = QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type0 /Encoding /Identity-H >>");
    font.replaceKey("/BaseFont", QPDFObjectHandle::newName(kFontName));
    font.replaceKey("/DescendantFonts", QPDFObjectHandle::newArray({pdf.makeIndirectObject(cidFont)}));
    font.replaceKey("/ToUnicode", flateStream(pdf, toUnicodeMap({})));
    return pdf.makeIndirectObject(font);
}

void mapBeyondPlane(QPDF& pdf, QPDFObjectHandle font, const std::vector<char32_t>& beyond) {
    font.replaceKey("/ToUnicode", flateStream(pdf, toUnicodeMap(beyond)));
}

std::uint16_t layerCode(char32_t c, std::vector<char32_t>& beyond) {
    if (c < 0x10000) return static_cast<std::uint16_t>(c);
    std::size_t i = 0;
    while (i < beyond.size() && beyond[i] != c) ++i;
    if (i == beyond.size()) {
        if (i == 0x800) return 0xFFFD;
        beyond.push_back(c);
    }
    return static_cast<std::uint16_t>(0xD800 + i);
}

}  // namespace orvane
