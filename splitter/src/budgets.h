// What one file and one page may cost at most (splitter/README.md, "Limits").
// The steps that hostile input can make crash, hang or eat memory (reading
// a file's structure on trial, rendering a page, reading a page's barcodes)
// run in a helper process
// (helper.h) within these budgets; the rest is bounded in the splitter.
#pragma once

#include <cstddef>
#include <string>

namespace orvane {

// Reading a file's structure on trial, in a helper.
constexpr double kReadSeconds = 30.0;

#if defined(__SANITIZE_ADDRESS__)  // gcc
#define ORVANE_ASAN 1
#elif defined(__has_feature)  // clang
#if __has_feature(address_sanitizer)
#define ORVANE_ASAN 1
#endif
#endif
#ifdef ORVANE_ASAN
// AddressSanitizer keeps freed memory in quarantine (256 MB by default) and
// adds its own bookkeeping: the memory budgets are its and ours.
constexpr std::size_t kSanitizerMemory = std::size_t(1536) << 20;
#else
constexpr std::size_t kSanitizerMemory = 0;
#endif
// Memory a helper may take for one file beyond what it used when the file
// began (its libraries, what earlier files left behind).
constexpr std::size_t kHelperMemory = (std::size_t(160) << 20) + kSanitizerMemory;

constexpr std::size_t kMaxPages = 50000;
constexpr int kMaxTreeDepth = 64;

// Rendering one page, in a helper.
constexpr double kRenderSeconds = 10.0;
// A file in which this many pages run out of render time is not split: it
// would cost minutes per page.
constexpr int kMaxSlowPages = 3;

// A plain scanned page's content is a few dozen bytes; longer content is
// rendered (in a helper) instead of being decoded in the splitter.
constexpr std::size_t kMaxPlainContent = 64 * 1024;
// The page image judged from its JPEG data: declared pixels and raw bytes.
constexpr double kMaxImagePixels = 200e6;
constexpr long long kMaxImageBytes = 256LL << 20;
// Reading the barcodes of a page judged from its JPEG, in a helper: a code
// sheet takes tens of milliseconds; a page that takes this long is no sheet
// (and is named for checking).
constexpr double kCodeSeconds = 5.0;

// A page decoded or rendered again, closer, for its code or its emptiness:
// pixels at most (a larger picture is not looked at closer).
constexpr double kCloserMaxPixels = 12e6;

// Recognising one page's text, in a helper. The text is recognised on the
// page's own picture, or on the page rendered at kOcrDpi; a picture larger
// than kMaxOcrPixels is decoded (or rendered) smaller until it fits.
constexpr double kOcrSeconds = 120.0;
constexpr double kOcrDpi = 300.0;
constexpr double kMaxOcrPixels = 40e6;
// The memory of a helper that recognises, in place of kHelperMemory: its
// language data stays loaded across files, and a page takes far more than a
// rendering. Measured with chi_sim+eng: a dense A4 page at 300 dpi peaks at
// about 160 MB (the data included), a page of kMaxOcrPixels at about 310 MB.
constexpr std::size_t kOcrMemory = (std::size_t(512) << 20) + kSanitizerMemory;

// Copying a page nests one call per object it enters (about 160 bytes of
// stack each in qpdf 11.3, measured on chains of arrays, dictionaries and
// forms), so never deeper than the number of objects it would enter as a
// document's first page: as a later page it enters only part of them. A page
// entering at most this many needs at most about 1.6 MB of stack, a fifth of
// a thread's usual 8 MB.
constexpr std::size_t kSafeCopyObjects = 10000;

inline std::string mib(std::size_t bytes) { return std::to_string(bytes >> 20) + " MB"; }

}  // namespace orvane
