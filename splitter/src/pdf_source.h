// One source PDF opened for looking at its pages and copying them out.
// An object is used by one thread at a time; threads that share a file each
// open their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFMatrix.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "helper.h"
#include "options.h"
#include "page_kind.h"
#include "page_result.h"
#include "page_text.h"
#include "picture.h"
#include "reasons.h"

namespace orvane {

class SourcePdf {
public:
    // Throws FileError (damaged, encrypted, no pages, over its budget ...).
    // The steps that must not run in the splitter's own process run in
    // `helper`, which must outlive the object. `trialPages` -1: the file is
    // read on trial first; else it has passed its trial already with that
    // many pages, and is read at once (a file whose count has changed since
    // is refused: it is no longer the file the trial read).
    SourcePdf(const std::string& path, Helper& helper, int trialPages = -1);
    ~SourcePdf();
    SourcePdf(const SourcePdf&) = delete;
    SourcePdf& operator=(const SourcePdf&) = delete;

    const std::string& path() const { return path_; }
    int pageCount() const { return static_cast<int>(pages_.size()); }
    // Number of problems qpdf repaired while reading (0 for a sound file).
    std::size_t repairs() const { return qpdf_.numWarnings() - budgetWarnings_; }

    // Judges page `index` (0-based). A page that cannot be judged within its
    // budget comes back unsure and not a separator. Throws FileError when the
    // page cannot be read, or when too many pages of the file ran out of time.
    // Besides coloured sheets, looks for the `kinds` asked; a page that the
    // small picture finds empty may be left for blankCloser (sheets.h).
    PageResult lookAt(int index, int threshold, const SheetKinds& kinds = SheetKinds{});
    // The closer look at a page judged from its JPEG that the small picture
    // found empty: true when it is blank. Throws FileError.
    bool blankCloser(int index, const PageLook& look, bool& unsure);

    // Writes `pages` (0-based, in order, at least one) as a new PDF at
    // outPath; `texts` empty, or one a page: its recognised text, laid over
    // it invisibly (nullptr: none). Throws FileError.
    void writeDocument(const std::vector<int>& pages, const std::string& outPath,
                       const std::vector<const PageText*>& texts = {});

    // Recognises the text of page `index` in `languages` (tesseract's names
    // joined by '+') into `text`, `toPage` included: the page's own picture
    // at its scanned resolution, or the page rendered in the helper. False
    // when the page keeps no text: its recognition timed out, failed or
    // crashed, or its picture is over the limits. A page with nothing to
    // read keeps its (empty) text. Never throws.
    bool recognise(int index, const std::string& languages, PageText& text);

    // The /CreationDate of the document information that the latest
    // trailer names (after incremental updates, the latest one), in UTF-8;
    // empty when there is none.
    std::string creationDate();

private:
    PageResult render(int index, int threshold, const SheetKinds& kinds);
    // What page `index` draws (pageKind, grey pictures included) and, for
    // one plain picture, where; Rendered for content too long to be plain.
    PageKind plainPage(int index, ContentScan& scan);
    bool recogniseRendered(int index, const std::string& languages, PageText& text);
    // Reads the code on a page decoded closer, in the helper, into `result`.
    void readCode(const Picture& picture, PageResult& result);
    // The page's image decoded again, at `dpi` at least.
    Picture closer(QPDFObjectHandle image, const QPDFMatrix& placement, double dpi);
    PageResult overBudget(bool slow);
    static PageResult grey();
    static PageResult blankPage();

    std::string path_;
    std::uint64_t file_;  // its id for the helper
    Helper& helper_;
    QPDF qpdf_;
    std::vector<QPDFPageObjectHelper> pages_;
    int slowPages_ = 0;
    std::size_t budgetWarnings_ = 0;  // qpdf's words on decodings we stopped
    bool inheritedPushed_ = false;
};

}  // namespace orvane
