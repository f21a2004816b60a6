#include "helper_protocol.h"

#include <cstring>
#include <type_traits>

namespace orvane {

namespace {

static_assert(std::is_trivially_copyable<PageLook>::value, "a PageLook travels as bytes");

template <typename T>
void put(std::string& out, const T& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// The value at `at`, which moves past it; past the end, `at` ends beyond the
// body and the value is zero.
template <typename T>
T take(const std::string& in, std::size_t& at) {
    T value{};
    if (at + sizeof value <= in.size()) std::memcpy(&value, in.data() + at, sizeof value);
    at += sizeof value;
    return value;
}

}  // namespace

std::string frame(const std::string& body) {
    std::string out;
    put(out, static_cast<std::uint32_t>(body.size()));
    return out + body;
}

std::string encodeRequest(const HelperRequest& request) {
    std::string out(1, static_cast<char>(request.step));
    put(out, request.file);
    put(out, request.page);
    put(out, request.threshold);
    return out + request.path;
}

bool decodeRequest(const std::string& body, HelperRequest& request) {
    std::size_t at = 1;
    request.file = take<std::uint64_t>(body, at);
    request.page = take<std::int32_t>(body, at);
    request.threshold = take<std::int32_t>(body, at);
    if (body.empty() || at > body.size()) return false;
    request.step = static_cast<HelperStep>(body[0]);
    request.path = body.substr(at);
    return true;
}

std::string encodeTrialReply(int pages, const std::string& reason) {
    std::string out;
    put(out, static_cast<std::int32_t>(pages));
    return out + reason;
}

bool decodeTrialReply(const std::string& body, int& pages, std::string& reason) {
    std::size_t at = 0;
    pages = take<std::int32_t>(body, at);
    if (at > body.size()) return false;
    reason = body.substr(at);
    return true;
}

std::string encodeRenderReply(bool drawn, const PageLook& look) {
    std::string out(1, static_cast<char>(drawn));
    put(out, look);
    return out;
}

bool decodeRenderReply(const std::string& body, bool& drawn, PageLook& look) {
    if (body.size() != 1 + sizeof look) return false;
    drawn = body[0] != 0;
    std::memcpy(&look, body.data() + 1, sizeof look);
    return true;
}

}  // namespace orvane
