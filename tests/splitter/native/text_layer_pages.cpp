// Writes documents with the invisible text layer (writer.*, text_layer.*,
// layer_font.*) over a real JPEG page, for test_splitter_text_layer.py to
// read back with poppler and qpdf. Usage: text_layer_pages JPEG WIDTH HEIGHT
// FOLDER. For each way a page's own content can leave its graphics state,
// FOLDER gets NAME-plain.pdf (written without texts, as the splitter always
// has), NAME-nulls.pdf (texts given, none for either page) and
// NAME-layer.pdf (page 1 upright lines, page 2 the page scanned sideways).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <qpdf/QPDFPageDocumentHelper.hh>

#include "writer.h"

using namespace orvane;

namespace {

// The picture is 850 x 1100 pixels; a line's words given by their text and
// their left (or, turned, top) edge, each `size` pixels long along the line.
TextLine line(TextTurn turn, int across, int size, const std::vector<std::pair<const char*, int>>& words) {
    TextLine out;
    out.turn = turn;
    for (const auto& [text, at] : words) {
        const int length = size * static_cast<int>(std::string(text).size() > 3 ? 2 : 1);
        TextWord word{text, {}};
        if (turn == TextTurn::Up) word.box = {at, across, at + length, across + size};
        else word.box = {across, at, across + size, at + length};  // turned right: read downward
        out.words.push_back(word);
    }
    const TextBox &first = out.words.front().box, &last = out.words.back().box;
    out.box = {first.left, first.top, last.right, last.bottom};
    return out;
}

PageText uprightPage() {
    PageText text;
    text.lines = {
        line(TextTurn::Up, 100, 40, {{"合", 100}, {"同", 145}, {"编", 190}, {"号", 235}, {"：", 280}, {"HT-2024", 330}}),
        line(TextTurn::Up, 160, 40, {{"本", 100}, {"合", 140}, {"同", 180}, {"自", 220}, {"签", 260}, {"订", 300},
                                     {"之", 340}, {"日", 380}, {"起", 420}, {"生", 460}, {"效", 500}, {"。", 540}}),
        line(TextTurn::Up, 220, 30, {{"Invoice", 100}, {"number", 190}, {"12345", 280}}),
        line(TextTurn::Up, 280, 40, {{"请", 100}, {"使用OCR识别", 145}, {"PDF", 250}, {"格式", 340},
                                     {"签订", 430}, {"“", 515}, {"合同", 545}, {"”", 630}}),
        line(TextTurn::Up, 340, 40, {{"𠀀𠀁", 100}, {"字", 190}}),
    };
    return text;
}

PageText sidewaysPage() {
    PageText text;
    text.lines = {
        line(TextTurn::Right, 700, 40, {{"合", 100}, {"同", 145}, {"生", 190}, {"效", 235}, {"。", 280}}),
        line(TextTurn::Right, 640, 30, {{"Turned", 100}, {"page", 190}}),
    };
    return text;
}

// A one-page source: the JPEG over the whole US Letter page, drawn by
// `content` (its /Im0).
void addPage(QPDF& pdf, const std::string& jpeg, int width, int height, const std::string& content) {
    QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf, jpeg);
    image.replaceDict(QPDFObjectHandle::parse("<< /Type /XObject /Subtype /Image /Width " + std::to_string(width) +
                                              " /Height " + std::to_string(height) +
                                              " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode >>"));
    QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>");
    page.replaceKey("/Resources", QPDFObjectHandle::parse("<< >>"));
    page.getKey("/Resources").replaceKey("/XObject", QPDFObjectHandle::newDictionary());
    page.getKey("/Resources").getKey("/XObject").replaceKey("/Im0", image);
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    const std::string jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int width = std::stoi(argv[2]), height = std::stoi(argv[3]);
    const std::string folder = argv[4];
    // Picture pixels onto the page the image fills.
    PageText upright = uprightPage(), sideways = sidewaysPage();
    for (PageText* text : {&upright, &sideways}) {
        text->width = width, text->height = height;
        const double toPage[6] = {612.0 / width, 0, 0, -792.0 / height, 0, 792};
        std::copy(toPage, toPage + 6, text->toPage);
    }
    const std::string draw = "612 0 0 792 0 0 cm /Im0 Do";
    const std::vector<std::pair<std::string, std::string>> contents = {
        {"balanced", "q " + draw + " Q"},
        // Leaves two q open (halved in the outer); restores more than it saved (a viewer ignores that Q: still halved).
        {"unclosed", "q 0.5 0 0 0.5 0 0 cm q 2 0 0 2 0 0 cm " + draw},
        {"restoring", "0.5 0 0 0.5 0 0 cm Q q 2 0 0 2 0 0 cm " + draw + " Q"},
        {"damaged", "q " + draw + " Q ( unterminated"},
    };
    for (const auto& [name, content] : contents) {
        QPDF source;
        source.emptyPDF();
        addPage(source, jpeg, width, height, content);
        addPage(source, jpeg, width, height, content);
        const std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(source).getAllPages();
        writePages(source, pages, folder + "/" + name + "-plain.pdf");
        writePages(source, pages, folder + "/" + name + "-nulls.pdf", {nullptr, nullptr});
        writePages(source, pages, folder + "/" + name + "-layer.pdf", {&upright, &sideways});
    }
    return 0;
}
