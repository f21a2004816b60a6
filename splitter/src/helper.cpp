#include "helper.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

#include "budgets.h"
#include "render.h"
#include "trial.h"

namespace orvane {

namespace {

constexpr const char* kHelperFlag = "--orvane-helper";
// No request or reply comes near this: a longer length is a broken stream.
constexpr std::uint32_t kMaxMessage = 1 << 20;

static_assert(std::is_trivially_copyable<PageLook>::value, "a PageLook travels as bytes");

std::atomic<std::uint64_t> lastFileId{0};
std::atomic<std::size_t> started{0};
std::atomic<std::size_t> crashed{0};

template <typename T>
void put(std::string& out, const T& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T>
T take(const std::string& in, std::size_t& at) {
    T value{};
    if (at + sizeof value <= in.size()) std::memcpy(&value, in.data() + at, sizeof value);
    at += sizeof value;
    return value;
}

std::string frame(const std::string& body) {
    std::string out;
    put(out, static_cast<std::uint32_t>(body.size()));
    return out + body;
}

// The helper's side: one request after another until the parent goes.
int serve() {
    std::uint64_t currentFile = 0;
    std::unique_ptr<RenderedFile> rendered;
    bool rendererReady = false;
    limitOwnMemory(kHelperMemory);
    for (;;) {
        std::uint32_t size = 0;
        if (!readFromParent(&size, sizeof size)) return 0;
        if (size > kMaxMessage) return 3;
        std::string request(size, '\0');
        if (size && !readFromParent(&request[0], size)) return 0;
        std::size_t at = 1;
        const auto file = take<std::uint64_t>(request, at);
        const auto page = take<std::int32_t>(request, at);
        const auto threshold = take<std::int32_t>(request, at);
        if (request.empty() || at > request.size()) return 3;
        const std::string path = request.substr(at);
        if (file != currentFile) {
            // A new file: what the last one loaded goes, and its budget is
            // measured from here, so a reused helper judges as a fresh one.
            rendered.reset();
            currentFile = file;
            limitOwnMemory(kHelperMemory);
        }
        std::string reply;
        // Torn down at the end of the round, after its reply went: the
        // splitter waits for the verdict, not for this.
        std::unique_ptr<TrialReading> trial;
        try {
            if (request[0] == 'T') {
                trial.reset(new TrialReading(path));
                put(reply, static_cast<std::int32_t>(trial->pages()));
                reply += trial->reason();
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
                if (!rendered) rendered.reset(new RenderedFile(path));
                PageLook look;
                const bool drawn = rendered->judge(page, threshold, look);
                put(reply, static_cast<char>(drawn));
                put(reply, look);
            }
        } catch (...) {
            return 3;
        }
        if (!writeToParent(frame(reply).data(), sizeof(std::uint32_t) + reply.size())) return 0;
    }
}

}  // namespace

std::uint64_t newFileId() { return ++lastFileId; }
std::size_t helpersStarted() { return started; }
std::size_t helperCrashes() { return crashed; }

void serveIfHelper(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], kHelperFlag) != 0) return;
    // No destructors, no atexit handlers on the way out: a helper holds
    // nothing that needs them.
    std::_Exit(becomeHelper(argv[2]) ? serve() : 4);
}

HelperEnd Helper::call(char kind, std::uint64_t file, const std::string& path, int page, int threshold,
                       double seconds, std::string& reply) {
    if (!process_.running()) {
        if (!process_.start(ownExecutable(), {kHelperFlag, ownProcessId()})) return HelperEnd::Failed;
        ++started;
    }
    std::string request(1, kind);
    put(request, file);
    put(request, static_cast<std::int32_t>(page));
    put(request, static_cast<std::int32_t>(threshold));
    request += path;
    const std::string message = frame(request);
    const Deadline deadline = std::chrono::steady_clock::now() +
                              std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
    std::uint32_t size = 0;
    int got = process_.write(message.data(), message.size()) ? process_.read(&size, sizeof size, deadline) : 0;
    if (got == 1 && size > kMaxMessage) {
        process_.stop(true);
        return HelperEnd::Failed;
    }
    if (got == 1) {
        reply.assign(size, '\0');
        if (size) got = process_.read(&reply[0], size, deadline);
    }
    if (got == 1) return HelperEnd::Done;
    if (got < 0) {
        process_.stop(true);
        return HelperEnd::TimedOut;
    }
    // The helper is gone or going: how it ended tells a crash from a failure.
    if (process_.stop(false) != ChildExit::Crashed) return HelperEnd::Failed;
    ++crashed;
    return HelperEnd::Crashed;
}

HelperEnd Helper::trial(std::uint64_t file, const std::string& path, std::string& reason, int& pages) {
    std::string reply;
    const HelperEnd end = call('T', file, path, -1, 0, kReadSeconds, reply);
    if (end != HelperEnd::Done) return end;
    std::size_t at = 0;
    pages = take<std::int32_t>(reply, at);
    if (at > reply.size()) return HelperEnd::Failed;
    reason = reply.substr(at);
    return end;
}

HelperEnd Helper::render(std::uint64_t file, const std::string& path, int page, int threshold, bool& drawn,
                         PageLook& look) {
    std::string reply;
    const HelperEnd end = call('R', file, path, page, threshold, kRenderSeconds, reply);
    if (end != HelperEnd::Done) return end;
    if (reply.size() != 1 + sizeof look) return HelperEnd::Failed;
    drawn = reply[0] != 0;
    std::memcpy(&look, reply.data() + 1, sizeof look);
    return end;
}

}  // namespace orvane
