// Decodes a baseline or progressive JPEG at reduced size using the DCT
// scaling of libjpeg(-turbo): at 1/8 scale only the DC coefficient of every
// 8x8 block is used, so no inverse transform runs and the picture costs a
// small fraction of a full decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace orvane {

enum class JpegKind {
    Colour,       // decoded
    Grey,         // one component: cannot be a coloured sheet, not decoded
    Unsupported,  // CMYK / YCCK and other layouts: let the renderer judge
    OverBudget,   // declared too large, too many scans or too much memory: not judged
};

// What one decoding may cost: declared pixels (checked from the header,
// before decoding), libjpeg's working memory (a progressive image keeps all
// its coefficients, 2 bytes a sample, whatever the scale) and the number of
// scans (each one a pass over the data).
constexpr double kJpegMaxPixels = 200e6;
constexpr long kJpegMaxMemory = 64L << 20;
constexpr int kJpegMaxScans = 500;

struct JpegError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Receives the decoded rows, top to bottom, packed R,G,B.
class JpegRows {
public:
    virtual ~JpegRows() = default;
    // The reduced size; returns how many rows from the top are wanted.
    virtual int begin(int width, int height) = 0;
    // Row y; returning false stops the decoding there.
    virtual bool row(int y, const std::uint8_t* rgb) = 0;
};

// Picks the largest DCT reduction (1/8, 1/4, 1/2) that keeps the longer
// side at least `minLongSide` pixels and hands the rows to `rows`. Throws
// JpegError on data that libjpeg refuses.
JpegKind decodeJpegRows(const std::uint8_t* data, std::size_t size, JpegRows& rows,
                        int minLongSide = 96);

struct SmallPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // packed R,G,B, width*3 bytes per row
};

// The whole reduced picture.
JpegKind decodeJpegSmall(const std::uint8_t* data, std::size_t size, SmallPicture& out,
                         int minLongSide = 96);

}  // namespace orvane
