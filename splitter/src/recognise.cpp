// Tesseract 5 as the helper uses it: the LSTM engine, automatic page
// segmentation (with orientation and script detection when osd is there),
// pixels fed from memory, nothing printed and no file written. A build
// without tesseract (a Windows build whose libraries lack it) finds no text.
#include "recognise.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

#include "environment.h"
#include "path_text.h"
#include "process.h"

#ifndef ORVANE_NO_OCR
#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>
#endif

namespace orvane {

namespace {

bool isFolder(const std::string& folder) {
    std::error_code error;
    return std::filesystem::is_directory(textPath(folder), error);
}

bool isFile(const std::string& file) {
    std::error_code error;
    return std::filesystem::is_regular_file(textPath(file), error);
}

std::string dataFile(const std::string& folder, const std::string& name) {
    return pathText(textPath(folder) / textPath(name + ".traineddata"));
}

}  // namespace

std::string tessdataFolder() {
    std::vector<std::string> folders{pathText(textPath(ownExecutable()).parent_path() / "tessdata")};
    if (std::optional<std::string> prefix = environment_utf8("TESSDATA_PREFIX"))
        if (!prefix->empty()) folders.push_back(*prefix);
    folders.push_back("/usr/share/tesseract-ocr/5/tessdata");
    for (const std::string& folder : folders)
        if (isFolder(folder)) return folder;
    return folders.back();
}

bool languageInstalled(const std::string& name, std::string& folderLookedIn) {
    folderLookedIn = tessdataFolder();
    return isFile(dataFile(folderLookedIn, name));
}

#ifdef ORVANE_NO_OCR

bool recognisePicture(const GreyPicture&, const std::string&, PageText&) { return false; }

#else

namespace {

// Tesseract's data files read over their UTF-8 names (on Windows, fopen of a
// Chinese folder's name would go through the ANSI code page).
bool readDataFile(const char* name, std::vector<char>* data) {
    std::ifstream in(textPath(name), std::ios::binary);
    if (!in) return false;
    data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The helper's tesseract, for the languages it was last set up with.
struct Engine {
    std::unique_ptr<tesseract::TessBaseAPI> api;
    std::string languages;
};

Engine& engine() {
    static Engine e;
    return e;
}

tesseract::TessBaseAPI* engineFor(const std::string& languages) {
    Engine& e = engine();
    if (e.api && e.languages == languages) return e.api.get();
    e.api.reset();
    setMsgSeverity(L_SEVERITY_NONE);
    std::unique_ptr<tesseract::TessBaseAPI> api(new tesseract::TessBaseAPI);
    // Tesseract's messages (its own "debug" output, warnings on the page)
    // go nowhere: a helper's standard error is the splitter's.
    api->SetVariable("debug_file", "/dev/null");
    const std::string folder = tessdataFolder();
    if (api->Init(folder.c_str(), 0, languages.c_str(), tesseract::OEM_LSTM_ONLY, nullptr, 0, nullptr, nullptr,
                  false, readDataFile) != 0)
        return nullptr;
    api->SetPageSegMode(isFile(dataFile(folder, "osd")) ? tesseract::PSM_AUTO_OSD : tesseract::PSM_AUTO);
    e.api = std::move(api);
    e.languages = languages;
    return e.api.get();
}

TextBox boxAt(const tesseract::PageIterator& it, tesseract::PageIteratorLevel level) {
    TextBox box;
    it.BoundingBox(level, &box.left, &box.top, &box.right, &box.bottom);
    return box;
}

// Tesseract's orientation of a block and TextTurn name the same four ways
// the top of the letters can point, in the same order.
TextTurn turnAt(const tesseract::PageIterator& it) {
    tesseract::Orientation orientation = tesseract::ORIENTATION_PAGE_UP;
    tesseract::WritingDirection direction;
    tesseract::TextlineOrder order;
    float deskew = 0;
    it.Orientation(&orientation, &direction, &order, &deskew);
    return static_cast<TextTurn>(static_cast<int>(orientation) & 3);
}

// The words of the recognised page, line by line, in reading order; lines
// without a word are left out.
void collectLines(tesseract::ResultIterator& it, std::vector<TextLine>& lines) {
    const auto word = tesseract::RIL_WORD, line = tesseract::RIL_TEXTLINE;
    bool newLine = true;
    do {
        if (it.IsAtBeginningOf(line)) newLine = true;
        if (it.Empty(word)) continue;
        if (newLine) {
            if (lines.empty() || !lines.back().words.empty()) lines.emplace_back();
            lines.back().box = boxAt(it, line);
            lines.back().turn = turnAt(it);
            newLine = false;
        }
        std::unique_ptr<char[]> text(it.GetUTF8Text(word));
        if (text && text[0] != '\0') lines.back().words.push_back(TextWord{text.get(), boxAt(it, word)});
    } while (it.Next(word));
    if (!lines.empty() && lines.back().words.empty()) lines.pop_back();
}

}  // namespace

bool recognisePicture(const GreyPicture& picture, const std::string& languages, PageText& text) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.grey.size() != static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height))
        return false;
    tesseract::TessBaseAPI* api = engineFor(languages);
    if (!api) return false;
    api->SetImage(picture.grey.data(), picture.width, picture.height, 1, picture.width);
    if (picture.dpi > 0) api->SetSourceResolution(static_cast<int>(picture.dpi + 0.5));
    text.width = picture.width;
    text.height = picture.height;
    text.lines.clear();
    bool recognised = api->Recognize(nullptr) == 0;
    if (recognised) {
        std::unique_ptr<tesseract::ResultIterator> it(api->GetIterator());
        if (it) collectLines(*it, text.lines);
    }
    // The page's results go; the languages stay loaded for the next page.
    api->Clear();
    return recognised;
}

#endif

}  // namespace orvane
