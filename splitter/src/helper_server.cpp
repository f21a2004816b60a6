#include "helper_server.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "budgets.h"
#include "helper_protocol.h"
#include "process.h"
#include "recognise.h"
#include "render.h"
#include "sheet_codes.h"
#include "trial.h"

namespace orvane {

namespace {

// What a helper keeps between requests.
struct Served {
    std::uint64_t file = 0;
    std::unique_ptr<RenderedFile> rendered;  // the current file, once a page of it was rendered
    bool rendererReady = false;
    // A helper that recognises text keeps the language data loaded and
    // needs far more for a page: it has the budget of its own from then on.
    std::size_t memory = kHelperMemory;
};

RenderedFile& renderedFile(Served& served, const std::string& path) {
    if (!served.rendererReady) {
        // Once per helper, when it first renders: most files have no page to
        // render, and their trial need not wait for poppler and the fonts.
        // What the set-up keeps is the helper's, so the file's budget is
        // measured after.
        warmUpRenderer();
        served.rendererReady = true;
        limitOwnMemory(served.memory);
    }
    if (!served.rendered) served.rendered.reset(new RenderedFile(path));
    return *served.rendered;
}

// The tests' way to a recognition that aborts or hangs (tests/splitter):
// ORVANE_HELPER_TEST_OCR is "abort:WORD" or "hang:WORD", for the pages on
// which a recognised word holds WORD (every page when WORD is empty).
void testSwitch(const PageText& text) {
    const char* value = std::getenv("ORVANE_HELPER_TEST_OCR");
    if (!value) return;
    const std::string what(value);
    const std::size_t colon = what.find(':');
    const std::string action = what.substr(0, colon), word = colon == std::string::npos ? "" : what.substr(colon + 1);
    bool found = word.empty();
    for (const TextLine& line : text.lines)
        for (const TextWord& w : line.words) found = found || w.text.find(word) != std::string::npos;
    if (!found) return;
    if (action == "abort") std::abort();
    if (action == "hang")
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

std::string recognised(Served& served, const HelperRequest& request) {
    if (served.memory != kOcrMemory) {
        served.memory = kOcrMemory;
        limitOwnMemory(served.memory);
    }
    GreyPicture rendered;
    if (request.page >= 0 && !renderedFile(served, request.path).greyForText(request.page, rendered))
        return encodeOcrReply(nullptr);
    PageText text;
    if (!recognisePicture(request.page >= 0 ? rendered : request.picture, request.languages, text))
        return encodeOcrReply(nullptr);
    testSwitch(text);
    // A page of noise can come back as more words than any reply may carry:
    // it keeps no text rather than break the pipe.
    std::string reply = encodeOcrReply(&text);
    return reply.size() <= kMaxMessage ? reply : encodeOcrReply(nullptr);
}

// One request after another until the parent goes.
HelperExit serve() {
    Served served;
    limitOwnMemory(served.memory);
    for (;;) {
        std::uint32_t size = 0;
        if (!readFromParent(&size, sizeof size)) return kHelperParentGone;
        if (size > kMaxRequest) return kHelperBroken;
        std::string body(size, '\0');
        if (size && !readFromParent(&body[0], size)) return kHelperParentGone;
        HelperRequest request;
        if (!decodeRequest(body, request)) return kHelperBroken;
        body = std::string();
        if (request.file != served.file) {
            // A new file: what the last one loaded goes, and its budget is
            // measured from here, so a reused helper judges as a fresh one.
            served.rendered.reset();
            served.file = request.file;
            limitOwnMemory(served.memory);
        }
        std::string reply;
        // Torn down at the end of the round, after its reply went: the
        // splitter waits for the verdict, not for this.
        std::unique_ptr<TrialReading> trial;
        try {
            if (request.step == HelperStep::Trial) {
                trial.reset(new TrialReading(request.path));
                reply = encodeTrialReply(trial->pages(), trial->failure());
            } else if (request.step == HelperStep::Code) {
                // The tests' way to a reader that aborts (tests/splitter).
                if (std::getenv("ORVANE_HELPER_TEST_ABORT_CODE")) std::abort();
                reply = encodeCodeReply(readCodePieces(request.code));
            } else if (request.step == HelperStep::Ocr) {
                reply = recognised(served, request);
            } else {
                PageLook look;
                std::string code;
                const bool drawn = renderedFile(served, request.path)
                                       .judge(request.page, request.threshold, request.sheets, look, code);
                reply = encodeRenderReply(drawn, look, code);
            }
        } catch (...) {
            return kHelperBroken;
        }
        const std::string message = frame(reply);
        if (!writeToParent(message.data(), message.size())) return kHelperParentGone;
    }
}

}  // namespace

void serveIfHelper(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], kHelperFlag) != 0) return;
    // No destructors, no atexit handlers on the way out: a helper holds
    // nothing that needs them.
    std::_Exit(becomeHelper(argv[2]) ? serve() : kHelperOrphaned);
}

}  // namespace orvane
