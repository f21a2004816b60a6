#include "helper.h"

#include <atomic>
#include <cstdlib>
#include <functional>

#include "budgets.h"
#include "reasons.h"

namespace orvane {

namespace {

std::atomic<std::uint64_t> lastFileId{0};
std::atomic<std::size_t> started{0};
std::atomic<std::size_t> crashed{0};

HelperRequest requestFor(HelperStep step, std::uint64_t file) {
    HelperRequest request;
    request.step = step;
    request.file = file;
    return request;
}

// A page's recognition time. The tests of a recognition that hangs
// (ORVANE_HELPER_TEST_OCR, helper_server.cpp) set a shorter one in
// ORVANE_HELPER_TEST_OCR_SECONDS rather than wait minutes.
double ocrSeconds() {
    if (const char* seconds = std::getenv("ORVANE_HELPER_TEST_OCR_SECONDS")) {
        const double s = std::atof(seconds);
        if (s > 0) return s;
    }
    return kOcrSeconds;
}

}  // namespace

std::uint64_t newFileId() { return ++lastFileId; }
std::size_t helpersStarted() { return started; }
std::size_t helperCrashes() { return crashed; }

HelperEnd Helper::call(const HelperRequest& request, double seconds, std::string& reply) {
    if (!process_.running()) {
        if (!process_.start(ownExecutable(), {kHelperFlag, ownProcessId()})) return HelperEnd::Failed;
        ++started;
    }
    const std::string message = frame(encodeRequest(request));
    const Deadline deadline = std::chrono::steady_clock::now() +
                              std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
    std::uint32_t size = 0;
    ReadEnd got = process_.write(message.data(), message.size()) ? process_.read(&size, sizeof size, deadline)
                                                                  : ReadEnd::Closed;
    if (got == ReadEnd::Done && size > kMaxMessage) got = ReadEnd::Failed;
    if (got == ReadEnd::Done) {
        reply.assign(size, '\0');
        if (size) got = process_.read(&reply[0], size, deadline);
    }
    switch (got) {
    case ReadEnd::Done:
        return HelperEnd::Done;
    case ReadEnd::TimedOut:
        process_.stop(true);
        return HelperEnd::TimedOut;
    case ReadEnd::Failed:
        // The stream is broken, while the helper may run on: it is no use.
        process_.stop(true);
        return HelperEnd::Failed;
    case ReadEnd::Closed:
        break;
    }
    // The helper is gone or going: how it ended tells a crash from a failure.
    if (process_.stop(false) != ChildExit::Crashed) return HelperEnd::Failed;
    ++crashed;
    return HelperEnd::Crashed;
}

HelperEnd Helper::retried(const HelperRequest& request, double seconds, std::string& reply) {
    const bool servedBefore = process_.running();
    HelperEnd end = call(request, seconds, reply);
    if (servedBefore && (end == HelperEnd::Crashed || end == HelperEnd::Failed))
        end = call(request, seconds, reply);
    return end;
}

HelperEnd Helper::ask(const HelperRequest& request, double seconds,
                      const std::function<bool(const std::string&)>& decode) {
    std::string reply;
    const HelperEnd end = retried(request, seconds, reply);
    if (end != HelperEnd::Done) return end;
    return decode(reply) ? end : HelperEnd::Failed;
}

HelperEnd Helper::trial(std::uint64_t file, const std::string& path, std::optional<FileError>& failure,
                       int& pages) {
    HelperRequest request = requestFor(HelperStep::Trial, file);
    request.path = path;
    return ask(request, kReadSeconds, [&](const std::string& reply) { return decodeTrialReply(reply, pages, failure); });
}

HelperEnd Helper::render(std::uint64_t file, const std::string& path, int page, int threshold,
                         const SheetKinds& kinds, bool& drawn, PageLook& look, std::string& code) {
    HelperRequest request = requestFor(HelperStep::Render, file);
    request.page = page;
    request.threshold = threshold;
    request.sheets = kinds;
    request.path = path;
    return ask(request, kRenderSeconds,
               [&](const std::string& reply) { return decodeRenderReply(reply, drawn, look, code); });
}

HelperEnd Helper::readCode(std::uint64_t file, const CodePieces& pieces, std::optional<std::string>& text) {
    HelperRequest request = requestFor(HelperStep::Code, file);
    request.code = pieces;
    return ask(request, kCodeSeconds, [&](const std::string& reply) { return decodeCodeReply(reply, text); });
}

HelperEnd Helper::recognise(std::uint64_t file, const GreyPicture& picture, const std::string& languages,
                            PageText& text) {
    HelperRequest request = requestFor(HelperStep::Ocr, file);
    request.languages = languages;
    request.picture = picture;
    return ask(request, ocrSeconds(), [&](const std::string& reply) { return decodeOcrReply(reply, text); });
}

HelperEnd Helper::recogniseRendered(std::uint64_t file, const std::string& path, int page,
                                    const std::string& languages, PageText& text) {
    HelperRequest request = requestFor(HelperStep::Ocr, file);
    request.page = page;
    request.path = path;
    request.languages = languages;
    return ask(request, ocrSeconds(), [&](const std::string& reply) { return decodeOcrReply(reply, text); });
}

int passTrial(Helper& helper, const std::string& path, std::uint64_t file) {
    std::optional<FileError> failure;
    int pages = 0;
    const HelperEnd end = helper.trial(file, path, failure, pages);
    if (end == HelperEnd::TimedOut) throw FileError(Fault::ReadTooSlow);
    if (end == HelperEnd::Crashed) throw FileError(Fault::TrialCrashed);
    if (end != HelperEnd::Done) throw FileError(Fault::NoHelper);
    if (failure) throw *failure;
    return pages;
}

}  // namespace orvane
