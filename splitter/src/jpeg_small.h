// Decodes a baseline or progressive JPEG at reduced size using the DCT
// scaling of libjpeg(-turbo): at 1/8 scale only the DC coefficient of every
// 8x8 block is used, so no inverse transform runs and the picture costs a
// small fraction of a full decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>

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
    // Asked, before begin(), of a one-component (grey) image: true to have it
    // decoded too, as rows whose R, G and B are equal; otherwise it is told
    // Grey without decoding.
    virtual bool decodeGrey() { return false; }
    // True for rows read as text (recognition): decoded as exactly as
    // libjpeg can (its accurate transform, smooth chroma upsampling) rather
    // than as fast as it can.
    virtual bool faithful() const { return false; }
};

// Decodes a JPEG whose data arrives in pieces, as a PDF library reads a
// stream from the file, and stops taking data as soon as `rows` has what it
// needs: a page settled near its top costs the reading of that part only.
// Picks the largest DCT reduction (1/8, 1/4, 1/2) that keeps the longer side
// at least `minLongSide` pixels. Throws JpegError on data that libjpeg
// refuses.
class JpegRowsDecoder {
public:
    explicit JpegRowsDecoder(JpegRows& rows, int minLongSide = 96);
    ~JpegRowsDecoder();
    JpegRowsDecoder(const JpegRowsDecoder&) = delete;
    JpegRowsDecoder& operator=(const JpegRowsDecoder&) = delete;

    // The next piece of the data; false once no more is wanted.
    bool feed(const std::uint8_t* data, std::size_t size);
    // The end of the data: decodes what is still wanted (a picture cut
    // short is filled with grey below, as any viewer shows it) and tells
    // what the image was.
    JpegKind finish();

    struct State;

private:
    std::unique_ptr<State> state_;
};

// The same for data held whole in memory.
JpegKind decodeJpegRows(const std::uint8_t* data, std::size_t size, JpegRows& rows,
                        int minLongSide = 96);

}  // namespace orvane
