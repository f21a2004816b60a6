// What the splitter and its helper processes say to each other over the
// helper's pipe, and the helper's exit statuses. Both ends are one
// executable, so numbers travel in native order.
//
// Each message is a 4-byte length and that many bytes. A request is its
// kind ('T' the trial reading, 'R' rendering a page, 'C' reading the code on
// a page judged from its JPEG, 'O' recognising a page's text), the file's id
// (8 bytes), the page and the threshold (4 bytes each), the sheet kinds asked
// (1 byte) and the file's path, or for 'C' the code's pieces (the area's
// width and height, the count of pieces, 4 bytes each; each piece's four
// sides, 4 bytes each; the grey); for 'O' the languages (their length, 4
// bytes, and the names), then for a page to render (page 0 or more) the
// file's path, else the picture (its width and height, 4 bytes each, its
// dpi, 8 bytes, the grey);
// the reply to a trial is the file's page count (4 bytes), then, only when the
// file cannot be split, its reason as data (the Fault, 4 bytes; the Details'
// four numbers, 8 bytes each; `counted`, 1 byte; the library's words), so
// that the worker's side words it as any other reason; to a rendering one
// byte (drawn or not), the page's PageLook and a code sheet's text; to a
// code reading one byte (a sheet's code found or not) and its text; to a
// recognition the page's text (encodePageText), or nothing when it failed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "budgets.h"
#include "detect.h"
#include "options.h"
#include "page_text.h"
#include "picture.h"
#include "reasons.h"
#include "sheet_codes.h"

namespace orvane {

// The command-line flag of helper mode; the parent's process id follows it.
constexpr const char* kHelperFlag = "--orvane-helper";
// No request or reply comes near this: a longer length is a broken stream.
constexpr std::uint32_t kMaxMessage = 1 << 20;
// A code reading's request alone may be longer: it carries the grey of a page
// decoded closer, at most one byte a pixel of a closer picture.
constexpr std::uint32_t kMaxCodeRequest = kMaxMessage + static_cast<std::uint32_t>(kCloserMaxPixels);
// And a recognition's, which may carry a page's own picture in grey.
constexpr std::uint32_t kMaxOcrRequest = kMaxMessage + static_cast<std::uint32_t>(kMaxOcrPixels);
constexpr std::uint32_t kMaxRequest = kMaxOcrRequest > kMaxCodeRequest ? kMaxOcrRequest : kMaxCodeRequest;

// How a helper ends itself. The parent tells a crash from these by the
// signal (or, on Windows, the fault's status), never by the number.
enum HelperExit : int {
    kHelperParentGone = 0,  // the parent closed the pipe: the usual end
    kHelperBroken = 3,      // a request it cannot read, or a step that threw past its reply
    kHelperOrphaned = 4,    // the parent was gone before the helper began
};

enum class HelperStep : char { Trial = 'T', Render = 'R', Code = 'C', Ocr = 'O' };

struct HelperRequest {
    HelperStep step = HelperStep::Trial;
    std::uint64_t file = 0;  // newFileId: a helper measures each file's budget afresh
    std::int32_t page = -1;  // 0-based; -1 for a trial, and for a recognition of `picture`
    std::int32_t threshold = 0;
    SheetKinds sheets;
    std::string path;       // not for a code reading, nor a recognition of `picture`
    CodePieces code;        // a code reading's
    std::string languages;  // a recognition's
    GreyPicture picture;    // a recognition's, unless it renders page `page`
};

// The length prefix and the body.
std::string frame(const std::string& body);

std::string encodeRequest(const HelperRequest& request);
// False when the body is no request, or longer than its kind may be.
bool decodeRequest(const std::string& body, HelperRequest& request);

std::string encodeTrialReply(int pages, const FileError* failure);
bool decodeTrialReply(const std::string& body, int& pages, std::optional<FileError>& failure);

std::string encodeRenderReply(bool drawn, const PageLook& look, const std::string& code);
bool decodeRenderReply(const std::string& body, bool& drawn, PageLook& look, std::string& code);

std::string encodeCodeReply(const std::optional<std::string>& text);
bool decodeCodeReply(const std::string& body, std::optional<std::string>& text);

// A recognition's reply: the text, or nothing when recognition failed.
std::string encodeOcrReply(const PageText* text);
bool decodeOcrReply(const std::string& body, PageText& text);

}  // namespace orvane
