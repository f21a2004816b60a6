#include "names.h"

#include <cctype>
#include <cstdio>
#include <utility>

namespace orvane {

namespace {

// One part of a template: literal text, or a field's name (without braces).
struct Part {
    bool field;
    std::string text;
};

const char* const kFields[] = {"batch", "n", "n:03", "code", "date"};

bool knownField(const std::string& name) {
    for (const char* f : kFields)
        if (name == f) return true;
    return false;
}

std::optional<std::string> splitTemplate(const std::string& text, std::vector<Part>& parts) {
    if (text.empty()) return std::string("the template is empty");
    std::string literal;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '}') return std::string("a '}' without its '{'");
        if (text[i] != '{') {
            literal += text[i];
            continue;
        }
        const std::size_t close = text.find_first_of("{}", i + 1);
        if (close == std::string::npos || text[close] != '}') return std::string("a '{' without its '}'");
        const std::string name = text.substr(i + 1, close - i - 1);
        if (!knownField(name))
            return "unknown field {" + name + "} (the fields: {batch} {n} {n:03} {code} {date})";
        if (!literal.empty()) parts.push_back(Part{false, std::move(literal)});
        literal.clear();
        parts.push_back(Part{true, name});
        i = close;
    }
    if (!literal.empty()) parts.push_back(Part{false, literal});
    return std::nullopt;
}

// The character at `i` (advanced past it), or nothing for a byte that starts no valid UTF-8
// sequence (an overlong form, a surrogate, past U+10FFFF), which is then passed by itself.
std::optional<char32_t> nextChar(const std::string& s, std::size_t& i) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    const int more = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (more == 0) {
        ++i;
        return b;
    }
    if (more < 0 || i + static_cast<std::size_t>(more) >= s.size()) {
        ++i;
        return std::nullopt;
    }
    char32_t c = b & (0x3F >> more);
    for (int k = 1; k <= more; ++k) {
        const unsigned char t = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((t & 0xC0) != 0x80) {
            ++i;
            return std::nullopt;
        }
        c = (c << 6) | (t & 0x3F);
    }
    static const char32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (c < least[more] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return std::nullopt;
    }
    i += static_cast<std::size_t>(more) + 1;
    return c;
}

std::size_t utf8Bytes(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }
std::size_t utf16Units(char32_t c) { return c < 0x10000 ? 1 : 2; }

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
        return;
    }
    const std::size_t n = utf8Bytes(c);
    static const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(lead[n] | (c >> (6 * (n - 1))));
    for (std::size_t k = n - 1; k-- > 0;) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
}

// What Windows refuses in a name, what a terminal or a file list would act on instead of showing
// (controls, and the direction overrides that make "gpj.exe" look like "exe.jpg").
bool unsafe(char32_t c) {
    static const std::u32string kRefused = U"<>:\"/\\|?*";
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || kRefused.find(c) != std::u32string::npos ||
           c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// CON, PRN, AUX, NUL, COM0-9, LPT0-9 (with the superscript digits Windows takes for digits too),
// CONIN$, CONOUT$: Windows opens the device for such a name, whatever extension follows.
bool reserved(const std::u32string& name) {
    std::u32string head = name.substr(0, name.find(U'.'));
    while (!head.empty() && head.back() == U' ') head.pop_back();
    std::string upper;
    for (char32_t c : head) {
        if (c == 0xB9 || c == 0xB2 || c == 0xB3) c = U'1';  // the digit's value does not matter here
        if (c > 0x7F) return false;
        upper += static_cast<char>(std::toupper(static_cast<int>(c)));
    }
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
        upper == "CONOUT$")
        return true;
    return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           std::isdigit(static_cast<unsigned char>(upper[3]));
}

void trimEnds(std::u32string& s) {
    while (!s.empty() && (s.back() == U' ' || s.back() == U'.')) s.pop_back();
    std::size_t lead = 0;
    while (lead < s.size() && s[lead] == U' ') ++lead;
    s.erase(0, lead);
}

}  // namespace

std::optional<std::string> templateProblem(const std::string& text) {
    std::vector<Part> parts;
    return splitTemplate(text, parts);
}

std::optional<std::string> fillTemplate(const std::string& text, const NameFields& fields) {
    std::vector<Part> parts;
    if (splitTemplate(text, parts)) return std::nullopt;
    std::string out;
    for (const Part& p : parts) {
        if (!p.field) {
            out += p.text;
        } else if (p.text == "batch") {
            if (fields.batch.empty()) return std::nullopt;
            out += fields.batch;
        } else if (p.text == "n" || p.text == "n:03") {
            std::string num = std::to_string(fields.n);
            if (p.text == "n:03" && num.size() < 3) num.insert(0, 3 - num.size(), '0');
            out += num;
        } else {
            const std::optional<std::string>& value = p.text == "code" ? fields.code : fields.date;
            if (!value || value->empty()) return std::nullopt;
            out += *value;
        }
    }
    return out;
}

std::string safeName(const std::string& text, const NameRoom& room, std::size_t reserve) {
    std::u32string name;
    for (std::size_t i = 0; i < text.size();) {
        const std::optional<char32_t> c = nextChar(text, i);
        name += c && !unsafe(*c) ? *c : U'_';
    }
    trimEnds(name);
    bool prefixed = false;
    for (;;) {
        // Cut to fit, then tidy the new end; a cut that leaves a device name needs its '_' too.
        std::size_t bytes = reserve, units = reserve, keep = 0;
        while (keep < name.size() && bytes + utf8Bytes(name[keep]) <= room.bytes &&
               units + utf16Units(name[keep]) <= room.units) {
            bytes += utf8Bytes(name[keep]);
            units += utf16Units(name[keep]);
            ++keep;
        }
        const bool cut = keep < name.size();
        name.resize(keep);
        trimEnds(name);
        if (!prefixed && reserved(name)) {
            name.insert(name.begin(), U'_');
            prefixed = true;
            continue;
        }
        if (!cut) break;
    }
    std::string out;
    for (char32_t c : name) appendUtf8(out, c);
    return out;
}

std::string foldCase(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t at = i;
        const std::optional<char32_t> got = nextChar(utf8, i);
        if (!got) {
            out.append(utf8, at, i - at);
            continue;
        }
        char32_t c = *got;
        if ((c >= U'a' && c <= U'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
            (c >= 0x430 && c <= 0x44F) || (c >= 0xFF41 && c <= 0xFF5A))
            c -= 0x20;
        else if (c >= 0x450 && c <= 0x45F)
            c -= 0x50;
        else if (c == 0xFF)
            c = 0x178;
        else if (c == 0x3C2)
            c = 0x3A3;
        else if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
            c &= ~char32_t(1);
        else if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && c % 2 == 0)
            c -= 1;
        appendUtf8(out, c);
    }
    return out;
}

FolderNames::FolderNames(const std::vector<std::string>& existing) {
    for (const std::string& name : existing) taken_.insert(foldCase(name));
}

std::string FolderNames::claim(const std::string& base, const NameRoom& room) {
    for (int k = 1;; ++k) {
        const std::string suffix = k == 1 ? std::string() : "_" + std::to_string(k);
        std::string name = safeName(base, room, suffix.size() + 4) + suffix + ".pdf";
        if (taken_.insert(foldCase(name)).second) return name;
    }
}

std::optional<std::string> pdfDate(const std::string& text) {
    std::size_t i = text.compare(0, 2, "D:") == 0 ? 2 : 0;
    auto number = [&](std::size_t digits, int fallback, int least, int most) -> std::optional<int> {
        if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) {
            if (digits == 4) return std::nullopt;  // the year is needed; month and day default to 1
            return fallback;
        }
        int v = 0;
        for (std::size_t k = 0; k < digits; ++k, ++i) {
            if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
            v = v * 10 + (text[i] - '0');
        }
        if (v < least || v > most) return std::nullopt;
        return v;
    };
    const std::optional<int> year = number(4, 0, 1, 9999), month = number(2, 1, 1, 12), day = number(2, 1, 1, 31);
    if (!year || !month || !day) return std::nullopt;
    char out[11];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d", *year, *month, *day);
    return std::string(out);
}

}  // namespace orvane
