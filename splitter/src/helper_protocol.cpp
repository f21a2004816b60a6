#include "helper_protocol.h"

#include <cstring>
#include <type_traits>

#include "byte_wire.h"

namespace orvane {

namespace {

static_assert(std::is_trivially_copyable<PageLook>::value, "a PageLook travels as bytes");

// The sheet kinds as one byte, a bit each.
std::uint8_t kindBits(const SheetKinds& k) {
    return static_cast<std::uint8_t>((k.colour ? 1 : 0) | (k.code ? 2 : 0) | (k.black ? 4 : 0) | (k.blank ? 8 : 0) |
                                     (k.pages ? 16 : 0));
}

SheetKinds kindsOf(std::uint8_t bits) {
    SheetKinds k;
    k.colour = bits & 1;
    k.code = bits & 2;
    k.black = bits & 4;
    k.blank = bits & 8;
    k.pages = bits & 16;
    return k;
}

}  // namespace

std::string frame(const std::string& body) {
    std::string out;
    put(out, static_cast<std::uint32_t>(body.size()));
    return out + body;
}

namespace {

void encodeCode(std::string& out, const CodePieces& code) {
    for (int n : {code.width, code.height, static_cast<int>(code.pieces.size())}) put(out, static_cast<std::int32_t>(n));
    for (const CodeBox& b : code.pieces)
        for (int n : {b.x0, b.y0, b.x1, b.y1}) put(out, static_cast<std::int32_t>(n));
    out.append(code.grey.begin(), code.grey.end());
}

bool decodeCode(const std::string& body, std::size_t at, CodePieces& code) {
    code.width = take<std::int32_t>(body, at);
    code.height = take<std::int32_t>(body, at);
    const std::int32_t count = take<std::int32_t>(body, at);
    if (count < 0 || count > 64 || code.width < 0 || code.height < 0 || body.size() > kMaxCodeRequest) return false;
    code.pieces.resize(static_cast<std::size_t>(count));
    for (CodeBox& b : code.pieces)
        for (int* n : {&b.x0, &b.y0, &b.x1, &b.y1}) *n = take<std::int32_t>(body, at);
    if (at > body.size() || body.size() - at != static_cast<std::uint64_t>(code.width) * static_cast<std::uint64_t>(code.height)) return false;
    code.grey.assign(body.begin() + static_cast<std::ptrdiff_t>(at), body.end());
    return true;
}

void encodeOcr(std::string& out, const HelperRequest& request) {
    put(out, static_cast<std::uint32_t>(request.languages.size()));
    out += request.languages;
    if (request.page >= 0) {
        out += request.path;
        return;
    }
    const GreyPicture& picture = request.picture;
    put(out, static_cast<std::int32_t>(picture.width));
    put(out, static_cast<std::int32_t>(picture.height));
    put(out, picture.dpi);
    out.append(picture.grey.begin(), picture.grey.end());
}

bool decodeOcr(const std::string& body, std::size_t at, HelperRequest& request) {
    const std::uint32_t size = take<std::uint32_t>(body, at);
    if (at > body.size() || size > body.size() - at || body.size() > kMaxOcrRequest) return false;
    request.languages = body.substr(at, size);
    at += size;
    if (request.page >= 0) {
        request.path = body.substr(at);
        return body.size() <= kMaxMessage;
    }
    GreyPicture& picture = request.picture;
    picture.width = take<std::int32_t>(body, at);
    picture.height = take<std::int32_t>(body, at);
    picture.dpi = take<double>(body, at);
    if (at > body.size() || picture.width <= 0 || picture.height <= 0) return false;
    const std::uint64_t pixels = static_cast<std::uint64_t>(picture.width) * static_cast<std::uint64_t>(picture.height);
    if (pixels > kMaxOcrPixels || body.size() - at != pixels) return false;
    picture.grey.assign(body.begin() + static_cast<std::ptrdiff_t>(at), body.end());
    return true;
}

}  // namespace

std::string encodeRequest(const HelperRequest& request) {
    std::string out(1, static_cast<char>(request.step));
    put(out, request.file);
    put(out, request.page);
    put(out, request.threshold);
    put(out, kindBits(request.sheets));
    if (request.step == HelperStep::Code)
        encodeCode(out, request.code);
    else if (request.step == HelperStep::Ocr)
        encodeOcr(out, request);
    else
        out += request.path;
    return out;
}

bool decodeRequest(const std::string& body, HelperRequest& request) {
    std::size_t at = 1;
    request.file = take<std::uint64_t>(body, at);
    request.page = take<std::int32_t>(body, at);
    request.threshold = take<std::int32_t>(body, at);
    request.sheets = kindsOf(take<std::uint8_t>(body, at));
    if (body.empty() || at > body.size()) return false;
    request.step = static_cast<HelperStep>(body[0]);
    if (request.step == HelperStep::Code) return decodeCode(body, at, request.code);
    if (request.step == HelperStep::Ocr) return decodeOcr(body, at, request);
    request.path = body.substr(at);
    return body.size() <= kMaxMessage;
}

std::string encodeTrialReply(int pages, const FileError* failure) {
    std::string out;
    put(out, static_cast<std::int32_t>(pages));
    if (failure == nullptr) return out;
    const Details& d = failure->details();
    put(out, static_cast<std::int32_t>(failure->fault()));
    for (long long n : {d.first, d.last, d.found, d.listed}) put(out, static_cast<std::int64_t>(n));
    put(out, static_cast<std::uint8_t>(d.counted));
    return out + d.words;
}

bool decodeTrialReply(const std::string& body, int& pages, std::optional<FileError>& failure) {
    std::size_t at = 0;
    pages = take<std::int32_t>(body, at);
    failure.reset();
    if (at >= body.size()) return at == body.size();
    const std::int32_t fault = take<std::int32_t>(body, at);
    Details d;
    for (long long* n : {&d.first, &d.last, &d.found, &d.listed}) *n = take<std::int64_t>(body, at);
    d.counted = take<std::uint8_t>(body, at) != 0;
    if (at > body.size() || fault < 0 || fault >= kFaults) return false;
    d.words = body.substr(at);
    failure.emplace(static_cast<Fault>(fault), d);
    return true;
}

std::string encodeRenderReply(bool drawn, const PageLook& look, const std::string& code) {
    std::string out(1, static_cast<char>(drawn));
    put(out, look);
    return out + code;
}

bool decodeRenderReply(const std::string& body, bool& drawn, PageLook& look, std::string& code) {
    if (body.size() < 1 + sizeof look) return false;
    drawn = body[0] != 0;
    std::memcpy(&look, body.data() + 1, sizeof look);
    code = body.substr(1 + sizeof look);
    return true;
}

std::string encodeCodeReply(const std::optional<std::string>& text) {
    return std::string(1, static_cast<char>(text.has_value())) + text.value_or(std::string());
}

bool decodeCodeReply(const std::string& body, std::optional<std::string>& text) {
    if (body.empty()) return false;
    text.reset();
    if (body[0]) text = body.substr(1);
    return true;
}

std::string encodeOcrReply(const PageText* text) { return text ? encodePageText(*text) : std::string(); }

bool decodeOcrReply(const std::string& body, PageText& text) { return decodePageText(body, text); }

}  // namespace orvane
