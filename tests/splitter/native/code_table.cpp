// Code sheets (splitter/src/sheet_codes.*, code_reader.cpp) on a table of A4
// pages drawn here at the closer look's resolution as a scanner gives them
// (off-white paper, grey ink, noise, a code turned or skewed; zxing-cpp's own
// writer makes each code): what readSheetCode reads of each, and whether
// CodeCandidate lets the same page at 1/8 scale through, and where it stops
// on a page of text. Prints one line per wrong answer; exits non-zero on any.
// With an argument N: readSheetCode's milliseconds per code page, over N rounds.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include "detect.h"
#include "sheet_codes.h"

namespace {

using ZXing::BarcodeFormat;
constexpr double kDpi = orvane::kCodeDpi, kPageCm[2] = {21.0, 29.7};

struct Code {
    BarcodeFormat format;
    const char* text;  // UTF-8
    double widthCm, heightCm, x, y, degrees;  // height 0: as the code's modules; centre (x, y) in cm
};
struct Case {
    const char* name;
    std::vector<Code> codes;
    int text;            // 1: lines of print from 2.5 cm down; 2: from 5 cm, under a black title bar
    const char* read;    // what readSheetCode gives; nullptr: nothing
    bool candidate;
};

std::wstring wide(const char* utf8) {  // the writer's input (the UTF-8 sequences of the table only)
    std::wstring out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8); *p;) {
        int n = *p < 0x80 ? 0 : *p < 0xE0 ? 1 : 2;
        wchar_t c = n ? *p++ & (0x3F >> n) : *p++;
        for (; n; --n) c = static_cast<wchar_t>(c << 6 | (*p++ & 0x3F));
        out += c;
    }
    return out;
}

orvane::Picture page(const Case& c, unsigned seed) {
    orvane::Picture pic;
    pic.width = static_cast<int>(kPageCm[0] / 2.54 * kDpi);
    pic.height = static_cast<int>(kPageCm[1] / 2.54 * kDpi);
    pic.dpi = kDpi;
    std::vector<float> ink(static_cast<std::size_t>(pic.width) * pic.height, 0.f);
    const double px = kDpi / 2.54;
    if (c.text == 2)
        for (int y = int(2.4 * px); y < int(3.6 * px); ++y)
            for (int x = int(2.5 * px); x < int(10.5 * px); ++x) ink[static_cast<std::size_t>(y) * pic.width + x] = 1.f;
    if (c.text)  // grey bars at the line pitch of 11-point print
        for (double y = 2.5 * c.text; y < 27; y += 0.5)
            for (int yy = int(y * px); yy < int((y + 0.2) * px); ++yy)
                for (int x = int(2.5 * px); x < int((16 + std::fmod(y * 7, 3)) * px); ++x)
                    ink[static_cast<std::size_t>(yy) * pic.width + x] = (x / 9) % 6 ? 0.8f : 0.f;
    for (const Code& code : c.codes) {
        ZXing::MultiFormatWriter writer(code.format);
        writer.setMargin(0).setEncoding(ZXing::CharacterSet::UTF8);
        const ZXing::BitMatrix m = writer.encode(wide(code.text), 0, 0);
        const double w = code.widthCm * px, h = (code.heightCm ? code.heightCm : code.widthCm * m.height() / m.width()) * px;
        const double cs = std::cos(code.degrees * M_PI / 180), sn = std::sin(code.degrees * M_PI / 180);
        for (int y = 0; y < pic.height; ++y)
            for (int x = 0; x < pic.width; ++x) {
                float sum = 0;  // 2 x 2 samples a pixel: edges as soft as a scan's
                for (int s = 0; s < 4; ++s) {
                    const double dx = x + 0.25 + 0.5 * (s & 1) - code.x * px, dy = y + 0.25 + 0.5 * (s >> 1) - code.y * px;
                    const double u = (cs * dx + sn * dy) / w + 0.5, v = (-sn * dx + cs * dy) / h + 0.5;
                    if (u >= 0 && u < 1 && v >= 0 && v < 1)
                        sum += m.get(int(u * m.width()), m.height() == 1 ? 0 : int(v * m.height())) ? 0.25f : 0.f;
                }
                float& i = ink[static_cast<std::size_t>(y) * pic.width + x];
                i = std::max(i, sum);
            }
    }
    pic.rgb.resize(ink.size() * 3);
    const int paper[3] = {245, 242, 234};
    for (std::size_t i = 0; i < ink.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        const int noise = static_cast<int>(seed >> 16) % 13 - 6;
        for (int k = 0; k < 3; ++k)
            pic.rgb[i * 3 + k] = static_cast<std::uint8_t>(std::clamp(int(paper[k] - ink[i] * (paper[k] - 35)) + noise, 0, 255));
    }
    return pic;
}

// The page at 1/8 scale fed to a candidate; the rows it read (its height when it never stopped).
std::pair<bool, int> candidate(const orvane::Picture& pic, int& judgeRows) {
    const int w = pic.width / 8, h = pic.height / 8;
    std::vector<std::uint8_t> small(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k) {
                int sum = 0;
                for (int j = 0; j < 64; ++j) sum += pic.row(y * 8 + j / 8)[(x * 8 + j % 8) * 3 + k];
                small[(static_cast<std::size_t>(y) * w + x) * 3 + k] = static_cast<std::uint8_t>(sum / 64);
            }
    judgeRows = orvane::judgePage(small.data(), w, h, w * 3, orvane::kDefaultThreshold).rowsRead;
    orvane::CodeCandidate cand(w, h);
    int y = 0;
    while (y < h && cand.addRow(y, small.data() + static_cast<std::size_t>(y) * w * 3)) ++y;
    return {cand.finish().has_value(), std::min(y + 1, h)};
}

const char* const kEpc = "BCD\n002\n1\nSCT\nBANKDEFFXXX\nOffice Supplies\nDE89370400440532013000\nEUR123.40";
const Case kCases[] = {
    {"QR, PATCHT", {{BarcodeFormat::QRCode, "PATCHT", 4, 0, 10.5, 14, 0}}, 0, "PATCHT", true},
    {"QR 12 cm across", {{BarcodeFormat::QRCode, "PATCHT", 12, 0, 10.5, 14, 0}}, 0, "PATCHT", true},
    {"Code 39, PATCHT, large", {{BarcodeFormat::Code39, "PATCHT", 16, 3, 10.5, 14, 0}}, 0, "PATCHT", true},
    {"Code 39 upside down", {{BarcodeFormat::Code39, "PATCHT", 10, 2.5, 10.5, 14, 180}}, 0, "PATCHT", true},
    {"Code 39 skewed 3 degrees", {{BarcodeFormat::Code39, "PATCHT", 10, 2.5, 10.5, 14, 3}}, 0, "PATCHT", true},
    {"QR upside down, skewed", {{BarcodeFormat::QRCode, "PATCHT:Contract 7", 4, 0, 8, 12, 183}}, 0,
     "PATCHT:Contract 7", true},
    {"small corner QR", {{BarcodeFormat::QRCode, "PATCHT", 1.5, 0, 19, 1.6, 0}}, 0, "PATCHT", true},
    {"Code 128, a name", {{BarcodeFormat::Code128, "PATCHT:Invoices 2026", 9, 2, 10.5, 10, 0}}, 0,
     "PATCHT:Invoices 2026", true},
    {"Data Matrix", {{BarcodeFormat::DataMatrix, "PATCHT:A-1", 3, 0, 10.5, 20, 0}}, 0, "PATCHT:A-1", true},
    {"Chinese QR", {{BarcodeFormat::QRCode, "PATCHT:合同-7", 4, 0, 10.5, 14, 0}}, 0, "PATCHT:合同-7", true},
    {"PATCHTX is content", {{BarcodeFormat::QRCode, "PATCHTX", 4, 0, 10.5, 14, 0}}, 0, nullptr, true},
    {"blank page", {}, 0, nullptr, false},
    {"text page", {}, 1, nullptr, false},
    {"text page with a title bar", {}, 2, nullptr, false},
    {"invoice with a payment QR", {{BarcodeFormat::QRCode, kEpc, 3.5, 0, 15, 24, 0}}, 1, nullptr, false},
    {"label with a tracking code", {{BarcodeFormat::Code128, "1Z999AA10123456784", 9, 2, 10.5, 26, 0}}, 1,
     nullptr, false},
};

}  // namespace

int main(int argc, char** argv) {
    int failed = 0, checked = 0;
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 0;
    double ms = 0;
    int timed = 0;
    for (const Case& c : kCases) {
        const orvane::Picture pic = page(c, 7);
        const auto t0 = std::chrono::steady_clock::now();
        const std::optional<std::string> read = orvane::readSheetCode(pic);
        for (int r = 1; r < rounds; ++r) orvane::readSheetCode(pic);
        if (rounds && c.read) {
            ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / rounds;
            ++timed;
        }
        int judgeRows = 0;
        const auto [cand, rows] = candidate(pic, judgeRows);
        const bool readOk = c.read ? read && *read == c.read : !read;
        // On a page of text the candidate gives up within a few lines of where the colour rule does.
        const bool early = !c.text || rows <= judgeRows + pic.height / 8 / 16;
        if (rounds && c.text) std::printf("%s: candidate read %d rows, the colour rule %d\n", c.name, rows, judgeRows);
        ++checked;
        if (!readOk || cand != c.candidate || !early)
            failed += std::printf("FAILED: %s: read \"%s\", candidate %d after %d rows (colour rule %d)\n", c.name,
                                  read ? read->c_str() : "", cand, rows, judgeRows) > 0;
    }
    if (rounds) std::printf("readSheetCode: %.1f ms a code page (%d pages, %d rounds)\n", ms / timed, timed, rounds);
    std::printf("%d of %d pages wrong\n", failed, checked);
    return failed;
}
