// The splitter's helper processes. The steps that hostile input can make
// crash, hang or take memory without end (the trial reading of a file,
// rendering a page with poppler, reading its barcodes with zxing-cpp) run in
// a helper: the splitter's own executable started again in helper mode,
// which serves one request at a time over a pipe. A helper is started when a worker first needs one, kept
// across files (its libraries and fonts set up once), and replaced after
// any fault; the splitter keeps the clock of every step and ends a helper
// that overruns it.
//
// The protocol is in helper_protocol.h, the helper's side in helper_server.h;
// this is the worker's side.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "detect.h"
#include "helper_protocol.h"
#include "page_text.h"
#include "picture.h"
#include "process.h"

namespace orvane {

enum class HelperEnd {
    Done,      // the step finished and its reply came back
    Failed,    // the step failed, or no helper could be started
    TimedOut,  // still running after its time limit: the helper was ended
    Crashed,   // the helper ended by a signal (a crash, or out of memory)
};

// A worker's helper. One thread at a time.
class Helper {
public:
    // A step that fails or crashes in a helper that has served before gets
    // one more try in a fresh one: the helper may have been ended from
    // outside, by a fault of its own, or have spent its memory on earlier
    // work.
    //
    // Reads the file at `path` on trial within its budget; `failure` is why
    // it cannot be split, empty when it passed (with `pages` its page
    // count). `file` is the file's id (newFileId): a helper measures each
    // file's memory budget afresh.
    HelperEnd trial(std::uint64_t file, const std::string& path, std::optional<FileError>& failure, int& pages);
    // Renders page `page` (0-based) and judges it for the `kinds` asked (a
    // code sheet's text into `code`); `drawn` false when poppler cannot
    // draw it.
    HelperEnd render(std::uint64_t file, const std::string& path, int page, int threshold, const SheetKinds& kinds,
                     bool& drawn, PageLook& look, std::string& code);

    // Reads the code sheet's text among `pieces` (codePieces) of a page of
    // file `file`, within kCodeSeconds; `text` empty when there is none.
    HelperEnd readCode(std::uint64_t file, const CodePieces& pieces, std::optional<std::string>& text);

    // A page's picture, grey, recognised in the helper within kOcrSeconds
    // with `languages` (tesseract's names joined by '+'): `text` gets the
    // picture's size and its lines (its toPage is the caller's).
    HelperEnd recognise(std::uint64_t file, const GreyPicture& picture, const std::string& languages, PageText& text);
    // Page `page` (0-based) of the file at `path` rendered at kOcrDpi (300)
    // in the helper and recognised, as above. The picture is the page's crop
    // box turned as its /Rotate says; a page too large for kMaxOcrPixels at
    // kOcrDpi is rendered at less, so `text`'s width and height tell the
    // scale.
    HelperEnd recogniseRendered(std::uint64_t file, const std::string& path, int page, const std::string& languages,
                                PageText& text);

private:
    // The request sent (retried as above) and its reply decoded: Failed when
    // `decode` cannot read it.
    HelperEnd ask(const HelperRequest& request, double seconds, const std::function<bool(const std::string&)>& decode);
    HelperEnd retried(const HelperRequest& request, double seconds, std::string& reply);
    HelperEnd call(const HelperRequest& request, double seconds, std::string& reply);

    ChildProcess process_;
};

// Has `helper` read the file at `path` on trial (see trial.h), as file
// `file` (newFileId), and returns its page count. Throws FileError when the
// file does not pass.
int passTrial(Helper& helper, const std::string& path, std::uint64_t file);

// A fresh id for a file opened in the splitter.
std::uint64_t newFileId();
// Helpers started so far, and those that ended by a crash (a crash in qpdf
// or poppler that the isolation caught).
std::size_t helpersStarted();
std::size_t helperCrashes();

}  // namespace orvane
