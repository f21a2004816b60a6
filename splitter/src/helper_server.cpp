#include "helper_server.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "budgets.h"
#include "helper_protocol.h"
#include "process.h"
#include "render.h"
#include "sheet_codes.h"
#include "trial.h"

namespace orvane {

namespace {

// One request after another until the parent goes.
HelperExit serve() {
    std::uint64_t currentFile = 0;
    std::unique_ptr<RenderedFile> rendered;
    bool rendererReady = false;
    limitOwnMemory(kHelperMemory);
    for (;;) {
        std::uint32_t size = 0;
        if (!readFromParent(&size, sizeof size)) return kHelperParentGone;
        if (size > kMaxCodeRequest) return kHelperBroken;
        std::string body(size, '\0');
        if (size && !readFromParent(&body[0], size)) return kHelperParentGone;
        HelperRequest request;
        if (!decodeRequest(body, request)) return kHelperBroken;
        if (request.file != currentFile) {
            // A new file: what the last one loaded goes, and its budget is
            // measured from here, so a reused helper judges as a fresh one.
            rendered.reset();
            currentFile = request.file;
            limitOwnMemory(kHelperMemory);
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
            } else {
                if (!rendererReady) {
                    // Once per helper, when it first renders: most files
                    // have no page to render, and their trial need not wait
                    // for poppler and the fonts. What the set-up keeps is
                    // the helper's, so the file's budget is measured after.
                    warmUpRenderer();
                    rendererReady = true;
                    limitOwnMemory(kHelperMemory);
                }
                if (!rendered) rendered.reset(new RenderedFile(request.path));
                PageLook look;
                std::string code;
                const bool drawn = rendered->judge(request.page, request.threshold, request.sheets, look, code);
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
